#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <cstring>
#include <memory>
#include <mutex>

#include "platform/simulated/simulated_aspi_layer.h"
#include "sim/config.h"
#include "tests/sim/sim_helpers.h"

namespace {

namespace aspi = platform::aspi;

// Manual-reset events that count their waits, so a test can see that the host really waited.
class TestEvents : public platform::Events {
 public:
  platform::Handle Create() override {
    auto event = std::make_unique<Event>();
    platform::Handle handle = event.get();
    std::lock_guard lock(mutex_);
    events_.push_back(std::move(event));
    return handle;
  }
  void Wait(platform::Handle handle) override {
    Event& event = *static_cast<Event*>(handle);
    std::unique_lock lock(event.mutex);
    event.cv.wait(lock, [&] { return event.signalled; });
  }
  void Signal(platform::Handle handle) override {
    Event& event = *static_cast<Event*>(handle);
    {
      std::lock_guard lock(event.mutex);
      event.signalled = true;
    }
    event.cv.notify_all();
    ++signals;
  }
  void Close(platform::Handle) override {}
  std::atomic<int> signals{0};

 private:
  struct Event {
    std::mutex mutex;
    std::condition_variable cv;
    bool signalled = false;
  };
  std::mutex mutex_;
  std::vector<std::unique_ptr<Event>> events_;
};

std::unique_ptr<sim::Bus> BusFrom(const char* text) {
  sim::BusConfig config;
  std::string error;
  EXPECT_EQ(sim::ParseConfig(text, config, error), sim::kConfigOk) << error;
  return std::make_unique<sim::Bus>(config);
}

// An execute request as the library's ASPI carrier fills it.
aspi::SrbExecScsiCmd Exec(std::uint8_t adapter, std::uint8_t target, const simtest::Cdb& cdb,
                          bool dataIn, std::uint8_t* buffer, std::uint32_t length,
                          platform::Handle event) {
  aspi::SrbExecScsiCmd srb{};
  srb.cmd = aspi::kScExecScsiCmd;
  srb.haId = adapter;
  srb.target = target;
  srb.flags = static_cast<std::uint8_t>((dataIn ? aspi::kSrbDirIn : aspi::kSrbDirOut) |
                                        (event != nullptr ? aspi::kSrbEventNotify : 0));
  srb.bufLen = length;
  srb.bufPointer = buffer;
  srb.senseLen = aspi::kSenseLen;
  srb.cdbLen = 12;
  srb.postProc = event;
  std::memcpy(srb.cdb, cdb.data(), cdb.size());
  return srb;
}

constexpr const char* kTwoAdapters = R"(
adapter 0 targets 16
adapter 1 targets 15
device near
  at aspi 0 3
device late
  at aspi 1 2
  pending 1
  media no
)";

TEST(AspiLayer, LoadSupportInfoAdaptersAndTargets) {
  auto bus = BusFrom(kTwoAdapters);
  TestEvents events;
  platform::SimulatedAspiLayer layer(*bus, events);
  ASSERT_TRUE(layer.Load());
  EXPECT_EQ(layer.GetSupportInfo(), 0x0102u);

  aspi::SrbHaInquiry inquiry{};
  inquiry.haId = 1;
  EXPECT_EQ(layer.SendCommand(&inquiry), aspi::kSsComp);
  EXPECT_EQ(inquiry.status, aspi::kSsComp);
  EXPECT_EQ(inquiry.haUnique[3], 15);
  inquiry.haId = 2;
  EXPECT_EQ(layer.SendCommand(&inquiry), aspi::kSsInvalidHa);

  for (int target = 0; target < 16; ++target) {
    aspi::SrbGetDevType type{};
    type.cmd = aspi::kScGetDevType;
    type.target = static_cast<std::uint8_t>(target);
    EXPECT_EQ(layer.SendCommand(&type), target == 3 ? aspi::kSsComp : aspi::kSsNoDevice);
  }
  EXPECT_TRUE(layer.Violations().empty());

  layer.Unload();
  bus->SetAspiPresent(false);
  EXPECT_FALSE(layer.Load());
}

