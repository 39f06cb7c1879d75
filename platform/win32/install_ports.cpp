#include "platform/ports.h"
#include "platform/win32/win32_ports.h"

namespace platform {

void InstallPlatformPorts() {
  // The objects live for the process; the library's state refers to them until it unloads.
  static win32::Win32SystemInfo system;
  static win32::Win32ScsiPassThrough scsi;
  static win32::Win32AspiLayer aspi;
  static win32::Win32Events events;
  static win32::Win32Threads threads;
  static win32::Win32Clock clock;
  static win32::Win32Profile profile;
  static win32::Win32StatusPost status;
  Ports& ports = CurrentPorts();
  ports.system = &system;
  ports.scsi = &scsi;
  ports.aspi = &aspi;
  ports.events = &events;
  ports.threads = &threads;
  ports.clock = &clock;
  ports.profile = &profile;
  ports.status = &status;
}

}  // namespace platform
