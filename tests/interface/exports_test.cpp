// The exported interface: what each export gives back, and the library's load-time table.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "flashkit/interface/flashkit.h"
#include "flashkit/interface/library_state.h"
#include "flashkit/job/download_job.h"
#include "platform/posix/profile_file.h"
#include "platform/simulated/simulated_scsi_pass_through.h"
#include "sim/bus.h"
#include "tests/doubles/library_fixture.h"

namespace {

class ExportsTest : public doubles::LibraryFixture {
 public:
  void SetUp() override {
    LibraryFixture::SetUp();
    UseScsi(&scsi);
    platform::CurrentPorts().profile = &profile;
    for (const char* letter : {"D", "E", "F"}) {
      sim::DeviceConfig config;
      config.name = letter;
      config.version = {0x10, 0x20, static_cast<std::uint8_t>(letter[0]), 0x01, 0, 0, 0, 0};
      bus.AddDrive(letter, config);
    }
  }
  sim::Bus bus;
  platform::SimulatedScsiPassThrough scsi{bus};
  platform::ProfileFile profile;
};

TEST_F(ExportsTest, DeviceInfoIsZeroBeforeAnyJobWhateverTheFirstArgument) {
  for (int first : {0, -1, 99}) {
    unsigned char buffer[512];
    std::fill(std::begin(buffer), std::end(buffer), 0xAA);
    EXPECT_EQ(GetDeviceInfo(first, buffer), 1);
    EXPECT_EQ(std::count(std::begin(buffer), std::end(buffer), 0), 512);
  }
}

TEST_F(ExportsTest, VersionsAndStatusByPosition) {
  ASSERT_EQ(GetDevice(), 3);
  unsigned char first[8] = {};
  unsigned char again[8] = {};
  EXPECT_EQ(GetDeviceVersion(2, first), 1);
  EXPECT_EQ(GetDeviceVersion(2, again), 1);
  EXPECT_EQ(first[2], 'F');
  EXPECT_TRUE(std::equal(first, first + 8, again));
  EXPECT_EQ(GetDeviceStatus(0), 0) << "discovery leaves the status at 0";

  // Outside the list nothing is read or written.
  unsigned char untouched[8] = {9, 9, 9, 9, 9, 9, 9, 9};
  for (int index : {-1, 3, 1000}) {
    EXPECT_EQ(GetDeviceVersion(index, untouched), 1);
    EXPECT_EQ(GetDeviceStatus(index), 0);
  }
  EXPECT_EQ(std::count(std::begin(untouched), std::end(untouched), 9), 8);
}

TEST_F(ExportsTest, EndDeviceClosesEveryHandleAndDiscoveryWorksAgain) {
  ASSERT_EQ(GetDevice(), 3);
  EXPECT_EQ(scsi.OpenHandleCount(), 3u);
  EndDevice();
  EXPECT_EQ(scsi.OpenHandleCount(), 0u);
  EXPECT_TRUE(flashkit::State().devices.empty());
  EXPECT_FALSE(flashkit::State().configurationPath.empty()) << "the path stays";
  ASSERT_EQ(GetDevice(), 3);
  unsigned char version[8] = {};
  GetDeviceVersion(0, version);
  EXPECT_EQ(version[2], 'D');
}

TEST_F(ExportsTest, WithoutAFlashTableEveryJobEndsWithFileMissing) {
  flashkit::LibraryAttach();  // no "flashid.dat" in the current folder
  EXPECT_EQ(flashkit::State().flashTableLoaded, 0);
  ASSERT_EQ(GetDevice(), 3);
  for (int mode : {1, 2, 3}) {
    posts.clear();
    EXPECT_EQ(Download(mode, 1, 0, reinterpret_cast<FlashkitWindow>(5)), 0);
    EXPECT_EQ(posts.codes(), std::vector<int>{static_cast<int>(flashkit::JobStatus::FileMissing)});
  }
  for (sim::Device* device : bus.Devices()) EXPECT_EQ(device->Trace().size(), 2u);
}

TEST_F(ExportsTest, AJobThatCannotStartIsReportedAsOutOfMemory) {
  threads.failStart = true;
  EXPECT_EQ(Download(2, 1, 0, reinterpret_cast<FlashkitWindow>(5)), 0);
  ASSERT_EQ(posts.posts().size(), 1u);
  EXPECT_EQ(posts.posts()[0].lParam, static_cast<int>(flashkit::JobStatus::OutOfMemory));
  EXPECT_EQ(posts.posts()[0].window, reinterpret_cast<void*>(5));
  EXPECT_GE(threads.lastStackBytes, 128u * 1024) << "the job's stack holds a 64 KiB request";
}

TEST_F(ExportsTest, TheJobCopiesItsArgumentsBeforeTheyCanChange) {
  // The job reads the library-wide record once; a later Download may reuse it.
  WriteFile("flashid.dat", "EC 75 01 00 K9F1G08U0A\n");
  flashkit::LibraryAttach();
  EXPECT_EQ(Download(2, 1, 0, reinterpret_cast<FlashkitWindow>(7)), 0);
  EXPECT_EQ(flashkit::State().job.window, reinterpret_cast<void*>(7));
  EXPECT_EQ(flashkit::State().job.mode, 2);
  EXPECT_EQ(posts.codes(),
            std::vector<int>{static_cast<int>(flashkit::JobStatus::ConfigurationError)});
}

}  // namespace

