#pragma once
#include <scsi/sg.h>

#include <cstdint>
#include <string>
#include <vector>

#include "platform/scsi_pass_through.h"

namespace platform {

// Environment variable with the exact list of nodes to probe, colon-separated.
inline constexpr const char* kSgDevicesVariable = "FLASHKIT_SG_DEVICES";

// The pass-through carriers over the SG_IO ioctl of SCSI generic nodes.
class SgPassThrough : public ScsiPassThrough {
 public:
  // The nodes in FLASHKIT_SG_DEVICES when it is set (empty items skipped), otherwise
  // /dev/sg0, /dev/sg1, ... in numeric order.
  std::vector<std::string> CandidateDrives() override;
  // open(O_RDWR | O_NONBLOCK). Null on failure.
  Handle OpenDrive(const std::string& path) override;
  void CloseDrive(Handle drive) override;
  // Decodes the request area into one SG_IO call. Returns 0 when the command was carried out
  // (whatever its SCSI status), otherwise an errno value: EINVAL for a request that does not
  // fit its area, ENOTTY for an unknown code, the ioctl's errno, or EIO / ETIMEDOUT when the
  // host adapter or driver status says the command did not complete.
  std::uint32_t IoControl(Handle drive, std::uint32_t code, std::uint8_t* area,
                          std::uint32_t inSize, std::uint32_t outSize, void* directData) override;
};

// The list CandidateDrives takes from a FLASHKIT_SG_DEVICES value.
std::vector<std::string> ParseSgDeviceList(const std::string& value);
// "<folder>/sgN" for every entry of `folder` named sg followed by digits, in numeric order.
std::vector<std::string> SgNodesIn(const std::string& folder);

// Fills `header` from a pass-through request area (layout in platform/scsi_pass_through.h).
// Returns 0, or EINVAL / ENOTTY when the request cannot be carried as it stands.
std::uint32_t DecodePassThrough(std::uint32_t code, std::uint8_t* area, std::uint32_t inSize,
                                std::uint32_t outSize, void* directData, sg_io_hdr_t& header);
// After the ioctl: 0 when the command was carried out, otherwise EIO or ETIMEDOUT. The SCSI
// status byte is not judged, as on Windows.
std::uint32_t JudgeSgResult(const sg_io_hdr_t& header);
// Writes the outcome back as Windows does: ScsiStatus, SenseInfoLength (bytes of sense
// returned) and DataTransferLength (bytes actually moved).
void StoreSgResult(const sg_io_hdr_t& header, std::uint8_t* area);

}  // namespace platform
