// The sample setup package: signed like a downloaded package, named and started
// as the installer starts one, and installing what the install check looks for.
#include <gtest/gtest.h>

#include <windows.h>

#include <cstring>
#include <string>
#include <vector>

#include "module_version.h"
#include "registry_values.h"
#include "sample_setup/sample_setup_record.h"
#include "sample_setup/sample_viewer_clsid.h"
#include "test_registry.h"
#include "win_handles.h"

namespace orvex::test {
namespace {

constexpr DWORD kRunTimeoutMs = 60000;
constexpr DWORD kNotEnded = 0xFFFFFFFF;

std::string RecordKeyPath(const std::string& product) { return kSampleSetupRecordKey + product; }

bool KeyExists(HKEY root, const std::string& path) {
  RegKey key;
  return ::RegOpenKeyExA(root, path.c_str(), 0, KEY_QUERY_VALUE, key.Receive()) == ERROR_SUCCESS;
}

std::string ViewerClassKeyPath() { return std::string("CLSID\\") + kSampleViewerClsid; }

std::string ProgramFilesPath(const std::string& below) {
  char programFiles[MAX_PATH] = {};
  ::ExpandEnvironmentStringsA("%ProgramFiles%", programFiles, MAX_PATH);
  return std::string(programFiles) + "\\" + below;
}

class SampleSetup : public ::testing::Test {
 protected:
  void SetUp() override {
    char temp[MAX_PATH] = {};
    ::GetTempPathA(MAX_PATH, temp);
    folder_ = std::string(temp) + "orvex_sample_setup_" + std::to_string(::GetCurrentProcessId());
    ::CreateDirectoryA(folder_.c_str(), nullptr);
  }

  void TearDown() override {
    for (const auto& copy : copies_) ::DeleteFileA(copy.c_str());
    ::RemoveDirectoryA(folder_.c_str());
    for (const auto& product : products_) Forget(product);
  }

  // A product name of this test, cleaned before and after it.
  std::string Product(const std::string& name) {
    Forget(name);
    products_.push_back(name);
    return name;
  }

  static void Forget(const std::string& product) {
    ASSERT_FALSE(product.empty());  // the empty name's keys are the shared roots
    ::RegDeleteTreeA(HKEY_CURRENT_USER, RecordKeyPath(product).c_str());
    DeleteMachineKey(MakerKeyPath(product));
  }

  // The built package copied into the test's folder as fileName.
  std::string Copy(const std::string& fileName) {
    const std::string path = folder_ + "\\" + fileName;
    EXPECT_TRUE(::CopyFileA(TestFilePath("sample_setup.exe").c_str(), path.c_str(), FALSE)) << fileName;
    copies_.push_back(path);
    return path;
  }

  // Starts the package as the installer does: the path as application name,
  // no command line.
  static UniqueHandle Start(const std::string& path, DWORD* processId = nullptr) {
    STARTUPINFOA startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process = {};
    if (!::CreateProcessA(path.c_str(), nullptr, nullptr, nullptr, FALSE,
                          CREATE_NEW_PROCESS_GROUP | NORMAL_PRIORITY_CLASS, nullptr, nullptr, &startup, &process)) {
      ADD_FAILURE() << "cannot start " << path << ": error " << ::GetLastError();
      return UniqueHandle();
    }
    ::CloseHandle(process.hThread);
    if (processId != nullptr) *processId = process.dwProcessId;
    return UniqueHandle(process.hProcess);
  }

  // Exit code of the ended process; kNotEnded when it is still running after
  // timeoutMs (it is then ended, so that nothing outlives the test).
  static DWORD WaitExit(const UniqueHandle& process, DWORD timeoutMs = kRunTimeoutMs) {
    if (!process) return kNotEnded;
    if (::WaitForSingleObject(process.Get(), timeoutMs) != WAIT_OBJECT_0) {
      ::TerminateProcess(process.Get(), 99);
      ::WaitForSingleObject(process.Get(), kRunTimeoutMs);
      return kNotEnded;
    }
    DWORD exitCode = kNotEnded;
    ::GetExitCodeProcess(process.Get(), &exitCode);
    return exitCode;
  }

  static DWORD Run(const std::string& path, DWORD* processId = nullptr) {
    return WaitExit(Start(path, processId));
  }

  static std::vector<unsigned char> RecordValue(const std::string& product, const char* value) {
    std::vector<unsigned char> data;
    EXPECT_TRUE(ReadRegistryValue(HKEY_CURRENT_USER, RecordKeyPath(product), value, &data)) << product << " " << value;
    return data;
  }
  static DWORD RecordDword(const std::string& product, const char* value) {
    const std::vector<unsigned char> data = RecordValue(product, value);
    DWORD number = 0;
    EXPECT_EQ(data.size(), sizeof(number)) << value;
    if (data.size() == sizeof(number)) std::memcpy(&number, data.data(), sizeof(number));
    return number;
  }
  static std::string RecordText(const std::string& product, const char* value) {
    const std::vector<unsigned char> data = RecordValue(product, value);
    return std::string(data.begin(), data.end()).c_str();
  }

