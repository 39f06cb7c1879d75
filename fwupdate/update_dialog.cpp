#include "fwupdate/update_dialog.h"

#include <cstdio>
#include <memory>
#include <new>

#include "flashkit/data/intel_hex.h"
#include "flashkit/data/std_file.h"

namespace fwupdate {

namespace {

constexpr int kFirmwareMode = 2;
constexpr int kFirstDevice = 1;

using flashkit::OpenFile;
using flashkit::UniqueFile;

char HexDigit(unsigned nibble) { return "0123456789ABCDEF"[nibble & 0xF]; }

}  // namespace

std::string FormatVersion(std::uint8_t major, std::uint8_t minor) {
  return {HexDigit(major >> 4), '.', HexDigit(major), HexDigit(minor >> 4), HexDigit(minor)};
}

namespace {

// The job programs an Intel HEX image as the one 64 KiB bank it converts it to, so its stamp
// is what that bank will hold at 65,530..65,533 (zero where no record writes), not the
// characters of the text at those offsets.
bool IsHexImage(const std::string& path) {
  std::string name;
  std::string extension;
  flashkit::SplitFileName(path, name, extension);
  for (char& c : extension) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
  return extension == "hex";
}

// The job's own HEX reader, so that a version is shown exactly for the images the job will
// accept and convert.
void ReadHexStamp(std::FILE* file, ImageStamp& stamp) {
  std::unique_ptr<std::uint8_t[]> bank(new (std::nothrow) std::uint8_t[kStampBlockSize]());
  if (!bank) return;
  if (flashkit::ReadHexImage(file, 0, kStampBlockSize, bank.get()) != 0) return;
  for (std::size_t i = 0; i < stamp.bytes.size(); ++i) stamp.bytes[i] = bank[kStampOffset + i];
  stamp.found = true;
}

}  // namespace

ImageStamp ReadImageStamp(const std::string& path) {
  ImageStamp stamp;
  if (IsHexImage(path)) {
    // Text mode, as the job's conversion reads it.
    UniqueFile file = OpenFile(path.c_str(), "r");
    if (!file) return stamp;
    stamp.opened = true;
    ReadHexStamp(file.get(), stamp);
    return stamp;
  }
  UniqueFile file = OpenFile(path.c_str(), "rb");
  if (!file) return stamp;
  stamp.opened = true;
  // Cleared, so that what a short read leaves untouched is defined; reads only ever replace
  // the start of the buffer, as the stamp's definition (the last full block's bytes when the
  // image ends in a short one) requires.
  std::unique_ptr<unsigned char[]> block(new (std::nothrow) unsigned char[kStampBlockSize]());
  if (!block) return stamp;
  std::size_t reached = 0;  // the most bytes any read delivered
  for (;;) {
    std::size_t got = std::fread(block.get(), 1, kStampBlockSize, file.get());
    if (got == 0) break;
    if (got > reached) reached = got;
  }
  if (std::ferror(file.get())) return stamp;
  // An image shorter than 65,534 bytes never reaches the major and minor bytes: it has no
  // stamp, and the dialog shows no version rather than zeros the file does not hold.
  if (reached < kStampOffset + 4) return stamp;
  for (std::size_t i = 0; i < stamp.bytes.size(); ++i) stamp.bytes[i] = block[kStampOffset + i];
  stamp.found = true;
  return stamp;
}

StatusReaction ReactionFor(std::intptr_t code) {
  using flashkit::JobStatus;
  // Checked before the cast: a wide value must not pass for a known code.
  if (code < static_cast<std::intptr_t>(JobStatus::Progress) ||
      code > static_cast<std::intptr_t>(JobStatus::FlashIdentified)) {
    return {nullptr, nullptr, BoxIcon::Error, true, false};
  }
  auto failure = [](const char* text) {
    return StatusReaction{text, kErrorCaption, BoxIcon::Error, true, false};
  };
  switch (static_cast<JobStatus>(code)) {
    case JobStatus::Progress:
    case JobStatus::FlashIdentified:
      return {};
    case JobStatus::FileMissing:
      return failure("Download failed\nSome necessary files are missed!");
    case JobStatus::TransferFailed:
      return failure("Download failed\nPlease check power cable and USB cable!");
    case JobStatus::UnknownFlash:
      return failure("Download failed\nUnknown flash type!");
    case JobStatus::Success:
      return {kSuccessText, kSuccessCaption, BoxIcon::Information, true, true};
    case JobStatus::ConfigurationError:
      return {nullptr, nullptr, BoxIcon::Error, true, false};
    case JobStatus::VerifyError:
      return failure("Download failed\nVerify error!");
    case JobStatus::ContextSwitchFailed:
      return failure("Download failed\nContext switch failed!");
    case JobStatus::OutOfMemory:
      return failure("Download failed\nNo enough memory!");
  }
  // A code the dialog does not know still ends the job as far as the dialog can tell.
  return {nullptr, nullptr, BoxIcon::Error, true, false};
}

void UpdateDialog::OnInitDialog() {
  state_ = DialogState::SettingUp;
  view_.SetProgressRange(0, kProgressMax);
  view_.SetProgress(0);

  if (!view_.LoadFlashkit(flashkit_)) {
    flashkit_ = {};
    FailSetUp(kLoadFailedText);
    return;
  }
  loaded_ = true;

  deviceCount_ = flashkit_.GetDevice();
  if (deviceCount_ == 0) {
    FailSetUp(kNoDeviceAtStartText);
    return;
  }
  if (flashkit_.GetDeviceVersion(0, version_.data()) != 0) {
    deviceVersion_ = FormatVersion(version_[3], version_[2]);
  }

  std::string directory = view_.CurrentDirectory();
  std::string configuration = directory;
  if (configuration.empty() || configuration.back() != view_.PathSeparator()) {
    configuration += view_.PathSeparator();
  }
  configuration += kConfigurationFile;
  std::string image =
      view_.ReadProfileString(kFirmwareSection, kFirmwareKey, kProfileValueSize, configuration);
  if (image.empty()) {
    FailSetUp(kConfigurationErrorText);
    return;
  }
  if (!flashkit::CanOpenForReading(image)) {
    FailSetUp(kFilesMissingText);
    return;
  }

  ImageStamp stamp = ReadImageStamp(image);
  // An image that vanishes between the two opens is as missing as one that was never there.
  if (!stamp.opened) {
    FailSetUp(kFilesMissingText);
    return;
  }
  if (stamp.found) {
    for (std::size_t i = 0; i < stamp.bytes.size(); ++i) version_[i] = stamp.bytes[i];
    newVersion_ = FormatVersion(version_[3], version_[2]);
  }
  view_.ShowVersions(deviceVersion_, newVersion_);
  state_ = DialogState::Ready;
}

void UpdateDialog::FailSetUp(const char* text) {
  view_.ShowMessageBox(text, kErrorCaption, BoxIcon::Error);
  state_ = DialogState::Closing;
  view_.RequestClose();
}

void UpdateDialog::OnDownload() {
  // The button is disabled outside the ready state; a click queued before that is ignored.
  if (state_ != DialogState::Ready) return;
  deviceCount_ = flashkit_.GetDevice();
  if (deviceCount_ == 0) {
    view_.ShowMessageBox(kNoDeviceText, kErrorCaption, BoxIcon::Error);
    return;
  }
  // GetDevice returns once a job still finishing is over; what that job posted meanwhile (a
  // failed closing context switch after its Success) belongs to it, and is shown before a new
  // download can start, not in the middle of one.
  lateFailure_ = false;
  view_.DeliverQueuedStatus();
  if (lateFailure_) return;
  view_.SetStatusText(kErasingText);
  state_ = DialogState::Downloading;
  flashkit_.Download(kFirmwareMode, kFirstDevice, 0, view_.StatusWindow());
  view_.EnableButtons(false);
  view_.EnableCloseCommand(false);
}

void UpdateDialog::OnStatus(std::uintptr_t wParam, std::intptr_t lParam) {
  if (lParam == static_cast<std::intptr_t>(flashkit::JobStatus::Progress)) {
    int percent = wParam > static_cast<std::uintptr_t>(kProgressMax) ? kProgressMax
                                                                     : static_cast<int>(wParam);
    view_.SetProgress(percent);
    view_.SetStatusText(std::to_string(percent) + "%");
    return;
  }
  StatusReaction reaction = ReactionFor(lParam);
  if (state_ != DialogState::Downloading && reaction.text != nullptr && !reaction.showNewVersion) {
    lateFailure_ = true;
  }
  if (reaction.showNewVersion) {
    deviceVersion_ = newVersion_;
    view_.ShowVersions(deviceVersion_, newVersion_);
  }
  if (reaction.text != nullptr)
    view_.ShowMessageBox(reaction.text, reaction.caption, reaction.icon);
  if (reaction.reset) Reset();
}

void UpdateDialog::Reset() {
  view_.SetProgress(0);
  view_.SetStatusText("");
  view_.EnableButtons(true);
  view_.EnableCloseCommand(true);
  // A late status after the dialog began to close must not bring it back.
  if (state_ != DialogState::Closing) state_ = DialogState::Ready;
}

bool UpdateDialog::OnCancel() {
  // Ending the dialog unloads the library, which must not happen under a running job;
  // during set-up the failure path has already switched to closing.
  if (state_ == DialogState::Downloading || state_ == DialogState::SettingUp) return false;
  state_ = DialogState::Closing;
  return true;
}

void UpdateDialog::ReleaseDevices() {
  if (flashkit_.EndDevice != nullptr) flashkit_.EndDevice();
}

void UpdateDialog::OnDestroy() {
  ReleaseDevices();
  flashkit_ = {};
  if (loaded_) view_.UnloadFlashkit();
  loaded_ = false;
  state_ = DialogState::Closing;
}

}  // namespace fwupdate
