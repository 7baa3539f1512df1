// The installer's side of the rendezvous: the real program, and its run in this process.
#include <gtest/gtest.h>

#include <windows.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "download_hosts.h"
#include "installer_run.h"
#include "object_names.h"
#include "reliability_support.h"
#include "win_handles.h"

namespace orvex::test {
namespace {

// The control's side of a rendezvous, its block filled for an update check of this name.
struct TestRendezvous : PlayedRendezvous {
  TestRendezvous(const std::string& name, bool withMapping, bool withSync)
      : PlayedRendezvous(name, withMapping, withSync), block(Block()) {
    if (block == nullptr) return;
    name.copy(block->productName, sizeof(block->productName) - 1);
    std::strcpy(block->infoBaseUrl, BuiltInInfoBaseUrl());
    std::snprintf(block->downloadBaseUrl, sizeof(block->downloadBaseUrl), "%s%s/download/", BuiltInInfoBaseUrl(),
                  name.c_str());
    block->installedVersion = PackedVersion::Make(1, 0, 0, 0);
  }
  RendezvousBlock* const block;
};

// Runs the installer from the Windows directory with this argument: its exit code.
DWORD RunInstaller(const std::string& argument) {
  char windows[MAX_PATH];
  const UINT length = ::GetWindowsDirectoryA(windows, MAX_PATH);
  return ChildProcess("\"" + std::string(windows, length) + "\\OrvexInstaller.exe\" " + argument).Wait(30000);
}

// Without a full rendezvous, or with a name the control would refuse, the
// installer ends at once with nothing signalled; without "sync_" it still sets
// "installing_"; a garbled block runs no job, yet both events are set.
TEST(InstallerStart, EndsAtOnceAndSignalsOnlyAFullRendezvous) {
  const struct {
    std::string name;
    bool mapping, sync, garbled;
    bool installingSet, syncSet;
  } cases[] = {
      {"", true, true, false, false, false},
      {"IS_NoMapping", false, true, false, false, false},
      {"IS_a:b", true, true, false, false, false},  // which names are refused is the name check's own
      {"IS NoSync  ", true, false, false, true, false},  // the exact name, blanks and all
      {"IS_Garbled", true, true, true, true, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE("rendezvous '" + c.name + "'");
    TestRendezvous rendezvous(c.name, c.mapping, c.sync);
    if (c.garbled) std::memset(rendezvous.block, 'x', sizeof(RendezvousBlock));
    EXPECT_EQ(RunInstaller(c.name), 0u);
    EXPECT_EQ(PlayedRendezvous::IsSet(rendezvous.installing), c.installingSet);
    EXPECT_EQ(PlayedRendezvous::IsSet(rendezvous.sync), c.syncSet);
  }
}

// The job reads only the copy of the block it checked.
TEST(InstallerStart, TheJobReadsOnlyTheCopyItChecked) {
  const struct {
    const char* what;
    void (*change)(RendezvousBlock&);
  } cases[] = {
      {"another product", [](RendezvousBlock& b) { std::strcpy(b.productName, "IS_Other"); }},
      {"another information server", [](RendezvousBlock& b) { std::strcpy(b.infoBaseUrl, "http://127.0.0.2/"); }},
      {"a foreign download host", [](RendezvousBlock& b) { std::strcpy(b.downloadBaseUrl, "http://evil.test/"); }},
      {"the block as the control writes it", [](RendezvousBlock&) {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const bool accepted = &c == &cases[3];
    TestRendezvous rendezvous("IS_Copy", true, true);
    c.change(*rendezvous.block);
    InstallerRun run;
    ASSERT_TRUE(run.OpenRendezvous("IS_Copy"));
    EXPECT_TRUE(PlayedRendezvous::IsSet(rendezvous.sync));
    EXPECT_FALSE(PlayedRendezvous::IsSet(rendezvous.installing)) << "released before the job ended";
    run.StartJob("IS_Copy");
    ASSERT_EQ(run.jobThread != nullptr, accepted);
    if (!accepted) {
      EXPECT_EQ(run.block, nullptr);
      continue;
    }
    std::strcpy(rendezvous.block->infoBaseUrl, "http://evil.test/");
    std::strcpy(rendezvous.block->productName, "IS_Other");
    EXPECT_STREQ(run.block->infoBaseUrl, BuiltInInfoBaseUrl());
    EXPECT_STREQ(run.block->productName, "IS_Copy");
  }
}

}  // namespace
}  // namespace orvex::test
