// Time on the performance counter, in nanoseconds, and the median of samples.
#pragma once

#include <windows.h>

#include <algorithm>
#include <vector>

namespace orvex::bench {

class Stopwatch {
 public:
  Stopwatch() {
    ::QueryPerformanceFrequency(&frequency_);
    Restart();
  }
  void Restart() { ::QueryPerformanceCounter(&start_); }
  long long ElapsedNs() const {
    LARGE_INTEGER now;
    ::QueryPerformanceCounter(&now);
    return ToNs(now.QuadPart - start_.QuadPart);
  }

 private:
  long long ToNs(long long ticks) const {
    return static_cast<long long>(static_cast<double>(ticks) * 1e9 / static_cast<double>(frequency_.QuadPart));
  }
  LARGE_INTEGER frequency_{};
  LARGE_INTEGER start_{};
};

// The median of the samples (the mean of the middle two for an even count); 0 for none.
inline long long Median(std::vector<long long> samples) {
  if (samples.empty()) return 0;
  std::sort(samples.begin(), samples.end());
  const std::size_t middle = samples.size() / 2;
  if (samples.size() % 2 == 1) return samples[middle];
  return (samples[middle - 1] + samples[middle]) / 2;
}

}  // namespace orvex::bench
