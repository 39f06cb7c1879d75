// The exact requests the carriers and the envelope hand to the platform.
#include "flashkit/device/carriers.h"

#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <thread>

#include "flashkit/device/byte_order.h"
#include "flashkit/device/vendor_command.h"
#include "tests/doubles/library_fixture.h"

namespace {

namespace pt = platform::pass_through;
namespace aspi = platform::aspi;
using flashkit::GetU32;
using flashkit::VendorCommand;

std::uint16_t U16(const std::vector<std::uint8_t>& area, std::size_t offset) {
  return static_cast<std::uint16_t>(area[offset] | (area[offset + 1] << 8));
}

// Answers ASPI execute requests: completes them at once with `status`, or leaves them pending
// and completes them from another thread when `pending` is set.
class ScriptedAspi : public platform::AspiLayer {
 public:
  std::uint8_t status = aspi::kSsComp;
  bool pending = false;
  std::vector<aspi::SrbExecScsiCmd> received;
  std::vector<std::uint8_t> answer;
  platform::Events* events = nullptr;

  bool Load() override { return true; }
  void Unload() override {}
  std::uint32_t GetSupportInfo() override { return aspi::kSsComp << 8; }
  std::uint32_t SendCommand(void* block) override {
    auto* srb = static_cast<aspi::SrbExecScsiCmd*>(block);
    received.push_back(*srb);
    auto complete = [this, srb] {
      if (!answer.empty() && (srb->flags & aspi::kSrbDirIn) && srb->bufLen >= answer.size()) {
        std::memcpy(srb->bufPointer, answer.data(), answer.size());
      }
      srb->status = status;
      if (srb->flags & aspi::kSrbEventNotify) events->Signal(srb->postProc);
    };
    if (!pending) {
      complete();
      return srb->status;
    }
    srb->status = aspi::kSsPending;
    if (srb->flags & aspi::kSrbEventNotify) {
      if (worker_.joinable()) worker_.join();
      worker_ = std::thread([complete] {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        complete();
      });
    }
    return aspi::kSsPending;
  }
  ~ScriptedAspi() override {
    if (worker_.joinable()) worker_.join();
  }

