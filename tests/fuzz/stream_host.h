// The automation calls the control's stream loader makes, defined for its
// native fuzz build only (included by the fuzz entry alone), on the C heap so
// that the sanitizers see every block: strings (a 32-bit byte count, the
// characters and a NUL), variants whose conversions either succeed or fail (a
// string of 1 to 18 decimal digits becomes a number, a number its decimal
// text, VT_NULL and VT_ERROR have no text; kinds the loader cannot meet fail
// with DISP_E_BADVARTYPE), and a ledger of every block: host_memory::Allow
// aborts on a single block over host_memory::limit and can make the n-th block
// from now fail (host_memory::failing; 1 = the next one).
#pragma once

#include <windows.h>
#include <ocidl.h>
#include <oleauto.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

extern "C" const GUID GUID_NULL = {};

inline void HostFailure(const char* what) {
  std::fprintf(stderr, "host check failed: %s\n", what);
  std::abort();
}

namespace host_memory {

std::size_t limit = SIZE_MAX;  // no single block may be larger
unsigned blocks = 0;           // blocks asked for
unsigned failing = 0;          // the n-th block from now fails; 0 = none
bool failed = false;           // a block was made to fail

// False when this block is made to fail.
bool Allow(std::size_t bytes) {
  if (bytes > limit) HostFailure("no single allocation may be far larger than the stream");
  ++blocks;
  if (failing == 0 || --failing != 0) return true;
  return !(failed = true);
}

}  // namespace host_memory

constexpr std::size_t kStringPrefix = sizeof(std::uint32_t);

// Characters left unset when text is null are filled with 0xCDCD, so that a
// caller that forgets to fill them is seen.
BSTR WINAPI SysAllocStringLen(const OLECHAR* text, UINT length) {
  const std::size_t bytes = kStringPrefix + (static_cast<std::size_t>(length) + 1) * sizeof(OLECHAR);
  if (!host_memory::Allow(bytes) || bytes > 0x7FFFFFFFu) return nullptr;
  auto* block = static_cast<unsigned char*>(std::malloc(bytes));
  if (block == nullptr) return nullptr;
  const auto byteCount = static_cast<std::uint32_t>(length * sizeof(OLECHAR));
  std::memcpy(block, &byteCount, kStringPrefix);
  auto* characters = reinterpret_cast<OLECHAR*>(block + kStringPrefix);
  for (UINT i = 0; i < length; ++i) characters[i] = text != nullptr ? text[i] : static_cast<OLECHAR>(0xCDCD);
  characters[length] = L'\0';
  return characters;
}

UINT WINAPI SysStringLen(BSTR text) {
  std::uint32_t bytes = 0;
  if (text != nullptr) std::memcpy(&bytes, reinterpret_cast<const unsigned char*>(text) - kStringPrefix, kStringPrefix);
  return static_cast<UINT>(bytes / sizeof(OLECHAR));
}

void WINAPI SysFreeString(BSTR text) {
  if (text != nullptr) std::free(reinterpret_cast<unsigned char*>(text) - kStringPrefix);
}

void WINAPI VariantInit(VARIANTARG* value) {
  std::memset(value, 0, sizeof(*value));
  value->vt = VT_EMPTY;
}

bool HostKnownKind(VARTYPE type) {
  switch (type) {
    case VT_EMPTY: case VT_NULL: case VT_I1: case VT_UI1: case VT_I2: case VT_UI2: case VT_I4: case VT_UI4:
    case VT_INT: case VT_UINT: case VT_I8: case VT_UI8: case VT_BOOL: case VT_R4: case VT_R8: case VT_CY:
    case VT_DATE: case VT_ERROR: case VT_BSTR:
      return true;
    default:
      return false;
  }
}

HRESULT WINAPI VariantClear(VARIANTARG* value) {
  if (!HostKnownKind(value->vt)) return DISP_E_BADVARTYPE;
  if (value->vt == VT_BSTR) SysFreeString(value->bstrVal);
  VariantInit(value);
  return S_OK;
}

// What source converts to; on failure the destination is left as it was (and
// so is the source, which may be the same variant).
HRESULT HostConverted(const VARIANTARG& source, VARTYPE target, VARIANTARG& converted) {
  if (!HostKnownKind(target) || !HostKnownKind(source.vt)) return DISP_E_BADVARTYPE;
  converted.vt = target;
  if (target == VT_EMPTY || target == VT_NULL) return S_OK;
  if (source.vt == VT_ERROR || target == VT_ERROR || source.vt == VT_NULL) {
    converted.scode = source.scode;
    return source.vt == target ? S_OK : DISP_E_TYPEMISMATCH;
  }
  if (target == VT_BSTR) {
    char digits[24];
    OLECHAR text[24];
    const int length = std::snprintf(digits, sizeof(digits), "%llu", static_cast<unsigned long long>(source.ullVal));
    std::copy(digits, digits + length, text);
    converted.bstrVal = source.vt == VT_BSTR ? SysAllocStringLen(source.bstrVal, SysStringLen(source.bstrVal))
                                             : SysAllocStringLen(text, static_cast<UINT>(length));
    return converted.bstrVal != nullptr ? S_OK : E_OUTOFMEMORY;
  }
  if (source.vt != VT_BSTR) {
    converted.ullVal = source.ullVal;
    return S_OK;
  }
  const UINT length = SysStringLen(source.bstrVal);
  if (length == 0 || length > 18) return DISP_E_TYPEMISMATCH;
  for (UINT i = 0; i < length; ++i) {
    const OLECHAR c = source.bstrVal[i];
    if (c < L'0' || c > L'9') return DISP_E_TYPEMISMATCH;
    converted.ullVal = converted.ullVal * 10 + static_cast<ULONGLONG>(c - L'0');
  }
  return S_OK;
}

HRESULT WINAPI VariantChangeType(VARIANTARG* destination, const VARIANTARG* source, USHORT, VARTYPE target) {
  VARIANTARG converted;
  VariantInit(&converted);
  const HRESULT result = HostConverted(*source, target, converted);
  if (FAILED(result)) return result;
  if (destination->vt == VT_BSTR) VariantClear(destination);
  *destination = converted;
  return S_OK;
}
