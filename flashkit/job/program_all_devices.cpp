#include "flashkit/job/program_all_devices.h"

#include <cstring>

#include "flashkit/data/configuration.h"
#include "flashkit/data/descriptor_block.h"
#include "flashkit/data/std_file.h"
#include "flashkit/device/vendor_command.h"
#include "flashkit/job/command_catalogue.h"
#include "flashkit/job/job_status.h"
#include "flashkit/job/production_log.h"
#include "platform/ports.h"

namespace flashkit {

namespace {

namespace cat = catalogue;

std::int32_t Send(VendorCommand command, std::uint32_t length, std::uint8_t* data) {
  return SendVendorCommand(1, 0, length, cat::kTimeoutSeconds, command, data);
}

// Gives the device the next serial number. The running number is stored at once, before the
// page goes out, so that a job that dies half-way never hands the same number out again.
void AssignSerial(DeviceEntry& entry) {
  LibraryState& state = State();
  state.identity.serialString = NextSerialNumber(state.identity.serialString);
  BuildDescriptorBlock(state.identity, state.descriptorBlock);
  entry.serial = state.identity.serialString;
  WriteBackSerial(*platform::CurrentPorts().profile, state.configurationPath, entry.serial);
}

void ProgramDevice(JobContext& context, DeviceEntry& entry) {
  LibraryState& state = State();
  SelectCurrentDevice(entry);
  Send(cat::ContextSwitch(cat::kContextStart), 0, nullptr);
  platform::CurrentPorts().clock->Sleep(kMassSettleMilliseconds);

  // Every device gets the same pages from the start of the image, sequence numbers from 0.
  std::uint8_t sequence = 0;
  std::uint8_t lastSent = 0;
  for (std::uint32_t page = 0; page < context.transferCount; ++page) {
    std::uint8_t* data = context.image.data() + page * cat::kPageSize;
    const bool descriptorPage = page == cat::kDescriptorPage && context.placeDescriptor == 1;
    if (descriptorPage) data = state.descriptorBlock.data();
    if (entry.status == 1) {
      if (descriptorPage && context.job.serialAndLog != 0) {
        AssignSerial(entry);
        data = state.descriptorBlock.data();
      }
      lastSent = sequence;
      const std::int32_t result =
          Send(cat::WritePage(context.loaderLength, context.bankCount, sequence++), cat::kPageSize,
               data);
      if (result != 0) entry.status = 0;
    }
    PostStatus(context.job.window, JobStatus::Progress, (page + 1) * 100 / context.transferCount);
  }
  Send(cat::ContextSwitch(cat::kContextEnd, static_cast<std::uint8_t>(context.loaderLength >> 8),
                          static_cast<std::uint8_t>(context.loaderLength), context.bankCount,
                          lastSent),
       0, nullptr);
}

void WriteLog(const JobContext& context) {
  LibraryState& state = State();
  const std::string logPath = LogPathFor(state.configurationPath);
  for (const std::unique_ptr<DeviceEntry>& entry : state.devices) {
    UniqueFile log = OpenFile(logPath.c_str(), "ab");
    if (!log) {
      PostStatus(context.job.window, JobStatus::FileMissing);
      return;
    }
    const std::string line =
        ProductionLogLine(platform::CurrentPorts().clock->Now(), entry->serial, entry->status == 1);
    // A line that does not reach the disk (a full disk) is as lost as an unopenable log.
    const bool written = std::fwrite(line.data(), 1, line.size(), log.get()) == line.size();
    if (std::fclose(log.release()) != 0 || !written) {
      PostStatus(context.job.window, JobStatus::FileMissing);
      return;
    }
  }
}

}  // namespace

void ProgramAllDevices(JobContext& context) {
  LibraryState& state = State();
  for (const std::unique_ptr<DeviceEntry>& entry : state.devices) entry->status = 1;
  // The descriptor page must carry this job's identity even when no serial numbers are given
  // out; a block left from an earlier job, or never built, would name another device.
  if (context.placeDescriptor == 1) BuildDescriptorBlock(state.identity, state.descriptorBlock);

  for (const std::unique_ptr<DeviceEntry>& entry : state.devices) ProgramDevice(context, *entry);
  if (context.job.serialAndLog != 0) WriteLog(context);
}

}  // namespace flashkit
