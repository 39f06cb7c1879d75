#pragma once
// An ASPI layer over simulated devices: host adapter inquiry, device type, and execute requests,
// some of which may answer later from a worker thread as a real layer does.
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/aspi.h"
#include "platform/events.h"
#include "sim/bus.h"

namespace platform {

inline constexpr std::uint8_t kSsInvalidCmd = 0x80;
inline constexpr std::uint8_t kSsInvalidSrb = 0xE0;
inline constexpr std::uint8_t kHaStatSelectionTimeout = 0x11;

// One SendCommand call as it arrived.
struct AspiRequest {
  std::uint8_t command = 0;
  std::vector<std::uint8_t> bytes;  // the request block as it came in
  std::uint8_t status = 0;          // SRB_Status when SendCommand returned
  bool pending = false;             // answered later from the worker thread
};

class SimulatedAspiLayer : public AspiLayer {
 public:
  // `events` signals the completion events of requests that answer later.
  SimulatedAspiLayer(sim::Bus& bus, Events& events);
  // Completes whatever is still pending before it goes.
  ~SimulatedAspiLayer() override;
  SimulatedAspiLayer(const SimulatedAspiLayer&) = delete;
  SimulatedAspiLayer& operator=(const SimulatedAspiLayer&) = delete;

  bool Load() override;
  void Unload() override;
  std::uint32_t GetSupportInfo() override;
  std::uint32_t SendCommand(void* srb) override;

  bool Loaded() const;
  // Blocks until every request that answered later has completed.
  void WaitIdle();
  std::vector<AspiRequest> Requests() const;
  // Malformed or misplaced requests, one text each.
  std::vector<std::string> Violations() const;
  void ClearLog();

 private:
  struct Job {
    aspi::SrbExecScsiCmd* srb;
    sim::Device* device;
  };
  std::uint8_t HaInquiry(aspi::SrbHaInquiry& srb);
  std::uint8_t GetDevType(aspi::SrbGetDevType& srb);
  std::uint8_t Execute(aspi::SrbExecScsiCmd& srb, bool& pending);
  std::uint8_t Reject(const std::string& text);
  void Run(const Job& job);
  void Worker();

  sim::Bus& bus_;
  Events& events_;
  mutable std::mutex mutex_;
  std::condition_variable wake_;
  std::condition_variable idle_;
  bool loaded_ = false;
  std::vector<AspiRequest> requests_;
  std::vector<std::string> violations_;
  std::deque<Job> queue_;
  std::size_t running_ = 0;  // jobs queued or being answered
  bool stopping_ = false;
  std::thread worker_;  // started with the first request that answers later
};

}  // namespace platform
