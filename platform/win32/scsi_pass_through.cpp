#include <cstring>

#include "platform/win32/win32.h"
#include "platform/win32/win32_ports.h"

namespace platform::win32 {

// The request area layout is the one of 32-bit programs: the DataBuffer field holds a 4-byte
// pointer.
static_assert(sizeof(void*) == 4, "the pass-through area layout is that of 32-bit Windows");

std::vector<std::string> Win32ScsiPassThrough::CandidateDrives() {
  std::vector<std::string> drives;
  for (char letter = 'D'; letter <= 'Z'; ++letter)
    drives.push_back(std::string("\\\\.\\") + letter + ':');
  return drives;
}

Handle Win32ScsiPassThrough::OpenDrive(const std::string& path) {
  HANDLE drive =
      CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                  nullptr, OPEN_EXISTING, 0, nullptr);
  return drive == INVALID_HANDLE_VALUE ? nullptr : drive;
}

void Win32ScsiPassThrough::CloseDrive(Handle drive) {
  if (drive) CloseHandle(drive);
}

std::uint32_t Win32ScsiPassThrough::IoControl(Handle drive, std::uint32_t code, std::uint8_t* area,
                                              std::uint32_t inSize, std::uint32_t outSize,
                                              void* directData) {
  // No drive selected: the same code the system gives for a request on a closed handle.
  if (!drive) return ERROR_INVALID_HANDLE;
  if (!area) return ERROR_INVALID_PARAMETER;
  if (code == pass_through::kIoctlPassThroughDirect)
    std::memcpy(area + pass_through::kOffDataBuffer, &directData, sizeof directData);
  DWORD returned = 0;
  if (DeviceIoControl(drive, code, area, inSize, area, outSize, &returned, nullptr)) return 0;
  const DWORD error = GetLastError();
  // Some drivers fail a request without setting an error code; 0 would read as success.
  return error != 0 ? error : ERROR_GEN_FAILURE;
}

}  // namespace platform::win32
