// Host stand-in for <windows.h>, <objbase.h>, <oleauto.h> and <ocidl.h> in the
// native fuzz build of the control's stream loader only. It holds just what the
// property-value reader, the persistence code and the module header use: the
// base types, the few COM interfaces they call (declared with the platform's
// method order and signatures, the Win32 calling convention left out), the
// string and variant calls of the automation library, and an allocation
// ledger.
//
// Built with -fshort-wchar, so OLECHAR is 16 bits wide as on the platform and
// a string's byte size is what it is there. No C library wide-character call
// may be used with it.
//
// Strings: a BSTR is a block from the C heap (so the sanitizers see every one)
// holding a 32-bit byte count, the characters and a terminating NUL; the
// pointer handed out is to the first character.
//
// Variants: VariantChangeType converts between the empty and null kinds, the
// integers, VT_BOOL, VT_R4, VT_R8, VT_CY, VT_DATE, VT_ERROR (to itself only) and
// VT_BSTR. Strings convert to numbers when they hold a plain decimal number
// (sign, digits, fraction, exponent, blanks around) or, for VT_BOOL, "True" or
// "False" in any case; numbers convert to strings as plain decimals, VT_BOOL as
// "-1" or "0", dates as their day number. Every other type, and any type with
// the array, vector or by-reference bits, fails with DISP_E_BADVARTYPE.
//
// Allocation ledger: every block the automation calls, and the module allocator
// the fuzz entry provides, ask host_memory::Allow first. It aborts when a
// single block would exceed host_memory::limit, counts the blocks, and can make
// the n-th from now fail (host_memory::failing; 1 = the next one).
#pragma once

#include <cfloat>
#include <climits>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

static_assert(sizeof(wchar_t) == 2, "the stream loader's fuzz build needs -fshort-wchar");

using BOOL = int;
using BYTE = std::uint8_t;
using CHAR = char;
using SHORT = std::int16_t;
using USHORT = std::uint16_t;
using WORD = std::uint16_t;
using INT = int;
using UINT = unsigned int;
using LONG = std::int32_t;
using ULONG = std::uint32_t;
using DWORD = std::uint32_t;
using LONGLONG = std::int64_t;
using ULONGLONG = std::uint64_t;
using FLOAT = float;
using DOUBLE = double;
using HRESULT = std::int32_t;
using SCODE = LONG;
using SIZE_T = std::size_t;
using ULONG_PTR = std::uintptr_t;
using LCID = DWORD;
using DISPID = LONG;
using VARTYPE = std::uint16_t;
using VARIANT_BOOL = std::int16_t;
using DATE = double;
using WCHAR = wchar_t;
using OLECHAR = wchar_t;
using LPOLESTR = OLECHAR*;
using LPCOLESTR = const OLECHAR*;
using BSTR = OLECHAR*;
using HANDLE = void*;
struct HINSTANCE__;
using HINSTANCE = HINSTANCE__*;

struct GUID {
  std::uint32_t Data1;
  std::uint16_t Data2;
  std::uint16_t Data3;
  std::uint8_t Data4[8];
};
using IID = GUID;
using CLSID = GUID;
using REFIID = const IID&;
inline const IID IID_NULL = {};
inline bool IsEqualIID(REFIID a, REFIID b) { return std::memcmp(&a, &b, sizeof(IID)) == 0; }

struct CRITICAL_SECTION {
  void* unused;
};

struct SIZEL {
  LONG cx;
  LONG cy;
};

struct CY {
  LONGLONG int64;
};

#define TRUE 1
#define FALSE 0

