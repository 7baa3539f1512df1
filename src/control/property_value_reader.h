// Reads one recorded property value from a stream: its VARTYPE has been read
// already; fixed-size kinds follow as their bytes, every other kind in its
// string form (a 32-bit count and one byte per character).
#pragma once

#include <windows.h>
#include <oleauto.h>

namespace orvex {

// Reads exactly size bytes; a short read counts as E_FAIL.
HRESULT ReadExact(IStream* stream, void* data, ULONG size);

// Fills value (which must be empty) with a value of the given type. A string
// whose count runs past the end of the stream fails with E_FAIL; memory grows
// with the bytes actually read, never with the count the stream announces.
// Object kinds (VT_UNKNOWN, VT_DISPATCH) are refused with E_FAIL: the control's
// property map holds no object, and loading one would run code of the
// stream's choosing.
HRESULT ReadPropertyValue(IStream* stream, VARTYPE type, VARIANT& value);

}  // namespace orvex
