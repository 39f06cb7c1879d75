#include "platform/posix/pipe_status_post.h"

#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <climits>

#include "flashkit/interface/flashkit.h"

namespace platform {

void PipeStatusPost::Post(void* window, std::uint32_t message, std::uintptr_t wParam,
                          std::intptr_t lParam) {
  const auto value = reinterpret_cast<std::intptr_t>(window);
  // A null window names no pipe (as a null HWND names no window), so descriptor 0 is never
  // written to by accident.
  if (value <= 0 || value > INT_MAX) return;
  const int fd = static_cast<int>(value);

  const int flags = fcntl(fd, F_GETFL);
  if (flags == -1) return;
  if ((flags & O_NONBLOCK) == 0 && fcntl(fd, F_SETFL, flags | O_NONBLOCK) == -1) return;

  FlashkitStatusRecord record{};
  record.message = message;
  record.wParam = wParam;
  record.lParam = lParam;

  sigset_t pipeSignal;
  sigset_t previous;
  sigemptyset(&pipeSignal);
  sigaddset(&pipeSignal, SIGPIPE);
  pthread_sigmask(SIG_BLOCK, &pipeSignal, &previous);
  sigset_t pending;
  sigpending(&pending);
  const bool alreadyPending = sigismember(&pending, SIGPIPE) == 1;

  ssize_t written = 0;
  do {
    written = write(fd, &record, sizeof record);
  } while (written == -1 && errno == EINTR);

  if (written == -1 && errno == EPIPE && !alreadyPending) {
    const timespec noWait{0, 0};
    while (sigtimedwait(&pipeSignal, nullptr, &noWait) == -1 && errno == EINTR) {
    }
  }
  pthread_sigmask(SIG_SETMASK, &previous, nullptr);
}

}  // namespace platform
