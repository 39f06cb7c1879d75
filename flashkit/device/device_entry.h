#pragma once
#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/handle.h"

namespace flashkit {

// One found device; owned by the device list.
struct DeviceEntry {
  std::uint8_t hostAdapter = 0;           // ASPI host adapter; 0 on pass-through systems
  std::uint8_t target = 0;                // ASPI target; 0 on pass-through systems
  platform::Handle handle = nullptr;      // open drive on pass-through systems; null on ASPI
  std::string path;                       // drive's device path; empty on ASPI systems
  std::string serial;                     // serial string a mass-programming job wrote into it
  std::array<std::uint8_t, 8> version{};  // bytes 4 to 11 of the identify answer
  std::int32_t status = 0;                // 1 good / 0 failed after a mass-programming job
};

using DeviceList = std::vector<std::unique_ptr<DeviceEntry>>;

// The one device the carriers address.
struct CurrentDevice {
  platform::Handle handle = nullptr;  // pass-through systems
  std::uint8_t hostAdapter = 0;       // ASPI systems
  std::uint8_t target = 0;            // ASPI systems
};

// OsFamily values.
inline constexpr std::int32_t kOsUnknown = 0;
inline constexpr std::int32_t kOsWindows95 = 95;
inline constexpr std::int32_t kOsWindows98 = 98;
inline constexpr std::int32_t kOsNt4 = 1000;
inline constexpr std::int32_t kOsWindows2000 = 2000;
inline constexpr std::int32_t kOsWindowsXp = 2002;

inline bool UsesPassThrough(std::int32_t osFamily) { return osFamily >= kOsNt4; }
inline bool UsesAspi(std::int32_t osFamily) { return osFamily == kOsWindows98; }

}  // namespace flashkit
