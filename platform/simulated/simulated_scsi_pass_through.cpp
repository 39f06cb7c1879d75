#include "platform/simulated/simulated_scsi_pass_through.h"

#include <algorithm>
#include <cstring>

namespace platform {

namespace pt = pass_through;

namespace {

constexpr std::uint8_t kStatusGood = 0x00;
constexpr std::uint8_t kStatusCheckCondition = 0x02;
constexpr std::uint8_t kSenseFixedCurrent = 0x70;

std::uint32_t U32(const std::uint8_t* area, std::size_t offset) {
  return static_cast<std::uint32_t>(area[offset]) |
         (static_cast<std::uint32_t>(area[offset + 1]) << 8) |
         (static_cast<std::uint32_t>(area[offset + 2]) << 16) |
         (static_cast<std::uint32_t>(area[offset + 3]) << 24);
}

std::uint16_t U16(const std::uint8_t* area, std::size_t offset) {
  return static_cast<std::uint16_t>(area[offset] | (area[offset + 1] << 8));
}

void WriteSense(std::uint8_t* area, const sim::Sense& sense) {
  std::uint8_t* out = area + pt::kSenseOffset;
  std::memset(out, 0, pt::kSenseLength);
  out[0] = kSenseFixedCurrent;
  out[2] = sense.key;
  out[7] = 10;  // additional sense length
  out[12] = sense.asc;
  out[13] = sense.ascq;
}

}  // namespace

SimulatedScsiPassThrough::SimulatedScsiPassThrough(sim::Bus& bus, Options options)
    : bus_(bus), options_(options) {}

std::vector<std::string> SimulatedScsiPassThrough::CandidateDrives() {
  if (!bus_.UsesDriveLetters()) return bus_.DrivePaths();
  std::vector<std::string> paths;
  for (char letter = 'D'; letter <= 'Z'; ++letter) paths.push_back(sim::DrivePath(letter));
  return paths;
}

Handle SimulatedScsiPassThrough::OpenDrive(const std::string& path) {
  const sim::Device* device = bus_.FindDrive(path);
  if (device == nullptr || device->Gone()) return nullptr;
  std::lock_guard lock(mutex_);
  // Handle values are never reused, so a closed handle stays invalid.
  Handle handle = reinterpret_cast<Handle>(nextHandle_);
  nextHandle_ += 4;
  open_[handle] = path;
  return handle;
}

void SimulatedScsiPassThrough::CloseDrive(Handle drive) {
  std::lock_guard lock(mutex_);
  open_.erase(drive);
}

std::uint32_t SimulatedScsiPassThrough::Reject(const std::string& text) {
  violations_.push_back("request " + std::to_string(requests_.size()) + ": " + text);
  return kErrorInvalidParameter;
}

std::uint32_t SimulatedScsiPassThrough::Check(std::uint32_t code, const std::uint8_t* area,
                                              std::uint32_t inSize, std::uint32_t outSize,
                                              void* directData) {
  const bool buffered = code == pt::kIoctlPassThrough;
  if (!buffered && code != pt::kIoctlPassThroughDirect) return Reject("unknown control code");
  if (area == nullptr) return Reject("no request area");
  if (U16(area, pt::kOffLength) != pt::kStructSize) return Reject("Length is not 44");
  if (area[pt::kOffPathId] != 0 || area[pt::kOffTargetId] != 1 || area[pt::kOffLun] != 0) {
    return Reject("PathId, TargetId, Lun must be 0, 1, 0");
  }
  const std::uint8_t cdbLength = area[pt::kOffCdbLength];
  if (cdbLength != 6 && cdbLength != 12) return Reject("CdbLength is neither 6 nor 12");
  if (area[pt::kOffSenseInfoLength] != pt::kSenseLength) return Reject("SenseInfoLength not 24");
  if (U32(area, pt::kOffSenseInfoOffset) != pt::kSenseOffset) {
    return Reject("SenseInfoOffset not 48");
  }
  const std::uint32_t length = U32(area, pt::kOffDataTransferLength);
  if (length > pt::kMaxData) return Reject("DataTransferLength above 65536");
  const std::uint8_t dataIn = area[pt::kOffDataIn];
  if (buffered) {
    if (dataIn != pt::kDataInFlag) return Reject("buffered request without DataIn 1");
    if (U32(area, pt::kOffDataBuffer) != pt::kDataOffset) return Reject("DataBufferOffset not 80");
    if (inSize != pt::kStructSize) return Reject("buffered input size not 44");
    if (outSize != pt::kDataOffset + length) return Reject("buffered output size not 80 + length");
    if (directData != nullptr) return Reject("buffered request with a direct buffer");
    return 0;
  }
  if (inSize != pt::kWriteAreaSize || outSize != pt::kWriteAreaSize) {
    return Reject("direct request sizes not 80 and 80");
  }
  if (dataIn != pt::kDataOut && !(options_.directReads && dataIn == pt::kDataInFlag)) {
    return Reject(options_.directReads ? "DataIn neither 0 nor 1" : "direct request with DataIn");
  }
  if (length != 0 && directData == nullptr) return Reject("direct request without its buffer");
  // The field holds a 32-bit pointer in the product; a 64-bit host keeps the low half there.
  const auto low = static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(directData));
  if (U32(area, pt::kOffDataBuffer) != low) return Reject("DataBuffer is not the data buffer");
  return 0;
}

