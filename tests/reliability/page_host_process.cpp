#include "page_host_process.h"

#include <fstream>
#include <sstream>

#include "control_module.h"
#include "test_registry.h"

namespace orvex::test {

PageHostProcess::PageHostProcess(const std::string& name, const std::string& page, DWORD closeAfterMs,
                                 const std::string& options) {
  char temp[MAX_PATH] = "";
  ::GetTempPathA(MAX_PATH, temp);
  pagePath_ = std::string(temp) + "orvex_" + name + ".html";
  logPath_ = std::string(temp) + "orvex_" + name + ".log";
  ::DeleteFileA(logPath_.c_str());
  {
    std::ofstream out(pagePath_, std::ios::binary | std::ios::trunc);
    out << page;
    if (!out) return;
  }
  const std::string close = closeAfterMs == INFINITE ? "" : "--close-after " + std::to_string(closeAfterMs) + " ";
  host_ = std::make_unique<ChildProcess>("\"" + FullPath(TestFilePath("..\\OrvexPageHost.exe")) + "\" --log \"" +
                                         logPath_ + "\" " + close + options + " \"" + pagePath_ + "\"");
}

PageHostProcess::~PageHostProcess() {
  host_.reset();  // ends a host that still runs
  ::DeleteFileA(pagePath_.c_str());
  ::DeleteFileA(logPath_.c_str());
}

std::string PageHostProcess::LogText() const {
  std::ifstream log(logPath_, std::ios::binary);
  std::ostringstream text;
  text << log.rdbuf();
  return text.str();
}

bool PageHostProcess::LogHasInOrder(const std::vector<std::string>& lines) const {
  std::istringstream log(LogText());
  std::size_t next = 0;
  for (std::string line; std::getline(log, line);) {
    if (next < lines.size() && line == lines[next]) ++next;
  }
  return next == lines.size();
}

}  // namespace orvex::test
