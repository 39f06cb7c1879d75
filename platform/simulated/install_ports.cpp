#include <cstdio>
#include <memory>
#include <string>

#include "platform/ports.h"
#include "platform/posix/posix_ports.h"
#include "platform/simulated/simulated_aspi_layer.h"
#include "platform/simulated/simulated_ports.h"
#include "platform/simulated/simulated_scsi_pass_through.h"
#include "sim/config.h"

namespace platform {

namespace {

std::unique_ptr<sim::Bus>& BusSlot() {
  static std::unique_ptr<sim::Bus> bus;
  return bus;
}

}  // namespace

sim::Bus* SimulatedBus() { return BusSlot().get(); }

// The POSIX ports with the simulated devices underneath the carriers. The bus, and with it the
// devices' state, lives for the process, as attached hardware would.
void InstallPlatformPorts() {
  Ports& ports = CurrentPorts();
  InstallPosixPorts(ports);
  std::unique_ptr<sim::Bus>& bus = BusSlot();
  if (!bus) {
    std::string message;
    bus = sim::LoadBusFromEnvironment("", message);
    if (!message.empty()) std::fprintf(stderr, "K4826 simulator: %s\n", message.c_str());
  }
  static SimulatedScsiPassThrough scsi(*bus);
  ports.scsi = &scsi;
  if (ports.events != nullptr) {
    static SimulatedAspiLayer aspi(*bus, *ports.events);
    ports.aspi = &aspi;
  }
}

}  // namespace platform
