// The information server's faults, end to end: a page in the page host embeds
// the registered control, whose first installation runs the real installer
// against the server with the fault. Whatever the server does, the page's
// window comes back and the page host ends normally; a fault that spoils the
// record or the package is reported in the error box and runs nothing, and
// one that delivers everything the record announces installs.
#include <string>
#include <vector>

#include "control_module.h"
#include "page_host_process.h"
#include "reliability_support.h"
#include "road_support.h"
#include "test_registry.h"
#include "ui_robot.h"

namespace orvex::test {
namespace {

constexpr char kErrorBoxTitle[] = "Error Accessing Internet";
// The suite's time budget, and the most one opening of the page may take of it
// (a server that falls silent: the installer's 60 s stall limit, and more).
constexpr DWORD kSuiteBudgetMs = 220000;
constexpr DWORD kPageMs = 20000;
constexpr DWORD kSilentPageMs = 90000;
constexpr DWORD kStepMs = 10000;

enum class Expect { kReported, kInstalled };

struct FaultCase {
  const char* what;
  std::string fault;  // the fault file's JSON
  Expect expect;
  DWORD pageMs = kPageMs;
};

struct PageOutcome {
  bool errorBox = false;
  std::vector<std::string> boxTexts;
  DWORD exitCode = STILL_ACTIVE;
  std::string log;
  bool windowCycle = false;  // minimised, disabled, enabled, restored, in this order
};

class ServerFaults : public RoadTest {
 protected:
  static void SetUpTestSuite() {
    budget_ = Deadline(kSuiteBudgetMs);
    registered_ = RegisterControlModule() == 0;
  }
  static void TearDownTestSuite() { UnregisterControlModule(); }
  void SetUp() override { ASSERT_TRUE(registered_) << "the control module could not be registered"; }

  // The product afresh: no keys, files or faults, the sample published at 1.0.0.5.
  void Fresh(const std::string& product) {
    UseProduct(product);
    PublishSample(PackedVersion::Make(1, 0, 0, 5), "1-0-0-5");
  }
  std::string PackageServerPath() const { return "/" + lower_ + "/download/" + PackageName("1-0-0-5"); }

  // Opens the page and answers the error box if one comes; bounded throughout.
  PageOutcome OpenPage(DWORD pageMs = kPageMs) {
    PageOutcome outcome;
    PageHostProcess host(lower_, ControlPageWithInfo(product_));
    if (!host.Started()) {
      ADD_FAILURE() << "the page host did not start";
      return outcome;
    }
    const Deadline page(budget_.Left(pageMs));
    while (host.Wait(20) == STILL_ACTIVE && page.Left() > 0) {
      const std::vector<HWND> boxes = FindTopLevelWindows(0, "#32770", kErrorBoxTitle);
      if (boxes.empty()) continue;
      outcome.errorBox = true;
      outcome.boxTexts = ChildTexts(boxes.front());
      PressButton(boxes.front(), "OK");
      WaitForWindowGone(boxes.front(), 5000);
    }
    if (host.Wait(0) == STILL_ACTIVE) {
      // A page still loading after its time: its installer is ended, which
      // also tells whether the page then comes back.
      for (DWORD installer : ChildProcesses("OrvexInstaller.exe", {host.Pid()})) KillProcess(installer);
      ADD_FAILURE() << "the page was still loading after " << pageMs << " ms";
    }
    outcome.exitCode = host.Wait(5000);
    outcome.log = host.LogText();
    outcome.windowCycle =
        host.LogHasInOrder({"window minimised", "window disabled", "window enabled", "window restored"});
    return outcome;
  }

  void Check(const FaultCase& c, const PageOutcome& outcome) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(outcome.exitCode, 0u) << "the page host did not end normally\n" << outcome.log;
    EXPECT_TRUE(outcome.windowCycle) << "the page's window did not come back as it went\n" << outcome.log;
    EXPECT_TRUE(WaitRendezvousGone(product_, budget_.Left(kStepMs)));
    if (c.expect == Expect::kReported) {
      EXPECT_TRUE(outcome.errorBox) << "the failure was not reported";
      EXPECT_FALSE(SetupRan(lower_)) << "a spoilt download ran";
      EXPECT_FALSE(HasNextUpdateTime(product_)) << "the next check must stay due";
    } else {
      std::string texts;
      for (const std::string& text : outcome.boxTexts) texts += text + " / ";
      EXPECT_FALSE(outcome.errorBox) << "reported: " << texts;
      EXPECT_EQ(ReadSetupRecord(lower_).runs, 1u) << "the package did not run";
      EXPECT_TRUE(HasNextUpdateTime(product_));
      EXPECT_TRUE(ReadFileBytes(PackagePath(PackageName("1-0-0-5"))) == SamplePackageBytes())
          << "the package as served";
    }
  }

