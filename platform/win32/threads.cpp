#include <new>

#include "platform/win32/win32.h"
#include "platform/win32/win32_ports.h"

namespace platform::win32 {
namespace {

struct ThreadStart {
  void (*entry)(void*);
  void* argument;
};

DWORD WINAPI RunThread(LPVOID parameter) {
  const ThreadStart start = *static_cast<ThreadStart*>(parameter);
  delete static_cast<ThreadStart*>(parameter);
  start.entry(start.argument);
  return 0;
}

}  // namespace

bool Win32Threads::Start(void (*entry)(void*), void* argument, std::size_t stackBytes) {
  if (!entry) return false;
  auto* start = new (std::nothrow) ThreadStart{entry, argument};
  if (!start) return false;
  DWORD id = 0;  // 95/98/Me fail CreateThread without a place for the id
  HANDLE thread = CreateThread(nullptr, static_cast<SIZE_T>(stackBytes), RunThread, start, 0, &id);
  if (!thread) {
    delete start;
    return false;
  }
  CloseHandle(thread);  // the thread runs detached
  return true;
}

}  // namespace platform::win32
