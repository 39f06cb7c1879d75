// The exported interface: what each export gives back, and the library's load-time table.
#include <gtest/gtest.h>

#include "flashkit/interface/flashkit.h"
#include "flashkit/interface/library_state.h"
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
