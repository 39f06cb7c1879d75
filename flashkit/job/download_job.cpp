#include "flashkit/job/download_job.h"

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cstring>
#include <new>

#include "flashkit/data/configuration.h"
#include "flashkit/data/descriptor_block.h"
#include "flashkit/data/intel_hex.h"
#include "flashkit/data/std_file.h"
#include "flashkit/job/job_status.h"
#include "flashkit/job/program_all_devices.h"
#include "flashkit/job/program_one_device.h"
#include "platform/ports.h"

namespace flashkit {

namespace {

// The job thread holds the envelope's 64 KiB request area on its stack, and more besides.
constexpr std::size_t kJobStackBytes = 1024 * 1024;
constexpr std::uint32_t kJobPollMs = 10;

// A host learns that a job is over only from its messages, and Success comes before the
// closing context switch: this flag lets EndDevice wait for that last command.
std::atomic<bool> jobRunning{false};

bool Fail(const JobContext& context, JobStatus code) {
  PostStatus(context.job.window, code);
  return false;
}

std::string Lower(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return text;
}

// Size of a file in bytes, or -1 when it cannot be measured.
long FileSize(const std::string& path) {
  UniqueFile file = OpenFile(path.c_str(), "rb");
  if (!file || std::fseek(file.get(), 0, SEEK_END) != 0) return -1;
  return std::ftell(file.get());
}

// Steps 4 and 5: the configured image, converted from Intel HEX when needed.
bool ResolveImagePath(JobContext& context, const std::string& configurationPath) {
  platform::Profile& profile = *platform::CurrentPorts().profile;
  std::string firmware;
  if (!ReadFirmwarePath(profile, configurationPath, firmware)) {
    return Fail(context, JobStatus::ConfigurationError);
  }
  if (!CanOpenForReading(firmware)) return Fail(context, JobStatus::FileMissing);

  std::string name;
  std::string extension;
  SplitFileName(firmware, name, extension);
  extension = Lower(extension);
  if (extension == "bin") {
    context.imagePath = firmware;
    return true;
  }
  if (extension != "hex") return Fail(context, JobStatus::ConfigurationError);

  const std::string output = name + ".bin";
  // A failed conversion must not leave an older file of that name to be programmed.
  if (ConvertHexToBanks({firmware}, output) != 0 || !CanOpenForReading(output)) {
    return Fail(context, JobStatus::FileMissing);
  }
  context.imagePath = output;
  return true;
}

// Step 6: bank count from 64 KiB reads.
bool CountBanks(JobContext& context) {
  UniqueFile file = OpenFile(context.imagePath.c_str(), "rb");
  if (!file) return Fail(context, JobStatus::FileMissing);
  std::uint32_t banks = 0;
  while (std::fread(context.image.data(), 1, kBankSize, file.get()) > 0) {
    // Past 255 banks the count no longer fits; stop reading, the image is refused below.
    if (++banks > kMaxBanks) break;
  }
  // A read error is not the image's end: the image cannot be used.
  if (std::ferror(file.get())) return Fail(context, JobStatus::FileMissing);
  file.reset();
  // An empty image (also what a failed conversion leaves) or one of more than 255 banks cannot
  // be programmed: the sequences need one to 255 banks.
  if (banks == 0 || banks > kMaxBanks) return Fail(context, JobStatus::FileMissing);
  context.bankCount = static_cast<std::uint8_t>(banks);
  if (!context.image.Resize(banks * kBankSize)) return Fail(context, JobStatus::OutOfMemory);
  context.transferCount = banks * kChunksPerBank;
  // The counting reads leave the last bank in front; the pages of mass programming are taken
  // from the buffer, so it must hold the image from its start (zeros past the file's end).
  if (banks > 1) {
    UniqueFile again = OpenFile(context.imagePath.c_str(), "rb");
    if (!again) return Fail(context, JobStatus::FileMissing);
    std::memset(context.image.data(), 0, context.image.size());
    std::fread(context.image.data(), 1, context.image.size(), again.get());
  }
  return true;
}

// Step 7: the boot loader must exist and fit the 16-bit length of LoadBootLoader.
bool CheckBootLoader(JobContext& context, const std::string& configurationPath) {
  if (!ReadBootloaderPath(*platform::CurrentPorts().profile, configurationPath,
                          context.bootLoaderPath)) {
    return Fail(context, JobStatus::ConfigurationError);
  }
  const long size = FileSize(context.bootLoaderPath);
  if (size < 0 || size > static_cast<long>(kMaxBootLoaderBytes)) {
    return Fail(context, JobStatus::FileMissing);
  }
  return true;
}

// Step 9: the data of the chosen mode.
bool PrepareMode(JobContext& context) {
  LibraryState& state = State();
  switch (context.job.mode) {
    case LoaderMode: {
      UniqueFile loader = OpenFile(context.bootLoaderPath.c_str(), "rb");
      if (!loader) return Fail(context, JobStatus::FileMissing);
      context.loaderLength = static_cast<std::uint16_t>(
          std::fread(context.image.data(), 1, kLoaderModeBytes, loader.get()));
      context.transferCount = kLoaderModePages;
      return true;
    }
    case DescriptorMode:
      BuildDescriptorBlock(state.identity, state.descriptorBlock);
      std::memcpy(context.descriptorHead.data(), state.descriptorBlock.data(), kDescriptorHeadSize);
      context.transferCount = 1;
      return true;
    case DescriptorImageMode:
      BuildDescriptorBlock(state.identity, state.descriptorBlock);
      std::memcpy(context.image.data(), state.descriptorBlock.data(), kDescriptorBlockSize);
      return true;
    default:
      return true;
  }
}

}  // namespace

bool PrepareJob(JobContext& context) {
  LibraryState& state = State();
  if (state.flashTableLoaded == 0) return Fail(context, JobStatus::FileMissing);

  platform::Ports& ports = platform::CurrentPorts();
  const std::string moduleFolder = ports.system->ModuleFolder();
  // Without the library's folder the settings, the serial write-back and the log would go to
  // whatever folder a bare file name lands in.
  if (moduleFolder.empty()) return Fail(context, JobStatus::ConfigurationError);
  const std::string configurationPath = ConfigurationPathIn(moduleFolder);
  state.identity = ReadIdentity(*ports.profile, configurationPath);

  if (!context.image.Allocate(kBankSize)) return Fail(context, JobStatus::OutOfMemory);
  if (!ResolveImagePath(context, configurationPath)) return false;
  if (!CountBanks(context)) return false;
  if (!CheckBootLoader(context, configurationPath)) return false;
  // `initial`, like the serial write-back and the log, goes by the path discovery recorded.
  context.placeDescriptor = ReadPlaceDescriptor(*ports.profile, state.configurationPath);
  return PrepareMode(context);
}

namespace {

void RunJob(JobContext& context) {
  if (!PrepareJob(context)) return;

  const DeviceList& devices = State().devices;
  if (context.job.device == 0) {
    ProgramAllDevices(context);
  } else if (context.job.device > 0 &&
             static_cast<std::size_t>(context.job.device) <= devices.size()) {
    ProgramOneDevice(context, *devices[static_cast<std::size_t>(context.job.device) - 1]);
  } else {
    // No such device in the list: nothing is touched, and the host hears it like a lost device.
    PostStatus(context.job.window, JobStatus::TransferFailed);
  }
}

}  // namespace

bool JobRunning() { return jobRunning.load(); }

void WaitForJobEnd(std::uint32_t limitMs) {
  for (std::uint32_t waited = 0; jobRunning.load() && waited < limitMs; waited += kJobPollMs) {
    platform::CurrentPorts().clock->Sleep(kJobPollMs);
  }
}

void RunDownloadJob(void* job) {
  const DownloadJob arguments = *static_cast<const DownloadJob*>(job);
  try {
    JobContext context;
    context.job = arguments;
    RunJob(context);
  } catch (const std::bad_alloc&) {
    // The job's own buffers report their failures; this catches the small allocations of
    // strings and lists, which must not end the host's process.
    PostStatus(arguments.window, JobStatus::OutOfMemory);
  }  // buffers released and files closed
  jobRunning.store(false);
}

void StartDownloadJob(int mode, int device, int serialAndLog, void* window) {
  DownloadJob& job = State().job;
  job.mode = mode;
  job.device = device;
  job.serialAndLog = serialAndLog;
  job.window = window;
  jobRunning.store(true);
  if (!platform::CurrentPorts().threads->Start(&RunDownloadJob, &job, kJobStackBytes)) {
    jobRunning.store(false);
    PostStatus(window, JobStatus::OutOfMemory);
  }
}

}  // namespace flashkit
