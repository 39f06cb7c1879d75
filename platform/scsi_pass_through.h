#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "platform/handle.h"

namespace platform {

// The pass-through request area as the Windows NT family defines it for 32-bit programs:
// SCSI_PASS_THROUGH (buffered) and SCSI_PASS_THROUGH_DIRECT share these offsets.
namespace pass_through {
inline constexpr std::uint32_t kIoctlPassThrough = 0x4D004;        // buffered: data inside the area
inline constexpr std::uint32_t kIoctlPassThroughDirect = 0x4D014;  // direct: the caller's buffer
inline constexpr std::size_t kStructSize = 44;
inline constexpr std::size_t kOffLength = 0;               // USHORT
inline constexpr std::size_t kOffScsiStatus = 2;           // UCHAR
inline constexpr std::size_t kOffPathId = 3;               // UCHAR
inline constexpr std::size_t kOffTargetId = 4;             // UCHAR
inline constexpr std::size_t kOffLun = 5;                  // UCHAR
inline constexpr std::size_t kOffCdbLength = 6;            // UCHAR
inline constexpr std::size_t kOffSenseInfoLength = 7;      // UCHAR
inline constexpr std::size_t kOffDataIn = 8;               // UCHAR
inline constexpr std::size_t kOffDataTransferLength = 12;  // ULONG
inline constexpr std::size_t kOffTimeOutValue = 16;        // ULONG, seconds
inline constexpr std::size_t kOffDataBuffer = 20;          // ULONG_PTR offset, or PVOID (direct)
inline constexpr std::size_t kOffSenseInfoOffset = 24;     // ULONG
inline constexpr std::size_t kOffCdb = 28;                 // UCHAR[16]
inline constexpr std::size_t kSenseOffset = 48;
inline constexpr std::size_t kSenseLength = 24;
inline constexpr std::size_t kDataOffset = 80;
inline constexpr std::size_t kMaxData = 65536;
inline constexpr std::size_t kReadAreaSize = kDataOffset + kMaxData;  // 65,616
inline constexpr std::size_t kWriteAreaSize = kDataOffset;            // 80
inline constexpr std::uint8_t kDataOut = 0;                           // SCSI_IOCTL_DATA_OUT
inline constexpr std::uint8_t kDataInFlag = 1;                        // SCSI_IOCTL_DATA_IN
}  // namespace pass_through

// Drives and SCSI pass-through requests on them.
class ScsiPassThrough {
 public:
  virtual ~ScsiPassThrough() = default;
  // Device paths of the drives discovery probes, in probing order:
  // "\\.\D:" to "\\.\Z:" on Windows, the SCSI generic nodes on Linux.
  virtual std::vector<std::string> CandidateDrives() = 0;
  // Opens a drive for reading and writing, shared for both. Returns null on failure.
  virtual Handle OpenDrive(const std::string& path) = 0;
  // Closes a handle returned by OpenDrive. A null handle is ignored.
  virtual void CloseDrive(Handle drive) = 0;
  // DeviceIoControl with a request area in the layout above: `inSize` bytes go in, `outSize`
  // bytes of the same area come back. For a direct request `directData` is the data buffer that
  // the DataBuffer field points at (null when the length is 0); the field itself holds the
  // address as the 32-bit structure does (on wider hosts its low half). Buffered requests pass
  // null.
  // Runs synchronously. Returns 0 when the request itself succeeded, otherwise the system error
  // code (never 0). The SCSI status and sense bytes are not judged here.
  virtual std::uint32_t IoControl(Handle drive, std::uint32_t code, std::uint8_t* area,
                                  std::uint32_t inSize, std::uint32_t outSize,
                                  void* directData) = 0;
};

}  // namespace platform
