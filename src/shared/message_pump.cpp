#include "message_pump.h"

#include <windows.h>

namespace orvex {

void PumpOneMessage() {
  MSG msg;
  if (::PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
    ::TranslateMessage(&msg);
    ::DispatchMessageA(&msg);
  }
}

HeldQuit::~HeldQuit() {
  if (held_) ::PostQuitMessage(exitCode_);
}

void PumpOneMessage(HeldQuit& quit) {
  MSG msg;
  if (!::PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) return;
  if (msg.message == WM_QUIT) {
    quit.Hold(static_cast<int>(msg.wParam));
    return;
  }
  ::TranslateMessage(&msg);
  ::DispatchMessageA(&msg);
}

}  // namespace orvex
