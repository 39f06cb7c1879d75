#pragma once
// A simulated K4826 controller: the commands it answers, the order it expects them in, what it
// stores, and the faults it can be told to show. See sim/README.md for the model.
#include <array>
#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

namespace sim {

enum class Direction { kNone, kToDevice, kFromDevice };

enum class Result {
  kOk,              // carried out
  kFailed,          // device error, injected fault or a command out of order
  kGone,            // the device has disappeared; nothing answers any more
  kCheckCondition,  // finished with CHECK CONDITION (no media, command not supported)
};

enum class CommandKind {
  kInquiry,
  kReadCapacity,
  kVendorProbe,
  kIdentify,
  kLunCommand,
  kLoadBootLoader,
  kContextSwitch1,
  kContextSwitch2,
  kWriteChunk,
  kReadBank,
  kWriteDescriptor,
  kReadFlashIds,
  kSetFlashType,
  kUnknown,
  kAny,  // only in fault rules: any command
};

// The name used in traces and in the configuration file ("WriteChunk", "ContextSwitch2", ...).
const char* KindName(CommandKind kind);
// The kind with that name (case-insensitive), or kUnknown when there is none.
CommandKind KindFromName(const std::string& name);
CommandKind Classify(const std::uint8_t* cdb);

inline constexpr std::size_t kCdbLength = 12;
inline constexpr std::uint32_t kBankSize = 65536;
inline constexpr std::size_t kDescriptorLength = 46;

// FNV-1a, 32 bits: the digest of a command's data in the trace.
std::uint32_t Fnv1a32(const std::uint8_t* data, std::size_t length);

// Fixed-format sense data for a CHECK CONDITION.
struct Sense {
  std::uint8_t key = 0;
  std::uint8_t asc = 0;
  std::uint8_t ascq = 0;
};

// Fails a command: the n-th command of all (kind kAny), the n-th of one kind, or (nth 0) every
// command of that kind.
struct FailRule {
  CommandKind kind = CommandKind::kAny;
  std::uint64_t nth = 0;
};

struct CorruptRule {  // read back of this byte has its lowest bit flipped
  std::uint8_t bank = 0;
  std::uint16_t offset = 0;
};

struct DeviceConfig {
  std::string name = "k4826";
  std::uint16_t vid = 0x0402;
  std::uint16_t pid = 0x4826;
  // Identify bytes 4 to 11; byte 3 is the major and byte 2 the minor firmware version.
  std::array<std::uint8_t, 8> version{0x00, 0x00, 0x00, 0x10, 0x00, 0x00, 0x00, 0x00};
  std::uint8_t inquiryFormat = 1;                            // low four bits of INQUIRY byte 3
  std::string inquiryText = "K4826   USB Flash Disk  1.00";  // INQUIRY bytes 8 to 35
  std::array<std::uint8_t, 8> flashIds{0xEC, 0x75, 0, 0, 0, 0, 0, 0};
  bool media = true;           // READ CAPACITY succeeds
  bool vendorCommands = true;  // false: every F5 "APIX" command ends in CHECK CONDITION
  int banks = 16;              // flash size in 64 KiB banks (1 to 256)
  std::vector<FailRule> failRules;
  std::vector<CorruptRule> corruptRules;
  std::uint64_t disappearAfter = 0;  // 0: never; n: commands after the n-th find the device gone
  std::uint32_t pendingEvery = 0;    // ASPI: 0 never; n: every n-th execute request answers later
};

struct TraceEntry {
  std::uint64_t serial = 0;  // order across the whole bus, from 1
  std::uint64_t index = 0;   // order at this device, from 1
  std::string device;
  CommandKind kind = CommandKind::kUnknown;
  std::array<std::uint8_t, kCdbLength> cdb{};
  Direction direction = Direction::kNone;
  std::uint32_t length = 0;
  std::uint32_t digest = 0;  // Fnv1a32 of the data that moved (sent, or answered on success)
  Result result = Result::kOk;
};

// One line: "<device> <index> <kind> [<12 bytes hex>] <none|out|in> <length> <digest> <result>".
std::string FormatTraceLine(const TraceEntry& entry);
const char* ResultName(Result result);

class Device;

// Told of every command and of every programming sequence that ContextSwitch 0x02 ends. Called
// with the device's lock held, on the thread that sent the command; may call the device's
// accessors.
class DeviceObserver {
 public:
  virtual ~DeviceObserver() = default;
  virtual void OnCommand(const TraceEntry& entry) = 0;
  virtual void OnSequenceEnd(const Device& device) = 0;
};

class Device {
 public:
  explicit Device(DeviceConfig config);
  Device(const Device&) = delete;
  Device& operator=(const Device&) = delete;

  // Runs one command. `cdb` holds 12 bytes; `data` holds `length` bytes (sent or to be filled).
  // A zero length means no data phase, whatever `direction` says; a missing buffer for a
  // nonzero length fails as a violation. `sense` (optional) receives the
  // sense data of a CHECK CONDITION. Thread-safe.
  Result Execute(const std::uint8_t* cdb, Direction direction, std::uint8_t* data,
                 std::uint32_t length, Sense* sense = nullptr);

