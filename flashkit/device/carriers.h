#pragma once
#include <cstdint>

#include "platform/aspi.h"
#include "platform/scsi_pass_through.h"

namespace flashkit {

// Each carrier delivers one 12-byte command, already placed in the request by the caller, with
// at most one data phase to the current device. Each returns 0 on success, otherwise an error
// code; none retries or reports anything by itself.

// Buffered pass-through read: `area` is a zero-filled read area (65,616 bytes) with the command
// in its command field; on success the data stands at offset 80. Lengths above 65,536 are
// refused with 87 (ERROR_INVALID_PARAMETER) before anything is sent.
std::int32_t PassThroughRead(std::uint32_t length, std::uint32_t timeoutSeconds,
                             std::uint8_t* area);

// Direct pass-through write: `area` is a zero-filled 80-byte area with the command in its
// command field; the driver takes the data straight from `data` (may be null for length 0).
std::int32_t PassThroughWrite(std::uint32_t length, std::uint32_t timeoutSeconds,
                              std::uint8_t* area, std::uint8_t* data);

// ASPI execute: `srb` is a zero-filled request block with the command in its CDB field.
// Returns 0 for SS_COMP (and for a request still pending after the fixed delay), otherwise the
// block's status byte.
std::int32_t AspiExecute(int dataIn, std::uint32_t length, platform::aspi::SrbExecScsiCmd& srb,
                         std::uint8_t* buffer);

// The spin that stands in for the completion event when none could be created.
inline constexpr std::uint32_t kAspiFallbackSpins = 1u << 28;

}  // namespace flashkit
