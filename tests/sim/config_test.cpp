#include "sim/config.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "tests/sim/sim_helpers.h"

namespace {

constexpr const char* kExample = R"(# two drives and an ASPI adapter
aspi absent
adapter 0 targets 15

device stick1
  at F
  vid 0402
  pid 0x4861
  firmware 01 05
  flash_ids 00 00 EC 75 00 00 00 00
  media no
  banks 8

device other          # answers like another make of disk
  at d
  inquiry_format 2
  inquiry_text "OTHER   DISK"
  vendor_commands no

device far
  at aspi 0 12
  fail WriteChunk 10
  fail contextswitch2 every
  fail command 3
  corrupt 1 0x2000
  disappear 500
  pending 2
)";

TEST(ConfigFile, ExampleBuildsTheBusItDescribes) {
  sim::BusConfig config;
  std::string error;
  ASSERT_EQ(sim::ParseConfig(kExample, config, error), sim::kConfigOk) << error;
  sim::Bus bus(config);

  EXPECT_FALSE(bus.AspiPresent());
  ASSERT_EQ(bus.AdapterCount(), 1);
  EXPECT_EQ(bus.AdapterTargets(0), 15);
  EXPECT_EQ(bus.DrivePaths(), (std::vector<std::string>{"\\\\.\\F:", "\\\\.\\D:"}));

  const sim::DeviceConfig& stick = bus.FindDrive("\\\\.\\F:")->Config();
  EXPECT_EQ(stick.name, "stick1");
  EXPECT_EQ(stick.vid, 0x0402);
  EXPECT_EQ(stick.pid, 0x4861);
  EXPECT_EQ(stick.version[3], 0x01);
  EXPECT_EQ(stick.version[2], 0x05);
  EXPECT_EQ(stick.flashIds[2], 0xEC);
  EXPECT_FALSE(stick.media);
  EXPECT_EQ(stick.banks, 8);

  const sim::DeviceConfig& other = bus.FindDrive("\\\\.\\D:")->Config();
  EXPECT_EQ(other.inquiryFormat, 2);
  EXPECT_EQ(other.inquiryText, "OTHER   DISK");
  EXPECT_FALSE(other.vendorCommands);

  sim::Device* far = bus.FindAspi(0, 12);
  ASSERT_NE(far, nullptr);
  const sim::DeviceConfig& f = far->Config();
  ASSERT_EQ(f.failRules.size(), 3u);
  EXPECT_EQ(f.failRules[0].kind, sim::CommandKind::kWriteChunk);
  EXPECT_EQ(f.failRules[0].nth, 10u);
  EXPECT_EQ(f.failRules[1].kind, sim::CommandKind::kContextSwitch2);
  EXPECT_EQ(f.failRules[1].nth, 0u);
  EXPECT_EQ(f.failRules[2].kind, sim::CommandKind::kAny);
  ASSERT_EQ(f.corruptRules.size(), 1u);
  EXPECT_EQ(f.corruptRules[0].offset, 0x2000);
  EXPECT_EQ(f.disappearAfter, 500u);
  EXPECT_FALSE(far->AnswerNextLater());
  EXPECT_TRUE(far->AnswerNextLater());
}

struct BadCase {
  const char* text;
  const char* error;
};

class BadConfig : public testing::TestWithParam<BadCase> {};

TEST_P(BadConfig, NamesTheLineAndLeavesTheOutputAlone) {
  sim::BusConfig config;
  config.adapterTargets = {9};
  std::string error;
  EXPECT_EQ(sim::ParseConfig(GetParam().text, config, error), sim::kConfigMalformed);
  EXPECT_EQ(error, GetParam().error);
  EXPECT_EQ(config.adapterTargets, std::vector<std::uint8_t>{9});
}

INSTANTIATE_TEST_SUITE_P(
    Cases, BadConfig,
    testing::Values(
        BadCase{"vid 0402", "line 1: 'vid' outside a device"},
        BadCase{"device a\n  at F\n  vidd 0402", "line 3: unknown setting 'vidd'"},
        BadCase{"device a\n  at F\n  vid 10000", "line 3: '10000' is not a valid value for 'vid'"},
        BadCase{"device a\n  at F\ndevice b\n  at f:", "line 4: device 'a' already sits there"},
        BadCase{"device a\n  at F\ndevice b\n  at /dev/sg1",
                "line 4: drives are either all letters or all node paths"},
        BadCase{"device a\n  at aspi 0 1", "line 2: adapter 0 is not declared"},
        BadCase{"adapter 1 targets 8",
                "line 1: adapters are numbered from 0 in order; expected adapter 0"},
        BadCase{"\n# nothing\ndevice a\n  media yes\n", "line 3: device 'a' has no 'at' line"},
        BadCase{"device a\n  at F\n  fail Flash 3", "line 3: 'Flash' is not a command kind"},
        BadCase{"device a\n  at F\n  fail command every",
                "line 3: 'every' is not a command number (from 1)"},
        BadCase{"device a\n  at F\n  flash_ids EC 75",
                "line 3: 'flash_ids' takes 8 hexadecimal bytes"},
        BadCase{"device a\n  at F\n  inquiry_text \"unterminated", "line 3: unterminated quote"},
        BadCase{"device a\n  at F\n  corrupt 0 65536",
                "line 3: expected 'corrupt BANK OFFSET' (offset below 65536)"},
        BadCase{"device a/b", "line 1: device names use letters, digits, '-', '_' and '.'"},
        BadCase{"device a\n  at F\ndevice a", "line 3: device 'a' is defined twice"}));

// The simulator build finds its file through the environment; missing and malformed files give
// an empty bus, a malformed one with a message.
TEST(ConfigFile, EnvironmentLoading) {
  const std::filesystem::path folder =
      std::filesystem::temp_directory_path() /
      ("sim-env-" + std::to_string(std::chrono::steady_clock::now().time_since_epoch().count()));
  std::filesystem::create_directories(folder);
  const std::string good = (folder / "good.txt").string();
  const std::string bad = (folder / "bad.txt").string();
  std::ofstream(good) << "device x\n  at /dev/sg2\n";
  std::ofstream(bad) << "device x\n  colour blue\n";

  std::string message;
  ::setenv(sim::kConfigVariable, good.c_str(), 1);
  ::setenv(sim::kTraceVariable, (folder / "t.txt").string().c_str(), 1);
  std::unique_ptr<sim::Bus> bus = sim::LoadBusFromEnvironment("", message);
  EXPECT_TRUE(message.empty());
  ASSERT_NE(bus->FindDrive("/dev/sg2"), nullptr);
  EXPECT_FALSE(bus->UsesDriveLetters());
  std::vector<std::uint8_t> id(12);
  simtest::Host{*bus->FindDrive("/dev/sg2")}.In(simtest::Identify(), id);
  EXPECT_TRUE(std::filesystem::exists(folder / "t.txt"));

  ::setenv(sim::kConfigVariable, bad.c_str(), 1);
  bus = sim::LoadBusFromEnvironment("", message);
  EXPECT_EQ(message, bad + ": line 2: unknown setting 'colour'");
  EXPECT_TRUE(bus->Devices().empty());

  ::setenv(sim::kConfigVariable, (folder / "none.txt").string().c_str(), 1);
  bus = sim::LoadBusFromEnvironment("", message);
  EXPECT_TRUE(bus->Devices().empty());
  EXPECT_NE(message.find("cannot be read"), std::string::npos);

  ::unsetenv(sim::kConfigVariable);
  ::unsetenv(sim::kTraceVariable);
  std::filesystem::remove_all(folder);
}

}  // namespace
