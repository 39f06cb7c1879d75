// FwUpdate: one copy at a time, one modal dialog.
#include <windows.h>
// After windows.h, which it needs.
#include <commctrl.h>

#include "update_window.h"

namespace {

// Held from start to exit; its existence is what tells a second copy to leave. Never mapped.
constexpr char kSingleInstanceName[] = "FlashmateMutex";
constexpr DWORD kSingleInstanceSize = 128;

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
  HANDLE instanceObject = ::CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0,
                                               kSingleInstanceSize, kSingleInstanceName);
  if (instanceObject == nullptr) return 0;
  if (::GetLastError() == ERROR_ALREADY_EXISTS) {
    ::CloseHandle(instanceObject);
    return 0;
  }
  // Plain Win32 needs no control-container or 3-D drawing set-up; the progress bar needs
  // the common controls registered. InitCommonControls, not the Ex form: the comctl32 of a
  // plain NT 4 or Windows 95 lacks InitCommonControlsEx and would refuse to load the program.
  ::InitCommonControls();
  {
    fwupdate::UpdateWindow dialog(instance);
    dialog.DoModal(nullptr);
  }
  ::CloseHandle(instanceObject);
  return 0;
}
