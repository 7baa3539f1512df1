// The control's message-dispatching wait: the host thread stays responsive,
// one message per empty 10-millisecond slice.
#pragma once

#include <windows.h>

#include "message_pump.h"

namespace orvex {

// Returns when one of the handles is signalled (or the wait itself fails, so
// that a bad handle cannot turn into an endless loop).
void WaitPumpingMessages(const HANDLE* handles, DWORD count);

}  // namespace orvex
