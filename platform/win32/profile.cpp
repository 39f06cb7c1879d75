#include "platform/win32/win32.h"
#include "platform/win32/win32_ports.h"

namespace platform::win32 {

std::uint32_t Win32Profile::GetString(const std::string& section, const std::string& key,
                                      const std::string& fallback, char* buffer, std::uint32_t size,
                                      const std::string& path) {
  if (!buffer || size == 0) return 0;
  return GetPrivateProfileStringA(section.c_str(), key.c_str(), fallback.c_str(), buffer, size,
                                  path.c_str());
}

int Win32Profile::GetInt(const std::string& section, const std::string& key, int fallback,
                         const std::string& path) {
  return static_cast<int>(
      GetPrivateProfileIntA(section.c_str(), key.c_str(), fallback, path.c_str()));
}

bool Win32Profile::WriteString(const std::string& section, const std::string& key,
                               const std::string& value, const std::string& path) {
  return WritePrivateProfileStringA(section.c_str(), key.c_str(), value.c_str(), path.c_str()) !=
         FALSE;
}

}  // namespace platform::win32
