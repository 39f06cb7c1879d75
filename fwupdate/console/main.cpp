// fwupdate: the Update Firmware flow on a terminal. Shows the device's and the image's
// firmware versions, asks, downloads the image named by [Firmware] Firmware of "K4826.ini" in
// the current directory into the first device, and reports the job's outcome.
//
// Exit status: 0 after "Download successfully!", 1 for any failure or a refused download,
// 2 for a wrong command line, 3 when the job stopped reporting.
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "fwupdate/console/console_view.h"
#include "fwupdate/update_dialog.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kSilenceSeconds = 120;

struct Options {
  bool yes = false;
  int silenceSeconds = kSilenceSeconds;
};

void Usage(std::FILE* out) {
  std::fprintf(out,
               "usage: fwupdate [--yes] [--timeout SECONDS]\n"
               "Downloads the firmware image named in ./K4826.ini into the first device.\n"
               "  --yes              do not ask before downloading\n"
               "  --timeout SECONDS  give up when the job reports nothing for this long "
               "(default %d)\n",
               kSilenceSeconds);
}

bool ParseOptions(int argc, char** argv, Options& options) {
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    if (arg == "--yes" || arg == "-y") {
      options.yes = true;
    } else if (arg == "--timeout" && i + 1 < argc) {
      char* end = nullptr;
      long value = std::strtol(argv[++i], &end, 10);
      if (end == argv[i] || *end != '\0' || value < 1 || value > 86400) return false;
      options.silenceSeconds = static_cast<int>(value);
    } else {
      return false;
    }
  }
  return true;
}

bool Confirm() {
  std::printf("Download the new firmware into the device? [y/N] ");
  std::fflush(stdout);
  char line[64] = {};
  if (std::fgets(line, sizeof line, stdin) == nullptr) {
    std::printf("\n");
    return false;
  }
  return line[0] == 'y' || line[0] == 'Y';
}

// The pipe the library posts into, closed on every way out.
struct StatusPipe {
  int read = -1;
  int write = -1;
  bool Open() {
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) return false;
    read = fds[0];
    write = fds[1];
    // A post must never block the job, even when this side falls behind.
    return fcntl(write, F_SETFL, O_NONBLOCK) == 0 && fcntl(read, F_SETFL, O_NONBLOCK) == 0;
  }
  ~StatusPipe() {
    if (read >= 0) close(read);
    if (write >= 0) close(write);
  }
};

enum class Wait { Record, Silent, Error };

// Waits up to `timeout` for records and hands each complete one to the dialog.
Wait Pump(int fd, std::chrono::milliseconds timeout, fwupdate::UpdateDialog& dialog,
          std::string& pending, std::intptr_t& lastCode) {
  pollfd pfd{fd, POLLIN, 0};
  int ready = poll(&pfd, 1, static_cast<int>(timeout.count()));
  if (ready < 0) return errno == EINTR ? Wait::Record : Wait::Error;
  if (ready == 0) return Wait::Silent;
  char bytes[4096];
  ssize_t got = ::read(fd, bytes, sizeof bytes);
  if (got < 0) return errno == EAGAIN || errno == EINTR ? Wait::Record : Wait::Error;
  if (got == 0) return Wait::Error;  // cannot happen while we hold the write end
  pending.append(bytes, static_cast<std::size_t>(got));
  while (pending.size() >= sizeof(FlashkitStatusRecord)) {
    FlashkitStatusRecord record;
    std::memcpy(&record, pending.data(), sizeof record);
    pending.erase(0, sizeof record);
    if (record.message != FLASHKIT_STATUS_MESSAGE) continue;
    lastCode = static_cast<std::intptr_t>(record.lParam);
    dialog.OnStatus(static_cast<std::uintptr_t>(record.wParam),
                    static_cast<std::intptr_t>(record.lParam));
  }
  return Wait::Record;
}

}  // namespace

int main(int argc, char** argv) {
  Options options;
  if (!ParseOptions(argc, argv, options)) {
    Usage(stderr);
    return 2;
  }
  StatusPipe status;
  if (!status.Open()) {
    std::fprintf(stderr, "Error: cannot create the status pipe: %s\n", std::strerror(errno));
    return 1;
  }
  fwupdate::ConsoleView view(status.write);
  fwupdate::UpdateDialog dialog(view);

  dialog.OnInitDialog();
  if (dialog.State() != fwupdate::DialogState::Ready) {
    dialog.OnDestroy();
    return 1;
  }
  if (!options.yes && !Confirm()) {
    std::printf("Nothing was downloaded.\n");
    dialog.OnDestroy();
    return 1;
  }
  dialog.OnDownload();
  if (dialog.State() != fwupdate::DialogState::Downloading) {
    dialog.OnDestroy();
    return 1;
  }

  using std::chrono::milliseconds;
  const milliseconds silence(options.silenceSeconds * 1000LL);
  std::string pending;
  std::intptr_t lastCode = -1;
  Clock::time_point lastRecord = Clock::now();
  while (dialog.State() == fwupdate::DialogState::Downloading) {
    auto waited = std::chrono::duration_cast<milliseconds>(Clock::now() - lastRecord);
    Wait result = Pump(status.read, silence - waited, dialog, pending, lastCode);
    if (result == Wait::Record) {
      lastRecord = Clock::now();
      continue;
    }
    view.EndProgressLine();
    if (result == Wait::Silent) {
      std::fprintf(stderr,
                   "Error: Download failed\nThe device has not answered for %d s; unplug it, "
                   "plug it in again and run fwupdate again.\n",
                   options.silenceSeconds);
    } else {
      std::fprintf(stderr, "Error: lost the download job's status pipe: %s\n",
                   std::strerror(errno));
    }
    // The job may still run inside the library: leave without unloading it.
    std::fflush(nullptr);
    std::_Exit(3);
  }

  bool succeeded = lastCode == static_cast<std::intptr_t>(flashkit::JobStatus::Success);
  if (succeeded) {
    // Success comes before the job's closing context switch. Releasing the devices waits for
    // that last command, so whatever it posted is in the pipe afterwards.
    dialog.ReleaseDevices();
    while (Pump(status.read, milliseconds(0), dialog, pending, lastCode) == Wait::Record) {
    }
    succeeded = lastCode == static_cast<std::intptr_t>(flashkit::JobStatus::Success);
  }
  dialog.OnDestroy();
  return succeeded ? 0 : 1;
}
