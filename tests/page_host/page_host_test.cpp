// The page host as its users run it: its refusals, each with its exit code, and
// what its log says of a page's objects; and the registered control in it: a
// page's Info runs the install check while the control loads, on the build's
// listed pages only.
#include <gtest/gtest.h>

#include <initializer_list>
#include <string>
#include <utility>

#include "control_module.h"
#include "reliability_support.h"
#include "test_registry.h"
#include "ui_robot.h"

namespace orvex::test {
namespace {

constexpr char kControl[] = "clsid:5B3C2A71-8E4D-4F60-A1B2-6C7D8E9F0A12";
// Generous: a host that does not end within it is ended, and fails on its exit code.
constexpr DWORD kEndMs = 60000;

struct HostRun {
  DWORD exitCode = STILL_ACTIVE;
  std::string log = "\n";  // then the log's lines, each ended by "\n"

  bool Has(const std::vector<std::string>& lines) const { return HasLinesInOrder(log, lines); }
};

// Runs the host on the page with the options, closed after 200 ms; or with
// closeAfterMs INFINITE, closed as a user would close its window, once the log
// has readyLine.
HostRun RunHost(const std::string& page, const std::string& options = "", DWORD closeAfterMs = 200,
            const std::string& readyLine = "") {
  const PageHostProcess host("page_host_test", page, closeAfterMs, options);
  if (closeAfterMs == INFINITE) {
    const HWND window = WaitForTopLevelWindow(host.Pid(), "OrvexPageHost", "Control page", kEndMs);
    WaitUntil([&] { return host.LogHasInOrder({readyLine}); }, kEndMs);
    if (window != nullptr) ::PostMessageA(window, WM_CLOSE, 0, 0);
  }
  HostRun run;
  run.exitCode = host.Wait(kEndMs);
  run.log += host.LogText();
  if (run.log.back() != '\n') run.log += "\n";
  return run;
}

std::string ControlPage(const std::string& params) {
  return "<html><head><title>Control page</title></head><body>\n<object id=installer classid=\"" +
         std::string(kControl) + "\" width=200 height=40>\n" + params + "</object>\n</body></html>\n";
}

// The page host's own failures need no registered control.
TEST(PageHostFailures, EachRefusalHasItsExitCode) {
  const std::string host = "\"" + FullPath(TestFilePath("..\\OrvexPageHost.exe")) + "\" --close-after 0 ";
  for (const char* arguments : {"--site bogus page.html", "--verb x page.html", "--close-after 600001 page.html",
                                "--log", "--unknown page.html", "one.html two.html", ""}) {
    EXPECT_EQ(RunProgram(host + arguments), 1u) << arguments;
  }
  EXPECT_EQ(RunProgram(host + "C:\\no\\such\\page.html"), 2u);

  // A page past a bound is refused whole: nothing is created.
  std::string crowded;
  for (int i = 0; i < 65; ++i) crowded += "<object classid=" + std::string(kControl) + "></object>";
  for (const auto& [page, says] : {std::pair<std::string, const char*>{std::string(1024 * 1024 + 1, ' '), "1048576"},
                                   std::pair<std::string, const char*>{crowded, "64 objects"}}) {
    const HostRun run = RunHost(page);
    EXPECT_EQ(run.exitCode, 2u) << run.log;
    EXPECT_NE(run.log.find(says), std::string::npos) << run.log;
    EXPECT_EQ(run.log.find("\n#1 "), std::string::npos) << "nothing is created from a refused page\n" << run.log;
  }

  // A class that is not registered: the next object is still tried, and the
  // host ends with exit code 4; objects in comments and nested fallbacks are
  // not objects of the page. A page without objects is shown and ends well.
  const HostRun unregistered = RunHost(
      "<title>Broken &amp; fine</title><!-- <object classid=clsid:0DDBA11C-0000-4000-8000-00000000D00F> -->"
      "<object classid=clsid:0DDBA11C-0000-4000-8000-00000000D00D><object classid=" + std::string(kControl) +
      "></object></object><object classid=clsid:0DDBA11C-0000-4000-8000-00000000D00E></object>");
  EXPECT_EQ(unregistered.exitCode, 4u) << unregistered.log;
  EXPECT_TRUE(unregistered.Has({"page objects 2 title Broken & fine",
                                "#1 created {0DDBA11C-0000-4000-8000-00000000D00D} 0x80040154",
                                "#2 created {0DDBA11C-0000-4000-8000-00000000D00E} 0x80040154", "exit 4"}))
      << unregistered.log;
  const HostRun empty = RunHost("<p>No objects</p>");
  EXPECT_TRUE(empty.exitCode == 0 && empty.Has({"page objects 0 title orvex_page_host_test.html", "exit 0"}))
      << empty.log;
}

class PageHostCheck : public ::testing::Test {
 protected:
  // Every run ends with the control letting go of everything it was given.
  static void ExpectCleanEnd(const HostRun& run, DWORD exitCode = 0) {
    EXPECT_EQ(run.exitCode, exitCode) << run.log;
    EXPECT_TRUE(run.Has({"#1 close 0x00000000", "#1 released 0", "#1 site-released 0", "frame-released 0",
                         "exit " + std::to_string(exitCode)}))
        << run.log;
  }
};

// The host tells each object its page's URL through the container's moniker:
// the page file's own by default, or the one given. Only the build's listed
// pages run the check (the sites' cases: SiteProtocol); a refused page still
// loads, and so does an object whose site comes only through IObjectWithSite,
// as a script's would.
TEST_F(PageHostCheck, InfoParametersRunTheCheckOnceEachOnListedPages) {
  ForgetProduct("PH_First");
  ForgetProduct("PH_Second");
  const std::string page = "<title>Two installers</title><object classid=\"" + std::string(kControl) +
                           "\" width=200 height=40>\n"
                           "  <param name=\"Info\" value=\"PH_First|{0F0E0D0C-0B0A-4000-8000-0000000000AB}|\">\n"
                           "</object>\n<OBJECT CLASSID='" +
                           std::string(kControl) + "'><PARAM NAME=INFO VALUE='PH_Second'></OBJECT>\n";
  const HostRun run = RunHost(page);
  ExpectCleanEnd(run);
  EXPECT_TRUE(run.Has({"#2 released 0"})) << run.log;
  EXPECT_NE(run.log.find("\npage-url file:///"), std::string::npos) << run.log;
  EXPECT_TRUE(run.Has({"#1 get-moniker 1 0x00000000"})) << run.log;
  EXPECT_EQ(ReadDoubleRecord("PH_First").runs, 1u) << run.log;
  EXPECT_EQ(ReadDoubleRecord("PH_Second").runs, 1u) << "parameter names match without regard to case\n" << run.log;
  for (const std::string number : {"#1 ", "#2 "}) {
    // The site first, the check while the bag loads; no hold of the bag kept.
    EXPECT_TRUE(run.Has({number + "set-client-site 0x00000000", number + "bag-read Info 8 0x00000000",
                         number + "load-bag 0x00000000", number + "bag-released 0",
                         number + "host-state enabled 1 iconic 0"}))
        << run.log;
  }
  ForgetProduct("PH_First");
  const HostRun refused = RunHost(page, "--script-site --page-url https://evil.example/viewer.html");
  ExpectCleanEnd(refused);
  EXPECT_EQ(ReadDoubleRecord("PH_First").runs, 0u) << refused.log;
  ForgetProduct("PH_First");
  ForgetProduct("PH_Second");
}

// Each kind of site the host can offer activates the control as it offers:
// windowless where it may, else in place in a window of its own (a child of
// the host's), and the verbs follow the ambient user mode. A verb the control
// does not know fails the activation: exit code 6.
TEST_F(PageHostCheck, EachSiteActivatesTheControlAsItOffers) {
  const struct {
    const char* options;
    std::initializer_list<std::string> inOrder;
    DWORD exitCode = 0;
  } cases[] = {
      {"--site windowless", {"#1 on-in-place-activate-ex 0x00000001", "#1 get-window 0x80004005"}},
      {"--site windowless --no-windowless-activate",
       {"#1 can-windowless-activate 0x00000001", "#1 on-in-place-activate-ex 0x00000000", "#1 get-window 0x00000000"}},
      {"--site ex", {"#1 on-in-place-activate-ex 0x00000000", "#1 get-window 0x00000000"}},
      {"--site plain", {"#1 can-in-place-activate", "#1 on-in-place-activate", "#1 get-window 0x00000000"}},
      {"--user-mode design --verb 0", {"#1 show-property-frame", "#1 do-verb 0 0x00040181"}},
      {"--no-ambient-dispatch", {"#1 on-ui-activate", "frame set-active-object object", "frame set-active-object none"}},
      {"--verb 5", {"#1 do-verb 5 0x80004001"}, 6},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.options);
    const HostRun run = RunHost(ControlPage(""), c.options);
    ExpectCleanEnd(run, c.exitCode);
    EXPECT_TRUE(run.Has(c.inOrder)) << run.log;
  }
  // The demo's way: no timed close, the user closes the window.
  const HostRun closed = RunHost(ControlPage(""), "", INFINITE, "#1 get-window 0x80004005");
  EXPECT_TRUE(closed.Has({"close-requested", "#1 close 0x00000000", "closed"})) << closed.log;
  ExpectCleanEnd(closed);
}

}  // namespace
}  // namespace orvex::test
