#include "sim/config.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <fstream>
#include <sstream>

namespace sim {

namespace {

std::string Lower(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

// Splits a line into words; a double-quoted word may hold spaces; '#' outside quotes starts a
// comment. Returns false for an unterminated quote.
bool SplitWords(std::string_view line, std::vector<std::string>& words) {
  std::size_t i = 0;
  while (i < line.size()) {
    const char c = line[i];
    if (c == ' ' || c == '\t' || c == '\r') {
      ++i;
    } else if (c == '#') {
      break;
    } else if (c == '"') {
      const std::size_t end = line.find('"', i + 1);
      if (end == std::string_view::npos) return false;
      words.emplace_back(line.substr(i + 1, end - i - 1));
      i = end + 1;
    } else {
      std::size_t end = i;
      while (end < line.size() && line[end] != ' ' && line[end] != '\t' && line[end] != '\r' &&
             line[end] != '#') {
        ++end;
      }
      words.emplace_back(line.substr(i, end - i));
      i = end;
    }
  }
  return true;
}

// A count or offset: decimal, or hexadecimal after "0x".
bool ParseNumber(const std::string& word, std::uint64_t max, std::uint64_t& value) {
  int base = 10;
  std::string digits = word;
  if (digits.size() > 2 && digits[0] == '0' && (digits[1] == 'x' || digits[1] == 'X')) {
    base = 16;
    digits = digits.substr(2);
  }
  if (digits.empty() || digits.size() > 16) return false;
  value = 0;
  for (char c : digits) {
    const int d = std::isdigit(static_cast<unsigned char>(c))
                      ? c - '0'
                      : (base == 16 && std::isxdigit(static_cast<unsigned char>(c))
                             ? std::tolower(static_cast<unsigned char>(c)) - 'a' + 10
                             : -1);
    if (d < 0) return false;
    value = value * static_cast<std::uint64_t>(base) + static_cast<std::uint64_t>(d);
    if (value > max) return false;
  }
  return true;
}

// An ID or byte: hexadecimal, with or without "0x".
bool ParseHex(const std::string& word, std::uint64_t max, std::uint64_t& value) {
  const bool prefixed = word.size() > 2 && word[0] == '0' && (word[1] == 'x' || word[1] == 'X');
  return ParseNumber(prefixed ? word : "0x" + word, max, value);
}

struct Parser {
  BusConfig config;
  std::vector<int> deviceLines;  // line of each device's header
  std::vector<bool> placed;
  std::string error;
  int line = 0;

  bool Fail(const std::string& text) {
    error = "line " + std::to_string(line) + ": " + text;
    return false;
  }

  bool ParseBytes(const std::vector<std::string>& words, std::array<std::uint8_t, 8>& out) {
    if (words.size() != 9) return Fail("'" + words[0] + "' takes 8 hexadecimal bytes");
    for (std::size_t i = 0; i < 8; ++i) {
      std::uint64_t value = 0;
      if (!ParseHex(words[i + 1], 0xFF, value)) return Fail("'" + words[i + 1] + "' is no byte");
      out[i] = static_cast<std::uint8_t>(value);
    }
    return true;
  }

  bool ParseYesNo(const std::vector<std::string>& words, bool& out) {
    const std::string value = words.size() == 2 ? Lower(words[1]) : "";
    if (value == "yes") {
      out = true;
    } else if (value == "no") {
      out = false;
    } else {
      return Fail("'" + words[0] + "' takes yes or no");
    }
    return true;
  }

  bool ParseOne(const std::vector<std::string>& words, std::uint64_t max, bool hex,
                std::uint64_t& value) {
    if (words.size() != 2) return Fail("'" + words[0] + "' takes one value");
    if (!(hex ? ParseHex(words[1], max, value) : ParseNumber(words[1], max, value))) {
      return Fail("'" + words[1] + "' is not a valid value for '" + words[0] + "'");
    }
    return true;
  }

  bool Global(const std::vector<std::string>& words) {
    const std::string key = Lower(words[0]);
    if (key == "aspi") {
      const std::string value = words.size() == 2 ? Lower(words[1]) : "";
      if (value != "present" && value != "absent") return Fail("'aspi' takes present or absent");
      config.aspiPresent = value == "present";
      return true;
    }
    if (key == "adapter") {
      std::uint64_t number = 0;
      std::uint64_t targets = 0;
      if (words.size() != 4 || Lower(words[2]) != "targets" ||
          !ParseNumber(words[1], 255, number) || !ParseNumber(words[3], 255, targets)) {
        return Fail("expected 'adapter N targets T'");
      }
      if (number != config.adapterTargets.size()) {
        return Fail("adapters are numbered from 0 in order; expected adapter " +
                    std::to_string(config.adapterTargets.size()));
      }
      config.adapterTargets.push_back(static_cast<std::uint8_t>(targets));
      return true;
    }
    if (key == "device") {
      if (words.size() != 2) return Fail("expected 'device NAME'");
      const std::string& name = words[1];
      const bool fileSafe = std::all_of(name.begin(), name.end(), [](char c) {
        return std::isalnum(static_cast<unsigned char>(c)) || c == '-' || c == '_' || c == '.';
      });
      if (!fileSafe) return Fail("device names use letters, digits, '-', '_' and '.'");
      for (const PlacedDevice& other : config.devices) {
        if (other.config.name == name) return Fail("device '" + name + "' is defined twice");
      }
      PlacedDevice device;
      device.config.name = name;
      config.devices.push_back(device);
      deviceLines.push_back(line);
      placed.push_back(false);
      return true;
    }
    return false;
  }

  bool At(const std::vector<std::string>& words, PlacedDevice& device) {
    Placement place;
    if (words.size() == 4 && Lower(words[1]) == "aspi") {
      std::uint64_t adapter = 0;
      std::uint64_t target = 0;
      if (!ParseNumber(words[2], 255, adapter) || !ParseNumber(words[3], 255, target)) {
        return Fail("expected 'at aspi ADAPTER TARGET'");
      }
      if (adapter >= config.adapterTargets.size()) {
        return Fail("adapter " + std::to_string(adapter) + " is not declared");
      }
      place.adapter = static_cast<int>(adapter);
      place.target = static_cast<int>(target);
    } else if (words.size() == 2) {
      place.path = NormaliseDrivePath(words[1]);
      if (place.path.empty()) {
        return Fail("'" + words[1] + "' is neither a drive letter nor a node path");
      }
    } else {
      return Fail("expected 'at LETTER', 'at /dev/NODE' or 'at aspi ADAPTER TARGET'");
    }
    for (const PlacedDevice& other : config.devices) {
      if (&other == &device) continue;
      const bool sameDrive = !place.path.empty() && other.place.path == place.path;
      const bool sameAspi = place.path.empty() && other.place.path.empty() &&
                            other.place.adapter == place.adapter &&
                            other.place.target == place.target;
      if (sameDrive || sameAspi) {
        return Fail("device '" + other.config.name + "' already sits there");
      }
      if (!place.path.empty() && !other.place.path.empty() &&
          (place.path[0] == '/') != (other.place.path[0] == '/')) {
        return Fail("drives are either all letters or all node paths");
      }
    }
    if (placed.back()) return Fail("device '" + device.config.name + "' has two 'at' lines");
    placed.back() = true;
    device.place = place;
    return true;
  }

  bool Fault(const std::vector<std::string>& words, DeviceConfig& device) {
    const std::string key = Lower(words[0]);
    std::uint64_t value = 0;
    if (key == "fail") {
      if (words.size() != 3) return Fail("expected 'fail command N' or 'fail KIND N|every'");
      FailRule rule;
      if (Lower(words[1]) != "command") {
        rule.kind = KindFromName(words[1]);
        if (rule.kind == CommandKind::kUnknown || rule.kind == CommandKind::kAny) {
          return Fail("'" + words[1] + "' is not a command kind");
        }
      }
      if (Lower(words[2]) == "every" && rule.kind != CommandKind::kAny) {
        rule.nth = 0;
      } else if (!ParseNumber(words[2], UINT64_MAX, value) || value == 0) {
        return Fail("'" + words[2] + "' is not a command number (from 1)");
      } else {
        rule.nth = value;
      }
      device.failRules.push_back(rule);
      return true;
    }
    if (key == "corrupt") {
      std::uint64_t bank = 0;
      std::uint64_t offset = 0;
      if (words.size() != 3 || !ParseNumber(words[1], 255, bank) ||
          !ParseNumber(words[2], 0xFFFF, offset)) {
        return Fail("expected 'corrupt BANK OFFSET' (offset below 65536)");
      }
      device.corruptRules.push_back(
          {static_cast<std::uint8_t>(bank), static_cast<std::uint16_t>(offset)});
      return true;
    }
    if (key == "disappear") {
      if (!ParseOne(words, UINT64_MAX, false, value)) return false;
      if (value == 0) return Fail("'disappear' takes a number of commands from 1");
      device.disappearAfter = value;
      return true;
    }
    if (key == "pending") {
      if (!ParseOne(words, UINT32_MAX, false, value)) return false;
      device.pendingEvery = static_cast<std::uint32_t>(value);
      return true;
    }
    return Fail("unknown setting '" + words[0] + "'");
  }

  bool DeviceSetting(const std::vector<std::string>& words) {
    if (config.devices.empty()) return Fail("'" + words[0] + "' outside a device");
    PlacedDevice& placedDevice = config.devices.back();
    DeviceConfig& device = placedDevice.config;
    const std::string key = Lower(words[0]);
    std::uint64_t value = 0;
    if (key == "at") return At(words, placedDevice);
    if (key == "vid" || key == "pid") {
      if (!ParseOne(words, 0xFFFF, true, value)) return false;
      (key == "vid" ? device.vid : device.pid) = static_cast<std::uint16_t>(value);
      return true;
    }
    if (key == "version") return ParseBytes(words, device.version);
    if (key == "flash_ids") return ParseBytes(words, device.flashIds);
    if (key == "firmware") {  // firmware MAJOR MINOR: identify bytes 7 and 6
      std::uint64_t major = 0;
      std::uint64_t minor = 0;
      if (words.size() != 3 || !ParseHex(words[1], 0xFF, major) ||
          !ParseHex(words[2], 0xFF, minor)) {
        return Fail("expected 'firmware MAJOR MINOR' (hexadecimal bytes)");
      }
      device.version[3] = static_cast<std::uint8_t>(major);
      device.version[2] = static_cast<std::uint8_t>(minor);
      return true;
    }
    if (key == "inquiry_format") {
      if (!ParseOne(words, 15, false, value)) return false;
      device.inquiryFormat = static_cast<std::uint8_t>(value);
      return true;
    }
    if (key == "inquiry_text") {
      if (words.size() != 2 || words[1].size() > 28) {
        return Fail("'inquiry_text' takes one text of at most 28 characters (quote it)");
      }
      device.inquiryText = words[1];
      return true;
    }
    if (key == "media") return ParseYesNo(words, device.media);
    if (key == "vendor_commands") return ParseYesNo(words, device.vendorCommands);
    if (key == "banks") {
      if (!ParseOne(words, 256, false, value)) return false;
      if (value == 0) return Fail("'banks' takes 1 to 256");
      device.banks = static_cast<int>(value);
      return true;
    }
    return Fault(words, device);
  }

  bool Line(std::string_view text) {
    std::vector<std::string> words;
    if (!SplitWords(text, words)) return Fail("unterminated quote");
    if (words.empty()) return true;
    const std::string key = Lower(words[0]);
    if (key == "aspi" || key == "adapter" || key == "device") return Global(words);
    return DeviceSetting(words);
  }

  bool Finish() {
    for (std::size_t i = 0; i < config.devices.size(); ++i) {
      if (!placed[i]) {
        line = deviceLines[i];
        return Fail("device '" + config.devices[i].config.name + "' has no 'at' line");
      }
    }
    return true;
  }
};

}  // namespace

int ParseConfig(std::string_view text, BusConfig& out, std::string& error) {
  Parser parser;
  std::size_t start = 0;
  while (start <= text.size()) {
    std::size_t end = text.find('\n', start);
    if (end == std::string_view::npos) end = text.size();
    ++parser.line;
    if (!parser.Line(text.substr(start, end - start))) {
      error = parser.error;
      return kConfigMalformed;
    }
    start = end + 1;
  }
  if (!parser.Finish()) {
    error = parser.error;
    return kConfigMalformed;
  }
  out = std::move(parser.config);
  return kConfigOk;
}

int LoadConfigFile(const std::string& path, BusConfig& out, std::string& error) {
  std::ifstream file(path, std::ios::binary);
  if (!file) {
    error = path + ": cannot be read";
    return kConfigMissing;
  }
  std::ostringstream text;
  text << file.rdbuf();
  const int result = ParseConfig(text.str(), out, error);
  if (result != kConfigOk) error = path + ": " + error;
  return result;
}

std::unique_ptr<Bus> LoadBusFromEnvironment(const std::string& fallbackFolder,
                                            std::string& message) {
  message.clear();
  BusConfig config;
  const char* named = std::getenv(kConfigVariable);
  int result = kConfigMissing;
  std::string error;
  if (named != nullptr && *named != '\0') {
    result = LoadConfigFile(named, config, error);
    if (result != kConfigOk) message = error;
  } else {
    result = LoadConfigFile(kDefaultConfigFile, config, error);
    if (result == kConfigMissing && !fallbackFolder.empty()) {
      std::string path = fallbackFolder;
      if (path.back() != '/' && path.back() != '\\') path += '/';
      result = LoadConfigFile(path + kDefaultConfigFile, config, error);
    }
    if (result == kConfigMalformed) message = error;
  }
  auto bus = result == kConfigOk ? std::make_unique<Bus>(config) : std::make_unique<Bus>();
  if (const char* trace = std::getenv(kTraceVariable)) bus->SetTraceFile(trace);
  if (const char* dump = std::getenv(kDumpVariable)) bus->SetDumpFolder(dump);
  return bus;
}

}  // namespace sim
