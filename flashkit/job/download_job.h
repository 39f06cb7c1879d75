#pragma once
#include "flashkit/job/job_context.h"

namespace flashkit {

// Stores the four arguments in the library-wide DownloadJob and starts the job thread. When the
// thread cannot be started the host is told with OutOfMemory, so it is never left waiting.
void StartDownloadJob(int mode, int device, int serialAndLog, void* window);

// True from StartDownloadJob until the job thread has finished with the devices.
bool JobRunning();
// Waits (at most `limitMs`) until no job is running, so that the devices and the library are
// not released under the job's last commands.
void WaitForJobEnd(std::uint32_t limitMs);

// The job thread's entry; `job` points at the library-wide DownloadJob, copied first thing.
void RunDownloadJob(void* job);

// Reads the settings, fetches and measures the image, checks the boot loader and prepares the
// mode's data. Returns false after posting the ending code.
bool PrepareJob(JobContext& context);

}  // namespace flashkit
