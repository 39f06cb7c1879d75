#include "platform/ports.h"
#include "platform/posix/posix_ports.h"

namespace platform {

void InstallPlatformPorts() { InstallPosixPorts(CurrentPorts()); }

}  // namespace platform
