#pragma once
#include <cstdint>
#include <string>

namespace platform {

// Platform ids as GetVersionExA reports them.
inline constexpr std::uint32_t kPlatformWindows9x = 1;  // VER_PLATFORM_WIN32_WINDOWS
inline constexpr std::uint32_t kPlatformWindowsNt = 2;  // VER_PLATFORM_WIN32_NT

struct OsVersion {
  std::uint32_t platformId = 0;
  std::uint32_t major = 0;
  std::uint32_t minor = 0;
};

class SystemInfo {
 public:
  virtual ~SystemInfo() = default;
  // Fills `version`. Returns true on success, false when the system would not say.
  // Linux reports itself as the NT family: it offers SCSI pass-through, not ASPI.
  virtual bool QueryOsVersion(OsVersion& version) = 0;
  // Folder of the library's own module file, ending with its separator ('\\' or '/').
  // Returns an empty string when the module path cannot be found.
  virtual std::string ModuleFolder() = 0;
};

}  // namespace platform
