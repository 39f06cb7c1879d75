// Drives the shipped FwUpdate.exe the way a user would, from outside its process: starts it,
// finds its windows by class and caption, clicks with posted messages (a sent click that opens
// a box would block until the box closes), and reads texts, button states and the bar.
//
//   fwupdate_driver SCENARIO FOLDER [options]
//     success      --device V --image V   full download; --shot NAME asks for screenshots
//     about                               the system menu's About item and the About box
//     no-library                          "Failure in Loading DLL - Flashkit.dll", then exit
//     no-device                           "No Device Connect !..." at start, then exit
//
// FwUpdate.exe runs from FOLDER with FOLDER as its current directory. A screenshot request
// is the file FOLDER\NAME.request; the script that runs this driver answers with NAME.done
// once it has taken the picture. Prints one line per check and exits 0 when all held.
#include <windows.h>
// After windows.h, which it needs.
#include <commctrl.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

constexpr DWORD kStartTimeout = 20000;
constexpr DWORD kJobTimeout = 60000;
constexpr DWORD kExitTimeout = 15000;
constexpr int kDownloadId = 1002;
constexpr int kQuitId = IDCANCEL;
constexpr int kDeviceVersionId = 1009;
constexpr int kNewVersionId = 1010;
constexpr int kProgressId = 1011;
constexpr int kStatusId = 1012;
constexpr int kBoxTextId = 0xFFFF;

int g_failures = 0;

void Check(bool ok, const std::string& what) {
  std::printf("%s %s\n", ok ? "ok  " : "FAIL", what.c_str());
  std::fflush(stdout);
  if (!ok) ++g_failures;
}

std::wstring Widen(const std::string& text) {
  int n = MultiByteToWideChar(CP_UTF8, 0, text.c_str(), -1, nullptr, 0);
  std::wstring out(n > 0 ? n - 1 : 0, L'\0');
  if (n > 1) MultiByteToWideChar(CP_UTF8, 0, text.c_str(), -1, &out[0], n);
  return out;
}

std::string Narrow(const std::wstring& text) {
  int n = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, nullptr, 0, nullptr, nullptr);
  std::string out(n > 0 ? n - 1 : 0, '\0');
  if (n > 1) WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, &out[0], n, nullptr, nullptr);
  return out;
}

// A dialog of this caption that belongs to the process, or null.
struct Search {
  DWORD process;
  std::wstring caption;
  HWND found;
};

BOOL CALLBACK MatchWindow(HWND window, LPARAM param) {
  Search* search = reinterpret_cast<Search*>(param);
  DWORD owner = 0;
  GetWindowThreadProcessId(window, &owner);
  if (owner != search->process || !IsWindowVisible(window)) return TRUE;
  wchar_t name[64] = {};
  GetClassNameW(window, name, 64);
  if (std::wcscmp(name, L"#32770") != 0) return TRUE;
  wchar_t caption[256] = {};
  GetWindowTextW(window, caption, 256);
  if (search->caption != caption) return TRUE;
  search->found = window;
  return FALSE;
}

HWND FindDialog(DWORD process, const std::string& caption) {
  // FindWindowW finds the first of the caption anywhere; then make sure it is FwUpdate's.
  HWND first = FindWindowW(L"#32770", Widen(caption).c_str());
  if (first != nullptr) {
    DWORD owner = 0;
    GetWindowThreadProcessId(first, &owner);
    if (owner == process) return first;
  }
  Search search{process, Widen(caption), nullptr};
  EnumWindows(MatchWindow, reinterpret_cast<LPARAM>(&search));
  return search.found;
}

HWND WaitForDialog(DWORD process, const std::string& caption, DWORD timeout) {
  DWORD start = GetTickCount();
  for (;;) {
    HWND window = FindDialog(process, caption);
    if (window != nullptr) return window;
    if (GetTickCount() - start > timeout) return nullptr;
    Sleep(50);
  }
}

std::string Text(HWND dialog, int id) {
  HWND control = GetDlgItem(dialog, id);
  if (control == nullptr) return "<no control>";
  wchar_t buffer[1024] = {};
  SendMessageW(control, WM_GETTEXT, 1024, reinterpret_cast<LPARAM>(buffer));
  return Narrow(buffer);
}

