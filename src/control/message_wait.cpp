#include "message_wait.h"

namespace orvex {

void WaitPumpingMessages(const HANDLE* handles, DWORD count) {
  for (;;) {
    const DWORD result = ::WaitForMultipleObjects(count, handles, FALSE, kPumpSliceMilliseconds);
    if (result < WAIT_OBJECT_0 + count) return;
    if (result == WAIT_FAILED) return;
    PumpOneMessage();
  }
}

}  // namespace orvex
