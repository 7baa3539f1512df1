// The automation calls the control's stream loader makes, defined for its
// native fuzz build only, on the C heap so that the sanitizers see every block:
// strings (a 32-bit byte count, the characters and a NUL) and variants. Only a
// string converts: to VT_EMPTY or VT_NULL always, to VT_I8 or VT_UI8 when it is
// 1 to 18 decimal digits; anything else fails. Every block goes through the
// allocation ledger, and no single block may be larger than hostBlockLimit.
#pragma once

#include <windows.h>
#include <ocidl.h>
#include <oleauto.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "fuzz_host.h"

extern "C" const GUID GUID_NULL = {};

std::size_t hostBlockLimit = SIZE_MAX;

// False when this block is made to fail.
bool HostAllow(std::size_t bytes) {
  Check(bytes <= hostBlockLimit, "no single allocation is far larger than the stream");
  return ledger::Allow();
}

constexpr std::size_t kStringPrefix = sizeof(std::uint32_t);

// Characters left unset when text is null are filled with 0xCDCD, so that a
// caller that forgets to fill them is seen.
BSTR WINAPI SysAllocStringLen(const OLECHAR* text, UINT length) {
  const std::size_t bytes = kStringPrefix + (static_cast<std::size_t>(length) + 1) * sizeof(OLECHAR);
  if (!HostAllow(bytes) || bytes > 0x7FFFFFFFu) return nullptr;
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

HRESULT WINAPI VariantClear(VARIANTARG* value) {
  if (value->vt == VT_BSTR) SysFreeString(value->bstrVal);
  VariantInit(value);
  return S_OK;
}

// On failure the destination is left as it was (and so is the source, which
// may be the same variant).
HRESULT WINAPI VariantChangeType(VARIANTARG* destination, const VARIANTARG* source, USHORT, VARTYPE target) {
  if (source->vt != VT_BSTR) return DISP_E_TYPEMISMATCH;
  const UINT length = SysStringLen(source->bstrVal);
  bool digits = length != 0 && length <= 18;
  ULONGLONG number = 0;
  for (UINT i = 0; digits && i < length; ++i) {
    const OLECHAR c = source->bstrVal[i];
    digits = c >= L'0' && c <= L'9';
    if (digits) number = number * 10 + static_cast<ULONGLONG>(c - L'0');
  }
  if (target != VT_EMPTY && target != VT_NULL && !(digits && (target == VT_I8 || target == VT_UI8))) {
    return DISP_E_TYPEMISMATCH;
  }
  VariantClear(destination);
  destination->vt = target;
  destination->ullVal = target == VT_EMPTY || target == VT_NULL ? 0 : number;
  return S_OK;
}
