// The update dialog's logic against a fake window and a fake library.
#include "fwupdate/update_dialog.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <string>
#include <vector>

namespace fwupdate {
namespace {

namespace fs = std::filesystem;

// The library side: plain functions over one fake, since the binding holds function pointers.
struct FakeLibrary {
  int devices = 1;
  std::array<unsigned char, 8> version{0xA0, 0xA1, 0x05, 0x01, 0xA4, 0xA5, 0xA6, 0xA7};
  int versionResult = 1;
  std::vector<std::string> calls;
  int mode = -1, device = -1, serialAndLog = -1;
  FlashkitWindow window = nullptr;
};
FakeLibrary* g_library = nullptr;

int FakeGetDevice() {
  g_library->calls.push_back("GetDevice");
  return g_library->devices;
}
int FakeDownload(int mode, int device, int serialAndLog, FlashkitWindow window) {
  g_library->calls.push_back("Download");
  g_library->mode = mode;
  g_library->device = device;
  g_library->serialAndLog = serialAndLog;
  g_library->window = window;
  return 0;
}
int FakeGetDeviceStatus(int) {
  g_library->calls.push_back("GetDeviceStatus");
  return 0;
}
void FakeEndDevice() { g_library->calls.push_back("EndDevice"); }
int FakeGetDeviceVersion(int index, unsigned char* buffer) {
  g_library->calls.push_back("GetDeviceVersion " + std::to_string(index));
  for (std::size_t i = 0; i < 8; ++i) buffer[i] = g_library->version[i];
  return g_library->versionResult;
}

struct Box {
  std::string text;
  std::string caption;
  BoxIcon icon;
  std::string deviceVersionShown;  // what control 1009 held when the box opened
  bool buttonsEnabled;
};

class FakeView : public UpdateView {
 public:
  void ShowMessageBox(const std::string& text, const std::string& caption, BoxIcon icon) override {
    boxes.push_back({text, caption, icon, shownDevice, buttons});
    if (onBox) {
      auto hook = onBox;
      onBox = nullptr;  // one nested message per test is enough
      hook();
    }
  }
  void SetProgressRange(int low, int high) override {
    rangeLow = low;
    rangeHigh = high;
  }
  void SetProgress(int position) override { progress = position; }
  void SetStatusText(const std::string& text) override { status = text; }
  void EnableButtons(bool enabled) override { buttons = enabled; }
  void EnableCloseCommand(bool enabled) override { closeCommand = enabled; }
  void ShowVersions(const std::string& device, const std::string& image) override {
    shownDevice = device;
    shownImage = image;
    ++versionPushes;
  }
  void RequestClose() override { ++closeRequests; }
  void DeliverQueuedStatus() override {
    std::vector<std::intptr_t> codes;
    codes.swap(queued);
    for (std::intptr_t code : codes) deliver(0, code);
  }
  bool LoadFlashkit(FlashkitBinding& binding) override {
    ++loads;
    if (!loadSucceeds) return false;
    binding.GetDevice = FakeGetDevice;
    binding.Download = FakeDownload;
    binding.GetDeviceStatus = FakeGetDeviceStatus;
    binding.EndDevice = FakeEndDevice;
    binding.GetDeviceVersion = FakeGetDeviceVersion;
    return true;
  }
  void UnloadFlashkit() override { ++unloads; }
  FlashkitWindow StatusWindow() override { return window; }
  std::string CurrentDirectory() override { return directory; }
  char PathSeparator() override { return '/'; }
  std::string ReadProfileString(const std::string& section, const std::string& key,
                                std::size_t size, const std::string& path) override {
    profileReads.push_back(section + "|" + key + "|" + std::to_string(size) + "|" + path);
    auto found = profile.find(section + "|" + key);
    return found == profile.end() ? std::string() : found->second;
  }