bool Enabled(HWND dialog, int id) { return IsWindowEnabled(GetDlgItem(dialog, id)) != FALSE; }

int BarPosition(HWND dialog) {
  return static_cast<int>(SendMessageW(GetDlgItem(dialog, kProgressId), PBM_GETPOS, 0, 0));
}

void Click(HWND dialog, int id) {
  PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED),
               reinterpret_cast<LPARAM>(GetDlgItem(dialog, id)));
}

std::string Escape(const std::string& text) {
  std::string out;
  for (char c : text) out += c == '\n' ? std::string("\\n") : std::string(1, c);
  return out;
}

struct Program {
  PROCESS_INFORMATION info{};
  bool started = false;
  ~Program() {
    if (!started) return;
    if (WaitForSingleObject(info.hProcess, 0) == WAIT_TIMEOUT) TerminateProcess(info.hProcess, 9);
    CloseHandle(info.hThread);
    CloseHandle(info.hProcess);
  }
  bool Start(const std::string& folder) {
    std::string exe = folder + "\\FwUpdate.exe";
    std::vector<char> command(exe.begin(), exe.end());
    command.insert(command.begin(), '"');
    command.push_back('"');
    command.push_back('\0');
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    started = CreateProcessA(exe.c_str(), command.data(), nullptr, nullptr, FALSE, 0, nullptr,
                             folder.c_str(), &startup, &info) != FALSE;
    return started;
  }
  // Exit code, or -1 if it is still running after `timeout`.
  long WaitExit(DWORD timeout) {
    if (WaitForSingleObject(info.hProcess, timeout) != WAIT_OBJECT_0) return -1;
    DWORD code = 0;
    GetExitCodeProcess(info.hProcess, &code);
    return static_cast<long>(code);
  }
};

