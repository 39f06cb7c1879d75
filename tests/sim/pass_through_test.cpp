#include <gtest/gtest.h>

#include <cstring>
#include <functional>

#include "platform/simulated/simulated_scsi_pass_through.h"
#include "tests/sim/sim_helpers.h"

namespace {

namespace pt = platform::pass_through;
using platform::SimulatedScsiPassThrough;

void Put32(std::uint8_t* area, std::size_t offset, std::uint32_t value) {
  for (int i = 0; i < 4; ++i) area[offset + i] = static_cast<std::uint8_t>(value >> (8 * i));
}

// A request area filled as the library's carriers fill it.
std::vector<std::uint8_t> Area(bool buffered, const simtest::Cdb& cdb, std::uint32_t length,
                               std::uint8_t cdbLength = 12, const void* direct = nullptr) {
  std::vector<std::uint8_t> area(buffered ? pt::kReadAreaSize : pt::kWriteAreaSize);
  area[pt::kOffLength] = 44;
  area[pt::kOffTargetId] = 1;
  area[pt::kOffCdbLength] = cdbLength;
  area[pt::kOffSenseInfoLength] = 24;
  area[pt::kOffDataIn] = buffered ? 1 : 0;
  Put32(area.data(), pt::kOffDataTransferLength, length);
  Put32(area.data(), pt::kOffTimeOutValue, 100);
  Put32(area.data(), pt::kOffDataBuffer,
        buffered ? 80u : static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(direct)));
  Put32(area.data(), pt::kOffSenseInfoOffset, 48);
  std::memcpy(area.data() + pt::kOffCdb, cdb.data(), cdb.size());
  return area;
}

class PassThrough : public testing::Test {
 protected:
  PassThrough() {
    sim::DeviceConfig config;
    config.name = "stick";
    device = bus.AddDrive("F", config);
    drive = scsi.OpenDrive("\\\\.\\F:");
  }

  std::uint32_t Read(std::vector<std::uint8_t>& area, std::uint32_t length) {
    return scsi.IoControl(drive, pt::kIoctlPassThrough, area.data(), 44, 80 + length, nullptr);
  }
  std::uint32_t Write(std::vector<std::uint8_t>& area, std::vector<std::uint8_t>& data) {
    return scsi.IoControl(drive, pt::kIoctlPassThroughDirect, area.data(), 80, 80,
                          data.empty() ? nullptr : data.data());
  }

  sim::Bus bus;
  sim::Device* device = nullptr;
  SimulatedScsiPassThrough scsi{bus};
  platform::Handle drive = nullptr;
};

TEST_F(PassThrough, CandidatesAreLettersOrConfiguredNodes) {
  const std::vector<std::string> letters = scsi.CandidateDrives();
  ASSERT_EQ(letters.size(), 23u);
  EXPECT_EQ(letters.front(), "\\\\.\\D:");
  EXPECT_EQ(letters.back(), "\\\\.\\Z:");
  EXPECT_EQ(scsi.OpenDrive("\\\\.\\E:"), nullptr);

  sim::Bus nodes;
  nodes.AddDrive("/dev/sg4", {});
  sim::DeviceConfig second;
  second.name = "second";
  nodes.AddDrive("/dev/sg1", second);
  SimulatedScsiPassThrough nodeScsi{nodes};
  EXPECT_EQ(nodeScsi.CandidateDrives(), (std::vector<std::string>{"/dev/sg4", "/dev/sg1"}));
}

// The discovery probes: a 6-byte INQUIRY and the identify command, both buffered; the answers
// stand at offset 80 and the request log holds the area as it went in.
TEST_F(PassThrough, BufferedReadsAnswerAtOffset80AndAreLogged) {
  std::vector<std::uint8_t> inquiry = Area(true, simtest::Inquiry(), 36, 6);
  Put32(inquiry.data(), pt::kOffTimeOutValue, 2);
  ASSERT_EQ(Read(inquiry, 36), 0u);
  EXPECT_EQ(inquiry[83], 1);
  EXPECT_EQ(std::string(inquiry.begin() + 88, inquiry.begin() + 116),
            "K4826   USB Flash Disk  1.00");

  std::vector<std::uint8_t> identify = Area(true, simtest::Identify(), 12);
  ASSERT_EQ(Read(identify, 12), 0u);
  EXPECT_EQ(std::vector<std::uint8_t>(identify.begin() + 80, identify.begin() + 84),
            (std::vector<std::uint8_t>{0x02, 0x04, 0x26, 0x48}));

  const std::vector<platform::PassThroughRequest> log = scsi.Requests();
  ASSERT_EQ(log.size(), 2u);
  EXPECT_EQ(log[0].code, pt::kIoctlPassThrough);
  EXPECT_EQ(log[0].path, "\\\\.\\F:");
  EXPECT_EQ(log[0].outSize, 116u);
  const std::vector<std::uint8_t> sent = Area(true, simtest::Inquiry(), 36, 6);
  EXPECT_TRUE(std::equal(log[0].area.begin(), log[0].area.begin() + 16, sent.begin()));
  EXPECT_EQ(log[0].area[pt::kOffTimeOutValue], 2);
  EXPECT_EQ(device->Trace()[0].kind, sim::CommandKind::kInquiry);
  EXPECT_TRUE(scsi.Violations().empty());
}

TEST_F(PassThrough, DirectWritesReachTheDevice) {
  std::vector<std::uint8_t> loader(300, 0x42);
  std::vector<std::uint8_t> area =
      Area(false, simtest::LoadBootLoader(300), 300, 12, loader.data());
  ASSERT_EQ(Write(area, loader), 0u);
  EXPECT_EQ(device->BootLoader(), loader);
  std::vector<std::uint8_t> none;
  std::vector<std::uint8_t> cs = Area(false, simtest::ContextSwitch(1), 0);
  EXPECT_EQ(Write(cs, none), 0u);
  EXPECT_TRUE(scsi.Violations().empty());
}

