// Discovery against simulated drives and ASPI targets: which devices are listed, in which
// order, and what reached each device.
#include <gtest/gtest.h>

#include "flashkit/device/byte_order.h"
#include "flashkit/interface/flashkit.h"
#include "platform/simulated/simulated_aspi_layer.h"
#include "platform/simulated/simulated_scsi_pass_through.h"
#include "sim/bus.h"
#include "tests/doubles/library_fixture.h"

namespace {

namespace pt = platform::pass_through;
using flashkit::State;

sim::DeviceConfig Device(const std::string& name, std::uint16_t pid = 0x4826) {
  sim::DeviceConfig config;
  config.name = name;
  config.pid = pid;
  config.version = {1, 2, 3, 4, 5, 6, 7, 8};
  return config;
}

std::vector<sim::CommandKind> Kinds(const sim::Device& device) {
  std::vector<sim::CommandKind> kinds;
  for (const sim::TraceEntry& entry : device.Trace()) kinds.push_back(entry.kind);
  return kinds;
}

class DiscoveryTest : public doubles::LibraryFixture {
 protected:
  void SetUp() override {
    LibraryFixture::SetUp();
    UseScsi(&scsi);
    UseAspi(&aspi);
  }
  void TearDown() override {
    EXPECT_TRUE(scsi.Violations().empty()) << scsi.Violations().front();
    EXPECT_TRUE(aspi.Violations().empty()) << aspi.Violations().front();
    EXPECT_TRUE(bus.Violations().empty()) << bus.Violations().front();
    LibraryFixture::TearDown();
  }
  sim::Bus bus;
  platform::SimulatedScsiPassThrough scsi{bus};
  platform::SimulatedAspiLayer aspi{bus, events};
};

TEST_F(DiscoveryTest, PassThroughScanListsDrivesInLetterOrder) {
  bus.AddDrive("F", Device("f"));
  bus.AddDrive("D", Device("d", 0x4861));
  ASSERT_EQ(GetDevice(), 2);
  ASSERT_EQ(State().devices.size(), 2u);
  EXPECT_EQ(State().devices[0]->path, "\\\\.\\D:");
  EXPECT_EQ(State().devices[1]->path, "\\\\.\\F:");
  EXPECT_EQ(State().osFamily, flashkit::kOsWindowsXp);
  EXPECT_EQ(State().current.handle, nullptr) << "discovery leaves no device selected";
  unsigned char version[8] = {};
  EXPECT_EQ(GetDeviceVersion(1, version), 1);
  EXPECT_EQ(version[0], 1);
  EXPECT_EQ(version[7], 8);

  // Drives A to C are never probed; the INQUIRY goes out with its own request shape.
  bool inquirySeen = false;
  for (const platform::PassThroughRequest& request : scsi.Requests()) {
    EXPECT_NE(request.path, "\\\\.\\C:");
    if (request.area[pt::kOffCdb] == 0x12) {
      inquirySeen = true;
      EXPECT_EQ(request.area[pt::kOffCdbLength], 6);
      EXPECT_EQ(flashkit::GetU32(request.area.data(), pt::kOffTimeOutValue), 2u);
      EXPECT_EQ(flashkit::GetU32(request.area.data(), pt::kOffDataTransferLength), 36u);
      EXPECT_EQ(request.outSize, 116u);
      EXPECT_EQ(request.area[pt::kOffCdb + 4], 36);
    } else {
      EXPECT_EQ(request.area[pt::kOffCdb + 5], 0xB3);
      EXPECT_EQ(request.area[pt::kOffCdb + 6], 0x0C);
      EXPECT_EQ(request.area[pt::kOffCdbLength], 12);
      EXPECT_EQ(flashkit::GetU32(request.area.data(), pt::kOffTimeOutValue), 100u);
    }
  }
  EXPECT_TRUE(inquirySeen);
}

TEST_F(DiscoveryTest, OnlyDrivesThatAnswerLikeAK4826AreListed) {
  sim::DeviceConfig format2 = Device("format2");
  format2.inquiryFormat = 2;
  sim::DeviceConfig otherProduct = Device("other", 0x4827);
  sim::DeviceConfig failing = Device("failing");
  failing.failRules.push_back({sim::CommandKind::kIdentify, 0});
  bus.AddDrive("D", format2);
  bus.AddDrive("E", otherProduct);
  bus.AddDrive("G", failing);
  bus.AddDrive("H", Device("good", 0x4825));

  ASSERT_EQ(GetDevice(), 1);
  EXPECT_EQ(State().devices[0]->path, "\\\\.\\H:");
  EXPECT_EQ(Kinds(*bus.FindByName("format2")),
            std::vector<sim::CommandKind>{sim::CommandKind::kInquiry})
      << "a drive with another response format gets no identify command";
  // Drives that fail the probe are closed at once: only the listed drive stays open.
  EXPECT_EQ(scsi.OpenHandleCount(), 1u);
}

TEST_F(DiscoveryTest, RepeatedDiscoveryAndEndDeviceReleaseHandles) {
  bus.AddDrive("D", Device("d"));
  bus.AddDrive("E", Device("e"));
  bus.AddDrive("F", Device("f"));
  ASSERT_EQ(GetDevice(), 3);
  ASSERT_EQ(GetDevice(), 3);
  EXPECT_EQ(scsi.OpenHandleCount(), 3u) << "the first call's handles were closed";
  EXPECT_EQ(State().devices[0]->path, "\\\\.\\D:");

  EndDevice();
  EXPECT_TRUE(State().devices.empty());
  EXPECT_EQ(scsi.OpenHandleCount(), 0u);
  ASSERT_EQ(GetDevice(), 3);
  EXPECT_EQ(State().devices[2]->path, "\\\\.\\F:");
}

TEST_F(DiscoveryTest, ConfigurationPathIsSetEvenWithoutDevices) {
  EXPECT_EQ(GetDevice(), 0);
  EXPECT_TRUE(State().devices.empty());
  EXPECT_EQ(State().configurationPath, system.moduleFolder + "K4826.ini");
}

TEST_F(DiscoveryTest, Windows95IsRefusedAndTouchesNothing) {
  bus.AddDrive("D", Device("d"));
  ASSERT_EQ(GetDevice(), 1);
  const std::string path = State().configurationPath;
  scsi.ClearLog();

  SetOs(platform::kPlatformWindows9x, 4, 0);
  system.moduleFolder = "/elsewhere/";
  EXPECT_EQ(GetDevice(), 0);
  EXPECT_EQ(State().osFamily, flashkit::kOsWindows95);
  EXPECT_EQ(State().devices.size(), 1u) << "the list is left as it was";
  EXPECT_EQ(State().configurationPath, path);
  EXPECT_TRUE(scsi.Requests().empty());
}

TEST_F(DiscoveryTest, Windows95NeverSetsTheConfigurationPath) {
  bus.AddDrive("D", Device("d"));
  SetOs(platform::kPlatformWindows9x, 4, 0);
  EXPECT_EQ(GetDevice(), 0);
  EXPECT_TRUE(State().configurationPath.empty());
  EXPECT_TRUE(bus.FindByName("d")->Trace().empty());
}

TEST_F(DiscoveryTest, OsFamilyFromTheVersionReport) {
  struct Case {
    std::uint32_t platformId, major, minor;
    bool known;
    std::int32_t expected;
  };
  const Case cases[] = {
      {1, 4, 0, true, 95},   {1, 4, 10, true, 98},  {1, 4, 90, true, 98},  {2, 4, 0, true, 1000},
      {2, 5, 0, true, 2000}, {2, 5, 1, true, 2002}, {2, 6, 0, true, 2000}, {2, 10, 0, true, 2000},
      {0, 3, 1, true, 77},   {2, 5, 1, false, 77},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(flashkit::OsFamilyFor({c.platformId, c.major, c.minor}, c.known, 77), c.expected)
        << c.platformId << " " << c.major << "." << c.minor;
  }
}

TEST_F(DiscoveryTest, UnknownPlatformBeforeAnyDiscoveryFindsNothing) {
  bus.AddDrive("D", Device("d"));
  system.known = false;
  EXPECT_EQ(GetDevice(), 0);
  EXPECT_TRUE(scsi.Requests().empty());
}

class AspiDiscoveryTest : public DiscoveryTest {
 protected:
  void SetUp() override {
    DiscoveryTest::SetUp();
    SetOs(platform::kPlatformWindows9x, 4, 10);
  }
  std::vector<int> ProbedTargets(int adapter) {
    std::vector<int> targets;
    for (const platform::AspiRequest& request : aspi.Requests()) {
      if (request.command == platform::aspi::kScGetDevType && request.bytes[2] == adapter) {
        targets.push_back(request.bytes[8]);
      }
    }
    return targets;
  }
};

TEST_F(AspiDiscoveryTest, ListsTheLastProbedDeviceFirst) {
  const int adapter = bus.AddAdapter(8);
  sim::DeviceConfig later = Device("t3");
  later.pendingEvery = 1;  // every execute request of this device answers later
  bus.AddAspiDevice(adapter, 1, Device("t1"));
  bus.AddAspiDevice(adapter, 3, later);
  ASSERT_EQ(GetDevice(), 2);
  EXPECT_EQ(State().devices[0]->target, 3);
  EXPECT_EQ(State().devices[1]->target, 1);
  EXPECT_EQ(State().devices[0]->handle, nullptr);
  EXPECT_TRUE(State().devices[0]->path.empty());
  EXPECT_EQ(State().current.hostAdapter, 0);
  EXPECT_EQ(State().current.target, 0);
  bool answeredLater = false;
  for (const platform::AspiRequest& request : aspi.Requests()) answeredLater |= request.pending;
  EXPECT_TRUE(answeredLater);
  EXPECT_EQ(events.created, events.closed);

  EndDevice();
  EXPECT_FALSE(aspi.Loaded()) << "EndDevice releases the ASPI layer";
}

TEST_F(AspiDiscoveryTest, TargetCountsOtherThanSixteenMeanEight) {
  bus.AddAdapter(15);
  bus.AddAdapter(16);
  EXPECT_EQ(GetDevice(), 0);
  std::vector<int> eight, sixteen;
  for (int i = 0; i < 16; ++i) {
    if (i < 8) eight.push_back(i);
    sixteen.push_back(i);
  }
  EXPECT_EQ(ProbedTargets(0), eight);
  EXPECT_EQ(ProbedTargets(1), sixteen);
}

TEST_F(AspiDiscoveryTest, MissingLayerFindsNothing) {
  bus.SetAspiPresent(false);
  bus.AddAspiDevice(bus.AddAdapter(8), 0, Device("t0"));
  EXPECT_EQ(GetDevice(), 0);
  EXPECT_FALSE(State().aspiLoaded);
  EXPECT_EQ(State().configurationPath, system.moduleFolder + "K4826.ini");
}

}  // namespace
