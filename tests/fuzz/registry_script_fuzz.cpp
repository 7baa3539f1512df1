// Fuzz entry for the registry script interpreter and its substitution, built
// natively with libFuzzer and the sanitizers (tools/fuzz.sh) against the
// in-memory registry and module file of tests/fuzz/registry_host.h.
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
#include <cstdint>
#include <string>

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

// "Module" as the resource binds it (short path, else long, apostrophes doubled);
// "Extra" holds two double-byte characters and a '%' that is not expanded again.
const wchar_t kExtraValue[] = L"\x8341\x8362 %x%";
const SubstitutionPair kPairs[] = {
    {L"Module", L"C:\\PROGRA~1\\O''BRIE~1\\ORVEXI~1.DLL"}, {L"Extra", kExtraValue}, {nullptr, nullptr}};
const SubstitutionPair kLongPathPairs[] = {
    {L"Module", L"C:\\Program Files\\O''Brien''s\\Orvex Installer.dll"}, {L"Extra", kExtraValue}, {nullptr, nullptr}};
const SubstitutionPair kExtraPair[] = {{L"Extra", kExtraValue}, {nullptr, nullptr}};

// A registry that already holds keys no script wrote.
const char kPopulating[] =
    "HKCR { CLSID { {0F0F0F0F-1111-2222-3333-444455556666} { InprocServer32 = s 'x' } }\n"
    "       TypeLib { {0F0F0F0F-1111-2222-3333-444455556666} { '1.0' = s 'x' } } }\n"
    "HKCU { Software { Orvex = s 'x' } }\n";

// A run succeeds, fails on the script, or runs out of memory once an
// allocation was made to fail; no key stays open, the module file is freed.
HRESULT Finished(HRESULT result) {
  Check(result == S_OK || result == DISP_E_EXCEPTION || result == E_FAIL || (ledger::failed && result == E_OUTOFMEMORY),
        "a run succeeds, fails on the script, or runs out of memory once an allocation failed");
  Check(host_registry::openHandles.empty(), "every key handle is closed after a run");
  Check(host_module::loads == 0, "the module file is freed after each load");
  return result;
}

HRESULT Run(const std::string& text, BOOL registerFlag, const SubstitutionPair* pairs = kPairs) {
  return Finished(orvex::RunRegistryScriptText(text.c_str(), registerFlag, pairs));
}

HRESULT Apply(BOOL registerFlag) { return Finished(orvex::ApplyRegistryScript(102, registerFlag, kExtraPair)); }

bool ContainsNoCase(const std::string& text, const char* word) {
  return host_registry::Lower(text).find(word) != std::string::npos;
}

// Whether a key holds a value other than its default one.
bool HasNamedValue() {
  return std::any_of(host_registry::keys.begin(), host_registry::keys.end(),
                     [](const auto& key) { return key.second.size() > key.second.count(""); });
}

// Registers and unregisters the text, from an empty or a populated registry,
// the n-th allocation of each run failing (0 = none). From an empty registry
// with nothing failing, a script that registers (and holds no Delete)
// unregisters back to an empty registry, or, when it holds NoRemove, to one
// without any named value.
void RoundTrip(const std::string& text, bool populated, unsigned failing) {
  host_registry::Reset();
  ledger::Arm(0);
  if (populated) Check(Run(kPopulating, TRUE) == S_OK, "the registry is populated");
  ledger::Arm(failing);
  const HRESULT registered = Run(text, TRUE);
  if (populated && SUCCEEDED(registered)) {
    Check(host_registry::deleted.count(host_registry::Child("0", "CLSID")) == 0 &&
              host_registry::deleted.count(host_registry::Child("0", "TypeLib")) == 0,
          "registration never deletes HKCR\\CLSID or HKCR\\TypeLib");
  }
  ledger::Arm(failing);
  const HRESULT unregistered = Run(text, FALSE);
  if (populated || failing != 0 || FAILED(registered) || ContainsNoCase(text, "delete")) return;
  Check(unregistered == S_OK, "unregistration of a registered script succeeds");
  if (ContainsNoCase(text, "noremove")) {
    Check(!HasNamedValue(), "unregistration removes every named value, also of the keys that stay");
  } else {
    Check(host_registry::Empty(), "unregistration removes all that registration wrote");
  }
}

// Through the module's resource, the file is loaded by its short path, else by
// its long path, and the resource writes what its text writes with "Module"
// bound to that path, apostrophes doubled.
void ThroughTheModule(const std::uint8_t* script, std::size_t size, const std::string& text, bool shortFormFails) {
  host_module::resource = script;  // the input's last byte is its block's last
  host_module::resourceSize = static_cast<DWORD>(size);
  host_module::shortFormFails = shortFormFails;
  host_registry::Reset();
  ledger::Arm(0);
  const HRESULT applied = Apply(TRUE);
  const auto written = host_registry::keys;
  host_registry::Reset();
  Check(Run(text, TRUE, shortFormFails ? kLongPathPairs : kPairs) == applied && host_registry::keys == written,
        "the resource's script gives the text's result and writes what the text writes");
  Apply(FALSE);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* input, std::size_t inputSize) {
  if (inputSize < 1 || inputSize > 0x10000) return 0;
  const std::uint8_t control = input[0];
  const std::uint8_t* script = input + 1;
  const std::size_t size = inputSize - 1;
  const std::string text = std::string(reinterpret_cast<const char*>(script), size).c_str();

  RoundTrip(text, false, 0);
  const unsigned failing = (control >> 3) & 0x0Fu;
  const bool populated = (control & 0x80u) != 0;
  if (populated || failing != 0) RoundTrip(text, populated, failing);
  if ((control & 0x07u) != 0) ThroughTheModule(script, size, text, control % 2 == 0);
  return 0;
}
