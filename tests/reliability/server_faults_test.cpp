// The information server's faults, end to end: the page host shows a page of
// the control, whose first installation runs the real installer against the
// server. Whatever the server does, the page's window comes back and the host
// ends normally; a fault that spoils the record or the package is reported and
// runs nothing, and one that still delivers what the record announces installs.
#include <string>
#include <vector>

#include "control_module.h"
#include "reliability_support.h"
#include "road_support.h"
#include "test_registry.h"
#include "ui_robot.h"

namespace orvex::test {
namespace {

constexpr DWORD kSuiteBudgetMs = 140000;
constexpr DWORD kPageMs = 20000;  // the most one opening of the page may take

enum class Expect { kReported, kInstalled };

struct FaultCase {
  const char* what;
  std::string fault;  // the fault file's JSON, if any
  Expect expect;
  std::string record;  // published in place of the sample's record, if given
};

// A page of one object of the control whose Info parameter is info.
std::string ControlPage(const std::string& info) {
  return "<html><head><title>Reliability page</title></head><body>\n"
         "<object classid=\"clsid:5B3C2A71-8E4D-4F60-A1B2-6C7D8E9F0A12\" width=\"200\" height=\"40\">\n"
         "  <param name=\"Info\" value=\"" + info + "\">\n"
         "</object>\n</body></html>\n";
}

// Whether these lines stand in the log in this order, others between them.
bool LinesInOrder(const std::string& log, const std::vector<std::string>& lines) {
  const std::string framed = "\n" + log;
  std::size_t at = 0;
  for (const std::string& line : lines) {
    at = framed.find("\n" + line + "\n", at);
    if (at == std::string::npos) return false;
    at += line.size() + 1;
  }
  return true;
}

class ServerFaults : public RoadTest {
 protected:
  static void SetUpTestSuite() {
    StartSuiteBudget(kSuiteBudgetMs);
    registered_ = RegisterControlModule() == 0;
  }
  static void TearDownTestSuite() { UnregisterControlModule(); }
  void SetUp() override { ASSERT_TRUE(registered_) << "the control module could not be registered"; }

  // Each case on the product afresh, with the sample published at 1.0.0.5.
  void RunCases(const char* product, bool onPackage, const std::vector<FaultCase>& cases) {
    for (const FaultCase& c : cases) {
      SCOPED_TRACE(c.what);
      UseProduct(product);
      PublishSample(PackedVersion::Make(1, 0, 0, 5), "1-0-0-5");
      if (!c.record.empty()) PublishRecord(c.record);
      const std::string package = "/" + lower_ + "/download/" + PackageName("1-0-0-5");
      if (!c.fault.empty()) SetFault(onPackage ? package : InfoPath(), c.fault);
      OpenPageAndCheck(c.expect);
    }
  }

  // Opens the page, answering the error box if one comes; checks what came of it.
  void OpenPageAndCheck(Expect expect) {
    char temp[MAX_PATH] = "";
    ::GetTempPathA(MAX_PATH, temp);
    const std::string page = std::string(temp) + "orvex_reliability_" + lower_ + ".html";
    const std::string log = std::string(temp) + "orvex_reliability_" + lower_ + ".log";
    const AtScopeEnd remove([&] {
      ::DeleteFileA(page.c_str());
      ::DeleteFileA(log.c_str());
    });
    ::DeleteFileA(log.c_str());
    ASSERT_TRUE(WriteFileBytes(page, ControlPage(product_)));
    ChildProcess host("\"" + FullPath(TestFilePath("..\\OrvexPageHost.exe")) + "\" --log \"" + log +
                      "\" --close-after 100 \"" + page + "\"");
    ASSERT_TRUE(host.Started()) << "the page host did not start";
    bool reported = false;
    std::string boxTexts;
    const ULONGLONG loadingEnd = ::GetTickCount64() + Step(kPageMs);
    while (host.Wait(20) == STILL_ACTIVE && ::GetTickCount64() < loadingEnd) {
      const std::vector<HWND> boxes = FindTopLevelWindows(0, "#32770", kErrorBoxTitle);
      if (boxes.empty()) continue;
      reported = true;
      for (const std::string& text : ChildTexts(boxes.front())) boxTexts += text + " / ";
      PressButton(boxes.front(), "OK");
      WaitForWindowGone(boxes.front(), 5000);
    }
    if (host.Wait(0) == STILL_ACTIVE) {
      // A page still loading after its time: its installer is ended, which
      // also tells whether the page then comes back.
      for (DWORD installer : RunningInstallers({host.Pid()})) KillProcess(installer);
      ADD_FAILURE() << "the page was still loading after " << kPageMs << " ms";
    }
    const DWORD exitCode = host.Wait(5000);
    const std::string logText = ReadFileBytes(log);
    EXPECT_EQ(exitCode, 0u) << "the page host did not end normally\n" << logText;
    EXPECT_TRUE(LinesInOrder(logText, {"window minimised", "window disabled", "window enabled", "window restored"}))
        << "the page's window did not come back as it went\n" << logText;
    EXPECT_TRUE(WaitRendezvousGone(product_, Step()));
    if (expect == Expect::kReported) {
      EXPECT_TRUE(reported) << "the failure was not reported";
      EXPECT_FALSE(SetupRan(lower_)) << "a spoilt download ran";
      EXPECT_FALSE(HasNextUpdateTime(product_)) << "the next check must stay due";
    } else {
      EXPECT_FALSE(reported) << "reported: " << boxTexts;
      EXPECT_EQ(ReadSetupRecord(lower_).runs, 1u) << "the package did not run";
      EXPECT_TRUE(HasNextUpdateTime(product_));
      EXPECT_TRUE(ReadFileBytes(PackagePath(PackageName("1-0-0-5"))) == SamplePackageBytes())
          << "the package as served";
    }
  }

