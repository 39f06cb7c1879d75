#pragma once
#include "flashkit/job/job_context.h"

namespace flashkit {

inline constexpr std::uint32_t kMassSettleMilliseconds = 5000;  // after each first context switch

// Programs every listed device in list order with the same pages; with serialAndLog, gives
// each device the next serial number and logs a line per device. No final status is posted.
void ProgramAllDevices(JobContext& context);

}  // namespace flashkit
