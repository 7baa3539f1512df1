// Fuzz entry for the control's stream loader (LoadProperties over an IStream)
// and the property-value reader under it, built natively with libFuzzer and the
// sanitizers (tools/fuzz.sh) against the automation calls of stream_host.h.
//
// Input: the stream, as a container hands it to the control. It is loaded with
// its end reported as a short read, as S_FALSE and as a read error; with the put
// of Info refused; and with each block the plain run allocated failing in turn.
// The result is checked against a model of the format (version at most 0x300;
// _cx, _cy; a VARTYPE; fixed-size kinds as their bytes, every other kind but
// VT_UNKNOWN and VT_DISPATCH as a count and that many bytes).
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "stream_host.h"
#include "control_persistence.h"
#include "property_value_reader.h"
#include "server_module.h"

// The module allocator, on the C heap through the allocation ledger.
namespace orvex {
void* ModuleAlloc(SIZE_T size) { return ledger::Allow(size) ? std::malloc(size == 0 ? 1 : size) : nullptr; }
void* ModuleRealloc(void* block, SIZE_T size) {
  return ledger::Allow(size) ? std::realloc(block, size == 0 ? 1 : size) : nullptr;
}
void ModuleFree(void* block) { std::free(block); }
}  // namespace orvex

namespace {

constexpr DWORD kVersion = 0x00000300;
constexpr std::size_t kHeaderSize = 14;  // version, _cx, _cy, VARTYPE
constexpr std::size_t kBlockFloor = 64 * 1024;
constexpr std::size_t kBlockSlack = 64;
constexpr SIZEL kUntouched = {0x0BADF00D, -0x01234567};

DWORD Little32(const std::uint8_t* bytes) {
  return static_cast<DWORD>(bytes[0]) | static_cast<DWORD>(bytes[1]) << 8 | static_cast<DWORD>(bytes[2]) << 16 |
         static_cast<DWORD>(bytes[3]) << 24;
}

// The byte size of a kind recorded as its bytes; 0 for the kinds recorded as text.
std::size_t RecordedSize(VARTYPE type) {
  switch (type) {
    case VT_I1: case VT_UI1: return 1;
    case VT_I2: case VT_BOOL: case VT_UI2: return 2;
    case VT_I4: case VT_R4: case VT_ERROR: case VT_UI4: case VT_INT: case VT_UINT: return 4;
    case VT_R8: case VT_CY: case VT_DATE: return 8;
    default: return 0;
  }
}

bool SameValue(const VARIANT& a, const VARIANT& b) {
  if (a.vt != VT_BSTR || b.vt != VT_BSTR) return a.vt == b.vt && a.ullVal == b.ullVal;
  const UINT length = SysStringLen(a.bstrVal);
  return SysStringLen(b.bstrVal) == length && std::equal(a.bstrVal, a.bstrVal + length, b.bstrVal);
}

// What the stream holds, read by the format alone.
struct Expected {
  Expected(const std::uint8_t* data, std::size_t size);
  ~Expected() { VariantClear(&value); }
  Expected(const Expected&) = delete;
  Expected& operator=(const Expected&) = delete;

  bool whole = false;  // a whole value of a kind the loader reads
  SIZEL extent = {};
  VARIANT value;        // the value the put carries
  std::size_t end = 0;  // where the value ends in the stream
};

Expected::Expected(const std::uint8_t* data, std::size_t size) {
  VariantInit(&value);
  if (size < kHeaderSize || Little32(data) > kVersion) return;
  extent.cx = static_cast<LONG>(Little32(data + 4));
  extent.cy = static_cast<LONG>(Little32(data + 8));
  const auto type = static_cast<VARTYPE>(data[12] | data[13] << 8);
  if (type == VT_UNKNOWN || type == VT_DISPATCH) return;
  const std::size_t fixed = RecordedSize(type);
  if (fixed != 0) {
    if (size - kHeaderSize < fixed) return;
    value.vt = type;  // the bytes left over stay zero
    std::memcpy(&value.llVal, data + kHeaderSize, fixed);
    end = kHeaderSize + fixed;
  } else {
    if (size - kHeaderSize < 4) return;
    const DWORD count = Little32(data + kHeaderSize);
    if (size - kHeaderSize - 4 < count) return;
    BSTR text = SysAllocStringLen(nullptr, count);
    for (DWORD i = 0; i < count; ++i) text[i] = data[kHeaderSize + 4 + i];
    value.vt = VT_BSTR;
    value.bstrVal = text;
    if (type != VT_BSTR && FAILED(VariantChangeType(&value, &value, 0, type))) return;
    end = kHeaderSize + 4 + count;
  }
  whole = true;
}

enum class StreamEnd { kShortRead, kFalse, kError };

// The container's side of a load: the input as a stream the loader may only
// read, and the control's dispatch interface, which takes a put of Info
// (DISPID 1) carrying the value the stream holds, or refuses it.
class Container final : public IStream, public IDispatch {
 public:
  Container(const std::uint8_t* data, std::size_t size, StreamEnd end, bool refuses, const Expected& expected)
      : data_(data), size_(size), end_(end), refuses_(refuses), expected_(expected) {}
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void**) override { return Unexpected(); }
  ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
  ULONG STDMETHODCALLTYPE Release() override { return 1; }

