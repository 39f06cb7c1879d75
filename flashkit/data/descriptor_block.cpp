#include "flashkit/data/descriptor_block.h"

#include <algorithm>

#include "flashkit/data/flash_id_table.h"

namespace flashkit {
namespace {

constexpr std::size_t kProductOffset = 4;
constexpr std::size_t kProductLength = 22;
constexpr std::size_t kSerialOffset = 26;
constexpr std::size_t kSerialLength = 20;

// ParseHexPair of `text` from character `from` on; 0 when the pair lies beyond its end.
std::uint8_t PairAt(const std::string& text, std::size_t from) {
  return from < text.size() ? ParseHexPair(text.substr(from)) : 0;
}

void CopyField(const std::string& text, std::size_t length, std::uint8_t* field) {
  const std::size_t count = std::min(text.size(), length);
  std::copy_n(text.begin(), count, field);
}

}  // namespace

std::uint8_t ParseHexPair(const std::string& text) {
  if (text.size() < 2) return 0;
  return ParseHexDigits(text[0], text[1]);
}

void BuildDescriptorBlock(const Identity& identity, DescriptorBlock& block) {
  block.fill(0);
  // The IDs stand in little-endian order.
  block[0] = PairAt(identity.vendorId, 2);
  block[1] = PairAt(identity.vendorId, 0);
  block[2] = PairAt(identity.productId, 2);
  block[3] = PairAt(identity.productId, 0);
  CopyField(identity.productString, kProductLength, block.data() + kProductOffset);
  CopyField(identity.serialString, kSerialLength, block.data() + kSerialOffset);
}

std::string NextSerialNumber(const std::string& serial) {
  if (serial.size() <= kSerialPrefixLength) return serial;
  std::string next = serial;
  int carry = 1;
  for (std::size_t i = next.size(); i-- > kSerialPrefixLength;) {
    const char c = next[i];
    int digit = c >= '0' && c <= '9' ? c - '0' : 0;
    if (carry != 0) {
      if (digit == 9) {
        digit = 0;
      } else {
        ++digit;
        carry = 0;
      }
    }
    next[i] = static_cast<char>('0' + digit);
  }
  return next;
}

}  // namespace flashkit
