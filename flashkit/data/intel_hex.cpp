#include "flashkit/data/intel_hex.h"

#include <algorithm>
#include <memory>
#include <new>

#include "flashkit/data/std_file.h"

namespace flashkit {
namespace {

constexpr std::uint8_t kDataRecord = 0x00;
constexpr std::uint8_t kEndRecord = 0x01;
constexpr std::uint8_t kEndChecksum = 0xFF;

int HexValue(int c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

// A record ends with a line feed; a carriage return before it is accepted so that CR LF
// files read the same on systems whose text mode does not translate them.
bool ReadLineEnd(std::FILE* file) {
  int c = std::fgetc(file);
  if (c == '\r') c = std::fgetc(file);
  return c == '\n';
}

}  // namespace

void SplitFileName(const std::string& path, std::string& name, std::string& extension) {
  const std::size_t period = path.rfind('.');
  if (period == std::string::npos || path.find_first_of("\\/", period + 1) != std::string::npos) {
    name = path;
    return;
  }
  name = path.substr(0, period);
  extension = path.substr(period + 1);
}

bool ReadHexByte(std::FILE* file, std::uint8_t& byte) {
  const int high = HexValue(std::fgetc(file));
  const int low = HexValue(std::fgetc(file));
  byte = static_cast<std::uint8_t>((high < 0 ? 0 : high) * 16 + (low < 0 ? 0 : low));
  return high >= 0 && low >= 0;
}

std::uint8_t ReadHexByte(std::FILE* file) {
  std::uint8_t byte = 0;
  ReadHexByte(file, byte);
  return byte;
}

int ReadHexImage(std::FILE* file, std::uint32_t base, std::uint32_t limit, std::uint8_t* buffer) {
  if (std::fgetc(file) != ':') return 1;
  for (;;) {
    // A character that is not a hexadecimal digit rejects the file at once instead of
    // leaving it to the checksum, which a bad byte can pass by chance.
    std::uint8_t header[4];
    for (std::uint8_t& byte : header) {
      if (!ReadHexByte(file, byte)) return 1;
    }
    const std::uint8_t length = header[0];
    const std::uint8_t type = header[3];
    std::uint8_t sum = static_cast<std::uint8_t>(header[0] + header[1] + header[2] + header[3]);

    if (type == kEndRecord) {
      std::uint8_t checksum = 0;
      if (!ReadHexByte(file, checksum)) return 1;
      return length == 0 && checksum == kEndChecksum ? 0 : 1;
    }
    if (type != kDataRecord) return 1;

    const std::uint32_t address = header[1] * 256u + header[2];
    for (std::uint32_t i = 0; i < length; ++i) {
      std::uint8_t data = 0;
      if (!ReadHexByte(file, data)) return 1;
      sum = static_cast<std::uint8_t>(sum + data);
      if (address + i < limit) buffer[base + address + i] = data;
    }
    std::uint8_t checksum = 0;
    if (!ReadHexByte(file, checksum)) return 1;
    if (static_cast<std::uint8_t>(sum + checksum) != 0) return 1;
    if (!ReadLineEnd(file)) return 1;
    if (std::fgetc(file) != ':') return 1;
  }
}

int ConvertHexToBanks(const std::vector<std::string>& inputs, const std::string& output) {
  UniqueFile out = OpenFile(output.c_str(), "wb");
  if (!out) return 1;
  // One bank buffer serves every file of the conversion.
  std::unique_ptr<std::uint8_t[]> bank(new (std::nothrow) std::uint8_t[kBankSize]);
  if (!bank) return 1;

  for (const std::string& input : inputs) {
    UniqueFile in = OpenFile(input.c_str(), "r");
    if (!in) return 1;
    std::fill_n(bank.get(), kBankSize, std::uint8_t{0});
    if (ReadHexImage(in.get(), 0, kBankSize, bank.get()) != 0) return 1;
    // A short write (a full disk) must not pass for a converted image.
    if (std::fwrite(bank.get(), 1, kBankSize, out.get()) != kBankSize) return 1;
  }
  return std::fclose(out.release()) == 0 ? 0 : 1;
}

}  // namespace flashkit
