#pragma once
// SCSI pass-through over simulated devices: the request area is decoded and checked as strictly
// as a careful driver would, and every request is logged so that tests can compare its bytes.
#include <array>
#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "platform/scsi_pass_through.h"
#include "sim/bus.h"

namespace platform {

// Error codes the simulated driver gives, as Windows numbers them.
inline constexpr std::uint32_t kErrorInvalidHandle = 6;
inline constexpr std::uint32_t kErrorDevNotExist = 55;
inline constexpr std::uint32_t kErrorInvalidParameter = 87;
inline constexpr std::uint32_t kErrorIoDevice = 1117;

// One IoControl call as it arrived.
struct PassThroughRequest {
  Handle drive = nullptr;
  std::string path;  // of the drive the handle was opened on; empty for an unknown handle
  std::uint32_t code = 0;
  std::array<std::uint8_t, pass_through::kDataOffset> area{};  // first 80 bytes, before the call
  std::uint32_t inSize = 0;
  std::uint32_t outSize = 0;
  void* directData = nullptr;
  std::uint32_t result = 0;  // what IoControl returned
};

class SimulatedScsiPassThrough : public ScsiPassThrough {
 public:
  struct Options {
    // Direct requests that read (DataIn 1), as a tray tool sends them. Off: a direct request must
    // send data or have none, as the library's writes do.
    bool directReads = false;
  };

  explicit SimulatedScsiPassThrough(sim::Bus& bus) : SimulatedScsiPassThrough(bus, Options{}) {}
  SimulatedScsiPassThrough(sim::Bus& bus, Options options);

  std::vector<std::string> CandidateDrives() override;
  Handle OpenDrive(const std::string& path) override;
  void CloseDrive(Handle drive) override;
  std::uint32_t IoControl(Handle drive, std::uint32_t code, std::uint8_t* area,
                          std::uint32_t inSize, std::uint32_t outSize, void* directData) override;

  std::vector<PassThroughRequest> Requests() const;
  // Malformed requests, one text each (they failed with 87).
  std::vector<std::string> Violations() const;
  std::size_t OpenHandleCount() const;
  void ClearLog();

 private:
  std::uint32_t Check(std::uint32_t code, const std::uint8_t* area, std::uint32_t inSize,
                      std::uint32_t outSize, void* directData);
  std::uint32_t Reject(const std::string& text);

  sim::Bus& bus_;
  Options options_;
  mutable std::mutex mutex_;
  std::map<Handle, std::string> open_;
  std::uintptr_t nextHandle_ = 0x1000;
  std::vector<PassThroughRequest> requests_;
  std::vector<std::string> violations_;
};

}  // namespace platform
