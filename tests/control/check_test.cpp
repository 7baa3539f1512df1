// The install check as the installer sees it: the block and the command line,
// the Info texts it refuses, and the update throttle.
#include <string>

#include "check_test_support.h"
#include "update_throttle.h"

namespace orvex::test {
namespace {

const std::string kBase = ORVEX_INFO_BASE_URL;

// The name is used as it stands, blanks and capitals included, except in the
// default download URL, which is lower case. A download URL that names a host
// other than the information server or a mirror is taken as not given (which
// hosts are allowed is the host check's own table).
TEST_F(CheckTest, BlockCarriesInfoAndTheDefaultDownloadUrl) {
  const std::string name = Product("Rb Basic ");
  const std::string clsid = Clsid(0xB001);  // not registered
  RunCheck(name + "|" + clsid + "|http://mirror.test/pkg/");
  const DoubleRecord record = ReadDoubleRecord(name);
  ASSERT_EQ(record.runs, 1u);
  EXPECT_EQ(record.argument, name);
  char windows[MAX_PATH];
  const std::string windowsFolder(windows, ::GetWindowsDirectoryA(windows, MAX_PATH));
  EXPECT_EQ(record.commandLine, windowsFolder + "\\OrvexInstaller.exe " + name);
  EXPECT_EQ(std::string(record.block.productName), name);
  EXPECT_EQ(record.block.viewerClsid, clsid);
  EXPECT_EQ(std::string(record.block.infoBaseUrl), kBase);
  EXPECT_EQ(std::string(record.block.downloadBaseUrl), kBase + "rb basic /download/");
  EXPECT_TRUE(record.block.installedVersion.IsZero());
}

// Each field up to its place in the block is kept whole, and later fields
// are ignored; a longer field, or a name that cannot be a file name, refuses
// the whole text: nothing starts and nothing is written.
TEST_F(CheckTest, FieldsLongerThanTheBlockAreRefusedNotCut) {
  const std::string name = Product(std::string(49, 'L'));
  const std::string url = "http://127.0.0.1/" + std::string(259 - 18, 'u') + "/";
  RunCheck(name + "|" + std::string(49, 'C') + "|" + url + "|ignored");
  const DoubleRecord record = ReadDoubleRecord(name);
  EXPECT_EQ(std::string(record.block.productName), name);
  EXPECT_EQ(std::string(record.block.viewerClsid), std::string(49, 'C'));
  EXPECT_EQ(std::string(record.block.downloadBaseUrl), url);

  // Refused texts start no installer, not even one for an empty name.
  const std::string refused = Product("RB_Refused");
  for (const char* bad : {"a/b", "..", ""}) ForgetDoubleRecord(bad);  // names whose keys are not the test's own
  for (const std::string& info : {Product(std::string(50, 'L')), refused + "|" + std::string(50, 'C'),
                                  refused + "||http://h/" + std::string(251, 'u'), std::string("a/b|{C}|"),
                                  std::string("..")}) {
    EXPECT_TRUE(RunCheck(info).empty()) << info;
    EXPECT_EQ(ReadDoubleRecord(info.substr(0, info.find('|'))).runs + ReadDoubleRecord("").runs, 0u) << info;
  }
  EXPECT_FALSE(ReadRegistryValue(HKEY_LOCAL_MACHINE, MakerKeyPath(refused), nullptr, nullptr) ||
               ReadRegistryValue(HKEY_LOCAL_MACHINE, DownloadsKeyPath(refused), nullptr, nullptr));
}

using Throttle = CheckTest;

// A due check deletes NextUpdateTime; one not due starts nothing, unless
// Shift is held. Nothing installed is never throttled.
TEST_F(Throttle, NextUpdateTimeHoldsBackInstalledProductsUnlessShiftIsHeld) {
  const ULONGLONG day = kFileTimeTicksPerDay;
  const struct {
    const char* name;
    bool installed;
    ULONGLONG next;
    bool shift;
    bool runs;
    bool keepsNext;
  } cases[] = {
      {"TH_Past", true, NowAsFileTime() - day, false, true, false},
      {"TH_Future", true, NowAsFileTime() + day, false, false, true},
      {"TH_Shift", true, NowAsFileTime() + day, true, true, false},
      {"TH_NotInstalled", false, NowAsFileTime() + day, false, true, true},
  };
  for (const auto& c : cases) {
    const std::string name = Product(c.name);
    if (c.installed) {
      ASSERT_TRUE(SetInstalledVersion(name, PackedVersion::Make(2, 0, 0, 0)));
    }
    ASSERT_TRUE(SetNextUpdateTime(name, c.next));
    CheckHost::Options options;
    options.holdShift = c.shift;
    RunCheck(name, options);
    EXPECT_EQ(ReadDoubleRecord(name).runs, c.runs ? 1u : 0u) << name;
    EXPECT_EQ(HasNextUpdateTime(name), c.keepsNext) << name;
  }
}

FILETIME Time(DWORD high, DWORD low) { return FILETIME{low, high}; }

TEST(UpdateThrottle, DueWhenNowIsNotBeforeTheNextCheckOrShiftIsHeld) {
  const FILETIME now = Time(0x01DB0000, 0x80000000);
  EXPECT_TRUE(IsUpdateCheckDue(now, now, false)) << "equal is due";
  EXPECT_FALSE(IsUpdateCheckDue(now, Time(0x01DB0000, 0x80000001), false)) << "low halves compare unsigned";
  EXPECT_FALSE(IsUpdateCheckDue(now, Time(0x01DB0001, 0), false));
  EXPECT_TRUE(IsUpdateCheckDue(now, Time(0x01DB0001, 0), true)) << "Shift overrides";
  EXPECT_TRUE(IsUpdateCheckDue(now, Time(0x80000000, 0), false)) << "high halves compare signed";
}

}  // namespace
}  // namespace orvex::test