  static bool registered_;
};

bool ServerFaults::registered_ = false;

using RecordFaults = ServerFaults;
using PackageFaults = ServerFaults;

TEST_F(RecordFaults, EachFaultOfTheRecordIsReportedOrHarmless) {
  // The record is "7|1.0.0.5|0.0.0.0|<size>|first|...": its first 20 bytes
  // end inside the package size. Only its first 5000 bytes are read: a
  // description that runs past them, closed there by a bar and a line break,
  // ends with the read (read whole, the line break would be a format error),
  // and fields that start past them are not read at all.
  const std::string size = std::to_string(SamplePackageBytes().size());
  const std::string goodRecord = "7|1.0.0.5|0.0.0.0|" + size + "|first|A good record";
  RunCases("FaultRecord", false,
           {
               {"status 404", R"({"status": 404})", Expect::kReported, ""},
               {"status 500", R"({"status": 500})", Expect::kReported, ""},
               {"status 500 with a good record as its body", R"({"status": 500, "body": ")" + goodRecord + R"("})",
                Expect::kReported, ""},
               {"status 302 with nowhere to go", R"({"status": 302})", Expect::kReported, ""},
               {"body cut short inside the package size", R"({"short_body": 20})", Expect::kReported, ""},
               {"connection closed inside the package size", R"({"announce_full_send": 20})", Expect::kReported, ""},
               {"slow drip", R"({"drip": {"chunk": 8, "delay_ms": 60}})", Expect::kInstalled, ""},
               {"body longer than announced", R"({"longer_than_announced": 3000})", Expect::kInstalled, ""},
               {"a description past 5000 bytes", "", Expect::kInstalled,
                "7|1.0.0.5|0.0.0.0|" + size + "|first|" + std::string(6000, 'd') + "|\nnot a version"},
               {"the record's fields past 5000 bytes", "", Expect::kReported,
                std::string(5100, '0') + "7|1.0.0.5|0.0.0.0|" + size + "|first|description"},
           });
}

TEST_F(PackageFaults, EachFaultOfThePackageIsReportedOrHarmless) {
  RunCases("FaultPackage", true,
           {
               {"status 404", R"({"status": 404})", Expect::kReported, ""},
               {"status 503", R"({"status": 503})", Expect::kReported, ""},
               {"body cut short", R"({"short_body": 200000})", Expect::kReported, ""},
               {"connection closed mid-body", R"({"announce_full_send": 200000})", Expect::kReported, ""},
               {"more than the record's size, announced", R"({"extra_bytes": 6000})", Expect::kReported, ""},
               {"slow drip", R"({"drip": {"chunk": 32768, "delay_ms": 20}})", Expect::kInstalled, ""},
               {"body longer than announced", R"({"longer_than_announced": 6000})", Expect::kInstalled, ""},
           });
}

}  // namespace
}  // namespace orvex::test
