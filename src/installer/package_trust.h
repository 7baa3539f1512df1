// Whether a package may run: its Authenticode signature must verify and its
// signer must be the maker's publisher, fixed at build time.
#pragma once

#include <windows.h>

namespace orvex {

// The publisher a package's signer must name (its certificate's common name
// or organisation); empty when the build switched the requirement off.
const wchar_t* PinnedPublisher();

// Whether a name the certificate states is the publisher: the same Unicode
// text exactly, with no conversion that could map distinct characters onto
// the same letters.
bool IsPublisherName(const wchar_t* stated, const wchar_t* publisher);

// Verifies the open package file (read access) with the platform's trust
// verification, without user interface, and requires its signer's
// certificate to name publisher. An empty publisher verifies nothing and
// accepts every package.
bool PackageIsTrusted(HANDLE file, const char* path, const wchar_t* publisher);

}  // namespace orvex
