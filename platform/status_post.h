#pragma once
#include <cstdint>

namespace platform {

// Posting a job's status to the host. On Windows `window` is the host's HWND; on POSIX it is
// the write end of a pipe that the host created, cast to a pointer.
class StatusPost {
 public:
  virtual ~StatusPost() = default;
  // Posts without waiting. Never reports failure: a post to a dead window (or a full or closed
  // pipe) is dropped silently.
  virtual void Post(void* window, std::uint32_t message, std::uintptr_t wParam,
                    std::intptr_t lParam) = 0;
};

}  // namespace platform
