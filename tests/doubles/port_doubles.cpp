#include "tests/doubles/port_doubles.h"

#include <cstring>

#include "flashkit/interface/flashkit.h"

namespace doubles {

std::vector<int> RecordedPosts::codes() const {
  std::vector<int> out;
  for (const doubles::Post& post : posts()) out.push_back(static_cast<int>(post.lParam));
  return out;
}

std::vector<int> RecordedPosts::progress() const {
  std::vector<int> out;
  for (const doubles::Post& post : posts()) {
    if (post.lParam == static_cast<int>(flashkit::JobStatus::Progress)) {
      out.push_back(static_cast<int>(post.wParam));
    }
  }
  return out;
}

namespace {
struct Event {
  std::mutex mutex;
  std::condition_variable signalled;
  bool set = false;
};
}  // namespace

platform::Handle TestEvents::Create() {
  if (failCreate) return nullptr;
  ++created;
  return new Event;
}

void TestEvents::Wait(platform::Handle handle) {
  auto* event = static_cast<Event*>(handle);
  std::unique_lock<std::mutex> lock(event->mutex);
  event->signalled.wait(lock, [event] { return event->set; });
}

void TestEvents::Signal(platform::Handle handle) {
  auto* event = static_cast<Event*>(handle);
  std::lock_guard<std::mutex> lock(event->mutex);
  event->set = true;
  event->signalled.notify_all();
}

void TestEvents::Close(platform::Handle handle) {
  if (handle == nullptr) return;
  ++closed;
  delete static_cast<Event*>(handle);
}

std::uint32_t RecordingScsi::IoControl(platform::Handle drive, std::uint32_t code,
                                       std::uint8_t* area, std::uint32_t inSize,
                                       std::uint32_t outSize, void* directData) {
  requests.push_back(
      {drive, code, std::vector<std::uint8_t>(area, area + 80), inSize, outSize, directData});
  if (result == 0 && code == platform::pass_through::kIoctlPassThrough && !answer.empty()) {
    std::memcpy(area + platform::pass_through::kDataOffset, answer.data(),
                std::min<std::size_t>(answer.size(), outSize - 80));
  }
  return result;
}

}  // namespace doubles
