#include "thread_checks.h"

#include <cstring>

#include "bounded_text.h"
#include "rendezvous_block.h"

namespace orvex {

namespace {

// More checks at once on all threads than a host nests or runs in parallel;
// when the table is full a check runs unrecorded, as checks did before.
constexpr int kSlotCount = 32;

// A thread is told apart by its id and its creation time: an id can be used
// again by a later thread, after one that ended inside a check (terminated)
// left its slot behind.
struct Slot {
  volatile LONG threadId;  // 0: free
  FILETIME threadCreated;
  char rendezvousName[kProductNameSize];
};

// Zero-initialised module data; no constructor runs.
Slot slots[kSlotCount];

FILETIME CurrentThreadCreated() {
  FILETIME created = {}, exited = {}, kernel = {}, user = {};
  ::GetThreadTimes(::GetCurrentThread(), &created, &exited, &kernel, &user);
  return created;
}

bool SameTime(const FILETIME& a, const FILETIME& b) {
  return a.dwLowDateTime == b.dwLowDateTime && a.dwHighDateTime == b.dwHighDateTime;
}

}  // namespace

ThreadCheck::ThreadCheck(const char* rendezvousName) {
  const LONG threadId = static_cast<LONG>(::GetCurrentThreadId());
  const FILETIME created = CurrentThreadCreated();
  // Only this thread writes slots that carry its id, so reading them needs no lock.
  for (Slot& slot : slots) {
    if (slot.threadId != threadId) continue;
    if (!SameTime(slot.threadCreated, created)) {
      ::InterlockedExchange(&slot.threadId, 0);  // left by an earlier thread of this id
    } else if (std::strcmp(slot.rendezvousName, rendezvousName) == 0) {
      nested_ = true;
      return;
    }
  }
  for (int i = 0; i < kSlotCount; ++i) {
    if (::InterlockedCompareExchange(&slots[i].threadId, threadId, 0) != 0) continue;
    slots[i].threadCreated = created;
    CopyText(slots[i].rendezvousName, rendezvousName);
    slot_ = i;
    return;
  }
}

ThreadCheck::~ThreadCheck() {
  if (slot_ < 0) return;
  slots[slot_].rendezvousName[0] = '\0';
  ::InterlockedExchange(&slots[slot_].threadId, 0);
}

}  // namespace orvex
