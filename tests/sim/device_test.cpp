#include "sim/device.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>

#include "sim/bus.h"
#include "tests/sim/sim_helpers.h"

namespace {

using sim::Result;
using simtest::Host;

constexpr std::uint8_t kParam = 0x0B;

// The single-device firmware sequence; returns the first result that is not ok (or ok).
Result ProgramFirmware(Host& host, const std::vector<std::uint8_t>& image) {
  const int banks = static_cast<int>(image.size() / sim::kBankSize);
  const std::vector<std::uint8_t> loader(3000, 0x5A);
  std::vector<std::uint8_t> ids(8);
  if (host.Out(simtest::LoadBootLoader(3000), loader) != Result::kOk) return Result::kFailed;
  Result r = host.None(simtest::ContextSwitch(1));
  if (r == Result::kOk) r = host.In(simtest::ReadFlashIds(), ids);
  if (r == Result::kOk) r = host.None(simtest::SetFlashType(banks, kParam));
  std::uint8_t sequence = 0;
  for (int chunk = 0; r == Result::kOk && chunk < banks * 64; ++chunk) {
    const auto begin = image.begin() + chunk * 1024;
    r = host.Out(simtest::Chunk(chunk / 64, sequence++, kParam), {begin, begin + 1024});
  }
  if (r == Result::kOk) r = host.None(simtest::Vendor(0xE2, 0x01, 0, 0, banks, sequence, kParam));
  std::vector<std::uint8_t> bank(sim::kBankSize);
  for (int b = 0; r == Result::kOk && b < banks; ++b) r = host.In(simtest::ReadBank(b), bank);
  if (r == Result::kOk) r = host.None(simtest::ContextSwitch(2));
  return r;
}

struct WorkAreaCase {
  int banks;
  int workBank;
  std::uint32_t workLength;
};

class FirmwareSequence : public testing::TestWithParam<WorkAreaCase> {};

// What the device stores, what it reads back (its own working area differs at every byte, the
// rest equals the image) and the version it reports afterwards.
TEST_P(FirmwareSequence, StoresImageKeepsWorkAreaAndReportsNewVersion) {
  const WorkAreaCase c = GetParam();
  sim::Device device(sim::DeviceConfig{});
  Host host{device};
  const std::vector<std::uint8_t> image = simtest::MakeImage(c.banks, 0x12, 0x3C);

  ASSERT_EQ(ProgramFirmware(host, image), Result::kOk);
  EXPECT_TRUE(device.Violations().empty()) << device.Violations().front();
  EXPECT_EQ(device.WrittenBankCount(), c.banks);
  EXPECT_EQ(device.BootLoader(), std::vector<std::uint8_t>(3000, 0x5A));
  for (int b = 0; b < c.banks; ++b) {
    const auto begin = image.begin() + b * sim::kBankSize;
    const std::vector<std::uint8_t> expected(begin, begin + sim::kBankSize);
    EXPECT_EQ(device.StoredBank(b), expected) << "bank " << b;
    const std::vector<std::uint8_t> read = device.ReadBackBank(b);
    const std::uint32_t work = b == c.workBank ? c.workLength : 0;
    for (std::uint32_t i = 0; i < sim::kBankSize; ++i) {
      ASSERT_EQ(read[i] != expected[i], i < work) << "bank " << b << " offset " << i;
    }
  }
  const auto version = device.Version();
  EXPECT_EQ(version[3], 0x12);
  EXPECT_EQ(version[2], 0x3C);
}

INSTANTIATE_TEST_SUITE_P(Banks, FirmwareSequence,
                         testing::Values(WorkAreaCase{1, 0, 4096}, WorkAreaCase{2, 1, 8192},
                                         WorkAreaCase{5, 4, 8192}));  // 320 chunks wrap 255

// Commands out of the order a real device expects fail and are recorded.
struct OrderCase {
  const char* name;
  std::function<void(Host&)> before;
  std::function<Result(Host&)> offending;
  const char* text;
};

void Prepared(Host& host) {  // boot loader, context switch, flash IDs, flash type (two banks)
  std::vector<std::uint8_t> ids(8);
  host.Out(simtest::LoadBootLoader(4), {1, 2, 3, 4});
  host.None(simtest::ContextSwitch(1));
  host.In(simtest::ReadFlashIds(), ids);
  host.None(simtest::SetFlashType(2, kParam));
}

std::vector<std::uint8_t> Kib(std::size_t n) { return std::vector<std::uint8_t>(n * 1024, 0x11); }

const OrderCase kOrderCases[] = {
    {"ReadFlashIdsFirst", [](Host&) {},
     [](Host& h) {
       std::vector<std::uint8_t> ids(8);
       return h.In(simtest::ReadFlashIds(), ids);
     },
     "before ContextSwitch 0x01"},
    {"ReadFlashIdsWithoutLoader", [](Host& h) { h.None(simtest::ContextSwitch(1)); },
     [](Host& h) {
       std::vector<std::uint8_t> ids(8);
       return h.In(simtest::ReadFlashIds(), ids);
     },
     "without a boot loader"},
    {"ChunkBeforeFlashType",
     [](Host& h) {
       std::vector<std::uint8_t> ids(8);
       h.Out(simtest::LoadBootLoader(1), {1});
       h.None(simtest::ContextSwitch(1));
       h.In(simtest::ReadFlashIds(), ids);
     },
     [](Host& h) { return h.Out(simtest::Chunk(0, 0, kParam), Kib(1)); }, "before SetFlashType"},
    {"SequenceGap",
     [](Host& h) {
       Prepared(h);
       h.Out(simtest::Chunk(0, 0, kParam), Kib(1));
     },
     [](Host& h) { return h.Out(simtest::Chunk(0, 2, kParam), Kib(1)); },
     "sequence number 2, expected 1"},
    {"BankIndexBehindOffset",
     [](Host& h) {
       Prepared(h);
       for (int i = 0; i < 64; ++i) h.Out(simtest::Chunk(0, i, kParam), Kib(1));
     },
     [](Host& h) { return h.Out(simtest::Chunk(0, 64, kParam), Kib(1)); },
     "bank index 0, write offset is in bank 1"},
    {"OtherParam", Prepared, [](Host& h) { return h.Out(simtest::Chunk(0, 0, 0x22), Kib(1)); },
     "parameter byte"},
    {"OddChunkLength", Prepared,
     [](Host& h) { return h.Out(simtest::Chunk(0, 0, kParam), Kib(2)); }, "1024, 512 or 0 bytes"},
    {"ReadBankWhileOpen",
     [](Host& h) {
       Prepared(h);
       h.Out(simtest::Chunk(0, 0, kParam), Kib(1));
     },
     [](Host& h) {
       std::vector<std::uint8_t> bank(sim::kBankSize);
       return h.In(simtest::ReadBank(0), bank);
     },
     "write sequence is open"},
    {"MissingBuffer", [](Host&) {},
     [](Host& h) {
       return h.device.Execute(simtest::Identify().data(), sim::Direction::kFromDevice, nullptr,
                               12);
     },
     "no buffer for 12 bytes"},
    {"ContextSwitch2First", [](Host&) {}, [](Host& h) { return h.None(simtest::ContextSwitch(2)); },
     "without ContextSwitch 0x01"},
    {"PageAmongChunks",
     [](Host& h) {
       Prepared(h);
       h.Out(simtest::Chunk(0, 0, kParam), Kib(1));
     },
     [](Host& h) { return h.Out(simtest::Page(0, 2, 1), std::vector<std::uint8_t>(512)); },
     "512-byte page among"},
    {"LoaderLengthBytesWrong", [](Host&) {},
     [](Host& h) { return h.Out(simtest::LoadBootLoader(100), std::vector<std::uint8_t>(99)); },
     "length bytes say 100, data has 99"},
    {"DescriptorBeforeFlashType", [](Host& h) { h.None(simtest::ContextSwitch(1)); },
     [](Host& h) {
       return h.Out(simtest::Vendor(0xE2, 0x03, 0, 0x2E, 0x40), std::vector<std::uint8_t>(46));
     },
     "before SetFlashType"},
};

class OrderChecks : public testing::TestWithParam<OrderCase> {};

TEST_P(OrderChecks, OffendingCommandFailsAndIsRecorded) {
  const OrderCase& c = GetParam();
  sim::Device device(sim::DeviceConfig{});
  Host host{device};
  c.before(host);
  ASSERT_TRUE(device.Violations().empty()) << device.Violations().front();
  EXPECT_EQ(c.offending(host), Result::kFailed);
  ASSERT_EQ(device.Violations().size(), 1u);
  EXPECT_NE(device.Violations()[0].find(c.text), std::string::npos) << device.Violations()[0];
}

INSTANTIATE_TEST_SUITE_P(Cases, OrderChecks, testing::ValuesIn(kOrderCases),
                         [](const auto& info) { return std::string(info.param.name); });

// Mass programming: no boot loader, 512-byte pages whose sequence may carry on from the
// previous device; the flash holds the pages in order.
TEST(MassProgramming, PagesAreStoredInOrderWithoutLoader) {
  sim::Device device(sim::DeviceConfig{});
  Host host{device};
  ASSERT_EQ(host.None(simtest::ContextSwitch(1)), Result::kOk);
  std::vector<std::uint8_t> sent;
  for (int page = 0; page < 128; ++page) {
    std::vector<std::uint8_t> data(512, static_cast<std::uint8_t>(page));
    ASSERT_EQ(host.Out(simtest::Page(0x1000, 2, static_cast<std::uint8_t>(200 + page)), data),
              Result::kOk)
        << page;
    sent.insert(sent.end(), data.begin(), data.end());
  }
  ASSERT_EQ(host.None(simtest::Page(0x1000, 2, 71)), Result::kFailed);  // no closing in pages
  ASSERT_EQ(host.None(simtest::Vendor(0xE1, 0x02, 0x10, 0x00, 2, 71)), Result::kOk);
  EXPECT_EQ(device.StoredBank(0), sent);
  EXPECT_EQ(device.Violations().size(), 1u);
}

// Fault rules: the n-th command, the n-th of a kind, every one of a kind, a corrupt read-back
// byte, other flash IDs and a device that disappears.
TEST(Faults, FailRulesHitExactlyTheirCommands) {
  sim::DeviceConfig config;
  config.failRules = {{sim::CommandKind::kAny, 2},
                      {sim::CommandKind::kWriteChunk, 10},
                      {sim::CommandKind::kContextSwitch2, 0}};
  sim::Device device(config);
  Host host{device};
  std::vector<std::uint8_t> ids(8);
  ASSERT_EQ(host.Out(simtest::LoadBootLoader(1), {1}), Result::kOk);
  ASSERT_EQ(host.None(simtest::ContextSwitch(1)), Result::kFailed);  // command 2
  ASSERT_EQ(host.None(simtest::ContextSwitch(1)), Result::kOk);
  ASSERT_EQ(host.In(simtest::ReadFlashIds(), ids), Result::kOk);
  ASSERT_EQ(host.None(simtest::SetFlashType(1, kParam)), Result::kOk);
  for (int chunk = 0; chunk < 12; ++chunk) {
    const Result r = host.Out(simtest::Chunk(0, chunk < 10 ? chunk : chunk - 1, kParam), Kib(1));
    EXPECT_EQ(r == Result::kOk, chunk != 9) << chunk;
  }
  EXPECT_EQ(host.None(simtest::ContextSwitch(2)), Result::kFailed);
  EXPECT_EQ(host.None(simtest::ContextSwitch(2)), Result::kFailed);
  EXPECT_TRUE(device.Violations().empty()) << device.Violations().front();
}

TEST(Faults, CorruptByteOtherFlashIdsAndDisappearance) {
  sim::DeviceConfig config;
  config.corruptRules = {{1, 0x2345}};
  config.flashIds = {0x00, 0x00, 0x98, 0x76, 0, 0, 0, 0};
  config.disappearAfter = 300;
  sim::Device device(config);
  Host host{device};
  std::vector<std::uint8_t> ids(8);
  host.Out(simtest::LoadBootLoader(1), {1});
  host.None(simtest::ContextSwitch(1));
  ASSERT_EQ(host.In(simtest::ReadFlashIds(), ids), Result::kOk);
  EXPECT_EQ(ids, (std::vector<std::uint8_t>{0x00, 0x00, 0x98, 0x76, 0, 0, 0, 0}));

  const std::vector<std::uint8_t> read = device.ReadBackBank(1);
  const std::vector<std::uint8_t> stored = device.StoredBank(1);
  EXPECT_EQ(read[0x2345], stored[0x2345] ^ 0x01);
  EXPECT_TRUE(std::equal(read.begin(), read.begin() + 0x2345, stored.begin()));

  while (device.Trace().size() < 300) host.None(simtest::Vendor(0, 0));
  EXPECT_TRUE(device.Gone());
  EXPECT_EQ(host.In(simtest::Identify(), ids = std::vector<std::uint8_t>(12)), Result::kGone);
  EXPECT_EQ(host.None(simtest::Vendor(0, 0)), Result::kGone);
}

TEST(Answers, InquiryIdentifyMediaAndForeignDrives) {
  sim::DeviceConfig config;
  config.inquiryFormat = 2;
  config.version = {1, 2, 3, 4, 5, 6, 7, 8};
  config.media = false;
  sim::Device device(config);
  Host host{device};
  std::vector<std::uint8_t> inquiry(36);
  ASSERT_EQ(host.In(simtest::Inquiry(), inquiry), Result::kOk);
  EXPECT_EQ(inquiry[3] & 0x0F, 2);
  EXPECT_EQ(std::string(inquiry.begin() + 8, inquiry.end()), "K4826   USB Flash Disk  1.00");
  std::vector<std::uint8_t> id(12);
  ASSERT_EQ(host.In(simtest::Identify(), id), Result::kOk);
  EXPECT_EQ(id, (std::vector<std::uint8_t>{0x02, 0x04, 0x26, 0x48, 1, 2, 3, 4, 5, 6, 7, 8}));

  std::vector<std::uint8_t> capacity(9);
  sim::Sense sense;
  const simtest::Cdb readCapacity{0x25};
  EXPECT_EQ(
      device.Execute(readCapacity.data(), sim::Direction::kFromDevice, capacity.data(), 9, &sense),
      Result::kCheckCondition);
  EXPECT_EQ(sense.key, 0x02);
  EXPECT_EQ(sense.asc, 0x3A);
  device.SetMedia(true);
  ASSERT_EQ(host.In(readCapacity, capacity), Result::kOk);
  EXPECT_EQ(capacity, (std::vector<std::uint8_t>{0, 0, 0x07, 0xFF, 0, 0, 2, 0, 0}));  // 16 banks
  EXPECT_EQ(host.None(simtest::Vendor(0, 0)), Result::kOk);
  EXPECT_EQ(host.None(simtest::Vendor(0xF7, 3)), Result::kOk);
  EXPECT_EQ(device.Lun(), 3);

  sim::DeviceConfig foreign;
  foreign.vendorCommands = false;
  sim::Device other(foreign);
  Host otherHost{other};
  EXPECT_EQ(otherHost.None(simtest::Vendor(0, 0)), Result::kCheckCondition);
  EXPECT_EQ(otherHost.In(simtest::Identify(), id), Result::kCheckCondition);
  EXPECT_EQ(otherHost.In(simtest::Inquiry(), inquiry), Result::kOk);
  EXPECT_TRUE(other.Violations().empty());
}

TEST(Trace, RecordsBytesDirectionLengthDigestAndResult) {
  sim::Bus bus;
  sim::DeviceConfig a;
  a.name = "a";
  sim::DeviceConfig b;
  b.name = "b";
  sim::Device* first = bus.AddDrive("F", a);
  sim::Device* second = bus.AddDrive("D", b);
  ASSERT_NE(first, nullptr);
  ASSERT_NE(second, nullptr);
  const std::filesystem::path folder =
      std::filesystem::temp_directory_path() /
      ("sim-trace-" + std::to_string(std::chrono::steady_clock::now().time_since_epoch().count()));
  std::filesystem::create_directories(folder);
  bus.SetTraceFile((folder / "trace.txt").string());
  bus.SetDumpFolder(folder.string());

  Host hostA{*first};
  Host hostB{*second};
  const std::vector<std::uint8_t> loader = {'a', 'b', 'c'};
  hostA.Out(simtest::LoadBootLoader(3), loader);
  hostB.None(simtest::ContextSwitch(2));  // out of order
  hostA.None(simtest::ContextSwitch(1));
  hostA.Out(simtest::Page(0, 1, 0), std::vector<std::uint8_t>(512, 0x33));
  hostA.None(simtest::ContextSwitch(2));

  const std::vector<sim::TraceEntry> trace = bus.Trace();
  ASSERT_EQ(trace.size(), 5u);
  EXPECT_EQ(trace[1].device, "b");
  EXPECT_EQ(trace[1].result, Result::kFailed);
  EXPECT_EQ(trace[0].digest, 0x1A47E90Bu);  // FNV-1a of "abc"
  EXPECT_EQ(sim::FormatTraceLine(trace[0]),
            "a 1 LoadBootLoader [F5 41 50 49 58 E3 01 00 00 03 00 00] out 3 1A47E90B ok");
  EXPECT_EQ(bus.Violations(),
            std::vector<std::string>{"b: command 1 (ContextSwitch2): ContextSwitch 0x02 without "
                                     "ContextSwitch 0x01"});

  std::ifstream file(folder / "trace.txt");
  std::vector<std::string> lines;
  for (std::string line; std::getline(file, line);) lines.push_back(line);
  ASSERT_EQ(lines.size(), 5u);
  EXPECT_EQ(lines[0], sim::FormatTraceLine(trace[0]));
  EXPECT_EQ(lines[4].substr(0, 18), "a 4 ContextSwitch2");

  std::ifstream dump(folder / "a-bank0.bin", std::ios::binary);
  const std::vector<std::uint8_t> dumped((std::istreambuf_iterator<char>(dump)), {});
  EXPECT_EQ(dumped, first->StoredBank(0));
  EXPECT_EQ(dumped[511], 0x33);
  EXPECT_EQ(dumped[512], 0xFF);
  EXPECT_FALSE(std::filesystem::exists(folder / "b-bank0.bin"));
  std::filesystem::remove_all(folder);
}

TEST(BusPlaces, DrivesAndAspiAddresses) {
  sim::Bus bus;
  EXPECT_NE(bus.AddDrive("f:", {}), nullptr);
  EXPECT_EQ(bus.FindDrive("\\\\.\\F:")->Name(), "k4826");
  sim::DeviceConfig second;
  second.name = "second";
  EXPECT_EQ(bus.AddDrive("\\\\.\\F:", second), nullptr);  // taken
  EXPECT_EQ(bus.AddDrive("/dev/sg3", second), nullptr);   // letters and nodes do not mix
  EXPECT_EQ(bus.AddAspiDevice(0, 1, second), nullptr);    // no adapter yet
  EXPECT_EQ(bus.AddAdapter(15), 0);
  EXPECT_NE(bus.AddAspiDevice(0, 12, second), nullptr);
  EXPECT_EQ(bus.FindAspi(0, 12)->Name(), "second");
  EXPECT_EQ(bus.FindAspi(0, 1), nullptr);
  EXPECT_EQ(bus.AdapterTargets(0), 15);
  EXPECT_TRUE(bus.UsesDriveLetters());
}

}  // namespace
