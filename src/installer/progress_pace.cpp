#include "progress_pace.h"

namespace orvex {

bool ProgressPace::Next(DWORD done, DWORD total) {
  const ULONGLONG now = clock_();
  const bool empty = done == 0 || total == 0;
  if (empty || !started_ || done >= total || now - lastShownMs_ >= intervalMs_) {
    // After an empty count, the next one is a first count again.
    started_ = !empty;
    lastShownMs_ = now;
    held_ = false;
    return true;
  }
  held_ = true;
  return false;
}

bool ProgressPace::Due() {
  if (!held_ || clock_() - lastShownMs_ < intervalMs_) return false;
  return Stop();
}

bool ProgressPace::Stop() {
  if (!held_) return false;
  lastShownMs_ = clock_();
  held_ = false;
  return true;
}

}  // namespace orvex
