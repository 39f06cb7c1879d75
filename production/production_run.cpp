// Production runs on a terminal: programs every attached device in a row through the shipped
// library, with running serial numbers and the log, and prints each device's outcome.
//
//   flashkit-production [--mode N] [--no-serial] [--settle-ms N]
//
// The library posts Progress for every page of every device and nothing at the end, so the run
// is over once each device has reported 100 and the pipe has stayed quiet for the settle time
// (the log is written then; a log that cannot be opened still arrives as FileMissing).
#include <dlfcn.h>
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "flashkit/interface/flashkit.h"

namespace {

using GetDeviceFn = int (*)();
using DownloadFn = int (*)(int, int, int, FlashkitWindow);
using GetDeviceStatusFn = int (*)(int);
using EndDeviceFn = void (*)();
using GetDeviceVersionFn = int (*)(int, unsigned char*);

constexpr int kSilenceLimitMs = 120000;  // a job that says nothing this long has gone astray

const char* OutcomeText(int code) {
  switch (static_cast<flashkit::JobStatus>(code)) {
    case flashkit::JobStatus::FileMissing:
      return "Some necessary files are missed!";
    case flashkit::JobStatus::ConfigurationError:
      return "Configuration error!";
    case flashkit::JobStatus::OutOfMemory:
      return "No enough memory!";
    default:
      return "Download failed";
  }
}

struct Library {
  void* handle = nullptr;
  GetDeviceFn getDevice = nullptr;
  DownloadFn download = nullptr;
  GetDeviceStatusFn getDeviceStatus = nullptr;
  EndDeviceFn endDevice = nullptr;
  GetDeviceVersionFn getDeviceVersion = nullptr;
  ~Library() {
    if (handle) dlclose(handle);
  }
  bool Load() {
    // The copy beside the program first, as Windows finds it; then the usual search.
    char self[4096] = {};
    const ssize_t length = readlink("/proc/self/exe", self, sizeof self - 1);
    if (length > 0) {
      std::string path(self, static_cast<std::size_t>(length));
      path = path.substr(0, path.rfind('/') + 1) + "libflashkit.so";
      handle = dlopen(path.c_str(), RTLD_NOW);
    }
    if (!handle) handle = dlopen("libflashkit.so", RTLD_NOW);
    if (!handle) return false;
    getDevice = reinterpret_cast<GetDeviceFn>(dlsym(handle, "GetDevice"));
    download = reinterpret_cast<DownloadFn>(dlsym(handle, "Download"));
    getDeviceStatus = reinterpret_cast<GetDeviceStatusFn>(dlsym(handle, "GetDeviceStatus"));
    endDevice = reinterpret_cast<EndDeviceFn>(dlsym(handle, "EndDevice"));
    getDeviceVersion = reinterpret_cast<GetDeviceVersionFn>(dlsym(handle, "GetDeviceVersion"));
    return getDevice && download && getDeviceStatus && endDevice && getDeviceVersion;
  }
};

struct Pipe {
  int fds[2] = {-1, -1};
  ~Pipe() {
    for (int fd : fds) {
      if (fd >= 0) close(fd);
    }
  }
};

// Reads one record, waiting at most `timeoutMs`. 1: a record, 0: quiet, -1: the pipe broke.
int ReadRecord(int fd, int timeoutMs, FlashkitStatusRecord& record) {
  pollfd poller{fd, POLLIN, 0};
  const int ready = poll(&poller, 1, timeoutMs);
  if (ready == 0) return 0;
  if (ready < 0) return -1;
  const ssize_t got = read(fd, &record, sizeof record);
  return got == static_cast<ssize_t>(sizeof record) ? 1 : -1;
}

}  // namespace

int main(int argc, char** argv) {
  int mode = 2;
  int serialAndLog = 1;
  int settleMs = 1000;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--mode" && i + 1 < argc) {
      mode = std::atoi(argv[++i]);
    } else if (arg == "--no-serial") {
      serialAndLog = 0;
    } else if (arg == "--settle-ms" && i + 1 < argc) {
      settleMs = std::atoi(argv[++i]);
    } else {
      std::fprintf(stderr, "usage: %s [--mode N] [--no-serial] [--settle-ms N]\n", argv[0]);
      return 2;
    }
  }

  Library library;
  if (!library.Load()) {
    std::printf("Failure in Loading DLL - libflashkit.so\n");
    return 3;
  }
  const int count = library.getDevice();
  if (count == 0) {
    std::printf("No Device Connect !\nPlease plug the device into USB port and run again!\n");
    return 4;
  }
  std::printf("%d device(s) found\n", count);

  Pipe pipe;
  if (::pipe(pipe.fds) != 0) {
    std::perror("pipe");
    return 5;
  }
  fcntl(pipe.fds[1], F_SETFL, O_NONBLOCK);
  library.download(mode, 0, serialAndLog,
                   reinterpret_cast<FlashkitWindow>(static_cast<std::intptr_t>(pipe.fds[1])));

  int device = 0;
  int lastPercent = -1;
  int ending = -1;
  while (ending < 0) {
    FlashkitStatusRecord record{};
    const int got = ReadRecord(pipe.fds[0], device < count ? kSilenceLimitMs : settleMs, record);
    if (got == 0 && device >= count) break;  // every device done and the log written
    if (got <= 0) {
      std::printf("\nThe job stopped answering.\n");
      library.endDevice();
      return 6;
    }
    if (record.lParam != static_cast<int>(flashkit::JobStatus::Progress)) {
      ending = static_cast<int>(record.lParam);
      break;
    }
    const int percent = static_cast<int>(record.wParam);
    if (percent != lastPercent) {
      std::printf("\rdevice %d: [%-50.*s] %3d%%", device + 1, percent / 2,
                  "##################################################", percent);
      std::fflush(stdout);
      lastPercent = percent;
    }
    if (percent == 100) {
      std::printf("\n");
      ++device;
      lastPercent = -1;
    }
  }

  int failed = 0;
  for (int i = 0; i < count; ++i) {
    const bool good = library.getDeviceStatus(i) == 1 && ending < 0;
    failed += good ? 0 : 1;
    std::printf("device %d: %s\n", i + 1, good ? "OK" : "FAIL");
  }
  library.endDevice();
  if (ending >= 0) {
    std::printf("%s\n", OutcomeText(ending));
    return 7;
  }
  return failed == 0 ? 0 : 1;
}
