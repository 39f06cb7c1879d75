// The shipped Flashkit.dll as a host loads it, finding simulated devices through the simulator's
// WNASPI32.dll in Windows 98 mode, and none in the modes where it must not use ASPI.
#include <gtest/gtest.h>

#include <array>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "platform/win32/win32.h"

namespace {

std::string Mode() {
  const char* mode = std::getenv("FLASHKIT_WINE_MODE");
  return mode ? mode : "";
}

std::string Folder() {
  char path[MAX_PATH] = {};
  GetCurrentDirectoryA(MAX_PATH, path);
  std::string folder = path;
  if (folder.empty() || folder.back() != '\\') folder += '\\';
  return folder;
}

// The five exports a host binds by name, from the library file in this folder.
class Flashkit {
 public:
  Flashkit() {
    module_ = LoadLibraryA("Flashkit.dll");
    if (!module_) return;
    getDevice_ = Bind<int(__cdecl*)()>("GetDevice");
    getDeviceStatus_ = Bind<int(__cdecl*)(int)>("GetDeviceStatus");
    endDevice_ = Bind<void(__cdecl*)()>("EndDevice");
    getDeviceVersion_ = Bind<int(__cdecl*)(int, unsigned char*)>("GetDeviceVersion");
  }
  ~Flashkit() {
    if (module_) FreeLibrary(module_);
  }
  bool Loaded() const {
    return module_ && getDevice_ && getDeviceStatus_ && endDevice_ && getDeviceVersion_;
  }
  int GetDevice() { return getDevice_(); }
  int GetDeviceStatus(int index) { return getDeviceStatus_(index); }
  void EndDevice() { endDevice_(); }
  std::array<unsigned char, 8> Version(int index) {
    std::array<unsigned char, 8> version{};
    EXPECT_EQ(getDeviceVersion_(index, version.data()), 1);
    return version;
  }

 private:
  template <typename Function>
  Function Bind(const char* name) {
    return reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(module_, name)));
  }
  HMODULE module_ = nullptr;
  int(__cdecl* getDevice_)() = nullptr;
  int(__cdecl* getDeviceStatus_)(int) = nullptr;
  void(__cdecl* endDevice_)() = nullptr;
  int(__cdecl* getDeviceVersion_)(int, unsigned char*) = nullptr;
};

// "device kind" for every command that reached a simulated device, in arrival order.
std::vector<std::string> TracedCommands(const std::string& path) {
  std::vector<std::string> commands;
  std::ifstream trace(path);
  std::string line;
  while (std::getline(trace, line)) {
    std::istringstream words(line);
    std::string device, index, kind;
    words >> device >> index >> kind;
    commands.push_back(device + " " + kind);
  }
  return commands;
}

class Discovery : public testing::Test {
 protected:
  void SetUp() override {
    // Read by the simulator when Flashkit.dll first loads WNASPI32.dll.
    DeleteFileA(trace_.c_str());
    _putenv(("K4826_SIM_CONFIG=" + Folder() + "discovery.sim").c_str());
    _putenv(("K4826_SIM_TRACE=" + trace_).c_str());
  }
  std::string trace_ = Folder() + "trace.txt";
};

using Version = std::array<unsigned char, 8>;

void FindsTheSimulatedDevicesOverAspi(const std::string& trace) {
  Flashkit flashkit;
  ASSERT_TRUE(flashkit.Loaded());

  ASSERT_EQ(flashkit.GetDevice(), 3);
  // The last device probed heads the list.
  EXPECT_EQ(flashkit.Version(0), (Version{0x21, 0x22, 0x23, 0x24, 0x25, 0x26, 0x27, 0x28}));
  EXPECT_EQ(flashkit.Version(1), (Version{0x11, 0x12, 0x13, 0x14, 0x15, 0x16, 0x17, 0x18}));
  EXPECT_EQ(flashkit.Version(2), (Version{0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08}));
  for (int i = 0; i < 3; ++i) EXPECT_EQ(flashkit.GetDeviceStatus(i), 0) << i;

  // Every candidate gets an INQUIRY; only those answering format 1 get the identify command.
  const std::vector<std::string> expected = {
      "first Inquiry",     "first Identify",  "later Inquiry",     "later Identify",
      "camera Inquiry",    "camera Identify", "oldformat Inquiry", "otherpid Inquiry",
      "otherpid Identify", "wide Inquiry",    "wide Identify",
  };
  EXPECT_EQ(TracedCommands(trace), expected);

  // The layer is released and loaded again; the devices are the same.
  flashkit.EndDevice();
  ASSERT_EQ(flashkit.GetDevice(), 3);
  EXPECT_EQ(flashkit.Version(0)[0], 0x21);
  EXPECT_EQ(flashkit.Version(2)[0], 0x01);
  flashkit.EndDevice();
}

void FindsNothingWithoutAspi(const std::string& trace) {
  Flashkit flashkit;
  ASSERT_TRUE(flashkit.Loaded());
  // XP probes its drives D: to Z: by pass-through, which reaches no simulated device; 95 is
  // refused. Neither touches the ASPI layer.
  EXPECT_EQ(flashkit.GetDevice(), 0);
  EXPECT_EQ(GetModuleHandleA("WNASPI32.dll"), nullptr);
  EXPECT_TRUE(TracedCommands(trace).empty());
  flashkit.EndDevice();
  EXPECT_EQ(flashkit.GetDevice(), 0);
  flashkit.EndDevice();
}

TEST_F(Discovery, FindsWhatTheModeAllows) {
  // Only Windows 98/Me reach devices through ASPI.
  if (Mode() == "win98")
    FindsTheSimulatedDevicesOverAspi(trace_);
  else
    FindsNothingWithoutAspi(trace_);
}

}  // namespace
