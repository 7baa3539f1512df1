// The sample setup package: it starts with the package signature and, named
// and started as the installer starts a downloaded package, installs what the
// install check looks for. (Its run record and its hold on the go event are
// what the road tests read and use.)
#include <gtest/gtest.h>

#include <windows.h>

#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "module_version.h"
#include "sample_setup/sample_setup_record.h"
#include "sample_setup/sample_viewer_clsid.h"
#include "test_registry.h"
#include "win_handles.h"

namespace orvex::test {
namespace {

constexpr DWORD kRunTimeoutMs = 60000;
constexpr DWORD kNotEnded = 0xFFFFFFFF;

std::string ProgramFilesPath(const std::string& below) {
  char programFiles[MAX_PATH] = {};
  ::ExpandEnvironmentStringsA("%ProgramFiles%", programFiles, MAX_PATH);
  return std::string(programFiles) + "\\" + below;
}

// The product's Version under the maker's key; zero when there is none.
PackedVersion InstalledVersion(const std::string& product) {
  std::vector<unsigned char> data;
  PackedVersion version = {};
  if (ReadMachineValue(MakerKeyPath(product), "Version", &data) && data.size() == sizeof(version)) {
    std::memcpy(&version, data.data(), sizeof(version));
  }
  return version;
}

class SampleSetup : public ::testing::Test {
 protected:
  void TearDown() override {
    for (const auto& copy : copies_) ::DeleteFileA(copy.c_str());
    for (const auto& product : products_) Forget(product);
  }

  // A product name of this test, cleaned before and after it.
  void Product(const std::string& name) {
    Forget(name);
    products_.push_back(name);
  }
  static void Forget(const std::string& product) {
    ::RegDeleteTreeA(HKEY_CURRENT_USER, (kSampleSetupRecordKey + product).c_str());
    DeleteMachineKey(MakerKeyPath(product));
  }

  // Runs the built package copied as fileName, started as the installer starts
  // one (the path as application name, no command line). Its exit code, or
  // kNotEnded when it was still running after the timeout (it is then ended).
  DWORD Run(const std::string& fileName) {
    char temp[MAX_PATH] = {};
    ::GetTempPathA(MAX_PATH, temp);
    const std::string path = temp + fileName;
    EXPECT_TRUE(::CopyFileA(TestFilePath("sample_setup.exe").c_str(), path.c_str(), FALSE)) << fileName;
    copies_.push_back(path);
    STARTUPINFOA startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION started = {};
    if (!::CreateProcessA(path.c_str(), nullptr, nullptr, nullptr, FALSE,
                          CREATE_NEW_PROCESS_GROUP | NORMAL_PRIORITY_CLASS, nullptr, nullptr, &startup, &started)) {
      ADD_FAILURE() << "cannot start " << path << ": error " << ::GetLastError();
      return kNotEnded;
    }
    ::CloseHandle(started.hThread);
    const UniqueHandle process(started.hProcess);
    DWORD exitCode = kNotEnded;
    if (::WaitForSingleObject(process.Get(), kRunTimeoutMs) == WAIT_OBJECT_0) {
      ::GetExitCodeProcess(process.Get(), &exitCode);
    } else {
      ::TerminateProcess(process.Get(), 99);
      ::WaitForSingleObject(process.Get(), kRunTimeoutMs);
    }
    return exitCode;
  }

 private:
  std::vector<std::string> copies_;
  std::vector<std::string> products_;
};

TEST_F(SampleSetup, StartsWithThePackageSignatureAndInstallsTheVersionOfItsName) {
  std::ifstream file(TestFilePath("sample_setup.exe"), std::ios::binary);
  char head[4] = {};
  file.read(head, sizeof(head));
  EXPECT_EQ(std::string(head, sizeof(head)), std::string("MZ\x01\x01", 4));

  // The product runs to the last underscore; each component takes all 16 bits.
  Product("sample_test");
  Product("sample");
  ASSERT_EQ(Run("sample_test_65535-2-40000-9.exe"), kSampleSetupInstalled);
  EXPECT_EQ(InstalledVersion("sample_test").Value(), PackedVersion::Make(65535, 2, 40000, 9).Value());
  EXPECT_TRUE(InstalledVersion("sample").IsZero());
}

// Ends in the product "Quillon", whose keys other suites share (see the
// resource lock in CMakeLists.txt); the viewer's class and module are this
// suite's alone.
class SampleViewerSetup : public SampleSetup {
 protected:
  void SetUp() override {
    Product("quillon");
    ForgetViewer();
  }
  void TearDown() override {
    ForgetViewer();
    SampleSetup::TearDown();
  }

  static std::string ClassKeyPath() { return std::string("CLSID\\") + kSampleViewerClsid; }
  static std::string ModulePath() {
    return ProgramFilesPath(std::string(kSampleViewerFolder) + "\\" + kSampleViewerFile);
  }
  static void ForgetViewer() {
    ::RegDeleteTreeA(HKEY_CLASSES_ROOT, ClassKeyPath().c_str());
    ::DeleteFileA(ModulePath().c_str());
    ::RemoveDirectoryA(ProgramFilesPath(kSampleViewerFolder).c_str());
    ::RemoveDirectoryA(ProgramFilesPath("Brindlewood").c_str());  // only when nothing else is in it
  }
};

TEST_F(SampleViewerSetup, InstallsAndRegistersTheViewerModule) {
  ASSERT_EQ(Run("quillon_10-24-0-0.exe"), kSampleSetupInstalled);
  std::vector<unsigned char> data;
  ASSERT_TRUE(ReadRegistryValue(HKEY_CLASSES_ROOT, ClassKeyPath() + "\\InprocServer32", nullptr, &data));
  const std::string registered = std::string(data.begin(), data.end()).c_str();
  EXPECT_EQ(::lstrcmpiA(registered.c_str(), ModulePath().c_str()), 0) << registered;

  // What the install check reads from the registered module.
  PackedVersion moduleVersion = {};
  char internalName[50] = {};
  EXPECT_NE(ReadModuleVersion(registered.c_str(), &moduleVersion, internalName), 0u);
  EXPECT_EQ(moduleVersion.Value(), PackedVersion::Make(10, 24, 0, 0).Value());
  EXPECT_STREQ(internalName, "Quillon");
  EXPECT_EQ(InstalledVersion("quillon").Value(), PackedVersion::Make(10, 24, 0, 0).Value());

  // A second run replaces the module in place with the one it carries.
  ASSERT_EQ(Run("quillon_10-25-0-0.exe"), kSampleSetupInstalled);
  EXPECT_NE(ReadModuleVersion(ModulePath().c_str(), &moduleVersion, nullptr), 0u);
  EXPECT_EQ(moduleVersion.Value(), PackedVersion::Make(10, 24, 0, 0).Value());
}

}  // namespace
}  // namespace orvex::test
