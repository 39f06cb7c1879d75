#pragma once
#include <cstddef>
#include <cstdint>

namespace flashkit {

// Little-endian fields of the platform's request structures.
inline void PutU16(std::uint8_t* at, std::size_t offset, std::uint16_t value) {
  at[offset] = static_cast<std::uint8_t>(value);
  at[offset + 1] = static_cast<std::uint8_t>(value >> 8);
}

inline void PutU32(std::uint8_t* at, std::size_t offset, std::uint32_t value) {
  for (int i = 0; i < 4; ++i) at[offset + i] = static_cast<std::uint8_t>(value >> (8 * i));
}

inline std::uint32_t GetU32(const std::uint8_t* at, std::size_t offset) {
  std::uint32_t value = 0;
  for (int i = 3; i >= 0; --i) value = (value << 8) | at[offset + i];
  return value;
}

}  // namespace flashkit
