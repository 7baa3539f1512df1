// How long a network phase of the installer may go without progress before it
// is given up: a server that accepts and then says nothing, or stops in the
// middle of a body, ends the phase as any network failure does.
#pragma once

#include <windows.h>

namespace orvex {

// The limit of the installer as shipped.
constexpr DWORD kStallLimitMs = 60000;

// The limit of this build: kStallLimitMs, unless a test build chose a shorter one.
DWORD StallLimitMs();

}  // namespace orvex
