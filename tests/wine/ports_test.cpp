// The Win32 ports under Wine, in the Windows version that FLASHKIT_WINE_MODE names.
#include <gtest/gtest.h>

#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "platform/win32/win32.h"
// windows.h and winioctl.h first: the driver header builds on their types.
#include <ntddscsi.h>
#include <winioctl.h>

#include "platform/aspi.h"
#include "platform/scsi_pass_through.h"
#include "platform/win32/win32_ports.h"

namespace {

namespace pt = platform::pass_through;
namespace aspi = platform::aspi;
using platform::win32::Win32AspiLayer;
using platform::win32::Win32Clock;
using platform::win32::Win32Events;
using platform::win32::Win32Profile;
using platform::win32::Win32ScsiPassThrough;
using platform::win32::Win32StatusPost;
using platform::win32::Win32SystemInfo;
using platform::win32::Win32Threads;

std::string Mode() {
  const char* mode = std::getenv("FLASHKIT_WINE_MODE");
  return mode ? mode : "";
}

std::string TestFolder() {
  char path[MAX_PATH] = {};
  GetCurrentDirectoryA(MAX_PATH, path);
  std::string folder = path;
  if (folder.empty() || folder.back() != '\\') folder += '\\';
  return folder;
}

// --- Byte layouts ------------------------------------------------------------------------

TEST(Layout, PassThroughOffsetsMatchTheSystemStructures) {
  EXPECT_EQ(sizeof(SCSI_PASS_THROUGH), pt::kStructSize);
  EXPECT_EQ(sizeof(SCSI_PASS_THROUGH_DIRECT), pt::kStructSize);
  struct Field {
    const char* name;
    std::size_t buffered;
    std::size_t direct;
    std::size_t ours;
  };
#define FIELD(name, ours) \
  Field { #name, offsetof(SCSI_PASS_THROUGH, name), offsetof(SCSI_PASS_THROUGH_DIRECT, name), ours }
  const Field fields[] = {
      FIELD(Length, pt::kOffLength),
      FIELD(ScsiStatus, pt::kOffScsiStatus),
      FIELD(PathId, pt::kOffPathId),
      FIELD(TargetId, pt::kOffTargetId),
      FIELD(Lun, pt::kOffLun),
      FIELD(CdbLength, pt::kOffCdbLength),
      FIELD(SenseInfoLength, pt::kOffSenseInfoLength),
      FIELD(DataIn, pt::kOffDataIn),
      FIELD(DataTransferLength, pt::kOffDataTransferLength),
      FIELD(TimeOutValue, pt::kOffTimeOutValue),
      FIELD(SenseInfoOffset, pt::kOffSenseInfoOffset),
      FIELD(Cdb, pt::kOffCdb),
  };
#undef FIELD
  for (const Field& field : fields) {
    EXPECT_EQ(field.buffered, field.ours) << field.name;
    EXPECT_EQ(field.direct, field.ours) << field.name;
  }
  EXPECT_EQ(offsetof(SCSI_PASS_THROUGH, DataBufferOffset), pt::kOffDataBuffer);
  EXPECT_EQ(offsetof(SCSI_PASS_THROUGH_DIRECT, DataBuffer), pt::kOffDataBuffer);
  EXPECT_EQ(sizeof(SCSI_PASS_THROUGH_DIRECT::DataBuffer), 4u);
  EXPECT_EQ(sizeof(SCSI_PASS_THROUGH::Cdb), 16u);

  EXPECT_EQ(static_cast<std::uint32_t>(IOCTL_SCSI_PASS_THROUGH), pt::kIoctlPassThrough);
  EXPECT_EQ(static_cast<std::uint32_t>(IOCTL_SCSI_PASS_THROUGH_DIRECT),
            pt::kIoctlPassThroughDirect);
  EXPECT_EQ(SCSI_IOCTL_DATA_IN, pt::kDataInFlag);
  EXPECT_EQ(SCSI_IOCTL_DATA_OUT, pt::kDataOut);
  // The sense and data areas follow the structure without overlapping it or each other.
  EXPECT_GE(pt::kSenseOffset, pt::kStructSize);
  EXPECT_GE(pt::kDataOffset, pt::kSenseOffset + pt::kSenseLength);
}

TEST(Layout, AspiRequestBlocks) {
  EXPECT_EQ(sizeof(aspi::SrbExecScsiCmd), 80u);
  EXPECT_EQ(sizeof(aspi::SrbHaInquiry), 60u);
  EXPECT_EQ(sizeof(aspi::SrbGetDevType), 12u);
  struct Field {
    const char* name;
    std::size_t actual;
    std::size_t expected;
  };
  const Field fields[] = {
      {"Exec SRB_Status", offsetof(aspi::SrbExecScsiCmd, status), 1},
      {"Exec SRB_HaId", offsetof(aspi::SrbExecScsiCmd, haId), 2},
      {"Exec SRB_Flags", offsetof(aspi::SrbExecScsiCmd, flags), 3},
      {"Exec SRB_Target", offsetof(aspi::SrbExecScsiCmd, target), 8},
      {"Exec SRB_Lun", offsetof(aspi::SrbExecScsiCmd, lun), 9},
      {"Exec SRB_BufLen", offsetof(aspi::SrbExecScsiCmd, bufLen), 12},
      {"Exec SRB_BufPointer", offsetof(aspi::SrbExecScsiCmd, bufPointer), 16},
      {"Exec SRB_SenseLen", offsetof(aspi::SrbExecScsiCmd, senseLen), 20},
      {"Exec SRB_CDBLen", offsetof(aspi::SrbExecScsiCmd, cdbLen), 21},
      {"Exec SRB_PostProc", offsetof(aspi::SrbExecScsiCmd, postProc), 24},
      {"Exec CDBByte", offsetof(aspi::SrbExecScsiCmd, cdb), 48},
      {"Exec SenseArea", offsetof(aspi::SrbExecScsiCmd, senseArea), 64},
      {"HaInquiry HA_Count", offsetof(aspi::SrbHaInquiry, haCount), 8},
      {"HaInquiry HA_Unique", offsetof(aspi::SrbHaInquiry, haUnique), 42},
      {"GetDevType SRB_Target", offsetof(aspi::SrbGetDevType, target), 8},
      {"GetDevType SRB_Lun", offsetof(aspi::SrbGetDevType, lun), 9},
      {"GetDevType SRB_DeviceType", offsetof(aspi::SrbGetDevType, deviceType), 10},
  };
  for (const Field& field : fields) EXPECT_EQ(field.actual, field.expected) << field.name;
}

// --- System information -----------------------------------------------------------------

TEST(SystemInfo, ReportsTheWindowsVersionOfTheMode) {
  struct Expected {
    const char* mode;
    platform::OsVersion version;
  };
  const Expected table[] = {
      {"win95", {platform::kPlatformWindows9x, 4, 0}},
      {"win98", {platform::kPlatformWindows9x, 4, 10}},
      {"winme", {platform::kPlatformWindows9x, 4, 90}},
      {"nt40", {platform::kPlatformWindowsNt, 4, 0}},
      {"win2k", {platform::kPlatformWindowsNt, 5, 0}},
      {"winxp", {platform::kPlatformWindowsNt, 5, 1}},
  };
  const std::string mode = Mode();
  const Expected* expected = nullptr;
  for (const Expected& row : table)
    if (mode == row.mode) expected = &row;
  ASSERT_NE(expected, nullptr) << "FLASHKIT_WINE_MODE is '" << mode << "'";

  Win32SystemInfo system;
  platform::OsVersion version;
  ASSERT_TRUE(system.QueryOsVersion(version));
  EXPECT_EQ(version.platformId, expected->version.platformId);
  EXPECT_EQ(version.major, expected->version.major);
  EXPECT_EQ(version.minor, expected->version.minor);
}

TEST(SystemInfo, ModuleFolderHoldsTheModuleOfTheCode) {
  // The ports are linked into this program, so their module is the program file.
  char program[MAX_PATH] = {};
  ASSERT_GT(GetModuleFileNameA(nullptr, program, MAX_PATH), 0u);
  const std::string path = program;
  const std::string folder = Win32SystemInfo().ModuleFolder();
  ASSERT_FALSE(folder.empty());
  EXPECT_EQ(folder.back(), '\\');
  EXPECT_EQ(folder + path.substr(path.find_last_of('\\') + 1), path);
  EXPECT_NE(folder.find(':'), std::string::npos) << folder;  // drive and folder
}

// --- SCSI pass-through ------------------------------------------------------------------

TEST(PassThrough, CandidatesAreDrivesDToZ) {
  const std::vector<std::string> drives = Win32ScsiPassThrough().CandidateDrives();
  ASSERT_EQ(drives.size(), 23u);
  for (std::size_t i = 0; i < drives.size(); ++i)
    EXPECT_EQ(drives[i], std::string("\\\\.\\") + static_cast<char>('D' + i) + ":");
}

TEST(PassThrough, NullOrClosedHandleFailsWithACode) {
  Win32ScsiPassThrough scsi;
  std::vector<std::uint8_t> area(pt::kReadAreaSize);
  EXPECT_EQ(scsi.IoControl(nullptr, pt::kIoctlPassThrough, area.data(), pt::kStructSize,
                           pt::kDataOffset + 36, nullptr),
            static_cast<std::uint32_t>(ERROR_INVALID_HANDLE));
  std::uint8_t data[8] = {};
  EXPECT_NE(scsi.IoControl(nullptr, pt::kIoctlPassThroughDirect, area.data(), pt::kDataOffset,
                           pt::kDataOffset, data),
            0u);
  scsi.CloseDrive(nullptr);

  platform::Handle drive = scsi.OpenDrive(TestFolder() + "closed.bin");
  ASSERT_EQ(drive, nullptr) << "no such file yet";
  HANDLE file = CreateFileA((TestFolder() + "closed.bin").c_str(), GENERIC_READ | GENERIC_WRITE, 0,
                            nullptr, CREATE_ALWAYS, FILE_FLAG_DELETE_ON_CLOSE, nullptr);
  ASSERT_NE(file, INVALID_HANDLE_VALUE);
  CloseHandle(file);
  EXPECT_NE(scsi.IoControl(file, pt::kIoctlPassThrough, area.data(), pt::kStructSize,
                           pt::kDataOffset, nullptr),
            0u);
}

TEST(PassThrough, DirectRequestCarriesTheDataAddress) {
  // A plain file takes no SCSI requests: the request fails, but only after the area was filled.
  Win32ScsiPassThrough scsi;
  const std::string path = TestFolder() + "not_a_drive.bin";
  HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  ASSERT_NE(file, INVALID_HANDLE_VALUE);
  CloseHandle(file);
  platform::Handle drive = scsi.OpenDrive(path);
  ASSERT_NE(drive, nullptr);

  std::uint8_t area[pt::kWriteAreaSize] = {};
  std::uint8_t data[16] = {};
  EXPECT_NE(scsi.IoControl(drive, pt::kIoctlPassThroughDirect, area, pt::kWriteAreaSize,
                           pt::kWriteAreaSize, data),
            0u);
  void* carried = nullptr;
  std::memcpy(&carried, area + pt::kOffDataBuffer, sizeof carried);
  EXPECT_EQ(carried, data);

  // A buffered request keeps the caller's data offset.
  std::vector<std::uint8_t> readArea(pt::kReadAreaSize);
  readArea[pt::kOffDataBuffer] = pt::kDataOffset;
  EXPECT_NE(scsi.IoControl(drive, pt::kIoctlPassThrough, readArea.data(), pt::kStructSize,
                           pt::kDataOffset, nullptr),
            0u);
  EXPECT_EQ(readArea[pt::kOffDataBuffer], pt::kDataOffset);
  scsi.CloseDrive(drive);
  DeleteFileA(path.c_str());
}

TEST(PassThrough, InquiryOnEveryDriveEndsCleanly) {
  // Wine's drives (the Unix root as Z:, maybe more) are no SCSI devices: whatever each one
  // answers, the request returns and a failure comes with a code.
  Win32ScsiPassThrough scsi;
  int opened = 0;
  for (const std::string& path : scsi.CandidateDrives()) {
    platform::Handle drive = scsi.OpenDrive(path);
    if (!drive) continue;
    ++opened;
    std::vector<std::uint8_t> area(pt::kReadAreaSize);
    area[pt::kOffLength] = pt::kStructSize;
    area[pt::kOffCdbLength] = 6;
    area[pt::kOffSenseInfoLength] = pt::kSenseLength;
    area[pt::kOffDataIn] = pt::kDataInFlag;
    area[pt::kOffDataTransferLength] = 36;
    area[pt::kOffTimeOutValue] = 2;
    area[pt::kOffDataBuffer] = pt::kDataOffset;
    area[pt::kOffSenseInfoOffset] = pt::kSenseOffset;
    const std::uint8_t inquiry[6] = {0x12, 0, 0, 0, 36, 0};
    std::memcpy(&area[pt::kOffCdb], inquiry, sizeof inquiry);
    const std::uint32_t result = scsi.IoControl(drive, pt::kIoctlPassThrough, area.data(),
                                                pt::kStructSize, pt::kDataOffset + 36, nullptr);
    RecordProperty(path, static_cast<int>(result));
    scsi.CloseDrive(drive);
  }
  RecordProperty("opened", opened);
}

// --- ASPI -------------------------------------------------------------------------------

TEST(Aspi, NoLayerBesideTheProgram) {
  // Wine's own wnaspi32 is switched off for the tests, and none lies in this folder.
  Win32AspiLayer layer;
  EXPECT_FALSE(layer.Load());
  EXPECT_EQ(layer.GetSupportInfo(), 0u);
  aspi::SrbExecScsiCmd srb{};
  EXPECT_NE(layer.SendCommand(&srb), aspi::kSsComp);
  EXPECT_NE(srb.status, aspi::kSsPending);
  layer.Unload();
}

// --- Events and threads -----------------------------------------------------------------

struct SignalLater {
  Win32Events* events;
  platform::Handle event;
};

TEST(EventsAndThreads, EventIsManualResetAndSignalledFromAnotherThread) {
  Win32Events events;
  platform::Handle event = events.Create();
  ASSERT_NE(event, nullptr);
  EXPECT_EQ(WaitForSingleObject(event, 0), static_cast<DWORD>(WAIT_TIMEOUT));

  SignalLater later{&events, event};
  ASSERT_TRUE(Win32Threads().Start(
      [](void* argument) {
        auto* job = static_cast<SignalLater*>(argument);
        Sleep(20);
        job->events->Signal(job->event);
      },
      &later, 64 * 1024));
  events.Wait(event);
  // Manual reset: the event stays signalled for every later waiter.
  EXPECT_EQ(WaitForSingleObject(event, 0), static_cast<DWORD>(WAIT_OBJECT_0));
  EXPECT_EQ(WaitForSingleObject(event, 0), static_cast<DWORD>(WAIT_OBJECT_0));
  events.Close(event);
  events.Close(nullptr);
}

struct StackProbe {
  HANDLE done;
  std::size_t reserved;
};

TEST(EventsAndThreads, ThreadGetsTheRequestedStack) {
  // Larger than any default, so that only the requested size can explain it.
  constexpr std::size_t kRequested = 8 * 1024 * 1024;
  StackProbe probe{CreateEventA(nullptr, TRUE, FALSE, nullptr), 0};
  ASSERT_NE(probe.done, nullptr);
  ASSERT_TRUE(Win32Threads().Start(
      [](void* argument) {
        auto* probe = static_cast<StackProbe*>(argument);
        // The stack is one reservation: add up its regions from the bottom.
        MEMORY_BASIC_INFORMATION region{};
        VirtualQuery(&region, &region, sizeof region);
        void* const base = region.AllocationBase;
        auto* address = static_cast<char*>(base);
        while (VirtualQuery(address, &region, sizeof region) == sizeof region &&
               region.AllocationBase == base) {
          probe->reserved += region.RegionSize;
          address += region.RegionSize;
        }
        SetEvent(probe->done);
      },
      &probe, kRequested));
  ASSERT_EQ(WaitForSingleObject(probe.done, 10000), static_cast<DWORD>(WAIT_OBJECT_0));
  CloseHandle(probe.done);
  EXPECT_GE(probe.reserved, kRequested);
}

// --- Status posting ---------------------------------------------------------------------

class StatusWindow {
 public:
  StatusWindow() {
    WNDCLASSA windowClass{};
    windowClass.lpfnWndProc = DefWindowProcA;
    windowClass.hInstance = GetModuleHandleA(nullptr);
    windowClass.lpszClassName = "FlashkitStatusTest";
    RegisterClassA(&windowClass);
    // Message-only: it needs no display, and receives posts like any window.
    window_ = CreateWindowExA(0, "FlashkitStatusTest", "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                              GetModuleHandleA(nullptr), nullptr);
  }
  ~StatusWindow() {
    if (window_) DestroyWindow(window_);
  }
  HWND handle() const { return window_; }
  void Destroy() {
    DestroyWindow(window_);
    window_ = nullptr;
  }

 private:
  HWND window_ = nullptr;
};

struct Posted {
  std::uint32_t message;
  std::uintptr_t wParam;
  std::intptr_t lParam;
};

struct PostJob {
  HWND window;
  std::vector<Posted> posts;
};

TEST(StatusPost, PostsFromTheJobThreadArriveInOrder) {
  StatusWindow window;
  ASSERT_NE(window.handle(), nullptr);
  PostJob job{window.handle(), {}};
  for (std::uintptr_t percent = 1; percent <= 100; percent += 33)
    job.posts.push_back({0x8001, percent, 0});
  job.posts.push_back({0x8001, 0x75 * 256 + 0xEC, 9});  // FlashIdentified
  job.posts.push_back({0x8001, 0xFFFFFFFFu, 0x7FFFFFFF});
  job.posts.push_back({0x8001, 0, 4});  // Success, last

  ASSERT_TRUE(Win32Threads().Start(
      [](void* argument) {
        auto* job = static_cast<PostJob*>(argument);
        Win32StatusPost status;
        for (const Posted& post : job->posts)
          status.Post(job->window, post.message, post.wParam, post.lParam);
      },
      &job, 64 * 1024));

  std::vector<Posted> received;
  const DWORD deadline = GetTickCount() + 10000;
  while (received.size() < job.posts.size() && GetTickCount() < deadline) {
    MSG message{};
    if (PeekMessageA(&message, window.handle(), 0, 0, PM_REMOVE)) {
      if (message.message == 0x8001)
        received.push_back({message.message, message.wParam, message.lParam});
    } else {
      MsgWaitForMultipleObjects(0, nullptr, FALSE, 50, QS_ALLINPUT);
    }
  }
  ASSERT_EQ(received.size(), job.posts.size());
  for (std::size_t i = 0; i < received.size(); ++i) {
    EXPECT_EQ(received[i].wParam, job.posts[i].wParam) << i;
    EXPECT_EQ(received[i].lParam, job.posts[i].lParam) << i;
  }
}

TEST(StatusPost, PostToNoWindowIsDropped) {
  Win32StatusPost status;
  StatusWindow window;
  HWND gone = window.handle();
  ASSERT_NE(gone, nullptr);
  window.Destroy();
  status.Post(gone, 0x8001, 1, 0);
  // A null window would otherwise land in the posting thread's own queue.
  status.Post(nullptr, 0x8001, 2, 0);
  MSG message{};
  EXPECT_FALSE(PeekMessageA(&message, nullptr, 0x8001, 0x8001, PM_REMOVE));
}

// --- Clock and profile files ------------------------------------------------------------

TEST(Clock, SleepsAndTellsLocalTime) {
  Win32Clock clock;
  // The performance counter, not GetTickCount: Wine's tick count lags by up to a tick or two.
  LARGE_INTEGER frequency{}, start{}, end{};
  QueryPerformanceFrequency(&frequency);
  QueryPerformanceCounter(&start);
  clock.Sleep(100);
  QueryPerformanceCounter(&end);
  EXPECT_GE((end.QuadPart - start.QuadPart) * 1000 / frequency.QuadPart, 95);

  SYSTEMTIME before{};
  GetLocalTime(&before);
  const platform::LocalTime now = clock.Now();
  SYSTEMTIME after{};
  GetLocalTime(&after);
  const bool sameMinute = before.wMinute == after.wMinute;
  if (sameMinute) {
    EXPECT_EQ(now.year, before.wYear);
    EXPECT_EQ(now.month, before.wMonth);
    EXPECT_EQ(now.day, before.wDay);
    EXPECT_EQ(now.hour, before.wHour);
    EXPECT_EQ(now.minute, before.wMinute);
  }
}

TEST(Profile, WritesAndReadsWithTheSystemRules) {
  Win32Profile profile;
  const std::string path = TestFolder() + "profile_test.ini";
  DeleteFileA(path.c_str());
  ASSERT_TRUE(profile.WriteString("Firmware", "Firmware", "image.hex", path));
  ASSERT_TRUE(profile.WriteString("serial", "initial", "0x10", path));

  char buffer[32] = {};
  EXPECT_EQ(profile.GetString("FIRMWARE", "firmware", "none", buffer, sizeof buffer, path), 9u);
  EXPECT_STREQ(buffer, "image.hex");
  EXPECT_EQ(profile.GetString("Firmware", "Bootloader", "none", buffer, sizeof buffer, path), 4u);
  EXPECT_STREQ(buffer, "none");
  char small[6] = {};
  profile.GetString("Firmware", "Firmware", "", small, sizeof small, path);
  EXPECT_STREQ(small, "image");
  EXPECT_EQ(profile.GetString("Firmware", "Firmware", "", buffer, 0, path), 0u);

  EXPECT_EQ(profile.GetInt("serial", "initial", 7, path), 16);
  EXPECT_EQ(profile.GetInt("serial", "missing", 7, path), 7);
  EXPECT_EQ(profile.GetInt("serial", "initial", 7, TestFolder() + "no_such.ini"), 7);
  DeleteFileA(path.c_str());
}

}  // namespace