// Each field the driver checks, broken one at a time.
struct Malformed {
  const char* name;
  bool buffered;
  std::function<void(std::vector<std::uint8_t>&, std::uint32_t&, std::uint32_t&)> breakIt;
};

const Malformed kMalformed[] = {
    {"Length", true, [](auto& a, auto&, auto&) { a[pt::kOffLength] = 40; }},
    {"PathId", true, [](auto& a, auto&, auto&) { a[pt::kOffPathId] = 1; }},
    {"TargetId", false, [](auto& a, auto&, auto&) { a[pt::kOffTargetId] = 0; }},
    {"Lun", true, [](auto& a, auto&, auto&) { a[pt::kOffLun] = 1; }},
    {"CdbLength", true, [](auto& a, auto&, auto&) { a[pt::kOffCdbLength] = 10; }},
    {"SenseInfoLength", false, [](auto& a, auto&, auto&) { a[pt::kOffSenseInfoLength] = 18; }},
    {"SenseInfoOffset", true, [](auto& a, auto&, auto&) { a[pt::kOffSenseInfoOffset] = 44; }},
    {"DataBufferOffset", true, [](auto& a, auto&, auto&) { a[pt::kOffDataBuffer] = 84; }},
    {"BufferedDataOut", true, [](auto& a, auto&, auto&) { a[pt::kOffDataIn] = 0; }},
    {"DirectDataIn", false, [](auto& a, auto&, auto&) { a[pt::kOffDataIn] = 1; }},
    {"DirectPointer", false, [](auto& a, auto&, auto&) { a[pt::kOffDataBuffer] ^= 0x10; }},
    {"BufferedInSize", true, [](auto&, auto& in, auto&) { in = 80; }},
    {"BufferedOutSize", true, [](auto&, auto&, auto& out) { out = 80 + 1024; }},
    {"DirectSizes", false, [](auto&, auto&, auto& out) { out = 44; }},
    {"TooLong", true, [](auto& a, auto&, auto&) { a[pt::kOffDataTransferLength + 2] = 2; }},
};

class MalformedRequest : public PassThrough, public testing::WithParamInterface<Malformed> {};

TEST_P(MalformedRequest, FailsWith87AndNeverReachesTheDevice) {
  const Malformed& c = GetParam();
  std::vector<std::uint8_t> data(1024, 0x77);
  std::vector<std::uint8_t> area =
      c.buffered ? Area(true, simtest::Identify(), 12)
                 : Area(false, simtest::LoadBootLoader(1024), 1024, 12, data.data());
  std::uint32_t in = c.buffered ? 44 : 80;
  std::uint32_t out = c.buffered ? 92 : 80;
  c.breakIt(area, in, out);
  EXPECT_EQ(scsi.IoControl(drive, c.buffered ? pt::kIoctlPassThrough : pt::kIoctlPassThroughDirect,
                           area.data(), in, out, c.buffered ? nullptr : data.data()),
            platform::kErrorInvalidParameter);
  EXPECT_EQ(scsi.Violations().size(), 1u);
  EXPECT_TRUE(device->Trace().empty());
}

INSTANTIATE_TEST_SUITE_P(Fields, MalformedRequest, testing::ValuesIn(kMalformed),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(PassThrough, DirectReadsOnlyWhenAllowed) {
  SimulatedScsiPassThrough tray(bus, {.directReads = true});
  platform::Handle handle = tray.OpenDrive("\\\\.\\F:");
  std::vector<std::uint8_t> answer(12);
  std::vector<std::uint8_t> area = Area(false, simtest::Identify(), 12, 12, answer.data());
  area[pt::kOffDataIn] = 1;
  ASSERT_EQ(tray.IoControl(handle, pt::kIoctlPassThroughDirect, area.data(), 80, 80, answer.data()),
            0u);
  EXPECT_EQ(answer[3], 0x48);
}

// Handles, device errors, a vanished device and CHECK CONDITION answers.
TEST_F(PassThrough, FailuresMapToSystemErrors) {
  std::vector<std::uint8_t> area = Area(true, simtest::Identify(), 12);
  EXPECT_EQ(scsi.IoControl(nullptr, pt::kIoctlPassThrough, area.data(), 44, 92, nullptr),
            platform::kErrorInvalidHandle);
  scsi.CloseDrive(drive);
  EXPECT_EQ(Read(area, 12), platform::kErrorInvalidHandle);
  EXPECT_EQ(scsi.OpenHandleCount(), 0u);
  drive = scsi.OpenDrive("\\\\.\\F:");

  // Out of order: the device fails it, the request fails with ERROR_IO_DEVICE.
  std::vector<std::uint8_t> ids = Area(true, simtest::ReadFlashIds(), 8);
  EXPECT_EQ(Read(ids, 8), platform::kErrorIoDevice);

  device->SetMedia(false);
  std::vector<std::uint8_t> capacity = Area(true, simtest::Cdb{0x25}, 9);
  EXPECT_EQ(Read(capacity, 9), 0u);
  EXPECT_EQ(capacity[pt::kOffScsiStatus], 2);
  EXPECT_EQ(capacity[pt::kSenseOffset + 2], 0x02);
  EXPECT_EQ(capacity[pt::kSenseOffset + 12], 0x3A);

  device->Disappear();
  EXPECT_EQ(Read(area, 12), platform::kErrorDevNotExist);
  EXPECT_EQ(scsi.OpenDrive("\\\\.\\F:"), nullptr);
  EXPECT_TRUE(scsi.Violations().empty());
}

}  // namespace
