#include "tests/doubles/library_fixture.h"

#include <fstream>
#include <random>

namespace doubles {

void LibraryFixture::SetUp() {
  previousPorts_ = platform::CurrentPorts();
  platform::Ports& ports = platform::CurrentPorts();
  ports.system = &system;
  ports.status = &posts;
  ports.clock = &clock;
  ports.threads = &threads;
  ports.events = &events;

  std::random_device random;
  folder = std::filesystem::temp_directory_path() /
           ("flashkit-test-" + std::to_string(random()) + "-" + std::to_string(random()));
  std::filesystem::create_directories(folder);
  previousDirectory_ = std::filesystem::current_path();
  std::filesystem::current_path(folder);
  system.moduleFolder = folder.string() + "/";
  flashkit::State() = flashkit::LibraryState{};
}

void LibraryFixture::TearDown() {
  // Entries hold handles of the test's port doubles: release them while those still exist.
  if (platform::CurrentPorts().scsi != nullptr) flashkit::ReleaseDeviceList();
  flashkit::State() = flashkit::LibraryState{};
  platform::CurrentPorts() = previousPorts_;
  std::filesystem::current_path(previousDirectory_);
  std::error_code ignored;
  std::filesystem::remove_all(folder, ignored);
}

std::string LibraryFixture::WriteFile(const std::string& name, const std::string& contents) {
  const std::string path = Path(name);
  std::ofstream(path, std::ios::binary) << contents;
  return path;
}

}  // namespace doubles
