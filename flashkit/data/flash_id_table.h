#pragma once
#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace flashkit {

inline constexpr std::size_t kFlashNameLength = 20;

struct FlashIdRecord {
  std::uint8_t makerId = 0;
  std::uint8_t deviceId = 0;
  std::uint8_t parameter = 0;                 // handed to the device once the flash is identified
  std::uint8_t spare = 0;                     // kept, not used
  std::array<char, kFlashNameLength> name{};  // zero-padded; no terminator when it is full
};

// The flash chips the kit supports, in file order.
struct FlashIdTable {
  std::vector<FlashIdRecord> records;
};

// Two hexadecimal digits, high first; 0 if either is not a hexadecimal digit.
std::uint8_t ParseHexDigits(char high, char low);

// Reads the table from `path` ("flashid.dat" in the current directory by default), opened for
// reading and writing so that a write-protected file counts as missing. Returns 1 when the
// file was opened (whether or not it held records), 0 otherwise (the table is left empty).
int LoadFlashIdTable(FlashIdTable& table, const char* path = "flashid.dat");

// Releases every record.
void FreeFlashIdTable(FlashIdTable& table);

// First record in file order with both IDs equal, or null.
const FlashIdRecord* FindFlashIdRecord(const FlashIdTable& table, std::uint8_t makerId,
                                       std::uint8_t deviceId);

}  // namespace flashkit
