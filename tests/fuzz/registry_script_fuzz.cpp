// Fuzz entry for the registry script interpreter and its substitution, built
// natively with libFuzzer and the address, leak and undefined-behaviour
// sanitizers against the in-memory registry and module file of
// tests/fuzz/registry_host.h.
//
// Input: one control byte, then the script (as a text it ends at its first
// NUL; the module's resource holds all of it).
//   bits 0-2  a run through the module's resource, the module file named:
//             0 = no such run; 1 = plainly; 2 = with apostrophes and a shorter
//             short form; 3 = with an apostrophe, its short form failing;
//             4 = its short form not fitting the buffer; 5 = in 259
//             characters; 6 = in 260 or more; 7 = a file that cannot be loaded
//   bits 3-6  n = in a further registration and unregistration the n-th
//             allocation fails (0 = none fails)
//   bit 7     the further runs start from a populated registry
//
// Checks, besides the sanitizers' own and the host's (handles, key names, text
// values, reading past the resource): each Check below says what it holds
// (README, "Fuzzing", lists them).
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "registry_host.h"
#include "module_script.h"
#include "server_module.h"

// The module state the interpreter reads (its instance) and its allocator.
namespace orvex {
namespace {
ServerModule hostModule{};
}
ServerModule* CurrentModule() { return &hostModule; }
void* ModuleAlloc(SIZE_T size) { return CoTaskMemAlloc(size); }
void* ModuleRealloc(void* block, SIZE_T size) { return CoTaskMemRealloc(block, size); }
void ModuleFree(void* block) { CoTaskMemFree(block); }
}  // namespace orvex

