// The real check starts the real installer against the loopback information
// server; tests publish records, packages and faults there and answer the boxes.
#pragma once

#include <gtest/gtest.h>
#include <windows.h>

#include <ios>
#include <string>
#include <vector>

#include "check_host.h"
#include "win_handles.h"

namespace orvex::test {

constexpr DWORD kRoadTimeoutMs = 60000;

// The server's folder, seen through Wine's drive for the Unix file system.
std::string ServerRoot();

// The built sample setup package (starts with 'M','Z',0x01,0x01).
std::string SamplePackageBytes();

std::string DownloadsFolder();

// How often the sample setup ran for this product (lowercase).
DWORD SetupRuns(const std::string& lowerProduct);

// "installing_" + name, opened before the check starts.
class InstallerEnd {
 public:
  explicit InstallerEnd(const std::string& name);
  bool Wait(DWORD timeoutMs = kRoadTimeoutMs) const;

 private:
  UniqueHandle event_;
};

class RoadTest : public ::testing::Test {
 protected:
  // Chooses the product of this test: cleans its keys, files and records before and after.
  void UseProduct(const std::string& product);

  // <product>/info.txt and <product>/download/<package> on the server.
  std::string InfoPath() const;                              // server-relative, e.g. "/x/info.txt"
  std::string PackageName(const char* version) const;        // "x_1-0-0-5.exe" for "1-0-0-5"
  std::string PackageServerPath(const char* version) const;  // "/x/download/x_1-0-0-5.exe"
  void PublishRecord(const std::string& record);
  void PublishPackage(const std::string& fileName, const std::string& bytes);
  // A record offering this package as version 1.0.0.5 ("x" its description), and the package.
  void PublishOffer(const std::string& package);
  void PublishSample();  // the sample setup offered so
  // Writes <serverPath>.fault ("{}": no fault). The fault must be served: the
  // server's log must name it on that path before the test ends or the path's
  // fault is set again, so that no test passes without the fault it sets.
  void SetFault(const std::string& serverPath, const std::string& json);
  std::string PackagePath(const std::string& fileName) const { return DownloadsFolder() + "\\" + fileName; }
  // The requests the server logged since UseProduct, for paths containing the text.
  std::vector<std::string> LoggedRequests(const std::string& pathPart) const;

  void TearDown() override;

  std::string product_;
  std::string lower_;
  std::streamoff logStart_ = 0;

 private:
  struct SetFaultOnPath {
    std::string path, json;
    std::streamoff logFrom;
  };
  void ExpectServed(const SetFaultOnPath& fault) const;
  std::vector<SetFaultOnPath> faults_;
};

// Waits for a dialog box of any process with this title.
HWND WaitForBox(const char* title);

// Presses a button of the box of this title, which must say the text; false
// when no box came.
bool Answer(const char* title, const char* button, const std::string& text);

}  // namespace orvex::test
