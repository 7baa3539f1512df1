#include "check_host.h"

#include "install_check.h"

namespace orvex::test {


CheckHost::CheckHost(std::string info, Options options) : info_(std::move(info)), options_(options) {
  ready_ = ::CreateEventA(nullptr, TRUE, FALSE, nullptr);
  thread_ = ::CreateThread(nullptr, 0, ThreadMain, this, 0, &threadId_);
  ::WaitForSingleObject(ready_, 10000);
}

CheckHost::~CheckHost() {
  if (thread_ != nullptr) {
    // A check that never returns is a failed test; do not hang the run with it.
    JoinHostThread(thread_, 60000, "a check host");
    ::CloseHandle(thread_);
  }
  if (ready_ != nullptr) ::CloseHandle(ready_);
}

bool CheckHost::WaitDone(DWORD timeoutMs) {
  return thread_ != nullptr && ::WaitForSingleObject(thread_, timeoutMs) == WAIT_OBJECT_0 && done_;
}

std::vector<std::string> CheckHost::Events() const { return events_.Events(); }

DWORD WINAPI CheckHost::ThreadMain(void* param) {
  auto* self = static_cast<CheckHost*>(param);
  HWND window = CreateHostWindow("Check host", &self->events_);
  if (self->options_.holdShift) {
    BYTE keys[256] = {};
    ::GetKeyboardState(keys);
    keys[VK_SHIFT] |= 0x80;
    ::SetKeyboardState(keys);
  }
  self->window_ = window;
  self->windowWasActive_ = ::GetActiveWindow() == window;
  self->events_.Start();
  ::SetEvent(self->ready_);

  InstallCheck(self->info_.c_str());
  MSG quit;
  if (::PeekMessageA(&quit, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE)) self->quitAfterCheck_ = static_cast<int>(quit.wParam);

  self->events_.Stop();
  self->done_ = true;
  DestroyHostWindow(window);
  return 0;
}

}  // namespace orvex::test
