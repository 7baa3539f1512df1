// The page host as its users run it: its refusals, each with its exit code;
// and the registered control in it: a page's Info parameter runs the install
// check while the control loads, and the control answers each kind of
// in-place site and verb the host offers.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "control_module.h"
#include "installer_double_client.h"
#include "page_host_run.h"
#include "test_registry.h"

namespace orvex::test {
namespace {

// The page host's own failures need no registered control.
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

class RegisteredControl : public ::testing::Test {
 protected:
  static DWORD CheckRuns(const std::string& product) {
    DoubleRecord record;
    return ReadDoubleRecord(product, record) ? record.runs : 0;
  }
  // The lines in this order, each after the one before.
  static void ExpectInOrder(const PageHostRun& run, const std::vector<std::string>& lines) {
    int at = -1;
    for (const std::string& line : lines) {
      const int next = run.IndexOf(line, at + 1);
      EXPECT_GT(next, at) << line << "\n" << run.Log();
      at = next < 0 ? at : next;
    }
  }
  // What every run ends with: the control let go of everything it was given.
  static void ExpectCleanEnd(const PageHostRun& run, DWORD exitCode = 0) {
    EXPECT_EQ(run.exitCode, exitCode) << run.Log();
    ExpectInOrder(run, {"#1 close 0x00000000", "#1 released 0", "#1 site-released 0", "frame-released 0",
                        "exit " + std::to_string(exitCode)});
  }
};

using PageHostCheck = RegisteredControl;

TEST_F(PageHostCheck, InfoParametersRunTheCheckOnceEachWhileTheControlsLoad) {
  ForgetProduct("PH_First");
  ForgetProduct("PH_Second");
  const std::string page = "<title>Two installers</title><object classid=\"" + std::string(kControlClassId) +
                           "\" width=200 height=40>\n"
                           "  <param name=\"Info\" value=\"PH_First|{0F0E0D0C-0B0A-4000-8000-0000000000AB}|\">\n"
                           "</object>\n<OBJECT CLASSID='" +
                           std::string(kControlClassId) + "'><PARAM NAME=INFO VALUE='PH_Second'></OBJECT>\n";
  const PageHostRun run = RunPageHost("check_info", page, "");
  ExpectCleanEnd(run);
  EXPECT_TRUE(run.Has("#2 released 0")) << run.Log();
  EXPECT_EQ(CheckRuns("PH_First"), 1u) << run.Log();
  EXPECT_EQ(CheckRuns("PH_Second"), 1u) << "parameter names are matched without regard to case\n" << run.Log();
  DoubleRecord record;
  ASSERT_TRUE(ReadDoubleRecord("PH_First", record));
  EXPECT_STREQ(record.block.viewerClsid, "{0F0E0D0C-0B0A-4000-8000-0000000000AB}");
  for (const std::string number : {"#1 ", "#2 "}) {
    // The misc status asks for the site first; the first installation
    // minimised and disabled the host window while the control loaded, then
    // enabled and restored it; the control keeps no hold of the bag.
    ExpectInOrder(run, {number + "misc-status 132497 0x00000000", number + "set-client-site 0x00000000",
                        number + "bag-read Info 8 0x00000000", "window minimised", "window disabled",
                        "window enabled", "window restored", number + "load-bag 0x00000000",
                        number + "bag-released 0", number + "host-state enabled 1 iconic 0"});
  }
  ForgetProduct("PH_First");
  ForgetProduct("PH_Second");
}

// The host tells each object its page's URL through the container's moniker:
// the page file's own by default, or the one given. Only the build's listed
// pages run the check; a refused page still loads, and so does an object
// whose site comes only through IObjectWithSite, as a script's would.
TEST_F(PageHostCheck, OnlyListedPagesRunTheCheck) {
  const struct {
    const char* options;
    bool allowed;
  } cases[] = {
      {"", true},
      {"--page-url https://www.brindlewood.com/viewer.html", true},
      {"--page-url https://evil.example/viewer.html", false},
      {"--script-site --page-url https://brindlewood.com/", true},
      {"--script-site --page-url http://evil.example/", false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.options);
    ForgetProduct("PH_Page");
    const PageHostRun run = RunPageHost("page_url", ControlPage("<param name=Info value=PH_Page>"), c.options);
    ExpectCleanEnd(run);
    EXPECT_EQ(CheckRuns("PH_Page"), c.allowed ? 1u : 0u) << run.Log();
    EXPECT_TRUE(run.Has("#1 get-moniker 1 0x00000000")) << run.Log();
  }
  const PageHostRun run = RunPageHost("page_url", ControlPage(""), "");
  EXPECT_EQ(run.Starting("page-url file:///").empty(), false) << run.Log();
  ForgetProduct("PH_Page");
}

using PageHostSites = RegisteredControl;

// The control on a page without Info, in each kind of site and with each verb
// the host can give it.
TEST_F(PageHostSites, EachSiteAndVerbOnAPageWithoutInfo) {
  const struct {
    const char* options;
    std::vector<std::string> inOrder;
    std::vector<std::string> absent;  // line beginnings
    DWORD exitCode;
  } cases[] = {
      {"--site windowless",
       {"#1 can-windowless-activate 0x00000000", "#1 on-in-place-activate-ex 0x00000001", "#1 show-object",
        "#1 do-verb -5 0x00000000", "#1 get-window 0x80004005", "#1 on-in-place-deactivate"},
       {"#1 can-in-place-activate", "#1 control-window"}, 0},
      {"--site ex",
       {"#1 site-qi IOleInPlaceSiteWindowless no", "#1 on-in-place-activate-ex 0x00000000",
        "#1 get-window 0x00000000"},
       {"#1 can-windowless-activate"}, 0},
      {"--site plain",
       {"#1 can-in-place-activate", "#1 on-in-place-activate", "#1 get-window 0x00000000",
        "#1 on-in-place-deactivate"},
       {"#1 on-in-place-activate-ex"}, 0},
      {"--site windowless --no-windowless-activate",
       {"#1 can-windowless-activate 0x00000001", "#1 on-in-place-activate-ex 0x00000000",
        "#1 get-window 0x00000000"},
       {}, 0},
      // The properties verb asks a site with IOleControlSite, which has no
      // property frame, so the control cannot show one.
      {"--no-control-site --then-verb -7", {"#1 do-verb -7 0x00040181"}, {"#1 show-property-frame"}, 0},
      {"--then-verb -7", {"#1 show-property-frame", "#1 do-verb -7 0x00040181"}, {}, 0},
      // The primary verb follows the ambient user mode: design mode does not
      // activate, run mode activates in place and leaves the user interface alone.
      {"--user-mode design --verb 0", {"#1 ambient -709 design", "#1 show-property-frame", "#1 do-verb 0 0x00040181"},
       {"#1 on-in-place-activate"}, 0},
      {"--user-mode run --verb 0",
       {"#1 ambient -709 run", "#1 on-in-place-activate-ex 0x00000001", "#1 do-verb 0 0x00000000"},
       {"#1 on-ui-activate"}, 0},
      // Without ambient properties in-place activation also activates the
      // user interface, and closing gives up the frame's active object.
      {"--no-ambient-dispatch",
       {"#1 site-qi IDispatch no", "#1 on-ui-activate", "frame set-active-object object",
        "frame set-active-object none"},
       {}, 0},
      {"--verb 5", {"#1 do-verb 5 0x80004001"}, {}, 6},  // an unknown verb fails the activation
  };
  ForgetProduct("PH_NoInfo");
  const std::string page = ControlPage("<param name=\"Information\" value=\"PH_NoInfo\"><param name=_cx value=2540>");
  for (const auto& each : cases) {
    SCOPED_TRACE(each.options);
    const PageHostRun run = RunPageHost("sites", page, each.options);
    ExpectCleanEnd(run, each.exitCode);
    // Extents are read as VT_UI4; a missing name is skipped; nothing is checked.
    ExpectInOrder(run, {"#1 bag-read _cx 19 0x00000000", "#1 bag-read Info 8 0x80070057", "#1 load-bag 0x00000000"});
    EXPECT_TRUE(run.Starting("window ").empty()) << "nothing touched the host window\n" << run.Log();
    ExpectInOrder(run, each.inOrder);
    for (const std::string& line : each.absent) EXPECT_EQ(run.Starting(line), "") << run.Log();
    // A control window is a child of the host window.
    const std::string window = run.Starting("#1 control-window ");
    if (run.Has("#1 get-window 0x00000000")) {
      EXPECT_EQ(FieldAfter(window, "parent"), FieldAfter(run.Starting("host-window "), "host-window")) << run.Log();
    }
  }
  EXPECT_EQ(CheckRuns("PH_NoInfo"), 0u);
  ForgetProduct("PH_NoInfo");
}

TEST_F(PageHostSites, ClosingTheWindowClosesTheControlAndEndsTheHost) {
  // The demo's way: no timed close, the user closes the window.
  const PageHostRun run =
      RunPageHostUntilClosed("closed_by_user", ControlPage(""), "Control page", "#1 get-window 0x80004005");
  ExpectInOrder(run, {"close-requested", "#1 close 0x00000000", "closed"});
  ExpectCleanEnd(run);
}

}  // namespace
}  // namespace orvex::test
