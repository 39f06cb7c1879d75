#include "platform/win32/win32.h"
#include "platform/win32/win32_ports.h"

namespace platform::win32 {

void Win32StatusPost::Post(void* window, std::uint32_t message, std::uintptr_t wParam,
                           std::intptr_t lParam) {
  // A post to a window that is gone fails, and is meant to be dropped.
  PostMessageA(static_cast<HWND>(window), message, static_cast<WPARAM>(wParam),
               static_cast<LPARAM>(lParam));
}

}  // namespace platform::win32