std::uint32_t SimulatedScsiPassThrough::IoControl(Handle drive, std::uint32_t code,
                                                  std::uint8_t* area, std::uint32_t inSize,
                                                  std::uint32_t outSize, void* directData) {
  std::lock_guard lock(mutex_);
  PassThroughRequest request;
  request.drive = drive;
  request.code = code;
  request.inSize = inSize;
  request.outSize = outSize;
  request.directData = directData;
  if (area != nullptr) {
    std::copy_n(area, std::min<std::size_t>(pt::kDataOffset, std::max(inSize, outSize)),
                request.area.begin());
  }
  const auto open = open_.find(drive);
  if (open != open_.end()) request.path = open->second;
  requests_.push_back(request);
  std::uint32_t& result = requests_.back().result;

  if (open == open_.end()) return result = kErrorInvalidHandle;
  if ((result = Check(code, area, inSize, outSize, directData)) != 0) return result;

  sim::Device* device = bus_.FindDrive(open->second);
  if (device == nullptr) return result = kErrorDevNotExist;
  const std::uint32_t length = U32(area, pt::kOffDataTransferLength);
  const bool reads = code == pt::kIoctlPassThrough || area[pt::kOffDataIn] == pt::kDataInFlag;
  std::uint8_t* data = code == pt::kIoctlPassThrough ? area + pt::kDataOffset
                                                     : static_cast<std::uint8_t*>(directData);
  sim::Sense sense;
  // The device always gets 12 command bytes; a 6-byte command leaves the rest zero.
  const sim::Result outcome = device->Execute(
      area + pt::kOffCdb, reads ? sim::Direction::kFromDevice : sim::Direction::kToDevice, data,
      length, &sense);
  switch (outcome) {
    case sim::Result::kOk:
      area[pt::kOffScsiStatus] = kStatusGood;
      return result = 0;
    case sim::Result::kCheckCondition:
      // The driver carried the command out; the device answered with an error status.
      area[pt::kOffScsiStatus] = kStatusCheckCondition;
      WriteSense(area, sense);
      return result = 0;
    case sim::Result::kGone:
      return result = kErrorDevNotExist;
    case sim::Result::kFailed:
      break;
  }
  return result = kErrorIoDevice;
}

std::vector<PassThroughRequest> SimulatedScsiPassThrough::Requests() const {
  std::lock_guard lock(mutex_);
  return requests_;
}

std::vector<std::string> SimulatedScsiPassThrough::Violations() const {
  std::lock_guard lock(mutex_);
  return violations_;
}

std::size_t SimulatedScsiPassThrough::OpenHandleCount() const {
  std::lock_guard lock(mutex_);
  return open_.size();
}

void SimulatedScsiPassThrough::ClearLog() {
  std::lock_guard lock(mutex_);
  requests_.clear();
  violations_.clear();
}

}  // namespace platform
