#include "road_support.h"

#include <algorithm>
#include <fstream>

#include "object_names.h"
#include "test_registry.h"
#include "ui_robot.h"

namespace orvex::test {

#ifndef ORVEX_TEST_SERVER_ROOT
#define ORVEX_TEST_SERVER_ROOT "infoserver"
#endif

std::string ServerRoot() { return TestFilePath("..\\..\\" ORVEX_TEST_SERVER_ROOT); }

std::string SamplePackageBytes() { return ReadFileBytes(TestFilePath("sample_setup.exe")); }

std::string DownloadsFolder() {
  char programFiles[MAX_PATH] = "";
  ::ExpandEnvironmentStringsA("%ProgramFiles%", programFiles, MAX_PATH);
  return std::string(programFiles) + "\\Brindlewood\\Downloads";
}

DWORD SetupRuns(const std::string& lowerProduct) {
  DWORD runs = 0;
  ReadDword("Software\\OrvexTests\\SampleSetup\\" + lowerProduct, "Runs", runs);
  return runs;
}

// An earlier run's event lives on, set, while any handle to it is open: wait until this one starts unset.
InstallerEnd::InstallerEnd(const std::string& name) {
  const ULONGLONG deadline = ::GetTickCount64() + kRoadTimeoutMs;
  for (;;) {
    event_.Reset(::CreateEventA(nullptr, TRUE, FALSE, (kInstallingPrefix + name).c_str()));
    if (::WaitForSingleObject(event_.Get(), 0) != WAIT_OBJECT_0 || ::GetTickCount64() >= deadline) return;
    event_.Reset();
    ::Sleep(10);
  }
}
bool InstallerEnd::Wait(DWORD timeoutMs) const {
  return ::WaitForSingleObject(event_.Get(), timeoutMs) == WAIT_OBJECT_0;
}

HWND WaitForBox(const char* title) { return WaitForTopLevelWindow(0, "#32770", title, kRoadTimeoutMs); }

bool Answer(const char* title, const char* button, const std::string& text) {
  const HWND box = WaitForBox(title);
  if (box == nullptr) return false;
  std::string texts;
  for (const std::string& line : ChildTexts(box)) texts += line + "\n";
  EXPECT_NE(texts.find(text), std::string::npos) << texts;
  return PressButton(box, button);
}

namespace {

void DeleteFiles(const std::string& folder, const char* pattern) {
  WIN32_FIND_DATAA found;
  const HANDLE search = ::FindFirstFileA((folder + "\\" + pattern).c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) return;
  do {
    ::DeleteFileA((folder + "\\" + found.cFileName).c_str());
  } while (::FindNextFileA(search, &found));
  ::FindClose(search);
}

std::streamoff LogEnd() {
  std::ifstream log(ServerRoot() + "\\requests.log", std::ios::binary | std::ios::ate);
  return log ? static_cast<std::streamoff>(log.tellg()) : 0;
}

// The server's log lines from this offset on that contain the text.
std::vector<std::string> LogLines(std::streamoff from, const std::string& part) {
  std::vector<std::string> lines;
  std::ifstream in(ServerRoot() + "\\requests.log", std::ios::binary);
  in.seekg(from);
  for (std::string line; std::getline(in, line);) {
    if (line.find(part) != std::string::npos) lines.push_back(line);
  }
  return lines;
}

}  // namespace

void RoadTest::UseProduct(const std::string& product) {
  product_ = product;
  lower_ = product;
  ::CharLowerA(lower_.data());
  TearDown();
  logStart_ = LogEnd();
  ::CreateDirectoryA((ServerRoot() + "\\" + lower_).c_str(), nullptr);
  ::CreateDirectoryA((ServerRoot() + "\\" + lower_ + "\\download").c_str(), nullptr);
}

std::vector<std::string> RoadTest::LoggedRequests(const std::string& pathPart) const {
  return LogLines(logStart_, pathPart);
}

std::string RoadTest::InfoPath() const { return "/" + lower_ + "/info.txt"; }

std::string RoadTest::PackageName(const char* version) const { return lower_ + "_" + version + ".exe"; }

std::string RoadTest::PackageServerPath(const char* version) const {
  return "/" + lower_ + "/download/" + PackageName(version);
}

void RoadTest::PublishRecord(const std::string& record) {
  ASSERT_TRUE(WriteFileBytes(ServerRoot() + "\\" + lower_ + "\\info.txt", record));
}

void RoadTest::PublishPackage(const std::string& fileName, const std::string& bytes) {
  ASSERT_TRUE(WriteFileBytes(ServerRoot() + "\\" + lower_ + "\\download\\" + fileName, bytes));
}

void RoadTest::PublishOffer(const std::string& package) {
  PublishRecord("7|1.0.0.5|0.0.0.0|" + std::to_string(package.size()) + "|first|x");
  PublishPackage(PackageName("1-0-0-5"), package);
}

void RoadTest::PublishSample() {
  const std::string package = SamplePackageBytes();
  ASSERT_GT(package.size(), 4u) << "no sample setup beside the test program";
  PublishOffer(package);
}

void RoadTest::SetFault(const std::string& serverPath, const std::string& json) {
  const auto earlier =
      std::find_if(faults_.begin(), faults_.end(), [&](const SetFaultOnPath& f) { return f.path == serverPath; });
  if (earlier != faults_.end()) {
    ExpectServed(*earlier);
    faults_.erase(earlier);
  }
  std::string path = ServerRoot() + serverPath + ".fault";
  std::replace(path.begin(), path.end(), '/', '\\');
  ASSERT_TRUE(WriteFileBytes(path, json));
  if (json != "{}") faults_.push_back({serverPath, json, LogEnd()});
}

// The server names the fault it served in the request's log line ("fault": null without one).
void RoadTest::ExpectServed(const SetFaultOnPath& fault) const {
  for (const std::string& line : LogLines(fault.logFrom, "\"path\": \"" + fault.path + "\"")) {
    if (line.find("\"fault\": \"") != std::string::npos) return;
  }
  ADD_FAILURE() << "the server never served the fault " << fault.json << " on " << fault.path;
}

void RoadTest::TearDown() {
  for (const SetFaultOnPath& fault : faults_) ExpectServed(fault);
  faults_.clear();
  if (product_.empty()) return;
  ForgetProduct(product_);
  ::RegDeleteTreeA(HKEY_CURRENT_USER, ("Software\\OrvexTests\\SampleSetup\\" + lower_).c_str());
  DeleteFiles(DownloadsFolder(), (lower_ + "_*.exe").c_str());
  const std::string folder = ServerRoot() + "\\" + lower_;
  DeleteFiles(folder + "\\download", "*");
  DeleteFiles(folder, "*");
  ::RemoveDirectoryA((folder + "\\download").c_str());
  ::RemoveDirectoryA(folder.c_str());
}

}  // namespace orvex::test
