#include "module_script.h"

#include <cstring>

#include "server_module.h"

namespace orvex {

namespace {

constexpr DWORD kPathSize = MAX_PATH;

// The last error as a result; a failure that left no error is still a failure.
HRESULT LastErrorResult() {
  const DWORD error = ::GetLastError();
  return error == ERROR_SUCCESS ? E_FAIL : HRESULT_FROM_WIN32(error);
}

// The module file for "%MODULE%" and for loading the script: its short path,
// or its long path when the short form cannot be had. A name that does not fit
// MAX_PATH is refused, never cut.
HRESULT GetModulePath(char (&path)[kPathSize]) {
  const ServerModule* module = CurrentModule();
  if (module == nullptr) return E_UNEXPECTED;
  char longPath[kPathSize];
  const DWORD length = ::GetModuleFileNameA(module->instance, longPath, kPathSize);
  if (length == 0) return LastErrorResult();
  if (length >= kPathSize) return HRESULT_FROM_WIN32(ERROR_FILENAME_EXCED_RANGE);
  longPath[length] = '\0';
  const DWORD shortLength = ::GetShortPathNameA(longPath, path, kPathSize);
  if (shortLength == 0 || shortLength >= kPathSize) std::memcpy(path, longPath, length + 1);
  return S_OK;
}

// The path as it stands in a quoted token: every apostrophe doubled.
HRESULT QuoteModulePath(const char* path, wchar_t (&quoted)[2 * kPathSize]) {
  wchar_t wide[kPathSize];
  if (::MultiByteToWideChar(CP_ACP, 0, path, -1, wide, static_cast<int>(kPathSize)) == 0) {
    return LastErrorResult();
  }
  SIZE_T length = 0;
  for (const wchar_t* p = wide; *p != L'\0'; ++p) {
    if (*p == L'\'') quoted[length++] = L'\'';
    quoted[length++] = *p;
  }
  quoted[length] = L'\0';
  return S_OK;
}

// Runs REGISTRY resourceId of the module file at path.
HRESULT RunResourceScript(const char* path, UINT resourceId, BOOL registerFlag, const SubstitutionPair* pairs) {
  if (resourceId > 0xFFFF) return HRESULT_FROM_WIN32(ERROR_RESOURCE_NAME_NOT_FOUND);
  const HMODULE file = ::LoadLibraryExA(path, nullptr, LOAD_LIBRARY_AS_DATAFILE);
  if (file == nullptr) return LastErrorResult();
  HRESULT result = S_OK;
  const HRSRC found = ::FindResourceA(file, MAKEINTRESOURCEA(resourceId), "REGISTRY");
  const HGLOBAL loaded = found == nullptr ? nullptr : ::LoadResource(file, found);
  const void* bytes = loaded == nullptr ? nullptr : ::LockResource(loaded);
  if (bytes == nullptr) {
    result = LastErrorResult();
  } else {
    // The resource is not terminated: the text is always a terminated copy,
    // and nothing past the resource's last byte is read.
    const SIZE_T size = ::SizeofResource(file, found);
    char* text = size + 1 == 0 ? nullptr : static_cast<char*>(::CoTaskMemAlloc(size + 1));
    if (text == nullptr) {
      result = E_OUTOFMEMORY;
    } else {
      if (size != 0) std::memcpy(text, bytes, size);
      text[size] = '\0';
      result = RunRegistryScriptText(text, registerFlag, pairs);
      ::CoTaskMemFree(text);
    }
  }
  ::FreeLibrary(file);
  return result;
}

}  // namespace

HRESULT ApplyRegistryScript(UINT resourceId, BOOL registerFlag, const SubstitutionPair* additional) {
  char path[kPathSize];
  HRESULT result = GetModulePath(path);
  if (FAILED(result)) return result;
  wchar_t quoted[2 * kPathSize];
  result = QuoteModulePath(path, quoted);
  if (FAILED(result)) return result;
  // "Module" first, so that it is the binding a script sees; then the caller's.
  SIZE_T count = 0;
  for (const SubstitutionPair* pair = additional; pair != nullptr && pair->name != nullptr; ++pair) ++count;
  auto* pairs = static_cast<SubstitutionPair*>(::CoTaskMemAlloc((count + 2) * sizeof(SubstitutionPair)));
  if (pairs == nullptr) return E_OUTOFMEMORY;
  pairs[0] = {L"Module", quoted};
  for (SIZE_T i = 0; i < count; ++i) pairs[i + 1] = additional[i];
  pairs[count + 1] = {nullptr, nullptr};
  result = RunResourceScript(path, resourceId, registerFlag, pairs);
  ::CoTaskMemFree(pairs);
  return result;
}

}  // namespace orvex
