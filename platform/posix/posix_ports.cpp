#include "platform/posix/posix_ports.h"

#include "platform/posix/pipe_status_post.h"
#include "platform/posix/posix_services.h"
#include "platform/posix/profile_file.h"
#include "platform/posix/sg_pass_through.h"

namespace platform {

void InstallPosixPorts(Ports& ports) {
  // Function-local statics: built on first use and kept for the life of the process, so that
  // a job thread still running at exit never meets a destroyed port.
  static auto* system = new PosixSystemInfo;
  static auto* scsi = new SgPassThrough;
  static auto* aspi = new NoAspiLayer;
  static auto* events = new PosixEvents;
  static auto* threads = new PosixThreads;
  static auto* clock = new PosixClock;
  static auto* profile = new ProfileFile;
  static auto* status = new PipeStatusPost;
  ports.system = system;
  ports.scsi = scsi;
  ports.aspi = aspi;
  ports.events = events;
  ports.threads = threads;
  ports.clock = clock;
  ports.profile = profile;
  ports.status = status;
}

}  // namespace platform