TEST(AspiLayer, ExecuteCarriesDataBothWays) {
  auto bus = BusFrom(kTwoAdapters);
  TestEvents events;
  platform::SimulatedAspiLayer layer(*bus, events);
  layer.Load();
  std::uint8_t answer[36] = {};
  // The library sends INQUIRY through ASPI with a command length of 12 as well.
  aspi::SrbExecScsiCmd srb = Exec(0, 3, simtest::Inquiry(), true, answer, 36, nullptr);
  EXPECT_EQ(layer.SendCommand(&srb), aspi::kSsComp);
  EXPECT_EQ(answer[3], 1);

  std::uint8_t loader[5] = {1, 2, 3, 4, 5};
  srb = Exec(0, 3, simtest::LoadBootLoader(5), false, loader, 5, nullptr);
  EXPECT_EQ(layer.SendCommand(&srb), aspi::kSsComp);
  EXPECT_EQ(bus->FindAspi(0, 3)->BootLoader(), std::vector<std::uint8_t>(loader, loader + 5));

  srb = Exec(0, 3, simtest::ContextSwitch(2), false, nullptr, 0, nullptr);  // out of order
  EXPECT_EQ(layer.SendCommand(&srb), aspi::kSsErr);
  EXPECT_EQ(srb.targStat, 2);

  srb = Exec(0, 4, simtest::Identify(), true, answer, 12, nullptr);
  EXPECT_EQ(layer.SendCommand(&srb), aspi::kSsNoDevice);
  EXPECT_EQ(layer.Requests().size(), 4u);
  EXPECT_EQ(layer.Requests()[1].bytes.size(), sizeof(aspi::SrbExecScsiCmd));
}

// A device that answers later: SendCommand returns SS_PENDING, then the worker writes the data
// and the status and signals the request's event.
TEST(AspiLayer, PendingRequestsCompleteAndSignal) {
  auto bus = BusFrom(kTwoAdapters);
  TestEvents events;
  platform::SimulatedAspiLayer layer(*bus, events);
  layer.Load();
  std::uint8_t answer[12] = {};
  platform::Handle event = events.Create();
  aspi::SrbExecScsiCmd srb = Exec(1, 2, simtest::Identify(), true, answer, 12, event);
  ASSERT_EQ(layer.SendCommand(&srb), aspi::kSsPending);
  events.Wait(event);
  EXPECT_EQ(srb.status, aspi::kSsComp);
  EXPECT_EQ(answer[0], 0x02);
  EXPECT_EQ(events.signals, 1);
  EXPECT_TRUE(layer.Requests()[0].pending);

  // Without an event the host polls; the status still arrives, and no signal is sent.
  std::uint8_t capacity[9] = {};
  srb = Exec(1, 2, simtest::Cdb{0x25}, true, capacity, 9, nullptr);
  ASSERT_EQ(layer.SendCommand(&srb), aspi::kSsPending);
  layer.WaitIdle();
  EXPECT_EQ(srb.status, aspi::kSsErr);  // no media
  EXPECT_EQ(srb.senseArea[2], 0x02);
  EXPECT_EQ(events.signals, 1);
}

struct BadSrb {
  const char* name;
  void (*breakIt)(aspi::SrbExecScsiCmd&);
};

const BadSrb kBadSrbs[] = {
    {"CdbLength6", [](aspi::SrbExecScsiCmd& s) { s.cdbLen = 6; }},
    {"SenseLength", [](aspi::SrbExecScsiCmd& s) { s.senseLen = 18; }},
    {"NoDirection", [](aspi::SrbExecScsiCmd& s) { s.flags = 0; }},
    {"BothDirections",
     [](aspi::SrbExecScsiCmd& s) { s.flags = aspi::kSrbDirIn | aspi::kSrbDirOut; }},
    {"NotifyWithoutEvent", [](aspi::SrbExecScsiCmd& s) { s.flags |= aspi::kSrbEventNotify; }},
    {"NoBuffer", [](aspi::SrbExecScsiCmd& s) { s.bufPointer = nullptr; }},
    {"Lun", [](aspi::SrbExecScsiCmd& s) { s.lun = 1; }},
};

class MalformedSrb : public testing::TestWithParam<BadSrb> {};

TEST_P(MalformedSrb, IsRefusedBeforeTheDevice) {
  auto bus = BusFrom(kTwoAdapters);
  TestEvents events;
  platform::SimulatedAspiLayer layer(*bus, events);
  layer.Load();
  std::uint8_t answer[12] = {};
  aspi::SrbExecScsiCmd srb = Exec(0, 3, simtest::Identify(), true, answer, 12, nullptr);
  GetParam().breakIt(srb);
  EXPECT_EQ(layer.SendCommand(&srb), platform::kSsInvalidSrb);
  EXPECT_EQ(srb.status, platform::kSsInvalidSrb);
  EXPECT_EQ(layer.Violations().size(), 1u);
  EXPECT_TRUE(bus->FindAspi(0, 3)->Trace().empty());
}

INSTANTIATE_TEST_SUITE_P(Fields, MalformedSrb, testing::ValuesIn(kBadSrbs),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
