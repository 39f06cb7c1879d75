// The six exported functions: thin layers over the process-wide state.
#include <cstring>
#include <new>

#include "flashkit/device/discovery.h"
#include "flashkit/interface/flashkit.h"
#include "flashkit/interface/library_state.h"
#include "flashkit/job/download_job.h"
#include "flashkit/job/job_status.h"
#include "platform/ports.h"

namespace {

// Long enough for any one command to time out (100 s) and the job to end after it.
constexpr std::uint32_t kJobEndWaitMs = 120000;

// An index outside the list names no entry; the exports then read nothing.
const flashkit::DeviceEntry* EntryAt(int index) {
  const flashkit::DeviceList& devices = flashkit::State().devices;
  if (index < 0 || static_cast<std::size_t>(index) >= devices.size()) return nullptr;
  return devices[static_cast<std::size_t>(index)].get();
}

}  // namespace

extern "C" {

// GetDevice, Download and EndDevice rebuild, reuse or release what a job works on. Success
// reaches the host before the job's closing context switch, so a host that goes on at once
// (the update dialog is ready again when its success box closes) waits for that last command
// here instead of pulling the devices from under it.
FLASHKIT_EXPORT int FLASHKIT_CALL GetDevice(void) {
  flashkit::WaitForJobEnd(kJobEndWaitMs);
  try {
    return flashkit::DiscoverDevices();
  } catch (const std::bad_alloc&) {
    // Out of memory part-way: the devices listed so far are all the host can use.
    return static_cast<int>(flashkit::State().devices.size());
  }
}

FLASHKIT_EXPORT int FLASHKIT_CALL Download(int mode, int device, int serialAndLog,
                                           FlashkitWindow window) {
  flashkit::WaitForJobEnd(kJobEndWaitMs);
  flashkit::StartDownloadJob(mode, device, serialAndLog, window);
  return 0;
}

FLASHKIT_EXPORT int FLASHKIT_CALL GetDeviceStatus(int index) {
  const flashkit::DeviceEntry* entry = EntryAt(index);
  return entry ? entry->status : 0;
}

FLASHKIT_EXPORT void FLASHKIT_CALL EndDevice(void) {
  flashkit::WaitForJobEnd(kJobEndWaitMs);
  flashkit::LibraryState& state = flashkit::State();
  if (state.osFamily == flashkit::kOsWindows98 && state.aspiLoaded) {
    platform::CurrentPorts().aspi->Unload();
    state.aspiLoaded = false;
  }
  flashkit::ReleaseDeviceList();
}

FLASHKIT_EXPORT int FLASHKIT_CALL GetDeviceVersion(int index, unsigned char* buffer) {
  const flashkit::DeviceEntry* entry = EntryAt(index);
  if (entry && buffer) std::memcpy(buffer, entry->version.data(), entry->version.size());
  return 1;
}

FLASHKIT_EXPORT int FLASHKIT_CALL GetDeviceInfo(int /*unused*/, unsigned char* buffer) {
  const flashkit::LibraryState& state = flashkit::State();
  if (buffer) std::memcpy(buffer, state.deviceInfo.data(), state.deviceInfo.size());
  return 1;
}

}  // extern "C"
