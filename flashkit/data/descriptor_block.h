#pragma once
#include <array>
#include <cstdint>
#include <string>

namespace flashkit {

inline constexpr std::size_t kDescriptorBlockSize = 512;
inline constexpr std::size_t kDescriptorHeadSize = 46;
inline constexpr std::size_t kSerialPrefixLength = 9;

using DescriptorBlock = std::array<std::uint8_t, kDescriptorBlockSize>;

// The USB identity strings a job reads from the configuration.
struct Identity {
  std::string vendorId;       // four hexadecimal digits, most significant first
  std::string productId;      // four hexadecimal digits, most significant first
  std::string productString;  // text
  std::string serialString;   // manufacturer + serial0 + serial
};

// First two characters read by the ParseHexDigits rule; 0 when either is missing or not hex.
std::uint8_t ParseHexPair(const std::string& text);

// Rewrites the whole block from the identity.
void BuildDescriptorBlock(const Identity& identity, DescriptorBlock& block);

// The next serial string: the tail after the ninth character counts up as a decimal number
// (non-digits count as 0, a carry out of the first tail character is dropped).
std::string NextSerialNumber(const std::string& serial);

}  // namespace flashkit
