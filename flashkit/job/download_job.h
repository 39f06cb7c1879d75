#pragma once
#include "flashkit/job/job_context.h"

namespace flashkit {

// Stores the four arguments in the library-wide DownloadJob and starts the job thread. When the
// thread cannot be started the host is told with OutOfMemory, so it is never left waiting.
void StartDownloadJob(int mode, int device, int serialAndLog, void* window);

// The job thread's entry; `job` points at the library-wide DownloadJob, copied first thing.
void RunDownloadJob(void* job);

// Reads the settings, fetches and measures the image, checks the boot loader and prepares the
// mode's data. Returns false after posting the ending code.
bool PrepareJob(JobContext& context);

}  // namespace flashkit
