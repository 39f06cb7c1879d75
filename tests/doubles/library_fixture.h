#pragma once
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "flashkit/device/discovery.h"
#include "flashkit/interface/library_state.h"
#include "tests/doubles/port_doubles.h"

namespace doubles {

// Puts fresh doubles into the ports and a fresh library state in place for each test, and
// gives the test a temporary folder that is also the current directory.
class LibraryFixture : public ::testing::Test {
 public:
  void SetUp() override;
  void TearDown() override;

  // Installs the scsi and aspi ports a test uses (the doubles stay owned by the test).
  void UseScsi(platform::ScsiPassThrough* scsi) { platform::CurrentPorts().scsi = scsi; }
  void UseAspi(platform::AspiLayer* aspi) { platform::CurrentPorts().aspi = aspi; }
  void SetOs(std::uint32_t platformId, std::uint32_t major, std::uint32_t minor) {
    system.version = {platformId, major, minor};
  }
  // Writes a text file in the temporary folder and returns its full path.
  std::string WriteFile(const std::string& name, const std::string& contents);
  std::string Path(const std::string& name) const { return (folder / name).string(); }

  FixedSystem system;
  RecordedPosts posts;
  VirtualClock clock;
  InlineThreads threads;
  TestEvents events;
  std::filesystem::path folder;

 private:
  std::filesystem::path previousDirectory_;
  platform::Ports previousPorts_;
};

}  // namespace doubles