 private:
  std::thread worker_;
};

class CarrierTest : public doubles::LibraryFixture {
 protected:
  void SetUp() override {
    LibraryFixture::SetUp();
    UseScsi(&scsi);
    UseAspi(&layer);
    layer.events = &events;
    flashkit::State().current.handle = reinterpret_cast<platform::Handle>(0x1234);
  }
  doubles::RecordingScsi scsi;
  ScriptedAspi layer;
};

TEST_F(CarrierTest, PassThroughReadFillsTheBufferedRequest) {
  for (std::uint32_t length : {0u, 12u, 65536u}) {
    scsi.requests.clear();
    std::vector<std::uint8_t> area(pt::kReadAreaSize);
    area[pt::kOffCdb] = 0xAB;
    ASSERT_EQ(flashkit::PassThroughRead(length, 100, area.data()), 0);
    ASSERT_EQ(scsi.requests.size(), 1u);
    const auto& request = scsi.requests[0];
    EXPECT_EQ(request.drive, reinterpret_cast<platform::Handle>(0x1234));
    EXPECT_EQ(request.code, 0x4D004u);
    EXPECT_EQ(request.inSize, 44u);
    EXPECT_EQ(request.outSize, 80u + length) << length;
    EXPECT_EQ(request.directData, nullptr);
    const auto& a = request.area;
    EXPECT_EQ(U16(a, 0), 44);
    EXPECT_EQ(a[pt::kOffPathId], 0);
    EXPECT_EQ(a[pt::kOffTargetId], 1);
    EXPECT_EQ(a[pt::kOffLun], 0);
    EXPECT_EQ(a[pt::kOffCdbLength], 12);
    EXPECT_EQ(a[pt::kOffSenseInfoLength], 24);
    EXPECT_EQ(a[pt::kOffDataIn], 1);
    EXPECT_EQ(GetU32(a.data(), pt::kOffDataTransferLength), length);
    EXPECT_EQ(GetU32(a.data(), pt::kOffTimeOutValue), 100u);
    EXPECT_EQ(GetU32(a.data(), pt::kOffDataBuffer), 80u);
    EXPECT_EQ(GetU32(a.data(), pt::kOffSenseInfoOffset), 48u);
    EXPECT_EQ(a[pt::kOffCdb], 0xAB) << "the caller's command stays in place";
  }
}

TEST_F(CarrierTest, PassThroughReadRefusesMoreThanTheDataArea) {
  std::vector<std::uint8_t> area(pt::kReadAreaSize);
  EXPECT_NE(flashkit::PassThroughRead(65537, 100, area.data()), 0);
  EXPECT_TRUE(scsi.requests.empty());
}

TEST_F(CarrierTest, PassThroughWriteHandsTheCallersBufferToTheDriver) {
  std::array<std::uint8_t, 1024> data{};
  for (std::uint32_t length : {0u, 1024u}) {
    scsi.requests.clear();
    std::array<std::uint8_t, pt::kWriteAreaSize> area{};
    ASSERT_EQ(flashkit::PassThroughWrite(length, 7, area.data(), length ? data.data() : nullptr),
              0);
    const auto& request = scsi.requests.at(0);
    EXPECT_EQ(request.code, 0x4D014u);
    EXPECT_EQ(request.inSize, 80u);
    EXPECT_EQ(request.outSize, 80u);
    EXPECT_EQ(request.directData, length ? data.data() : nullptr);
    EXPECT_EQ(request.area[pt::kOffDataIn], 0) << "no data phase is still DataIn 0";
    EXPECT_EQ(GetU32(request.area.data(), pt::kOffDataTransferLength), length);
    EXPECT_EQ(GetU32(request.area.data(), pt::kOffTimeOutValue), 7u);
    EXPECT_EQ(GetU32(request.area.data(), pt::kOffSenseInfoOffset), 48u);
    EXPECT_EQ(U16(request.area, 0), 44);
    EXPECT_EQ(request.area[pt::kOffTargetId], 1);
    EXPECT_EQ(request.area[pt::kOffCdbLength], 12);
  }
}

TEST_F(CarrierTest, EnvelopeStampsTheSignatureOnlyWhenAsked) {
  flashkit::State().osFamily = flashkit::kOsWindowsXp;
  VendorCommand command{};
  command.fill(0x11);
  ASSERT_EQ(flashkit::SendVendorCommand(0, 0, 0, 100, command, nullptr), 0);
  EXPECT_EQ(scsi.requests.at(0).area[pt::kOffCdb], 0x11);
  ASSERT_EQ(flashkit::SendVendorCommand(1, 0, 0, 100, command, nullptr), 0);
  const std::array<std::uint8_t, 5> signature = {0xF5, 0x41, 0x50, 0x49, 0x58};
  for (int i = 0; i < 5; ++i) {
    EXPECT_EQ(command[i], signature[i]);
    EXPECT_EQ(scsi.requests.at(1).area[pt::kOffCdb + i], signature[i]);
  }
  // All 16 bytes travel in the command field; the device is told 12 of them count.
  for (int i = 5; i < 16; ++i) EXPECT_EQ(scsi.requests.at(1).area[pt::kOffCdb + i], 0x11);
}

TEST_F(CarrierTest, EnvelopeCopiesOutReadsAndNothingOnFailure) {
  flashkit::State().osFamily = flashkit::kOsNt4;
  scsi.answer = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12};
  VendorCommand command{};
  std::array<std::uint8_t, 16> buffer{};
  buffer.fill(0xEE);
  ASSERT_EQ(flashkit::SendVendorCommand(1, 1, 12, 100, command, buffer.data()), 0);
  EXPECT_EQ(buffer[0], 1);
  EXPECT_EQ(buffer[11], 12);
  EXPECT_EQ(buffer[12], 0xEE) << "no byte beyond the length";

  buffer.fill(0xEE);
  ASSERT_EQ(flashkit::SendVendorCommand(1, 1, 0, 100, command, buffer.data()), 0);
  EXPECT_EQ(buffer[0], 0xEE) << "a read of length 0 leaves the buffer alone";

