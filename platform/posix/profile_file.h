#pragma once
// Profile (INI) files in portable standard C++, for systems without the Windows profile
// functions. Wine's profile functions are the reference for the reading rules; the same
// source is compiled into a Win32 test program that compares the two.
#include <cstdint>
#include <string>

#include "platform/profile.h"

namespace platform {

class ProfileFile : public Profile {
 public:
  // Reads the file afresh on every call, as the Windows functions appear to the caller: the
  // first section whose name matches (without regard to case) is the only one searched, and
  // in it the first matching key; spaces around the value and one pair of surrounding quotes
  // (" or ') are removed. The default loses trailing blanks and surrounding quotes likewise.
  std::uint32_t GetString(const std::string& section, const std::string& key,
                          const std::string& fallback, char* buffer, std::uint32_t size,
                          const std::string& path) override;
  // The value (cut at 29 characters, as GetPrivateProfileIntA reads it) as a C-style integer
  // with an optional sign: decimal, "0x" hexadecimal, "0o" octal or "0b" binary, read up to
  // the first character that is not a digit; 32-bit wrap-around.
  int GetInt(const std::string& section, const std::string& key, int fallback,
             const std::string& path) override;
  // Replaces the key's value in the first matching section (or adds the key at the end of that
  // section, or the section at the end of the file), keeping every other line, comment and line
  // end as it was. The new file is written beside the old one and renamed over it. Refuses
  // (returns false) names or values that would break the line structure.
  bool WriteString(const std::string& section, const std::string& key, const std::string& value,
                   const std::string& path) override;
};

// The integer rule of GetInt applied to a string.
std::int32_t ParseProfileInt(const std::string& text);

}  // namespace platform
