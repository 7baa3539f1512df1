// The registry script interpreter on script texts, against a private key of
// each test: HKCU\Software\OrvexTests\RegistryScript\<test name>. Results are
// compared as the whole tree below that key.
#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "module_script.h"
#include "server_module.h"

namespace orvex {
namespace {

using Tree = std::vector<std::string>;

const char kTestsKey[] = "Software\\OrvexTests\\RegistryScript\\";

class RegistryScript : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(S_OK, StartModule(emptyTable_, ::GetModuleHandleA(nullptr)));
    name_ = ::testing::UnitTest::GetInstance()->current_test_info()->name();
    Reset("");
  }

  void TearDown() override {
    ::RegDeleteTreeA(HKEY_CURRENT_USER, Path("").c_str());
    StopModule();
    for (HMODULE module : loaded_) ::FreeLibrary(module);
    for (auto made = made_.rbegin(); made != made_.rend(); ++made) {
      if (!::DeleteFileW(made->c_str())) ::RemoveDirectoryW(made->c_str());
    }
  }

  // One root block that holds body inside the test's key.
  std::string Block(const std::string& body, const char* root = "HKCU") const {
    return std::string(root) + " { NoRemove Software { NoRemove OrvexTests { NoRemove RegistryScript { NoRemove '" +
           name_ + "' {\r\n" + body + "\r\n} } } } }\r\n";
  }

  // What names a case in a failure: the body of its Block (else from its fifth byte).
  static std::string Named(const std::string& script) { return script.substr(script.find("' {\r\n") + 5, 160); }

  std::string Path(const std::string& key) const { return kTestsKey + name_ + (key.empty() ? "" : "\\" + key); }

  // Empties the test's key, then registers the script body `before` in it.
  void Reset(const std::string& before) const {
    ::RegDeleteTreeA(HKEY_CURRENT_USER, Path("").c_str());
    ASSERT_EQ(S_OK, RunRegistryScriptText(Block(before).c_str(), TRUE, nullptr)) << before;
  }

  // Compares every key and value below the test's key, in any order: "Key\Sub"
  // for a key, "Key=s:text" for its default value, "Key@Name=d:4096" or
  // "@Name=b:0aff" for a named one.
  void ExpectTree(Tree expected) const {
    Tree found;
    Dump("", found);
    std::sort(expected.begin(), expected.end());
    std::sort(found.begin(), found.end());
    EXPECT_EQ(expected, found);
  }

