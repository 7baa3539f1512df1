// Dispatching one message of the calling thread, as both deliverables' waits do.
#pragma once

namespace orvex {

// The slice of every message-dispatching wait, in milliseconds.
constexpr unsigned long kPumpSliceMilliseconds = 10;

// Removes at most one message of the calling thread's queue (any window, any
// message number), translates and dispatches it; returns at once when there is
// none. Messages other threads send to this thread's windows are delivered too.
void PumpOneMessage();

// A WM_QUIT that a dispatching wait took from the queue. Dispatched, it would
// be lost, and with it the host's wish to end once the wait is over: it is
// kept instead and posted again, with its exit code, when the holder goes out
// of scope at the end of the wait.
class HeldQuit {
 public:
  HeldQuit() = default;
  ~HeldQuit();
  HeldQuit(const HeldQuit&) = delete;
  HeldQuit& operator=(const HeldQuit&) = delete;

  void Hold(int exitCode) {
    held_ = true;
    exitCode_ = exitCode;
  }

 private:
  bool held_ = false;
  int exitCode_ = 0;
};

// As PumpOneMessage, but a WM_QUIT goes to quit instead of being dispatched.
// The wait goes on dispatching the messages that follow it.
void PumpOneMessage(HeldQuit& quit);

}  // namespace orvex
