#pragma once
#include "sim/bus.h"

namespace platform {

// The process-wide bus of the simulator build, loaded by InstallPlatformPorts from the file that
// K4826_SIM_CONFIG names (else "k4826-sim.txt" in the current directory). Null before that.
sim::Bus* SimulatedBus();

}  // namespace platform
