// Load and unload hooks of the shared library on POSIX systems.
#include "flashkit/interface/library_state.h"
#include "platform/ports.h"

namespace {

__attribute__((constructor)) void OnLoad() {
  platform::InstallPlatformPorts();
  flashkit::LibraryAttach();
}

__attribute__((destructor)) void OnUnload() { flashkit::LibraryDetach(); }

}  // namespace
