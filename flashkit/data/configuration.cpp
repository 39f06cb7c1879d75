#include "flashkit/data/configuration.h"

#include <algorithm>
#include <array>

namespace flashkit {
namespace {

constexpr const char* kIdentitySection = "K4826";
constexpr const char* kFirmwareSection = "Firmware";
constexpr std::uint32_t kShortValue = 100;
constexpr std::uint32_t kPathValue = 260;
constexpr int kInitialDefault = 31;
constexpr int kKeepDescriptorBit = 0x40;

// One text key read with an empty default into a buffer of `size` characters; an empty
// result (key missing, value empty, file missing) gives `fallback`.
std::string ReadText(platform::Profile& profile, const std::string& path, const char* section,
                     const char* key, std::uint32_t size, const char* fallback) {
  std::array<char, kPathValue> buffer{};
  size = std::min(size, kPathValue);
  const std::uint32_t length = profile.GetString(section, key, "", buffer.data(), size, path);
  if (length == 0) return fallback;
  return std::string(buffer.data(), std::min<std::size_t>(length, size - 1));
}

bool ReadPath(platform::Profile& profile, const std::string& configurationPath, const char* key,
              std::string& path) {
  path = ReadText(profile, configurationPath, kFirmwareSection, key, kPathValue, "");
  return !path.empty();
}

std::size_t FolderLength(const std::string& path) {
  const std::size_t separator = path.find_last_of("\\/");
  return separator == std::string::npos ? 0 : separator + 1;
}

}  // namespace

std::string ConfigurationPathIn(const std::string& moduleFolder) {
  return moduleFolder + kConfigurationFileName;
}

std::string LogPathFor(const std::string& configurationPath) {
  return configurationPath.substr(0, FolderLength(configurationPath)) + kLogFileName;
}

Identity ReadIdentity(platform::Profile& profile, const std::string& configurationPath) {
  const std::string& p = configurationPath;
  Identity identity;
  identity.vendorId = ReadText(profile, p, kIdentitySection, "VID", kShortValue, "0402");
  identity.productId = ReadText(profile, p, kIdentitySection, "PID", kShortValue, "4826");
  const std::string manufacturer =
      ReadText(profile, p, kIdentitySection, "manufacturer", kShortValue, "12345");
  const std::string serial0 =
      ReadText(profile, p, kIdentitySection, "serial0", kShortValue, "0001");
  const std::string serial =
      ReadText(profile, p, kIdentitySection, "serial", kShortValue, "01234567890");
  identity.productString =
      ReadText(profile, p, kIdentitySection, "descriptor", kPathValue, "USB 2.0 Storage Device");
  identity.serialString = manufacturer + serial0 + serial;
  return identity;
}

bool ReadFirmwarePath(platform::Profile& profile, const std::string& configurationPath,
                      std::string& path) {
  return ReadPath(profile, configurationPath, "Firmware", path);
}

bool ReadBootloaderPath(platform::Profile& profile, const std::string& configurationPath,
                        std::string& path) {
  return ReadPath(profile, configurationPath, "Bootloader", path);
}

int ReadPlaceDescriptor(platform::Profile& profile, const std::string& configurationPath) {
  const int initial =
      profile.GetInt(kIdentitySection, "initial", kInitialDefault, configurationPath);
  return (initial & kKeepDescriptorBit) != 0 ? 0 : 1;
}

void WriteBackSerial(platform::Profile& profile, const std::string& configurationPath,
                     const std::string& serialString) {
  // A serial string of nine characters or fewer has no running number to store.
  if (serialString.size() <= kSerialPrefixLength) return;
  profile.WriteString(kIdentitySection, "serial", serialString.substr(kSerialPrefixLength),
                      configurationPath);
}

}  // namespace flashkit
