// The Update Firmware dialog (template 102) and the About box (template 100) over the
// dialog layer; the behaviour itself is UpdateDialog's.
#pragma once
#include <windows.h>

#include <string>

#include "dialog_base.h"
#include "fwupdate/update_dialog.h"

namespace fwupdate {

class AboutWindow : public DialogBase {
 public:
  explicit AboutWindow(HINSTANCE instance);
};

class UpdateWindow : public DialogBase, private UpdateView {
 public:
  explicit UpdateWindow(HINSTANCE instance);
  ~UpdateWindow() override;

 private:
  // DialogBase
  BOOL OnInitDialog() override;
  void OnOK() override;
  void OnCancel() override;
  bool OnCommand(WORD id, WORD code, HWND control) override;
  bool OnSysCommand(WPARAM command, LPARAM position) override;
  bool OnPaint() override;
  HICON OnQueryDragIcon() override;
  bool OnAppMessage(UINT message, WPARAM wParam, LPARAM lParam) override;
  void OnDestroy() override;
  bool OnQueryEndSession() override;

  // UpdateView
  void ShowMessageBox(const std::string& text, const std::string& caption, BoxIcon icon) override;
  void SetProgressRange(int low, int high) override;
  void SetProgress(int position) override;
  void SetStatusText(const std::string& text) override;
  void EnableButtons(bool enabled) override;
  void EnableCloseCommand(bool enabled) override;
  void ShowVersions(const std::string& device, const std::string& image) override;
  void RequestClose() override;
  void DeliverQueuedStatus() override;
  bool LoadFlashkit(FlashkitBinding& binding) override;
  void UnloadFlashkit() override;
  FlashkitWindow StatusWindow() override;
  std::string CurrentDirectory() override;
  char PathSeparator() override { return '\\'; }
  std::string ReadProfileString(const std::string& section, const std::string& key,
                                std::size_t size, const std::string& path) override;

  void AppendAboutItem();

  UpdateDialog dialog_;
  HICON icon_ = nullptr;
  HICON smallIcon_ = nullptr;
  HMODULE flashkit_ = nullptr;
};

}  // namespace fwupdate
