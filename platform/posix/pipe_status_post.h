#pragma once
#include <cstdint>

#include "platform/status_post.h"

namespace platform {

// Status posts as FlashkitStatusRecords written to the pipe whose write end is `window`.
class PipeStatusPost : public StatusPost {
 public:
  // One record in one non-blocking write (shorter than PIPE_BUF, so it arrives whole or not
  // at all). A null window, a full pipe or a pipe without reader drops the post; SIGPIPE is
  // held back on the calling thread and a pending one it caused is discarded.
  void Post(void* window, std::uint32_t message, std::uintptr_t wParam,
            std::intptr_t lParam) override;
};

}  // namespace platform
