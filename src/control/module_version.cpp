#include "module_version.h"

#include <cstring>

#include "bounded_text.h"
#include "rendezvous_block.h"
#include "win_handles.h"

namespace orvex {

namespace {
constexpr DWORD kFixedFileInfoSignature = 0xFEEF04BD;
constexpr char kInternalNameQuery[] = "\\StringFileInfo\\040904B0\\InternalName";
}  // namespace

DWORD ReadModuleVersion(const char* path, PackedVersion* version, char* name) {
  DWORD ignored = 0;
  const DWORD size = ::GetFileVersionInfoSizeA(path, &ignored);
  if (size == 0) return 0;
  if (version == nullptr && name == nullptr) return size;

  HeapBlock block(size);
  if (!block || !::GetFileVersionInfoA(path, 0, size, block.Get())) return size;

  if (version != nullptr) {
    void* data = nullptr;
    UINT length = 0;
    if (::VerQueryValueA(block.Get(), "\\", &data, &length) && data != nullptr &&
        length >= sizeof(VS_FIXEDFILEINFO)) {
      const auto* fixed = static_cast<const VS_FIXEDFILEINFO*>(data);
      if (fixed->dwSignature == kFixedFileInfoSignature) {
        *version = PackedVersion::FromHighLow(fixed->dwFileVersionMS, fixed->dwFileVersionLS);
      }
    }
  }

  if (name != nullptr) {
    void* data = nullptr;
    UINT length = 0;  // counts the terminating NUL
    if (::VerQueryValueA(block.Get(), kInternalNameQuery, &data, &length) && data != nullptr &&
        length > 1) {
      const auto* text = static_cast<const char*>(data);
      const std::size_t textLength = ::strnlen(text, length);
      if (textLength < kProductNameSize) CopyText(name, kProductNameSize, text, textLength);
    }
  }
  return size;
}

}  // namespace orvex
