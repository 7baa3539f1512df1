// "leader_" + rendezvous name: a mutex the leading check owns from before it
// creates the mapping until it has released the rendezvous. Its followers wait
// on it too: when it is released, or abandoned because the leader's process
// ended, the leader is gone and nothing they wait for may ever come.
#pragma once

#include <windows.h>

#include "win_handles.h"

namespace orvex {

class LeaderMutex {
 public:
  LeaderMutex() = default;
  ~LeaderMutex() { Close(); }
  LeaderMutex(const LeaderMutex&) = delete;
  LeaderMutex& operator=(const LeaderMutex&) = delete;

  // Creates the mutex owned, or opens it and takes it when it is free (or
  // abandoned). False when it can be neither created nor opened.
  bool Open(const char* rendezvousName);

  HANDLE Get() const { return mutex_.Get(); }
  // Another check (or one that ended while another held it open) made it:
  // a leader that knows it may be running.
  bool Existed() const { return existed_; }
  bool Owned() const { return owned_; }

  // Waits at most timeoutMs to own it; true when owned.
  bool Own(DWORD timeoutMs);
  // Records that a wait on Get() reported it, signalled or abandoned: it is owned now.
  void Acquired() { owned_ = true; }
  // Releases ownership and closes the handle.
  void Close();

 private:
  UniqueHandle mutex_;
  bool existed_ = false;
  bool owned_ = false;
};

}  // namespace orvex
