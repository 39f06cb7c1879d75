#include "platform/ports.h"

namespace platform {

Ports& CurrentPorts() {
  static Ports ports;
  return ports;
}

}  // namespace platform
