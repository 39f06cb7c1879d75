#pragma once
#include "platform/ports.h"

namespace platform {

// Puts the POSIX implementation of every port into `ports`. The objects live for the process.
void InstallPosixPorts(Ports& ports);

}  // namespace platform