#define S_OK static_cast<HRESULT>(0)
#define S_FALSE static_cast<HRESULT>(1)
#define E_FAIL static_cast<HRESULT>(0x80004005u)
#define E_POINTER static_cast<HRESULT>(0x80004003u)
#define E_NOINTERFACE static_cast<HRESULT>(0x80004002u)
#define E_INVALIDARG static_cast<HRESULT>(0x80070057u)
#define E_OUTOFMEMORY static_cast<HRESULT>(0x8007000Eu)
#define E_ACCESSDENIED static_cast<HRESULT>(0x80070005u)
#define DISP_E_EXCEPTION static_cast<HRESULT>(0x80020009u)
#define DISP_E_MEMBERNOTFOUND static_cast<HRESULT>(0x80020003u)
#define DISP_E_TYPEMISMATCH static_cast<HRESULT>(0x80020005u)
#define DISP_E_BADVARTYPE static_cast<HRESULT>(0x80020008u)
#define DISP_E_OVERFLOW static_cast<HRESULT>(0x8002000Au)
#define STG_E_READFAULT static_cast<HRESULT>(0x8003001Eu)
#define STG_E_MEDIUMFULL static_cast<HRESULT>(0x80030070u)
inline bool FAILED(HRESULT result) { return result < 0; }
inline bool SUCCEEDED(HRESULT result) { return result >= 0; }

#define LOCALE_USER_DEFAULT 0x0400u
#define DISPATCH_METHOD 0x1u
#define DISPATCH_PROPERTYGET 0x2u
#define DISPATCH_PROPERTYPUT 0x4u
#define DISPATCH_PROPERTYPUTREF 0x8u
#define DISPID_PROPERTYPUT (-3)
#define VARIANT_TRUE static_cast<VARIANT_BOOL>(-1)
#define VARIANT_FALSE static_cast<VARIANT_BOOL>(0)

enum VARENUM : VARTYPE {
  VT_EMPTY = 0,
  VT_NULL = 1,
  VT_I2 = 2,
  VT_I4 = 3,
  VT_R4 = 4,
  VT_R8 = 5,
  VT_CY = 6,
  VT_DATE = 7,
  VT_BSTR = 8,
  VT_DISPATCH = 9,
  VT_ERROR = 10,
  VT_BOOL = 11,
  VT_VARIANT = 12,
  VT_UNKNOWN = 13,
  VT_DECIMAL = 14,
  VT_I1 = 16,
  VT_UI1 = 17,
  VT_UI2 = 18,
  VT_UI4 = 19,
  VT_I8 = 20,
  VT_UI8 = 21,
  VT_INT = 22,
  VT_UINT = 23,
  VT_RECORD = 36,
  VT_VECTOR = 0x1000,
  VT_ARRAY = 0x2000,
  VT_BYREF = 0x4000,
};

inline void HostFailure(const char* what) {
  std::fprintf(stderr, "host stand-in check failed: %s\n", what);
  std::abort();
}

// ---------------------------------------------------------------------------
// COM interfaces, in the platform's method order.

struct IUnknown {
  virtual HRESULT QueryInterface(REFIID iid, void** out) = 0;
  virtual ULONG AddRef() = 0;
  virtual ULONG Release() = 0;
};

struct ISequentialStream : IUnknown {
  virtual HRESULT Read(void* data, ULONG size, ULONG* read) = 0;
  virtual HRESULT Write(const void* data, ULONG size, ULONG* written) = 0;
};

// The loader reads and writes only; the positioning methods are left out.
struct IStream : ISequentialStream {};

struct IDispatch;
struct ITypeInfo;
struct EXCEPINFO {
  WORD wCode;
  WORD wReserved;
  BSTR bstrSource;
  BSTR bstrDescription;
  BSTR bstrHelpFile;
  DWORD dwHelpContext;
  void* pvReserved;
  HRESULT(*pfnDeferredFillIn)(EXCEPINFO*);
  HRESULT scode;
};

