#include "page_host_run.h"

#include <fstream>
#include <sstream>

#include "control_module.h"
#include "test_registry.h"
#include "ui_robot.h"

namespace orvex::test {

bool PageHostRun::Has(const std::string& line) const { return IndexOf(line) >= 0; }

std::string PageHostRun::Starting(const std::string& prefix) const {
  for (const std::string& line : lines) {
    if (line.compare(0, prefix.size(), prefix) == 0) return line;
  }
  return std::string();
}

int PageHostRun::IndexOf(const std::string& line, int from) const {
  for (std::size_t i = from < 0 ? lines.size() : static_cast<std::size_t>(from); i < lines.size(); ++i) {
    if (lines[i] == line) return static_cast<int>(i);
  }
  return -1;
}

std::string PageHostRun::Log() const {
  std::string all;
  for (const std::string& line : lines) all += line + "\n";
  return all;
}

namespace {

std::string TempPath(const std::string& name, const char* extension) {
  char temp[MAX_PATH] = "";
  ::GetTempPathA(MAX_PATH, temp);
  return std::string(temp) + "orvex_page_" + name + extension;
}

std::string HostCommand(const std::string& logPath, const std::string& options, const std::string& pagePath) {
  const std::string host = FullPath(TestFilePath("..\\OrvexPageHost.exe"));
  return "\"" + host + "\" --log \"" + logPath + "\" " + options + " \"" + pagePath + "\"";
}

std::vector<std::string> ReadLines(const std::string& path) {
  std::vector<std::string> lines;
  std::ifstream file(path, std::ios::binary);
  std::string line;
  while (std::getline(file, line)) lines.push_back(line);
  return lines;
}

}  // namespace

PageHostRun RunPageHost(const std::string& name, const std::string& page, const std::string& options) {
  const std::string pagePath = TempPath(name, ".html");
  const std::string logPath = TempPath(name, ".log");
  ::DeleteFileA(logPath.c_str());
  std::ofstream(pagePath, std::ios::binary) << page;
  PageHostRun run;
  run.exitCode = RunProgram(HostCommand(logPath, "--close-after 200 " + options, pagePath));
  run.lines = ReadLines(logPath);
  ::DeleteFileA(logPath.c_str());
  ::DeleteFileA(pagePath.c_str());
  return run;
}

PageHostRun RunPageHostUntilClosed(const std::string& name, const std::string& page, const std::string& title,
                                   const std::string& readyLine) {
  const std::string pagePath = TempPath(name, ".html");
  const std::string logPath = TempPath(name, ".log");
  ::DeleteFileA(logPath.c_str());
  std::ofstream(pagePath, std::ios::binary) << page;
  PageHostRun run;
  std::string line = HostCommand(logPath, "", pagePath);
  STARTUPINFOA startup = {};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION process = {};
  if (::CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process)) {
    HWND window = WaitForTopLevelWindow(process.dwProcessId, "OrvexPageHost", title, 20000);
    PageHostRun progress;
    for (int i = 0; i < 200 && !progress.Has(readyLine); ++i) {
      ::Sleep(100);
      progress.lines = ReadLines(logPath);
    }
    if (window != nullptr) ::PostMessageA(window, WM_CLOSE, 0, 0);
    if (::WaitForSingleObject(process.hProcess, 30000) != WAIT_OBJECT_0) ::TerminateProcess(process.hProcess, 0xDEAD);
    ::WaitForSingleObject(process.hProcess, 5000);
    ::GetExitCodeProcess(process.hProcess, &run.exitCode);
    ::CloseHandle(process.hThread);
    ::CloseHandle(process.hProcess);
  }
  run.lines = ReadLines(logPath);
  ::DeleteFileA(logPath.c_str());
  ::DeleteFileA(pagePath.c_str());
  return run;
}

std::string ControlPage(const std::string& params) {
  return "<html><head><title>Control page</title></head><body>\n"
         "<object id=\"installer\" classid=\"" +
         std::string(kControlClassId) + "\" width=\"200\" height=\"40\">\n" + params + "</object>\n</body></html>\n";
}

std::string FieldAfter(const std::string& line, const std::string& key) {
  std::istringstream words(line);
  std::string word;
  while (words >> word) {
    if (word == key) {
      std::string value;
      words >> value;
      return value;
    }
  }
  return std::string();
}

}  // namespace orvex::test
