#pragma once
// The simulator's text configuration (format in sim/README.md).
#include <memory>
#include <string>
#include <string_view>

#include "sim/bus.h"

namespace sim {

inline constexpr int kConfigOk = 0;
inline constexpr int kConfigMissing = 1;    // the file cannot be read
inline constexpr int kConfigMalformed = 2;  // the text is not a valid configuration

// Parses a configuration. Returns kConfigOk and fills `out`, or kConfigMalformed with `error`
// set to "line N: what is wrong" (then `out` is left as it was).
int ParseConfig(std::string_view text, BusConfig& out, std::string& error);

// Reads and parses a file. kConfigMissing when it cannot be read; errors start with the path.
int LoadConfigFile(const std::string& path, BusConfig& out, std::string& error);

inline constexpr const char* kConfigVariable = "K4826_SIM_CONFIG";
inline constexpr const char* kTraceVariable = "K4826_SIM_TRACE";
inline constexpr const char* kDumpVariable = "K4826_SIM_DUMP";
inline constexpr const char* kDefaultConfigFile = "k4826-sim.txt";

// The bus a simulator build runs on: the file K4826_SIM_CONFIG names, else "k4826-sim.txt" in the
// current directory, else (when `fallbackFolder` is not empty) in that folder; with the trace
// file of K4826_SIM_TRACE and the dump folder of K4826_SIM_DUMP. A missing or malformed file
// gives a bus without devices; `message` then says why when there is something to say.
std::unique_ptr<Bus> LoadBusFromEnvironment(const std::string& fallbackFolder,
                                            std::string& message);

}  // namespace sim
