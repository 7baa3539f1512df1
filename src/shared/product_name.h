// Which rendezvous (product) names both deliverables accept. The name becomes a
// kernel-object suffix, a file name in the downloads folder, a URL path segment
// and a registry key name, so it must be usable as a plain file name.
#pragma once

#include <cstddef>

namespace orvex {

// True when the first length bytes of name fit the block's productName field
// and form a plain file name that means the same inside a URL path: no path
// separators, none of : * ? " < > | # % & ;, no control characters, and not
// "." or "..". The empty name is accepted: it is the name of an empty Info,
// which the installer itself turns away.
bool IsAcceptableProductName(const char* name, std::size_t length);

bool IsAcceptableProductName(const char* name);

}  // namespace orvex
