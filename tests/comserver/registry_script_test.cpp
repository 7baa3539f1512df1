// The registry script interpreter on script texts, against a private key of
// each test: HKCU\Software\OrvexTests\RegistryScript\<test name>.
#include <gtest/gtest.h>

#include <windows.h>

#include <cstring>
#include <string>

#include "registry_script.h"
#include "server_module.h"

namespace orvex {
namespace {

const char kTestsKey[] = "Software\\OrvexTests\\RegistryScript\\";

// The control's own script, below HKCR.
const char kControlItems[] = R"(
	OrvexInstaller.OrvexInstallerCtl.1 = s 'OrvexInstallerCtl Class'
	{
		CLSID = s '{5B3C2A71-8E4D-4F60-A1B2-6C7D8E9F0A12}'
	}
	OrvexInstaller.OrvexInstallerCtl = s 'OrvexInstallerCtl Class'
	{
		CLSID = s '{5B3C2A71-8E4D-4F60-A1B2-6C7D8E9F0A12}'
		CurVer = s 'OrvexInstaller.OrvexInstallerCtl.1'
	}
	NoRemove CLSID
	{
		ForceRemove {5B3C2A71-8E4D-4F60-A1B2-6C7D8E9F0A12} = s 'OrvexInstallerCtl Class'
		{
			ProgID = s 'OrvexInstaller.OrvexInstallerCtl.1'
			VersionIndependentProgID = s 'OrvexInstaller.OrvexInstallerCtl'
			ForceRemove 'Programmable'
			InprocServer32 = s '%MODULE%'
			{
				val ThreadingModel = s 'Apartment'
			}
			ForceRemove 'Control'
			ForceRemove 'ToolboxBitmap32' = s '%MODULE%, 101'
			'MiscStatus' = s '0'
			{
			    '1' = s '132497'
			}
			'TypeLib' = s '{5B3C2A72-8E4D-4F60-A1B2-6C7D8E9F0A12}'
			'Version' = s '1.0'
		}
	}
)";
const char kClassKey[] = "CLSID\\{5B3C2A71-8E4D-4F60-A1B2-6C7D8E9F0A12}";

class RegistryScript : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(S_OK, StartModule(emptyTable_, ::GetModuleHandleA(nullptr)));
    name_ = ::testing::UnitTest::GetInstance()->current_test_info()->name();
    ::RegDeleteTreeA(HKEY_CURRENT_USER, (kTestsKey + name_).c_str());
    CreateKey("");
  }

  void TearDown() override {
    ::RegDeleteTreeA(HKEY_CURRENT_USER, (kTestsKey + name_).c_str());
    StopModule();
  }

  // One root block that holds body inside the test's key.
  std::string Block(const std::string& body, const char* root = "HKCU") const {
    return std::string(root) + " { NoRemove Software { NoRemove OrvexTests { NoRemove RegistryScript { NoRemove '" +
           name_ + "' {\r\n" + body + "\r\n} } } } }\r\n";
  }

  HRESULT Run(const std::string& body, BOOL registerFlag, const SubstitutionPair* pairs = nullptr) const {
    return RunRegistryScriptText(Block(body).c_str(), registerFlag, pairs);
  }

  std::string Path(const std::string& key) const { return kTestsKey + name_ + (key.empty() ? "" : "\\" + key); }

  void CreateKey(const std::string& key) const {
    HKEY created = nullptr;
    ASSERT_EQ(ERROR_SUCCESS, ::RegCreateKeyExA(HKEY_CURRENT_USER, Path(key).c_str(), 0, nullptr, 0,
                                               KEY_ALL_ACCESS, nullptr, &created, nullptr));
    ::RegCloseKey(created);
  }

  bool Exists(const std::string& key) const {
    HKEY opened = nullptr;
    if (::RegOpenKeyExA(HKEY_CURRENT_USER, Path(key).c_str(), 0, KEY_READ, &opened) != ERROR_SUCCESS) return false;
    ::RegCloseKey(opened);
    return true;
  }

  DWORD SubkeyCount(const std::string& key) const {
    HKEY opened = nullptr;
    DWORD count = 0;
    if (::RegOpenKeyExA(HKEY_CURRENT_USER, Path(key).c_str(), 0, KEY_READ, &opened) != ERROR_SUCCESS) return 0;
    ::RegQueryInfoKeyA(opened, nullptr, nullptr, nullptr, &count, nullptr, nullptr, nullptr, nullptr, nullptr,
                       nullptr, nullptr);
    ::RegCloseKey(opened);
    return count;
  }

  // "<missing>" or the value's bytes, after its type letter: "s:text", "d:4096", "b:0aff".
  std::string Value(const std::string& key, const char* value = nullptr) const {
    unsigned char data[8192];
    DWORD size = sizeof(data);
    DWORD type = 0;
    if (::RegGetValueA(HKEY_CURRENT_USER, Path(key).c_str(), value, RRF_RT_ANY | RRF_NOEXPAND, &type, data,
                       &size) != ERROR_SUCCESS) {
      return "<missing>";
    }
    if (type == REG_SZ) return "s:" + std::string(reinterpret_cast<const char*>(data), size == 0 ? 0 : size - 1);
    if (type == REG_DWORD) {
      DWORD number = 0;
      std::memcpy(&number, data, sizeof(number));
      return "d:" + std::to_string(number);
    }
    std::string text = "b:";
    for (DWORD i = 0; i < size; ++i) {
      const char digits[] = "0123456789abcdef";
      text += digits[data[i] >> 4];
      text += digits[data[i] & 15];
    }
    return text;
  }

  void SetValue(const std::string& key, const char* value, const char* text) const {
    ASSERT_EQ(ERROR_SUCCESS, ::RegSetKeyValueA(HKEY_CURRENT_USER, Path(key).c_str(), value, REG_SZ, text,
                                               static_cast<DWORD>(std::strlen(text) + 1)));
  }

  ClassTableEntry emptyTable_[1] = {};
  std::string name_;
};


