#pragma once
#include "flashkit/device/device_entry.h"
#include "flashkit/job/job_context.h"

namespace flashkit {

inline constexpr const char* kVerifyFileName = "Verify.bin";
inline constexpr std::size_t kDeviceInfoSource = 0xFF00;  // bank 0 bytes that fill the info block

// Boot loader, context switch, flash identification and, by mode, the firmware write with its
// verification or the descriptor write. Every outcome goes out as a status message.
void ProgramOneDevice(JobContext& context, DeviceEntry& entry);

}  // namespace flashkit
