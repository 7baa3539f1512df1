// The installer and check built for an information server reached over HTTPS
// (https://localhost/), against the tests' server, which shows the certificate
// a case chooses; its namespace trusts the test root. The platform validates
// the certificate: a failure is a network failure of its phase. Nothing goes
// out in the clear: not a page's http download URL, nor a redirect to http.
#include <cstring>
#include <string>

#include "road_support.h"
#include "test_registry.h"

namespace orvex::test {
namespace {

using Https = RoadTest;

TEST_F(Https, ThePlatformValidatesAndNothingGoesOutInTheClear) {
  UseProduct("Secured");
  const std::string choice = ServerRoot() + "\\tls-certificate";
  const struct {
    const char* what;
    const char* certificate;  // the server's (tools/signing/make_test_server_certificates.sh)
    bool update;              // an update check, else a first installation
    std::string infoFault;
    std::string downloadBase;  // in Info
    const char* shown;         // in the error box of a first installation that fails
  } cases[] = {
      {"trusted, a page's http download URL", "localhost", false, "{}", "http://localhost/" + lower_ + "/download/",
       nullptr},
      {"trusted, an update", "localhost", true, "{}", "", nullptr},
      // Wine's WinINet has no text for its unknown-root error: "Unknown Error".
      {"unknown root", "stranger", false, "{}", "", ""},
      {"unknown root, an update", "stranger", true, "{}", "", nullptr},
      {"another name", "elsewhere", false, "{}", "", "Error code: 12038"},
      {"expired", "expired", false, "{}", "", "Error code: 12037"},
      {"redirect to http", "localhost", false,
       R"({"status": 302, "location": "http://localhost)" + InfoPath() + R"("})", "", ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    UseProduct("Secured");
    PublishSample();
    ASSERT_TRUE(!c.update || SetInstalledVersion(product_, PackedVersion::Make(1, 0, 0, 0)));
    ASSERT_TRUE(WriteFileBytes(choice, c.certificate));
    SetFault(InfoPath(), c.infoFault);
    const bool trusted = std::strcmp(c.certificate, "localhost") == 0;
    const bool runs = c.shown == nullptr && (trusted || !c.update);
    InstallerEnd installer(product_);
    CheckHost host(product_ + (c.downloadBase.empty() ? "" : "||" + c.downloadBase));
    if (c.update && runs) {
      EXPECT_TRUE(Answer("Confirm Download", "Yes", "(Version 1-0-0-5)"));
    }
    // An update that fails shows nothing: a box would hold the installer.
    if (c.shown != nullptr) {
      EXPECT_TRUE(Answer("Error Accessing Internet", "OK", c.shown));
    }
    ASSERT_TRUE(installer.Wait());
    ASSERT_TRUE(host.WaitDone(kRoadTimeoutMs));
    EXPECT_EQ(SetupRuns(lower_), runs ? 1u : 0u);
    EXPECT_EQ(HasNextUpdateTime(product_), runs) << "a check that fails stays due";
    EXPECT_TRUE(trusted || LoggedRequests(lower_).empty()) << "refused before any request";
    EXPECT_TRUE(LoggedRequests(R"("scheme": "http")").empty()) << "a request in the clear";
  }
  ::DeleteFileA(choice.c_str());
}

}  // namespace
}  // namespace orvex::test
