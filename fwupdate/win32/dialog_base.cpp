#include "dialog_base.h"

namespace fwupdate {

namespace {

// Templates place the dialogs at 0, 0; like the class libraries' dialogs they open centred over
// their owner, or over the work area when they have none.
void CenterWindow(HWND window) {
  RECT area;
  HWND owner = ::GetWindow(window, GW_OWNER);
  if (owner == nullptr || !::IsWindowVisible(owner) || ::IsIconic(owner)) {
    if (!::SystemParametersInfoA(SPI_GETWORKAREA, 0, &area, 0)) return;
  } else {
    ::GetWindowRect(owner, &area);
  }
  RECT own;
  ::GetWindowRect(window, &own);
  int width = own.right - own.left;
  int height = own.bottom - own.top;
  int x = area.left + (area.right - area.left - width) / 2;
  int y = area.top + (area.bottom - area.top - height) / 2;
  // Keep the caption on the screen.
  if (x < 0) x = 0;
  if (y < 0) y = 0;
  ::SetWindowPos(window, nullptr, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

}  // namespace

INT_PTR DialogBase::DoModal(HWND owner) {
  return ::DialogBoxParamA(instance_, MAKEINTRESOURCEA(templateId_), owner, Procedure,
                           reinterpret_cast<LPARAM>(this));
}

INT_PTR CALLBACK DialogBase::Procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  DialogBase* self;
  if (message == WM_INITDIALOG) {
    self = reinterpret_cast<DialogBase*>(lParam);
    self->window_ = window;
    ::SetWindowLongPtrA(window, DWLP_USER, reinterpret_cast<LONG_PTR>(self));
  } else {
    self = reinterpret_cast<DialogBase*>(::GetWindowLongPtrA(window, DWLP_USER));
  }
  // Messages before WM_INITDIALOG (WM_SETFONT) and after WM_NCDESTROY go to the default.
  if (self == nullptr) return FALSE;
  INT_PTR result = self->Dispatch(message, wParam, lParam);
  if (message == WM_NCDESTROY) {
    ::SetWindowLongPtrA(window, DWLP_USER, 0);
    self->window_ = nullptr;
  }
  return result;
}

INT_PTR DialogBase::Dispatch(UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_INITDIALOG:
      CenterWindow(window_);
      return OnInitDialog();
    case WM_COMMAND:
      switch (LOWORD(wParam)) {
        case IDOK:
          OnOK();
          return TRUE;
        case IDCANCEL:
          OnCancel();
          return TRUE;
        default:
          return OnCommand(LOWORD(wParam), HIWORD(wParam), reinterpret_cast<HWND>(lParam));
      }
    case WM_SYSCOMMAND:
      return OnSysCommand(wParam, lParam);
    case WM_PAINT:
      return OnPaint();
    case WM_QUERYDRAGICON:
      // One of the few messages whose dialog-procedure result is the answer itself.
      return reinterpret_cast<INT_PTR>(OnQueryDragIcon());
    case WM_DESTROY:
      OnDestroy();
      return FALSE;
    case WM_QUERYENDSESSION:
      // A dialog procedure answers through DWLP_MSGRESULT.
      ::SetWindowLongPtrA(window_, DWLP_MSGRESULT, OnQueryEndSession() ? TRUE : FALSE);
      return TRUE;
    default:
      if (message >= WM_APP && message <= 0xBFFF) return OnAppMessage(message, wParam, lParam);
      return FALSE;
  }
}

}  // namespace fwupdate
