#pragma once
// A library with simulated drives, real profile files and a flash table in a temporary folder:
// the real download job runs against it and tests look at the simulator and the posts.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "flashkit/interface/flashkit.h"
#include "platform/posix/profile_file.h"
#include "platform/simulated/simulated_scsi_pass_through.h"
#include "sim/bus.h"
#include "tests/doubles/library_fixture.h"

namespace jobtest {

using Bytes = std::vector<std::uint8_t>;
using flashkit::JobStatus;

inline constexpr int kProgress = static_cast<int>(JobStatus::Progress);
inline int Code(JobStatus status) { return static_cast<int>(status); }

// `size` bytes that differ from bank to bank and from offset to offset.
Bytes Pattern(std::size_t size, std::uint8_t seed = 0);

// The commands of one kind that reached a device, in order.
std::vector<sim::TraceEntry> Commands(const sim::Device& device, sim::CommandKind kind);
std::vector<sim::CommandKind> Kinds(const sim::Device& device);

class JobFixture : public doubles::LibraryFixture {
 public:
  void SetUp() override;
  void TearDown() override;

  // Adds a K4826 at drive `letter` (D, E, ...).
  sim::Device* AddDevice(const std::string& letter, sim::DeviceConfig config = {});
  // Writes "flashid.dat" and loads it as the library does at load.
  void LoadFlashTable(const std::string& text = "EC 75 01 00 K9F1G08U0A\nAD F1 02 00 HY27UF\n");
  // Writes the image and boot loader files and a "K4826.ini" that names them, plus `extra`.
  void Configure(const Bytes& image, std::size_t loaderBytes = 3000, const std::string& extra = "");
  void WriteIni(const std::string& text);
  std::string ReadText(const std::string& name) const;
  Bytes ReadBytes(const std::string& name) const;
  // Discovery, then one Download with the job run to its end.
  void Run(int mode, int device, int serialAndLog = 0);
  void* window() { return reinterpret_cast<void*>(0x77); }

  // A fresh set of simulated drives (the listed entries of the old ones are released first).
  void ResetBus();
  sim::Bus& bus() { return *bus_; }
  platform::SimulatedScsiPassThrough& scsi() { return *scsi_; }

  platform::ProfileFile profile;
  Bytes image;
  Bytes loader;

 private:
  std::unique_ptr<sim::Bus> bus_;
  std::unique_ptr<platform::SimulatedScsiPassThrough> scsi_;
};

}  // namespace jobtest
