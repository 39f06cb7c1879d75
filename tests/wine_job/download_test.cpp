// The shipped Flashkit.dll as FwUpdate drives it under Windows 98: discovery over the simulator's
// WNASPI32.dll, then Download(2, 1, 0, window), with the status messages arriving at a real
// window and the image landing in the simulated device.
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "platform/win32/win32.h"

namespace {

constexpr UINT kStatusMessage = 0x8001;
constexpr LPARAM kProgress = 0;
constexpr LPARAM kSuccess = 4;
constexpr LPARAM kFlashIdentified = 9;

std::vector<char> Pattern(std::size_t size) {
  std::vector<char> bytes(size);
  for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>((i * 7 + (i >> 8)) & 0xFF);
  return bytes;
}

void Write(const std::string& path, const std::vector<char>& bytes) {
  std::ofstream(path, std::ios::binary)
      .write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

std::vector<char> Read(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<char>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

struct Status {
  WPARAM wParam;
  LPARAM code;
};

// A window that only collects the job's status messages.
class StatusWindow {
 public:
  StatusWindow() {
    WNDCLASSA windowClass = {};
    windowClass.lpfnWndProc = DefWindowProcA;
    windowClass.hInstance = GetModuleHandleA(nullptr);
    windowClass.lpszClassName = "FlashkitJobTestWindow";
    RegisterClassA(&windowClass);
    window_ = CreateWindowExA(0, windowClass.lpszClassName, "", 0, 0, 0, 0, 0, HWND_MESSAGE,
                              nullptr, windowClass.hInstance, nullptr);
  }
  ~StatusWindow() {
    if (window_) DestroyWindow(window_);
  }
  HWND handle() const { return window_; }

  // Collects posts until one that is neither Progress nor FlashIdentified, or the time is up.
  std::vector<Status> CollectUntilEnd(DWORD timeoutMs) {
    std::vector<Status> seen;
    const DWORD start = GetTickCount();
    while (GetTickCount() - start < timeoutMs) {
      MSG message;
      while (PeekMessageA(&message, window_, kStatusMessage, kStatusMessage, PM_REMOVE)) {
        seen.push_back({message.wParam, message.lParam});
        if (message.lParam != kProgress && message.lParam != kFlashIdentified) return seen;
      }
      MsgWaitForMultipleObjects(0, nullptr, FALSE, 50, QS_POSTMESSAGE);
    }
    return seen;
  }

 private:
  HWND window_ = nullptr;
};

TEST(Download, FirmwareReachesTheDeviceThroughAspi) {
  const std::vector<char> image = Pattern(65536);
  Write("image.bin", image);
  Write("loader.bin", Pattern(3000));
  Write("flashid.dat",
        {'E', 'C', ' ', '7', '5', ' ', '0', '1', ' ', '0', '0', ' ', 'K', '9', '\n'});
  std::ofstream("K4826.ini") << "[Firmware]\r\nFirmware=image.bin\r\nBootloader=loader.bin\r\n";
  CreateDirectoryA("dump", nullptr);

  // The flash table is read when the library loads, from the current folder.
  HMODULE library = LoadLibraryA("Flashkit.dll");
  ASSERT_NE(library, nullptr);
  auto getDevice = reinterpret_cast<int(__cdecl*)()>(
      reinterpret_cast<void*>(GetProcAddress(library, "GetDevice")));
  auto download = reinterpret_cast<int(__cdecl*)(int, int, int, HWND)>(
      reinterpret_cast<void*>(GetProcAddress(library, "Download")));
  auto endDevice = reinterpret_cast<void(__cdecl*)()>(
      reinterpret_cast<void*>(GetProcAddress(library, "EndDevice")));
  auto getDeviceVersion = reinterpret_cast<int(__cdecl*)(int, unsigned char*)>(
      reinterpret_cast<void*>(GetProcAddress(library, "GetDeviceVersion")));
  ASSERT_TRUE(getDevice && download && endDevice && getDeviceVersion);

  StatusWindow window;
  ASSERT_NE(window.handle(), nullptr);
  ASSERT_EQ(getDevice(), 1);
  EXPECT_EQ(download(2, 1, 0, window.handle()), 0);
  const std::vector<Status> seen = window.CollectUntilEnd(60000);

  ASSERT_EQ(seen.size(), 66u);
  EXPECT_EQ(seen.front().code, kFlashIdentified);
  EXPECT_EQ(seen.front().wParam, 0x75u * 256 + 0xEC);
  for (int n = 1; n <= 64; ++n) {
    EXPECT_EQ(seen[n].code, kProgress);
    EXPECT_EQ(seen[n].wParam, static_cast<WPARAM>(n * 100 / 64));
  }
  EXPECT_EQ(seen.back().code, kSuccess);

  // The device's flash is dumped when the closing context switch ends its session.
  std::vector<char> stored;
  for (int wait = 0; wait < 100 && stored.size() != image.size(); ++wait) {
    Sleep(50);
    stored = Read("dump\\stick-bank0.bin");
  }
  EXPECT_EQ(stored, image);

  // A new discovery sees the version the new image carries.
  ASSERT_EQ(getDevice(), 1);
  unsigned char version[8] = {};
  getDeviceVersion(0, version);
  EXPECT_EQ(version[2], static_cast<unsigned char>(image[0xFFFC]));
  EXPECT_EQ(version[3], static_cast<unsigned char>(image[0xFFFD]));
  endDevice();
  FreeLibrary(library);
  // The job thread held a reference of its own while it ran and dropped it as it ended, so the
  // library goes once the host lets go of it.
  HMODULE stillLoaded = GetModuleHandleA("Flashkit.dll");
  for (int wait = 0; wait < 100 && stillLoaded != nullptr; ++wait) {
    Sleep(20);
    stillLoaded = GetModuleHandleA("Flashkit.dll");
  }
  EXPECT_EQ(stillLoaded, nullptr);
}

}  // namespace
