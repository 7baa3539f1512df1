#include "leader_mutex.h"

#include "object_names.h"

namespace orvex {

bool LeaderMutex::Open(const char* rendezvousName) {
  char name[kObjectNameSize];
  if (!BuildObjectName(kLeaderPrefix, rendezvousName, name, sizeof(name))) return false;
  mutex_.Reset(::CreateMutexA(nullptr, TRUE, name));
  if (!mutex_) return false;
  // Created now, it is ours already; opened, the initial ownership was not given.
  existed_ = ::GetLastError() == ERROR_ALREADY_EXISTS;
  owned_ = !existed_;
  if (existed_) Own(0);
  return true;
}

bool LeaderMutex::Own(DWORD timeoutMs) {
  if (owned_) return true;
  const DWORD result = ::WaitForSingleObject(mutex_.Get(), timeoutMs);
  owned_ = result == WAIT_OBJECT_0 || result == WAIT_ABANDONED;
  return owned_;
}

void LeaderMutex::Close() {
  if (owned_) ::ReleaseMutex(mutex_.Get());
  owned_ = false;
  mutex_.Reset();
}

}  // namespace orvex
