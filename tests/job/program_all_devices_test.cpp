// Mass programming against several simulated K4826 devices: pages, waits, serial numbers and
// the production log.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "flashkit/interface/library_state.h"
#include "tests/job/job_fixture.h"

namespace jobtest {
namespace {

using sim::CommandKind;

class AllDevicesTest : public JobFixture {
 public:
  void SetUp() override {
    JobFixture::SetUp();
    LoadFlashTable();
  }
  std::vector<sim::Device*> AddDevices(int count, sim::DeviceConfig first = {}) {
    std::vector<sim::Device*> devices;
    const char* letters[] = {"D", "E", "F", "G"};
    for (int i = 0; i < count; ++i)
      devices.push_back(AddDevice(letters[i], i == 0 ? first : sim::DeviceConfig{}));
    return devices;
  }
  std::string StoredSerial() {
    char value[100];
    profile.GetString("K4826", "serial", "", value, sizeof value, Path("K4826.ini"));
    return value;
  }
  static std::vector<int> Percentages(int pages, int devices) {
    std::vector<int> out;
    for (int d = 0; d < devices; ++d) {
      for (int i = 0; i < pages; ++i) out.push_back((i + 1) * 100 / pages);
    }
    return out;
  }
};

TEST_F(AllDevicesTest, EachDeviceGetsTheSameSequence) {
  const auto devices = AddDevices(2);
  Configure(Pattern(65536));
  Run(2, 0);

  for (sim::Device* device : devices) {
    SCOPED_TRACE(device->Name());
    std::vector<CommandKind> kinds = Kinds(*device);
    kinds.erase(kinds.begin(), kinds.begin() + 2);  // discovery
    ASSERT_EQ(kinds.size(), 66u);
    EXPECT_EQ(kinds.front(), CommandKind::kContextSwitch1) << "nothing is sent before it";
    EXPECT_EQ(kinds.back(), CommandKind::kContextSwitch2);
    const auto pages = Commands(*device, CommandKind::kWriteChunk);
    ASSERT_EQ(pages.size(), 64u);
    for (std::size_t i = 0; i < pages.size(); ++i) {
      EXPECT_EQ(pages[i].length, 512u);
      EXPECT_EQ((Bytes{pages[i].cdb[7], pages[i].cdb[8], pages[i].cdb[9], pages[i].cdb[10],
                       pages[i].cdb[11]}),
                (Bytes{0, 0, 1, static_cast<std::uint8_t>(i), 0}));
    }
    // The first half of the image, from its start, for every device.
    const Bytes stored = device->StoredBank(0);
    EXPECT_EQ(Bytes(stored.begin(), stored.begin() + 32768),
              Bytes(image.begin(), image.begin() + 32768));
    const auto end = Commands(*device, CommandKind::kContextSwitch2).at(0);
    EXPECT_EQ((Bytes{end.cdb[7], end.cdb[8], end.cdb[9], end.cdb[10]}), (Bytes{0, 0, 1, 63}));
  }
  EXPECT_EQ(clock.sleeps, (std::vector<std::uint32_t>{5000, 5000}));
  EXPECT_EQ(posts.progress(), Percentages(64, 2));
  EXPECT_EQ(posts.codes().size(), 128u) << "no final message";
  EXPECT_EQ(GetDeviceStatus(0), 1);
  EXPECT_EQ(GetDeviceStatus(1), 1);
}

TEST_F(AllDevicesTest, AFailedPageStopsThatDeviceOnly) {
  sim::DeviceConfig failing;
  failing.failRules.push_back({CommandKind::kWriteChunk, 11});  // page 10
  const auto devices = AddDevices(2, failing);
  Configure(Pattern(65536));
  Run(2, 0);
  EXPECT_EQ(Commands(*devices[0], CommandKind::kWriteChunk).size(), 11u);
  EXPECT_EQ(Commands(*devices[0], CommandKind::kContextSwitch2).size(), 1u);
  EXPECT_EQ(Commands(*devices[0], CommandKind::kContextSwitch2)[0].cdb[10], 10)
      << "the last sequence number sent";
  EXPECT_EQ(Commands(*devices[1], CommandKind::kWriteChunk).size(), 64u);
  EXPECT_EQ(posts.progress(), Percentages(64, 2)) << "skipped pages are reported all the same";
  EXPECT_EQ(GetDeviceStatus(0), 0);
  EXPECT_EQ(GetDeviceStatus(1), 1);
}

TEST_F(AllDevicesTest, SerialNumbersAndTheLog) {
  const auto devices = AddDevices(3);
  Configure(Pattern(131072), 3000, "[K4826]\nserial=01234567890\n");
  Run(2, 0, 1);

  const std::string serials[] = {
      "123450001"
      "01234567891",
      "123450001"
      "01234567892",
      "123450001"
      "01234567893"};
  for (int i = 0; i < 3; ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(flashkit::State().devices[i]->serial, serials[i]);
    // Page 122 carries the DescriptorBlock with the device's own serial string.
    const Bytes stored = devices[i]->StoredBank(0);
    const Bytes page(stored.begin() + 122 * 512, stored.begin() + 123 * 512);
    EXPECT_EQ((Bytes{page[0], page[1], page[2], page[3]}), (Bytes{0x02, 0x04, 0x26, 0x48}));
    EXPECT_EQ(std::string(page.begin() + 26, page.begin() + 46), serials[i]);
    EXPECT_EQ(std::string(page.begin() + 4, page.begin() + 26),
              std::string("USB 2.0 Storage Device"));
    EXPECT_EQ(Bytes(stored.begin() + 121 * 512, stored.begin() + 122 * 512),
              Bytes(image.begin() + 121 * 512, image.begin() + 122 * 512));
  }
  EXPECT_EQ(StoredSerial(), "01234567893");
  EXPECT_EQ(ReadText("K4826.log"), "2026/12/11 09:05  " + serials[0] + "  OK\r\n" +
                                       "2026/12/11 09:05  " + serials[1] + "  OK\r\n" +
                                       "2026/12/11 09:05  " + serials[2] + "  OK\r\n");

  // The next job goes on from the stored number, and the log grows.
  Run(2, 0, 1);
  EXPECT_EQ(flashkit::State().devices[0]->serial,
            "123450001"
            "01234567894");
  EXPECT_EQ(StoredSerial(), "01234567896");
  const std::string log = ReadText("K4826.log");
  EXPECT_EQ(std::count(log.begin(), log.end(), '\n'), 6);
}

TEST_F(AllDevicesTest, SerialNumbersAreStoredBeforeTheDescriptorPageGoesOut) {
  // The log cannot be opened, so the job ends before any line is written: the numbers given
  // out are stored all the same and can never be given out again.
  AddDevices(2);
  Configure(Pattern(131072), 3000, "[K4826]\nserial=00000000041\n");
  std::filesystem::create_directory(Path("K4826.log"));
  Run(2, 0, 1);
  EXPECT_EQ(StoredSerial(), "00000000043");
  EXPECT_EQ(posts.codes().back(), Code(JobStatus::FileMissing));
}

TEST_F(AllDevicesTest, ALogLineThatCannotBeWrittenIsReported) {
  AddDevices(1);
  Configure(Pattern(131072), 3000, "[K4826]\nserial=00000000041\n");
  std::filesystem::create_symlink("/dev/full", Path("K4826.log"));  // a full disk
  Run(2, 0, 1);
  EXPECT_EQ(posts.codes().back(), Code(JobStatus::FileMissing));
  EXPECT_EQ(StoredSerial(), "00000000042") << "the number given out stays stored";
}

TEST_F(AllDevicesTest, ADeviceWithoutANumberStoresNothing) {
  sim::DeviceConfig failing;
  failing.failRules.push_back({CommandKind::kWriteChunk, 6});  // fails before page 122
  AddDevices(2, failing);
  Configure(Pattern(131072), 3000, "[K4826]\nserial=01234567890\n");
  Run(2, 0, 1);
  EXPECT_EQ(flashkit::State().devices[0]->serial, "");
  EXPECT_EQ(flashkit::State().devices[1]->serial,
            "123450001"
            "01234567891");
  EXPECT_EQ(StoredSerial(), "01234567891") << "never erased nor set back";
  EXPECT_EQ(ReadText("K4826.log"),
            "2026/12/11 09:05    FAIL\r\n"
            "2026/12/11 09:05  12345000101234567891  OK\r\n");
}

TEST_F(AllDevicesTest, DescriptorPageIsImageDataWhenInitialSaysSo) {
  const auto devices = AddDevices(1);
  Configure(Pattern(131072), 3000, "[K4826]\nserial=01234567890\ninitial=64\n");
  Run(2, 0, 1);
  const Bytes stored = devices[0]->StoredBank(0);
  EXPECT_EQ(Bytes(stored.begin() + 122 * 512, stored.begin() + 123 * 512),
            Bytes(image.begin() + 122 * 512, image.begin() + 123 * 512));
  EXPECT_EQ(flashkit::State().devices[0]->serial, "");
  EXPECT_EQ(StoredSerial(), "01234567890");
}

TEST_F(AllDevicesTest, LoaderModeSendsTwelvePagesWithTheLoaderLength) {
  const auto devices = AddDevices(1);
  Configure(Pattern(65536), 6000);
  Run(1, 0);
  const auto pages = Commands(*devices[0], CommandKind::kWriteChunk);
  ASSERT_EQ(pages.size(), 12u);
  for (const auto& page : pages) {
    EXPECT_EQ(page.cdb[7], 0x10);
    EXPECT_EQ(page.cdb[8], 0x00);
  }
  const Bytes stored = devices[0]->StoredBank(0);
  EXPECT_EQ(Bytes(stored.begin(), stored.begin() + 4096),
            Bytes(loader.begin(), loader.begin() + 4096));
  EXPECT_EQ(posts.progress(), (std::vector<int>{8, 16, 25, 33, 41, 50, 58, 66, 75, 83, 91, 100}));
}

TEST_F(AllDevicesTest, EmptyListSendsAndLogsNothing) {
  Configure(Pattern(65536));
  Run(2, 0, 1);
  EXPECT_TRUE(posts.codes().empty());
  EXPECT_FALSE(std::filesystem::exists(Path("K4826.log")));
}

}  // namespace
}  // namespace jobtest
