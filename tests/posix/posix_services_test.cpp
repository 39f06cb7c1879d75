#include "platform/posix/posix_services.h"

#include <gtest/gtest.h>
#include <pthread.h>
#include <signal.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <climits>
#include <filesystem>
#include <thread>

#include "platform/posix/posix_ports.h"

namespace platform {
namespace {

TEST(PosixSystemInfoTest, ReportsTheNtFamilyAndTheModuleFolder) {
  PosixSystemInfo info;
  OsVersion version;
  ASSERT_TRUE(info.QueryOsVersion(version));
  EXPECT_EQ(version.platformId, kPlatformWindowsNt);
  EXPECT_EQ(version.major, 5u);
  EXPECT_EQ(version.minor, 1u);
  // Linked into this program, the code's module is the program itself.
  const auto exe = std::filesystem::canonical("/proc/self/exe");
  EXPECT_EQ(info.ModuleFolder(), exe.parent_path().string() + "/");
}

struct ThreadProbe {
  Events* events = nullptr;
  Handle done = nullptr;
  std::size_t stackSize = 0;
  bool pipeBlocked = false;
};

void Probe(void* raw) {
  auto* probe = static_cast<ThreadProbe*>(raw);
  pthread_attr_t attr;
  if (pthread_getattr_np(pthread_self(), &attr) == 0) {
    pthread_attr_getstacksize(&attr, &probe->stackSize);
    pthread_attr_destroy(&attr);
  }
  sigset_t mask;
  pthread_sigmask(SIG_BLOCK, nullptr, &mask);
  probe->pipeBlocked = sigismember(&mask, SIGPIPE) == 1;
  probe->events->Signal(probe->done);
}

TEST(PosixThreadsTest, RunsDetachedWithTheStackAskedForAndSigpipeBlocked) {
  PosixEvents events;
  PosixThreads threads;
  for (std::size_t asked : {std::size_t{70 * 1024}, std::size_t{24 * 1024 * 1024}}) {
    ThreadProbe probe;
    probe.events = &events;
    probe.done = events.Create();
    ASSERT_NE(probe.done, nullptr);
    ASSERT_TRUE(threads.Start(&Probe, &probe, asked));
    events.Wait(probe.done);
    events.Close(probe.done);
    EXPECT_GE(probe.stackSize, asked);
    EXPECT_TRUE(probe.pipeBlocked);
  }
  EXPECT_FALSE(threads.Start(nullptr, nullptr, 0));
}

TEST(PosixEventsTest, ManualResetEventStaysSignalled) {
  PosixEvents events;
  Handle event = events.Create();
  ASSERT_NE(event, nullptr);
  std::atomic<bool> woke{false};
  std::thread waiter([&] {
    events.Wait(event);
    woke = true;
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_FALSE(woke);
  events.Signal(event);
  waiter.join();
  EXPECT_TRUE(woke);
  events.Wait(event);  // still signalled: returns at once
  events.Close(event);
  events.Close(nullptr);
}

TEST(PosixClockTest, SleepsAndTellsLocalTime) {
  PosixClock clock;
  const auto start = std::chrono::steady_clock::now();
  clock.Sleep(60);
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(60));

  const time_t now = time(nullptr);
  tm local{};
  localtime_r(&now, &local);
  const LocalTime t = clock.Now();
  EXPECT_EQ(t.year, local.tm_year + 1900);
  EXPECT_EQ(t.month, local.tm_mon + 1);
  EXPECT_GE(t.day, 1);
  EXPECT_LE(t.day, 31);
  EXPECT_LE(t.hour, 23);
  EXPECT_LE(t.minute, 59);
}

TEST(PosixPortsTest, InstallFillsEveryPort) {
  Ports ports;
  InstallPosixPorts(ports);
  EXPECT_NE(ports.system, nullptr);
  EXPECT_NE(ports.scsi, nullptr);
  ASSERT_NE(ports.aspi, nullptr);
  EXPECT_FALSE(ports.aspi->Load());
  EXPECT_NE(ports.events, nullptr);
  EXPECT_NE(ports.threads, nullptr);
  EXPECT_NE(ports.clock, nullptr);
  EXPECT_NE(ports.profile, nullptr);
  EXPECT_NE(ports.status, nullptr);
  Ports again;
  InstallPosixPorts(again);
  EXPECT_EQ(again.profile, ports.profile);  // one set for the process
}

}  // namespace
}  // namespace platform
