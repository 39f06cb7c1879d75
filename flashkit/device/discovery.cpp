#include "flashkit/device/discovery.h"

#include <cstring>
#include <utility>
#include <vector>

#include "flashkit/data/configuration.h"
#include "flashkit/device/byte_order.h"
#include "flashkit/device/carriers.h"
#include "flashkit/device/scsi_commands.h"
#include "flashkit/interface/library_state.h"
#include "platform/ports.h"

namespace flashkit {

namespace pt = platform::pass_through;
namespace aspi = platform::aspi;

namespace {

constexpr std::size_t kInquiryOutputSize = pt::kDataOffset + kInquiryLength;  // 116
constexpr std::uint8_t kTargetsNarrow = 8;
constexpr std::uint8_t kTargetsWide = 16;

// The INQUIRY request of the pass-through scan: a six-byte command with a two-second timeout.
void FillInquiryRequest(std::uint8_t* area) {
  std::memset(area, 0, pt::kReadAreaSize);
  PutU16(area, pt::kOffLength, pt::kStructSize);
  area[pt::kOffTargetId] = 1;
  area[pt::kOffCdbLength] = kInquiryCdbLength;
  area[pt::kOffSenseInfoLength] = pt::kSenseLength;
  area[pt::kOffDataIn] = pt::kDataInFlag;
  PutU32(area, pt::kOffDataTransferLength, kInquiryLength);
  PutU32(area, pt::kOffTimeOutValue, kInquiryTimeoutSeconds);
  PutU32(area, pt::kOffDataBuffer, pt::kDataOffset);
  PutU32(area, pt::kOffSenseInfoOffset, pt::kSenseOffset);
  const VendorCommand inquiry = InquiryCommand();
  std::memcpy(area + pt::kOffCdb, inquiry.data(), kInquiryCdbLength);
}

// Probes one drive; returns its entry, or null (with the drive closed again) when it is not a
// K4826. A drive that fails the probe is closed at once: nothing refers to its handle again.
std::unique_ptr<DeviceEntry> ProbeDrive(const std::string& path, std::uint8_t* area) {
  platform::ScsiPassThrough& scsi = *platform::CurrentPorts().scsi;
  FillInquiryRequest(area);
  platform::Handle drive = scsi.OpenDrive(path);
  if (drive == nullptr) return nullptr;

  const std::uint32_t inquiry = scsi.IoControl(drive, pt::kIoctlPassThrough, area, pt::kStructSize,
                                               kInquiryOutputSize, nullptr);
  if (inquiry != 0 ||
      (area[pt::kDataOffset + kInquiryFormatByte] & 0x0F) != kInquiryFormatExpected) {
    scsi.CloseDrive(drive);
    return nullptr;
  }

  State().current.handle = drive;
  std::memset(area, 0, pt::kReadAreaSize);
  const VendorCommand identify = IdentifyCommand();
  std::memcpy(area + pt::kOffCdb, identify.data(), identify.size());
  const std::int32_t result = PassThroughRead(kIdentifyLength, kVendorTimeoutSeconds, area);
  if (result != 0 || !IsK4826IdentifyAnswer(area + pt::kDataOffset)) {
    State().current.handle = nullptr;
    scsi.CloseDrive(drive);
    return nullptr;
  }

  auto entry = std::make_unique<DeviceEntry>();
  entry->handle = drive;
  entry->path = path;
  std::memcpy(entry->version.data(), area + pt::kDataOffset + 4, entry->version.size());
  return entry;
}

void PassThroughScan() {
  // The read area is large; one per scan, reused for every drive.
  std::vector<std::uint8_t> area(pt::kReadAreaSize);
  for (const std::string& path : platform::CurrentPorts().scsi->CandidateDrives()) {
    std::unique_ptr<DeviceEntry> entry = ProbeDrive(path, area.data());
    if (entry) State().devices.push_back(std::move(entry));
  }
  State().current.handle = nullptr;
}

bool SendAspiInquiry(std::uint8_t hostAdapter, std::uint8_t& targets) {
  aspi::SrbHaInquiry inquiry{};
  inquiry.cmd = aspi::kScHaInquiry;
  inquiry.haId = hostAdapter;
  platform::CurrentPorts().aspi->SendCommand(&inquiry);
  if (inquiry.status != aspi::kSsComp) return false;
  targets = inquiry.haUnique[3];
  if (targets != kTargetsNarrow && targets != kTargetsWide) targets = kTargetsNarrow;
  return true;
}

bool TargetExists(std::uint8_t hostAdapter, std::uint8_t target) {
  aspi::SrbGetDevType query{};
  query.cmd = aspi::kScGetDevType;
  query.haId = hostAdapter;
  query.target = target;
  platform::CurrentPorts().aspi->SendCommand(&query);
  return query.status == aspi::kSsComp;
}

std::unique_ptr<DeviceEntry> ProbeAspiTarget(std::uint8_t hostAdapter, std::uint8_t target) {
  State().current.hostAdapter = hostAdapter;
  State().current.target = target;

  // The answer is cleared before each request so that a short answer never leaves stale bytes.
  std::uint8_t answer[kInquiryLength] = {};
  aspi::SrbExecScsiCmd srb{};
  const VendorCommand inquiry = InquiryCommand();
  std::memcpy(srb.cdb, inquiry.data(), 5);
  if (AspiExecute(1, kInquiryLength, srb, answer) != 0 ||
      (answer[kInquiryFormatByte] & 0x0F) != kInquiryFormatExpected) {
    return nullptr;
  }

  srb = {};
  std::memset(answer, 0, sizeof answer);
  const VendorCommand identify = IdentifyCommand();
  std::memcpy(srb.cdb, identify.data(), 7);
  if (AspiExecute(1, kIdentifyLength, srb, answer) != 0 || !IsK4826IdentifyAnswer(answer)) {
    return nullptr;
  }
  auto entry = std::make_unique<DeviceEntry>();
  entry->hostAdapter = hostAdapter;
  entry->target = target;
  std::memcpy(entry->version.data(), answer + 4, entry->version.size());
  return entry;
}

void AspiScan() {
  platform::AspiLayer& layer = *platform::CurrentPorts().aspi;
  LibraryState& state = State();
  // A second scan without EndDevice would load the layer twice and leave one reference behind.
  if (state.aspiLoaded) {
    layer.Unload();
    state.aspiLoaded = false;
  }
  if (!layer.Load()) return;
  state.aspiLoaded = true;

  const std::uint32_t support = layer.GetSupportInfo();
  if (((support >> 8) & 0xFF) != aspi::kSsComp) return;
  const std::uint32_t adapters = support & 0xFF;

  std::vector<std::pair<std::uint8_t, std::uint8_t>> candidates;
  for (std::uint32_t ha = 0; ha < adapters; ++ha) {
    std::uint8_t targets = 0;
    if (!SendAspiInquiry(static_cast<std::uint8_t>(ha), targets)) continue;
    for (std::uint8_t target = 0; target < targets; ++target) {
      if (TargetExists(static_cast<std::uint8_t>(ha), target)) {
        candidates.emplace_back(static_cast<std::uint8_t>(ha), target);
      }
    }
  }
  for (const auto& [ha, target] : candidates) {
    std::unique_ptr<DeviceEntry> entry = ProbeAspiTarget(ha, target);
    // ASPI entries go to the head, so the last one probed comes first.
    if (entry) state.devices.insert(state.devices.begin(), std::move(entry));
  }
  state.current.hostAdapter = 0;
  state.current.target = 0;
}

}  // namespace

std::int32_t OsFamilyFor(const platform::OsVersion& version, bool known, std::int32_t previous) {
  if (known && version.platformId == platform::kPlatformWindows9x) {
    return version.minor < 10 ? kOsWindows95 : kOsWindows98;
  }
  if (known && version.platformId == platform::kPlatformWindowsNt) {
    if (version.major < 5) return kOsNt4;
    return version.minor == 0 ? kOsWindows2000 : kOsWindowsXp;
  }
  return previous;
}

void ReleaseDeviceList() {
  LibraryState& state = State();
  for (const std::unique_ptr<DeviceEntry>& entry : state.devices) {
    if (entry->handle != nullptr) platform::CurrentPorts().scsi->CloseDrive(entry->handle);
  }
  state.devices.clear();
}

int DiscoverDevices() {
  LibraryState& state = State();
  platform::Ports& ports = platform::CurrentPorts();
  platform::OsVersion version;
  const bool known = ports.system->QueryOsVersion(version);
  state.osFamily = OsFamilyFor(version, known, state.osFamily);
  if (state.osFamily == kOsWindows95 || state.osFamily < kOsWindows98) return 0;

  state.configurationPath = ConfigurationPathIn(ports.system->ModuleFolder());
  // Entries of an earlier call are released here: hosts call GetDevice again and again.
  ReleaseDeviceList();
  if (UsesPassThrough(state.osFamily)) {
    PassThroughScan();
  } else if (UsesAspi(state.osFamily)) {
    AspiScan();
  }
  return static_cast<int>(state.devices.size());
}

}  // namespace flashkit