TEST_F(RegistryScript, EmptyScriptSucceedsAndBlanksAloneFail) {
  EXPECT_EQ(S_OK, RunRegistryScriptText("", TRUE, nullptr));
  EXPECT_EQ(S_OK, RunRegistryScriptText("", FALSE, nullptr));
  EXPECT_EQ(DISP_E_EXCEPTION, RunRegistryScriptText(" \t\r\n", TRUE, nullptr));
  // Form feed is no blank: it is a token, and no root name.
  EXPECT_EQ(DISP_E_EXCEPTION, RunRegistryScriptText("\f", TRUE, nullptr));
}

TEST_F(RegistryScript, SubstitutesBoundNamesInAnyCase) {
  const SubstitutionPair pairs[] = {{L"Module", L"C:\\Orvex\\ORVEXI~1.DLL"}, {L"Other", L"x y"}, {nullptr, nullptr}};
  ASSERT_EQ(S_OK, Run("A = s '%MODULE%|%Module%|%module%|100%%' B = s '%OTHER%'", TRUE, pairs));
  EXPECT_EQ("s:C:\\Orvex\\ORVEXI~1.DLL|C:\\Orvex\\ORVEXI~1.DLL|C:\\Orvex\\ORVEXI~1.DLL|100%", Value("A"));
  EXPECT_EQ("s:x y", Value("B"));
}

