#include "flashkit/job/program_one_device.h"

#include <cstring>

#include "flashkit/data/flash_id_table.h"
#include "flashkit/data/intel_hex.h"
#include "flashkit/data/std_file.h"
#include "flashkit/device/vendor_command.h"
#include "flashkit/job/command_catalogue.h"
#include "flashkit/job/job_status.h"

namespace flashkit {

namespace {

namespace cat = catalogue;

constexpr std::uint32_t kSingleBankSkip = 4096;  // bank 0 of a one-bank image
constexpr std::uint32_t kLastBankSkip = 8192;    // last bank of a larger image

std::int32_t Send(VendorCommand command, int dataIn, std::uint32_t length, std::uint8_t* data) {
  return SendVendorCommand(1, dataIn, length, cat::kTimeoutSeconds, command, data);
}

void Post(const JobContext& context, JobStatus code, std::uintptr_t wParam = 0) {
  PostStatus(context.job.window, code, wParam);
}

// Bank 0's last 256 bytes; the second half of the block stays zero.
void FillDeviceInfo(const std::uint8_t* bank0) {
  auto& info = State().deviceInfo;
  info.fill(0);
  std::memcpy(info.data(), bank0 + kDeviceInfoSource, kBankSize - kDeviceInfoSource);
}

const FlashIdRecord* IdentifyFlash(const std::uint8_t* answer) {
  for (int pair = 0; pair < 4; ++pair) {
    const FlashIdRecord* record =
        FindFlashIdRecord(State().flashTable, answer[2 * pair], answer[2 * pair + 1]);
    if (record != nullptr) return record;
  }
  return nullptr;
}

bool WriteFirmware(JobContext& context, std::uint8_t parameter) {
  UniqueFile image = OpenFile(context.imagePath.c_str(), "rb");
  if (!image) {
    Post(context, JobStatus::FileMissing);
    return false;
  }
  // Cleared first: a short image must not send what the boot loader left in the buffer.
  std::memset(context.image.data(), 0, context.image.size());
  std::fread(context.image.data(), 1, context.image.size(), image.get());
  image.reset();

  std::uint8_t sequence = 0;
  std::uint32_t written = 0;
  for (std::uint32_t bank = 0; bank < context.bankCount; ++bank) {
    for (std::uint32_t chunk = 0; chunk < kChunksPerBank; ++chunk) {
      std::uint8_t* data = context.image.data() + (bank * kChunksPerBank + chunk) * cat::kChunkSize;
      if (Send(cat::WriteChunk(static_cast<std::uint8_t>(bank), sequence, parameter), 0,
               cat::kChunkSize, data) != 0) {
        Post(context, JobStatus::TransferFailed);
        return false;
      }
      ++sequence;
      ++written;
      Post(context, JobStatus::Progress, written * 100 / context.transferCount);
    }
  }
  Send(cat::CloseWrite(context.bankCount, sequence, parameter), 0, 0, nullptr);
  return true;
}

bool VerifyFirmware(JobContext& context) {
  JobBuffer readBack;
  if (!readBack.Allocate(kBankSize)) {
    Post(context, JobStatus::OutOfMemory);
    return false;
  }
  UniqueFile image = OpenFile(context.imagePath.c_str(), "rb");
  if (!image) {
    Post(context, JobStatus::VerifyError);
    return false;
  }
  // Without a dump file the verification still runs: the dump is a help, the comparison is not.
  UniqueFile dump = OpenFile(kVerifyFileName, "wb");

  for (std::uint32_t bank = 0; bank < context.bankCount; ++bank) {
    if (Send(cat::ReadBank(static_cast<std::uint8_t>(bank)), 1, kBankSize, readBack.data()) != 0) {
      Post(context, JobStatus::TransferFailed);
      return false;
    }
    if (bank == 0) FillDeviceInfo(readBack.data());
    if (dump) std::fwrite(readBack.data(), 1, kBankSize, dump.get());

    const std::size_t held = std::fread(context.image.data(), 1, kBankSize, image.get());
    if (held == 0) {  // the image shrank since it was written
      Post(context, JobStatus::VerifyError);
      return false;
    }
    std::uint32_t start = 0;
    if (context.bankCount == 1) {
      start = kSingleBankSkip;
    } else if (bank + 1 == context.bankCount) {
      start = kLastBankSkip;
    }
    // A short last bank is compared only over the bytes the file holds.
    for (std::size_t offset = start; offset < held; ++offset) {
      if (readBack.data()[offset] != context.image.data()[offset]) {
        Post(context, JobStatus::VerifyError);
        return false;
      }
    }
  }
  return true;
}

void FinishWithContextSwitch(const JobContext& context, VendorCommand command) {
  if (Send(command, 0, 0, nullptr) != 0) Post(context, JobStatus::ContextSwitchFailed);
}

void ProgramDescriptor(JobContext& context, std::uint8_t parameter) {
  if (Send(cat::WriteDescriptor(context.bankCount, parameter), 0, kDescriptorHeadSize,
           context.descriptorHead.data()) != 0) {
    Post(context, JobStatus::TransferFailed);
    return;
  }
  JobBuffer readBack;
  if (!readBack.Allocate(kBankSize)) {
    Post(context, JobStatus::OutOfMemory);
    return;
  }
  if (Send(cat::ReadDescriptorBank(context.bankCount, parameter), 1, kBankSize, readBack.data()) !=
      0) {
    Post(context, JobStatus::TransferFailed);
    return;
  }
  FillDeviceInfo(readBack.data());
  readBack.Release();
  Post(context, JobStatus::Progress, 100 / context.transferCount);
  Post(context, JobStatus::Success);
  FinishWithContextSwitch(
      context, cat::ContextSwitch(cat::kContextEnd, 0, 0, 0, context.bankCount, parameter));
}

}  // namespace

void ProgramOneDevice(JobContext& context, DeviceEntry& entry) {
  SelectCurrentDevice(entry);

  std::uint32_t loaderLength = 0;
  {
    UniqueFile loader = OpenFile(context.bootLoaderPath.c_str(), "rb");
    if (!loader) {
      Post(context, JobStatus::FileMissing);
      return;
    }
    loaderLength = static_cast<std::uint32_t>(
        std::fread(context.image.data(), 1, kMaxBootLoaderBytes + 1, loader.get()));
  }
  // The file grew past what LoadBootLoader can carry since the job was prepared.
  if (loaderLength > kMaxBootLoaderBytes) {
    Post(context, JobStatus::FileMissing);
    return;
  }
  Send(cat::LoadBootLoader(context.job.mode == DescriptorMode,
                           static_cast<std::uint16_t>(loaderLength)),
       0, loaderLength, context.image.data());

  if (Send(cat::ContextSwitch(cat::kContextStart), 0, 0, nullptr) != 0) {
    Post(context, JobStatus::ContextSwitchFailed);
    return;
  }

  std::uint8_t answer[cat::kFlashIdAnswerSize] = {};
  // A failed read leaves no pairs to look up.
  const bool answered =
      Send(cat::ReadFlashIds(context.bankCount), 1, cat::kFlashIdAnswerSize, answer) == 0;
  const FlashIdRecord* flash = answered ? IdentifyFlash(answer) : nullptr;
  if (flash == nullptr) {
    Post(context, JobStatus::UnknownFlash);
    return;
  }
  Post(context, JobStatus::FlashIdentified,
       static_cast<std::uintptr_t>(flash->deviceId) * 256 + flash->makerId);
  Send(cat::SetFlashType(context.bankCount, flash->parameter), 0, 0, nullptr);

  if (context.job.mode == FirmwareMode) {
    if (!WriteFirmware(context, flash->parameter)) return;
    if (!VerifyFirmware(context)) return;
    Post(context, JobStatus::Success);
    FinishWithContextSwitch(context, cat::ContextSwitch(cat::kContextEnd));
  } else if (context.job.mode == DescriptorMode) {
    ProgramDescriptor(context, flash->parameter);
  }
}

}  // namespace flashkit
