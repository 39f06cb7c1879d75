#pragma once
#include <cstdint>

#include "flashkit/device/device_entry.h"
#include "flashkit/device/scsi_commands.h"

namespace flashkit {

// Sends one vendor command to the current device over the carrier that fits OsFamily.
// stamp: write the signature into bytes 0 to 4 of `command` first. dataIn: the data phase runs
// from the device (at most 65,536 bytes); otherwise to it, or there is none (length 0).
// Returns 0 on success, otherwise the carrier's error code; on a failed read nothing is copied.
// Before discovery has run, and on a refused system, nothing is sent and the result is 0.
std::int32_t SendVendorCommand(int stamp, int dataIn, std::uint32_t length,
                               std::uint32_t timeoutSeconds, VendorCommand& command,
                               std::uint8_t* buffer);

// Makes `entry` the device the carriers address.
void SelectCurrentDevice(const DeviceEntry& entry);

}  // namespace flashkit
