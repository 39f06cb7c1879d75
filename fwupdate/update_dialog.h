// The Update Firmware dialog's behaviour, apart from any window system: set-up, the download
// request, the reactions to the job's status codes and the rules for ending the dialog. The
// Win32 dialog and the Linux console program both drive this class through the two small
// interfaces below.
#pragma once
#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

#include "flashkit/interface/flashkit.h"

namespace fwupdate {

inline constexpr int kProgressMax = 100;
inline constexpr std::size_t kProfileValueSize = 260;  // MAX_PATH
inline constexpr std::size_t kStampBlockSize = 65536;
inline constexpr std::size_t kStampOffset = 65530;  // four bytes; 65,533 major, 65,532 minor

inline constexpr const char* kConfigurationFile = "K4826.ini";
inline constexpr const char* kFirmwareSection = "Firmware";
inline constexpr const char* kFirmwareKey = "Firmware";

// Texts the user sees.
inline constexpr const char* kErrorCaption = "Error";
inline constexpr const char* kSuccessCaption = "Successfully";
inline constexpr const char* kLoadFailedText = "Failure in Loading DLL - Flashkit.dll";
inline constexpr const char* kNoDeviceAtStartText =
    "No Device Connect !\nPlease plug the device into USB port and run again!";
inline constexpr const char* kNoDeviceText =
    "No Device Connect !\nPlease plug the device into USB port!";
inline constexpr const char* kConfigurationErrorText =
    "Configuration error!\nPlease download this package again.\nOr contact with your provider!";
inline constexpr const char* kFilesMissingText =
    "Some necessary files are missed!\nPlease download this package again.\nOr contact with your "
    "provider!";
inline constexpr const char* kErasingText = "Erasing Flash...";
inline constexpr const char* kSuccessText = "Download successfully!";

// "%X.%X%X%X" of the four nibbles: major 0x12, minor 0x3C read "1.23C".
std::string FormatVersion(std::uint8_t major, std::uint8_t minor);

// The four stamp bytes of an image: what lies at buffer offsets 65,530..65,533 after reading
// the file from its start in 64 KiB blocks into one buffer. `opened` is false when the file
// cannot be opened. `found` is false when it cannot be opened or read, or when no read reached
// offset 65,533 (an image shorter than 65,534 bytes holds no stamp). An Intel HEX image (".hex")
// gives the bytes its records place at addresses 65,530..65,533 of the bank it converts to;
// `found` is false when it is not valid HEX up to its end record.
struct ImageStamp {
  bool opened = false;
  bool found = false;
  std::array<std::uint8_t, 4> bytes{};
  std::uint8_t Major() const { return bytes[3]; }
  std::uint8_t Minor() const { return bytes[2]; }
};
ImageStamp ReadImageStamp(const std::string& path);

enum class BoxIcon { Error, Information };

// One row of the status table: what a job status code does to the dialog.
struct StatusReaction {
  const char* text = nullptr;  // message box text; null: no box
  const char* caption = nullptr;
  BoxIcon icon = BoxIcon::Error;
  bool reset = false;           // back to ready once the box is closed
  bool showNewVersion = false;  // the device now runs the image's version
};
StatusReaction ReactionFor(std::intptr_t code);

// The five exports the dialog binds by name. GetDeviceInfo is not needed.
struct FlashkitBinding {
  int(FLASHKIT_CALL* GetDevice)() = nullptr;
  int(FLASHKIT_CALL* Download)(int, int, int, FlashkitWindow) = nullptr;
  int(FLASHKIT_CALL* GetDeviceStatus)(int) = nullptr;
  void(FLASHKIT_CALL* EndDevice)() = nullptr;
  int(FLASHKIT_CALL* GetDeviceVersion)(int, unsigned char*) = nullptr;
};

// What the dialog needs of its window and of the system around it.
class UpdateView {
 public:
  virtual ~UpdateView() = default;
  // A modal box owned by the dialog; returns when the user has closed it. Status messages
  // that arrive meanwhile are handled inside it (the Win32 modal loop), so the dialog must
  // expect OnStatus to be re-entered from here.
  virtual void ShowMessageBox(const std::string& text, const std::string& caption,
                              BoxIcon icon) = 0;
  virtual void SetProgressRange(int low, int high) = 0;
  virtual void SetProgress(int position) = 0;
  virtual void SetStatusText(const std::string& text) = 0;
  // The Download and Quit buttons together.
  virtual void EnableButtons(bool enabled) = 0;
  // The Close item of the system menu, and with it the close box.
  virtual void EnableCloseCommand(bool enabled) = 0;
  // Copies the two version strings into their text controls.
  virtual void ShowVersions(const std::string& device, const std::string& image) = 0;
  // Asks the dialog to end once the current handler has returned (a posted close).
  virtual void RequestClose() = 0;
  // Hands every status message already queued for the dialog to OnStatus now. The console runs
  // one download per start and has nothing to hand over.
  virtual void DeliverQueuedStatus() {}

  // Loads the library by name and binds the five functions. On any failure it leaves nothing
  // loaded and returns false, so that no function of a foreign or partial library is called.
  virtual bool LoadFlashkit(FlashkitBinding& binding) = 0;
  virtual void UnloadFlashkit() = 0;
  // The window that receives the job's status messages.
  virtual FlashkitWindow StatusWindow() = 0;
  // The process's current directory and its path separator, for "K4826.ini".
  virtual std::string CurrentDirectory() = 0;
  virtual char PathSeparator() = 0;
  // A profile string with an empty default, cut at `size` - 1 characters.
  virtual std::string ReadProfileString(const std::string& section, const std::string& key,
                                        std::size_t size, const std::string& path) = 0;
};

enum class DialogState { SettingUp, Ready, Downloading, Closing };

class UpdateDialog {
 public:
  explicit UpdateDialog(UpdateView& view) : view_(view) {}
  UpdateDialog(const UpdateDialog&) = delete;
  UpdateDialog& operator=(const UpdateDialog&) = delete;

  // Set-up after the window has its controls, menu and icon: progress range, the library,
  // the device and both versions. Any failure shows its box and asks the dialog to close.
  void OnInitDialog();
  // The Download button.
  void OnDownload();
  // Message 0x8001: lParam is the JobStatus code, wParam the percentage for Progress.
  void OnStatus(std::uintptr_t wParam, std::intptr_t lParam);
  // Quit, Escape, the Close command or a close posted by set-up: whether the dialog may end.
  bool OnCancel();
  // Enter. There is no OK button, so a stray Enter never ends the dialog.
  bool OnOk() { return false; }
  // Releases the devices; the library waits until a job still finishing is over.
  void ReleaseDevices();
  // Before the window is destroyed: releases the devices and the library.
  void OnDestroy();

  DialogState State() const { return state_; }
  const std::string& DeviceVersionText() const { return deviceVersion_; }
  const std::string& NewVersionText() const { return newVersion_; }
  int DeviceCount() const { return deviceCount_; }

 private:
  void FailSetUp(const char* text);
  void Reset();

  UpdateView& view_;
  DialogState state_ = DialogState::SettingUp;
  FlashkitBinding flashkit_{};
  bool loaded_ = false;
  int deviceCount_ = 0;
  // Set when a failure arrives while no download runs: the closing context switch of the job
  // before failed after its Success.
  bool lateFailure_ = false;
  // GetDeviceVersion fills all eight bytes; the image stamp then overwrites bytes 0..3.
  std::array<unsigned char, 8> version_{};
  std::string deviceVersion_;
  std::string newVersion_;
};

}  // namespace fwupdate
