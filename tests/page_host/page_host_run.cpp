#include "page_host_run.h"

#include <sstream>

#include "page_host_process.h"
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

// Generous bounds: a host that does not end within them is ended, and the
// test fails on its exit code.
constexpr DWORD kEndMs = 60000;
constexpr DWORD kReadyMs = 30000;

PageHostRun Finish(const PageHostProcess& host) {
  PageHostRun run;
  run.exitCode = host.Wait(kEndMs);
  run.lines = host.Log();
  return run;
}

}  // namespace

PageHostRun RunPageHost(const std::string& name, const std::string& page, const std::string& options) {
  const PageHostProcess host("page_" + name, page, 200, options);
  return Finish(host);
}

PageHostRun RunPageHostUntilClosed(const std::string& name, const std::string& page, const std::string& title,
                                   const std::string& readyLine) {
  const PageHostProcess host("page_" + name, page, INFINITE);
  const HWND window = WaitForTopLevelWindow(host.Pid(), "OrvexPageHost", title, kReadyMs);
  WaitUntil([&] { return host.LogHasInOrder({readyLine}); }, kReadyMs);
  if (window != nullptr) ::PostMessageA(window, WM_CLOSE, 0, 0);
  return Finish(host);
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
