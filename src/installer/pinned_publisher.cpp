// The publisher this build pins; a separate unit so that a build may choose it.
#include "package_trust.h"

#ifndef ORVEX_PUBLISHER
#error "ORVEX_PUBLISHER must be defined by the build"
#endif

namespace orvex {

const wchar_t* PinnedPublisher() { return L"" ORVEX_PUBLISHER; }

}  // namespace orvex
