#pragma once
#include "platform/aspi.h"
#include "platform/clock.h"
#include "platform/events.h"
#include "platform/profile.h"
#include "platform/scsi_pass_through.h"
#include "platform/status_post.h"
#include "platform/system_info.h"
#include "platform/threads.h"

namespace platform {

// The facilities the library reaches the operating system through. Written once by the load
// hook (InstallPlatformPorts) or by a test fixture; read by the library's logic.
struct Ports {
  SystemInfo* system = nullptr;
  ScsiPassThrough* scsi = nullptr;
  AspiLayer* aspi = nullptr;
  Events* events = nullptr;
  Threads* threads = nullptr;
  Clock* clock = nullptr;
  Profile* profile = nullptr;
  StatusPost* status = nullptr;
};

Ports& CurrentPorts();

// Fills CurrentPorts() with this build's implementations (Win32, POSIX, or POSIX with the
// device simulator underneath the carriers). Defined once per build.
void InstallPlatformPorts();

}  // namespace platform