  static Deadline budget_;
  static bool registered_;
};

Deadline ServerFaults::budget_;
bool ServerFaults::registered_ = false;

using RecordFaults = ServerFaults;
using PackageFaults = ServerFaults;

TEST_F(RecordFaults, EachFaultOfTheRecordIsReportedOrHarmless) {
  // The record is "7|1.0.0.5|0.0.0.0|<size>|first|...": its first 20 bytes
  // end inside the package size.
  const std::string goodRecord =
      "7|1.0.0.5|0.0.0.0|" + std::to_string(SamplePackageBytes().size()) + "|first|A good record";
  const FaultCase cases[] = {
      {"status 404", R"({"status": 404})", Expect::kReported},
      {"status 500", R"({"status": 500})", Expect::kReported},
      {"status 500 with a good record as its body", R"({"status": 500, "body": ")" + goodRecord + R"("})",
       Expect::kReported},
      {"status 302 with nowhere to go", R"({"status": 302})", Expect::kReported},
      {"body cut short inside the package size", R"({"short_body": 20})", Expect::kReported},
      {"connection closed inside the package size", R"({"announce_full_send": 20})", Expect::kReported},
      {"slow drip", R"({"drip": {"chunk": 8, "delay_ms": 60}})", Expect::kInstalled},
      {"body longer than announced", R"({"longer_than_announced": 3000})", Expect::kInstalled},
  };
  for (const FaultCase& c : cases) {
    Fresh("FaultRecord");
    SetFault(InfoPath(), c.fault);
    Check(c, OpenPage());
  }
}

TEST_F(RecordFaults, OnlyTheFirst5000BytesOfALongRecordAreRead) {
  const std::string size = std::to_string(SamplePackageBytes().size());
  // A description that runs past 5000 bytes, closed there by a bar and a line
  // break: read whole, that line break would be a format error; read to 5000
  // bytes, the description ends with the read and the record is good.
  Fresh("FaultLongRecord");
  PublishRecord("7|1.0.0.5|0.0.0.0|" + size + "|first|" + std::string(6000, 'd') + "|\nnot a version");
  Check({"a description past 5000 bytes", "", Expect::kInstalled}, OpenPage());

  // The package size past 5000 bytes: the record read has no version.
  Fresh("FaultLongRecord");
  PublishRecord(std::string(5100, '0') + "7|1.0.0.5|0.0.0.0|" + size + "|first|description");
  Check({"the record's fields past 5000 bytes", "", Expect::kReported}, OpenPage());
}

TEST_F(PackageFaults, EachFaultOfThePackageIsReportedOrHarmless) {
  const FaultCase cases[] = {
      {"status 404", R"({"status": 404})", Expect::kReported},
      {"status 503", R"({"status": 503})", Expect::kReported},
      {"body cut short", R"({"short_body": 200000})", Expect::kReported},
      {"connection closed mid-body", R"({"announce_full_send": 200000})", Expect::kReported},
      {"more than the record's size, announced", R"({"extra_bytes": 6000})", Expect::kReported},
      {"slow drip", R"({"drip": {"chunk": 32768, "delay_ms": 20}})", Expect::kInstalled},
      {"body longer than announced", R"({"longer_than_announced": 6000})", Expect::kInstalled},
      // The installer as shipped, with its 60 s limit (the test build's short
      // limit tries the other silent servers).
      {"silent after 20000 bytes", R"({"hang_after": 20000})", Expect::kReported, kSilentPageMs},
  };
  for (const FaultCase& c : cases) {
    Fresh("FaultPackage");
    SetFault(PackageServerPath(), c.fault);
    Check(c, OpenPage(c.pageMs));
  }
}

}  // namespace
}  // namespace orvex::test
