// The stall limit this build uses; a separate unit so that a test build may
// choose a shorter one.
#include "stall_limit.h"

#ifndef ORVEX_STALL_LIMIT_MS
#define ORVEX_STALL_LIMIT_MS kStallLimitMs
#endif

namespace orvex {

DWORD StallLimitMs() { return ORVEX_STALL_LIMIT_MS; }

}  // namespace orvex