struct VARIANT {
  VARTYPE vt;
  WORD wReserved1;
  WORD wReserved2;
  WORD wReserved3;
  union {
    LONGLONG llVal;
    ULONGLONG ullVal;
    LONG lVal;
    ULONG ulVal;
    INT intVal;
    UINT uintVal;
    BYTE bVal;
    CHAR cVal;
    SHORT iVal;
    USHORT uiVal;
    FLOAT fltVal;
    DOUBLE dblVal;
    VARIANT_BOOL boolVal;
    SCODE scode;
    CY cyVal;
    DATE date;
    BSTR bstrVal;
    IUnknown* punkVal;
    IDispatch* pdispVal;
  };
};
using VARIANTARG = VARIANT;

struct DISPPARAMS {
  VARIANTARG* rgvarg;
  DISPID* rgdispidNamedArgs;
  UINT cArgs;
  UINT cNamedArgs;
};

struct IDispatch : IUnknown {
  virtual HRESULT GetTypeInfoCount(UINT* count) = 0;
  virtual HRESULT GetTypeInfo(UINT index, LCID locale, ITypeInfo** info) = 0;
  virtual HRESULT GetIDsOfNames(REFIID iid, LPOLESTR* names, UINT count, LCID locale, DISPID* ids) = 0;
  virtual HRESULT Invoke(DISPID id, REFIID iid, LCID locale, WORD flags, DISPPARAMS* parameters, VARIANT* result,
                         EXCEPINFO* exception, UINT* argumentError) = 0;
};

struct IErrorLog : IUnknown {
  virtual HRESULT AddError(LPCOLESTR name, EXCEPINFO* exception) = 0;
};

struct IPropertyBag : IUnknown {
  virtual HRESULT Read(LPCOLESTR name, VARIANT* value, IErrorLog* log) = 0;
  virtual HRESULT Write(LPCOLESTR name, VARIANT* value) = 0;
};

// ---------------------------------------------------------------------------
// Allocation ledger.

namespace host_memory {

inline std::size_t limit = SIZE_MAX;  // no single block may be larger
inline std::size_t largest = 0;       // the largest block asked for
inline unsigned blocks = 0;           // blocks asked for
inline unsigned failing = 0;          // the n-th block from now fails; 0 = none
inline bool failed = false;           // a block was made to fail

inline void Reset(std::size_t newLimit) {
  limit = newLimit;
  largest = 0;
  blocks = 0;
  failing = 0;
  failed = false;
}

// False when this block is made to fail.
inline bool Allow(std::size_t bytes) {
  if (bytes > limit) {
    std::fprintf(stderr, "a block of %zu bytes asked for; the limit is %zu\n", bytes, limit);
    HostFailure("no single allocation may be far larger than the stream");
  }
  ++blocks;
  if (bytes > largest) largest = bytes;
  if (failing != 0 && --failing == 0) {
    failed = true;
    return false;
  }
  return true;
}

}  // namespace host_memory

// ---------------------------------------------------------------------------
// Strings.

namespace host_string {

constexpr std::size_t kPrefix = sizeof(std::uint32_t);

inline std::uint32_t ByteCount(const OLECHAR* text) {
  std::uint32_t bytes = 0;
  std::memcpy(&bytes, reinterpret_cast<const unsigned char*>(text) - kPrefix, kPrefix);
  return bytes;
}

}  // namespace host_string

// Characters left unset when text is null are filled with 0xCDCD, so that a
// caller that forgets to fill them is seen.
inline BSTR SysAllocStringLen(const OLECHAR* text, UINT length) {
  const std::size_t bytes = host_string::kPrefix + (static_cast<std::size_t>(length) + 1) * sizeof(OLECHAR);
  if (!host_memory::Allow(bytes)) return nullptr;
  if (bytes > 0x7FFFFFFFu) return nullptr;
  auto* block = static_cast<unsigned char*>(std::malloc(bytes));
  if (block == nullptr) return nullptr;
  const auto byteCount = static_cast<std::uint32_t>(length * sizeof(OLECHAR));
  std::memcpy(block, &byteCount, host_string::kPrefix);
  auto* characters = reinterpret_cast<OLECHAR*>(block + host_string::kPrefix);
  if (text != nullptr) {
    std::memcpy(characters, text, length * sizeof(OLECHAR));
  } else {
    for (UINT i = 0; i < length; ++i) characters[i] = static_cast<OLECHAR>(0xCDCD);
  }
  characters[length] = L'\0';
  return characters;
}

