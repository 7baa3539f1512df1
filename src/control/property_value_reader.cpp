#include "property_value_reader.h"

#include "server_module.h"

namespace orvex {

namespace {

// Bytes of a string's characters are read in slices of this size, so that a
// count announced far beyond the stream costs at most one slice.
constexpr ULONG kStringSlice = 64 * 1024;

// The byte size of a fixed-size kind, 0 for every other kind.
ULONG FixedSize(VARTYPE type) {
  switch (type) {
    case VT_I1: case VT_UI1: return 1;
    case VT_I2: case VT_BOOL: case VT_UI2: return 2;
    case VT_I4: case VT_R4: case VT_ERROR: case VT_UI4: case VT_INT: case VT_UINT: return 4;
    case VT_R8: case VT_CY: case VT_DATE: return 8;
    default: return 0;
  }
}

// A block from the module heap, released on every path.
class ModuleBlock {
 public:
  ModuleBlock() = default;
  ~ModuleBlock() { ModuleFree(block_); }
  ModuleBlock(const ModuleBlock&) = delete;
  ModuleBlock& operator=(const ModuleBlock&) = delete;
  BYTE* get() const { return block_; }
  bool Grow(SIZE_T size) {
    void* grown = block_ == nullptr ? ModuleAlloc(size) : ModuleRealloc(block_, size);
    if (grown == nullptr) return false;
    block_ = static_cast<BYTE*>(grown);
    return true;
  }

 private:
  BYTE* block_ = nullptr;
};

// Reads count bytes into a string, one UTF-16 unit per byte.
HRESULT ReadNarrowString(IStream* stream, DWORD count, BSTR& text) {
  text = nullptr;
  if (count > 0x7FFFFFFEu / sizeof(OLECHAR)) return E_FAIL;
  ModuleBlock bytes;
  if (!bytes.Grow(count < kStringSlice ? (count != 0 ? count : 1) : kStringSlice)) return E_OUTOFMEMORY;
  DWORD done = 0;
  while (done < count) {
    const ULONG slice = count - done < kStringSlice ? count - done : kStringSlice;
    if (done != 0 && !bytes.Grow(static_cast<SIZE_T>(done) + slice)) return E_OUTOFMEMORY;
    const HRESULT result = ReadExact(stream, bytes.get() + done, slice);
    if (FAILED(result)) return result;
    done += slice;
  }
  text = ::SysAllocStringLen(nullptr, count);
  if (text == nullptr) return E_OUTOFMEMORY;
  for (DWORD i = 0; i < count; ++i) text[i] = bytes.get()[i];
  return S_OK;
}

}  // namespace

HRESULT ReadExact(IStream* stream, void* data, ULONG size) {
  ULONG read = 0;
  const HRESULT result = stream->Read(data, size, &read);
  return FAILED(result) || read != size ? E_FAIL : S_OK;
}

HRESULT ReadPropertyValue(IStream* stream, VARTYPE type, VARIANT& value) {
  if (type == VT_UNKNOWN || type == VT_DISPATCH) return E_FAIL;
  const ULONG size = FixedSize(type);
  if (size != 0) {
    value.vt = type;
    value.llVal = 0;
    return ReadExact(stream, &value.llVal, size);
  }
  DWORD count = 0;
  HRESULT result = ReadExact(stream, &count, sizeof(count));
  if (FAILED(result)) return result;
  BSTR text = nullptr;
  result = ReadNarrowString(stream, count, text);
  if (FAILED(result)) return result;
  value.vt = VT_BSTR;
  value.bstrVal = text;
  if (type != VT_BSTR) {
    // Back to the recorded type; a type the string cannot become fails the load.
    result = ::VariantChangeType(&value, &value, 0, type);
    if (FAILED(result)) {
      ::VariantClear(&value);
      return E_FAIL;
    }
  }
  return S_OK;
}

}  // namespace orvex
