// The registered control in the page host: a page's Info parameter runs the
// install check while the control loads, and the control answers each kind
// of in-place site as a well-behaved control does.
#include <gtest/gtest.h>

#include <string>

#include "control_module.h"
#include "installer_double_client.h"
#include "page_host_run.h"
#include "test_registry.h"

namespace orvex::test {
namespace {

class RegisteredControl : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(RegisterControlModule(), 0u); }
  void TearDown() override { UnregisterControlModule(); }

  static DWORD CheckRuns(const std::string& product) {
    DoubleRecord record;
    return ReadDoubleRecord(product, record) ? record.runs : 0;
  }
  // What every clean run ends with: the control let go of everything it was given.
  static void ExpectCleanEnd(const PageHostRun& run) {
    EXPECT_TRUE(run.Has("#1 close 0x00000000")) << run.Log();
    EXPECT_TRUE(run.Has("#1 released 0")) << "the control keeps no reference of its own\n" << run.Log();
    EXPECT_TRUE(run.Has("#1 site-released 0")) << "the control released every site interface\n" << run.Log();
    EXPECT_TRUE(run.Has("frame-released 0")) << "nobody keeps the frame\n" << run.Log();
    EXPECT_TRUE(run.Has("exit 0")) << run.Log();
  }
};

using PageHostCheck = RegisteredControl;

TEST_F(PageHostCheck, InfoParametersRunTheCheckOnceEachWhileTheControlsLoad) {
  ForgetProduct("PH_First");
  ForgetProduct("PH_Second");
  const std::string page =
      "<html><head><title>Two installers</title></head><body>\n"
      "<object classid=\"" +
      std::string(kControlClassId) +
      "\" width=200 height=40>\n"
      "  <param name=\"Info\" value=\"PH_First|{0F0E0D0C-0B0A-4000-8000-0000000000AB}|\">\n"
      "</object>\n"
      "<OBJECT CLASSID='" +
      std::string(kControlClassId) +
      "'><PARAM NAME=INFO VALUE='PH_Second'></OBJECT>\n"
      "</body></html>\n";
  const PageHostRun run = RunPageHost("check_info", page, "");
  EXPECT_EQ(run.exitCode, 0u) << run.Log();
  EXPECT_EQ(CheckRuns("PH_First"), 1u) << run.Log();
  EXPECT_EQ(CheckRuns("PH_Second"), 1u) << "parameter names are matched without regard to case\n" << run.Log();
  DoubleRecord record;
  ASSERT_TRUE(ReadDoubleRecord("PH_First", record));
  EXPECT_STREQ(record.block.viewerClsid, "{0F0E0D0C-0B0A-4000-8000-0000000000AB}");

  for (const char* object : {"#1 ", "#2 "}) {
    const std::string number = object;
    EXPECT_TRUE(run.Has(number + "misc-status 132497 0x00000000")) << run.Log();
    const int siteGiven = run.IndexOf(number + "set-client-site 0x00000000");
    const int infoRead = run.IndexOf(number + "bag-read Info 8 0x00000000");
    const int loaded = run.IndexOf(number + "load-bag 0x00000000");
    ASSERT_GE(siteGiven, 0) << run.Log();
    EXPECT_LT(siteGiven, infoRead) << "the misc status asks for the site first\n" << run.Log();
    EXPECT_LT(infoRead, loaded) << run.Log();
    // The first installation minimised and then disabled the host window
    // while the control loaded, then enabled and restored it.
    int at = infoRead;
    for (const char* state : {"window minimised", "window disabled", "window enabled", "window restored"}) {
      const int next = run.IndexOf(state, at);
      EXPECT_GT(next, at) << state << "\n" << run.Log();
      at = next;
    }
    EXPECT_LT(at, loaded) << run.Log();
    EXPECT_TRUE(run.Has(number + "host-state enabled 1 iconic 0")) << run.Log();
    EXPECT_TRUE(run.Has(number + "bag-released 0")) << "the control keeps no hold of the bag\n" << run.Log();
  }
  EXPECT_TRUE(run.Has("#2 released 0")) << run.Log();
  ExpectCleanEnd(run);
  ForgetProduct("PH_First");
  ForgetProduct("PH_Second");
}

