#include "flashkit/device/scsi_commands.h"

namespace flashkit {

VendorCommand InquiryCommand() {
  VendorCommand command{};
  command[0] = kInquiryOpcode;
  command[4] = kInquiryLength;
  return command;
}

VendorCommand IdentifyCommand() {
  VendorCommand command{};
  for (std::size_t i = 0; i < kVendorSignature.size(); ++i) command[i] = kVendorSignature[i];
  command[5] = kIdentifyOpcode;
  command[6] = kIdentifySubcode;
  return command;
}

bool IsK4826IdentifyAnswer(const std::uint8_t* answer) {
  // Vendor ID 0x0402 and the product IDs, low byte first.
  if (answer[0] != 0x02 || answer[1] != 0x04) return false;
  if (answer[2] != 0x25 && answer[2] != 0x26 && answer[2] != 0x61) return false;
  return answer[3] == 0x48;
}

}  // namespace flashkit