inline BSTR SysAllocString(const OLECHAR* text) {
  if (text == nullptr) return nullptr;
  UINT length = 0;
  while (text[length] != L'\0') ++length;
  return SysAllocStringLen(text, length);
}

inline UINT SysStringLen(BSTR text) {
  return text == nullptr ? 0 : static_cast<UINT>(host_string::ByteCount(text) / sizeof(OLECHAR));
}

inline void SysFreeString(BSTR text) {
  if (text != nullptr) std::free(reinterpret_cast<unsigned char*>(text) - host_string::kPrefix);
}

// ---------------------------------------------------------------------------
// Variants.

inline void VariantInit(VARIANT* value) {
  value->vt = VT_EMPTY;
  value->wReserved1 = value->wReserved2 = value->wReserved3 = 0;
  value->llVal = 0;
}

namespace host_variant {

// The kinds the stand-in holds values of.
inline bool Known(VARTYPE type) {
  switch (type) {
    case VT_EMPTY: case VT_NULL: case VT_I1: case VT_UI1: case VT_I2: case VT_UI2: case VT_I4: case VT_UI4:
    case VT_INT: case VT_UINT: case VT_I8: case VT_UI8: case VT_BOOL: case VT_R4: case VT_R8: case VT_CY:
    case VT_DATE: case VT_ERROR: case VT_BSTR:
      return true;
    default:
      return false;
  }
}

// A number on its way between two kinds: a whole number (sign and magnitude)
// or a real one.
struct Number {
  bool real = false;
  double value = 0;
  bool negative = false;
  std::uint64_t magnitude = 0;
};

inline Number Whole(std::int64_t value) {
  Number number;
  number.negative = value < 0;
  number.magnitude = value < 0 ? static_cast<std::uint64_t>(-(value + 1)) + 1 : static_cast<std::uint64_t>(value);
  return number;
}

inline Number Unsigned(std::uint64_t value) {
  Number number;
  number.magnitude = value;
  return number;
}

inline Number Real(double value) {
  Number number;
  number.real = true;
  number.value = value;
  return number;
}

inline bool IsBlank(OLECHAR c) { return c == L' ' || c == L'\t'; }
inline bool IsDigit(OLECHAR c) { return c >= L'0' && c <= L'9'; }

inline bool SameLetters(const OLECHAR* text, std::size_t length, const char* word) {
  if (std::strlen(word) != length) return false;
  for (std::size_t i = 0; i < length; ++i) {
    OLECHAR c = text[i];
    if (c >= L'A' && c <= L'Z') c = static_cast<OLECHAR>(c - L'A' + L'a');
    if (c != static_cast<OLECHAR>(word[i])) return false;
  }
  return true;
}

// A plain decimal number; "True" and "False" too when boolean is set.
inline HRESULT ParseNumber(BSTR text, bool boolean, Number& number) {
  const std::size_t length = SysStringLen(text);
  std::size_t begin = 0;
  std::size_t end = length;
  while (begin < end && IsBlank(text[begin])) ++begin;
  while (end > begin && IsBlank(text[end - 1])) --end;
  if (boolean && SameLetters(text + begin, end - begin, "true")) {
    number = Whole(-1);
    return S_OK;
  }
  if (boolean && SameLetters(text + begin, end - begin, "false")) {
    number = Whole(0);
    return S_OK;
  }
  std::size_t i = begin;
  bool negative = false;
  if (i < end && (text[i] == L'+' || text[i] == L'-')) negative = text[i++] == L'-';
  std::size_t digits = 0;
  bool overflow = false;
  std::uint64_t magnitude = 0;
  for (; i < end && IsDigit(text[i]); ++i, ++digits) {
    const auto digit = static_cast<std::uint64_t>(text[i] - L'0');
    if (magnitude > (UINT64_MAX - digit) / 10) overflow = true;
    magnitude = overflow ? magnitude : magnitude * 10 + digit;
  }
  bool real = false;
  if (i < end && text[i] == L'.') {
    real = true;
    for (++i; i < end && IsDigit(text[i]); ++i) ++digits;
  }
  if (digits == 0) return DISP_E_TYPEMISMATCH;
  if (i < end && (text[i] == L'e' || text[i] == L'E')) {
    real = true;
    ++i;
    if (i < end && (text[i] == L'+' || text[i] == L'-')) ++i;
    if (i == end || !IsDigit(text[i])) return DISP_E_TYPEMISMATCH;
    while (i < end && IsDigit(text[i])) ++i;
  }
  if (i != end) return DISP_E_TYPEMISMATCH;
  if (!real) {
    if (overflow) return DISP_E_OVERFLOW;
    number = Number{};
    number.negative = negative && magnitude != 0;
    number.magnitude = magnitude;
    return S_OK;
  }
  std::string ascii;
  for (std::size_t k = begin; k < end; ++k) ascii += static_cast<char>(text[k]);
  const double value = std::strtod(ascii.c_str(), nullptr);
  if (!std::isfinite(value)) return DISP_E_OVERFLOW;
  number = Real(value);
  return S_OK;
}

inline HRESULT ToNumber(const VARIANT& source, VARTYPE target, Number& number) {
  switch (source.vt) {
    case VT_EMPTY: number = Whole(0); return S_OK;
    case VT_I1: number = Whole(static_cast<signed char>(source.cVal)); return S_OK;
    case VT_UI1: number = Whole(source.bVal); return S_OK;
    case VT_I2: number = Whole(source.iVal); return S_OK;
    case VT_UI2: number = Whole(source.uiVal); return S_OK;
    case VT_I4: number = Whole(source.lVal); return S_OK;
    case VT_UI4: number = Whole(source.ulVal); return S_OK;
    case VT_INT: number = Whole(source.intVal); return S_OK;
    case VT_UINT: number = Whole(source.uintVal); return S_OK;
    case VT_I8: number = Whole(source.llVal); return S_OK;
    case VT_UI8: number = Unsigned(source.ullVal); return S_OK;
    case VT_BOOL: number = Whole(source.boolVal); return S_OK;
    case VT_R4: number = Real(static_cast<double>(source.fltVal)); return S_OK;
    case VT_R8: number = Real(source.dblVal); return S_OK;
    case VT_DATE: number = Real(source.date); return S_OK;
    case VT_CY: number = Real(static_cast<double>(source.cyVal.int64) / 10000.0); return S_OK;
    case VT_BSTR: return ParseNumber(source.bstrVal, target == VT_BOOL, number);
    default: return DISP_E_TYPEMISMATCH;  // VT_NULL and VT_ERROR carry no number
  }
}

inline bool IsZero(const Number& number) { return number.real ? number.value == 0 : number.magnitude == 0; }

// The number rounded to a whole one (halves to even) within [low, high].
inline HRESULT ToWhole(const Number& number, std::int64_t low, std::uint64_t high, bool& negative,
                       std::uint64_t& magnitude) {
  if (!number.real) {
    negative = number.negative;
    magnitude = number.magnitude;
  } else {
    if (!std::isfinite(number.value)) return DISP_E_OVERFLOW;
    const double rounded = std::nearbyint(number.value);
    if (rounded >= 18446744073709551616.0 || rounded < -9223372036854775808.0) return DISP_E_OVERFLOW;
    negative = rounded < 0;
    magnitude = negative ? static_cast<std::uint64_t>(-rounded) : static_cast<std::uint64_t>(rounded);
  }
  if (negative) {
    const std::uint64_t lowMagnitude = low < 0 ? static_cast<std::uint64_t>(-(low + 1)) + 1 : 0;
    if (magnitude > lowMagnitude) return DISP_E_OVERFLOW;
  } else if (magnitude > high) {
    return DISP_E_OVERFLOW;
  }
  return S_OK;
}

inline std::int64_t Signed(bool negative, std::uint64_t magnitude) {
  if (!negative) return static_cast<std::int64_t>(magnitude);
  return magnitude == 0 ? 0 : -static_cast<std::int64_t>(magnitude - 1) - 1;
}

inline double ToDouble(const Number& number) {
  if (number.real) return number.value;
  const auto value = static_cast<double>(number.magnitude);
  return number.negative ? -value : value;
}

inline HRESULT FromNumber(const Number& number, VARTYPE target, VARIANT& out) {
  bool negative = false;
  std::uint64_t magnitude = 0;
  HRESULT result = S_OK;
  auto whole = [&](std::int64_t low, std::uint64_t high) {
    result = ToWhole(number, low, high, negative, magnitude);
    return SUCCEEDED(result);
  };
  switch (target) {
    case VT_I1:
      if (whole(SCHAR_MIN, SCHAR_MAX)) out.cVal = static_cast<CHAR>(Signed(negative, magnitude));
      break;
    case VT_UI1:
      if (whole(0, UCHAR_MAX)) out.bVal = static_cast<BYTE>(magnitude);
      break;
    case VT_I2:
      if (whole(SHRT_MIN, SHRT_MAX)) out.iVal = static_cast<SHORT>(Signed(negative, magnitude));
      break;
    case VT_UI2:
      if (whole(0, USHRT_MAX)) out.uiVal = static_cast<USHORT>(magnitude);
      break;
    case VT_I4: case VT_INT:
      if (whole(INT32_MIN, INT32_MAX)) out.lVal = static_cast<LONG>(Signed(negative, magnitude));
      break;
    case VT_UI4: case VT_UINT:
      if (whole(0, UINT32_MAX)) out.ulVal = static_cast<ULONG>(magnitude);
      break;
    case VT_I8:
      if (whole(INT64_MIN, INT64_MAX)) out.llVal = Signed(negative, magnitude);
      break;
    case VT_UI8:
      if (whole(0, UINT64_MAX)) out.ullVal = magnitude;
      break;
    case VT_BOOL:
      out.boolVal = IsZero(number) ? VARIANT_FALSE : VARIANT_TRUE;
      break;
    case VT_R4: {
      const double value = ToDouble(number);
      if (std::fabs(value) > static_cast<double>(FLT_MAX)) return DISP_E_OVERFLOW;
      out.fltVal = static_cast<float>(value);
      break;
    }
    case VT_R8:
      out.dblVal = ToDouble(number);
      break;
    case VT_DATE: {
      // The platform's range of dates: the years 100 to 9999.
      const double value = ToDouble(number);
      if (value < -657434.0 || value >= 2958466.0) return DISP_E_OVERFLOW;
      out.date = value;
      break;
    }
    case VT_CY: {
      const double value = std::nearbyint(ToDouble(number) * 10000.0);
      if (!(value > -9223372036854775809.0 && value < 9223372036854775808.0)) return DISP_E_OVERFLOW;
      out.cyVal.int64 = static_cast<LONGLONG>(value);
      break;
    }
    default:
      return DISP_E_BADVARTYPE;
  }
  return result;
}

inline HRESULT ToText(const VARIANT& source, BSTR& text) {
  char buffer[64] = {};
  switch (source.vt) {
    case VT_EMPTY: break;
    case VT_I1: std::snprintf(buffer, sizeof(buffer), "%d", static_cast<int>(static_cast<signed char>(source.cVal))); break;
    case VT_UI1: std::snprintf(buffer, sizeof(buffer), "%u", static_cast<unsigned>(source.bVal)); break;
    case VT_I2: std::snprintf(buffer, sizeof(buffer), "%d", static_cast<int>(source.iVal)); break;
    case VT_BOOL: std::snprintf(buffer, sizeof(buffer), "%d", source.boolVal != 0 ? -1 : 0); break;
    case VT_UI2: std::snprintf(buffer, sizeof(buffer), "%u", static_cast<unsigned>(source.uiVal)); break;
    case VT_I4: case VT_INT: std::snprintf(buffer, sizeof(buffer), "%ld", static_cast<long>(source.lVal)); break;
    case VT_UI4: case VT_UINT: std::snprintf(buffer, sizeof(buffer), "%lu", static_cast<unsigned long>(source.ulVal)); break;
    case VT_I8: std::snprintf(buffer, sizeof(buffer), "%lld", static_cast<long long>(source.llVal)); break;
    case VT_UI8: std::snprintf(buffer, sizeof(buffer), "%llu", static_cast<unsigned long long>(source.ullVal)); break;
    case VT_R4: std::snprintf(buffer, sizeof(buffer), "%.7G", static_cast<double>(source.fltVal)); break;
    case VT_R8: std::snprintf(buffer, sizeof(buffer), "%.15G", source.dblVal); break;
    case VT_DATE: std::snprintf(buffer, sizeof(buffer), "%.15G", source.date); break;
    case VT_CY: std::snprintf(buffer, sizeof(buffer), "%.15G", static_cast<double>(source.cyVal.int64) / 10000.0); break;
    default: return DISP_E_TYPEMISMATCH;  // VT_NULL and VT_ERROR have no text
  }
  OLECHAR wide[64] = {};
  for (std::size_t i = 0; i < sizeof(buffer) && buffer[i] != '\0'; ++i) wide[i] = static_cast<OLECHAR>(buffer[i]);
  text = SysAllocString(wide);
  return text != nullptr ? S_OK : E_OUTOFMEMORY;
}

}  // namespace host_variant

