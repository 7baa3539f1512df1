// Fuzz entry for the registry script interpreter and its substitution, built
// natively with libFuzzer and the address, leak and undefined-behaviour
// sanitizers against the in-memory registry and module file of
// tests/fuzz/registry_host.h.
//
// Input: one control byte, then the script (as a text it ends at its first
// NUL; the module's resource holds all of it).
//   bits 0-2  n = 0: no run through the module's resource; else one, the
//             module file's short form to be had (n odd) or not (n even)
//   bits 3-6  n = in a further registration and unregistration the n-th
//             allocation fails (0 = none fails)
//   bit 7     the further runs start from a populated registry
#include <algorithm>
#include <cstddef>
#include <iterator>
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
  return std::any_of(key.values.begin(), key.values.end(), [](const auto& value) { return !value.name.empty(); }) ||
         std::any_of(key.subkeys.begin(), key.subkeys.end(), [](const auto& subkey) { return HasNamedValue(*subkey); });
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
      Check(std::none_of(std::begin(host_registry::roots), std::end(host_registry::roots),
                         [](const auto& root) { return HasNamedValue(*root); }),
            "unregistration removes every named value, also of the keys that stay");
    }
  }
}

void FurtherRuns(const std::string& text, bool populated, unsigned failing) {
  host_registry::Reset();
  if (populated) {
    host_registry::Populate(0, {"CLSID", "{0F0F0F0F-1111-2222-3333-444455556666}", "InprocServer32"});
    host_registry::Populate(0, {"TypeLib", "{0F0F0F0F-1111-2222-3333-444455556666}", "1.0"});
    host_registry::Populate(1, {"Software", "Orvex"});
  }
  const std::vector<std::shared_ptr<host_registry::Key>> protectedKeys = host_registry::roots[0]->subkeys;
  hostFailingAllocation = failing;
  const HRESULT registered = Run(text, TRUE, kPairs);
  Check(Allowed(registered, failing != 0 && hostFailingAllocation == 0), "registration result");
  if (populated && SUCCEEDED(registered)) {
    Check(!protectedKeys[0]->deleted && !protectedKeys[1]->deleted,
          "registration never deletes HKCR\\CLSID or HKCR\\TypeLib");
  }
  hostFailingAllocation = failing;
  const HRESULT unregistered = Run(text, FALSE, kPairs);
  Check(Allowed(unregistered, failing != 0 && hostFailingAllocation == 0), "unregistration result");
  hostFailingAllocation = 0;
}

// The module file is loaded by its short path, else by its long path, and its
// resource writes what its text writes with "Module" bound to that path,
// apostrophes doubled.
void ThroughTheModule(const std::uint8_t* script, std::size_t size, const std::string& text, unsigned kind) {
  const auto* bytes = reinterpret_cast<const char*>(script);
  host_module::resource.assign(bytes, bytes + size);
  host_module::shortFormFails = kind % 2 == 0;
  const bool byShortPath = !host_module::shortFormFails;
  host_registry::Reset();
  const HRESULT applied = orvex::ApplyRegistryScript(102, TRUE, kExtraPair);
  CheckNoKeyOpen();
  Check(host_module::loadedPath == (byShortPath ? host_module::kShortPath : host_module::kPath),
        "the file is loaded by its short path, else by its long path");
  Check(host_module::loads == 0, "the module file is freed after each load");
  const std::string written = host_registry::Snapshot();

  const SubstitutionPair pairs[] = {{L"Module", byShortPath ? L"C:\\PROGRA~1\\O''BRIE~1\\ORVEXI~1.DLL"
                                                            : L"C:\\Program Files\\O''Brien''s\\Orvex Installer.dll"},
                                    {L"Extra", kExtraValue},
                                    {nullptr, nullptr}};
  host_registry::Reset();
  Check(Run(text, TRUE, pairs) == applied, "the resource's script gives the text's result");
  Check(host_registry::Snapshot() == written, "the resource's script writes what the text writes");

  host_registry::Reset();
  Check(orvex::ApplyRegistryScript(103, TRUE, kExtraPair) == HRESULT_FROM_WIN32(ERROR_RESOURCE_NAME_NOT_FOUND) &&
            host_registry::Snapshot().empty(),
        "a missing resource fails and writes nothing");
  Check(Allowed(orvex::ApplyRegistryScript(102, FALSE, kExtraPair), false), "unregistration result");
  CheckNoKeyOpen();
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