  void Dump(const std::string& key, Tree& found) const {
    HKEY opened = nullptr;
    if (::RegOpenKeyExA(HKEY_CURRENT_USER, Path(key).c_str(), 0, KEY_READ, &opened) != ERROR_SUCCESS) return;
    char name[1024];
    unsigned char data[8192];
    DWORD i = 0, nameSize = sizeof(name), size = sizeof(data), type = 0;
    for (; ::RegEnumValueA(opened, i++, name, &nameSize, nullptr, &type, data, &size) == ERROR_SUCCESS;
         nameSize = sizeof(name), size = sizeof(data)) {
      std::string text = type == REG_SZ ? "s:" : type == REG_DWORD ? "d:" : "b:";
      if (type == REG_SZ) text.append(reinterpret_cast<const char*>(data), size == 0 ? 0 : size - 1);
      if (type == REG_DWORD) {
        DWORD number = 0;
        std::memcpy(&number, data, sizeof(number));
        text += std::to_string(number);
      }
      for (DWORD b = 0; type == REG_BINARY && b < size; ++b) {
        text += {"0123456789abcdef"[data[b] >> 4], "0123456789abcdef"[data[b] & 15]};
      }
      found.push_back(key + (nameSize == 0 ? "" : "@" + std::string(name, nameSize)) + "=" + text);
    }
    for (i = 0, nameSize = sizeof(name);
         ::RegEnumKeyExA(opened, i++, name, &nameSize, nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS;
         nameSize = sizeof(name)) {
      const std::string subkey = (key.empty() ? "" : key + "\\") + std::string(name, nameSize);
      found.push_back(subkey);
      Dump(subkey, found);
    }
    ::RegCloseKey(opened);
  }

  ClassTableEntry emptyTable_[1] = {};
  std::string name_;
  std::vector<std::wstring> made_;  // a folder and the file in it
  std::vector<HMODULE> loaded_;
};

// Well-formed items, each registered into the empty key and unregistered:
// exactly what they name is written, and all of it is removed again.
TEST_F(RegistryScript, ItemsWriteExactlyWhatTheyNameAndUnregistrationRemovesIt) {
  const std::wstring name31(31, L'N');  // the longest substitution name
  const SubstitutionPair pairs[] = {
      {L"Module", L"C:\\Orvex\\ORVEXI~1.DLL"}, {L"Other", L"x y"}, {name31.c_str(), L"31"}, {nullptr, nullptr}};
  const std::string quoted(4094, 'q'), bare(4095, 'u'), valueName(259, 'v');  // the longest of each
  const std::pair<std::string, Tree> cases[] = {
      {Block("A", "hkcu") + Block("B", "HkEy_CuRrEnT_uSeR"), {"A", "B"}},
      {Block("A = s '%MODULE%|%Module%|%module%|100%%' B = s '%OTHER%|%" + std::string(31, 'n') + "%'"),
       {"A", "A=s:C:\\Orvex\\ORVEXI~1.DLL|C:\\Orvex\\ORVEXI~1.DLL|C:\\Orvex\\ORVEXI~1.DLL|100%", "B", "B=s:x y|31"}},
      {Block("A = s 'It''s' B = s '' 'C { = } D' = s ''''"),
       {"A", "A=s:It's", "B", "B=s:", "C { = } D", "C { = } D=s:'"}},
      {Block("A = s '" + quoted + "' C = s " + bare + " val " + valueName + " = s x"),
       {"A", "A=s:" + quoted, "C", "C=s:" + bare, "@" + valueName + "=s:x"}},
      {Block("val N = d 4096 val H = b 0aFF val Z = B zz val E = b '' val T = S text"),
       {"@N=d:4096", "@H=b:0aff", "@Z=b:00", "@E=b:", "@T=s:text"}},
      // Values and blocks on keys at any depth, as the control's own script has them.
      {Block("ForceRemove F = s 'f' { val V = d 1 'G' = s g { H } }"),
       {"F", "F=s:f", "F@V=d:1", "F\\G", "F\\G=s:g", "F\\G\\H"}},
  };
  for (const auto& [script, tree] : cases) {
    SCOPED_TRACE(Named(script));
    Reset("");
    EXPECT_EQ(S_OK, RunRegistryScriptText(script.c_str(), TRUE, pairs));
    ExpectTree(tree);
    EXPECT_EQ(S_OK, RunRegistryScriptText(script.c_str(), FALSE, pairs));
    ExpectTree({});
  }
}

// Scripts against keys that are there already. Malformed ones are refused and
// touch nothing. ForceRemove and Delete take a key's subtree, never CLSID's or
// TypeLib's; unregistration removes what the script names, but no NoRemove
// key, no key that still has others' subkeys, and nothing named inside a
// missing key; a failing root block is undone and ends the script.
TEST_F(RegistryScript, RefusalsRemovalAndRollback) {
  const std::string open = Block("").substr(0, Block("").find("\r\n\r\n"));  // ends inside the test's key
  // Deeper than any registry, though not so deep that the stack would run out
  // without the bound: refused, not read through.
  std::string deep;
  for (int level = 0; level < 1000; ++level) deep += "A { ";
  for (int level = 0; level < 1000; ++level) deep += "} ";
  const std::string uncreatable(300, 'k');  // longer than any key name
  struct Case {
    std::string script;
    BOOL registerFlag = TRUE;
    HRESULT expected = DISP_E_EXCEPTION;
    std::string before = "Keep { Sub }";
    Tree after = {"Keep", "Keep\\Sub"};
  };
  const Case cases[] = {
      {" \t\r\n"}, {"HKCU Software { }"}, {Block("A", "HKEY_CURRENT")}, {open + " val V = s"},
      // Substitution names: bound (none is), at most 31 bytes.
      {Block("A = s '%Module%'")}, {Block("A = s '%" + std::string(32, 'N') + "%'"), TRUE, E_FAIL},
      // Token errors, on values: nothing is written before a value is whole.
      {Block("val V = s 'never closed")}, {Block("val V = s '" + std::string(4095, 'q') + "'")},
      {Block("val V = s " + std::string(4096, 'u'))}, {Block("val " + std::string(260, 'v') + " = s x")},
      {Block("val " + std::string(260, 'v') + " = s x"), FALSE}, {Block("val Odd = b abc"), TRUE, E_FAIL},
      {Block("val Word = d four")},  // not stored as some number
      // A key name names one level; the empty one would be the parent itself.
      {Block("'A\\B'")}, {Block("ForceRemove 'Keep\\Sub'")}, {Block("ForceRemove ''")}, {Block("''"), FALSE},
      {Block("Missing { 'A\\B' }"), FALSE},  // what is only read is still checked
      {Block(deep), FALSE},
      {Block("ForceRemove Force { New } Delete Gone = s 'x' ForceRemove clsid { Added } Delete TYPELIB"), TRUE, S_OK,
       "Force { Old } Gone { Child } CLSID { Keep } TypeLib { Keep }",
       {"CLSID", "CLSID\\Added", "CLSID\\Keep", "Force", "Force\\New", "TypeLib", "TypeLib\\Keep"}},
      {Block("First") + Block("Existing Second = s 'x' { Third } " + uncreatable) + Block("Later"), TRUE,
       DISP_E_EXCEPTION, "Existing", {"First"}},
      {Block("NoRemove Kept { val V = s 'x' Sub }"), FALSE, S_OK, "Kept { val V = s 'x' val Theirs = s 'y' Sub }",
       {"Kept", "Kept@Theirs=s:y"}},
      {Block("Ours { Sub }"), FALSE, S_OK, "Ours { Sub Foreign }", {"Ours", "Ours\\Foreign"}},
      {Block("Missing = s 'x' { Present val V = s 'z' Deeper { Present } }"), FALSE, S_OK,
       "val V = s 'kept' Present", {"@V=s:kept", "Present"}},
  };
  for (const Case& each : cases) {
    SCOPED_TRACE(Named(each.script));
    Reset(each.before);
    EXPECT_EQ(each.expected, RunRegistryScriptText(each.script.c_str(), each.registerFlag, nullptr));
    ExpectTree(each.after);
  }
}

// The module's own script binds "Module" to its short path, apostrophes and all.
TEST_F(RegistryScript, ModuleScriptRunsFromTheModulesShortPath) {
  const std::wstring test(name_.begin(), name_.end());
  const SubstitutionPair pairs[] = {{L"Test", test.c_str()}, {nullptr, nullptr}};
  // A copy of the test module (its script writes below the key "%Test%"
  // names) in a folder with an apostrophe, made the current module.
  wchar_t path[MAX_PATH];
  std::wstring source(path, ::GetModuleFileNameW(nullptr, path, MAX_PATH));
  source.replace(source.find_last_of(L'\\') + 1, std::wstring::npos, L"registry_script_module.dll");
  made_ = {std::wstring(path, ::GetTempPathW(MAX_PATH, path)) + L"Orvex's"};
  made_.push_back(made_[0] + L"\\registry_script_module.dll");
  ::CreateDirectoryW(made_[0].c_str(), nullptr);
  ASSERT_TRUE(::CopyFileW(source.c_str(), made_[1].c_str(), FALSE));
  const HMODULE module = ::LoadLibraryW(made_[1].c_str());
  ASSERT_NE(nullptr, module);
  loaded_.push_back(module);
  StopModule();
  StartModule(emptyTable_, module);
  char longPath[MAX_PATH], shortPath[MAX_PATH];
  ::GetModuleFileNameA(module, longPath, MAX_PATH);
  ASSERT_NE(0u, ::GetShortPathNameA(longPath, shortPath, MAX_PATH));
  ASSERT_NE(nullptr, std::strchr(shortPath, '\''));
  ASSERT_EQ(S_OK, ApplyRegistryScript(102, TRUE, pairs));
  ExpectTree({"Module", "Module=s:" + std::string(shortPath)});
  EXPECT_EQ(S_OK, ApplyRegistryScript(102, FALSE, pairs));
  EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_RESOURCE_NAME_NOT_FOUND), ApplyRegistryScript(103, TRUE, pairs));
  ExpectTree({});
}

}  // namespace
}  // namespace orvex
