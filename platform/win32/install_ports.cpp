#include "platform/ports.h"
#include "platform/win32/win32_ports.h"

namespace platform {
namespace {
// Constant-initialized before the load hook runs, and alive until the library unloads; no
// initialization guard runs under the loader lock.
win32::Win32SystemInfo systemPort;
win32::Win32ScsiPassThrough scsiPort;
win32::Win32AspiLayer aspiPort;
win32::Win32Events eventsPort;
win32::Win32Threads threadsPort;
win32::Win32Clock clockPort;
win32::Win32Profile profilePort;
win32::Win32StatusPost statusPort;
}  // namespace

void InstallPlatformPorts() {
  Ports& ports = CurrentPorts();
  ports.system = &systemPort;
  ports.scsi = &scsiPort;
  ports.aspi = &aspiPort;
  ports.events = &eventsPort;
  ports.threads = &threadsPort;
  ports.clock = &clockPort;
  ports.profile = &profilePort;
  ports.status = &statusPort;
}

}  // namespace platform
