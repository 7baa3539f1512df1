// Variants measured side by side: each call of each variant timed alone, the
// variants taking turns in a rotating order, one median per variant and round.
#pragma once

#include <vector>

#include "bench_clock.h"

namespace orvex::bench {

// run(variant) makes one call of a variant; report(variant, round, medianNs)
// takes each round's result. Every variant is first called warmUpCalls times.
template <typename Run, typename ReportRound>
void MeasureInTurns(int variantCount, int warmUpCalls, int rounds, int calls, Run run, ReportRound report) {
  for (int i = 0; i < warmUpCalls; ++i) {
    for (int variant = 0; variant < variantCount; ++variant) run(variant);
  }
  Stopwatch clock;
  std::vector<std::vector<long long>> samples(static_cast<std::size_t>(variantCount));
  for (int round = 0; round < rounds; ++round) {
    for (auto& series : samples) series.clear();
    for (int call = 0; call < calls; ++call) {
      for (int turn = 0; turn < variantCount; ++turn) {
        const int variant = (turn + call) % variantCount;
        clock.Restart();
        run(variant);
        samples[static_cast<std::size_t>(variant)].push_back(clock.ElapsedNs());
      }
    }
    for (int variant = 0; variant < variantCount; ++variant) {
      report(variant, round, Median(samples[static_cast<std::size_t>(variant)]));
    }
  }
}

}  // namespace orvex::bench
