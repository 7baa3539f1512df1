#include "check_host.h"

#include "install_check.h"

namespace orvex::test {

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
