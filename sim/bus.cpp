#include "sim/bus.h"

#include <algorithm>
#include <cctype>
#include <fstream>

namespace sim {

namespace {

bool IsNodePath(const std::string& path) { return !path.empty() && path[0] == '/'; }

}  // namespace

std::string DrivePath(char letter) {
  std::string path = "\\\\.\\";
  path += static_cast<char>(std::toupper(static_cast<unsigned char>(letter)));
  path += ':';
  return path;
}

std::string NormaliseDrivePath(const std::string& place) {
  if (IsNodePath(place)) return place;
  std::string letter = place;
  if (letter.rfind("\\\\.\\", 0) == 0) letter = letter.substr(4);
  if (!letter.empty() && letter.back() == ':') letter.pop_back();
  if (letter.size() != 1 || !std::isalpha(static_cast<unsigned char>(letter[0]))) return {};
  return DrivePath(letter[0]);
}

Bus::Bus(const BusConfig& config) : aspiPresent_(config.aspiPresent) {
  for (std::uint8_t targets : config.adapterTargets) AddAdapter(targets);
  for (const PlacedDevice& placed : config.devices) {
    if (!placed.place.path.empty()) {
      AddDrive(placed.place.path, placed.config);
    } else {
      AddAspiDevice(placed.place.adapter, placed.place.target, placed.config);
    }
  }
}

Bus::~Bus() {
  for (Slot& slot : slots_) slot.device->SetObserver(nullptr);
}

Device* Bus::Attach(Placement place, DeviceConfig config) {
  if (FindByName(config.name) != nullptr) return nullptr;
  Slot slot{std::move(place), std::make_unique<Device>(std::move(config))};
  slot.device->SetSerialSource(&serial_);
  slot.device->SetObserver(this);
  slots_.push_back(std::move(slot));
  return slots_.back().device.get();
}

Device* Bus::AddDrive(const std::string& place, DeviceConfig config) {
  const std::string path = NormaliseDrivePath(place);
  if (path.empty() || FindDrive(path) != nullptr) return nullptr;
  for (const Slot& slot : slots_) {
    if (!slot.place.path.empty() && IsNodePath(slot.place.path) != IsNodePath(path)) {
      return nullptr;
    }
  }
  Placement placement;
  placement.path = path;
  return Attach(std::move(placement), std::move(config));
}

int Bus::AddAdapter(std::uint8_t targets) {
  adapterTargets_.push_back(targets);
  return AdapterCount() - 1;
}

Device* Bus::AddAspiDevice(int adapter, int target, DeviceConfig config) {
  if (adapter < 0 || adapter >= AdapterCount() || target < 0 || target > 255) return nullptr;
  if (FindAspi(adapter, target) != nullptr) return nullptr;
  Placement placement;
  placement.adapter = adapter;
  placement.target = target;
  return Attach(std::move(placement), std::move(config));
}

Device* Bus::FindDrive(const std::string& path) const {
  for (const Slot& slot : slots_) {
    if (!slot.place.path.empty() && slot.place.path == path) return slot.device.get();
  }
  return nullptr;
}

Device* Bus::FindAspi(int adapter, int target) const {
  for (const Slot& slot : slots_) {
    if (slot.place.path.empty() && slot.place.adapter == adapter && slot.place.target == target) {
      return slot.device.get();
    }
  }
  return nullptr;
}

Device* Bus::FindByName(const std::string& name) const {
  for (const Slot& slot : slots_) {
    if (slot.device->Name() == name) return slot.device.get();
  }
  return nullptr;
}

bool Bus::UsesDriveLetters() const {
  return std::none_of(slots_.begin(), slots_.end(),
                      [](const Slot& slot) { return IsNodePath(slot.place.path); });
}

std::vector<std::string> Bus::DrivePaths() const {
  std::vector<std::string> paths;
  for (const Slot& slot : slots_) {
    if (!slot.place.path.empty()) paths.push_back(slot.place.path);
  }
  return paths;
}

std::uint8_t Bus::AdapterTargets(int adapter) const {
  if (adapter < 0 || adapter >= AdapterCount()) return 0;
  return adapterTargets_[static_cast<std::size_t>(adapter)];
}

std::vector<Device*> Bus::Devices() const {
  std::vector<Device*> devices;
  for (const Slot& slot : slots_) devices.push_back(slot.device.get());
  return devices;
}

std::vector<TraceEntry> Bus::Trace() const {
  std::vector<TraceEntry> all;
  for (const Slot& slot : slots_) {
    std::vector<TraceEntry> trace = slot.device->Trace();
    all.insert(all.end(), trace.begin(), trace.end());
  }
  std::sort(all.begin(), all.end(),
            [](const TraceEntry& a, const TraceEntry& b) { return a.serial < b.serial; });
  return all;
}

std::vector<std::string> Bus::Violations() const {
  std::vector<std::string> all;
  for (const Slot& slot : slots_) {
    for (const std::string& text : slot.device->Violations()) {
      all.push_back(slot.device->Name() + ": " + text);
    }
  }
  return all;
}

void Bus::SetTraceFile(const std::string& path) {
  std::lock_guard lock(fileMutex_);
  traceFile_ = path;
}

void Bus::SetDumpFolder(const std::string& folder) {
  std::lock_guard lock(fileMutex_);
  dumpFolder_ = folder;
}

void Bus::OnCommand(const TraceEntry& entry) {
  std::lock_guard lock(fileMutex_);
  if (traceFile_.empty()) return;
  // Opened per line so that the file is complete at every moment, also for a reader in another
  // process.
  std::ofstream file(traceFile_, std::ios::app);
  file << FormatTraceLine(entry) << '\n';
}

void Bus::OnSequenceEnd(const Device& device) {
  std::lock_guard lock(fileMutex_);
  if (!dumpFolder_.empty()) device.DumpFlash(dumpFolder_);
}

}  // namespace sim
