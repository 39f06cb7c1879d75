#include "platform/posix/sg_pass_through.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <cerrno>
#include <cstring>
#include <vector>

#include "tests/data/temp_folder.h"

namespace platform {
namespace {

namespace pt = pass_through;
using flashkit_test::TempFolder;

TEST(SgCandidates, NodesInNumericOrder) {
  TempFolder folder;
  for (const char* name :
       {"sg10", "sg2", "sg0", "sg9", "sg1", "sg11", "sgx", "sg", "sda", "sg1a"}) {
    folder.Write(name, "");
  }
  const std::string base = folder.path().string();
  EXPECT_EQ(SgNodesIn(base),
            (std::vector<std::string>{base + "/sg0", base + "/sg1", base + "/sg2", base + "/sg9",
                                      base + "/sg10", base + "/sg11"}));
  EXPECT_TRUE(SgNodesIn(folder.File("absent")).empty());
}

TEST(SgCandidates, EnvironmentListIsTakenExactly) {
  EXPECT_EQ(ParseSgDeviceList("/dev/sg3:/dev/sg1::/tmp/fake:"),
            (std::vector<std::string>{"/dev/sg3", "/dev/sg1", "/tmp/fake"}));
  EXPECT_TRUE(ParseSgDeviceList("").empty());

  const char* saved = getenv(kSgDevicesVariable);
  const std::string restore = saved ? saved : "";
  SgPassThrough scsi;
  setenv(kSgDevicesVariable, "/dev/sg7:/dev/sdb", 1);
  EXPECT_EQ(scsi.CandidateDrives(), (std::vector<std::string>{"/dev/sg7", "/dev/sdb"}));
  setenv(kSgDevicesVariable, "", 1);  // set but empty: probe nothing
  EXPECT_TRUE(scsi.CandidateDrives().empty());
  unsetenv(kSgDevicesVariable);
  EXPECT_EQ(scsi.CandidateDrives(), SgNodesIn("/dev"));
  if (saved) setenv(kSgDevicesVariable, restore.c_str(), 1);
}

// A request area as the envelope builds it.
std::vector<std::uint8_t> Area(std::size_t size, std::uint8_t dataIn, std::uint32_t length,
                               std::uint32_t seconds, std::uint8_t cdbLength = 12) {
  std::vector<std::uint8_t> area(size, 0);
  area[pt::kOffLength] = pt::kStructSize;
  area[pt::kOffCdbLength] = cdbLength;
  area[pt::kOffSenseInfoLength] = pt::kSenseLength;
  area[pt::kOffDataIn] = dataIn;
  std::memcpy(&area[pt::kOffDataTransferLength], &length, 4);
  std::memcpy(&area[pt::kOffTimeOutValue], &seconds, 4);
  area[pt::kOffSenseInfoOffset] = pt::kSenseOffset;
  for (std::size_t i = 0; i < 16; ++i) area[pt::kOffCdb + i] = static_cast<std::uint8_t>(0xF5 + i);
  return area;
}

TEST(SgDecode, BufferedReadCarriesItsDataInsideTheArea) {
  auto area = Area(pt::kReadAreaSize, pt::kDataInFlag, 65536, 10);
  sg_io_hdr_t h;
  ASSERT_EQ(DecodePassThrough(pt::kIoctlPassThrough, area.data(), pt::kStructSize,
                              pt::kReadAreaSize, nullptr, h),
            0u);
  EXPECT_EQ(h.interface_id, 'S');
  EXPECT_EQ(h.dxfer_direction, SG_DXFER_FROM_DEV);
  EXPECT_EQ(h.dxferp, area.data() + pt::kDataOffset);
  EXPECT_EQ(h.dxfer_len, 65536u);
  EXPECT_EQ(h.cmdp, area.data() + pt::kOffCdb);
  EXPECT_EQ(h.cmd_len, 12);
  EXPECT_EQ(h.sbp, area.data() + pt::kSenseOffset);
  EXPECT_EQ(h.mx_sb_len, pt::kSenseLength);
  EXPECT_EQ(h.timeout, 10000u);
  EXPECT_EQ(h.iovec_count, 0);
}

TEST(SgDecode, DirectWriteUsesTheCallersBuffer) {
  auto area = Area(pt::kWriteAreaSize, pt::kDataOut, 1024, 3, 16);
  std::vector<std::uint8_t> data(1024, 0x5A);
  sg_io_hdr_t h;
  ASSERT_EQ(DecodePassThrough(pt::kIoctlPassThroughDirect, area.data(), pt::kWriteAreaSize,
                              pt::kWriteAreaSize, data.data(), h),
            0u);
  EXPECT_EQ(h.dxfer_direction, SG_DXFER_TO_DEV);
  EXPECT_EQ(h.dxferp, data.data());
  EXPECT_EQ(h.dxfer_len, 1024u);
  EXPECT_EQ(h.cmd_len, 16);
  EXPECT_EQ(h.timeout, 3000u);
}

TEST(SgDecode, NoDataMeansNoTransfer) {
  auto area = Area(pt::kWriteAreaSize, pt::kDataInFlag, 0, 0, 6);
  sg_io_hdr_t h;
  ASSERT_EQ(DecodePassThrough(pt::kIoctlPassThroughDirect, area.data(), 80, 80, nullptr, h), 0u);
  EXPECT_EQ(h.dxfer_direction, SG_DXFER_NONE);
  EXPECT_EQ(h.dxferp, nullptr);
  EXPECT_EQ(h.dxfer_len, 0u);
}

TEST(SgDecode, RequestsThatDoNotFitAreRefused) {
  sg_io_hdr_t h;
  auto over = Area(pt::kDataOffset + 512, pt::kDataInFlag, 513, 5);
  EXPECT_EQ(DecodePassThrough(pt::kIoctlPassThrough, over.data(), 80, 80 + 512, nullptr, h),
            static_cast<std::uint32_t>(EINVAL));
  auto direct = Area(80, pt::kDataOut, 16, 5);
  EXPECT_EQ(DecodePassThrough(pt::kIoctlPassThroughDirect, direct.data(), 80, 80, nullptr, h),
            static_cast<std::uint32_t>(EINVAL));
  auto longCdb = Area(80, pt::kDataOut, 0, 5, 17);
  EXPECT_EQ(DecodePassThrough(pt::kIoctlPassThroughDirect, longCdb.data(), 80, 80, nullptr, h),
            static_cast<std::uint32_t>(EINVAL));
  auto noCdb = Area(80, pt::kDataOut, 0, 5, 0);
  EXPECT_EQ(DecodePassThrough(pt::kIoctlPassThroughDirect, noCdb.data(), 80, 80, nullptr, h),
            static_cast<std::uint32_t>(EINVAL));
  auto bothWays = Area(80, 2, 16, 5);
  std::uint8_t data[16];
  EXPECT_EQ(DecodePassThrough(pt::kIoctlPassThroughDirect, bothWays.data(), 80, 80, data, h),
            static_cast<std::uint32_t>(EINVAL));
  auto small = Area(80, pt::kDataOut, 0, 5);  // but said to be 40 bytes long
  EXPECT_EQ(DecodePassThrough(pt::kIoctlPassThroughDirect, small.data(), 40, 40, nullptr, h),
            static_cast<std::uint32_t>(EINVAL));
  EXPECT_EQ(DecodePassThrough(0x2D1400, direct.data(), 80, 80, nullptr, h),
            static_cast<std::uint32_t>(ENOTTY));
}

TEST(SgResult, HostAndDriverStatusDecideTheSCSIStatusDoesNot) {
  struct Case {
    std::uint16_t host, driver;
    std::uint8_t status;
    std::uint32_t result;
  };
  const Case cases[] = {
      {0, 0, 0, 0},      {0, 0x08, 0x02, 0},  // check condition with sense: carried out
      {0, 0, 0x18, 0},                        // reservation conflict: still carried out
      {0x01, 0, 0, EIO}, {0x03, 0, 0, ETIMEDOUT}, {0, 0x06, 0, ETIMEDOUT},
      {0, 0x04, 0, EIO}, {0x07, 0x08, 0, EIO},
  };
  for (const Case& c : cases) {
    sg_io_hdr_t h{};
    h.host_status = c.host;
    h.driver_status = c.driver;
    h.status = c.status;
    EXPECT_EQ(JudgeSgResult(h), c.result) << c.host << "/" << c.driver;
  }
}

TEST(SgResult, OutcomeIsWrittenBackIntoTheArea) {
  auto area = Area(pt::kReadAreaSize, pt::kDataInFlag, 512, 5);
  sg_io_hdr_t h{};
  h.status = 0x02;
  h.sb_len_wr = 18;
  h.dxfer_len = 512;
  h.resid = 112;
  StoreSgResult(h, area.data());
  EXPECT_EQ(area[pt::kOffScsiStatus], 0x02);
  EXPECT_EQ(area[pt::kOffSenseInfoLength], 18);
  std::uint32_t moved = 0;
  std::memcpy(&moved, &area[pt::kOffDataTransferLength], 4);
  EXPECT_EQ(moved, 400u);
}

TEST(SgDrive, FailuresAreReportedAsErrors) {
  SgPassThrough scsi;
  TempFolder folder;
  EXPECT_EQ(scsi.OpenDrive(folder.File("absent")), nullptr);
  scsi.CloseDrive(nullptr);
  auto area = Area(80, pt::kDataInFlag, 0, 5, 6);
  EXPECT_NE(scsi.IoControl(nullptr, pt::kIoctlPassThroughDirect, area.data(), 80, 80, nullptr), 0u);

  // A plain file opens but does not take SG_IO: the request fails with the ioctl's error.
  Handle drive = scsi.OpenDrive(folder.Write("plain", "data"));
  ASSERT_NE(drive, nullptr);
  EXPECT_NE(scsi.IoControl(drive, pt::kIoctlPassThroughDirect, area.data(), 80, 80, nullptr), 0u);
  scsi.CloseDrive(drive);
}

}  // namespace
}  // namespace platform
