#pragma once
#include <string>

#include "platform/clock.h"

namespace flashkit {

// One line of "K4826.log": "%Y/%m/%d %H:%M  ", the serial string, "  OK" or "  FAIL", CR LF.
std::string ProductionLogLine(const platform::LocalTime& time, const std::string& serial,
                              bool good);

}  // namespace flashkit
