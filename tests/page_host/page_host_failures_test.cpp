// The page host's own failures, each with its exit code: they need no
// registered control.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>

#include "control_module.h"
#include "page_host_run.h"
#include "test_registry.h"

namespace orvex::test {
namespace {

TEST(PageHostFailures, PagesThatCannotBeReadOrPassABound) {
  const std::string host = FullPath(TestFilePath("..\\OrvexPageHost.exe"));
  EXPECT_EQ(RunProgram("\"" + host + "\" --close-after 0 C:\\no\\such\\page.html"), 2u);

  const PageHostRun huge = RunPageHost("fail_huge", std::string(1024 * 1024 + 1, ' '), "");
  EXPECT_EQ(huge.exitCode, 2u) << huge.Log();
  EXPECT_TRUE(huge.Starting("error ").find("1048576") != std::string::npos) << huge.Log();

  std::string many;
  for (int i = 0; i < 65; ++i) many += "<object classid=" + std::string(kControlClassId) + "></object>";
  const PageHostRun crowded = RunPageHost("fail_crowded", many, "");
  EXPECT_EQ(crowded.exitCode, 2u) << crowded.Log();
  EXPECT_TRUE(crowded.Starting("#1 ").empty()) << "nothing is created from a refused page\n" << crowded.Log();
}

TEST(PageHostFailures, WrongCommandLines) {
  const std::string host = FullPath(TestFilePath("..\\OrvexPageHost.exe"));
  for (const char* arguments : {"--site bogus page.html", "--verb x page.html", "--close-after 600001 page.html",
                                "--log", "--unknown page.html", "one.html two.html", "--close-after 0"}) {
    EXPECT_EQ(RunProgram("\"" + host + "\" --close-after 0 " + arguments), 1u) << arguments;
  }
}

TEST(PageHostFailures, UnregisteredClassFailsCreationAndTheNextObjectStillRuns) {
  const std::string page =
      "<title>Broken &amp; fine</title>"
      "<object classid=clsid:0DDBA11C-0000-4000-8000-00000000D00D></object>"
      "<object classid=clsid:0DDBA11C-0000-4000-8000-00000000D00E><param name=a value=b></object>";
  const PageHostRun run = RunPageHost("fail_unregistered", page, "");
  EXPECT_EQ(run.exitCode, 4u) << run.Log();
  EXPECT_TRUE(run.Has("page objects 2 title Broken & fine")) << run.Log();
  EXPECT_TRUE(run.Has("#1 created {0DDBA11C-0000-4000-8000-00000000D00D} 0x80040154")) << run.Log();
  EXPECT_TRUE(run.Has("#2 created {0DDBA11C-0000-4000-8000-00000000D00E} 0x80040154")) << run.Log();
  EXPECT_TRUE(run.Has("frame-released 0")) << run.Log();
  EXPECT_TRUE(run.Has("exit 4")) << run.Log();
}

TEST(PageHostFailures, PageWithoutObjectsIsShownUnderItsFileName) {
  const PageHostRun run = RunPageHost("empty", "<p>No objects <param name=Info value=x></p>", "");
  EXPECT_EQ(run.exitCode, 0u) << run.Log();
  EXPECT_TRUE(run.Has("page objects 0 title orvex_page_empty.html")) << run.Log();
  EXPECT_TRUE(run.Has("note a param outside any object is ignored")) << run.Log();
  const std::string window = run.Starting("host-window ");
  EXPECT_EQ(FieldAfter(window, "host-window"), FieldAfter(window, "active"))
      << "the host window is the active window before anything loads\n"
      << run.Log();
  EXPECT_TRUE(run.Has("closed")) << run.Log();
}

}  // namespace
}  // namespace orvex::test