TEST_F(PageHostCheck, PageWithoutInfoRunsNothing) {
  ForgetProduct("PH_NoInfo");
  const PageHostRun run = RunPageHost("check_none",
                                      ControlPage("<param name=\"Information\" value=\"PH_NoInfo\">\n"
                                                  "<param name=\"_cx\" value=\"2540\">\n"),
                                      "");
  EXPECT_EQ(run.exitCode, 0u) << run.Log();
  EXPECT_TRUE(run.Has("#1 bag-read _cx 19 0x00000000")) << "extents are read as VT_UI4\n" << run.Log();
  EXPECT_TRUE(run.Has("#1 bag-read Info 8 0x80070057")) << run.Log();
  EXPECT_TRUE(run.Has("#1 load-bag 0x00000000")) << "a missing name is skipped\n" << run.Log();
  EXPECT_EQ(CheckRuns("PH_NoInfo"), 0u);
  EXPECT_TRUE(run.Starting("window ").empty()) << "nothing touched the host window\n" << run.Log();
  ExpectCleanEnd(run);
  ForgetProduct("PH_NoInfo");
}

using PageHostSites = RegisteredControl;

// The control's window from the log, checked against the host window.
void ExpectChildOfHost(const PageHostRun& run) {
  const std::string host = FieldAfter(run.Starting("host-window "), "host-window");
  const std::string window = run.Starting("#1 control-window ");
  ASSERT_FALSE(window.empty()) << run.Log();
  EXPECT_EQ(FieldAfter(window, "parent"), host) << run.Log();
  const std::string className = FieldAfter(window, "class");
  EXPECT_EQ(className.compare(0, 9, "OrvexCtl:"), 0) << className;
  EXPECT_EQ(className.size(), 17u) << className;
  EXPECT_EQ(FieldAfter(window, "style"), "0x56000000") << run.Log();
  EXPECT_TRUE(run.Has("#1 get-window 0x00000000")) << run.Log();
}

TEST_F(PageHostSites, WindowlessSiteGetsAWindowlessControl) {
  const PageHostRun run = RunPageHost("site_windowless", ControlPage(""), "--site windowless");
  EXPECT_EQ(run.exitCode, 0u) << run.Log();
  const int asked = run.IndexOf("#1 can-windowless-activate 0x00000000");
  const int activated = run.IndexOf("#1 on-in-place-activate-ex 0x00000001");
  ASSERT_GE(asked, 0) << run.Log();
  EXPECT_LT(asked, activated) << run.Log();
  EXPECT_LT(activated, run.IndexOf("#1 show-object")) << run.Log();
  EXPECT_TRUE(run.Has("#1 do-verb -5 0x00000000")) << run.Log();
  EXPECT_FALSE(run.Has("#1 can-in-place-activate")) << run.Log();
  EXPECT_TRUE(run.Has("#1 get-window 0x80004005")) << "no window once windowless\n" << run.Log();
  EXPECT_TRUE(run.Starting("#1 control-window").empty()) << run.Log();
  EXPECT_TRUE(run.Has("#1 on-in-place-deactivate")) << "Close deactivates\n" << run.Log();
  ExpectCleanEnd(run);
}

TEST_F(PageHostSites, ExSiteGetsAChildWindowOfTheHost) {
  const PageHostRun run = RunPageHost("site_ex", ControlPage(""), "--site ex");
  EXPECT_EQ(run.exitCode, 0u) << run.Log();
  EXPECT_TRUE(run.Has("#1 site-qi IOleInPlaceSiteWindowless no")) << run.Log();
  EXPECT_FALSE(run.Has("#1 can-windowless-activate 0x00000000")) << run.Log();
  EXPECT_TRUE(run.Has("#1 on-in-place-activate-ex 0x00000000")) << run.Log();
  ExpectChildOfHost(run);
  ExpectCleanEnd(run);
}

TEST_F(PageHostSites, PlainSiteIsAskedBeforeItIsTold) {
  const PageHostRun run = RunPageHost("site_plain", ControlPage(""), "--site plain");
  EXPECT_EQ(run.exitCode, 0u) << run.Log();
  const int asked = run.IndexOf("#1 can-in-place-activate");
  ASSERT_GE(asked, 0) << run.Log();
  EXPECT_LT(asked, run.IndexOf("#1 on-in-place-activate")) << run.Log();
  EXPECT_TRUE(run.Starting("#1 on-in-place-activate-ex").empty()) << run.Log();
  ExpectChildOfHost(run);
  EXPECT_TRUE(run.Has("#1 on-in-place-deactivate")) << run.Log();
  ExpectCleanEnd(run);
}

TEST_F(PageHostSites, WindowlessSiteThatRefusesWindowlessActivationGetsAWindow) {
  const PageHostRun run = RunPageHost("site_refused", ControlPage(""), "--site windowless --no-windowless-activate");
  EXPECT_EQ(run.exitCode, 0u) << run.Log();
  EXPECT_TRUE(run.Has("#1 can-windowless-activate 0x00000001")) << run.Log();
  EXPECT_TRUE(run.Has("#1 on-in-place-activate-ex 0x00000000")) << run.Log();
  ExpectChildOfHost(run);
  ExpectCleanEnd(run);
}