TEST_F(RegistryScript, UnboundOrUnclosedNamesFailBeforeAnythingIsWritten) {
  const SubstitutionPair pairs[] = {{L"Module", L"m"}, {nullptr, nullptr}};
  EXPECT_EQ(DISP_E_EXCEPTION, Run("A = s '%" + std::string(31, 'N') + "%'", TRUE, pairs));
  EXPECT_EQ(E_FAIL, Run("A = s '%" + std::string(32, 'N') + "%'", TRUE, pairs));
  EXPECT_EQ(DISP_E_EXCEPTION, Run("A = s '%Module'", TRUE, pairs));
  EXPECT_EQ(DISP_E_EXCEPTION, Run("A = s '%Module%'", TRUE, nullptr));
  EXPECT_FALSE(Exists("A"));
}

TEST_F(RegistryScript, QuotedTokensHoldBlanksBracesAndDoubledApostrophes) {
  ASSERT_EQ(S_OK, Run("A = s 'It''s' B = s '' 'C { = } D' = s ''''", TRUE));
  EXPECT_EQ("s:It's", Value("A"));
  EXPECT_EQ("s:", Value("B"));
  EXPECT_EQ("s:'", Value("C { = } D"));
  EXPECT_EQ(DISP_E_EXCEPTION, Run("E = s 'never closed", TRUE));
}

TEST_F(RegistryScript, TokensAndValueNamesAreBounded) {
  ASSERT_EQ(S_OK, Run("A = s '" + std::string(4094, 'q') + "'", TRUE));
  EXPECT_EQ("s:" + std::string(4094, 'q'), Value("A"));
  EXPECT_EQ(DISP_E_EXCEPTION, Run("B = s '" + std::string(4095, 'q') + "'", TRUE));
  ASSERT_EQ(S_OK, Run("C = s " + std::string(4095, 'u'), TRUE));
  EXPECT_EQ("s:" + std::string(4095, 'u'), Value("C"));
  EXPECT_EQ(DISP_E_EXCEPTION, Run("D = s " + std::string(4096, 'u'), TRUE));
  const std::string name259(259, 'v');
  ASSERT_EQ(S_OK, Run("val " + name259 + " = s x", TRUE));
  EXPECT_EQ("s:x", Value("", name259.c_str()));
  EXPECT_EQ(DISP_E_EXCEPTION, Run("val " + name259 + "w = s x", TRUE));
  EXPECT_EQ(DISP_E_EXCEPTION, Run("val " + name259 + "w = s x", FALSE));
}

TEST_F(RegistryScript, RootNamesInAnyCase) {
  EXPECT_EQ(S_OK, RunRegistryScriptText(Block("A", "hkcu").c_str(), TRUE, nullptr));
  EXPECT_EQ(S_OK, RunRegistryScriptText(Block("B", "HkEy_CuRrEnT_uSeR").c_str(), TRUE, nullptr));
  EXPECT_TRUE(Exists("A"));
  EXPECT_TRUE(Exists("B"));
  EXPECT_EQ(DISP_E_EXCEPTION, RunRegistryScriptText(Block("C", "HKEY_CURRENT").c_str(), TRUE, nullptr));
  EXPECT_EQ(DISP_E_EXCEPTION, RunRegistryScriptText("HKCU Software { }", TRUE, nullptr));
  EXPECT_FALSE(Exists("C"));
}

TEST_F(RegistryScript, ValueTypes) {
  ASSERT_EQ(S_OK, Run("val N = d 4096 val H = b 0aFF val Z = B zz val E = b '' val T = S text", TRUE));
  EXPECT_EQ("d:4096", Value("", "N"));
  EXPECT_EQ("b:0aff", Value("", "H"));
  EXPECT_EQ("b:00", Value("", "Z"));
  EXPECT_EQ("b:", Value("", "E"));
  EXPECT_EQ("s:text", Value("", "T"));
  EXPECT_EQ(E_FAIL, Run("val Odd = b abc", TRUE));
  EXPECT_EQ(DISP_E_EXCEPTION, Run("val Typed = x 1", TRUE));
  // A number that does not convert is refused, not stored as some number.
  EXPECT_EQ(DISP_E_EXCEPTION, Run("val Word = d four", TRUE));
  EXPECT_EQ("<missing>", Value("", "Odd"));
  EXPECT_EQ("<missing>", Value("", "Typed"));
  EXPECT_EQ("<missing>", Value("", "Word"));
}

