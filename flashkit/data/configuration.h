#pragma once
#include <string>

#include "flashkit/data/descriptor_block.h"
#include "platform/profile.h"

namespace flashkit {

inline constexpr const char* kConfigurationFileName = "K4826.ini";
inline constexpr const char* kLogFileName = "K4826.log";

// `moduleFolder` (ending with its separator) followed by "K4826.ini".
std::string ConfigurationPathIn(const std::string& moduleFolder);
// The configuration path with "K4826.ini" replaced by "K4826.log".
std::string LogPathFor(const std::string& configurationPath);

// [K4826] VID, PID, manufacturer, serial0, serial, descriptor with their defaults; an empty
// value counts as missing.
Identity ReadIdentity(platform::Profile& profile, const std::string& configurationPath);
// [Firmware] Firmware / Bootloader (260 characters). False when missing or empty.
bool ReadFirmwarePath(platform::Profile& profile, const std::string& configurationPath,
                      std::string& path);
bool ReadBootloaderPath(platform::Profile& profile, const std::string& configurationPath,
                        std::string& path);
// 1 when bit 0x40 of [K4826] initial (default 31) is clear, 0 when it is set.
int ReadPlaceDescriptor(platform::Profile& profile, const std::string& configurationPath);
// [K4826] serial = the serial string from its tenth character on. A serial string of nine
// characters or fewer has no running number and writes nothing.
void WriteBackSerial(platform::Profile& profile, const std::string& configurationPath,
                     const std::string& serialString);

}  // namespace flashkit
