// Dispatching one message of the calling thread, as both deliverables' waits do.
#pragma once

namespace orvex {

// The slice of every message-dispatching wait, in milliseconds.
constexpr unsigned long kPumpSliceMilliseconds = 10;

// Removes at most one message of the calling thread's queue (any window, any
// message number), translates and dispatches it; returns at once when there is
// none. Messages other threads send to this thread's windows are delivered too.
void PumpOneMessage();

}  // namespace orvex
