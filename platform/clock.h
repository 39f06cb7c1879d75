#pragma once
#include <cstdint>

namespace platform {

struct LocalTime {
  int year = 0;    // four digits
  int month = 0;   // 1 to 12
  int day = 0;     // 1 to 31
  int hour = 0;    // 0 to 23
  int minute = 0;  // 0 to 59
};

class Clock {
 public:
  virtual ~Clock() = default;
  // Blocks the calling thread for `milliseconds`.
  virtual void Sleep(std::uint32_t milliseconds) = 0;
  // The local time now.
  virtual LocalTime Now() = 0;
};

}  // namespace platform
