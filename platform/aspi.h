#pragma once
#include <cstdint>

#include "platform/handle.h"

namespace platform {

// ASPI for Win32 request blocks, byte-packed as the WNASPI32 layer expects them. The pointer
// fields are 4 bytes in the 32-bit product; host builds carry native pointers in the same order.
namespace aspi {
inline constexpr std::uint8_t kScHaInquiry = 0x00;
inline constexpr std::uint8_t kScGetDevType = 0x01;
inline constexpr std::uint8_t kScExecScsiCmd = 0x02;
inline constexpr std::uint8_t kSsPending = 0x00;
inline constexpr std::uint8_t kSsComp = 0x01;
inline constexpr std::uint8_t kSsErr = 0x04;
inline constexpr std::uint8_t kSsInvalidHa = 0x81;
inline constexpr std::uint8_t kSsNoDevice = 0x82;
inline constexpr std::uint8_t kSrbDirIn = 0x08;
inline constexpr std::uint8_t kSrbDirOut = 0x10;
inline constexpr std::uint8_t kSrbEventNotify = 0x40;
inline constexpr std::uint8_t kSenseLen = 14;

#pragma pack(push, 1)
struct SrbHaInquiry {  // 60 bytes
  std::uint8_t cmd;
  std::uint8_t status;
  std::uint8_t haId;
  std::uint8_t flags;
  std::uint32_t hdrRsvd;
  std::uint8_t haCount;
  std::uint8_t haScsiId;
  std::uint8_t haManagerId[16];
  std::uint8_t haIdentifier[16];
  std::uint8_t haUnique[16];  // byte 3: number of targets
  std::uint16_t haRsvd1;
};

struct SrbGetDevType {  // 12 bytes
  std::uint8_t cmd;
  std::uint8_t status;
  std::uint8_t haId;
  std::uint8_t flags;
  std::uint32_t hdrRsvd;
  std::uint8_t target;
  std::uint8_t lun;
  std::uint8_t deviceType;
  std::uint8_t rsvd1;
};

struct SrbExecScsiCmd {  // 80 bytes in the 32-bit product
  std::uint8_t cmd;
  std::uint8_t status;
  std::uint8_t haId;
  std::uint8_t flags;
  std::uint32_t hdrRsvd;
  std::uint8_t target;
  std::uint8_t lun;
  std::uint16_t rsvd1;
  std::uint32_t bufLen;
  std::uint8_t* bufPointer;
  std::uint8_t senseLen;
  std::uint8_t cdbLen;
  std::uint8_t haStat;
  std::uint8_t targStat;
  void* postProc;  // completion event when kSrbEventNotify is set
  std::uint8_t rsvd2[20];
  std::uint8_t cdb[16];
  std::uint8_t senseArea[kSenseLen + 2];
};
#pragma pack(pop)

static_assert(sizeof(SrbHaInquiry) == 60);
static_assert(sizeof(SrbGetDevType) == 12);
static_assert(sizeof(void*) != 4 || sizeof(SrbExecScsiCmd) == 80);
}  // namespace aspi

// The WNASPI32 layer, loaded by name on Windows 98/Me.
class AspiLayer {
 public:
  virtual ~AspiLayer() = default;
  // Loads "WNASPI32" and finds GetASPI32SupportInfo and SendASPI32Command.
  // Returns true when the library and both entry points are there; false leaves nothing loaded.
  virtual bool Load() = 0;
  // Releases the library if it is loaded; otherwise does nothing.
  virtual void Unload() = 0;
  // GetASPI32SupportInfo: bits 8 to 15 status (SS_COMP when ASPI works), bits 0 to 7 the number
  // of host adapters. Only valid after a successful Load.
  virtual std::uint32_t GetSupportInfo() = 0;
  // SendASPI32Command with one request block. Inquiry and device-type requests complete before
  // it returns; an execute request may return with status SS_PENDING and complete later, then
  // signalling the event in postProc when kSrbEventNotify is set. Returns the block's status.
  virtual std::uint32_t SendCommand(void* srb) = 0;
};

}  // namespace platform
