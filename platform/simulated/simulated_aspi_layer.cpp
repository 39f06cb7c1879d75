#include "platform/simulated/simulated_aspi_layer.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>

namespace platform {

namespace {

constexpr std::uint8_t kTargetCheckCondition = 0x02;
constexpr std::uint8_t kFlagResidual = 0x04;  // SRB_ENABLE_RESIDUAL_COUNT, accepted and ignored
constexpr std::uint8_t kScsiIdOfAdapter = 7;
constexpr sim::Sense kInternalFailure{0x04, 0x44, 0x00};  // HARDWARE ERROR
// Requests that answer later do so after this long, so that the host really has to wait.
constexpr auto kLateAnswerDelay = std::chrono::milliseconds(1);

std::size_t BlockSize(std::uint8_t command) {
  switch (command) {
    case aspi::kScHaInquiry:
      return sizeof(aspi::SrbHaInquiry);
    case aspi::kScGetDevType:
      return sizeof(aspi::SrbGetDevType);
    case aspi::kScExecScsiCmd:
      return sizeof(aspi::SrbExecScsiCmd);
    default:
      return 8;  // the common header
  }
}

void SetStatus(aspi::SrbExecScsiCmd& srb, std::uint8_t status) {
  // The host may poll the status without a lock while a late answer is written.
  std::atomic_ref<std::uint8_t>(srb.status).store(status, std::memory_order_release);
}

// Carries out an execute request on the device and fills everything but the status, which it
// returns.
std::uint8_t RunOnDevice(aspi::SrbExecScsiCmd& srb, sim::Device& device) {
  const std::uint32_t length = srb.bufLen;
  const sim::Direction direction = (srb.flags & aspi::kSrbDirIn) != 0 ? sim::Direction::kFromDevice
                                   : length != 0                      ? sim::Direction::kToDevice
                                                                      : sim::Direction::kNone;
  sim::Sense sense;
  const sim::Result result = device.Execute(srb.cdb, direction, srb.bufPointer, length, &sense);
  srb.haStat = 0;
  srb.targStat = 0;
  if (result == sim::Result::kOk) return aspi::kSsComp;
  if (result == sim::Result::kGone) {
    srb.haStat = kHaStatSelectionTimeout;
    return aspi::kSsErr;
  }
  if (result == sim::Result::kFailed) sense = kInternalFailure;
  srb.targStat = kTargetCheckCondition;
  std::uint8_t* out = srb.senseArea;
  std::memset(out, 0, aspi::kSenseLen);
  out[0] = 0x70;
  out[2] = sense.key;
  out[7] = 6;  // additional length within the 14 bytes
  out[12] = sense.asc;
  out[13] = sense.ascq;
  return aspi::kSsErr;
}

}  // namespace

SimulatedAspiLayer::SimulatedAspiLayer(sim::Bus& bus, Events& events)
    : bus_(bus), events_(events) {}

SimulatedAspiLayer::~SimulatedAspiLayer() {
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  wake_.notify_all();
  if (worker_.joinable()) worker_.join();
}

bool SimulatedAspiLayer::Load() {
  std::lock_guard lock(mutex_);
  loaded_ = bus_.AspiPresent();
  return loaded_;
}

void SimulatedAspiLayer::Unload() {
  std::lock_guard lock(mutex_);
  loaded_ = false;
}

bool SimulatedAspiLayer::Loaded() const {
  std::lock_guard lock(mutex_);
  return loaded_;
}

std::uint32_t SimulatedAspiLayer::GetSupportInfo() {
  std::lock_guard lock(mutex_);
  if (!loaded_) {
    Reject("GetSupportInfo while the layer is not loaded");
    return 0;
  }
  return (static_cast<std::uint32_t>(aspi::kSsComp) << 8) |
         static_cast<std::uint32_t>(std::min(bus_.AdapterCount(), 255));
}

std::uint8_t SimulatedAspiLayer::Reject(const std::string& text) {
  violations_.push_back("request " + std::to_string(requests_.size()) + ": " + text);
  return kSsInvalidSrb;
}

std::uint32_t SimulatedAspiLayer::SendCommand(void* block) {
  std::unique_lock lock(mutex_);
  auto* bytes = static_cast<std::uint8_t*>(block);
  AspiRequest request;
  if (bytes != nullptr) {
    request.command = bytes[0];
    request.bytes.assign(bytes, bytes + BlockSize(bytes[0]));
  }
  requests_.push_back(request);
  const std::size_t index = requests_.size() - 1;
  if (bytes == nullptr) return Reject("no request block");
  if (!loaded_) Reject("request while the layer is not loaded");

  std::uint8_t status = 0;
  bool pending = false;
  switch (bytes[0]) {
    case aspi::kScHaInquiry:
      status = HaInquiry(*static_cast<aspi::SrbHaInquiry*>(block));
      static_cast<aspi::SrbHaInquiry*>(block)->status = status;
      break;
    case aspi::kScGetDevType:
      status = GetDevType(*static_cast<aspi::SrbGetDevType*>(block));
      static_cast<aspi::SrbGetDevType*>(block)->status = status;
      break;
    case aspi::kScExecScsiCmd: {
      auto& srb = *static_cast<aspi::SrbExecScsiCmd*>(block);
      status = Execute(srb, pending);
      if (!pending) SetStatus(srb, status);
      break;
    }
    default:
      Reject("unknown request " + std::to_string(bytes[0]));
      status = kSsInvalidCmd;
      bytes[1] = status;
      break;
  }
  requests_[index].status = status;
  requests_[index].pending = pending;
  return status;
}

std::uint8_t SimulatedAspiLayer::HaInquiry(aspi::SrbHaInquiry& srb) {
  srb.haCount = static_cast<std::uint8_t>(std::min(bus_.AdapterCount(), 255));
  if (srb.haId >= bus_.AdapterCount()) return aspi::kSsInvalidHa;
  srb.haScsiId = kScsiIdOfAdapter;
  std::memset(srb.haManagerId, 0, sizeof srb.haManagerId);
  std::memcpy(srb.haManagerId, "ASPI for WIN32", 14);
  std::memset(srb.haIdentifier, 0, sizeof srb.haIdentifier);
  std::memcpy(srb.haIdentifier, "K4826 simulator", 15);
  std::memset(srb.haUnique, 0, sizeof srb.haUnique);
  srb.haUnique[3] = bus_.AdapterTargets(srb.haId);
  srb.haUnique[6] = 0x01;  // largest transfer: 65536 bytes, low byte first at 4 to 7
  return aspi::kSsComp;
}

std::uint8_t SimulatedAspiLayer::GetDevType(aspi::SrbGetDevType& srb) {
  if (srb.haId >= bus_.AdapterCount()) return aspi::kSsInvalidHa;
  const sim::Device* device = bus_.FindAspi(srb.haId, srb.target);
  if (device == nullptr || device->Gone() || srb.lun != 0) return aspi::kSsNoDevice;
  srb.deviceType = 0;  // direct-access block device
  return aspi::kSsComp;
}

std::uint8_t SimulatedAspiLayer::Execute(aspi::SrbExecScsiCmd& srb, bool& pending) {
  if (srb.haId >= bus_.AdapterCount()) return aspi::kSsInvalidHa;
  if (srb.cdbLen != 12) return Reject("SRB_CDBLen is not 12");
  if (srb.senseLen != aspi::kSenseLen) return Reject("SRB_SenseLen is not 14");
  if (srb.lun != 0) return Reject("SRB_Lun is not 0");
  const std::uint8_t direction = srb.flags & (aspi::kSrbDirIn | aspi::kSrbDirOut);
  if (direction != aspi::kSrbDirIn && direction != aspi::kSrbDirOut) {
    return Reject("SRB_Flags must hold exactly one of SRB_DIR_IN and SRB_DIR_OUT");
  }
  if ((srb.flags & ~(aspi::kSrbDirIn | aspi::kSrbDirOut | aspi::kSrbEventNotify | kFlagResidual)) !=
      0) {
    return Reject("unsupported SRB_Flags bits");
  }
  if ((srb.flags & aspi::kSrbEventNotify) != 0 && srb.postProc == nullptr) {
    return Reject("SRB_EVENT_NOTIFY without an event");
  }
  if (srb.bufLen > 65536) return Reject("SRB_BufLen above 65536");
  if (srb.bufLen != 0 && srb.bufPointer == nullptr) return Reject("SRB_BufPointer missing");

  sim::Device* device = bus_.FindAspi(srb.haId, srb.target);
  if (device == nullptr) return aspi::kSsNoDevice;
  if (device->AnswerNextLater()) {
    pending = true;
    SetStatus(srb, aspi::kSsPending);
    queue_.push_back({&srb, device});
    ++running_;
    if (!worker_.joinable()) worker_ = std::thread(&SimulatedAspiLayer::Worker, this);
    wake_.notify_one();
    return aspi::kSsPending;
  }
  return RunOnDevice(srb, *device);
}

void SimulatedAspiLayer::Worker() {
  std::unique_lock lock(mutex_);
  for (;;) {
    wake_.wait(lock, [this] { return stopping_ || !queue_.empty(); });
    if (queue_.empty()) return;  // stopping, nothing left
    const Job job = queue_.front();
    queue_.pop_front();
    lock.unlock();
    Run(job);
    lock.lock();
    --running_;
    idle_.notify_all();
  }
}

void SimulatedAspiLayer::Run(const Job& job) {
  std::this_thread::sleep_for(kLateAnswerDelay);
  aspi::SrbExecScsiCmd& srb = *job.srb;
  const bool notify = (srb.flags & aspi::kSrbEventNotify) != 0;
  Handle event = srb.postProc;
  SetStatus(srb, RunOnDevice(srb, *job.device));
  // After the status the block belongs to the host again; only the saved event is used.
  if (notify) events_.Signal(event);
}

void SimulatedAspiLayer::WaitIdle() {
  std::unique_lock lock(mutex_);
  idle_.wait(lock, [this] { return running_ == 0; });
}

std::vector<AspiRequest> SimulatedAspiLayer::Requests() const {
  std::lock_guard lock(mutex_);
  return requests_;
}

std::vector<std::string> SimulatedAspiLayer::Violations() const {
  std::lock_guard lock(mutex_);
  return violations_;
}

void SimulatedAspiLayer::ClearLog() {
  std::lock_guard lock(mutex_);
  requests_.clear();
  violations_.clear();
}

}  // namespace platform