  static bool InstalledVersion(const std::string& product, PackedVersion* version) {
    std::vector<unsigned char> data;
    if (!ReadMachineValue(MakerKeyPath(product), "Version", &data) || data.size() != sizeof(*version)) return false;
    std::memcpy(version, data.data(), sizeof(*version));
    return true;
  }

  std::string folder_;

 private:
  std::vector<std::string> copies_;
  std::vector<std::string> products_;
};

TEST_F(SampleSetup, StartsWithThePackageSignature) {
  const UniqueHandle file(::CreateFileA(TestFilePath("sample_setup.exe").c_str(), GENERIC_READ, FILE_SHARE_READ,
                                        nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  ASSERT_TRUE(file);
  unsigned char head[4] = {};
  DWORD read = 0;
  ASSERT_TRUE(::ReadFile(file.Get(), head, sizeof(head), &read, nullptr));
  ASSERT_EQ(read, sizeof(head));
  EXPECT_EQ(head[0], 'M');
  EXPECT_EQ(head[1], 'Z');
  EXPECT_EQ(head[2], 0x01);
  EXPECT_EQ(head[3], 0x01);
}

TEST_F(SampleSetup, InstallsTheVersionOfItsFileNameAndRecordsEachRun) {
  const std::string product = Product("sampletest");
  const std::string path = Copy("sampletest_1-2-3-4.exe");
  DWORD pid = 0;
  ASSERT_EQ(Run(path, &pid), kSampleSetupInstalled);

  PackedVersion version = {};
  ASSERT_TRUE(InstalledVersion(product, &version));
  EXPECT_EQ(version, PackedVersion::Make(1, 2, 3, 4));
  EXPECT_EQ(RecordDword(product, "Runs"), 1u);
  EXPECT_EQ(RecordDword(product, "Pid"), pid);
  EXPECT_EQ(RecordDword(product, "ParentPid"), ::GetCurrentProcessId());
  EXPECT_EQ(::lstrcmpiA(RecordText(product, "Path").c_str(), path.c_str()), 0) << RecordText(product, "Path");
  // Started without a command line: it holds nothing but the program itself.
  std::string commandLine = RecordText(product, "CommandLine");
  while (!commandLine.empty() && commandLine.back() == ' ') commandLine.pop_back();
  if (commandLine.size() >= 2 && commandLine.front() == '"' && commandLine.back() == '"') {
    commandLine = commandLine.substr(1, commandLine.size() - 2);
  }
  EXPECT_EQ(::lstrcmpiA(commandLine.c_str(), path.c_str()), 0) << RecordText(product, "CommandLine");

  ASSERT_EQ(Run(path), kSampleSetupInstalled);
  EXPECT_EQ(RecordDword(product, "Runs"), 2u);

  // The product runs to the last underscore; every component may use all 16 bits.
  const std::string underscored = Product("sample_test");
  ASSERT_EQ(Run(Copy("sample_test_65535-0-40000-9.exe")), kSampleSetupInstalled);
  ASSERT_TRUE(InstalledVersion(underscored, &version));
  EXPECT_EQ(version, PackedVersion::Make(65535, 0, 40000, 9));
  EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, MakerKeyPath("sample")));
}

TEST_F(SampleSetup, NameThatIsNoPackageNameEndsWithCodeTwoAndWritesNothing) {
  const std::string bad = Product("sampletestbad");
  Product("nounderscore");
  const char* const names[] = {"nounderscore.exe",
                               "sampletestbad_1-2-3.exe",
                               "sampletestbad_1-2-3-4-5.exe",
                               "sampletestbad_1-2-3-65536.exe",
                               "sampletestbad_1-2--4.exe",
                               "sampletestbad_1-2-3-4.bin.exe",
                               "_1-2-3-4.exe"};
  for (const char* name : names) {
    EXPECT_EQ(Run(Copy(name)), kSampleSetupBadName) << name;
  }
  for (const std::string& product : {bad, std::string("nounderscore"), std::string("nounderscore.exe")}) {
    EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, RecordKeyPath(product))) << product;
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, MakerKeyPath(product))) << product;
  }
  // The empty product would have written to the shared roots themselves.
  EXPECT_FALSE(ReadRegistryValue(HKEY_CURRENT_USER, kSampleSetupRecordKey, "Runs", nullptr));
  EXPECT_FALSE(ReadMachineValue(MakerKeyPath(""), "Version", nullptr));
}

TEST_F(SampleSetup, HoldsForHoldMsBeforeEnding) {
  const std::string product = Product("sampletesthold");
  const DWORD holdMs = 1500;
  ASSERT_TRUE(WriteRegistryValue(HKEY_CURRENT_USER, RecordKeyPath(product), "HoldMs", REG_DWORD, &holdMs,
                                 sizeof(holdMs)));
  const ULONGLONG start = ::GetTickCount64();
  ASSERT_EQ(Run(Copy("sampletesthold_1-0-0-0.exe")), kSampleSetupInstalled);
  EXPECT_GE(::GetTickCount64() - start, holdMs);
}

