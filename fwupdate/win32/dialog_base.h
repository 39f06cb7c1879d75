// A small dialog layer over plain Win32: the object owns its HWND for the dialog's life and
// gets one virtual call per message it cares about. Handlers return false to leave a message
// to the system's default dialog handling.
#pragma once
#include <windows.h>

namespace fwupdate {

class DialogBase {
 public:
  DialogBase(HINSTANCE instance, int templateId) : instance_(instance), templateId_(templateId) {}
  virtual ~DialogBase() = default;
  DialogBase(const DialogBase&) = delete;
  DialogBase& operator=(const DialogBase&) = delete;

  // Runs the dialog modally; returns the value given to EndDialog, or -1 when the dialog could
  // not be created.
  INT_PTR DoModal(HWND owner);
  HWND Window() const { return window_; }
  HINSTANCE Instance() const { return instance_; }

 protected:
  void EndDialog(INT_PTR result) { ::EndDialog(window_, result); }

  // WM_INITDIALOG. Return TRUE for the default focus.
  virtual BOOL OnInitDialog() { return TRUE; }
  // Enter (IDOK) and Escape, the cancel button or the Close command (IDCANCEL).
  virtual void OnOK() { EndDialog(IDOK); }
  virtual void OnCancel() { EndDialog(IDCANCEL); }
  // Any other WM_COMMAND.
  virtual bool OnCommand(WORD /*id*/, WORD /*code*/, HWND /*control*/) { return false; }
  virtual bool OnSysCommand(WPARAM /*command*/, LPARAM /*position*/) { return false; }
  virtual bool OnPaint() { return false; }
  // WM_QUERYDRAGICON: the icon shown while a minimised window is dragged.
  virtual HICON OnQueryDragIcon() { return nullptr; }
  // Messages of the application's own range (WM_APP and up).
  virtual bool OnAppMessage(UINT /*message*/, WPARAM /*wParam*/, LPARAM /*lParam*/) {
    return false;
  }
  // WM_DESTROY: the controls still exist.
  virtual void OnDestroy() {}
  // WM_QUERYENDSESSION: whether Windows may end the session now.
  virtual bool OnQueryEndSession() { return true; }

 private:
  static INT_PTR CALLBACK Procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
  INT_PTR Dispatch(UINT message, WPARAM wParam, LPARAM lParam);

  HINSTANCE instance_;
  int templateId_;
  HWND window_ = nullptr;
};

}  // namespace fwupdate
