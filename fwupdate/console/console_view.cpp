#include "fwupdate/console/console_view.h"

#include <dlfcn.h>
#include <unistd.h>

#include <cstdint>
#include <vector>

#include "platform/posix/profile_file.h"

namespace fwupdate {

namespace {

constexpr int kBarWidth = 40;

// The folder of the running program, or empty when the system does not say.
std::string ProgramFolder() {
  std::vector<char> path(4096);
  ssize_t n = readlink("/proc/self/exe", path.data(), path.size() - 1);
  if (n <= 0) return {};
  std::string program(path.data(), static_cast<std::size_t>(n));
  std::size_t slash = program.rfind('/');
  return slash == std::string::npos ? std::string() : program.substr(0, slash);
}

template <typename Function>
bool Bind(void* library, const char* name, Function& function) {
  function = reinterpret_cast<Function>(dlsym(library, name));
  return function != nullptr;
}

}  // namespace

void ConsoleView::ShowMessageBox(const std::string& text, const std::string& caption,
                                 BoxIcon icon) {
  EndProgressLine();
  if (icon == BoxIcon::Error) {
    std::fprintf(stderr, "%s: %s\n", caption.c_str(), text.c_str());
    std::fflush(stderr);
  } else {
    std::printf("%s\n", text.c_str());
    std::fflush(stdout);
  }
}

void ConsoleView::SetProgressRange(int low, int high) {
  low_ = low;
  high_ = high > low ? high : low + 1;
}

void ConsoleView::SetProgress(int position) {
  if (position <= low_) {  // a reset: the bar leaves the screen
    EndProgressLine();
    return;
  }
  if (position > high_) position = high_;
  int percent = (position - low_) * 100 / (high_ - low_);
  if (percent == shown_) return;
  shown_ = percent;
  int filled = percent * kBarWidth / 100;
  std::string bar(static_cast<std::size_t>(filled), '#');
  bar.append(static_cast<std::size_t>(kBarWidth - filled), '.');
  std::printf("\r[%s] %3d%%", bar.c_str(), percent);
  std::fflush(stdout);
  lineOpen_ = true;
}

void ConsoleView::EndProgressLine() {
  if (lineOpen_) {
    std::printf("\n");
    std::fflush(stdout);
  }
  lineOpen_ = false;
  shown_ = -1;
}

void ConsoleView::SetStatusText(const std::string& text) {
  // The percentage is already on the bar; an empty text is the reset.
  if (text.empty() || text.back() == '%') return;
  EndProgressLine();
  std::printf("%s\n", text.c_str());
  std::fflush(stdout);
}

void ConsoleView::ShowVersions(const std::string& device, const std::string& image) {
  EndProgressLine();
  std::printf("Device firmware version: %s\nNew firmware version:    %s\n", device.c_str(),
              image.c_str());
  std::fflush(stdout);
}

bool ConsoleView::LoadFlashkit(FlashkitBinding& binding) {
  UnloadFlashkit();
  // The copy beside the program first, as the dialog finds its DLL. By name the executable's
  // RUNPATH ($ORIGIN) would find it too, but a dlopen wrapped by a sanitizer runtime searches
  // with the runtime's paths instead, so the folder is named outright.
  std::string beside = ProgramFolder();
  if (!beside.empty())
    library_ = dlopen((beside + "/libflashkit.so").c_str(), RTLD_NOW | RTLD_LOCAL);
  if (library_ == nullptr) library_ = dlopen("libflashkit.so", RTLD_NOW | RTLD_LOCAL);
  if (library_ == nullptr) {
    // The dialog's box says only that loading failed; a terminal can say why.
    const char* why = dlerror();
    std::fprintf(stderr, "fwupdate: %s\n", why != nullptr ? why : "libflashkit.so not loaded");
    return false;
  }
  FlashkitBinding bound;
  if (!Bind(library_, "GetDevice", bound.GetDevice) ||
      !Bind(library_, "Download", bound.Download) ||
      !Bind(library_, "GetDeviceStatus", bound.GetDeviceStatus) ||
      !Bind(library_, "EndDevice", bound.EndDevice) ||
      !Bind(library_, "GetDeviceVersion", bound.GetDeviceVersion)) {
    std::fprintf(stderr, "fwupdate: libflashkit.so lacks one of its functions\n");
    UnloadFlashkit();
    return false;
  }
  binding = bound;
  return true;
}

void ConsoleView::UnloadFlashkit() {
  if (library_ != nullptr) dlclose(library_);
  library_ = nullptr;
}

FlashkitWindow ConsoleView::StatusWindow() {
  return reinterpret_cast<FlashkitWindow>(static_cast<std::intptr_t>(statusPipe_));
}

std::string ConsoleView::CurrentDirectory() {
  std::vector<char> buffer(4096);
  if (getcwd(buffer.data(), buffer.size()) == nullptr) return ".";
  return buffer.data();
}

std::string ConsoleView::ReadProfileString(const std::string& section, const std::string& key,
                                           std::size_t size, const std::string& path) {
  std::vector<char> buffer(size + 1, '\0');
  platform::ProfileFile profile;
  std::uint32_t got =
      profile.GetString(section, key, "", buffer.data(), static_cast<std::uint32_t>(size), path);
  return std::string(buffer.data(), got < size ? got : size);
}

}  // namespace fwupdate