TEST_F(SampleSetup, WaitsForItsGoEventBeforeEnding) {
  const std::string product = Product("sampletestgo");
  const UniqueHandle go(::CreateEventA(nullptr, TRUE, FALSE, (kSampleSetupGoEventPrefix + product).c_str()));
  ASSERT_TRUE(go);
  const UniqueHandle process = Start(Copy("sampletestgo_1-0-0-0.exe"));
  ASSERT_TRUE(process);

  // It has run up to the wait once its record is in, and then stays there.
  const ULONGLONG start = ::GetTickCount64();
  while (!ReadRegistryValue(HKEY_CURRENT_USER, RecordKeyPath(product), "Runs", nullptr) &&
         ::GetTickCount64() - start < kRunTimeoutMs) {
    ::Sleep(20);
  }
  EXPECT_EQ(::WaitForSingleObject(process.Get(), 500), static_cast<DWORD>(WAIT_TIMEOUT));
  ASSERT_TRUE(::SetEvent(go.Get()));
  EXPECT_EQ(WaitExit(process), kSampleSetupInstalled);
}

// Shares the product "Quillon" with other suites (see the resource lock in
// CMakeLists.txt): puts back exactly what it found.
class SampleViewerSetup : public SampleSetup {
 protected:
  void SetUp() override {
    SampleSetup::SetUp();
    hadMakerKey_ = KeyExists(HKEY_LOCAL_MACHINE, MakerKeyPath("quillon"));
    hadVersion_ = ReadMachineValue(MakerKeyPath("quillon"), "Version", &version_);
    hadRecord_ = KeyExists(HKEY_CURRENT_USER, RecordKeyPath("quillon"));
    ForgetViewer();  // the viewer's class and module are this suite's alone
  }

  void TearDown() override {
    ForgetViewer();
    if (!hadMakerKey_) {
      DeleteMachineKey(MakerKeyPath("quillon"));
    } else if (hadVersion_) {
      SetMachineValue(MakerKeyPath("quillon"), "Version", REG_BINARY, version_.data(),
                      static_cast<DWORD>(version_.size()));
    } else {
      HKEY key = nullptr;
      if (::RegOpenKeyExA(HKEY_LOCAL_MACHINE, MakerKeyPath("quillon").c_str(), 0, KEY_SET_VALUE, &key) ==
          ERROR_SUCCESS) {
        ::RegDeleteValueA(key, "Version");
        ::RegCloseKey(key);
      }
    }
    if (!hadRecord_) ::RegDeleteTreeA(HKEY_CURRENT_USER, RecordKeyPath("quillon").c_str());
    SampleSetup::TearDown();
  }

  static void ForgetViewer() {
    ::RegDeleteTreeA(HKEY_CLASSES_ROOT, ViewerClassKeyPath().c_str());
    ::DeleteFileA(ModulePath().c_str());
    ::RemoveDirectoryA(ProgramFilesPath(kSampleViewerFolder).c_str());
    ::RemoveDirectoryA(ProgramFilesPath("Brindlewood").c_str());  // only when nothing else is in it
  }

  static std::string ModulePath() {
    return ProgramFilesPath(std::string(kSampleViewerFolder) + "\\" + kSampleViewerFile);
  }

 private:
  bool hadMakerKey_ = false;
  bool hadVersion_ = false;
  bool hadRecord_ = false;
  std::vector<unsigned char> version_;
};

TEST_F(SampleViewerSetup, InstallsAndRegistersTheViewerModule) {
  ASSERT_EQ(Run(Copy("quillon_10-24-0-0.exe")), kSampleSetupInstalled);

  std::vector<unsigned char> data;
  ASSERT_TRUE(ReadRegistryValue(HKEY_CLASSES_ROOT, ViewerClassKeyPath() + "\\InprocServer32", nullptr, &data));
  const std::string registered = std::string(data.begin(), data.end()).c_str();
  EXPECT_EQ(::lstrcmpiA(registered.c_str(), ModulePath().c_str()), 0) << registered;

  // What the install check reads from the registered module.
  PackedVersion moduleVersion = {};
  char internalName[50] = {};
  EXPECT_NE(ReadModuleVersion(registered.c_str(), &moduleVersion, internalName), 0u);
  EXPECT_EQ(moduleVersion, PackedVersion::Make(10, 24, 0, 0));
  EXPECT_STREQ(internalName, "Quillon");

  PackedVersion version = {};
  ASSERT_TRUE(InstalledVersion("quillon", &version));
  EXPECT_EQ(version, PackedVersion::Make(10, 24, 0, 0));

  // A second run replaces the module in place.
  ASSERT_EQ(Run(Copy("quillon_10-25-0-0.exe")), kSampleSetupInstalled);
  EXPECT_NE(ReadModuleVersion(ModulePath().c_str(), &moduleVersion, nullptr), 0u);
  EXPECT_EQ(moduleVersion, PackedVersion::Make(10, 24, 0, 0));
}

}  // namespace
}  // namespace orvex::test
