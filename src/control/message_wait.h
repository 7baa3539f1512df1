// The control's message-dispatching wait: the host thread stays responsive,
// one message per empty 10-millisecond slice.
#pragma once

#include <windows.h>

#include "message_pump.h"

namespace orvex {

// Returns the index of the handle that ended the wait, signalled or (a mutex)
// abandoned; count when the wait itself fails, so that a bad handle cannot
// turn into an endless loop. A WM_QUIT met meanwhile is posted again on return.
DWORD WaitPumpingMessages(const HANDLE* handles, DWORD count);

}  // namespace orvex
