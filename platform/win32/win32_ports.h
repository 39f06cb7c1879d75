#pragma once
// The Win32 implementation of every port. Test programs under Wine construct these directly;
// the library gets them through InstallPlatformPorts.
#include "platform/ports.h"
#include "platform/win32/win32.h"

namespace platform::win32 {

// The module (Flashkit.dll, or a test program) that holds this code; null if it cannot be told.
HMODULE ModuleOfThisCode();

class Win32SystemInfo final : public SystemInfo {
 public:
  bool QueryOsVersion(OsVersion& version) override;
  std::string ModuleFolder() override;
};

class Win32ScsiPassThrough final : public ScsiPassThrough {
 public:
  std::vector<std::string> CandidateDrives() override;
  Handle OpenDrive(const std::string& path) override;
  void CloseDrive(Handle drive) override;
  std::uint32_t IoControl(Handle drive, std::uint32_t code, std::uint8_t* area,
                          std::uint32_t inSize, std::uint32_t outSize, void* directData) override;
};

// Not released on destruction: that would call FreeLibrary while the loader unloads us.
// EndDevice unloads the layer.
class Win32AspiLayer final : public AspiLayer {
 public:
  bool Load() override;
  void Unload() override;
  std::uint32_t GetSupportInfo() override;
  std::uint32_t SendCommand(void* srb) override;

 private:
  using SupportInfoFn = unsigned long(__cdecl*)();
  using SendCommandFn = unsigned long(__cdecl*)(void*);
  void* module_ = nullptr;  // HMODULE of WNASPI32 while loaded
  SupportInfoFn supportInfo_ = nullptr;
  SendCommandFn sendCommand_ = nullptr;
};

class Win32Events final : public Events {
 public:
  Handle Create() override;
  void Wait(Handle event) override;
  void Signal(Handle event) override;
  void Close(Handle event) override;
};

class Win32Threads final : public Threads {
 public:
  bool Start(void (*entry)(void*), void* argument, std::size_t stackBytes) override;
};

class Win32Clock final : public Clock {
 public:
  void Sleep(std::uint32_t milliseconds) override;
  LocalTime Now() override;
};

class Win32Profile final : public Profile {
 public:
  std::uint32_t GetString(const std::string& section, const std::string& key,
                          const std::string& fallback, char* buffer, std::uint32_t size,
                          const std::string& path) override;
  int GetInt(const std::string& section, const std::string& key, int fallback,
             const std::string& path) override;
  bool WriteString(const std::string& section, const std::string& key, const std::string& value,
                   const std::string& path) override;
};

class Win32StatusPost final : public StatusPost {
 public:
  void Post(void* window, std::uint32_t message, std::uintptr_t wParam,
            std::intptr_t lParam) override;
};

}  // namespace platform::win32