  std::vector<Box> boxes;
  std::function<void()> onBox;
  // Statuses waiting in the window's queue, and where DeliverQueuedStatus hands them.
  std::vector<std::intptr_t> queued;
  std::function<void(std::uintptr_t, std::intptr_t)> deliver;
  int rangeLow = -1, rangeHigh = -1, progress = -1;
  std::string status = "untouched";
  bool buttons = true, closeCommand = true;
  std::string shownDevice, shownImage;
  int versionPushes = 0;
  int closeRequests = 0;
  bool loadSucceeds = true;
  int loads = 0, unloads = 0;
  FlashkitWindow window = reinterpret_cast<FlashkitWindow>(0x5150);
  std::string directory;
  std::map<std::string, std::string> profile;
  std::vector<std::string> profileReads;
};

// An image whose every byte is known: byte i of block b is (i * 7 + b * 13) & 0xFF, and the
// caller may place stamp bytes.
std::vector<unsigned char> MakeImage(std::size_t size) {
  std::vector<unsigned char> image(size);
  for (std::size_t i = 0; i < size; ++i) {
    image[i] = static_cast<unsigned char>(((i % 65536) * 7 + (i / 65536) * 13) & 0xFF);
  }
  return image;
}

class UpdateDialogTest : public ::testing::Test {
 public:
  void SetUp() override {
    g_library = &library;
    folder = fs::path(::testing::TempDir()) /
             ("fwupdate_" +
              std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));
    fs::remove_all(folder);
    fs::create_directories(folder);
    view.directory = folder.string();
    imagePath = (folder / "firmware.bin").string();
    std::vector<unsigned char> image = MakeImage(65536);
    image[65532] = 0x3C;  // minor
    image[65533] = 0x12;  // major
    WriteFile(imagePath, image);
    view.profile["Firmware|Firmware"] = imagePath;
  }
  void TearDown() override {
    g_library = nullptr;
    fs::remove_all(folder);
  }

  static void WriteFile(const std::string& path, const std::vector<unsigned char>& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
  }

  // Set-up, then a click on Download with a device present.
  void StartDownload() {
    dialog.OnInitDialog();
    ASSERT_EQ(dialog.State(), DialogState::Ready);
    dialog.OnDownload();
    ASSERT_EQ(dialog.State(), DialogState::Downloading);
  }

