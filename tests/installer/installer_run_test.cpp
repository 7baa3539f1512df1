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

// Without a full rendezvous, or with a name the control would refuse, the
// installer ends at once with nothing signalled; without "sync_" it still sets
// "installing_"; a garbled block runs no job, yet both events are set.
TEST(InstallerStart, EndsAtOnceAndSignalsOnlyAFullRendezvous) {
  char windows[MAX_PATH];
  const std::string installer =
      std::string(windows, ::GetWindowsDirectoryA(windows, MAX_PATH)) + "\\OrvexInstaller.exe";
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
    PlayedRendezvous rendezvous(c.name, c.mapping, c.sync);
    if (c.garbled) std::memset(rendezvous.Block(), 'x', sizeof(RendezvousBlock));
    EXPECT_EQ(ChildProcess("\"" + installer + "\" " + c.name).Wait(30000), 0u);
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
    // The block as the control fills it for an update check, then changed.
    PlayedRendezvous rendezvous("IS_Copy");
    ASSERT_NE(rendezvous.Block(), nullptr);
    RendezvousBlock& block = *rendezvous.Block();
    std::strcpy(block.productName, "IS_Copy");
    std::strcpy(block.infoBaseUrl, BuiltInInfoBaseUrl());
    std::snprintf(block.downloadBaseUrl, sizeof(block.downloadBaseUrl), "%sIS_Copy/download/", BuiltInInfoBaseUrl());
    block.installedVersion = PackedVersion::Make(1, 0, 0, 0);
    c.change(block);
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
    std::strcpy(block.infoBaseUrl, "http://evil.test/");
    std::strcpy(block.productName, "IS_Other");
    EXPECT_STREQ(run.block->infoBaseUrl, BuiltInInfoBaseUrl());
    EXPECT_STREQ(run.block->productName, "IS_Copy");
  }
}

}  // namespace
}  // namespace orvex::test
