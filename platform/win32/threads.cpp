#include <new>

#include "platform/win32/win32.h"
#include "platform/win32/win32_ports.h"

namespace platform::win32 {
namespace {

struct ThreadStart {
  void (*entry)(void*);
  void* argument;
  HMODULE module;  // a reference of the thread's own, or null
};

// A reference to the module that holds this code, so that a host that unloads the library
// while a thread is still on its way out of it does not pull the code from under it.
HMODULE ReferenceOwnModule() {
  HMODULE module = ModuleOfThisCode();
  char path[MAX_PATH] = {};
  if (!module || GetModuleFileNameA(module, path, MAX_PATH) == 0) return nullptr;
  return LoadLibraryA(path);
}

DWORD WINAPI RunThread(LPVOID parameter) {
  const ThreadStart start = *static_cast<ThreadStart*>(parameter);
  delete static_cast<ThreadStart*>(parameter);
  start.entry(start.argument);
  // Drops the thread's reference and ends the thread without returning into the module.
  if (start.module) FreeLibraryAndExitThread(start.module, 0);
  return 0;
}

}  // namespace

bool Win32Threads::Start(void (*entry)(void*), void* argument, std::size_t stackBytes) {
  if (!entry) return false;
  auto* start = new (std::nothrow) ThreadStart{entry, argument, nullptr};
  if (!start) return false;
  start->module = ReferenceOwnModule();
  DWORD id = 0;  // 95/98/Me fail CreateThread without a place for the id
  HANDLE thread = CreateThread(nullptr, static_cast<SIZE_T>(stackBytes), RunThread, start, 0, &id);
  if (!thread) {
    if (start->module) FreeLibrary(start->module);
    delete start;
    return false;
  }
  CloseHandle(thread);  // the thread runs detached
  return true;
}

}  // namespace platform::win32
