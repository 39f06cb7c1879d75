#include "platform/win32/win32.h"
#include "platform/win32/win32_ports.h"

namespace platform::win32 {

void Win32Clock::Sleep(std::uint32_t milliseconds) { ::Sleep(milliseconds); }

LocalTime Win32Clock::Now() {
  SYSTEMTIME now{};
  GetLocalTime(&now);
  LocalTime time;
  time.year = now.wYear;
  time.month = now.wMonth;
  time.day = now.wDay;
  time.hour = now.wHour;
  time.minute = now.wMinute;
  return time;
}

}  // namespace platform::win32
