// Persistence of the control's property map, in order: "_cx" and "_cy" (the
// extent, raw 32-bit values) and "Info" (DISPID 1, through the control's
// dispatch interface, so that loading a saved control runs the install check,
// or, on a page that may not drive the control, stores Info and runs none).
#pragma once

#include <windows.h>
#include <ocidl.h>

namespace orvex {

// Stream format: version 0x00000300, _cx, _cy (32-bit little-endian), then
// Info as its VARTYPE (16 bits) and its string form: a 32-bit count and one
// byte per character (the low 8 bits of each UTF-16 unit).
constexpr DWORD kStreamFormatVersion = 0x00000300;

HRESULT LoadProperties(IStream* stream, SIZEL& extent, IDispatch* control);
HRESULT SaveProperties(IStream* stream, const SIZEL& extent, BSTR info);

// A property bag: "_cx" and "_cy" as VT_UI4, "Info" as a string. Names missing
// from the bag are skipped.
HRESULT LoadProperties(IPropertyBag* bag, IErrorLog* log, SIZEL& extent, IDispatch* control);
HRESULT SaveProperties(IPropertyBag* bag, const SIZEL& extent, BSTR info);

}  // namespace orvex
