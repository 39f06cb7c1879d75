#pragma once
#include <cstdint>
#include <string>

namespace platform {

// Profile (INI) files with the Windows rules: section and key names without regard to case,
// the default when nothing is read, values cut at the buffer size less one.
class Profile {
 public:
  virtual ~Profile() = default;
  // GetPrivateProfileStringA for one key: copies the value (or `fallback`) into `buffer` of
  // `size` characters, always terminated when size > 0. Returns the number of characters copied,
  // without the terminator.
  virtual std::uint32_t GetString(const std::string& section, const std::string& key,
                                  const std::string& fallback, char* buffer, std::uint32_t size,
                                  const std::string& path) = 0;
  // GetPrivateProfileIntA: the value read as the platform's integer reader does ("12abc" is 12,
  // "0x10" is 16, "abc" is 0), `fallback` when the key is missing or empty.
  virtual int GetInt(const std::string& section, const std::string& key, int fallback,
                     const std::string& path) = 0;
  // WritePrivateProfileStringA: sets one key, creating file and section as needed. The file is
  // replaced as a whole so that a crash never leaves it half written. Returns true on success.
  virtual bool WriteString(const std::string& section, const std::string& key,
                           const std::string& value, const std::string& path) = 0;
};

}  // namespace platform
