#include "platform/win32/win32.h"
#include "platform/win32/win32_ports.h"

namespace platform::win32 {

Handle Win32Events::Create() {
  return CreateEventA(nullptr, TRUE, FALSE, nullptr);  // manual reset, unsignalled
}

void Win32Events::Wait(Handle event) {
  if (event) WaitForSingleObject(event, INFINITE);
}

void Win32Events::Signal(Handle event) {
  if (event) SetEvent(event);
}

void Win32Events::Close(Handle event) {
  if (event) CloseHandle(event);
}

}  // namespace platform::win32