TEST_F(RegistryScript, KeyItemsNameOneLevel) {
  ASSERT_EQ(S_OK, Run("Key = s 'v'\r\n\t{\r\n\t\tSub\r\n\t}\r\n\t{5B3C2A71-8E4D-4F60-A1B2-6C7D8E9F0A12}\r\n\tA\fB", TRUE));
  EXPECT_EQ("s:v", Value("Key"));
  EXPECT_TRUE(Exists("Key\\Sub"));
  EXPECT_TRUE(Exists("{5B3C2A71-8E4D-4F60-A1B2-6C7D8E9F0A12}"));
  EXPECT_TRUE(Exists("A\fB"));
  EXPECT_EQ(DISP_E_EXCEPTION, Run("'A\\B'", TRUE));
  EXPECT_EQ(DISP_E_EXCEPTION, Run("ForceRemove 'Key\\Sub'", TRUE));
  EXPECT_EQ(DISP_E_EXCEPTION, Run("Delete 'Key\\Sub'", FALSE));
  // The empty name would be the parent itself, with everything below it.
  EXPECT_EQ(DISP_E_EXCEPTION, Run("ForceRemove ''", TRUE));
  EXPECT_EQ(DISP_E_EXCEPTION, Run("''", FALSE));
  EXPECT_FALSE(Exists("A"));
  EXPECT_TRUE(Exists("Key\\Sub"));
}

TEST_F(RegistryScript, ForceRemoveAndDeleteSpareProtectedKeys) {
  CreateKey("Force\\Old");
  CreateKey("Gone\\Child");
  CreateKey("CLSID\\Keep");
  CreateKey("TypeLib\\Keep");
  ASSERT_EQ(S_OK, Run("ForceRemove Force { New } Delete Gone = s 'x' ForceRemove clsid { Added } Delete TYPELIB",
                      TRUE));
  EXPECT_FALSE(Exists("Force\\Old"));
  EXPECT_TRUE(Exists("Force\\New"));
  EXPECT_FALSE(Exists("Gone"));
  EXPECT_TRUE(Exists("CLSID\\Keep"));
  EXPECT_TRUE(Exists("CLSID\\Added"));
  EXPECT_TRUE(Exists("TypeLib\\Keep"));
}

TEST_F(RegistryScript, FailingRootBlockIsRolledBack) {
  CreateKey("Existing");
  const std::string uncreatable(300, 'k');  // longer than any key name
  const std::string script = Block("First") + Block("Existing Second = s 'x' { Third } " + uncreatable) +
                             Block("Later");
  EXPECT_EQ(DISP_E_EXCEPTION, RunRegistryScriptText(script.c_str(), TRUE, nullptr));
  EXPECT_TRUE(Exists("First"));
  EXPECT_FALSE(Exists("Existing"));
  EXPECT_FALSE(Exists("Second"));
  EXPECT_FALSE(Exists("Later"));
}