bool FileExists(const std::string& path) {
  return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

// Asks the outer script for a screenshot and waits until it has been taken.
void Screenshot(const std::string& folder, const std::string& name) {
  if (name.empty()) return;
  Sleep(300);  // a window just found may not be painted yet
  std::string done = folder + "\\" + name + ".done";
  DeleteFileA(done.c_str());
  HANDLE request = CreateFileA((folder + "\\" + name + ".request").c_str(), GENERIC_WRITE, 0,
                               nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (request != INVALID_HANDLE_VALUE) CloseHandle(request);
  DWORD start = GetTickCount();
  while (!FileExists(done) && GetTickCount() - start < 20000) Sleep(50);
  Check(FileExists(done), "screenshot " + name + " taken");
}

// The box of this caption: checks its text, then presses its button.
bool ExpectBox(DWORD process, const std::string& caption, const std::string& text, DWORD timeout,
               const std::string& shot = "", const std::string& folder = "") {
  HWND box = WaitForDialog(process, caption, timeout);
  Check(box != nullptr, "box \"" + caption + "\" appears");
  if (box == nullptr) return false;
  Check(Text(box, kBoxTextId) == text,
        "box text \"" + Escape(Text(box, kBoxTextId)) + "\" is \"" + Escape(text) + "\"");
  Screenshot(folder, shot);
  PostMessageW(box, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
  DWORD start = GetTickCount();
  while (IsWindow(box) && GetTickCount() - start < 5000) Sleep(20);
  Check(!IsWindow(box), "box \"" + caption + "\" closes");
  return true;
}

int CountDialogs(const std::string& caption) {
  int count = 0;
  for (HWND window = FindWindowExW(nullptr, nullptr, L"#32770", Widen(caption).c_str());
       window != nullptr;
       window = FindWindowExW(nullptr, window, L"#32770", Widen(caption).c_str())) {
    ++count;
  }
  return count;
}

struct Options {
  std::string device;
  std::string image;
  std::string shot;
};

int Success(const std::string& folder, const Options& options) {
  Program program;
  Check(program.Start(folder), "FwUpdate.exe starts");
  if (!program.started) return 1;
  DWORD pid = program.info.dwProcessId;
  HWND dialog = WaitForDialog(pid, "Update Firmware", kStartTimeout);
  Check(dialog != nullptr, "dialog \"Update Firmware\" appears");
  if (dialog == nullptr) return 1;
  // Set-up ends with the versions in place; give it a moment after the window shows.
  DWORD start = GetTickCount();
  while (Text(dialog, kNewVersionId).empty() && GetTickCount() - start < 5000) Sleep(20);
  Check(Text(dialog, kDeviceVersionId) == options.device,
        "1009 shows device version " + Text(dialog, kDeviceVersionId));
  Check(Text(dialog, kNewVersionId) == options.image,
        "1010 shows new version " + Text(dialog, kNewVersionId));
  Check(Enabled(dialog, kDownloadId) && Enabled(dialog, kQuitId), "both buttons enabled");
  Screenshot(folder, options.shot.empty() ? "" : options.shot + "-ready");

  // A second copy leaves at once and leaves the first alone.
  {
    Program second;
    Check(second.Start(folder), "second FwUpdate.exe starts");
    long code = second.WaitExit(kExitTimeout);
    Check(code == 0, "second copy exits at once (code " + std::to_string(code) + ")");
    Check(CountDialogs("Update Firmware") == 1, "still one Update Firmware dialog");
  }

  Click(dialog, kDownloadId);
  start = GetTickCount();
  while (Enabled(dialog, kDownloadId) && GetTickCount() - start < 5000) Sleep(5);
  bool locked = !Enabled(dialog, kDownloadId) && !Enabled(dialog, kQuitId);
  Check(locked, "Download and Quit disabled while downloading");
  HMENU menu = GetSystemMenu(dialog, FALSE);
  if (menu != nullptr && GetMenuItemCount(menu) > 0) {
    Check((GetMenuState(menu, SC_CLOSE, MF_BYCOMMAND) & MF_GRAYED) != 0,
          "Close greyed while downloading");
  }
  // The Close command and Escape must not end the dialog under the running job.
  PostMessageW(dialog, WM_SYSCOMMAND, SC_CLOSE, 0);
  PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
  PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);

  int highest = 0;
  int samples = 0;
  HWND box = nullptr;
  start = GetTickCount();
  while (GetTickCount() - start < kJobTimeout) {
    int position = BarPosition(dialog);
    if (position > highest) highest = position;
    if (position > 0 && position < 100) ++samples;
    box = FindDialog(pid, "Successfully");
    if (box != nullptr || FindDialog(pid, "Error") != nullptr) break;
    Sleep(5);
  }
  Check(IsWindow(dialog) != FALSE, "dialog survived Close, Escape and Enter while downloading");
  if (box != nullptr) highest = BarPosition(dialog) > highest ? BarPosition(dialog) : highest;
  Check(highest == 100, "progress bar reached " + std::to_string(highest));
  Check(Text(dialog, kStatusId) == "100%", "status text " + Text(dialog, kStatusId));
  std::printf("info bar seen between 0 and 100 in %d samples\n", samples);
  Check(ExpectBox(pid, "Successfully", "Download successfully!", 1000, options.shot, folder),
        "download ends in success");
  Check(Enabled(dialog, kDownloadId) && Enabled(dialog, kQuitId),
        "both buttons enabled after the box");
  if (menu != nullptr && GetMenuItemCount(menu) > 0) {
    Check((GetMenuState(menu, SC_CLOSE, MF_BYCOMMAND) & MF_GRAYED) == 0,
          "Close enabled again after the box");
  }
  Check(Text(dialog, kDeviceVersionId) == options.image,
        "1009 shows the new version " + Text(dialog, kDeviceVersionId));
  Check(BarPosition(dialog) == 0 && Text(dialog, kStatusId).empty(), "bar and status reset");
  Screenshot(folder, options.shot.empty() ? "" : options.shot + "-done");

  Click(dialog, kQuitId);
  long code = program.WaitExit(kExitTimeout);
  Check(code == 0, "Quit ends FwUpdate (code " + std::to_string(code) + ")");
  return g_failures == 0 ? 0 : 1;
}

// The system menu's About item opens the About box. The menu of another process can be read
// where the system shares menus between processes; where it cannot, that check is skipped.
int About(const std::string& folder) {
  Program program;
  Check(program.Start(folder), "FwUpdate.exe starts");
  if (!program.started) return 1;
  DWORD pid = program.info.dwProcessId;
  HWND dialog = WaitForDialog(pid, "Update Firmware", kStartTimeout);
  Check(dialog != nullptr, "dialog \"Update Firmware\" appears");
  if (dialog == nullptr) return 1;
  HMENU menu = GetSystemMenu(dialog, FALSE);
  int count = menu != nullptr ? GetMenuItemCount(menu) : -1;
  if (count > 0) {
    wchar_t text[128] = {};
    GetMenuStringW(menu, 16, text, 128, MF_BYCOMMAND);
    Check(Narrow(text) == "\xE5\x85\xB3\xE4\xBA\x8E FwUpdate(&A)...",
          "system menu item 16 reads " + Narrow(text));
  } else {
    std::printf("info the system menu of another process is not readable here\n");
  }
  PostMessageW(dialog, WM_SYSCOMMAND, 16, 0);
  HWND about = WaitForDialog(pid, "About FwUpdate", 5000);
  Check(about != nullptr, "About box opens from command 16");
  if (about != nullptr) {
    bool found = false;
    for (HWND child = GetWindow(about, GW_CHILD); child != nullptr;
         child = GetWindow(child, GW_HWNDNEXT)) {
      wchar_t text[64] = {};
      GetWindowTextW(child, text, 64);
      if (Narrow(text) == "FwUpdate 0.90c2") found = true;
    }
    Check(found, "About box shows FwUpdate 0.90c2");
    Check(Text(about, IDOK) == "OK", "About box has its OK button");
    Screenshot(folder, "about");
    Click(about, IDOK);
    DWORD start = GetTickCount();
    while (IsWindow(about) && GetTickCount() - start < 5000) Sleep(20);
    Check(!IsWindow(about), "About box closes");
  }
  Check(IsWindow(dialog) != FALSE, "dialog stays after the About box");
  Click(dialog, kQuitId);
  long code = program.WaitExit(kExitTimeout);
  Check(code == 0, "Quit ends FwUpdate (code " + std::to_string(code) + ")");
  return g_failures == 0 ? 0 : 1;
}

int SetUpFailure(const std::string& folder, const std::string& text) {
  Program program;
  Check(program.Start(folder), "FwUpdate.exe starts");
  if (!program.started) return 1;
  DWORD pid = program.info.dwProcessId;
  ExpectBox(pid, "Error", text, kStartTimeout);
  long code = program.WaitExit(kExitTimeout);
  Check(code == 0, "FwUpdate ends after the box (code " + std::to_string(code) + ")");
  return g_failures == 0 ? 0 : 1;
}

}  // namespace

int Run(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr,
                 "usage: fwupdate_driver success|about|no-library|no-device FOLDER [options]\n");
    return 2;
  }
  std::string scenario = argv[1];
  std::string folder = argv[2];
  Options options;
  for (int i = 3; i + 1 < argc; i += 2) {
    std::string key = argv[i];
    if (key == "--device") options.device = argv[i + 1];
    if (key == "--image") options.image = argv[i + 1];
    if (key == "--shot") options.shot = argv[i + 1];
  }
  if (scenario == "success") return Success(folder, options);
  if (scenario == "about") return About(folder);
  if (scenario == "no-library")
    return SetUpFailure(folder, "Failure in Loading DLL - Flashkit.dll");
  if (scenario == "no-device") {
    return SetUpFailure(folder,
                        "No Device Connect !\nPlease plug the device into USB port and run again!");
  }
  std::fprintf(stderr, "unknown scenario %s\n", scenario.c_str());
  return 2;
}

// The result also goes to the log: under a virtual desktop the exit code does not come back.
int main(int argc, char** argv) {
  int result = Run(argc, argv);
  std::printf("result: %s\n", result == 0 ? "pass" : "fail");
  return result;
}