  FakeLibrary library;
  FakeView view;
  UpdateDialog dialog{view};
  fs::path folder;
  std::string imagePath;
};

TEST(FormatVersion, ShowsFourNibblesAsHexDigits) {
  EXPECT_EQ(FormatVersion(0x01, 0x05), "0.105");
  EXPECT_EQ(FormatVersion(0x12, 0x3C), "1.23C");
  EXPECT_EQ(FormatVersion(0x00, 0x00), "0.000");
  EXPECT_EQ(FormatVersion(0xFE, 0xDA), "F.EDA");
}

TEST_F(UpdateDialogTest, StampOfWholeBlocksIsSixToThreeBytesFromTheEnd) {
  std::vector<unsigned char> image = MakeImage(131072);
  image[131066] = 0x11;
  image[131067] = 0x22;
  image[131068] = 0x3C;  // minor
  image[131069] = 0x12;  // major
  WriteFile(imagePath, image);
  ImageStamp stamp = ReadImageStamp(imagePath);
  ASSERT_TRUE(stamp.found);
  EXPECT_EQ(stamp.bytes, (std::array<std::uint8_t, 4>{0x11, 0x22, 0x3C, 0x12}));

  // A short last block of 100 bytes replaces only the start of the buffer: the stamp still
  // comes from the second full block.
  image.resize(131072 + 100, 0xEE);
  WriteFile(imagePath, image);
  ImageStamp longer = ReadImageStamp(imagePath);
  ASSERT_TRUE(longer.found);
  EXPECT_EQ(longer.bytes, stamp.bytes);

  dialog.OnInitDialog();
  EXPECT_EQ(dialog.NewVersionText(), "1.23C");
}

TEST_F(UpdateDialogTest, StampOfAShortLastBlockThatReachesTheStampIsThatBlocks) {
  std::vector<unsigned char> image = MakeImage(65536 + 65534);
  image[65536 + 65532] = 0x45;
  image[65536 + 65533] = 0x06;
  WriteFile(imagePath, image);
  ImageStamp stamp = ReadImageStamp(imagePath);
  ASSERT_TRUE(stamp.found);
  EXPECT_EQ(stamp.Major(), 0x06);
  EXPECT_EQ(stamp.Minor(), 0x45);
}

TEST_F(UpdateDialogTest, ImageTooShortForAStampShowsNoNewVersion) {
  for (std::size_t size : {std::size_t{0}, std::size_t{1000}, std::size_t{65533}}) {
    SCOPED_TRACE(size);
    WriteFile(imagePath, std::vector<unsigned char>(size, 0x77));
    ImageStamp stamp = ReadImageStamp(imagePath);
    EXPECT_TRUE(stamp.opened);
    EXPECT_FALSE(stamp.found);
  }
  EXPECT_FALSE(ReadImageStamp((folder / "absent.bin").string()).opened);

  // Set-up still succeeds: the library judges the image when it downloads.
  dialog.OnInitDialog();
  EXPECT_EQ(dialog.State(), DialogState::Ready);
  EXPECT_EQ(view.shownDevice, "0.105");
  EXPECT_EQ(view.shownImage, "");
}

// Intel HEX text: 16-byte data records for `data` at `address`, then the end record.
std::string HexRecords(std::uint32_t address, const std::vector<unsigned char>& data) {
  std::string out;
  char line[80];
  for (std::size_t at = 0; at < data.size(); at += 16) {
    std::size_t n = std::min<std::size_t>(16, data.size() - at);
    std::uint32_t a = address + static_cast<std::uint32_t>(at);
    unsigned sum = static_cast<unsigned>(n + (a >> 8) + (a & 0xFF));
    std::snprintf(line, sizeof line, ":%02X%04X00", static_cast<unsigned>(n), a & 0xFFFF);
    out += line;
    for (std::size_t i = 0; i < n; ++i) {
      std::snprintf(line, sizeof line, "%02X", data[at + i]);
      out += line;
      sum += data[at + i];
    }
    std::snprintf(line, sizeof line, "%02X\n", (0x100 - (sum & 0xFF)) & 0xFF);
    out += line;
  }
  return out + ":00000001FF\n";
}

TEST_F(UpdateDialogTest, HexImageStampIsWhatItsBankWillHold) {
  std::string hexPath = (folder / "IMAGE.HEX").string();
  std::vector<unsigned char> tail(32, 0x55);
  tail[28] = 0x3C;  // address 0xFFFC: minor
  tail[29] = 0x12;  // address 0xFFFD: major
  std::string text = HexRecords(0x0000, std::vector<unsigned char>(30000, 0xAA));
  text.resize(text.size() - std::string(":00000001FF\n").size());
  text += HexRecords(0xFFE0, tail);
  ASSERT_GT(text.size(), 65536u);  // the text itself reaches past the stamp offsets
  std::ofstream(hexPath, std::ios::binary) << text;
  ImageStamp stamp = ReadImageStamp(hexPath);
  ASSERT_TRUE(stamp.found);
  EXPECT_EQ(FormatVersion(stamp.Major(), stamp.Minor()), "1.23C");

  // A bad checksum makes it no image, and no version is shown.
  std::string broken = text;
  broken[broken.rfind(":00000001FF") - 3] ^= 1;
  std::ofstream(hexPath, std::ios::binary | std::ios::trunc) << broken;
  EXPECT_FALSE(ReadImageStamp(hexPath).found);
  // The conversion refuses a blank line between records: so does the stamp.
  std::string blank = text;
  blank.insert(blank.find('\n') + 1, "\n");
  std::ofstream(hexPath, std::ios::binary | std::ios::trunc) << blank;
  EXPECT_FALSE(ReadImageStamp(hexPath).found);
  // Records that leave the stamp uncovered give the zeros the conversion fills in.
  std::ofstream(hexPath, std::ios::binary | std::ios::trunc) << HexRecords(0, {1, 2, 3});
  stamp = ReadImageStamp(hexPath);
  ASSERT_TRUE(stamp.found);
  EXPECT_EQ(FormatVersion(stamp.Major(), stamp.Minor()), "0.000");
}

TEST_F(UpdateDialogTest, SetUpShowsBothVersionsAndBecomesReady) {
  dialog.OnInitDialog();
  EXPECT_EQ(dialog.State(), DialogState::Ready);
  EXPECT_EQ(view.rangeLow, 0);
  EXPECT_EQ(view.rangeHigh, 100);
  EXPECT_EQ(view.progress, 0);
  EXPECT_EQ(view.shownDevice, "0.105");  // version bytes 3 and 2
  EXPECT_EQ(view.shownImage, "1.23C");
  EXPECT_EQ(view.closeRequests, 0);
  EXPECT_TRUE(view.boxes.empty());
  EXPECT_EQ(library.calls, (std::vector<std::string>{"GetDevice", "GetDeviceVersion 0"}));
  ASSERT_EQ(view.profileReads.size(), 1u);
  EXPECT_EQ(view.profileReads[0], "Firmware|Firmware|260|" + folder.string() + "/K4826.ini");
  // Enter never ends the dialog; Escape or Quit does while it is ready.
  EXPECT_FALSE(dialog.OnOk());
  EXPECT_TRUE(dialog.OnCancel());
  dialog.OnDestroy();
  EXPECT_EQ(library.calls.back(), "EndDevice");
  EXPECT_EQ(view.unloads, 1);
}

TEST_F(UpdateDialogTest, DeviceVersionStaysEmptyWhenTheLibraryGivesNone) {
  library.versionResult = 0;
  dialog.OnInitDialog();
  EXPECT_EQ(dialog.State(), DialogState::Ready);
  EXPECT_EQ(view.shownDevice, "");
  EXPECT_EQ(view.shownImage, "1.23C");
  EXPECT_TRUE(view.boxes.empty());
}

TEST_F(UpdateDialogTest, SetUpFailuresShowTheirBoxAndClose) {
  struct Case {
    const char* name;
    std::function<void(UpdateDialogTest&)> arrange;
    const char* text;
    std::vector<std::string> calls;  // library calls up to and including EndDevice
    int unloads;
  };
  const std::vector<Case> cases = {
      {"library missing",
       [](UpdateDialogTest& t) { t.view.loadSucceeds = false; },
       kLoadFailedText,
       {},
       0},
      {"no device",
       [](UpdateDialogTest& t) { t.library.devices = 0; },
       kNoDeviceAtStartText,
       {"GetDevice", "EndDevice"},
       1},
      {"key missing",
       [](UpdateDialogTest& t) { t.view.profile.clear(); },
       kConfigurationErrorText,
       {"GetDevice", "GetDeviceVersion 0", "EndDevice"},
       1},
      {"key empty",
       [](UpdateDialogTest& t) { t.view.profile["Firmware|Firmware"] = ""; },
       kConfigurationErrorText,
       {"GetDevice", "GetDeviceVersion 0", "EndDevice"},
       1},
      {"image missing",
       [](UpdateDialogTest& t) { fs::remove(t.imagePath); },
       kFilesMissingText,
       {"GetDevice", "GetDeviceVersion 0", "EndDevice"},
       1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    library = FakeLibrary();
    view = FakeView();
    SetUp();
    c.arrange(*this);
    UpdateDialog local(view);
    local.OnInitDialog();
    ASSERT_EQ(view.boxes.size(), 1u);
    EXPECT_EQ(view.boxes[0].text, c.text);
    EXPECT_EQ(view.boxes[0].caption, "Error");
    EXPECT_EQ(view.boxes[0].icon, BoxIcon::Error);
    EXPECT_EQ(view.closeRequests, 1);
    EXPECT_EQ(view.versionPushes, 0);
    EXPECT_EQ(local.State(), DialogState::Closing);
    EXPECT_TRUE(local.OnCancel());  // the posted close ends it
    local.OnDestroy();
    EXPECT_EQ(library.calls, c.calls);
    EXPECT_EQ(view.unloads, c.unloads);
  }
}

TEST_F(UpdateDialogTest, DownloadWithoutDeviceStaysReady) {
  dialog.OnInitDialog();
  library.devices = 0;
  dialog.OnDownload();
  ASSERT_EQ(view.boxes.size(), 1u);
  EXPECT_EQ(view.boxes[0].text, "No Device Connect !\nPlease plug the device into USB port!");
  EXPECT_EQ(view.boxes[0].caption, "Error");
  EXPECT_EQ(dialog.State(), DialogState::Ready);
  EXPECT_TRUE(view.buttons);
  EXPECT_TRUE(view.closeCommand);
  EXPECT_EQ(view.status, "untouched");
  EXPECT_EQ(library.calls.back(), "GetDevice");
}

TEST_F(UpdateDialogTest, DownloadStartsTheFirmwareJobAndLocksTheDialog) {
  StartDownload();
  EXPECT_EQ(library.calls.back(), "Download");
  EXPECT_EQ(library.calls[library.calls.size() - 2], "GetDevice");
  EXPECT_EQ(library.mode, 2);
  EXPECT_EQ(library.device, 1);
  EXPECT_EQ(library.serialAndLog, 0);
  EXPECT_EQ(library.window, view.window);
  EXPECT_EQ(view.status, "Erasing Flash...");
  EXPECT_FALSE(view.buttons);
  EXPECT_FALSE(view.closeCommand);
  // Neither key nor Close may end the dialog under a running job; a second click is ignored.
  EXPECT_FALSE(dialog.OnOk());
  EXPECT_FALSE(dialog.OnCancel());
  dialog.OnDownload();
  EXPECT_EQ(std::count(library.calls.begin(), library.calls.end(), "Download"), 1);
  EXPECT_EQ(dialog.State(), DialogState::Downloading);
}

TEST_F(UpdateDialogTest, ProgressMovesBarAndText) {
  StartDownload();
  dialog.OnStatus(40, 0);
  EXPECT_EQ(view.progress, 40);
  EXPECT_EQ(view.status, "40%");
  dialog.OnStatus(100, 0);
  EXPECT_EQ(view.progress, 100);
  EXPECT_EQ(view.status, "100%");
  dialog.OnStatus(0x75EC, 9);  // FlashIdentified: nothing visible
  EXPECT_EQ(view.progress, 100);
  EXPECT_EQ(view.status, "100%");
  EXPECT_EQ(dialog.State(), DialogState::Downloading);
  EXPECT_TRUE(view.boxes.empty());
}

TEST_F(UpdateDialogTest, EveryStatusCodeHasItsReaction) {
  struct Case {
    std::intptr_t code;
    const char* text;  // null: no box
    const char* caption;
    BoxIcon icon;
    bool reset;
  };
  const Case cases[] = {
      {0, nullptr, nullptr, BoxIcon::Error, false},
      {1, "Download failed\nSome necessary files are missed!", "Error", BoxIcon::Error, true},
      {2, "Download failed\nPlease check power cable and USB cable!", "Error", BoxIcon::Error,
       true},
      {3, "Download failed\nUnknown flash type!", "Error", BoxIcon::Error, true},
      {4, "Download successfully!", "Successfully", BoxIcon::Information, true},
      {5, nullptr, nullptr, BoxIcon::Error, true},
      {6, "Download failed\nVerify error!", "Error", BoxIcon::Error, true},
      {7, "Download failed\nContext switch failed!", "Error", BoxIcon::Error, true},
      {8, "Download failed\nNo enough memory!", "Error", BoxIcon::Error, true},
      {9, nullptr, nullptr, BoxIcon::Error, false},
      {10, nullptr, nullptr, BoxIcon::Error, true},
      {-1, nullptr, nullptr, BoxIcon::Error, true},
      {0x12345, nullptr, nullptr, BoxIcon::Error, true},
      // A wide value from the console's pipe whose low half reads as Success.
      {static_cast<std::intptr_t>(0x100000004LL), nullptr, nullptr, BoxIcon::Error, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.code);
    view = FakeView();
    view.directory = folder.string();
    view.profile["Firmware|Firmware"] = imagePath;
    UpdateDialog local(view);
    local.OnInitDialog();
    local.OnDownload();
    ASSERT_EQ(local.State(), DialogState::Downloading);
    local.OnStatus(55, 0);
    local.OnStatus(0, c.code);
    if (c.text == nullptr) {
      EXPECT_TRUE(view.boxes.empty());
    } else {
      ASSERT_EQ(view.boxes.size(), 1u);
      EXPECT_EQ(view.boxes[0].text, c.text);
      EXPECT_EQ(view.boxes[0].caption, c.caption);
      EXPECT_EQ(view.boxes[0].icon, c.icon);
      // The reset comes after the box has been closed.
      EXPECT_FALSE(view.boxes[0].buttonsEnabled);
    }
    if (c.reset) {
      EXPECT_EQ(local.State(), DialogState::Ready);
      EXPECT_EQ(view.progress, 0);
      EXPECT_EQ(view.status, "");
      EXPECT_TRUE(view.buttons);
      EXPECT_TRUE(view.closeCommand);
      EXPECT_TRUE(local.OnCancel());
    } else {
      EXPECT_EQ(local.State(), DialogState::Downloading);
      EXPECT_FALSE(view.buttons);
      EXPECT_FALSE(view.closeCommand);
      EXPECT_FALSE(local.OnCancel());
    }
    // Only a success changes the device version.
    EXPECT_EQ(view.shownDevice, c.code == 4 ? "1.23C" : "0.105");
  }
}

TEST_F(UpdateDialogTest, SuccessThenContextSwitchFailedShowsBothBoxes) {
  StartDownload();
  dialog.OnStatus(100, 0);
  // The failure arrives while the success box is open, as in the box's modal loop.
  view.onBox = [this] { dialog.OnStatus(0, 7); };
  dialog.OnStatus(0, 4);
  ASSERT_EQ(view.boxes.size(), 2u);
  EXPECT_EQ(view.boxes[0].text, "Download successfully!");
  EXPECT_EQ(view.boxes[0].caption, "Successfully");
  EXPECT_EQ(view.boxes[0].deviceVersionShown, "1.23C");
  EXPECT_EQ(view.boxes[1].text, "Download failed\nContext switch failed!");
  EXPECT_EQ(view.boxes[1].caption, "Error");
  EXPECT_EQ(view.boxes[1].deviceVersionShown, "1.23C");
  EXPECT_EQ(dialog.State(), DialogState::Ready);
  EXPECT_EQ(dialog.DeviceVersionText(), "1.23C");
  EXPECT_TRUE(view.buttons);
  EXPECT_TRUE(view.closeCommand);
  EXPECT_EQ(view.progress, 0);
  EXPECT_EQ(view.status, "");
  // Ready for another round.
  dialog.OnDownload();
  EXPECT_EQ(dialog.State(), DialogState::Downloading);
  EXPECT_EQ(std::count(library.calls.begin(), library.calls.end(), "Download"), 2);
}

TEST_F(UpdateDialogTest, ALateFailureOfTheLastJobIsShownBeforeAnotherDownload) {
  view.deliver = [this](std::uintptr_t wParam, std::intptr_t code) {
    dialog.OnStatus(wParam, code);
  };
  StartDownload();
  dialog.OnStatus(0, 4);  // Success; the box is closed and the dialog is ready
  // The job's closing switch failed while the user was already clicking Download again.
  view.queued = {7};
  dialog.OnDownload();
  ASSERT_EQ(view.boxes.size(), 2u);
  EXPECT_EQ(view.boxes[1].text, "Download failed\nContext switch failed!");
  EXPECT_EQ(dialog.State(), DialogState::Ready) << "no new job under a stale message";
  EXPECT_EQ(std::count(library.calls.begin(), library.calls.end(), "Download"), 1);
  EXPECT_TRUE(view.buttons);

  // With nothing left over, the next click downloads.
  dialog.OnDownload();
  EXPECT_EQ(dialog.State(), DialogState::Downloading);
  EXPECT_EQ(std::count(library.calls.begin(), library.calls.end(), "Download"), 2);
}

}  // namespace
}  // namespace fwupdate
