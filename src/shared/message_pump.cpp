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

}  // namespace orvex