namespace {

// Runs the job on a thread of its own, as the platforms do.
class RealThreads : public platform::Threads {
 public:
  ~RealThreads() override {
    for (std::thread& thread : threads_) thread.join();
  }
  bool Start(void (*entry)(void*), void* argument, std::size_t) override {
    threads_.emplace_back(entry, argument);
    return true;
  }

 private:
  std::vector<std::thread> threads_;
};

// Holds the closing context switch back for a while, as a slow device would.
class SlowClosingSwitch : public platform::ScsiPassThrough {
 public:
  explicit SlowClosingSwitch(platform::ScsiPassThrough& inner) : inner_(inner) {}
  std::vector<std::string> CandidateDrives() override { return inner_.CandidateDrives(); }
  platform::Handle OpenDrive(const std::string& path) override { return inner_.OpenDrive(path); }
  void CloseDrive(platform::Handle drive) override {
    closedAfterSwitch = switched.load();
    inner_.CloseDrive(drive);
  }
  std::uint32_t IoControl(platform::Handle drive, std::uint32_t code, std::uint8_t* area,
                          std::uint32_t inSize, std::uint32_t outSize, void* data) override {
    const bool closing = area[platform::pass_through::kOffCdb + 5] == 0xE1 &&
                         area[platform::pass_through::kOffCdb + 6] == 0x02;
    if (closing) std::this_thread::sleep_for(std::chrono::milliseconds(300));
    const std::uint32_t result = inner_.IoControl(drive, code, area, inSize, outSize, data);
    if (closing) switched = true;
    return result;
  }
  std::atomic<bool> switched{false};
  bool closedAfterSwitch = false;

 private:
  platform::ScsiPassThrough& inner_;
};

// The real clock's Sleep, so that EndDevice's wait takes real time.
class SleepingClock : public doubles::VirtualClock {
 public:
  void Sleep(std::uint32_t milliseconds) override {
    std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
  }
};

class RightAfterSuccess : public ExportsTest, public testing::WithParamInterface<bool> {};

TEST_P(RightAfterSuccess, TheExportWaitsForTheClosingSwitch) {
  WriteFile("flashid.dat", "EC 75 01 00 K9F1G08U0A\n");
  flashkit::LibraryAttach();
  WriteFile("image.bin", std::string(65536, 'I'));
  WriteFile("loader.bin", std::string(100, 'L'));
  WriteFile("K4826.ini", "[Firmware]\nFirmware=" + Path("image.bin") +
                             "\nBootloader=" + Path("loader.bin") + "\n");
  SlowClosingSwitch slow(scsi);
  UseScsi(&slow);
  SleepingClock realClock;
  platform::CurrentPorts().clock = &realClock;
  RealThreads realThreads;
  platform::CurrentPorts().threads = &realThreads;

  ASSERT_EQ(GetDevice(), 3);
  Download(2, 1, 0, reinterpret_cast<FlashkitWindow>(5));
  const int success = static_cast<int>(flashkit::JobStatus::Success);
  for (int wait = 0; wait < 500; ++wait) {
    const std::vector<int> codes = posts.codes();
    if (!codes.empty() && codes.back() == success) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  ASSERT_EQ(posts.codes().back(), success);
  if (GetParam()) {
    EndDevice();  // as the dialog does when the user quits at once
    EXPECT_TRUE(slow.closedAfterSwitch);
  } else {
    EXPECT_EQ(GetDevice(), 3);  // as the dialog does when the user downloads again at once
  }
  EXPECT_TRUE(slow.switched) << "the export returned before the job's last command";
  EXPECT_EQ(posts.codes().back(), success) << "the closing switch must not fail";
  EXPECT_FALSE(flashkit::JobRunning());
  UseScsi(&scsi);
}

INSTANTIATE_TEST_SUITE_P(EndDeviceOrGetDevice, RightAfterSuccess, testing::Bool());

}  // namespace
