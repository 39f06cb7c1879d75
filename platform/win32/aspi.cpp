#include "platform/win32/win32.h"
#include "platform/win32/win32_ports.h"

namespace platform::win32 {
namespace {
// SS_NO_ASPI: what a request gets when the layer is not loaded.
constexpr std::uint8_t kSsNoAspi = 0xE3;
constexpr std::size_t kSrbStatusOffset = 1;
}  // namespace

bool Win32AspiLayer::Load() {
  HMODULE module = LoadLibraryA("WNASPI32");
  if (!module) return false;
  auto supportInfo = reinterpret_cast<SupportInfoFn>(
      reinterpret_cast<void*>(GetProcAddress(module, "GetASPI32SupportInfo")));
  auto sendCommand = reinterpret_cast<SendCommandFn>(
      reinterpret_cast<void*>(GetProcAddress(module, "SendASPI32Command")));
  if (!supportInfo || !sendCommand) {
    FreeLibrary(module);
    return false;
  }
  // Loading again (each ASPI scan does) keeps a single reference, so that one Unload releases
  // the layer.
  Unload();
  module_ = module;
  supportInfo_ = supportInfo;
  sendCommand_ = sendCommand;
  return true;
}

void Win32AspiLayer::Unload() {
  if (module_) FreeLibrary(static_cast<HMODULE>(module_));
  module_ = nullptr;
  supportInfo_ = nullptr;
  sendCommand_ = nullptr;
}

std::uint32_t Win32AspiLayer::GetSupportInfo() {
  return supportInfo_ ? static_cast<std::uint32_t>(supportInfo_()) : 0;
}

std::uint32_t Win32AspiLayer::SendCommand(void* srb) {
  if (!srb) return kSsNoAspi;
  if (!sendCommand_) {
    static_cast<std::uint8_t*>(srb)[kSrbStatusOffset] = kSsNoAspi;
    return kSsNoAspi;
  }
  return static_cast<std::uint32_t>(sendCommand_(srb));
}

}  // namespace platform::win32
