#pragma once
// Commands as the library and the tray tool send them, for driving a simulated device directly.
#include <array>
#include <cstdint>
#include <vector>

#include "sim/device.h"

namespace simtest {

using Cdb = std::array<std::uint8_t, 12>;

inline Cdb Vendor(std::uint8_t op, std::uint8_t sub, std::uint8_t b7 = 0, std::uint8_t b8 = 0,
                  std::uint8_t b9 = 0, std::uint8_t b10 = 0, std::uint8_t b11 = 0) {
  return {0xF5, 0x41, 0x50, 0x49, 0x58, op, sub, b7, b8, b9, b10, b11};
}

inline Cdb Inquiry() { return {0x12, 0, 0, 0, 0x24, 0, 0, 0, 0, 0, 0, 0}; }
inline Cdb Identify() { return Vendor(0xB3, 0x0C); }
inline Cdb ContextSwitch(std::uint8_t which) { return Vendor(0xE1, which); }
inline Cdb LoadBootLoader(std::uint16_t length, bool descriptorMode = false) {
  return Vendor(0xE3, 0x01, descriptorMode ? 1 : 0, static_cast<std::uint8_t>(length >> 8),
                static_cast<std::uint8_t>(length));
}
inline Cdb ReadFlashIds() { return Vendor(0xE2, 0x04); }
inline Cdb SetFlashType(std::uint8_t banks, std::uint8_t param) {
  return Vendor(0xE2, 0x05, 0, 0, 0, banks, param);
}
inline Cdb Chunk(std::uint8_t bank, std::uint8_t sequence, std::uint8_t param) {
  return Vendor(0xE2, 0x01, 0x04, 0x00, bank, sequence, param);
}
inline Cdb Page(std::uint16_t loaderLength, std::uint8_t banks, std::uint8_t sequence) {
  return Vendor(0xE2, 0x01, static_cast<std::uint8_t>(loaderLength >> 8),
                static_cast<std::uint8_t>(loaderLength), banks, sequence);
}
inline Cdb ReadBank(std::uint8_t bank) { return Vendor(0xE2, 0x02, 0, bank); }

// A host driving one device.
struct Host {
  sim::Device& device;

  sim::Result None(const Cdb& cdb) {
    return device.Execute(cdb.data(), sim::Direction::kNone, nullptr, 0);
  }
  sim::Result Out(const Cdb& cdb, const std::vector<std::uint8_t>& data) {
    std::vector<std::uint8_t> copy = data;
    return device.Execute(cdb.data(), sim::Direction::kToDevice, copy.data(),
                          static_cast<std::uint32_t>(copy.size()));
  }
  sim::Result In(const Cdb& cdb, std::vector<std::uint8_t>& data) {
    return device.Execute(cdb.data(), sim::Direction::kFromDevice, data.data(),
                          static_cast<std::uint32_t>(data.size()));
  }
};

// A recognisable image: every byte depends on its offset, with a version stamp at the end of
// the last bank.
inline std::vector<std::uint8_t> MakeImage(int banks, std::uint8_t major, std::uint8_t minor) {
  std::vector<std::uint8_t> image(static_cast<std::size_t>(banks) * sim::kBankSize);
  for (std::size_t i = 0; i < image.size(); ++i) {
    image[i] = static_cast<std::uint8_t>((i * 7 + (i >> 8) * 13) & 0xFF);
  }
  image[image.size() - 4] = minor;
  image[image.size() - 3] = major;
  return image;
}

}  // namespace simtest
