// The single-device job against a simulated K4826: what reached the device and what the host saw.
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>

#include "flashkit/interface/library_state.h"
#include "flashkit/job/job_buffer.h"
#include "tests/job/job_fixture.h"

namespace jobtest {
namespace {

using sim::CommandKind;

class OneDeviceTest : public JobFixture {
 protected:
  void SetUp() override {
    JobFixture::SetUp();
    device = AddDevice("D");
    LoadFlashTable();
  }
  std::vector<int> codes() const { return posts.codes(); }
  // The codes other than Progress, in order.
  std::vector<int> outcomes() const {
    std::vector<int> out;
    for (int code : posts.codes()) {
      if (code != kProgress) out.push_back(code);
    }
    return out;
  }
  sim::Device* device = nullptr;
};

TEST_F(OneDeviceTest, OneBankFirmwareDownload) {
  Configure(Pattern(65536));
  Run(2, 1);

  const std::vector<CommandKind> expectedStart = {
      CommandKind::kLoadBootLoader, CommandKind::kContextSwitch1, CommandKind::kReadFlashIds,
      CommandKind::kSetFlashType};
  std::vector<CommandKind> kinds = Kinds(*device);
  kinds.erase(kinds.begin(), kinds.begin() + 2);  // discovery's INQUIRY and identify
  ASSERT_GE(kinds.size(), 4u + 65 + 2);
  EXPECT_EQ(std::vector<CommandKind>(kinds.begin(), kinds.begin() + 4), expectedStart);
  EXPECT_EQ(kinds[4 + 65], CommandKind::kReadBank);
  EXPECT_EQ(kinds.back(), CommandKind::kContextSwitch2);
  EXPECT_EQ(kinds.size(), 4u + 65 + 2);

  const auto loaderCommand = Commands(*device, CommandKind::kLoadBootLoader).at(0);
  EXPECT_EQ(loaderCommand.cdb[7], 0x00);
  EXPECT_EQ(loaderCommand.cdb[8], 0x0B);
  EXPECT_EQ(loaderCommand.cdb[9], 0xB8);
  EXPECT_EQ(device->BootLoader(), loader);

  const auto chunks = Commands(*device, CommandKind::kWriteChunk);
  ASSERT_EQ(chunks.size(), 65u);
  for (std::size_t i = 0; i < 64; ++i) {
    EXPECT_EQ(chunks[i].length, 1024u);
    EXPECT_EQ(chunks[i].cdb[7], 0x04);
    EXPECT_EQ(chunks[i].cdb[8], 0x00);
    EXPECT_EQ(chunks[i].cdb[9], 0) << i;
    EXPECT_EQ(chunks[i].cdb[10], i);
    EXPECT_EQ(chunks[i].cdb[11], 0x01) << "the flash's parameter byte";
  }
  EXPECT_EQ(chunks[64].length, 0u);
  EXPECT_EQ(chunks[64].cdb[9], 1) << "closing chunk carries the bank count";
  EXPECT_EQ(chunks[64].cdb[10], 64);
  const auto setType = Commands(*device, CommandKind::kSetFlashType).at(0);
  EXPECT_EQ(setType.cdb[10], 1);
  EXPECT_EQ(setType.cdb[11], 0x01);

  // The device keeps data of its own in the first 4 KiB; the comparison must not see it.
  EXPECT_EQ(device->StoredBank(0), image);
  const Bytes readBack = device->ReadBackBank(0);
  EXPECT_NE(Bytes(readBack.begin(), readBack.begin() + 4096),
            Bytes(image.begin(), image.begin() + 4096));

  std::vector<int> expectedProgress;
  for (int n = 1; n <= 64; ++n) expectedProgress.push_back(n * 100 / 64);
  EXPECT_EQ(posts.progress(), expectedProgress);
  EXPECT_EQ(expectedProgress[0], 1);
  EXPECT_EQ(expectedProgress[2], 4);
  const auto all = posts.posts();
  ASSERT_EQ(all.size(), 66u);
  EXPECT_EQ(all.front().lParam, Code(JobStatus::FlashIdentified));
  EXPECT_EQ(all.front().wParam, 0x75u * 256 + 0xEC);
  EXPECT_EQ(all.back().lParam, Code(JobStatus::Success));
  for (const auto& post : all) {
    EXPECT_EQ(post.window, window());
    EXPECT_EQ(post.message, 0x8001u);
  }

  EXPECT_EQ(ReadBytes("Verify.bin"), readBack);
  unsigned char info[512];
  GetDeviceInfo(12345, info);
  EXPECT_EQ(Bytes(info, info + 256), Bytes(readBack.begin() + 0xFF00, readBack.end()));
  EXPECT_EQ(Bytes(info + 256, info + 512), Bytes(256, 0));
}

TEST_F(OneDeviceTest, MultiBankImagesNumberAndCloseTheirChunks) {
  for (int banks : {2, 3, 5}) {
    SCOPED_TRACE(banks);
    ResetBus();
    device = AddDevice("D");
    Configure(Pattern(65536u * banks, static_cast<std::uint8_t>(banks)));
    Run(2, 1);
    const auto chunks = Commands(*device, CommandKind::kWriteChunk);
    ASSERT_EQ(chunks.size(), 64u * banks + 1);
    for (std::size_t i = 0; i < chunks.size() - 1; ++i) {
      ASSERT_EQ(chunks[i].cdb[10], i % 256) << "sequence numbers wrap at 256";
      ASSERT_EQ(chunks[i].cdb[9], i / 64);
    }
    EXPECT_EQ(chunks.back().cdb[9], banks);
    EXPECT_EQ(chunks.back().cdb[10], (64 * banks) % 256);
    if (banks == 3) {
      const auto& firstOfBank2 = chunks[128];
      EXPECT_EQ((Bytes{firstOfBank2.cdb[7], firstOfBank2.cdb[8], firstOfBank2.cdb[9],
                       firstOfBank2.cdb[10], firstOfBank2.cdb[11]}),
                (Bytes{0x04, 0x00, 0x02, 128, 0x01}));
    }
    const auto reads = Commands(*device, CommandKind::kReadBank);
    ASSERT_EQ(reads.size(), static_cast<std::size_t>(banks));
    for (int k = 0; k < banks; ++k) EXPECT_EQ(reads[k].cdb[8], k);
    EXPECT_EQ(outcomes().back(), Code(JobStatus::Success));
    EXPECT_EQ(posts.progress().size(), 64u * banks);
    EXPECT_EQ(posts.progress().back(), 100);
    EXPECT_EQ(ReadBytes("Verify.bin").size(), 65536u * banks);
    for (int k = 0; k < banks; ++k) {
      EXPECT_EQ(device->StoredBank(k),
                Bytes(image.begin() + 65536 * k, image.begin() + 65536 * (k + 1)));
    }
  }
}

TEST_F(OneDeviceTest, ComparedRegionsOfEachBank) {
  struct Case {
    int banks;
    std::uint8_t bank;
    std::uint16_t offset;
    bool fails;
  };
  const Case cases[] = {
      {1, 0, 4095, false}, {1, 0, 4096, true},  // one bank: its first 4 KiB are the device's
      {2, 0, 100, true},                        // bank 0 of a larger image is compared in full
      {2, 1, 8191, false}, {2, 1, 8192, true},  // the last bank from 8 KiB on
      {3, 1, 0, true},                          // middle banks in full
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message()
                 << c.banks << " banks, bank " << int(c.bank) << " offset " << c.offset);
    ResetBus();
    sim::DeviceConfig config;
    config.corruptRules.push_back({c.bank, c.offset});
    device = AddDevice("D", config);
    Configure(Pattern(65536u * c.banks));
    Run(2, 1);
    EXPECT_EQ(outcomes().back(), Code(c.fails ? JobStatus::VerifyError : JobStatus::Success));
    if (c.fails) {
      // The dump holds every bank read up to the one that differed.
      EXPECT_EQ(ReadBytes("Verify.bin").size(), 65536u * (c.bank + 1));
      EXPECT_TRUE(Commands(*device, CommandKind::kContextSwitch2).empty());
    }
  }
}

TEST_F(OneDeviceTest, ShortLastBankIsComparedOverTheFileOnly) {
  Configure(Pattern(100000));
  Run(2, 1);
  EXPECT_EQ(Commands(*device, CommandKind::kWriteChunk).size(), 129u);
  EXPECT_EQ(posts.progress().size(), 128u);
  EXPECT_EQ(outcomes().back(), Code(JobStatus::Success));
  // What lies past the file's end goes out as zeros.
  const Bytes bank1 = device->StoredBank(1);
  EXPECT_EQ(Bytes(bank1.begin() + (100000 - 65536), bank1.end()), Bytes(131072 - 100000, 0));
}

TEST_F(OneDeviceTest, DescriptorMode) {
  Configure(Pattern(65536), 3000,
            "[K4826]\nVID=1234\nPID=abcd\ndescriptor=Field Disk\nmanufacturer=ACME1\n");
  Run(3, 1);
  const auto loaderCommand = Commands(*device, CommandKind::kLoadBootLoader).at(0);
  EXPECT_EQ((Bytes{loaderCommand.cdb[7], loaderCommand.cdb[8], loaderCommand.cdb[9]}),
            (Bytes{0x01, 0x0B, 0xB8}));
  const auto write = Commands(*device, CommandKind::kWriteDescriptor).at(0);
  EXPECT_EQ(write.length, 46u);
  EXPECT_EQ((Bytes{write.cdb[7], write.cdb[8], write.cdb[9], write.cdb[10], write.cdb[11]}),
            (Bytes{0x00, 0x2E, 0x40, 1, 0x01}));
  Bytes expected(46, 0);
  expected[0] = 0x34;
  expected[1] = 0x12;
  expected[2] = 0xCD;
  expected[3] = 0xAB;
  const std::string product = "Field Disk";
  const std::string serial = "ACME1000101234567890";
  std::copy(product.begin(), product.end(), expected.begin() + 4);
  std::copy(serial.begin(), serial.end(), expected.begin() + 26);
  EXPECT_EQ(device->Descriptor(), expected);
  const auto read = Commands(*device, CommandKind::kReadBank).at(0);
  EXPECT_EQ((Bytes{read.cdb[7], read.cdb[8], read.cdb[9], read.cdb[10], read.cdb[11]}),
            (Bytes{0x00, 0x00, 0x40, 1, 0x01}));
  const auto end = Commands(*device, CommandKind::kContextSwitch2).at(0);
  EXPECT_EQ((Bytes{end.cdb[10], end.cdb[11]}), (Bytes{1, 0x01}));
  EXPECT_TRUE(Commands(*device, CommandKind::kWriteChunk).empty());
  EXPECT_EQ(codes(), (std::vector<int>{Code(JobStatus::FlashIdentified), kProgress,
                                       Code(JobStatus::Success)}));
  EXPECT_EQ(posts.progress(), std::vector<int>{100});
}

TEST_F(OneDeviceTest, OtherModesEndAfterSetFlashType) {
  for (int mode : {1, 4, 7}) {
    SCOPED_TRACE(mode);
    ResetBus();
    device = AddDevice("D");
    Configure(Pattern(65536));
    Run(mode, 1);
    EXPECT_EQ(Kinds(*device).back(), CommandKind::kSetFlashType);
    EXPECT_EQ(codes(), std::vector<int>{Code(JobStatus::FlashIdentified)});
  }
}

TEST_F(OneDeviceTest, SecondFlashPairIsMatched) {
  sim::DeviceConfig config;
  config.flashIds = {0x00, 0x00, 0xEC, 0x75, 0xAD, 0xF1, 0, 0};
  ResetBus();
  device = AddDevice("D", config);
  Configure(Pattern(65536));
  Run(2, 1);
  EXPECT_EQ(posts.posts().front().wParam, 0x75u * 256 + 0xEC);
  EXPECT_EQ(outcomes().back(), Code(JobStatus::Success));
}

TEST_F(OneDeviceTest, HexFirmwareIsConvertedBesideItself) {
  // One data record at 0x0100 and the end record.
  WriteFile("IMAGE.HEX", ":10010000000102030405060708090A0B0C0D0E0F77\n:00000001FF\n");
  WriteFile("loader.bin", std::string(3000, 'L'));
  WriteIni("[Firmware]\nFirmware=" + Path("IMAGE.HEX") + "\nBootloader=" + Path("loader.bin") +
           "\n");
  Run(2, 1);
  const Bytes converted = ReadBytes("IMAGE.bin");
  ASSERT_EQ(converted.size(), 65536u);
  EXPECT_EQ(converted[0x100 + 15], 0x0F);
  EXPECT_EQ(Commands(*device, CommandKind::kWriteChunk).size(), 65u);
  EXPECT_EQ(outcomes().back(), Code(JobStatus::Success));
}

// Each way a job can fail: its code is the last message, nothing follows it, and no buffer or
// file is left behind (the sanitizer build checks the leaks).
struct FailureCase {
  const char* name;
  JobStatus code;
  std::function<void(OneDeviceTest&, sim::DeviceConfig&)> arrange;
  bool deviceTouched;
  int device = 1;
};

class OneDeviceFailureTest : public OneDeviceTest,
                             public testing::WithParamInterface<FailureCase> {};

TEST_P(OneDeviceFailureTest, PostsItsCodeLast) {
  const FailureCase& c = GetParam();
  sim::DeviceConfig config;
  Configure(Pattern(65536 * 2));
  c.arrange(*this, config);
  ResetBus();
  device = AddDevice("D", config);
  Run(2, c.device);
  const std::vector<int> seen = outcomes();
  ASSERT_FALSE(seen.empty());
  EXPECT_EQ(posts.codes().back(), Code(c.code));
  for (std::size_t i = 0; i + 1 < seen.size(); ++i) {
    EXPECT_TRUE(seen[i] == Code(JobStatus::FlashIdentified) || seen[i] == Code(JobStatus::Success))
        << "only one ending code per job";
  }
  const std::size_t discoveryCommands = 2;
  EXPECT_EQ(device->Trace().size() > discoveryCommands, c.deviceTouched);
}

sim::FailRule Fail(CommandKind kind, std::uint64_t nth = 0) { return {kind, nth}; }

const FailureCase kFailures[] = {
    {"NoFlashTable", JobStatus::FileMissing,
     [](OneDeviceTest&, sim::DeviceConfig&) { flashkit::State().flashTableLoaded = 0; }, false},
    {"FirmwareKeyMissing", JobStatus::ConfigurationError,
     [](OneDeviceTest& t, sim::DeviceConfig&) {
       // The boot loader named here does not exist: it is never looked at.
       t.WriteIni("[Firmware]\nBootloader=" + t.Path("nothing.bin") + "\n");
     },
     false},
    {"FirmwareEmpty", JobStatus::ConfigurationError,
     [](OneDeviceTest& t, sim::DeviceConfig&) {
       t.WriteIni("[Firmware]\nFirmware=\nBootloader=" + t.Path("loader.bin") + "\n");
     },
     false},
    {"FirmwareFileMissing", JobStatus::FileMissing,
     [](OneDeviceTest& t, sim::DeviceConfig&) { std::filesystem::remove(t.Path("image.bin")); },
     false},
    {"FirmwareExtensionUnknown", JobStatus::ConfigurationError,
     [](OneDeviceTest& t, sim::DeviceConfig&) {
       t.WriteFile("image.img", "x");
       t.WriteIni("[Firmware]\nFirmware=" + t.Path("image.img") +
                  "\nBootloader=" + t.Path("loader.bin") + "\n");
     },
     false},
    {"DotOnlyInAFolderName", JobStatus::ConfigurationError,
     [](OneDeviceTest& t, sim::DeviceConfig&) {
       std::filesystem::create_directories(t.Path("fw.old"));
       t.WriteFile("fw.old/image", "x");
       t.WriteIni("[Firmware]\nFirmware=" + t.Path("fw.old/image") +
                  "\nBootloader=" + t.Path("loader.bin") + "\n");
     },
     false},
    {"BrokenHexImage", JobStatus::FileMissing,
     [](OneDeviceTest& t, sim::DeviceConfig&) {
       t.WriteFile("bad.hex", ":10010000000102030405060708090A0B0C0D0E0F00\n:00000001FF\n");
       t.WriteIni("[Firmware]\nFirmware=" + t.Path("bad.hex") +
                  "\nBootloader=" + t.Path("loader.bin") + "\n");
     },
     false},
    {"EmptyImage", JobStatus::FileMissing,
     [](OneDeviceTest& t, sim::DeviceConfig&) { t.WriteFile("image.bin", ""); }, false},
    {"BootloaderKeyMissing", JobStatus::ConfigurationError,
     [](OneDeviceTest& t, sim::DeviceConfig&) {
       t.WriteIni("[Firmware]\nFirmware=" + t.Path("image.bin") + "\n");
     },
     false},
    {"BootloaderFileMissing", JobStatus::FileMissing,
     [](OneDeviceTest& t, sim::DeviceConfig&) { std::filesystem::remove(t.Path("loader.bin")); },
     false},
    {"BootloaderTooLarge", JobStatus::FileMissing,
     [](OneDeviceTest& t, sim::DeviceConfig&) {
       t.WriteFile("loader.bin", std::string(65536, 'L'));
     },
     false},
    {"ImageBufferAllocation", JobStatus::OutOfMemory,
     [](OneDeviceTest&, sim::DeviceConfig&) { flashkit::FailJobAllocationAfter(1); }, false},
    {"ImageBufferResize", JobStatus::OutOfMemory,
     [](OneDeviceTest&, sim::DeviceConfig&) { flashkit::FailJobAllocationAfter(2); }, false},
    {"ReadBackAllocation", JobStatus::OutOfMemory,
     [](OneDeviceTest&, sim::DeviceConfig&) { flashkit::FailJobAllocationAfter(3); }, true},
    {"FirstContextSwitch", JobStatus::ContextSwitchFailed,
     [](OneDeviceTest&, sim::DeviceConfig& c) {
       c.failRules.push_back(Fail(CommandKind::kContextSwitch1));
     },
     true},
    {"FlashIdsUnreadable", JobStatus::UnknownFlash,
     [](OneDeviceTest& t, sim::DeviceConfig& c) {
       // Even a table that lists the pair (00, 00) must not match a failed read.
       t.LoadFlashTable("00 00 03 00 Zero\nEC 75 01 00 K9F1G08U0A\n");
       c.failRules.push_back(Fail(CommandKind::kReadFlashIds));
     },
     true},
    {"FlashNotListed", JobStatus::UnknownFlash,
     [](OneDeviceTest&, sim::DeviceConfig& c) { c.flashIds = {0x98, 0xD3, 0, 0, 0, 0, 0, 0}; },
     true},
    {"TenthChunk", JobStatus::TransferFailed,
     [](OneDeviceTest&, sim::DeviceConfig& c) {
       c.failRules.push_back(Fail(CommandKind::kWriteChunk, 10));
     },
     true},
    {"ReadBank", JobStatus::TransferFailed,
     [](OneDeviceTest&, sim::DeviceConfig& c) {
       c.failRules.push_back(Fail(CommandKind::kReadBank, 2));
     },
     true},
    {"ReadBackDiffers", JobStatus::VerifyError,
     [](OneDeviceTest&, sim::DeviceConfig& c) {
       c.corruptRules.push_back({0, 5000});
     },
     true},
    {"LastContextSwitch", JobStatus::ContextSwitchFailed,
     [](OneDeviceTest&, sim::DeviceConfig& c) {
       c.failRules.push_back(Fail(CommandKind::kContextSwitch2));
     },
     true},
    {"LibraryFolderUnknown", JobStatus::ConfigurationError,
     [](OneDeviceTest& t, sim::DeviceConfig&) { t.system.moduleFolder.clear(); }, false},
    {"DeviceBeyondTheList", JobStatus::TransferFailed, [](OneDeviceTest&, sim::DeviceConfig&) {},
     false, 2},
};

INSTANTIATE_TEST_SUITE_P(Failures, OneDeviceFailureTest, testing::ValuesIn(kFailures),
                         [](const testing::TestParamInfo<FailureCase>& info) {
                           return std::string(info.param.name);
                         });

}  // namespace
}  // namespace jobtest
