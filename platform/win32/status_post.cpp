#include "platform/win32/win32.h"
#include "platform/win32/win32_ports.h"

namespace platform::win32 {

void Win32StatusPost::Post(void* window, std::uint32_t message, std::uintptr_t wParam,
                           std::intptr_t lParam) {
  // A null window would turn the post into a message for the job thread's own queue, which
  // nobody reads; it names no window, so it is dropped like a post to a window that is gone.
  if (!window) return;
  PostMessageA(static_cast<HWND>(window), message, static_cast<WPARAM>(wParam),
               static_cast<LPARAM>(lParam));
}

}  // namespace platform::win32
