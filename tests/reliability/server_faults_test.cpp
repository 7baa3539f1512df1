// A page's first installation against a failing server or downloads folder:
// the page's window comes back, a spoilt record or package is reported and runs
// nothing, a fault that still delivers what the record announces installs.
// Each fault is tried once, on the record or the package; the installer's own
// suites try the rest (status 404, redirects, stalls, a cancelled drip).
#include <string>
#include <vector>

#include "reliability_support.h"
#include "road_support.h"
#include "test_registry.h"

namespace orvex::test {
namespace {

constexpr char kErrorBoxTitle[] = "Error Accessing Internet";
constexpr char kNotAFolder[] = "not a folder";
constexpr DWORD kPageMs = 20000;

enum class Spoilt { kRecord, kPackage, kDownloadsFolder };

struct FaultCase {
  const char* what;
  Spoilt spoilt;
  std::string fault;   // the fault file's JSON, for the record or the package
  bool installs;       // else reported
  std::string record;  // published instead of the sample's record, when not empty
};

class ServerFaults : public RoadTest {
 protected:
  static void SetUpTestSuite() { registered_ = RegisterControlModule() == 0; }
  static void TearDownTestSuite() { UnregisterControlModule(); }
  void SetUp() override { ASSERT_TRUE(registered_) << "the control module could not be registered"; }
  void TearDown() override {
    RestoreDownloadsFolder();
    RoadTest::TearDown();
  }

  static std::string AsidePath() { return DownloadsFolder() + ".reliability-aside"; }
  // The downloads folder (when there is one) kept aside, a file in its place.
  static void BlockDownloadsFolder() {
    const std::string folder = DownloadsFolder();
    ::CreateDirectoryA(folder.substr(0, folder.find_last_of('\\')).c_str(), nullptr);
    ::MoveFileA(folder.c_str(), AsidePath().c_str());
    ASSERT_TRUE(WriteFileBytes(folder, kNotAFolder));
  }
  // The downloads folder as it was, also after a run that stopped half-way.
  static void RestoreDownloadsFolder() {
    const std::string folder = DownloadsFolder();
    if (ReadFileBytes(folder) == kNotAFolder) ::DeleteFileA(folder.c_str());
    ::MoveFileA(AsidePath().c_str(), folder.c_str());
  }

  // Opens the page, answering the error box if one comes: its texts, or "(no box)".
  std::string OpenPage() {
    std::string box = "(no box)";
    const PageHostProcess host(lower_,
                               "<html><body><object classid=\"clsid:5B3C2A71-8E4D-4F60-A1B2-6C7D8E9F0A12\" "
                               "width=\"200\" height=\"40\"><param name=\"Info\" value=\"" +
                                   product_ + "\"></object></body></html>\n");
    const ULONGLONG end = ::GetTickCount64() + kPageMs;
    while (host.Wait(20) == STILL_ACTIVE && ::GetTickCount64() < end) {
      const std::vector<HWND> boxes = FindTopLevelWindows(0, "#32770", kErrorBoxTitle);
      if (boxes.empty()) continue;
      box.clear();
      for (const std::string& text : ChildTexts(boxes.front())) box += text + " / ";
      PressButton(boxes.front(), "OK");
      WaitUntil([&] { return !::IsWindow(boxes.front()); }, 5000);
    }
    if (host.Wait(0) == STILL_ACTIVE) {
      for (DWORD installer : ChildProcesses(kInstallerExe, {host.Pid()})) KillProcess(installer);
      ADD_FAILURE() << "the page was still loading after " << kPageMs << " ms";
    }
    const std::string log = host.LogText();
    EXPECT_EQ(host.Wait(5000), 0u) << "the page host did not end normally\n" << log;
    EXPECT_TRUE(host.LogHasInOrder({"window minimised", "window disabled", "window enabled", "window restored"}))
        << "the page's window did not come back as it went\n" << log;
    return box;
  }

  static bool registered_;
};

bool ServerFaults::registered_ = false;

TEST_F(ServerFaults, EachFaultIsReportedOrHarmless) {
  const std::string size = std::to_string(SamplePackageBytes().size());
  const std::string good = "7|1.0.0.5|0.0.0.0|" + size + "|first|A good record";
  const FaultCase cases[] = {
      {"record: status 500 with a good record as its body", Spoilt::kRecord,
       R"({"status": 500, "body": ")" + good + R"("})", false, ""},
      {"record: slow drip", Spoilt::kRecord, R"({"drip": {"chunk": 8, "delay_ms": 60}})", true, ""},
      // Only the first 5000 bytes are read.
      {"record: a description past 5000 bytes", Spoilt::kRecord, "{}", true,
       "7|1.0.0.5|0.0.0.0|" + size + "|first|" + std::string(6000, 'd') + "|\nnot a version"},
      {"record: its fields past 5000 bytes", Spoilt::kRecord, "{}", false,
       std::string(5100, '0') + "7|1.0.0.5|0.0.0.0|" + size + "|first|description"},
      {"package: closed mid-body", Spoilt::kPackage, R"({"announce_full_send": 200000})", false, ""},
      {"package: more than the record's size, announced", Spoilt::kPackage, R"({"extra_bytes": 6000})", false, ""},
      {"package: longer than announced", Spoilt::kPackage, R"({"longer_than_announced": 6000})", true, ""},
      {"a file where the downloads folder goes", Spoilt::kDownloadsFolder, "{}", false, ""},
  };
  for (const FaultCase& c : cases) {
    SCOPED_TRACE(c.what);
    UseProduct("ServerFault");
    PublishSample();
    if (!c.record.empty()) PublishRecord(c.record);
    const std::string path = c.spoilt == Spoilt::kPackage ? PackageServerPath("1-0-0-5") : InfoPath();
    SetFault(path, c.fault);
    if (c.spoilt == Spoilt::kDownloadsFolder) {
      ASSERT_NO_FATAL_FAILURE(BlockDownloadsFolder());
    }

    const std::string box = OpenPage();
    EXPECT_FALSE(LoggedRequests(path).empty()) << "the server was not asked";
    EXPECT_TRUE(WaitRendezvousGone(product_, 10000));
    EXPECT_EQ(HasNextUpdateTime(product_), c.installs) << "the next check is recorded only after an installation";
    if (c.installs) {
      EXPECT_EQ(box, "(no box)");
      EXPECT_EQ(SetupRuns(lower_), 1u) << "the package did not run";
      EXPECT_TRUE(ReadFileBytes(PackagePath(PackageName("1-0-0-5"))) == SamplePackageBytes()) << "not as served";
    } else {
      EXPECT_NE(box, "(no box)") << "the failure was not reported";
      EXPECT_EQ(SetupRuns(lower_), 0u) << "a spoilt download ran";
    }
    if (c.spoilt == Spoilt::kDownloadsFolder) {
      EXPECT_TRUE(ReadFileBytes(DownloadsFolder()) == kNotAFolder) << "the file in the folder's place was changed";
    }
    RestoreDownloadsFolder();
  }
}

}  // namespace
}  // namespace orvex::test
