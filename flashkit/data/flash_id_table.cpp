#include "flashkit/data/flash_id_table.h"

#include <new>

#include "flashkit/data/std_file.h"

namespace flashkit {
namespace {

constexpr int kTokensPerRecord = 5;
constexpr std::size_t kIdTokenChars = 2;

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

bool IsSpace(int c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
}

// Reads the next white-space separated token whole, keeping its first `keep` characters in
// `out` (zero-filled beyond them). Returns false at the end of the file.
bool ReadToken(std::FILE* file, char* out, std::size_t keep) {
  for (std::size_t i = 0; i < keep; ++i) out[i] = '\0';
  int c = std::fgetc(file);
  while (c != EOF && IsSpace(c)) c = std::fgetc(file);
  if (c == EOF) return false;
  std::size_t length = 0;
  while (c != EOF && !IsSpace(c)) {
    if (length < keep) out[length] = static_cast<char>(c);
    ++length;
    c = std::fgetc(file);
  }
  return true;
}

}  // namespace

std::uint8_t ParseHexDigits(char high, char low) {
  const int h = HexValue(high);
  const int l = HexValue(low);
  if (h < 0 || l < 0) return 0;
  return static_cast<std::uint8_t>(h * 16 + l);
}

int LoadFlashIdTable(FlashIdTable& table, const char* path) {
  table.records.clear();
  // "r+b" so that a write-protected file is refused like a missing one.
  UniqueFile file = OpenFile(path, "r+b");
  if (!file) return 0;

  for (;;) {
    char ids[4][kIdTokenChars] = {};
    FlashIdRecord record;
    bool complete = true;
    for (int token = 0; token < kTokensPerRecord && complete; ++token) {
      complete = token < 4 ? ReadToken(file.get(), ids[token], kIdTokenChars)
                           : ReadToken(file.get(), record.name.data(), kFlashNameLength);
    }
    // A file that ends inside a record: the partial record is dropped.
    if (!complete) break;
    record.makerId = ParseHexDigits(ids[0][0], ids[0][1]);
    record.deviceId = ParseHexDigits(ids[1][0], ids[1][1]);
    record.parameter = ParseHexDigits(ids[2][0], ids[2][1]);
    record.spare = ParseHexDigits(ids[3][0], ids[3][1]);
    // Out of memory ends the read with the records read so far; the file did open, so the
    // result stays 1 and a chip beyond that point reports as unknown flash.
    try {
      table.records.push_back(record);
    } catch (const std::bad_alloc&) {
      break;
    }
  }
  return 1;
}

void FreeFlashIdTable(FlashIdTable& table) { std::vector<FlashIdRecord>().swap(table.records); }

const FlashIdRecord* FindFlashIdRecord(const FlashIdTable& table, std::uint8_t makerId,
                                       std::uint8_t deviceId) {
  for (const FlashIdRecord& record : table.records) {
    if (record.makerId == makerId && record.deviceId == deviceId) return &record;
  }
  return nullptr;
}

}  // namespace flashkit
