#include "host_window.h"

#include <cstdio>

#include "install_check.h"

namespace orvex::test {

namespace {
LRESULT CALLBACK HostWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == kNestedCheckMessage) InstallCheck(reinterpret_cast<const char*>(lParam));
  auto* events = reinterpret_cast<HostWindowEvents*>(::GetWindowLongPtrA(window, GWLP_USERDATA));
  if (events != nullptr) events->Observe(message, wParam);
  return ::DefWindowProcA(window, message, wParam, lParam);
}
}  // namespace

std::vector<std::string> HostWindowEvents::Events() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return events_;
}

void HostWindowEvents::Observe(UINT message, WPARAM wParam) {
  if (message == WM_SIZE && wParam == SIZE_MINIMIZED) Record("minimized");
  if (message == WM_SIZE && wParam == SIZE_RESTORED) Record("restored");
  if (message == WM_ENABLE) Record(wParam ? "enabled" : "disabled");
  if (message == kNestedCheckMessage) Record("nested");
}

void HostWindowEvents::Record(const char* event) {
  if (!recording_) return;
  std::lock_guard<std::mutex> lock(mutex_);
  events_.emplace_back(event);
}

HWND CreateHostWindow(const char* title, HostWindowEvents* events) {
  WNDCLASSA windowClass = {};
  windowClass.lpfnWndProc = HostWindowProc;
  windowClass.hInstance = ::GetModuleHandleA(nullptr);
  windowClass.lpszClassName = kHostWindowClass;
  windowClass.hCursor = ::LoadCursor(nullptr, IDC_ARROW);
  ::RegisterClassA(&windowClass);  // fails harmlessly when already registered
  HWND window = ::CreateWindowExA(0, kHostWindowClass, title, WS_OVERLAPPEDWINDOW | WS_VISIBLE, 10, 10, 320, 240, nullptr,
                                  nullptr, ::GetModuleHandleA(nullptr), nullptr);
  if (window == nullptr) return nullptr;
  ::SetWindowLongPtrA(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(events));
  ::SetActiveWindow(window);
  return window;
}

void DestroyHostWindow(HWND window) {
  if (window == nullptr) return;
  ::SetWindowLongPtrA(window, GWLP_USERDATA, 0);
  ::DestroyWindow(window);
}

bool WindowThreadPumps(HWND window, DWORD timeoutMs) {
  DWORD_PTR result = 0;
  return ::SendMessageTimeoutA(window, WM_NULL, 0, 0, SMTO_NORMAL, timeoutMs, &result) != 0;
}

void JoinHostThread(HANDLE thread, DWORD timeoutMs, const char* host) {
  if (thread == nullptr || ::WaitForSingleObject(thread, timeoutMs) == WAIT_OBJECT_0) return;
  std::fprintf(stderr, "%s: its thread did not end within %lu ms of the host going; ending the process\n", host,
               static_cast<unsigned long>(timeoutMs));
  std::fflush(stderr);
  ::TerminateProcess(::GetCurrentProcess(), 3);
}

}  // namespace orvex::test
