// WNASPI32.dll over the device simulator. The configuration is read once, when the DLL is first
// attached: K4826_SIM_CONFIG, else "k4826-sim.txt" in the current directory, else beside the DLL.
#include <windows.h>

#include <cstdio>
#include <memory>
#include <string>

#include "platform/aspi.h"
#include "platform/events.h"
#include "platform/simulated/simulated_aspi_layer.h"
#include "sim/config.h"

namespace {

constexpr DWORD kSsNoAspi = 0xE7;

class Win32Events : public platform::Events {
 public:
  platform::Handle Create() override { return CreateEventA(nullptr, TRUE, FALSE, nullptr); }
  void Wait(platform::Handle event) override { WaitForSingleObject(event, INFINITE); }
  void Signal(platform::Handle event) override { SetEvent(event); }
  void Close(platform::Handle event) override {
    if (event != nullptr) CloseHandle(event);
  }
};

struct Simulator {
  std::unique_ptr<sim::Bus> bus;
  Win32Events events;
  std::unique_ptr<platform::SimulatedAspiLayer> layer;
};

// Lives for the process: the DLL is pinned, so the devices keep their state across the host's
// LoadLibrary and FreeLibrary pairs, and the worker thread is never joined under the loader lock.
Simulator* simulator = nullptr;

std::string ModuleFolder(HMODULE module) {
  char path[MAX_PATH] = {};
  const DWORD length = GetModuleFileNameA(module, path, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return {};
  std::string folder(path, length);
  const std::size_t slash = folder.find_last_of("\\/");
  return slash == std::string::npos ? std::string() : folder.substr(0, slash + 1);
}

void Start(HMODULE module) {
  HMODULE pinned = nullptr;
  GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_PIN,
                     reinterpret_cast<LPCSTR>(&ModuleFolder), &pinned);
  auto* created = new (std::nothrow) Simulator;
  if (created == nullptr) return;
  std::string message;
  created->bus = sim::LoadBusFromEnvironment(ModuleFolder(module), message);
  if (!message.empty()) std::fprintf(stderr, "K4826 simulator: %s\n", message.c_str());
  created->layer = std::make_unique<platform::SimulatedAspiLayer>(*created->bus, created->events);
  created->layer->Load();
  simulator = created;
}

}  // namespace

extern "C" {

DWORD __cdecl GetASPI32SupportInfo(void) {
  if (simulator == nullptr || !simulator->bus->AspiPresent()) return kSsNoAspi << 8;
  return simulator->layer->GetSupportInfo();
}

DWORD __cdecl SendASPI32Command(void* srb) {
  if (simulator == nullptr) return platform::aspi::kSsErr;
  return simulator->layer->SendCommand(srb);
}

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
  if (reason == DLL_PROCESS_ATTACH) {
    DisableThreadLibraryCalls(instance);
    Start(instance);
  }
  return TRUE;
}

}  // extern "C"
