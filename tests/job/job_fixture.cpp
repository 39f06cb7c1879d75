#include "tests/job/job_fixture.h"

#include <fstream>
#include <iterator>

#include "flashkit/job/job_buffer.h"

namespace jobtest {

Bytes Pattern(std::size_t size, std::uint8_t seed) {
  Bytes bytes(size);
  for (std::size_t i = 0; i < size; ++i) {
    bytes[i] = static_cast<std::uint8_t>((i * 7 + (i >> 16) * 31 + (i >> 8) + seed) & 0xFF);
  }
  return bytes;
}

std::vector<sim::TraceEntry> Commands(const sim::Device& device, sim::CommandKind kind) {
  std::vector<sim::TraceEntry> out;
  for (const sim::TraceEntry& entry : device.Trace()) {
    if (entry.kind == kind) out.push_back(entry);
  }
  return out;
}

std::vector<sim::CommandKind> Kinds(const sim::Device& device) {
  std::vector<sim::CommandKind> kinds;
  for (const sim::TraceEntry& entry : device.Trace()) kinds.push_back(entry.kind);
  return kinds;
}

void JobFixture::SetUp() {
  LibraryFixture::SetUp();
  ResetBus();
  platform::CurrentPorts().profile = &profile;
}

void JobFixture::TearDown() {
  flashkit::FailJobAllocationAfter(0);
  for (const std::string& violation : bus().Violations()) ADD_FAILURE() << violation;
  for (const std::string& violation : scsi().Violations()) ADD_FAILURE() << violation;
  LibraryFixture::TearDown();
}

void JobFixture::ResetBus() {
  if (scsi_) flashkit::ReleaseDeviceList();
  scsi_.reset();
  bus_ = std::make_unique<sim::Bus>();
  scsi_ = std::make_unique<platform::SimulatedScsiPassThrough>(*bus_);
  UseScsi(scsi_.get());
}

sim::Device* JobFixture::AddDevice(const std::string& letter, sim::DeviceConfig config) {
  config.name = "dev" + letter;
  return bus_->AddDrive(letter, config);
}

void JobFixture::LoadFlashTable(const std::string& text) {
  WriteFile("flashid.dat", text);
  flashkit::LibraryAttach();
}

void JobFixture::Configure(const Bytes& imageBytes, std::size_t loaderBytes,
                           const std::string& extra) {
  image = imageBytes;
  loader = Pattern(loaderBytes, 0x40);
  WriteFile("image.bin", std::string(image.begin(), image.end()));
  WriteFile("loader.bin", std::string(loader.begin(), loader.end()));
  WriteIni("[Firmware]\nFirmware=" + Path("image.bin") + "\nBootloader=" + Path("loader.bin") +
           "\n" + extra);
}

void JobFixture::WriteIni(const std::string& text) { WriteFile("K4826.ini", text); }

std::string JobFixture::ReadText(const std::string& name) const {
  std::ifstream in(Path(name), std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

Bytes JobFixture::ReadBytes(const std::string& name) const {
  const std::string text = ReadText(name);
  return Bytes(text.begin(), text.end());
}

void JobFixture::Run(int mode, int device, int serialAndLog) {
  GetDevice();
  posts.clear();
  EXPECT_EQ(Download(mode, device, serialAndLog, window()), 0);
}

}  // namespace jobtest
