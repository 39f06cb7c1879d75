#include "flashkit/job/job_status.h"

#include "platform/ports.h"

namespace flashkit {

void PostStatus(void* window, JobStatus code, std::uintptr_t wParam) {
  platform::CurrentPorts().status->Post(window, kStatusMessage, wParam,
                                        static_cast<std::intptr_t>(code));
}

}  // namespace flashkit