TEST_F(RegistryScript, ControlScriptRegistersAndUnregisters) {
  const SubstitutionPair pairs[] = {{L"Module", L"C:\\Orvex''s\\ORVEXI~1.DLL"}, {nullptr, nullptr}};
  const std::string classKey = kClassKey;
  CreateKey("CLSID\\{Other}");
  ASSERT_EQ(S_OK, Run(kControlItems, TRUE, pairs));
  EXPECT_EQ("s:OrvexInstallerCtl Class", Value("OrvexInstaller.OrvexInstallerCtl.1"));
  EXPECT_EQ("s:{5B3C2A71-8E4D-4F60-A1B2-6C7D8E9F0A12}", Value("OrvexInstaller.OrvexInstallerCtl.1\\CLSID"));
  EXPECT_EQ("s:OrvexInstaller.OrvexInstallerCtl.1", Value("OrvexInstaller.OrvexInstallerCtl\\CurVer"));
  EXPECT_EQ("s:OrvexInstallerCtl Class", Value(classKey));
  EXPECT_EQ("s:C:\\Orvex's\\ORVEXI~1.DLL", Value(classKey + "\\InprocServer32"));
  EXPECT_EQ("s:Apartment", Value(classKey + "\\InprocServer32", "ThreadingModel"));
  EXPECT_EQ("s:C:\\Orvex's\\ORVEXI~1.DLL, 101", Value(classKey + "\\ToolboxBitmap32"));
  EXPECT_EQ("s:0", Value(classKey + "\\MiscStatus"));
  EXPECT_EQ("s:132497", Value(classKey + "\\MiscStatus\\1"));
  EXPECT_TRUE(Exists(classKey + "\\Programmable"));
  EXPECT_TRUE(Exists(classKey + "\\Control"));
  EXPECT_EQ(9u, SubkeyCount(classKey));

  // Another party's subkey keeps the class key; all the script names goes.
  CreateKey(classKey + "\\Foreign");
  ASSERT_EQ(S_OK, Run(kControlItems, FALSE, pairs));
  EXPECT_FALSE(Exists("OrvexInstaller.OrvexInstallerCtl.1"));
  EXPECT_FALSE(Exists("OrvexInstaller.OrvexInstallerCtl"));
  EXPECT_EQ(1u, SubkeyCount(classKey));
  EXPECT_TRUE(Exists(classKey + "\\Foreign"));
  EXPECT_TRUE(Exists("CLSID\\{Other}"));

  // Registering again replaces the class key's whole subtree.
  ASSERT_EQ(S_OK, Run(kControlItems, TRUE, pairs));
  EXPECT_FALSE(Exists(classKey + "\\Foreign"));
}

TEST_F(RegistryScript, MissingKeysAreReadWithoutTouchingTheRegistry) {
  const SubstitutionPair pairs[] = {{L"Module", L"m"}, {nullptr, nullptr}};
  SetValue("", "V", "kept");
  CreateKey("Present");
  EXPECT_EQ(S_OK, Run("Missing = s 'x' { Present val V = s 'z' Deeper { Present } }", FALSE));
  EXPECT_EQ(S_OK, Run(kControlItems, FALSE, pairs));
  EXPECT_EQ("s:kept", Value("", "V"));
  EXPECT_TRUE(Exists("Present"));
  // What is read is still checked.
  EXPECT_EQ(DISP_E_EXCEPTION, Run("Missing { 'A\\B' }", FALSE));
}

TEST_F(RegistryScript, NestingDeeperThanAnyRegistryIsRefused) {
  std::string deep;
  for (int level = 0; level < 100000; ++level) deep += "A { ";
  for (int level = 0; level < 100000; ++level) deep += "} ";
  EXPECT_EQ(DISP_E_EXCEPTION, Run(deep, FALSE));  // the keys are missing: read only
  EXPECT_EQ(DISP_E_EXCEPTION, Run(deep, TRUE));
}

TEST_F(RegistryScript, UnregistrationRemovesNamedValuesOfKeptKeys) {
  ASSERT_EQ(S_OK, Run("NoRemove Kept { val V = s 'x' Sub }", TRUE));
  ASSERT_EQ("s:x", Value("Kept", "V"));
  ASSERT_EQ(S_OK, Run("NoRemove Kept { val V = s 'x' Sub }", FALSE));
  EXPECT_TRUE(Exists("Kept"));
  EXPECT_FALSE(Exists("Kept\\Sub"));
  EXPECT_EQ("<missing>", Value("Kept", "V"));
}

