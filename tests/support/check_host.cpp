#include "check_host.h"

#include "install_check.h"

namespace orvex::test {

namespace {
constexpr char kHostClass[] = "OrvexTestCheckHost";

void RegisterHostClass(WNDPROC procedure) {
  WNDCLASSA windowClass = {};
  windowClass.lpfnWndProc = procedure;
  windowClass.hInstance = ::GetModuleHandleA(nullptr);
  windowClass.lpszClassName = kHostClass;
  windowClass.hCursor = ::LoadCursor(nullptr, IDC_ARROW);
  ::RegisterClassA(&windowClass);  // fails harmlessly when already registered
}
}  // namespace

CheckHost::CheckHost(std::string info, Options options) : info_(std::move(info)), options_(options) {
  ready_ = ::CreateEventA(nullptr, TRUE, FALSE, nullptr);
  thread_ = ::CreateThread(nullptr, 0, ThreadMain, this, 0, nullptr);
  ::WaitForSingleObject(ready_, 10000);
}

CheckHost::~CheckHost() {
  if (thread_ != nullptr) {
    // A check that never returns is a failed test; do not hang the run with it.
    if (::WaitForSingleObject(thread_, 30000) != WAIT_OBJECT_0) ::TerminateThread(thread_, 1);
    ::CloseHandle(thread_);
  }
  if (ready_ != nullptr) ::CloseHandle(ready_);
}

bool CheckHost::WaitDone(DWORD timeoutMs) {
  return thread_ != nullptr && ::WaitForSingleObject(thread_, timeoutMs) == WAIT_OBJECT_0 && done_;
}

std::vector<std::string> CheckHost::Events() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return events_;
}

void CheckHost::Record(const char* event) {
  if (!recording_) return;
  std::lock_guard<std::mutex> lock(mutex_);
  events_.emplace_back(event);
}

LRESULT CALLBACK CheckHost::WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  auto* host = reinterpret_cast<CheckHost*>(::GetWindowLongPtrA(window, GWLP_USERDATA));
  if (host != nullptr) {
    if (message == WM_SIZE && wParam == SIZE_MINIMIZED) host->Record("minimized");
    if (message == WM_SIZE && wParam == SIZE_RESTORED) host->Record("restored");
    if (message == WM_ENABLE) host->Record(wParam ? "enabled" : "disabled");
  }
  return ::DefWindowProcA(window, message, wParam, lParam);
}

DWORD WINAPI CheckHost::ThreadMain(void* param) {
  auto* self = static_cast<CheckHost*>(param);
  RegisterHostClass(WindowProc);
  HWND window = ::CreateWindowExA(0, kHostClass, "Check host", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 10, 10, 320,
                                  240, nullptr, nullptr, ::GetModuleHandleA(nullptr), nullptr);
  ::SetWindowLongPtrA(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
  ::SetActiveWindow(window);
  if (self->options_.holdShift) {
    BYTE keys[256] = {};
    ::GetKeyboardState(keys);
    keys[VK_SHIFT] |= 0x80;
    ::SetKeyboardState(keys);
  }
  self->window_ = window;
  self->windowWasActive_ = ::GetActiveWindow() == window;
  self->recording_ = true;
  ::SetEvent(self->ready_);

  InstallCheck(self->info_.c_str());

  self->recording_ = false;
  self->done_ = true;
  ::SetWindowLongPtrA(window, GWLP_USERDATA, 0);
  ::DestroyWindow(window);
  return 0;
}

}  // namespace orvex::test
