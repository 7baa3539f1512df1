// The automation calls the control's stream loader makes, defined for its
// native fuzz build only (included by the fuzz entry alone): strings, variants
// and an allocation ledger.
//
// Strings: a BSTR is a block from the C heap (so the sanitizers see every one)
// holding a 32-bit byte count, the characters and a terminating NUL; the
// pointer handed out is to the first character.
//
// Variants: VariantChangeType knows the empty and null kinds, the integers,
// VT_BOOL, VT_R4, VT_R8, VT_CY, VT_DATE, VT_ERROR and VT_BSTR; any other kind
// fails with DISP_E_BADVARTYPE. A conversion either succeeds or fails, and
// what it gives is plain: a string becomes a number only when it is 1 to 18
// decimal digits (the number in llVal), and the empty and null kinds from any
// kind; a number becomes the decimal text of its 64 bits; VT_NULL and VT_ERROR
// have no text, and VT_ERROR comes only from itself.
//
// Allocation ledger: every block the automation calls, and the module allocator
// the fuzz entry provides, ask host_memory::Allow first. It aborts when a
// single block would exceed host_memory::limit, counts the blocks, and can make
// the n-th from now fail (host_memory::failing; 1 = the next one).
#pragma once

#include <windows.h>
#include <ocidl.h>
#include <oleauto.h>

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

void Reset(std::size_t newLimit) {
  limit = newLimit;
  blocks = 0;
  failing = 0;
  failed = false;
}

// False when this block is made to fail.
bool Allow(std::size_t bytes) {
  if (bytes > limit) {
    std::fprintf(stderr, "a block of %zu bytes asked for; the limit is %zu\n", bytes, limit);
    HostFailure("no single allocation may be far larger than the stream");
  }
  ++blocks;
  if (failing == 0 || --failing != 0) return true;
  failed = true;
  return false;
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
  if (value->vt == VT_BSTR) SysFreeString(value->bstrVal);
  if (value->vt == VT_UNKNOWN || value->vt == VT_DISPATCH) {
    if (value->punkVal != nullptr) value->punkVal->Release();
  } else if (!HostKnownKind(value->vt)) {
    return DISP_E_BADVARTYPE;
  }
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
    OLECHAR text[24];
    UINT length = 0;
    if (source.vt == VT_BSTR) {
      converted.bstrVal = SysAllocStringLen(source.bstrVal, SysStringLen(source.bstrVal));
    } else {
      char digits[24];
      std::snprintf(digits, sizeof(digits), "%llu", static_cast<unsigned long long>(source.ullVal));
      for (const char* p = digits; *p != '\0'; ++p) text[length++] = static_cast<OLECHAR>(*p);
      converted.bstrVal = SysAllocStringLen(text, length);
    }
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
  if (destination->vt == VT_BSTR || destination->vt == VT_UNKNOWN || destination->vt == VT_DISPATCH) {
    VariantClear(destination);
  }
  *destination = converted;
  return S_OK;
}
