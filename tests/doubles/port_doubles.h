#pragma once
// Port doubles for host tests: a virtual clock, threads that run inline, recorded posts, a
// fixed system description, and a recording pass-through port.
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "platform/ports.h"

namespace doubles {

class FixedSystem : public platform::SystemInfo {
 public:
  platform::OsVersion version{platform::kPlatformWindowsNt, 5, 1};
  bool known = true;
  std::string moduleFolder;
  bool QueryOsVersion(platform::OsVersion& out) override {
    out = version;
    return known;
  }
  std::string ModuleFolder() override { return moduleFolder; }
};

struct Post {
  void* window;
  std::uint32_t message;
  std::uintptr_t wParam;
  std::intptr_t lParam;
};

class RecordedPosts : public platform::StatusPost {
 public:
  void Post(void* window, std::uint32_t message, std::uintptr_t wParam,
            std::intptr_t lParam) override {
    std::lock_guard<std::mutex> lock(mutex_);
    posts_.push_back({window, message, wParam, lParam});
  }
  std::vector<doubles::Post> posts() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return posts_;
  }
  // The lParam codes in order.
  std::vector<int> codes() const;
  // wParam of every Progress post in order.
  std::vector<int> progress() const;
  void clear() {
    std::lock_guard<std::mutex> lock(mutex_);
    posts_.clear();
  }

 private:
  mutable std::mutex mutex_;
  std::vector<doubles::Post> posts_;
};

// Sleep passes virtual time at once; Now is a fixed local time.
class VirtualClock : public platform::Clock {
 public:
  std::uint64_t elapsedMs = 0;
  std::vector<std::uint32_t> sleeps;
  platform::LocalTime now{2026, 12, 11, 9, 5};
  void Sleep(std::uint32_t milliseconds) override {
    sleeps.push_back(milliseconds);
    elapsedMs += milliseconds;
  }
  platform::LocalTime Now() override { return now; }
};

// Runs the thread's entry on the caller's thread, so a job is over when Download returns.
class InlineThreads : public platform::Threads {
 public:
  bool failStart = false;
  std::size_t lastStackBytes = 0;
  bool Start(void (*entry)(void*), void* argument, std::size_t stackBytes) override {
    lastStackBytes = stackBytes;
    if (failStart) return false;
    entry(argument);
    return true;
  }
};

class TestEvents : public platform::Events {
 public:
  bool failCreate = false;
  int created = 0;
  int closed = 0;
  platform::Handle Create() override;
  void Wait(platform::Handle event) override;
  void Signal(platform::Handle event) override;
  void Close(platform::Handle event) override;
};

// Records every pass-through request (the area as it was handed over) and answers with a
// scripted result and data.
class RecordingScsi : public platform::ScsiPassThrough {
 public:
  struct Request {
    platform::Handle drive;
    std::uint32_t code;
    std::vector<std::uint8_t> area;  // first 80 bytes as received
    std::uint32_t inSize;
    std::uint32_t outSize;
    void* directData;
  };
  std::vector<std::string> drives;
  std::vector<Request> requests;
  std::uint32_t result = 0;
  std::vector<std::uint8_t> answer;  // copied to offset 80 of read requests
  std::vector<platform::Handle> closed;

  std::vector<std::string> CandidateDrives() override { return drives; }
  platform::Handle OpenDrive(const std::string&) override { return nullptr; }
  void CloseDrive(platform::Handle drive) override { closed.push_back(drive); }
  std::uint32_t IoControl(platform::Handle drive, std::uint32_t code, std::uint8_t* area,
                          std::uint32_t inSize, std::uint32_t outSize, void* directData) override;
};

}  // namespace doubles
