// A sample setup package, run as <product>_<a>-<b>-<c>-<d>.exe: writes that
// Version under the maker's key ("quillon" also installs the sample viewer) and
// counts its Runs under HKCU\Software\OrvexTests\SampleSetup\<product>.
// ReplaceSelf there: it renames its own file to "<file>.old" and writes
// "replaced" in its place. It waits (2 min at most) for the event
// "orvextest_setup_go_<product>" if that exists. Exit 0 ok, 1 failed, 2 bad name.
#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <string>

#include "packed_version.h"
#include "product_name.h"
#include "registry_paths.h"
#include "win_handles.h"

namespace {

constexpr orvex::PackedVersion kViewerVersion = orvex::PackedVersion::Make(ORVEX_SAMPLE_VIEWER_VERSION);
constexpr char kViewerClsid[] = "{6F1E2D3C-4B5A-4978-8A9B-0C1D2E3F4A5B}";

bool SetValue(HKEY root, const std::string& key, const char* value, DWORD type, const void* data, DWORD size) {
  return ::RegSetKeyValueA(root, key.c_str(), value, type, data, size) == ERROR_SUCCESS;
}

DWORD GetDword(const std::string& key, const char* value) {
  DWORD number = 0;
  DWORD size = sizeof(number);
  ::RegGetValueA(HKEY_CURRENT_USER, key.c_str(), value, RRF_RT_REG_DWORD, nullptr, &number, &size);
  return number;
}

// Renamed away and replaced, as a self-updating setup does; tried for 10 s.
bool ReplaceSelf(const std::string& ownPath) {
  bool moved = false;
  for (int attempt = 0; attempt < 200 && !moved; ++attempt) {
    moved = ::MoveFileExA(ownPath.c_str(), (ownPath + ".old").c_str(), MOVEFILE_REPLACE_EXISTING) != FALSE;
    if (!moved) ::Sleep(50);
  }
  const orvex::UniqueHandle file(
      moved ? ::CreateFileA(ownPath.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr) : nullptr);
  DWORD count = 0;
  return file && ::WriteFile(file.Get(), "replaced", 8, &count, nullptr) && count == 8;
}

// <Program Files>\Brindlewood\Quillon\QuillonViewer.dll, from the module
// resource, registered under the viewer's class identifier.
bool InstallViewer() {
  char programFiles[MAX_PATH];
  const DWORD expanded = ::ExpandEnvironmentStringsA("%ProgramFiles%", programFiles, MAX_PATH);
  if (expanded == 0 || expanded > MAX_PATH) return false;
  const std::string folder = std::string(programFiles) + "\\Brindlewood";
  const std::string module = folder + "\\Quillon\\QuillonViewer.dll";
  ::CreateDirectoryA(folder.c_str(), nullptr);
  ::CreateDirectoryA((folder + "\\Quillon").c_str(), nullptr);
  const HRSRC resource = ::FindResourceA(nullptr, MAKEINTRESOURCEA(ORVEX_SAMPLE_VIEWER_RESOURCE), RT_RCDATA);
  const HGLOBAL loaded = resource != nullptr ? ::LoadResource(nullptr, resource) : nullptr;
  const DWORD size = resource != nullptr ? ::SizeofResource(nullptr, resource) : 0;
  const void* data = loaded != nullptr ? ::LockResource(loaded) : nullptr;
  orvex::UniqueHandle file(::CreateFileA(module.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
  DWORD written = 0;
  const bool complete = data != nullptr && file && ::WriteFile(file.Get(), data, size, &written, nullptr) &&
                        written == size && ::CloseHandle(file.Release());
  if (!complete) {
    file.Reset();
    ::DeleteFileA(module.c_str());  // leave no cut-off module behind
    return false;
  }
  return SetValue(HKEY_CLASSES_ROOT, std::string("CLSID\\") + kViewerClsid + "\\InprocServer32", nullptr, REG_SZ,
                  module.c_str(), static_cast<DWORD>(module.size() + 1));
}

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  char path[MAX_PATH];
  const DWORD length = ::GetModuleFileNameA(nullptr, path, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return 2;
  const std::string ownPath = path;
  // "<product>_<a>-<b>-<c>-<d>.exe": the product runs to the last '_'.
  const std::size_t slash = ownPath.find_last_of("\\/") + 1;
  const std::size_t underscore = ownPath.rfind('_');
  unsigned v[4] = {};
  char tail[8] = "";
  if (underscore == std::string::npos || underscore <= slash ||
      std::sscanf(ownPath.c_str() + underscore + 1, "%5u-%5u-%5u-%5u%7s", &v[0], &v[1], &v[2], &v[3], tail) != 5 ||
      ::lstrcmpiA(tail, ".exe") != 0 || (v[0] | v[1] | v[2] | v[3]) > 0xFFFF) {
    return 2;
  }
  const std::string product = ownPath.substr(slash, underscore - slash);
  if (!orvex::IsAcceptableProductName(product.c_str())) return 2;

  const std::string record = "Software\\OrvexTests\\SampleSetup\\" + product;
  bool ok = true;
  if (GetDword(record, "ReplaceSelf") != 0) ReplaceSelf(ownPath);  // the test reads the file
  const DWORD runs = GetDword(record, "Runs") + 1;
  ok = SetValue(HKEY_CURRENT_USER, record, "Runs", REG_DWORD, &runs, 4) && ok;

  auto version = orvex::PackedVersion::Make(static_cast<std::uint16_t>(v[0]), static_cast<std::uint16_t>(v[1]),
                                            static_cast<std::uint16_t>(v[2]), static_cast<std::uint16_t>(v[3]));
  if (::lstrcmpiA(product.c_str(), "quillon") == 0) {
    ok = InstallViewer() && ok;
    version = kViewerVersion;
  }
  // Stored as it lies in memory: low 32 bits first, little-endian.
  ok = SetValue(HKEY_LOCAL_MACHINE, orvex::kMakerKey + product, orvex::kVersionValue, REG_BINARY, &version,
                sizeof(version)) && ok;

  const orvex::UniqueHandle go(::OpenEventA(SYNCHRONIZE, FALSE, ("orvextest_setup_go_" + product).c_str()));
  if (go) ::WaitForSingleObject(go.Get(), 120000);
  return ok ? 0 : 1;
}