namespace {

using orvex::SubstitutionPair;

void Check(bool condition, const char* what) {
  if (!condition) {
    std::fprintf(stderr, "registry script check failed: %s\n", what);
    std::abort();
  }
}

// "Extra" holds two double-byte characters and a '%' that is not expanded again.
const wchar_t kExtraValue[] = L"\x8341\x8362 %x%";
const SubstitutionPair kPairs[] = {
    {L"Module", L"C:\\PROGRA~1\\Orvex''s\\ORVEXI~1.DLL"}, {L"Extra", kExtraValue}, {nullptr, nullptr}};
const SubstitutionPair kExtraPair[] = {{L"Extra", kExtraValue}, {nullptr, nullptr}};

bool Allowed(HRESULT result, bool allocationFailed) {
  return result == S_OK || result == DISP_E_EXCEPTION || result == E_FAIL ||
         (allocationFailed && result == E_OUTOFMEMORY);
}

void CheckNoKeyOpen() { Check(host_registry::openHandles.empty(), "every key handle is closed after a run"); }

bool ContainsNoCase(const std::string& text, const char* word) {
  return host_registry::Lower(text).find(word) != std::string::npos;
}

bool HasNamedValue(const host_registry::Key& key) {
  for (const auto& value : key.values) {
    if (!value.name.empty()) return true;
  }
  for (const auto& subkey : key.subkeys) {
    if (HasNamedValue(*subkey)) return true;
  }
  return false;
}

bool HasNamedValue() {
  for (const auto& root : host_registry::roots) {
    if (root && HasNamedValue(*root)) return true;
  }
  return false;
}

HRESULT Run(const std::string& text, BOOL registerFlag, const SubstitutionPair* pairs) {
  const HRESULT result = orvex::RunRegistryScriptText(text.c_str(), registerFlag, pairs);
  CheckNoKeyOpen();
  return result;
}

void RoundTripFromEmpty(const std::string& text) {
  host_registry::Reset();
  const HRESULT registered = Run(text, TRUE, kPairs);
  Check(Allowed(registered, false), "registration result");
  const HRESULT unregistered = Run(text, FALSE, kPairs);
  Check(Allowed(unregistered, false), "unregistration result");
  if (SUCCEEDED(registered) && !ContainsNoCase(text, "delete")) {
    Check(unregistered == S_OK, "unregistration of a registered script succeeds");
    if (!ContainsNoCase(text, "noremove")) {
      Check(host_registry::Snapshot().empty(), "unregistration removes all that registration wrote");
    } else {
      Check(!HasNamedValue(), "unregistration removes every named value, also of the keys that stay");
    }
  }
}

void FurtherRuns(const std::string& text, bool populated, unsigned failing) {
  host_registry::Reset();
  std::shared_ptr<host_registry::Key> classes;
  std::shared_ptr<host_registry::Key> libraries;
  if (populated) {
    host_registry::Populate(0, {"CLSID", "{0F0F0F0F-1111-2222-3333-444455556666}", "InprocServer32"});
    host_registry::Populate(0, {"TypeLib", "{0F0F0F0F-1111-2222-3333-444455556666}", "1.0"});
    host_registry::Populate(1, {"Software", "Orvex"});
    classes = host_registry::FindSubkey(*host_registry::roots[0], "CLSID");
    libraries = host_registry::FindSubkey(*host_registry::roots[0], "TypeLib");
  }
  hostFailingAllocation = failing;
  const HRESULT registered = Run(text, TRUE, kPairs);
  Check(Allowed(registered, failing != 0 && hostFailingAllocation == 0), "registration result");
  if (populated && SUCCEEDED(registered)) {
    Check(!classes->deleted && !libraries->deleted, "registration never deletes a protected key");
  }
  hostFailingAllocation = failing;
  const HRESULT unregistered = Run(text, FALSE, kPairs);
  Check(Allowed(unregistered, failing != 0 && hostFailingAllocation == 0), "unregistration result");
  hostFailingAllocation = 0;
}

void ThroughTheModule(const std::uint8_t* script, std::size_t size, const std::string& text, unsigned kind) {
  using host_module::ShortForm;
  const auto* bytes = reinterpret_cast<const char*>(script);
  host_module::resource.assign(bytes, bytes + size);
  host_module::loadedPath.clear();
  host_module::loads = 0;
  host_module::frees = 0;
  host_module::loadFails = kind == 7;
  host_module::shortForm = ShortForm::kSame;
  host_module::path = "C:\\Program Files\\Orvex\\OrvexInstaller.dll";
  std::string expected = host_module::path;
  switch (kind) {
    case 2:
      host_module::path = "C:\\Program Files\\O'Brien's\\Orvex Installer.dll";
      host_module::shortPath = "C:\\PROGRA~1\\O'BRIE~1\\ORVEXI~1.DLL";
      host_module::shortForm = ShortForm::kShorter;
      expected = host_module::shortPath;
      break;
    case 3:
      host_module::path = expected = "C:\\It's\\Orvex.dll";
      host_module::shortForm = ShortForm::kFails;
      break;
    case 4:
      host_module::shortForm = ShortForm::kTooLong;
      break;
    case 5:
      host_module::path = expected = "C:\\" + std::string(252, 'n') + ".dll";
      break;
    case 6:
      host_module::path = "C:\\" + std::string(253 + size % 40, 'n') + ".dll";
      break;
    default:
      break;
  }

  host_registry::Reset();
  const HRESULT applied = orvex::ApplyRegistryScript(102, TRUE, kExtraPair);
  CheckNoKeyOpen();
  if (kind == 6) {
    Check(applied == HRESULT_FROM_WIN32(ERROR_FILENAME_EXCED_RANGE), "a module name that does not fit is refused");
    Check(host_module::loadedPath.empty() && host_registry::Snapshot().empty(), "and nothing is loaded or written");
    return;
  }
  Check(host_module::loadedPath == expected, "the file is loaded by its short path, else by its long path");
  if (kind == 7) {
    Check(applied == E_FAIL && host_registry::Snapshot().empty(), "a file that cannot be loaded fails");
    return;
  }
  Check(host_module::loads == 1 && host_module::frees == 1, "the module file is loaded and freed once");
  const std::string written = host_registry::Snapshot();

  std::vector<wchar_t> quoted;
  for (const char c : expected) {
    if (c == '\'') quoted.push_back(L'\'');
    quoted.push_back(static_cast<wchar_t>(static_cast<unsigned char>(c)));
  }
  quoted.push_back(L'\0');
  const SubstitutionPair pairs[] = {{L"Module", quoted.data()}, {L"Extra", kExtraValue}, {nullptr, nullptr}};
  host_registry::Reset();
  Check(Run(text, TRUE, pairs) == applied, "the resource's script gives the text's result");
  Check(host_registry::Snapshot() == written, "the resource's script writes what the text writes");

  host_registry::Reset();
  Check(orvex::ApplyRegistryScript(103, TRUE, kExtraPair) == HRESULT_FROM_WIN32(ERROR_RESOURCE_NAME_NOT_FOUND),
        "a missing resource fails");
  Check(host_registry::Snapshot().empty(), "a missing resource writes nothing");
  Check(Allowed(orvex::ApplyRegistryScript(102, FALSE, kExtraPair), false), "unregistration result");
  CheckNoKeyOpen();
  Check(host_module::loads == host_module::frees, "every load of the module file is freed");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* input, std::size_t inputSize) {
  if (inputSize < 1 || inputSize > 0x10000) return 0;
  const std::uint8_t control = input[0];
  const std::uint8_t* script = input + 1;
  const std::size_t size = inputSize - 1;
  std::size_t textLength = 0;
  while (textLength < size && script[textLength] != 0) ++textLength;
  const std::string text(reinterpret_cast<const char*>(script), textLength);

  RoundTripFromEmpty(text);
  const unsigned failing = (control >> 3) & 0x0Fu;
  const bool populated = (control & 0x80u) != 0;
  if (populated || failing != 0) FurtherRuns(text, populated, failing);
  if ((control & 0x07u) != 0) ThroughTheModule(script, size, text, control & 0x07u);
  return 0;
}
