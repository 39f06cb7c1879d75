#include "platform/posix/posix_services.h"

#include <dlfcn.h>
#include <pthread.h>
#include <signal.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <condition_variable>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <new>

namespace platform {
namespace {

struct Event {
  std::mutex mutex;
  std::condition_variable changed;
  bool signalled = false;
};

struct ThreadStart {
  void (*entry)(void*);
  void* argument;
};

void* RunThread(void* raw) {
  std::unique_ptr<ThreadStart> start(static_cast<ThreadStart*>(raw));
  sigset_t pipeSignal;
  sigemptyset(&pipeSignal);
  sigaddset(&pipeSignal, SIGPIPE);
  pthread_sigmask(SIG_BLOCK, &pipeSignal, nullptr);
  start->entry(start->argument);
  return nullptr;
}

std::size_t DefaultStackSize() {
  pthread_attr_t attr;
  std::size_t size = 0;
  if (pthread_attr_init(&attr) == 0) {
    pthread_attr_getstacksize(&attr, &size);
    pthread_attr_destroy(&attr);
  }
  return size;
}

}  // namespace

bool PosixSystemInfo::QueryOsVersion(OsVersion& version) {
  // Linux reports itself as Windows XP's family: it offers pass-through, not ASPI.
  version.platformId = kPlatformWindowsNt;
  version.major = 5;
  version.minor = 1;
  return true;
}

std::string PosixSystemInfo::ModuleFolder() {
  Dl_info info{};
  if (dladdr(reinterpret_cast<void*>(&RunThread), &info) == 0 || info.dli_fname == nullptr ||
      info.dli_fname[0] == '\0') {
    return {};
  }
  std::string path = info.dli_fname;
  if (char* resolved = realpath(info.dli_fname, nullptr)) {
    path = resolved;
    std::free(resolved);
  }
  const std::size_t slash = path.rfind('/');
  if (slash == std::string::npos) return "./";
  return path.substr(0, slash + 1);
}

Handle PosixEvents::Create() { return new (std::nothrow) Event; }

void PosixEvents::Wait(Handle event) {
  if (event == nullptr) return;
  auto* e = static_cast<Event*>(event);
  std::unique_lock<std::mutex> lock(e->mutex);
  e->changed.wait(lock, [e] { return e->signalled; });
}

void PosixEvents::Signal(Handle event) {
  if (event == nullptr) return;
  auto* e = static_cast<Event*>(event);
  // Notified under the lock: a waiter that wakes may close the event at once, and must not do
  // so while this call still touches it.
  std::lock_guard<std::mutex> lock(e->mutex);
  e->signalled = true;
  e->changed.notify_all();
}

void PosixEvents::Close(Handle event) { delete static_cast<Event*>(event); }

bool PosixThreads::Start(void (*entry)(void*), void* argument, std::size_t stackBytes) {
  if (entry == nullptr) return false;
  std::unique_ptr<ThreadStart> start(new (std::nothrow) ThreadStart{entry, argument});
  if (!start) return false;

  const long page = sysconf(_SC_PAGESIZE) > 0 ? sysconf(_SC_PAGESIZE) : 4096;
  std::size_t size =
      std::max({stackBytes, DefaultStackSize(), static_cast<std::size_t>(PTHREAD_STACK_MIN)});
  size = (size + static_cast<std::size_t>(page) - 1) / static_cast<std::size_t>(page) *
         static_cast<std::size_t>(page);

  pthread_attr_t attr;
  if (pthread_attr_init(&attr) != 0) return false;
  bool ok = pthread_attr_setdetachstate(&attr, PTHREAD_CREATE_DETACHED) == 0 &&
            pthread_attr_setstacksize(&attr, size) == 0;
  pthread_t thread;
  ok = ok && pthread_create(&thread, &attr, &RunThread, start.get()) == 0;
  pthread_attr_destroy(&attr);
  if (ok) start.release();  // the thread owns it now
  return ok;
}

void PosixClock::Sleep(std::uint32_t milliseconds) {
  timespec remaining{static_cast<time_t>(milliseconds / 1000),
                     static_cast<long>(milliseconds % 1000) * 1000000L};
  while (nanosleep(&remaining, &remaining) == -1 && errno == EINTR) {
  }
}

LocalTime PosixClock::Now() {
  const time_t now = time(nullptr);
  tm local{};
  LocalTime result;
  if (localtime_r(&now, &local) == nullptr) return result;
  result.year = local.tm_year + 1900;
  result.month = local.tm_mon + 1;
  result.day = local.tm_mday;
  result.hour = local.tm_hour;
  result.minute = local.tm_min;
  return result;
}

}  // namespace platform