// The script of a module file, loaded from a copy of the test module (its
// script writes below the key named by "%Test%").
class RegistryScriptModule {
 public:
  explicit RegistryScriptModule(const std::wstring& folder) : copy_(folder + L"\\registry_script_module.dll") {
    wchar_t self[MAX_PATH];
    const DWORD length = ::GetModuleFileNameW(nullptr, self, MAX_PATH);
    std::wstring source(self, length);
    source.resize(source.find_last_of(L'\\') + 1);
    source += L"registry_script_module.dll";
    ::CreateDirectoryW(folder.c_str(), nullptr);
    if (::CopyFileW(source.c_str(), copy_.c_str(), FALSE)) module_ = ::LoadLibraryW(copy_.c_str());
  }
  ~RegistryScriptModule() {
    if (module_ != nullptr) ::FreeLibrary(module_);
    ::DeleteFileW(copy_.c_str());
    ::RemoveDirectoryW(copy_.substr(0, copy_.find_last_of(L'\\')).c_str());
  }
  HMODULE module() const { return module_; }

 private:
  std::wstring copy_;
  HMODULE module_ = nullptr;
};

std::wstring TempFolder(const wchar_t* name) {
  wchar_t temp[MAX_PATH];
  const DWORD length = ::GetTempPathW(MAX_PATH, temp);
  return std::wstring(temp, length) + name;
}

TEST_F(RegistryScript, ModuleScriptFromAFolderWithAnApostrophe) {
  RegistryScriptModule file(TempFolder(L"Orvex's"));
  ASSERT_NE(nullptr, file.module());
  StopModule();
  StartModule(emptyTable_, file.module());
  char longPath[MAX_PATH];
  char shortPath[MAX_PATH];
  ::GetModuleFileNameA(file.module(), longPath, MAX_PATH);
  ASSERT_NE(0u, ::GetShortPathNameA(longPath, shortPath, MAX_PATH));
  ASSERT_NE(nullptr, std::strchr(shortPath, '\''));

  const std::wstring test(name_.begin(), name_.end());
  const SubstitutionPair pairs[] = {{L"Test", test.c_str()}, {L"Extra", L"more"}, {nullptr, nullptr}};
  ASSERT_EQ(S_OK, ApplyRegistryScript(102, TRUE, pairs));
  EXPECT_EQ("s:" + std::string(shortPath), Value("Module"));
  EXPECT_EQ("s:" + std::string(shortPath) + ", 101", Value("Module\\Icon"));
  EXPECT_EQ("s:more", Value("Module", "Extra"));
  EXPECT_EQ(S_OK, ApplyRegistryScript(102, FALSE, pairs));
  EXPECT_FALSE(Exists("Module"));
  EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_RESOURCE_NAME_NOT_FOUND), ApplyRegistryScript(103, TRUE, pairs));
  EXPECT_FALSE(Exists("Module"));
}

TEST_F(RegistryScript, ModulePathLongerThanItsBufferIsRefused) {
  const std::wstring folder = L"\\\\?\\" + TempFolder(L"OrvexLong") + L"\\" + std::wstring(120, L'p');
  ::CreateDirectoryW(folder.substr(0, folder.find_last_of(L'\\')).c_str(), nullptr);
  ::CreateDirectoryW(folder.c_str(), nullptr);
  {
    RegistryScriptModule file(folder + L"\\" + std::wstring(120, L'q'));
    ASSERT_NE(nullptr, file.module());
    StopModule();
    StartModule(emptyTable_, file.module());
    const std::wstring test(name_.begin(), name_.end());
    const SubstitutionPair pairs[] = {{L"Test", test.c_str()}, {L"Extra", L"more"}, {nullptr, nullptr}};
    EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_FILENAME_EXCED_RANGE), ApplyRegistryScript(102, TRUE, pairs));
    EXPECT_FALSE(Exists("Module"));
  }
  ::RemoveDirectoryW(folder.c_str());
  ::RemoveDirectoryW(folder.substr(0, folder.find_last_of(L'\\')).c_str());
}

}  // namespace
}  // namespace orvex
