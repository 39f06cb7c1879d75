#include "flashkit/job/production_log.h"

#include <cstdio>

namespace flashkit {

std::string ProductionLogLine(const platform::LocalTime& time, const std::string& serial,
                              bool good) {
  char stamp[32];
  std::snprintf(stamp, sizeof stamp, "%04d/%02d/%02d %02d:%02d  ", time.year, time.month, time.day,
                time.hour, time.minute);
  // The log is read on Windows: lines end in CR LF on every system.
  return stamp + serial + (good ? "  OK\r\n" : "  FAIL\r\n");
}

}  // namespace flashkit
