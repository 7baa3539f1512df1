#include "module_registration.h"

#include "server_module.h"

namespace orvex {

namespace {

constexpr DWORD kPathSize = 260;
constexpr DWORD kPathBufferSize = 272;

// The help directory: the path cut after its last '\', '/' or ':'.
void HelpDirectoryOf(const wchar_t* path, wchar_t (&directory)[kPathSize + 1]) {
  DWORD cut = 0;
  for (DWORD i = 0; path[i] != L'\0' && i < kPathSize; ++i) {
    if (path[i] == L'\\' || path[i] == L'/' || path[i] == L':') cut = i + 1;
  }
  for (DWORD i = 0; i < cut; ++i) directory[i] = path[i];
  directory[cut] = L'\0';
}

HRESULT LoadFromAnsiPath(const char* path, ITypeLib** library, BSTR* loadedFrom) {
  wchar_t wide[kPathBufferSize];
  if (::MultiByteToWideChar(CP_ACP, 0, path, -1, wide, kPathBufferSize) == 0) {
    return HRESULT_FROM_WIN32(::GetLastError());
  }
  const HRESULT result = ::LoadTypeLib(wide, library);
  if (SUCCEEDED(result)) {
    *loadedFrom = ::SysAllocString(wide);
    if (*loadedFrom == nullptr) {
      (*library)->Release();
      *library = nullptr;
      return E_OUTOFMEMORY;
    }
  }
  return result;
}

}  // namespace

HRESULT LoadOwnTypeLibrary(BSTR* path, ITypeLib** library) {
  *path = nullptr;
  *library = nullptr;
  char name[kPathBufferSize];
  const DWORD length = ::GetModuleFileNameA(CurrentModule()->instance, name, kPathSize);
  // A path that fills the buffer may have been cut: never use a cut path.
  if (length == 0 || length >= kPathSize) return HRESULT_FROM_WIN32(ERROR_FILENAME_EXCED_RANGE);
  name[length] = '\0';
  if (SUCCEEDED(LoadFromAnsiPath(name, library, path))) return S_OK;

  // The ".tlb" file beside the module: replace the extension (the last '.').
  char* dot = nullptr;
  for (char* p = name; *p != '\0'; p = ::CharNextA(p)) {
    if (*p == '.') dot = p;
  }
  if (dot == nullptr) dot = name + length;
  if (static_cast<DWORD>(dot - name) + sizeof(".tlb") > kPathBufferSize) {
    return HRESULT_FROM_WIN32(ERROR_FILENAME_EXCED_RANGE);
  }
  ::lstrcpyA(dot, ".tlb");
  return LoadFromAnsiPath(name, library, path);
}

HRESULT RegisterModule() {
  ServerModule* module = CurrentModule();
  for (ClassTableEntry* entry = module->classTable; entry->classId != nullptr; ++entry) {
    const HRESULT result = entry->scriptUpdater(TRUE);
    if (FAILED(result)) return result;
    if (entry->categoryHook != nullptr) entry->categoryHook();  // the control names no categories
  }
  BSTR path = nullptr;
  ITypeLib* library = nullptr;
  HRESULT result = LoadOwnTypeLibrary(&path, &library);
  if (FAILED(result)) return result;
  wchar_t helpDirectory[kPathSize + 1];
  HelpDirectoryOf(path, helpDirectory);
  result = ::RegisterTypeLib(library, path, helpDirectory);
  library->Release();
  ::SysFreeString(path);
  return result;
}

HRESULT UnregisterModule() {
  ServerModule* module = CurrentModule();
  for (ClassTableEntry* entry = module->classTable; entry->classId != nullptr; ++entry) {
    entry->scriptUpdater(FALSE);
    if (entry->categoryHook != nullptr) entry->categoryHook();
  }
  BSTR path = nullptr;
  ITypeLib* library = nullptr;
  if (FAILED(LoadOwnTypeLibrary(&path, &library))) return S_OK;
  TLIBATTR* attributes = nullptr;
  if (SUCCEEDED(library->GetLibAttr(&attributes))) {
    // Looked up by name: older platforms lack it, and then nothing is undone.
    if (HMODULE automation = ::LoadLibraryA("oleaut32.dll")) {
      using Unregister = HRESULT(WINAPI*)(REFGUID, WORD, WORD, LCID, SYSKIND);
      if (FARPROC found = ::GetProcAddress(automation, "UnRegisterTypeLib")) {
        Unregister unregister;
        static_assert(sizeof(unregister) == sizeof(found), "function pointers of one size");
        ::CopyMemory(&unregister, &found, sizeof(found));
        unregister(attributes->guid, attributes->wMajorVerNum, attributes->wMinorVerNum, attributes->lcid,
                   attributes->syskind);
      }
      ::FreeLibrary(automation);
    }
    library->ReleaseTLibAttr(attributes);
  }
  library->Release();
  ::SysFreeString(path);
  return S_OK;
}

}  // namespace orvex