inline HRESULT VariantClear(VARIANT* value) {
  if (value->vt == VT_BSTR) SysFreeString(value->bstrVal);
  if (value->vt == VT_UNKNOWN || value->vt == VT_DISPATCH) {
    if (value->punkVal != nullptr) value->punkVal->Release();
  } else if (!host_variant::Known(value->vt)) {
    return DISP_E_BADVARTYPE;
  }
  VariantInit(value);
  return S_OK;
}

// On failure the destination is left as it was (and so is the source, which may
// be the same variant).
inline HRESULT VariantChangeType(VARIANT* destination, const VARIANT* source, USHORT, VARTYPE target) {
  if (!host_variant::Known(target) || !host_variant::Known(source->vt)) return DISP_E_BADVARTYPE;
  VARIANT converted;
  VariantInit(&converted);
  converted.vt = target;
  HRESULT result = S_OK;
  if (target == VT_EMPTY || target == VT_NULL) {
    converted.llVal = 0;
  } else if (target == VT_ERROR) {
    if (source->vt != VT_ERROR) return DISP_E_TYPEMISMATCH;
    converted.scode = source->scode;
  } else if (target == VT_BSTR) {
    if (source->vt == VT_BSTR) {
      converted.bstrVal = SysAllocStringLen(source->bstrVal, SysStringLen(source->bstrVal));
      if (converted.bstrVal == nullptr) return E_OUTOFMEMORY;
    } else {
      result = host_variant::ToText(*source, converted.bstrVal);
    }
  } else {
    host_variant::Number number;
    result = host_variant::ToNumber(*source, target, number);
    if (SUCCEEDED(result)) result = host_variant::FromNumber(number, target, converted);
  }
  if (FAILED(result)) return result;
  if (destination->vt == VT_BSTR || destination->vt == VT_UNKNOWN || destination->vt == VT_DISPATCH) {
    VariantClear(destination);
  }
  *destination = converted;
  return S_OK;
}
