// The checks running on each thread, by rendezvous name. A check that runs a
// message loop (the old-version box, the first-installation wait) may have a
// check of the same product nested on its thread by a message it dispatches.
// That nested check must not take a side in the rendezvous: it would wait for
// what only the suspended check beneath it can do.
#pragma once

#include <windows.h>

namespace orvex {

// Records a check of one rendezvous on the calling thread for as long as it
// lives. The record is plain module data (the module has no thread-local
// storage and no static constructors): a fixed table of slots, each claimed
// by one thread with an interlocked exchange and touched by that thread alone.
class ThreadCheck {
 public:
  explicit ThreadCheck(const char* rendezvousName);
  ~ThreadCheck();
  ThreadCheck(const ThreadCheck&) = delete;
  ThreadCheck& operator=(const ThreadCheck&) = delete;

  // A check of the same rendezvous already runs beneath this one on this
  // thread; nothing was recorded.
  bool Nested() const { return nested_; }

 private:
  int slot_ = -1;  // -1: not recorded (nested, or the table was full)
  bool nested_ = false;
};

}  // namespace orvex
