// Load and unload hooks of Flashkit.dll.
#include "flashkit/interface/library_state.h"
#include "platform/ports.h"
#include "platform/win32/win32.h"

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
  switch (reason) {
    case DLL_PROCESS_ATTACH:
      // The library does nothing of its own when threads start or end.
      DisableThreadLibraryCalls(instance);
      platform::InstallPlatformPorts();
      flashkit::LibraryAttach();
      break;
    case DLL_PROCESS_DETACH:
      flashkit::LibraryDetach();
      break;
    default:
      break;
  }
  return TRUE;
}