  const std::string& Name() const { return config_.name; }
  const DeviceConfig& Config() const { return config_; }

  std::vector<TraceEntry> Trace() const;
  // Commands that came out of the order the device expects, or malformed, one text each.
  std::vector<std::string> Violations() const;

  // Bank as stored: exactly the bytes written into it (0xFF where nothing was). Empty for a bank
  // beyond the flash.
  std::vector<std::uint8_t> StoredBank(int bank) const;
  // Bank as ReadBank answers it: stored bytes, the device's own working area, corrupt rules.
  std::vector<std::uint8_t> ReadBackBank(int bank) const;
  // Number of banks up to and including the highest one written (0 when none).
  int WrittenBankCount() const;
  std::vector<std::uint8_t> BootLoader() const;
  bool BootLoaderDescriptorMode() const;         // byte 7 of the last LoadBootLoader
  std::vector<std::uint8_t> Descriptor() const;  // last WriteDescriptor; empty before
  std::array<std::uint8_t, 8> Version() const;   // identify bytes 4 to 11 now
  std::uint8_t Lun() const;                      // last LUN command's value
  bool Gone() const;

  // Knobs a test may turn while the device runs.
  void SetMedia(bool present);
  void SetFlashIds(const std::array<std::uint8_t, 8>& ids);
  void Disappear();
  void SetObserver(DeviceObserver* observer);
  void SetSerialSource(std::atomic<std::uint64_t>* source);

  // ASPI adapters ask this once per execute request: true when this one answers later.
  bool AnswerNextLater();

  // Writes each written bank as "<folder>/<name>-bank<N>.bin". Returns 0, or 1 when a file could
  // not be written.
  int DumpFlash(const std::string& folder) const;

 private:
  enum class ChunkMode { kNone, kChunks, kPages };
  // From ContextSwitch 0x01 to ContextSwitch 0x02.
  struct Session {
    bool active = false;
    bool loaderFirst = false;  // LoadBootLoader came before this session's ContextSwitch 0x01
    bool flashIdsRead = false;
    bool flashTypeSet = false;
    std::uint8_t bankCount = 0;  // SetFlashType byte 10
    std::uint8_t param = 0;      // SetFlashType byte 11
    ChunkMode mode = ChunkMode::kNone;
    std::uint32_t offset = 0;  // running write offset into the flash
    bool sequenceStarted = false;
    std::uint8_t nextSequence = 0;
    bool closed = false;  // the closing WriteChunk came
    std::uint8_t pageBankCount = 0;
    std::uint16_t pageLoaderLength = 0;
  };

  Result Dispatch(CommandKind kind, const std::uint8_t* cdb, Direction direction,
                  std::uint8_t* data, std::uint32_t length, Sense& sense);
  Result Inquiry(const std::uint8_t* cdb, std::uint8_t* data, std::uint32_t length);
  Result ReadCapacity(std::uint8_t* data, std::uint32_t length, Sense& sense);
  Result LoadBootLoader(const std::uint8_t* cdb, const std::uint8_t* data, std::uint32_t length);
  Result WriteChunk(const std::uint8_t* cdb, const std::uint8_t* data, std::uint32_t length);
  Result ReadBank(const std::uint8_t* cdb, std::uint8_t* data);
  Result EndSession();
  Result Violation(const std::string& text);
  bool FaultMatches(CommandKind kind) const;
  bool StoreAt(std::uint32_t offset, const std::uint8_t* data, std::uint32_t length);
  void FinishWrite();
  void FillReadBack(int bank, std::uint8_t* out) const;

  DeviceConfig config_;
  mutable std::recursive_mutex mutex_;
  DeviceObserver* observer_ = nullptr;
  std::atomic<std::uint64_t>* serialSource_ = nullptr;
  std::atomic<std::uint64_t> ownSerial_{0};

  std::vector<TraceEntry> trace_;
  std::vector<std::string> violations_;
  std::array<std::uint64_t, static_cast<int>(CommandKind::kAny)> kindCounts_{};
  std::uint64_t commandCount_ = 0;
  std::uint64_t currentIndex_ = 0;
  CommandKind currentKind_ = CommandKind::kUnknown;
  std::uint32_t pendingCount_ = 0;
  bool gone_ = false;

  std::vector<std::vector<std::uint8_t>> banks_;  // empty until written
  // The device's own working area, which shadows stored bytes on read back.
  int workBank_ = -1;
  std::uint32_t workLength_ = 0;
  std::vector<std::uint8_t> bootLoader_;
  bool loaderDescriptorMode_ = false;
  bool loaderPending_ = false;  // since the last ContextSwitch 0x01
  std::vector<std::uint8_t> descriptor_;
  std::uint8_t lun_ = 0;
  Session session_;
};

}  // namespace sim
