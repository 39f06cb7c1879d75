#pragma once
#include <array>
#include <cstdint>

namespace flashkit {

inline constexpr std::size_t kCommandBlockSize = 16;  // what the caller fills
inline constexpr std::uint8_t kCommandLength = 12;    // what reaches the device
using VendorCommand = std::array<std::uint8_t, kCommandBlockSize>;

inline constexpr std::uint8_t kInquiryOpcode = 0x12;
inline constexpr std::uint8_t kInquiryLength = 36;
inline constexpr std::uint8_t kInquiryCdbLength = 6;
inline constexpr std::uint32_t kInquiryTimeoutSeconds = 2;
inline constexpr std::size_t kInquiryFormatByte = 3;  // low four bits: response data format
inline constexpr std::uint8_t kInquiryFormatExpected = 1;

// Vendor commands start with 0xF5 and the letters A, P, I, X.
inline constexpr std::array<std::uint8_t, 5> kVendorSignature = {0xF5, 0x41, 0x50, 0x49, 0x58};
inline constexpr std::uint8_t kIdentifyOpcode = 0xB3;
inline constexpr std::uint8_t kIdentifySubcode = 0x0C;
inline constexpr std::uint32_t kIdentifyLength = 12;
inline constexpr std::uint32_t kVendorTimeoutSeconds = 100;

// The INQUIRY command block (allocation length 36).
VendorCommand InquiryCommand();
// The identify command block, signature included.
VendorCommand IdentifyCommand();
// True when an identify answer names a K4826: vendor 0x0402, product 0x4825, 0x4826 or 0x4861.
bool IsK4826IdentifyAnswer(const std::uint8_t* answer);

}  // namespace flashkit
