#pragma once
#include <cstdint>

#include "flashkit/interface/flashkit.h"

namespace flashkit {

inline constexpr std::uint32_t kStatusMessage = FLASHKIT_STATUS_MESSAGE;

// Posts one status to the job's window; never waits and never fails in a way the job sees.
void PostStatus(void* window, JobStatus code, std::uintptr_t wParam = 0);

}  // namespace flashkit