TEST_F(PageHostSites, PropertiesVerbAsksTheControlSiteOnly) {
  const PageHostRun without = RunPageHost("verb_plain", ControlPage(""), "--no-control-site --then-verb -7");
  EXPECT_EQ(without.exitCode, 0u) << without.Log();
  EXPECT_TRUE(without.Has("#1 do-verb -7 0x00040181")) << without.Log();
  EXPECT_FALSE(without.Has("#1 show-property-frame")) << without.Log();
  ExpectCleanEnd(without);

  // A site with IOleControlSite is asked; it has no property frame, so the
  // control still cannot show one.
  const PageHostRun with = RunPageHost("verb_site", ControlPage(""), "--then-verb -7");
  const int asked = with.IndexOf("#1 show-property-frame");
  ASSERT_GE(asked, 0) << with.Log();
  EXPECT_LT(asked, with.IndexOf("#1 do-verb -7 0x00040181")) << with.Log();
}

TEST_F(PageHostSites, PrimaryVerbFollowsTheAmbientUserMode) {
  const PageHostRun design = RunPageHost("verb_design", ControlPage(""), "--user-mode design --verb 0");
  EXPECT_EQ(design.exitCode, 0u) << design.Log();
  EXPECT_TRUE(design.Has("#1 ambient -709 design")) << design.Log();
  EXPECT_TRUE(design.Has("#1 show-property-frame")) << design.Log();
  EXPECT_TRUE(design.Has("#1 do-verb 0 0x00040181")) << design.Log();
  EXPECT_TRUE(design.Starting("#1 on-in-place-activate").empty()) << "design mode does not activate\n" << design.Log();

  const PageHostRun run = RunPageHost("verb_run", ControlPage(""), "--user-mode run --verb 0");
  EXPECT_EQ(run.exitCode, 0u) << run.Log();
  EXPECT_TRUE(run.Has("#1 ambient -709 run")) << run.Log();
  EXPECT_TRUE(run.Has("#1 on-in-place-activate-ex 0x00000001")) << run.Log();
  // In user mode the primary verb is in-place activation, which leaves the
  // user interface alone while the site answers ambient properties.
  EXPECT_FALSE(run.Has("#1 on-ui-activate")) << run.Log();
  EXPECT_TRUE(run.Has("#1 do-verb 0 0x00000000")) << run.Log();
  ExpectCleanEnd(run);
}

TEST_F(PageHostSites, WithoutAmbientPropertiesInPlaceActivationAlsoActivatesTheUserInterface) {
  const PageHostRun run = RunPageHost("no_ambient", ControlPage(""), "--no-ambient-dispatch");
  EXPECT_EQ(run.exitCode, 0u) << run.Log();
  EXPECT_TRUE(run.Has("#1 site-qi IDispatch no")) << run.Log();
  const int uiActive = run.IndexOf("#1 on-ui-activate");
  ASSERT_GE(uiActive, 0) << run.Log();
  EXPECT_LT(run.IndexOf("frame set-active-object object"), run.IndexOf("frame set-active-object none"))
      << "closing gives up the frame's active object\n"
      << run.Log();
  ExpectCleanEnd(run);
}

TEST_F(PageHostSites, ClosingTheWindowClosesTheControlAndEndsTheHost) {
  // The demo's way: no timed close, the user closes the window.
  const PageHostRun run =
      RunPageHostUntilClosed("closed_by_user", ControlPage(""), "Control page", "#1 get-window 0x80004005");
  EXPECT_EQ(run.exitCode, 0u) << run.Log();
  const int requested = run.IndexOf("close-requested");
  ASSERT_GE(requested, 0) << run.Log();
  EXPECT_GT(run.IndexOf("#1 close 0x00000000"), requested) << run.Log();
  EXPECT_GT(run.IndexOf("closed"), requested) << run.Log();
  ExpectCleanEnd(run);
}

TEST_F(PageHostSites, UnknownVerbFailsTheActivation) {
  const PageHostRun run = RunPageHost("verb_unknown", ControlPage(""), "--verb 5");
  EXPECT_EQ(run.exitCode, 6u) << run.Log();
  EXPECT_TRUE(run.Has("#1 do-verb 5 0x80004001")) << run.Log();
  EXPECT_TRUE(run.Has("#1 released 0")) << run.Log();
  EXPECT_TRUE(run.Has("exit 6")) << run.Log();
}

}  // namespace
}  // namespace orvex::test
