// The simulator build's port installation: the bus comes from the environment, the pass-through
// port runs over it, and ended sessions are dumped.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "platform/ports.h"
#include "platform/simulated/simulated_ports.h"
#include "sim/config.h"
#include "tests/sim/sim_helpers.h"

namespace {

namespace pt = platform::pass_through;

std::uint32_t Direct(platform::Handle drive, const simtest::Cdb& cdb,
                     std::vector<std::uint8_t> data) {
  std::uint8_t area[pt::kWriteAreaSize] = {};
  area[pt::kOffLength] = 44;
  area[pt::kOffTargetId] = 1;
  area[pt::kOffCdbLength] = 12;
  area[pt::kOffSenseInfoLength] = 24;
  const auto length = static_cast<std::uint32_t>(data.size());
  std::memcpy(area + pt::kOffDataTransferLength, &length, 4);
  const auto pointer = static_cast<std::uint32_t>(
      reinterpret_cast<std::uintptr_t>(data.empty() ? nullptr : data.data()));
  std::memcpy(area + pt::kOffDataBuffer, &pointer, 4);
  area[pt::kOffSenseInfoOffset] = 48;
  std::memcpy(area + pt::kOffCdb, cdb.data(), cdb.size());
  return platform::CurrentPorts().scsi->IoControl(drive, pt::kIoctlPassThroughDirect, area, 80, 80,
                                                  data.empty() ? nullptr : data.data());
}

TEST(InstallPorts, SimulatedPassThroughOverTheConfiguredBus) {
  const std::filesystem::path folder =
      std::filesystem::temp_directory_path() /
      ("sim-install-" +
       std::to_string(std::chrono::steady_clock::now().time_since_epoch().count()));
  std::filesystem::create_directories(folder);
  std::ofstream(folder / "sim.txt") << "device stick\n  at /dev/sg7\n";
  ::setenv(sim::kConfigVariable, (folder / "sim.txt").string().c_str(), 1);
  ::setenv(sim::kDumpVariable, folder.string().c_str(), 1);

  platform::InstallPlatformPorts();
  platform::Ports& ports = platform::CurrentPorts();
  ASSERT_NE(ports.scsi, nullptr);
  ASSERT_NE(platform::SimulatedBus(), nullptr);
  EXPECT_EQ(ports.scsi->CandidateDrives(), std::vector<std::string>{"/dev/sg7"});
  platform::Handle drive = ports.scsi->OpenDrive("/dev/sg7");
  ASSERT_NE(drive, nullptr);
  EXPECT_EQ(Direct(drive, simtest::ContextSwitch(1), {}), 0u);
  EXPECT_EQ(Direct(drive, simtest::Page(0, 1, 0), std::vector<std::uint8_t>(512, 0x66)), 0u);
  EXPECT_EQ(Direct(drive, simtest::ContextSwitch(2), {}), 0u);
  ports.scsi->CloseDrive(drive);

  EXPECT_EQ(platform::SimulatedBus()->Trace().size(), 3u);
  EXPECT_TRUE(platform::SimulatedBus()->Violations().empty());
  EXPECT_EQ(std::filesystem::file_size(folder / "stick-bank0.bin"), 65536u);
  ::unsetenv(sim::kConfigVariable);
  ::unsetenv(sim::kDumpVariable);
  std::filesystem::remove_all(folder);
}

}  // namespace
