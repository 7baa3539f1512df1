// The block and the command line as the installer reads them, and the Info
// texts the check refuses.
#include <string>
#include <utility>

#include "check_test_support.h"

namespace orvex::test {
namespace {

const std::string kBase = ORVEX_INFO_BASE_URL;

std::string InstallerCommandLine(const std::string& name) {
  char windows[MAX_PATH];
  const UINT length = ::GetWindowsDirectoryA(windows, MAX_PATH);
  return std::string(windows, length) + "\\OrvexInstaller.exe " + name;
}

TEST_F(CheckTest, BlockCarriesInfoAndTheDefaultDownloadUrl) {
  const std::string name = Product("RB_Basic");
  const std::string clsid = TestClsid(0xB001);  // not registered anywhere
  RunCheck(name + "|" + clsid + "|");
  const DoubleRecord record = Record(name);
  ASSERT_EQ(record.runs, 1u);
  ASSERT_TRUE(record.opened) << "the double could not open info_, installing_ and sync_ + name";
  ASSERT_TRUE(record.hasBlock);
  EXPECT_STREQ(record.block.productName, "RB_Basic");
  EXPECT_EQ(record.block.viewerClsid, clsid);
  EXPECT_EQ(std::string(record.block.infoBaseUrl), kBase);
  EXPECT_EQ(std::string(record.block.downloadBaseUrl), kBase + "rb_basic/download/");
  EXPECT_TRUE(record.block.installedVersion.IsZero());
  EXPECT_EQ(record.commandLine, InstallerCommandLine(name));
  EXPECT_EQ(record.argument, name);
}

// The third field is the download URL when it names an allowed host; any
// other is treated as not given. Later fields are ignored.
TEST_F(CheckTest, ThirdFieldIsTheDownloadUrlOfAnAllowedHost) {
  const std::string kDefault = kBase + "rb_url/download/";
  const std::pair<const char*, std::string> cases[] = {
      {"http://127.0.0.1:8080/pkg/|ignored|too", "http://127.0.0.1:8080/pkg/"},
      {"https://127.0.0.1/pkg/", "https://127.0.0.1/pkg/"},
      {"http://mirror.test/pkg/", kDefault},
      {"http://127.0.0.1@evil.test/", kDefault}, {"file:///C:/pkg/", kDefault},
      {"/pkg/", kDefault},                       {"http://127.0.0.1/pkg?/", kDefault},
  };
  for (const auto& [url, expected] : cases) {
    const std::string name = Product("RB_Url");
    RunCheck(name + "||" + url);
    const DoubleRecord record = Record(name);
    ASSERT_TRUE(record.hasBlock) << url;
    EXPECT_STREQ(record.block.viewerClsid, "");
    EXPECT_EQ(std::string(record.block.downloadBaseUrl), expected) << url;
  }
}

TEST_F(CheckTest, NamesWithBlanksAndCaseAreUsedUnchanged) {
  const std::string name = Product("Rb Trailing  ");
  RunCheck(name);
  const DoubleRecord record = Record(name);
  ASSERT_TRUE(record.opened);
  EXPECT_EQ(record.argument, name);
  EXPECT_EQ(record.commandLine, InstallerCommandLine(name));
  EXPECT_EQ(std::string(record.block.downloadBaseUrl), kBase + "rb trailing  /download/");
}

TEST_F(CheckTest, EmptyAndNullInfoStartTheInstallerWithAnEmptyName) {
  // The installer turns an empty name away without acknowledging; the check
  // returns when its process ends.
  const std::string empty = Product("");
  UseDouble(empty, DoubleMode::kNoAcknowledge);
  const std::vector<std::string> events = RunCheck("");
  EXPECT_TRUE(events.empty());
  DoubleRecord record = Record(empty);
  EXPECT_EQ(record.runs, 1u);
  EXPECT_EQ(record.commandLine, InstallerCommandLine(""));

  CheckHost host(std::string{});
  ASSERT_TRUE(host.WaitDone(kCheckTimeoutMs));
  record = Record(empty);
  EXPECT_EQ(record.runs, 2u);
}

TEST_F(CheckTest, FieldsAtTheBlockLimitsAreKept) {
  const std::string name = Product(std::string(49, 'L'));
  const std::string clsid(49, 'C');
  const std::string url = "http://127.0.0.1/" + std::string(259 - 18, 'u') + "/";
  ASSERT_EQ(url.size(), 259u);
  RunCheck(name + "|" + clsid + "|" + url);
  const DoubleRecord record = Record(name);
  ASSERT_TRUE(record.hasBlock);
  EXPECT_EQ(std::string(record.block.productName), name);
  EXPECT_EQ(std::string(record.block.viewerClsid), clsid);
  EXPECT_EQ(std::string(record.block.downloadBaseUrl), url);
}

TEST_F(CheckTest, FieldsLongerThanTheBlockAreRefusedAndStartNothing) {
  const std::string longName = Product(std::string(50, 'L'));
  const std::string okName = Product("RB_Refused");
  const std::vector<std::string> infos = {
      longName,
      okName + "|" + std::string(50, 'C'),
      okName + "||http://h/" + std::string(260 - 9, 'u'),
  };
  for (const std::string& info : infos) {
    EXPECT_TRUE(RunCheck(info).empty()) << info;
  }
  EXPECT_FALSE(DoubleRan(longName));
  EXPECT_FALSE(DoubleRan(okName));
  EXPECT_FALSE(ReadMachineValue(MakerKeyPath(okName), nullptr, nullptr) ||
               ReadMachineValue(DownloadsKeyPath(okName), nullptr, nullptr));
}

TEST_F(CheckTest, NamesThatCannotBeFileNamesAreRefused) {
  // Which names are refused is the name check's own table; here, that the check uses it.
  for (const char* bad : {"..", "a/b"}) {
    ForgetDoubleRecord(bad);
    EXPECT_TRUE(RunCheck(std::string(bad) + "|{C}|").empty()) << bad;
    EXPECT_FALSE(DoubleRan(bad)) << bad;
    ForgetDoubleRecord(bad);
  }
}

}  // namespace
}  // namespace orvex::test
