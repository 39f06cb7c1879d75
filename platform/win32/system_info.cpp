#include "platform/win32/win32.h"
#include "platform/win32/win32_ports.h"

namespace platform::win32 {
namespace {

constexpr DWORD kOsVersionInfoSize = 148;
static_assert(sizeof(OSVERSIONINFOA) == kOsVersionInfoSize);
constexpr DWORD kModulePathChars = 260;

// Any function of this module names the module that holds this code: Flashkit.dll in the
// product, the test program in the Wine tests.
void ModuleAnchor() {}

}  // namespace

HMODULE ModuleOfThisCode() {
  const auto anchor = reinterpret_cast<LPCSTR>(&ModuleAnchor);
  // GetModuleHandleExA appeared with XP; bound at run time so that the library still loads on
  // 98/Me, NT 4 and 2000, where the allocation base of our own code names the module instead.
  using GetModuleHandleExFn = BOOL(WINAPI*)(DWORD, LPCSTR, HMODULE*);
  constexpr DWORD kFromAddress = 0x4;        // GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS
  constexpr DWORD kUnchangedRefcount = 0x2;  // GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT
  HMODULE kernel = GetModuleHandleA("kernel32.dll");
  auto getModuleHandleEx = kernel ? reinterpret_cast<GetModuleHandleExFn>(reinterpret_cast<void*>(
                                        GetProcAddress(kernel, "GetModuleHandleExA")))
                                  : nullptr;
  HMODULE module = nullptr;
  if (getModuleHandleEx && getModuleHandleEx(kFromAddress | kUnchangedRefcount, anchor, &module))
    return module;
  MEMORY_BASIC_INFORMATION info{};
  if (VirtualQuery(reinterpret_cast<LPCVOID>(anchor), &info, sizeof info) == sizeof info)
    return static_cast<HMODULE>(info.AllocationBase);
  return nullptr;
}

bool Win32SystemInfo::QueryOsVersion(OsVersion& version) {
  OSVERSIONINFOA info{};
  info.dwOSVersionInfoSize = kOsVersionInfoSize;
  if (!GetVersionExA(&info)) return false;
  version.platformId = info.dwPlatformId;
  version.major = info.dwMajorVersion;
  version.minor = info.dwMinorVersion;
  return true;
}

std::string Win32SystemInfo::ModuleFolder() {
  HMODULE module = ModuleOfThisCode();
  if (!module) return {};
  char path[kModulePathChars + 1] = {};
  const DWORD length = GetModuleFileNameA(module, path, kModulePathChars);
  // A full buffer means the path was cut (and, before Vista, left unterminated).
  if (length == 0 || length >= kModulePathChars) return {};
  const std::string full(path, length);
  const auto separator = full.find_last_of("\\/");
  if (separator == std::string::npos) return {};
  return full.substr(0, separator + 1);
}

}  // namespace platform::win32
