#include "check_host.h"

#include <cstdio>

#include "install_check.h"

namespace orvex::test {

void HostThread::Start(const char* title, DWORD startTimeoutMs) {
  title_ = title;
  started_.Reset(::CreateEventA(nullptr, TRUE, FALSE, nullptr));
  thread_.Reset(::CreateThread(nullptr, 0, ThreadMain, this, 0, &threadId_));
  if (thread_ && started_) {
    const HANDLE either[] = {started_.Get(), thread_.Get()};
    ::WaitForMultipleObjects(2, either, FALSE, startTimeoutMs);
  }
}

void HostThread::Join(DWORD timeoutMs, const char* host) {
  if (thread_ && ::WaitForSingleObject(thread_.Get(), timeoutMs) != WAIT_OBJECT_0) {
    std::fprintf(stderr, "%s: its thread did not end within %lu ms of the host going; ending the process\n", host,
                 static_cast<unsigned long>(timeoutMs));
    std::fflush(stderr);
    ::TerminateProcess(::GetCurrentProcess(), 3);
  }
}

bool HostThread::WaitDone(DWORD timeoutMs) {
  return thread_ && ::WaitForSingleObject(thread_.Get(), timeoutMs) == WAIT_OBJECT_0 && done_;
}

std::vector<std::string> HostThread::Events() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return events_;
}

void HostThread::Record(const char* event) {
  if (!recording_) return;
  std::lock_guard<std::mutex> lock(mutex_);
  events_.emplace_back(event);
}

LRESULT CALLBACK HostThread::WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == kNestedCheckMessage) InstallCheck(reinterpret_cast<const char*>(lParam));
  auto* self = reinterpret_cast<HostThread*>(::GetWindowLongPtrA(window, GWLP_USERDATA));
  if (self != nullptr) {
    if (message == WM_SIZE && wParam == SIZE_MINIMIZED) self->Record("minimized");
    if (message == WM_SIZE && wParam == SIZE_RESTORED) self->Record("restored");
    if (message == WM_ENABLE) self->Record(wParam ? "enabled" : "disabled");
    if (message == kNestedCheckMessage) self->Record("nested");
  }
  return ::DefWindowProcA(window, message, wParam, lParam);
}

DWORD WINAPI HostThread::ThreadMain(void* param) {
  auto* self = static_cast<HostThread*>(param);
  WNDCLASSA windowClass = {};
  windowClass.lpfnWndProc = WindowProc;
  windowClass.hInstance = ::GetModuleHandleA(nullptr);
  windowClass.lpszClassName = kHostWindowClass;
  windowClass.hCursor = ::LoadCursor(nullptr, IDC_ARROW);
  ::RegisterClassA(&windowClass);  // fails harmlessly when already registered
  const HWND window = ::CreateWindowExA(0, kHostWindowClass, self->title_, WS_OVERLAPPEDWINDOW | WS_VISIBLE, 10, 10,
                                        320, 240, nullptr, nullptr, ::GetModuleHandleA(nullptr), nullptr);
  if (window != nullptr) {
    ::SetWindowLongPtrA(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
    ::SetActiveWindow(window);
  }
  self->window_ = window;
  self->windowWasActive_ = window != nullptr && ::GetActiveWindow() == window;
  self->recording_ = true;
  ::SetEvent(self->started_.Get());

  self->Work();

  self->recording_ = false;
  self->leftIconic_ = ::IsIconic(window) != FALSE;
  self->leftDisabled_ = ::IsWindowEnabled(window) == FALSE;
  self->done_ = true;
  if (window != nullptr) {
    ::SetWindowLongPtrA(window, GWLP_USERDATA, 0);
    ::DestroyWindow(window);
  }
  return 0;
}

bool WindowThreadPumps(HWND window, DWORD timeoutMs) {
  DWORD_PTR result = 0;
  return ::SendMessageTimeoutA(window, WM_NULL, 0, 0, SMTO_NORMAL, timeoutMs, &result) != 0;
}

CheckHost::CheckHost(std::string info, Options options) : info_(std::move(info)), options_(options) {
  Start("Check host", 10000);
}

// A check that never returns is a failed test; do not hang the run with it.
CheckHost::~CheckHost() { Join(60000, "a check host"); }

void CheckHost::Work() {
  if (options_.holdShift) {
    BYTE keys[256] = {};
    ::GetKeyboardState(keys);
    keys[VK_SHIFT] |= 0x80;
    ::SetKeyboardState(keys);
  }
  InstallCheck(info_.c_str());
  MSG quit;
  if (::PeekMessageA(&quit, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE)) quitAfterCheck_ = static_cast<int>(quit.wParam);
}

}  // namespace orvex::test