  HRESULT STDMETHODCALLTYPE Read(void* data, ULONG size, ULONG* read) override {
    const std::size_t count = std::min<std::size_t>(size, size_ - position);
    if (count != 0) std::memcpy(data, data_ + position, count);
    position += count;
    if (read != nullptr) *read = static_cast<ULONG>(count);
    if (count == size || end_ == StreamEnd::kShortRead) return S_OK;
    return end_ == StreamEnd::kFalse ? S_FALSE : STG_E_READFAULT;
  }
  HRESULT STDMETHODCALLTYPE Write(const void*, ULONG, ULONG*) override { return Unexpected(); }
  HRESULT STDMETHODCALLTYPE Seek(LARGE_INTEGER, DWORD, ULARGE_INTEGER*) override { return Unexpected(); }
  HRESULT STDMETHODCALLTYPE SetSize(ULARGE_INTEGER) override { return Unexpected(); }
  HRESULT STDMETHODCALLTYPE CopyTo(IStream*, ULARGE_INTEGER, ULARGE_INTEGER*, ULARGE_INTEGER*) override {
    return Unexpected();
  }
  HRESULT STDMETHODCALLTYPE Commit(DWORD) override { return Unexpected(); }
  HRESULT STDMETHODCALLTYPE Revert() override { return Unexpected(); }
  HRESULT STDMETHODCALLTYPE LockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) override { return Unexpected(); }
  HRESULT STDMETHODCALLTYPE UnlockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) override { return Unexpected(); }
  HRESULT STDMETHODCALLTYPE Stat(STATSTG*, DWORD) override { return Unexpected(); }
  HRESULT STDMETHODCALLTYPE Clone(IStream**) override { return Unexpected(); }

  HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT*) override { return Unexpected(); }
  HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override { return Unexpected(); }
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return Unexpected(); }
  HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS* parameters, VARIANT*, EXCEPINFO*,
                                   UINT*) override {
    ++puts;
    Check(id == 1 && flags == DISPATCH_PROPERTYPUT && parameters->cArgs == 1, "a put of Info (DISPID 1)");
    Check(expected_.whole && SameValue(parameters->rgvarg[0], expected_.value),
          "the put carries the value the stream holds");
    return refuses_ ? DISP_E_MEMBERNOTFOUND : S_OK;
  }

  std::size_t position = 0;  // bytes read
  unsigned puts = 0;

 private:
  static HRESULT Unexpected() {
    Check(false, "loading only reads the stream and puts Info");
    return E_FAIL;
  }
  const std::uint8_t* data_;
  std::size_t size_;
  StreamEnd end_;
  bool refuses_;
  const Expected& expected_;
};

// Loads the stream once, the control refusing the put or not, and the n-th
// block failing (0 = none); returns the number of blocks the load asked for.
unsigned Load(const std::uint8_t* data, std::size_t size, const Expected& expected, StreamEnd end, bool refuses,
              unsigned failing) {
  ledger::Arm(failing, std::max(2 * size + kBlockSlack, kBlockFloor));
  Container container(data, size, end, refuses, expected);
  SIZEL extent = kUntouched;
  const HRESULT result = orvex::LoadProperties(&container, extent, &container);
  const bool failed = ledger::failed;
  const unsigned blocks = ledger::count;
  ledger::Arm(0);

  Check(result == S_OK || result == E_FAIL || (failed && result == E_OUTOFMEMORY),
        "the result is S_OK, E_FAIL, or E_OUTOFMEMORY when a block failed");
  const bool succeeds = expected.whole && !refuses && !failed;
  Check(SUCCEEDED(result) == succeeds, "the load succeeds exactly when the stream holds a value the control takes");
  if (succeeds) {
    Check(extent.cx == expected.extent.cx && extent.cy == expected.extent.cy, "the extent comes from the stream");
    Check(container.puts == 1, "Info is put exactly once");
    Check(container.position == expected.end, "the load reads up to the value's end and no further");
  } else {
    Check(extent.cx == kUntouched.cx && extent.cy == kUntouched.cy, "a failed load leaves the extent untouched");
    Check(container.puts == 0 || refuses, "a failed load puts nothing the control takes");
  }
  return blocks;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const Expected expected(data, size);

  const unsigned blocks = Load(data, size, expected, StreamEnd::kShortRead, false, 0);
  Load(data, size, expected, StreamEnd::kFalse, false, 0);
  Load(data, size, expected, StreamEnd::kError, false, 0);
  if (expected.whole) Load(data, size, expected, StreamEnd::kShortRead, true, 0);
  for (unsigned failing = 1; failing <= blocks; ++failing) {
    Load(data, size, expected, StreamEnd::kShortRead, false, failing);
  }
  return 0;
}