  scsi.result = 1117;
  EXPECT_EQ(flashkit::SendVendorCommand(1, 1, 12, 100, command, buffer.data()), 1117);
  EXPECT_EQ(buffer[0], 0xEE);

  scsi.result = 0;
  scsi.answer.assign(65536, 0x5A);
  std::vector<std::uint8_t> bank(65536);
  ASSERT_EQ(flashkit::SendVendorCommand(1, 1, 65536, 100, command, bank.data()), 0);
  EXPECT_EQ(bank.front(), 0x5A);
  EXPECT_EQ(bank.back(), 0x5A);
}

TEST_F(CarrierTest, EnvelopeSendsNothingBeforeDiscoveryOrOnWindows95) {
  for (std::int32_t family : {flashkit::kOsUnknown, flashkit::kOsWindows95}) {
    flashkit::State().osFamily = family;
    VendorCommand command{};
    std::uint8_t buffer[12] = {};
    EXPECT_EQ(flashkit::SendVendorCommand(1, 1, 12, 100, command, buffer), 0);
    EXPECT_EQ(flashkit::SendVendorCommand(1, 0, 12, 100, command, buffer), 0);
  }
  EXPECT_TRUE(scsi.requests.empty());
  EXPECT_TRUE(layer.received.empty());
}

TEST_F(CarrierTest, EnvelopeOverAspiFillsTheRequestBlockAndIgnoresTheTimeout) {
  flashkit::State().osFamily = flashkit::kOsWindows98;
  flashkit::State().current.hostAdapter = 2;
  flashkit::State().current.target = 5;
  VendorCommand command{};
  command[5] = 0xE2;
  std::array<std::uint8_t, 8> buffer{};
  layer.answer = {0xEC, 0x75};
  ASSERT_EQ(flashkit::SendVendorCommand(1, 1, 8, 1, command, buffer.data()), 0);
  ASSERT_EQ(flashkit::SendVendorCommand(1, 0, 0, 9999, command, nullptr), 0);
  ASSERT_EQ(layer.received.size(), 2u);
  const aspi::SrbExecScsiCmd& in = layer.received[0];
  EXPECT_EQ(in.cmd, aspi::kScExecScsiCmd);
  EXPECT_EQ(in.haId, 2);
  EXPECT_EQ(in.target, 5);
  EXPECT_EQ(in.lun, 0);
  EXPECT_EQ(in.flags, aspi::kSrbDirIn | aspi::kSrbEventNotify);
  EXPECT_EQ(in.bufLen, 8u);
  EXPECT_EQ(in.bufPointer, buffer.data());
  EXPECT_EQ(in.senseLen, 14);
  EXPECT_EQ(in.cdbLen, 12);
  EXPECT_EQ(in.cdb[0], 0xF5);
  EXPECT_EQ(in.cdb[5], 0xE2);
  EXPECT_EQ(buffer[0], 0xEC) << "ASPI reads land in the caller's buffer directly";
  EXPECT_EQ(layer.received[1].flags, aspi::kSrbDirOut | aspi::kSrbEventNotify);
  EXPECT_EQ(events.created, events.closed) << "every completion event is released";
}

TEST_F(CarrierTest, AspiExecuteResults) {
  struct Case {
    std::uint8_t status;
    bool pending;
    bool noEvent;
    std::int32_t expected;
  };
  const Case cases[] = {
      {aspi::kSsComp, false, false, 0},
      {aspi::kSsErr, false, false, 4},
      {aspi::kSsErr, true, false, 4},  // completes later with an error: the final status counts
      {aspi::kSsComp, true, false, 0},
      {aspi::kSsComp, true, true, 0},  // still pending after the fixed delay: success
  };
  for (const Case& c : cases) {
    layer.status = c.status;
    layer.pending = c.pending;
    events.failCreate = c.noEvent;
    aspi::SrbExecScsiCmd srb{};
    std::uint8_t buffer[4] = {};
    EXPECT_EQ(flashkit::AspiExecute(1, 4, srb, buffer), c.expected)
        << int(c.status) << " pending " << c.pending << " no event " << c.noEvent;
    EXPECT_EQ(srb.flags & aspi::kSrbEventNotify, c.noEvent ? 0 : aspi::kSrbEventNotify);
  }
}

}  // namespace
