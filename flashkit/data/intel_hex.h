#pragma once
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace flashkit {

inline constexpr std::size_t kBankSize = 65536;

// Splits `path` at its last period into name and extension (without the period). When there
// is no period, or a path separator ('\\' or '/') follows it (the period belongs to a folder),
// `name` gets the whole path and `extension` is left as it was.
void SplitFileName(const std::string& path, std::string& name, std::string& extension);

// The byte spelled by the next two characters of `file` (a character that is not a
// hexadecimal digit counts as 0).
std::uint8_t ReadHexByte(std::FILE* file);
// The same, reporting false when either character is not a hexadecimal digit (or the file
// ended); `byte` is then the value the one-argument form returns.
bool ReadHexByte(std::FILE* file, std::uint8_t& byte);

// Reads Intel HEX records from `file` into `buffer` at base + address, dropping bytes whose
// address is at or above `limit`. Returns 0 when the end record was reached, 1 when the file
// is not acceptable (also when a non-hexadecimal character stands where a byte is expected).
int ReadHexImage(std::FILE* file, std::uint32_t base, std::uint32_t limit, std::uint8_t* buffer);

// Converts each HEX file to one 64 KiB bank, in list order, into the binary file `output`
// (created or emptied). Returns 0 on success, 1 on failure: an input that cannot be opened or
// read, no memory for the bank buffer, or a bank that cannot be written in full (the output
// then holds the banks completed before the failure).
int ConvertHexToBanks(const std::vector<std::string>& inputs, const std::string& output);

}  // namespace flashkit
