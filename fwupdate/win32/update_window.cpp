#include "update_window.h"

#include <commctrl.h>

#include <vector>

#include "resource.h"

namespace fwupdate {

namespace {

template <typename Function>
bool Bind(HMODULE library, const char* name, Function& function) {
  function = reinterpret_cast<Function>(reinterpret_cast<void*>(::GetProcAddress(library, name)));
  return function != nullptr;
}

}  // namespace

AboutWindow::AboutWindow(HINSTANCE instance) : DialogBase(instance, IDD_ABOUTBOX) {}

UpdateWindow::UpdateWindow(HINSTANCE instance)
    : DialogBase(instance, IDD_FWUPDATE_DIALOG), dialog_(*this) {
  icon_ = ::LoadIconA(instance, MAKEINTRESOURCEA(IDR_MAINFRAME));
  smallIcon_ = static_cast<HICON>(::LoadImageA(instance, MAKEINTRESOURCEA(IDR_MAINFRAME),
                                               IMAGE_ICON, ::GetSystemMetrics(SM_CXSMICON),
                                               ::GetSystemMetrics(SM_CYSMICON), 0));
  if (smallIcon_ == nullptr) smallIcon_ = icon_;
}

UpdateWindow::~UpdateWindow() {
  // A window that never came up still owns a library loaded for it.
  UnloadFlashkit();
  if (smallIcon_ != nullptr && smallIcon_ != icon_) ::DestroyIcon(smallIcon_);
}

BOOL UpdateWindow::OnInitDialog() {
  ShowVersions("", "");
  AppendAboutItem();
  ::SendMessageA(Window(), WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(icon_));
  ::SendMessageA(Window(), WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(smallIcon_));
  dialog_.OnInitDialog();
  return TRUE;
}

// The menu text is Chinese: it is loaded and added through the W functions so that it reads
// right whatever the ANSI code page. Windows 98 lacks them; there the A pair carries it.
void UpdateWindow::AppendAboutItem() {
  HMENU menu = ::GetSystemMenu(Window(), FALSE);
  if (menu == nullptr) return;
  wchar_t wide[256] = {};
  if (::LoadStringW(Instance(), IDS_ABOUTBOX, wide, 256) > 0 &&
      ::AppendMenuW(menu, MF_SEPARATOR, 0, nullptr)) {
    if (::AppendMenuW(menu, MF_STRING, IDM_ABOUTBOX, wide)) return;
    // Only the separator this call added goes again, never an item of the system's own.
    ::DeleteMenu(menu, ::GetMenuItemCount(menu) - 1, MF_BYPOSITION);
  }
  char narrow[256] = {};
  if (::LoadStringA(Instance(), IDS_ABOUTBOX, narrow, sizeof narrow) > 0) {
    ::AppendMenuA(menu, MF_SEPARATOR, 0, nullptr);
    ::AppendMenuA(menu, MF_STRING, IDM_ABOUTBOX, narrow);
  }
}

void UpdateWindow::OnOK() {
  if (dialog_.OnOk()) EndDialog(IDOK);
}

void UpdateWindow::OnCancel() {
  if (dialog_.OnCancel()) EndDialog(IDCANCEL);
}

bool UpdateWindow::OnCommand(WORD id, WORD code, HWND) {
  if (id == IDC_DOWNLOAD && code == BN_CLICKED) {
    dialog_.OnDownload();
    return true;
  }
  return false;
}

bool UpdateWindow::OnSysCommand(WPARAM command, LPARAM) {
  if ((command & 0xFFF0) == IDM_ABOUTBOX) {
    AboutWindow about(Instance());
    about.DoModal(Window());
    return true;
  }
  return false;
}

bool UpdateWindow::OnPaint() {
  if (!::IsIconic(Window())) return false;
  PAINTSTRUCT paint;
  HDC dc = ::BeginPaint(Window(), &paint);
  ::SendMessageA(Window(), WM_ICONERASEBKGND, reinterpret_cast<WPARAM>(dc), 0);
  RECT client;
  ::GetClientRect(Window(), &client);
  int x = (client.right - client.left - ::GetSystemMetrics(SM_CXICON) + 1) / 2;
  int y = (client.bottom - client.top - ::GetSystemMetrics(SM_CYICON) + 1) / 2;
  ::DrawIcon(dc, x, y, icon_);
  ::EndPaint(Window(), &paint);
  return true;
}

HICON UpdateWindow::OnQueryDragIcon() { return icon_; }

bool UpdateWindow::OnAppMessage(UINT message, WPARAM wParam, LPARAM lParam) {
  if (message != FLASHKIT_STATUS_MESSAGE) return false;
  dialog_.OnStatus(static_cast<std::uintptr_t>(wParam), static_cast<std::intptr_t>(lParam));
  return true;
}

void UpdateWindow::OnDestroy() { dialog_.OnDestroy(); }

// Ending the session in the middle of a download would leave the device half written.
bool UpdateWindow::OnQueryEndSession() { return dialog_.State() != DialogState::Downloading; }

void UpdateWindow::DeliverQueuedStatus() {
  MSG message;
  while (::PeekMessageA(&message, Window(), FLASHKIT_STATUS_MESSAGE, FLASHKIT_STATUS_MESSAGE,
                        PM_REMOVE)) {
    dialog_.OnStatus(static_cast<std::uintptr_t>(message.wParam),
                     static_cast<std::intptr_t>(message.lParam));
  }
}

void UpdateWindow::ShowMessageBox(const std::string& text, const std::string& caption,
                                  BoxIcon icon) {
  UINT type = MB_OK | (icon == BoxIcon::Error ? MB_ICONERROR : MB_ICONINFORMATION);
  ::MessageBoxA(Window(), text.c_str(), caption.c_str(), type);
}

void UpdateWindow::SetProgressRange(int low, int high) {
  ::SendDlgItemMessageA(Window(), IDC_PROGRESS, PBM_SETRANGE, 0, MAKELPARAM(low, high));
}

void UpdateWindow::SetProgress(int position) {
  ::SendDlgItemMessageA(Window(), IDC_PROGRESS, PBM_SETPOS, static_cast<WPARAM>(position), 0);
}

void UpdateWindow::SetStatusText(const std::string& text) {
  ::SetDlgItemTextA(Window(), IDC_STATUS, text.c_str());
}

void UpdateWindow::EnableButtons(bool enabled) {
  ::EnableWindow(::GetDlgItem(Window(), IDC_DOWNLOAD), enabled);
  ::EnableWindow(::GetDlgItem(Window(), IDCANCEL), enabled);
  // Disabling the focused button left the dialog without focus; give the keyboard a home.
  if (enabled && ::GetFocus() == nullptr) {
    ::SendMessageA(Window(), WM_NEXTDLGCTL,
                   reinterpret_cast<WPARAM>(::GetDlgItem(Window(), IDC_DOWNLOAD)), TRUE);
  }
}

void UpdateWindow::EnableCloseCommand(bool enabled) {
  HMENU menu = ::GetSystemMenu(Window(), FALSE);
  if (menu != nullptr) {
    ::EnableMenuItem(menu, SC_CLOSE, MF_BYCOMMAND | (enabled ? MF_ENABLED : MF_GRAYED));
  }
}

void UpdateWindow::ShowVersions(const std::string& device, const std::string& image) {
  ::SetDlgItemTextA(Window(), IDC_DEVICE_VERSION, device.c_str());
  ::SetDlgItemTextA(Window(), IDC_NEW_VERSION, image.c_str());
}

void UpdateWindow::RequestClose() { ::PostMessageA(Window(), WM_CLOSE, 0, 0); }

bool UpdateWindow::LoadFlashkit(FlashkitBinding& binding) {
  UnloadFlashkit();
  flashkit_ = ::LoadLibraryA("Flashkit.DLL");
  if (flashkit_ == nullptr) return false;
  FlashkitBinding bound;
  if (!Bind(flashkit_, "GetDevice", bound.GetDevice) ||
      !Bind(flashkit_, "Download", bound.Download) ||
      !Bind(flashkit_, "GetDeviceStatus", bound.GetDeviceStatus) ||
      !Bind(flashkit_, "EndDevice", bound.EndDevice) ||
      !Bind(flashkit_, "GetDeviceVersion", bound.GetDeviceVersion)) {
    UnloadFlashkit();
    return false;
  }
  binding = bound;
  return true;
}

void UpdateWindow::UnloadFlashkit() {
  if (flashkit_ != nullptr) ::FreeLibrary(flashkit_);
  flashkit_ = nullptr;
}

FlashkitWindow UpdateWindow::StatusWindow() { return Window(); }

std::string UpdateWindow::CurrentDirectory() {
  DWORD size = ::GetCurrentDirectoryA(0, nullptr);
  if (size == 0) return ".";
  std::vector<char> buffer(size + 1);
  DWORD got = ::GetCurrentDirectoryA(static_cast<DWORD>(buffer.size()), buffer.data());
  if (got == 0 || got >= buffer.size()) return ".";
  return std::string(buffer.data(), got);
}

std::string UpdateWindow::ReadProfileString(const std::string& section, const std::string& key,
                                            std::size_t size, const std::string& path) {
  std::vector<char> buffer(size + 1, '\0');
  DWORD got = ::GetPrivateProfileStringA(section.c_str(), key.c_str(), "", buffer.data(),
                                         static_cast<DWORD>(size), path.c_str());
  return std::string(buffer.data(), got < size ? got : size);
}

}  // namespace fwupdate
