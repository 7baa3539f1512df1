// The installer's start-up and its side of the rendezvous: the real program
// started directly, and its run in this process.
#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>

#include "download_hosts.h"
#include "installer_run.h"
#include "object_names.h"
#include "test_registry.h"

namespace orvex::test {
namespace {

constexpr DWORD kTimeoutMs = 30000;

// The objects the control creates for a rendezvous, made here by the test.
class TestRendezvous {
 public:
  TestRendezvous(const std::string& name, bool withMapping, bool withSync) {
    if (withMapping) {
      mapping_ = ::CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, sizeof(RendezvousBlock),
                                      (kInfoPrefix + name).c_str());
      view_ = static_cast<RendezvousBlock*>(::MapViewOfFile(mapping_, FILE_MAP_ALL_ACCESS, 0, 0, 0));
      std::memcpy(view_->productName, name.data(), std::min(name.size(), sizeof(view_->productName) - 1));
      std::strcpy(view_->infoBaseUrl, BuiltInInfoBaseUrl());
      std::snprintf(view_->downloadBaseUrl, sizeof(view_->downloadBaseUrl), "%s%s/download/", BuiltInInfoBaseUrl(),
                    name.c_str());
      view_->installedVersion = PackedVersion::Make(1, 0, 0, 0);  // an update check: no window
    }
    installing_ = ::CreateEventA(nullptr, TRUE, FALSE, (kInstallingPrefix + name).c_str());
    if (withSync) sync_ = ::CreateEventA(nullptr, TRUE, FALSE, (kSyncPrefix + name).c_str());
  }
  ~TestRendezvous() {
    if (view_ != nullptr) ::UnmapViewOfFile(view_);
    for (HANDLE h : {mapping_, installing_, sync_}) {
      if (h != nullptr) ::CloseHandle(h);
    }
  }
  bool InstallingSet() const { return ::WaitForSingleObject(installing_, 0) == WAIT_OBJECT_0; }
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

// The program started directly: without a full rendezvous, or with a name the
// control would refuse, it ends at once with nothing signalled; "installing_"
// is set at shutdown even without "sync_"; a block whose texts are not
// terminated runs no job, yet both events are set.
TEST(InstallerStart, EndsAtOnceAndSignalsOnlyAFullRendezvous) {
  const struct {
    std::string name;
    bool mapping, sync, garbled;
    bool installingSet, syncSet;
  } cases[] = {
      {"", true, true, false, false, false},
      {"IS_NoMapping", false, true, false, false, false},
      {std::string(50, 'T'), true, true, false, false, false},
      {"IS_a:b", true, true, false, false, false},
      {"IS_a*b", true, true, false, false, false},
      {"IS_NoSync", true, false, false, true, false},
      {"IS_Garbled", true, true, true, true, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE("rendezvous '" + c.name + "'");
    TestRendezvous rendezvous(c.name, c.mapping, c.sync);
    if (c.garbled) std::memset(rendezvous.Block(), 'x', sizeof(RendezvousBlock));
    EXPECT_EQ(RunInstaller(c.name), 0);
    EXPECT_EQ(rendezvous.InstallingSet(), c.installingSet);
    EXPECT_EQ(rendezvous.SyncSet(), c.syncSet);
  }
}

TEST(InstallerStart, SyncIsSetBeforeTheRunHasItsRecordEventsLockAndThreads) {
  TestRendezvous rendezvous("IS_SyncFirst", true, true);
  {
    InstallerRun run;
    ASSERT_TRUE(run.OpenRendezvous("IS_SyncFirst"));
    EXPECT_TRUE(rendezvous.SyncSet());
    EXPECT_TRUE(run.productInfo == nullptr && run.stopEvent == nullptr && run.requestCompleteEvent == nullptr &&
                run.transferLock == nullptr && run.watcherThread == nullptr && run.jobThread == nullptr);
    EXPECT_FALSE(rendezvous.InstallingSet());
  }
  EXPECT_TRUE(rendezvous.InstallingSet()) << "shutdown releases the control";
}

// The job reads a copy of the block, taken once and checked: a block the
// control could not have written for this name runs no job, and a change to
// the shared block after the check reaches nothing.
TEST(InstallerStart, TheJobReadsOnlyTheCopyItChecked) {
  const struct {
    const char* what;
    void (*change)(RendezvousBlock&);
  } refused[] = {
      {"another product", [](RendezvousBlock& b) { std::strcpy(b.productName, "IS_Other"); }},
      {"another information server", [](RendezvousBlock& b) { std::strcpy(b.infoBaseUrl, "http://127.0.0.2/"); }},
      {"a foreign download host", [](RendezvousBlock& b) { std::strcpy(b.downloadBaseUrl, "http://evil.test/"); }},
  };
  for (const auto& c : refused) {
    SCOPED_TRACE(c.what);
    TestRendezvous rendezvous("IS_Copy", true, true);
    c.change(*rendezvous.Block());
    InstallerRun run;
    ASSERT_TRUE(run.OpenRendezvous("IS_Copy"));
    run.StartJob("IS_Copy");
    EXPECT_TRUE(run.block == nullptr && run.jobThread == nullptr) << "a job ran";
  }
  TestRendezvous rendezvous("IS_Copy", true, true);
  InstallerRun run;
  ASSERT_TRUE(run.OpenRendezvous("IS_Copy"));
  run.StartJob("IS_Copy");
  ASSERT_NE(run.jobThread, nullptr);
  std::strcpy(rendezvous.Block()->infoBaseUrl, "http://evil.test/");
  std::strcpy(rendezvous.Block()->productName, "IS_Other");
  EXPECT_STREQ(run.block->infoBaseUrl, BuiltInInfoBaseUrl());
  EXPECT_STREQ(run.block->productName, "IS_Copy");
}

}  // namespace
}  // namespace orvex::test
