// The update dialog's view on a terminal: boxes become printed texts, the progress bar a line
// of its own, and the dialog window the write end of a pipe the library posts records into.
#pragma once
#include <cstdio>
#include <string>

#include "fwupdate/update_dialog.h"

namespace fwupdate {

class ConsoleView : public UpdateView {
 public:
  // `statusPipe` is the write end handed to the library as its window.
  explicit ConsoleView(int statusPipe) : statusPipe_(statusPipe) {}
  ~ConsoleView() override { UnloadFlashkit(); }

  void ShowMessageBox(const std::string& text, const std::string& caption, BoxIcon icon) override;
  void SetProgressRange(int low, int high) override;
  void SetProgress(int position) override;
  void SetStatusText(const std::string& text) override;
  void EnableButtons(bool) override {}
  void EnableCloseCommand(bool) override {}
  void ShowVersions(const std::string& device, const std::string& image) override;
  void RequestClose() override { closeRequested_ = true; }
  bool LoadFlashkit(FlashkitBinding& binding) override;
  void UnloadFlashkit() override;
  FlashkitWindow StatusWindow() override;
  std::string CurrentDirectory() override;
  char PathSeparator() override { return '/'; }
  std::string ReadProfileString(const std::string& section, const std::string& key,
                                std::size_t size, const std::string& path) override;

  bool CloseRequested() const { return closeRequested_; }
  // Ends a progress line that is still open, so the next text starts on a line of its own.
  void EndProgressLine();

 private:
  int statusPipe_;
  void* library_ = nullptr;
  bool closeRequested_ = false;
  int low_ = 0, high_ = 100;
  int shown_ = -1;         // last percentage drawn, -1 when no bar is on screen
  bool lineOpen_ = false;  // the cursor sits at the end of a bar
};

}  // namespace fwupdate
