#pragma once
#include <cstdint>

#include "flashkit/device/scsi_commands.h"

namespace flashkit {

// The download job's vendor commands, each built afresh with its exact bytes 5 to 11.
// The signature (bytes 0 to 4) is stamped when the command is sent.
namespace catalogue {

inline constexpr std::uint8_t kContextSwitch = 0xE1;
inline constexpr std::uint8_t kTransfer = 0xE2;
inline constexpr std::uint8_t kLoader = 0xE3;
inline constexpr std::uint8_t kContextStart = 0x01;
inline constexpr std::uint8_t kContextEnd = 0x02;
inline constexpr std::uint8_t kWriteChunk = 0x01;
inline constexpr std::uint8_t kReadBank = 0x02;
inline constexpr std::uint8_t kWriteDescriptor = 0x03;
inline constexpr std::uint8_t kReadFlashIds = 0x04;
inline constexpr std::uint8_t kSetFlashType = 0x05;

inline constexpr std::uint32_t kChunkSize = 1024;
inline constexpr std::uint32_t kPageSize = 512;
inline constexpr std::uint32_t kFlashIdAnswerSize = 8;
inline constexpr std::uint32_t kTimeoutSeconds = 100;
inline constexpr std::uint32_t kDescriptorPage = 122;  // carries the DescriptorBlock
inline constexpr std::uint8_t kDescriptorMarker = 0x40;

VendorCommand LoadBootLoader(bool descriptorMode, std::uint16_t length);
VendorCommand ContextSwitch(std::uint8_t subcode, std::uint8_t byte7 = 0, std::uint8_t byte8 = 0,
                            std::uint8_t byte9 = 0, std::uint8_t byte10 = 0,
                            std::uint8_t byte11 = 0);
VendorCommand ReadFlashIds(std::uint8_t bankCount);
VendorCommand SetFlashType(std::uint8_t bankCount, std::uint8_t parameter);
// Single device: one 1 KiB chunk of bank `bank`.
VendorCommand WriteChunk(std::uint8_t bank, std::uint8_t sequence, std::uint8_t parameter);
// Single device: the zero-length chunk that closes a write sequence.
VendorCommand CloseWrite(std::uint8_t bankCount, std::uint8_t sequence, std::uint8_t parameter);
// Mass programming: one 512-byte page.
VendorCommand WritePage(std::uint16_t loaderLength, std::uint8_t bankCount, std::uint8_t sequence);
VendorCommand ReadBank(std::uint8_t bank);
VendorCommand WriteDescriptor(std::uint8_t bankCount, std::uint8_t parameter);
VendorCommand ReadDescriptorBank(std::uint8_t bankCount, std::uint8_t parameter);

}  // namespace catalogue
}  // namespace flashkit
