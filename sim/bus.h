#pragma once
// The simulated devices of one configuration and where they sit: pass-through drives by path,
// ASPI host adapters with their targets.
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "sim/device.h"

namespace sim {

// Where a device sits: a pass-through drive (`path` set) or an ASPI address.
struct Placement {
  std::string path;  // "\\.\F:" or "/dev/sg3"; empty for an ASPI device
  int adapter = -1;
  int target = -1;
};

struct PlacedDevice {
  Placement place;
  DeviceConfig config;
};

struct BusConfig {
  bool aspiPresent = true;                   // false: loading the ASPI layer fails
  std::vector<std::uint8_t> adapterTargets;  // per host adapter, the target count it reports
  std::vector<PlacedDevice> devices;
};

// "\\.\F:" for letter 'F' (any case).
std::string DrivePath(char letter);
// The device path for a drive as a configuration names it: a letter ("F", "f:", "\\.\F:") or a
// node path ("/dev/sg3"). Empty when it is neither.
std::string NormaliseDrivePath(const std::string& place);

class Bus : private DeviceObserver {
 public:
  Bus() = default;
  // Builds the bus a parsed configuration describes (see ParseConfig).
  explicit Bus(const BusConfig& config);
  Bus(const Bus&) = delete;
  Bus& operator=(const Bus&) = delete;
  ~Bus() override;

  // Puts a device at a drive. Null when the place is no drive path, already taken, or mixes
  // drive letters with node paths, or the name is taken.
  Device* AddDrive(const std::string& place, DeviceConfig config);
  // Adds a host adapter that reports `targets` targets; returns its number.
  int AddAdapter(std::uint8_t targets);
  // Puts a device at (adapter, target). Null when the adapter does not exist, the target is
  // outside 0 to 255 or taken, or the name is taken.
  Device* AddAspiDevice(int adapter, int target, DeviceConfig config);

  Device* FindDrive(const std::string& path) const;  // by device path as DrivePaths gives it
  Device* FindAspi(int adapter, int target) const;
  Device* FindByName(const std::string& name) const;

  // True unless the drives are node paths: then hosts probe "\\.\D:" to "\\.\Z:".
  bool UsesDriveLetters() const;
  std::vector<std::string> DrivePaths() const;  // configured drives, in configuration order
  int AdapterCount() const { return static_cast<int>(adapterTargets_.size()); }
  std::uint8_t AdapterTargets(int adapter) const;
  bool AspiPresent() const { return aspiPresent_; }
  void SetAspiPresent(bool present) { aspiPresent_ = present; }

  std::vector<Device*> Devices() const;
  // Every device's trace merged in the order the commands arrived.
  std::vector<TraceEntry> Trace() const;
  // Every device's violations, each prefixed with the device's name.
  std::vector<std::string> Violations() const;

  // Appends every command's trace line to this file (empty: none).
  void SetTraceFile(const std::string& path);
  // Writes each device's stored flash into this folder whenever ContextSwitch 0x02 ends a
  // sequence (empty: never).
  void SetDumpFolder(const std::string& folder);

 private:
  struct Slot {
    Placement place;
    std::unique_ptr<Device> device;
  };
  Device* Attach(Placement place, DeviceConfig config);
  void OnCommand(const TraceEntry& entry) override;
  void OnSequenceEnd(const Device& device) override;

  std::vector<Slot> slots_;
  std::vector<std::uint8_t> adapterTargets_;
  bool aspiPresent_ = true;
  std::atomic<std::uint64_t> serial_{0};
  mutable std::mutex fileMutex_;
  std::string traceFile_;
  std::string dumpFolder_;
};

}  // namespace sim
