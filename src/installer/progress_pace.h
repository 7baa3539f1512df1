// When the progress dialog shows a new byte count: at the pace a person can
// see, not on every chunk of a download.
#pragma once

#include <windows.h>

namespace orvex {

// The shortest time between two counts shown: at most about 30 a second.
constexpr ULONGLONG kProgressIntervalMs = 33;

// Milliseconds since any fixed point; the dialog's pace uses GetTickCount64.
using MillisecondClock = ULONGLONG(WINAPI*)();

class ProgressPace {
 public:
  explicit ProgressPace(MillisecondClock clock = ::GetTickCount64, ULONGLONG intervalMs = kProgressIntervalMs)
      : clock_(clock), intervalMs_(intervalMs) {}

  // A new count of done of total bytes: true when it is to be shown now.
  // Shown at once are the first count (and the first after an empty one),
  // the final one (done reaching total), an empty one (either 0), and any
  // count once the interval has passed since the last one shown. Others are
  // held back until a later count, Due or Stop shows them.
  bool Next(DWORD done, DWORD total);
  // Between counts (a wait for the network): true when a count is held back
  // and the interval has passed, so that it is to be shown now.
  bool Due();
  // The counting stopped where it is (a failure, Cancel, the end): true when
  // its last count was held back and is to be shown now.
  bool Stop();
  // Whether a count is held back, not yet shown.
  bool Held() const { return held_; }

 private:
  MillisecondClock clock_;
  ULONGLONG intervalMs_;
  ULONGLONG lastShownMs_ = 0;
  bool started_ = false;
  bool held_ = false;
};

}  // namespace orvex
