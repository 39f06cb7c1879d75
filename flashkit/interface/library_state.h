#pragma once
#include <array>
#include <cstdint>
#include <string>

#include "flashkit/data/descriptor_block.h"
#include "flashkit/data/flash_id_table.h"
#include "flashkit/device/device_entry.h"

namespace flashkit {

inline constexpr std::size_t kDeviceInfoSize = 512;

// The four arguments of Download.
struct DownloadJob {
  std::int32_t mode = 0;
  std::int32_t device = 0;
  std::int32_t serialAndLog = 0;
  void* window = nullptr;
};

// Everything the library keeps for the process. One instance, no locks: the host thread and
// at most one job thread take turns as the exported interface requires.
struct LibraryState {
  // Written by GetDevice; read by the carriers, the envelope, the job and EndDevice.
  std::int32_t osFamily = kOsUnknown;
  // Filled by GetDevice, emptied by EndDevice; walked by the exports and the job.
  DeviceList devices;
  // Written by discovery while it probes and by the job before each device; read by carriers.
  CurrentDevice current;
  // Set by the ASPI scan when WNASPI32 is loaded; cleared by EndDevice when it unloads it.
  bool aspiLoaded = false;
  // Written by GetDevice; read by the job for `initial`, the serial write-back and the log.
  std::string configurationPath;
  // Read at load, freed at unload; read by the job.
  FlashIdTable flashTable;
  int flashTableLoaded = 0;
  // Written by Download; copied by the job thread when it starts.
  DownloadJob job;
  // Written by the job from a device's read-back; read by GetDeviceInfo.
  std::array<std::uint8_t, kDeviceInfoSize> deviceInfo{};
  // Written by the job from the configuration (and by mass programming as serials advance).
  Identity identity;
  // Rebuilt by the job; sent as descriptor data.
  DescriptorBlock descriptorBlock{};
};

LibraryState& State();

// Process attach: reads "flashid.dat" from the current directory. Process detach: frees it.
// The load hook calls these after the platform ports are in place.
void LibraryAttach();
void LibraryDetach();

}  // namespace flashkit
