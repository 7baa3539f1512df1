// The installer's start-up and its side of the rendezvous: the real program
// started directly, and its run in this process.
#include <gtest/gtest.h>

#include <windows.h>

#include <cstring>
#include <string>

#include "installer_run.h"
#include "object_names.h"
#include "test_registry.h"

namespace orvex::test {
namespace {

constexpr DWORD kTimeoutMs = 30000;

// The objects the control creates for a rendezvous, made here by the test.
class TestRendezvous {
 public:
  TestRendezvous(const std::string& name, bool withMapping, bool withInstalling, bool withSync) {
    if (withMapping) {
      mapping_ = ::CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, sizeof(RendezvousBlock),
                                      (kInfoPrefix + name).c_str());
      view_ = static_cast<RendezvousBlock*>(::MapViewOfFile(mapping_, FILE_MAP_ALL_ACCESS, 0, 0, 0));
      std::strcpy(view_->productName, name.c_str());
      view_->installedVersion = PackedVersion::Make(1, 0, 0, 0);  // an update check: no window
    }
    if (withInstalling) installing_ = ::CreateEventA(nullptr, TRUE, FALSE, (kInstallingPrefix + name).c_str());
    if (withSync) sync_ = ::CreateEventA(nullptr, TRUE, FALSE, (kSyncPrefix + name).c_str());
  }
  ~TestRendezvous() {
    if (view_ != nullptr) ::UnmapViewOfFile(view_);
    for (HANDLE h : {mapping_, installing_, sync_}) {
      if (h != nullptr) ::CloseHandle(h);
    }
  }
  bool InstallingSet() const { return installing_ && ::WaitForSingleObject(installing_, 0) == WAIT_OBJECT_0; }
  bool SyncSet() const { return sync_ && ::WaitForSingleObject(sync_, 0) == WAIT_OBJECT_0; }
  RendezvousBlock* Block() const { return view_; }

 private:
  HANDLE mapping_ = nullptr;
  RendezvousBlock* view_ = nullptr;
  HANDLE installing_ = nullptr;
  HANDLE sync_ = nullptr;
};

std::string InstallerPath() {
  char windows[MAX_PATH];
  const UINT length = ::GetWindowsDirectoryA(windows, MAX_PATH);
  return std::string(windows, length) + "\\OrvexInstaller.exe";
}

// Runs the installer from the Windows directory with the given argument;
// returns its exit code, or -1 when it did not end in time.
long RunInstaller(const std::string& argument) {
  std::string commandLine = "\"" + InstallerPath() + "\"" + (argument.empty() ? "" : " " + argument);
  STARTUPINFOA startup = {};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION process = {};
  if (!::CreateProcessA(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                        &process)) {
    return -2;
  }
  DWORD exitCode = 0;
  const bool ended = ::WaitForSingleObject(process.hProcess, kTimeoutMs) == WAIT_OBJECT_0;
  ::GetExitCodeProcess(process.hProcess, &exitCode);
  ::CloseHandle(process.hThread);
  ::CloseHandle(process.hProcess);
  return ended ? static_cast<long>(exitCode) : -1;
}

TEST(InstallerStart, AnythingButAFullRendezvousEndsAtOnceWithNothingSignalled) {
  {
    TestRendezvous bare("", true, true, true);
    EXPECT_EQ(RunInstaller(""), 0);
    EXPECT_FALSE(bare.InstallingSet());
    EXPECT_FALSE(bare.SyncSet());
  }
  {
    TestRendezvous noMapping("IS_NoMapping", false, true, true);
    EXPECT_EQ(RunInstaller("IS_NoMapping"), 0);
    EXPECT_FALSE(noMapping.InstallingSet()) << "installing_ was never opened";
    EXPECT_FALSE(noMapping.SyncSet());
  }
  // Names the control would refuse are refused here too.
  const std::string tooLong(50, 'T');
  for (const std::string& name : {tooLong, std::string("IS_a:b"), std::string("IS_a*b")}) {
    TestRendezvous refused(name, true, true, true);
    EXPECT_EQ(RunInstaller(name), 0) << name;
    EXPECT_FALSE(refused.InstallingSet()) << name;
    EXPECT_FALSE(refused.SyncSet()) << name;
  }
}

TEST(InstallerStart, InstallingWithoutSyncIsStillSetAtShutdown) {
  TestRendezvous halfway("IS_NoSync", true, true, false);
  EXPECT_EQ(RunInstaller("IS_NoSync"), 0);
  EXPECT_TRUE(halfway.InstallingSet());
}

TEST(InstallerStart, SyncIsSetBeforeTheRunHasItsRecordEventsLockAndThreads) {
  TestRendezvous rendezvous("IS_SyncFirst", true, true, true);
  {
    InstallerRun run;
    ASSERT_TRUE(run.OpenRendezvous("IS_SyncFirst"));
    EXPECT_TRUE(rendezvous.SyncSet());
    EXPECT_EQ(run.productInfo, nullptr);
    EXPECT_EQ(run.stopEvent, nullptr);
    EXPECT_EQ(run.requestCompleteEvent, nullptr);
    EXPECT_EQ(run.transferLock, nullptr);
    EXPECT_EQ(run.watcherThread, nullptr);
    EXPECT_EQ(run.jobThread, nullptr);
    EXPECT_FALSE(rendezvous.InstallingSet());
  }
  EXPECT_TRUE(rendezvous.InstallingSet()) << "shutdown releases the control";
}

TEST(InstallerStart, UnterminatedBlockRunsNoJob) {
  TestRendezvous rendezvous("IS_Garbled", true, true, true);
  std::memset(rendezvous.Block(), 'x', sizeof(RendezvousBlock));
  EXPECT_EQ(RunInstaller("IS_Garbled"), 0);
  EXPECT_TRUE(rendezvous.SyncSet());
  EXPECT_TRUE(rendezvous.InstallingSet());
}

}  // namespace
}  // namespace orvex::test
