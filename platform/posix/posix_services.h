#pragma once
// The POSIX implementations of the small ports: system facts, events, threads, clock, and
// an ASPI layer that is never there.
#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/aspi.h"
#include "platform/clock.h"
#include "platform/events.h"
#include "platform/system_info.h"
#include "platform/threads.h"

namespace platform {

class PosixSystemInfo : public SystemInfo {
 public:
  // Always the NT family, version 5.1: Linux offers SCSI pass-through (SG_IO), never ASPI,
  // and discovery chooses its carriers by this answer.
  bool QueryOsVersion(OsVersion& version) override;
  // Folder of the shared object (or program) that holds this code, with its trailing '/'.
  std::string ModuleFolder() override;
};

// Manual-reset events over a mutex and a condition variable.
class PosixEvents : public Events {
 public:
  Handle Create() override;
  void Wait(Handle event) override;
  void Signal(Handle event) override;
  void Close(Handle event) override;
};

// Detached POSIX threads with SIGPIPE blocked (a closed status pipe must not end the process).
// The stack is the larger of the request and the system's default thread stack.
class PosixThreads : public Threads {
 public:
  bool Start(void (*entry)(void*), void* argument, std::size_t stackBytes) override;
};

class PosixClock : public Clock {
 public:
  void Sleep(std::uint32_t milliseconds) override;
  LocalTime Now() override;
};

// Linux has no ASPI layer: Load always fails.
class NoAspiLayer : public AspiLayer {
 public:
  bool Load() override { return false; }
  void Unload() override {}
  std::uint32_t GetSupportInfo() override { return 0; }
  std::uint32_t SendCommand(void*) override { return aspi::kSsInvalidHa; }
};

}  // namespace platform
