#pragma once
#include <array>
#include <cstdint>
#include <string>

#include "flashkit/data/descriptor_block.h"
#include "flashkit/device/scsi_commands.h"
#include "flashkit/interface/library_state.h"
#include "flashkit/job/job_buffer.h"

namespace flashkit {

enum DownloadMode : std::int32_t {
  LoaderMode = 1,
  FirmwareMode = 2,
  DescriptorMode = 3,
  DescriptorImageMode = 4,
};

inline constexpr std::uint32_t kChunksPerBank = 64;
inline constexpr std::uint32_t kLoaderModePages = 12;
inline constexpr std::uint32_t kLoaderModeBytes = 4096;
inline constexpr std::uint32_t kMaxBootLoaderBytes = 65535;  // the length travels in 16 bits
inline constexpr std::uint32_t kMaxBanks = 255;              // the count travels in 8 bits

// The state of one job, owned by the job thread.
struct JobContext {
  DownloadJob job;
  std::string imagePath;       // the raw image used (configured .bin, or converted from .hex)
  std::string bootLoaderPath;  // [Firmware] Bootloader
  JobBuffer image;             // bankCount x 64 KiB
  std::uint8_t bankCount = 0;
  std::uint32_t transferCount = 0;
  std::uint16_t loaderLength = 0;  // LoaderMode only
  std::array<std::uint8_t, kDescriptorHeadSize> descriptorHead{};
  int placeDescriptor = 1;
};

}  // namespace flashkit
