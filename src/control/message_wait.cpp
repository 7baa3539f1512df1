#include "message_wait.h"

namespace orvex {

DWORD WaitPumpingMessages(const HANDLE* handles, DWORD count) {
  HeldQuit quit;
  for (;;) {
    const DWORD result = ::WaitForMultipleObjects(count, handles, FALSE, kPumpSliceMilliseconds);
    if (result < WAIT_OBJECT_0 + count) return result - WAIT_OBJECT_0;
    if (result >= WAIT_ABANDONED_0 && result < WAIT_ABANDONED_0 + count) return result - WAIT_ABANDONED_0;
    if (result == WAIT_FAILED) return count;
    PumpOneMessage(quit);
  }
}

}  // namespace orvex
