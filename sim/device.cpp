#include "sim/device.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <new>

namespace sim {

namespace {

constexpr std::uint8_t kSignature[5] = {0xF5, 0x41, 0x50, 0x49, 0x58};
constexpr std::uint8_t kOpInquiry = 0x12;
constexpr std::uint8_t kOpReadCapacity = 0x25;
constexpr std::uint8_t kOpIdentify = 0xB3;
constexpr std::uint8_t kOpLun = 0xF7;
constexpr std::uint8_t kOpContextSwitch = 0xE1;
constexpr std::uint8_t kOpBank = 0xE2;
constexpr std::uint8_t kOpBootLoader = 0xE3;

constexpr std::size_t kInquiryLength = 36;
constexpr std::size_t kIdentifyLength = 12;
constexpr std::size_t kFlashIdLength = 8;
constexpr std::uint32_t kChunkLength = 1024;
constexpr std::uint32_t kPageLength = 512;
constexpr std::uint32_t kBlockLength = 512;

// Where a one-bank image's device keeps its working data, and where an image of two or more
// banks has it (in its last bank).
constexpr std::uint32_t kWorkAreaOneBank = 4096;
constexpr std::uint32_t kWorkAreaLastBank = 8192;

// The identify answer carries the version of the firmware image's last bank from here.
constexpr std::uint32_t kVersionMinorOffset = 0xFFFC;
constexpr std::uint32_t kVersionMajorOffset = 0xFFFD;

constexpr Sense kNoMedia{0x02, 0x3A, 0x00};        // NOT READY, MEDIUM NOT PRESENT
constexpr Sense kInvalidOpcode{0x05, 0x20, 0x00};  // ILLEGAL REQUEST, INVALID COMMAND OPCODE

constexpr const char* kKindNames[] = {
    "Inquiry",         "ReadCapacity",   "VendorProbe",    "Identify",   "LunCommand",
    "LoadBootLoader",  "ContextSwitch1", "ContextSwitch2", "WriteChunk", "ReadBank",
    "WriteDescriptor", "ReadFlashIds",   "SetFlashType",   "Unknown",    "Any"};
static_assert(std::size(kKindNames) == static_cast<std::size_t>(CommandKind::kAny) + 1);

bool IsVendor(const std::uint8_t* cdb) { return std::memcmp(cdb, kSignature, 5) == 0; }

std::string Hex(std::uint32_t value, int digits) {
  char text[16];
  std::snprintf(text, sizeof text, "%0*X", digits, value);
  return text;
}

}  // namespace

const char* KindName(CommandKind kind) { return kKindNames[static_cast<int>(kind)]; }

CommandKind KindFromName(const std::string& name) {
  for (int k = 0; k <= static_cast<int>(CommandKind::kAny); ++k) {
    const std::string candidate = kKindNames[k];
    if (candidate.size() == name.size() &&
        std::equal(candidate.begin(), candidate.end(), name.begin(), [](char a, char b) {
          return std::tolower(static_cast<unsigned char>(a)) ==
                 std::tolower(static_cast<unsigned char>(b));
        })) {
      return static_cast<CommandKind>(k);
    }
  }
  return CommandKind::kUnknown;
}

CommandKind Classify(const std::uint8_t* cdb) {
  if (cdb[0] == kOpInquiry) return CommandKind::kInquiry;
  if (cdb[0] == kOpReadCapacity) return CommandKind::kReadCapacity;
  if (!IsVendor(cdb)) return CommandKind::kUnknown;
  const std::uint8_t op = cdb[5];
  const std::uint8_t sub = cdb[6];
  if (op == 0 && std::all_of(cdb + 5, cdb + kCdbLength, [](std::uint8_t b) { return b == 0; })) {
    return CommandKind::kVendorProbe;
  }
  if (op == kOpIdentify && sub == 0x0C) return CommandKind::kIdentify;
  if (op == kOpLun) return CommandKind::kLunCommand;
  if (op == kOpBootLoader && sub == 0x01) return CommandKind::kLoadBootLoader;
  if (op == kOpContextSwitch && sub == 0x01) return CommandKind::kContextSwitch1;
  if (op == kOpContextSwitch && sub == 0x02) return CommandKind::kContextSwitch2;
  if (op == kOpBank) {
    switch (sub) {
      case 0x01:
        return CommandKind::kWriteChunk;
      case 0x02:
        return CommandKind::kReadBank;
      case 0x03:
        return CommandKind::kWriteDescriptor;
      case 0x04:
        return CommandKind::kReadFlashIds;
      case 0x05:
        return CommandKind::kSetFlashType;
      default:
        break;
    }
  }
  return CommandKind::kUnknown;
}

std::uint32_t Fnv1a32(const std::uint8_t* data, std::size_t length) {
  std::uint32_t hash = 0x811C9DC5u;
  for (std::size_t i = 0; i < length; ++i) {
    hash ^= data[i];
    hash *= 0x01000193u;
  }
  return hash;
}

const char* ResultName(Result result) {
  switch (result) {
    case Result::kOk:
      return "ok";
    case Result::kFailed:
      return "failed";
    case Result::kGone:
      return "gone";
    case Result::kCheckCondition:
      return "check";
  }
  return "?";
}

std::string FormatTraceLine(const TraceEntry& entry) {
  std::string line =
      entry.device + " " + std::to_string(entry.index) + " " + KindName(entry.kind) + " [";
  for (std::size_t i = 0; i < kCdbLength; ++i) {
    if (i != 0) line += ' ';
    line += Hex(entry.cdb[i], 2);
  }
  static constexpr const char* kDirections[] = {"none", "out", "in"};
  line += "] ";
  line += kDirections[static_cast<int>(entry.direction)];
  line += " " + std::to_string(entry.length) + " " + Hex(entry.digest, 8) + " " +
          ResultName(entry.result);
  return line;
}

Device::Device(DeviceConfig config) : config_(std::move(config)) {
  config_.banks = std::clamp(config_.banks, 1, 256);
  banks_.resize(static_cast<std::size_t>(config_.banks));
}

Result Device::Execute(const std::uint8_t* cdb, Direction direction, std::uint8_t* data,
                       std::uint32_t length, Sense* sense) {
  std::lock_guard lock(mutex_);
  TraceEntry entry;
  entry.device = config_.name;
  entry.index = ++commandCount_;
  entry.serial = (serialSource_ != nullptr ? *serialSource_ : ownSerial_).fetch_add(1) + 1;
  std::copy(cdb, cdb + kCdbLength, entry.cdb.begin());
  entry.direction = direction;
  entry.length = length;
  entry.kind = Classify(cdb);
  if (length == 0) direction = Direction::kNone;
  const bool noBuffer = length != 0 && data == nullptr;
  const bool sends = direction == Direction::kToDevice && !noBuffer;
  entry.digest = Fnv1a32(sends ? data : nullptr, sends ? length : 0);

  Sense senseData;
  if (config_.disappearAfter != 0 && commandCount_ > config_.disappearAfter) gone_ = true;
  if (gone_) {
    entry.result = Result::kGone;
  } else {
    ++kindCounts_[static_cast<int>(entry.kind)];
    currentIndex_ = entry.index;
    currentKind_ = entry.kind;
    if (FaultMatches(entry.kind)) {
      entry.result = Result::kFailed;
    } else if (noBuffer) {
      entry.result = Violation("no buffer for " + std::to_string(length) + " bytes");
    } else {
      entry.result = Dispatch(entry.kind, cdb, direction, data, length, senseData);
    }
    if (entry.result == Result::kOk && direction == Direction::kFromDevice) {
      entry.digest = Fnv1a32(data, length);
    }
  }
  if (sense != nullptr) *sense = senseData;
  trace_.push_back(entry);
  if (observer_ != nullptr) observer_->OnCommand(entry);
  return entry.result;
}

bool Device::FaultMatches(CommandKind kind) const {
  for (const FailRule& rule : config_.failRules) {
    if (rule.kind == CommandKind::kAny) {
      if (rule.nth == commandCount_) return true;
    } else if (rule.kind == kind) {
      if (rule.nth == 0 || rule.nth == kindCounts_[static_cast<int>(kind)]) return true;
    }
  }
  return false;
}

Result Device::Violation(const std::string& text) {
  violations_.push_back("command " + std::to_string(currentIndex_) + " (" + KindName(currentKind_) +
                        "): " + text);
  return Result::kFailed;
}

Result Device::Dispatch(CommandKind kind, const std::uint8_t* cdb, Direction direction,
                        std::uint8_t* data, std::uint32_t length, Sense& sense) {
  if (IsVendor(cdb) && !config_.vendorCommands) {
    sense = kInvalidOpcode;
    return Result::kCheckCondition;
  }
  // Each command has one direction; a zero length counts as none.
  auto expect = [&](Direction wanted) {
    return direction == wanted || (length == 0 && direction == Direction::kNone);
  };
  auto inSession = [&]() { return session_.active; };

  switch (kind) {
    case CommandKind::kInquiry:
      if (!expect(Direction::kFromDevice)) return Violation("INQUIRY must read from the device");
      return Inquiry(cdb, data, length);
    case CommandKind::kReadCapacity:
      if (!expect(Direction::kFromDevice)) return Violation("READ CAPACITY must read");
      return ReadCapacity(data, length, sense);
    case CommandKind::kVendorProbe:
      if (length != 0) return Violation("the vendor probe carries no data");
      return Result::kOk;
    case CommandKind::kIdentify: {
      if (direction != Direction::kFromDevice || length != kIdentifyLength) {
        return Violation("identify reads 12 bytes, got " + std::to_string(length));
      }
      data[0] = static_cast<std::uint8_t>(config_.vid);
      data[1] = static_cast<std::uint8_t>(config_.vid >> 8);
      data[2] = static_cast<std::uint8_t>(config_.pid);
      data[3] = static_cast<std::uint8_t>(config_.pid >> 8);
      std::copy(config_.version.begin(), config_.version.end(), data + 4);
      return Result::kOk;
    }
    case CommandKind::kLunCommand:
      if (length != 0) return Violation("the LUN command carries no data");
      lun_ = cdb[6];
      return Result::kOk;
    case CommandKind::kLoadBootLoader:
      if (!expect(Direction::kToDevice)) return Violation("LoadBootLoader sends data");
      return LoadBootLoader(cdb, data, length);
    case CommandKind::kContextSwitch1:
      if (length != 0) return Violation("ContextSwitch carries no data");
      // A new session may start over one that a failed job left open.
      session_ = Session{};
      session_.active = true;
      session_.loaderFirst = loaderPending_;
      loaderPending_ = false;
      return Result::kOk;
    case CommandKind::kContextSwitch2:
      if (length != 0) return Violation("ContextSwitch carries no data");
      if (!inSession()) return Violation("ContextSwitch 0x02 without ContextSwitch 0x01");
      return EndSession();
    case CommandKind::kReadFlashIds:
      if (!inSession()) return Violation("ReadFlashIds before ContextSwitch 0x01");
      if (!session_.loaderFirst) return Violation("ReadFlashIds without a boot loader");
      if (direction != Direction::kFromDevice || length != kFlashIdLength) {
        return Violation("ReadFlashIds reads 8 bytes, got " + std::to_string(length));
      }
      std::copy(config_.flashIds.begin(), config_.flashIds.end(), data);
      session_.flashIdsRead = true;
      return Result::kOk;
    case CommandKind::kSetFlashType:
      if (!inSession()) return Violation("SetFlashType before ContextSwitch 0x01");
      if (!session_.flashIdsRead) return Violation("SetFlashType before ReadFlashIds");
      if (length != 0) return Violation("SetFlashType carries no data");
      session_.flashTypeSet = true;
      session_.bankCount = cdb[10];
      session_.param = cdb[11];
      return Result::kOk;
    case CommandKind::kWriteChunk:
      if (!inSession()) return Violation("WriteChunk before ContextSwitch 0x01");
      if (!expect(Direction::kToDevice)) return Violation("WriteChunk sends data");
      return WriteChunk(cdb, data, length);
    case CommandKind::kReadBank:
      if (!inSession()) return Violation("ReadBank before ContextSwitch 0x01");
      if (direction != Direction::kFromDevice || length != kBankSize) {
        return Violation("ReadBank reads 65536 bytes, got " + std::to_string(length));
      }
      return ReadBank(cdb, data);
    case CommandKind::kWriteDescriptor:
      if (!inSession()) return Violation("WriteDescriptor before ContextSwitch 0x01");
      if (!session_.flashTypeSet) return Violation("WriteDescriptor before SetFlashType");
      if (direction != Direction::kToDevice || length != kDescriptorLength) {
        return Violation("WriteDescriptor sends 46 bytes, got " + std::to_string(length));
      }
      descriptor_.assign(data, data + length);
      return Result::kOk;
    case CommandKind::kUnknown:
    case CommandKind::kAny:
      break;
  }
  Violation("command not known to the device");
  sense = kInvalidOpcode;
  return Result::kCheckCondition;
}

Result Device::Inquiry(const std::uint8_t* cdb, std::uint8_t* data, std::uint32_t length) {
  std::array<std::uint8_t, kInquiryLength> answer{};
  answer[0] = 0x00;  // direct-access block device
  answer[1] = 0x80;  // removable medium
  answer[2] = 0x02;
  answer[3] = static_cast<std::uint8_t>(config_.inquiryFormat & 0x0F);
  answer[4] = kInquiryLength - 5;
  std::fill(answer.begin() + 8, answer.end(), ' ');
  std::copy_n(config_.inquiryText.begin(),
              std::min<std::size_t>(config_.inquiryText.size(), kInquiryLength - 8),
              answer.begin() + 8);
  const std::size_t count =
      std::min<std::size_t>({length, static_cast<std::size_t>(cdb[4]), kInquiryLength});
  std::copy_n(answer.begin(), count, data);
  return Result::kOk;
}

Result Device::ReadCapacity(std::uint8_t* data, std::uint32_t length, Sense& sense) {
  if (!config_.media) {
    sense = kNoMedia;
    return Result::kCheckCondition;
  }
  const std::uint32_t lastBlock =
      static_cast<std::uint32_t>(config_.banks) * (kBankSize / kBlockLength) - 1;
  const std::uint8_t answer[8] = {static_cast<std::uint8_t>(lastBlock >> 24),
                                  static_cast<std::uint8_t>(lastBlock >> 16),
                                  static_cast<std::uint8_t>(lastBlock >> 8),
                                  static_cast<std::uint8_t>(lastBlock),
                                  0,
                                  0,
                                  static_cast<std::uint8_t>(kBlockLength >> 8),
                                  static_cast<std::uint8_t>(kBlockLength)};
  std::copy_n(answer, std::min<std::uint32_t>(length, sizeof answer), data);
  return Result::kOk;
}

Result Device::LoadBootLoader(const std::uint8_t* cdb, const std::uint8_t* data,
                              std::uint32_t length) {
  const std::uint32_t announced = (static_cast<std::uint32_t>(cdb[8]) << 8) | cdb[9];
  if (length > 0xFFFF) return Violation("boot loader longer than 65535 bytes");
  if (announced != length) {
    return Violation("length bytes say " + std::to_string(announced) + ", data has " +
                     std::to_string(length));
  }
  if (cdb[7] > 1) return Violation("byte 7 must be 0 or 1");
  try {
    bootLoader_.assign(data, data + length);
  } catch (const std::bad_alloc&) {
    return Result::kFailed;
  }
  loaderDescriptorMode_ = cdb[7] == 1;
  loaderPending_ = true;
  return Result::kOk;
}

Result Device::WriteChunk(const std::uint8_t* cdb, const std::uint8_t* data, std::uint32_t length) {
  Session& s = session_;
  const auto sequenceOk = [&]() -> bool {
    // The first chunk of a session sets the count going: mass programming may carry on from the
    // previous device's numbers.
    if (!s.sequenceStarted) {
      s.sequenceStarted = true;
      s.nextSequence = cdb[10];
    }
    return cdb[10] == s.nextSequence;
  };
  const std::string sequenceText =
      "sequence number " + std::to_string(cdb[10]) + ", expected " + std::to_string(s.nextSequence);

  if (length == 0) {  // closes the sequence of 1024-byte chunks
    if (s.mode != ChunkMode::kChunks) return Violation("closing WriteChunk without chunks");
    if (s.closed) return Violation("sequence already closed");
    const std::uint32_t banksWritten = (s.offset + kBankSize - 1) / kBankSize;
    if (cdb[9] != banksWritten) {
      return Violation("closing bank count " + std::to_string(cdb[9]) + ", " +
                       std::to_string(banksWritten) + " banks were written");
    }
    if (!sequenceOk()) return Violation(sequenceText);
    if (cdb[11] != s.param) return Violation("parameter byte differs from SetFlashType");
    s.closed = true;
    FinishWrite();
    return Result::kOk;
  }

  if (length == kChunkLength) {
    if (s.mode == ChunkMode::kPages) return Violation("1024-byte chunk among 512-byte pages");
    if (!s.flashTypeSet) return Violation("WriteChunk before SetFlashType");
    if (s.closed) return Violation("WriteChunk after the closing WriteChunk");
    if (cdb[7] != 0x04 || cdb[8] != 0x00) return Violation("chunk length bytes must be 04 00");
    const std::uint32_t bank = s.offset / kBankSize;
    if (cdb[9] != bank) {
      return Violation("bank index " + std::to_string(cdb[9]) + ", write offset is in bank " +
                       std::to_string(bank));
    }
    if (s.bankCount != 0 && cdb[9] >= s.bankCount) {
      return Violation("bank index beyond the " + std::to_string(s.bankCount) +
                       " banks of SetFlashType");
    }
    if (!sequenceOk()) return Violation(sequenceText);
    if (cdb[11] != s.param) return Violation("parameter byte differs from SetFlashType");
    s.mode = ChunkMode::kChunks;
  } else if (length == kPageLength) {
    if (s.mode == ChunkMode::kChunks) return Violation("512-byte page among 1024-byte chunks");
    const std::uint16_t loaderLength = static_cast<std::uint16_t>((cdb[7] << 8) | cdb[8]);
    if (s.mode == ChunkMode::kNone) {
      s.pageBankCount = cdb[9];
      s.pageLoaderLength = loaderLength;
    } else if (cdb[9] != s.pageBankCount || loaderLength != s.pageLoaderLength) {
      return Violation("bytes 7 to 9 changed within a device's pages");
    }
    if (!sequenceOk()) return Violation(sequenceText);
    s.mode = ChunkMode::kPages;
  } else {
    return Violation("WriteChunk carries 1024, 512 or 0 bytes, got " + std::to_string(length));
  }

  if (s.offset + length > banks_.size() * kBankSize) return Violation("write past the flash");
  if (!StoreAt(s.offset, data, length)) return Result::kFailed;
  s.offset += length;
  ++s.nextSequence;
  return Result::kOk;
}

bool Device::StoreAt(std::uint32_t offset, const std::uint8_t* data, std::uint32_t length) {
  // Chunks and pages never cross a bank edge: both divide 64 KiB.
  std::vector<std::uint8_t>& bank = banks_[offset / kBankSize];
  if (bank.empty()) {
    try {
      bank.assign(kBankSize, 0xFF);
    } catch (const std::bad_alloc&) {
      return false;
    }
  }
  std::copy_n(data, length, bank.begin() + offset % kBankSize);
  return true;
}

// The device takes over part of what it was sent as its own working data: in a one-bank image
// the start of bank 0, otherwise the start of the last bank. Read back then differs there.
void Device::FinishWrite() {
  const std::uint32_t banksWritten = (session_.offset + kBankSize - 1) / kBankSize;
  if (banksWritten == 0) return;
  workBank_ = static_cast<int>(banksWritten - 1);
  workLength_ = banksWritten == 1 ? kWorkAreaOneBank : kWorkAreaLastBank;
}

Result Device::ReadBank(const std::uint8_t* cdb, std::uint8_t* data) {
  if (session_.mode == ChunkMode::kChunks && !session_.closed) {
    return Violation("ReadBank while the write sequence is open");
  }
  const int bank = cdb[8];
  if (bank >= static_cast<int>(banks_.size())) {
    return Violation("bank " + std::to_string(bank) + " beyond the flash");
  }
  FillReadBack(bank, data);
  return Result::kOk;
}

void Device::FillReadBack(int bank, std::uint8_t* out) const {
  const std::vector<std::uint8_t>& stored = banks_[static_cast<std::size_t>(bank)];
  if (stored.empty()) {
    std::fill_n(out, kBankSize, 0xFF);
  } else {
    std::copy(stored.begin(), stored.end(), out);
  }
  // The working data is whatever the firmware keeps there; modelled as the complement of what
  // was written, so that every byte of the area differs from the image.
  if (bank == workBank_) {
    for (std::uint32_t i = 0; i < workLength_; ++i) out[i] = static_cast<std::uint8_t>(~out[i]);
  }
  for (const CorruptRule& rule : config_.corruptRules) {
    if (rule.bank == bank) out[rule.offset] ^= 0x01;
  }
}

Result Device::EndSession() {
  if (session_.mode == ChunkMode::kChunks && !session_.closed) {
    return Violation("ContextSwitch 0x02 while the write sequence is open");
  }
  if (session_.mode == ChunkMode::kPages) FinishWrite();
  // A firmware image that filled whole banks carries its version at the end of its last bank.
  if (session_.mode != ChunkMode::kNone && session_.offset != 0 &&
      session_.offset % kBankSize == 0) {
    const std::vector<std::uint8_t>& last = banks_[session_.offset / kBankSize - 1];
    config_.version[2] = last[kVersionMinorOffset];
    config_.version[3] = last[kVersionMajorOffset];
  }
  session_.active = false;
  if (observer_ != nullptr) observer_->OnSequenceEnd(*this);
  return Result::kOk;
}

std::vector<TraceEntry> Device::Trace() const {
  std::lock_guard lock(mutex_);
  return trace_;
}

std::vector<std::string> Device::Violations() const {
  std::lock_guard lock(mutex_);
  return violations_;
}

std::vector<std::uint8_t> Device::StoredBank(int bank) const {
  std::lock_guard lock(mutex_);
  if (bank < 0 || bank >= static_cast<int>(banks_.size())) return {};
  const std::vector<std::uint8_t>& stored = banks_[static_cast<std::size_t>(bank)];
  return stored.empty() ? std::vector<std::uint8_t>(kBankSize, 0xFF) : stored;
}

std::vector<std::uint8_t> Device::ReadBackBank(int bank) const {
  std::lock_guard lock(mutex_);
  if (bank < 0 || bank >= static_cast<int>(banks_.size())) return {};
  std::vector<std::uint8_t> out(kBankSize);
  FillReadBack(bank, out.data());
  return out;
}

int Device::WrittenBankCount() const {
  std::lock_guard lock(mutex_);
  for (int bank = static_cast<int>(banks_.size()); bank > 0; --bank) {
    if (!banks_[static_cast<std::size_t>(bank - 1)].empty()) return bank;
  }
  return 0;
}

std::vector<std::uint8_t> Device::BootLoader() const {
  std::lock_guard lock(mutex_);
  return bootLoader_;
}

bool Device::BootLoaderDescriptorMode() const {
  std::lock_guard lock(mutex_);
  return loaderDescriptorMode_;
}

std::vector<std::uint8_t> Device::Descriptor() const {
  std::lock_guard lock(mutex_);
  return descriptor_;
}

std::array<std::uint8_t, 8> Device::Version() const {
  std::lock_guard lock(mutex_);
  return config_.version;
}

std::uint8_t Device::Lun() const {
  std::lock_guard lock(mutex_);
  return lun_;
}

bool Device::Gone() const {
  std::lock_guard lock(mutex_);
  return gone_ || (config_.disappearAfter != 0 && commandCount_ >= config_.disappearAfter);
}

void Device::SetMedia(bool present) {
  std::lock_guard lock(mutex_);
  config_.media = present;
}

void Device::SetFlashIds(const std::array<std::uint8_t, 8>& ids) {
  std::lock_guard lock(mutex_);
  config_.flashIds = ids;
}

void Device::Disappear() {
  std::lock_guard lock(mutex_);
  gone_ = true;
}

void Device::SetObserver(DeviceObserver* observer) {
  std::lock_guard lock(mutex_);
  observer_ = observer;
}

void Device::SetSerialSource(std::atomic<std::uint64_t>* source) {
  std::lock_guard lock(mutex_);
  serialSource_ = source;
}

bool Device::AnswerNextLater() {
  std::lock_guard lock(mutex_);
  if (config_.pendingEvery == 0) return false;
  return ++pendingCount_ % config_.pendingEvery == 0;
}

int Device::DumpFlash(const std::string& folder) const {
  std::lock_guard lock(mutex_);
  int result = 0;
  for (std::size_t bank = 0; bank < banks_.size(); ++bank) {
    if (banks_[bank].empty()) continue;
    std::string path = folder;
    if (!path.empty() && path.back() != '/' && path.back() != '\\') path += '/';
    path += config_.name + "-bank" + std::to_string(bank) + ".bin";
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file.write(reinterpret_cast<const char*>(banks_[bank].data()), kBankSize);
    if (!file) result = 1;
  }
  return result;
}

}  // namespace sim
