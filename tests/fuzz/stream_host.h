// The automation calls the control's stream loader makes, defined for its
// native fuzz build only, on the C heap so that the sanitizers see every block:
// strings (a 32-bit byte count, the characters and a NUL) and variants whose
// conversions either succeed or fail. Every block goes through the allocation
// ledger.
#pragma once

#include <windows.h>
#include <ocidl.h>
#include <oleauto.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "fuzz_host.h"

extern "C" const GUID GUID_NULL = {};

constexpr std::size_t kStringPrefix = sizeof(std::uint32_t);

// Characters left unset when text is null are filled with 0xCDCD, so that a
// caller that forgets to fill them is seen.
BSTR WINAPI SysAllocStringLen(const OLECHAR* text, UINT length) {
  const std::size_t bytes = kStringPrefix + (static_cast<std::size_t>(length) + 1) * sizeof(OLECHAR);
  if (!ledger::Allow(bytes) || bytes > 0x7FFFFFFFu) return nullptr;
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
  std::memset(value, 0, sizeof(*value));  // VT_EMPTY
}

HRESULT WINAPI VariantClear(VARIANTARG* value) {
  if (value->vt == VT_BSTR) SysFreeString(value->bstrVal);
  VariantInit(value);
  return S_OK;
}

// Only a string of 1 to 18 decimal digits converts: to its number, whatever
// the kind asked for. On failure nothing changes.
HRESULT WINAPI VariantChangeType(VARIANTARG* destination, const VARIANTARG* source, USHORT, VARTYPE target) {
  const UINT length = source->vt == VT_BSTR ? SysStringLen(source->bstrVal) : 0;
  if (length == 0 || length > 18) return DISP_E_TYPEMISMATCH;
  ULONGLONG number = 0;
  for (UINT i = 0; i < length; ++i) {
    const OLECHAR c = source->bstrVal[i];
    if (c < L'0' || c > L'9') return DISP_E_TYPEMISMATCH;
    number = number * 10 + static_cast<ULONGLONG>(c - L'0');
  }
  VariantClear(destination);
  destination->vt = target;
  destination->ullVal = number;
  return S_OK;
}
