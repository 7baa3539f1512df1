// Runs the page host on a page the test writes and reads back its log.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace orvex::test {

// The control's class identifier as a page names it.
constexpr char kControlClassId[] = "clsid:5B3C2A71-8E4D-4F60-A1B2-6C7D8E9F0A12";

struct PageHostRun {
  DWORD exitCode = 0xFFFFFFFF;
  std::vector<std::string> lines;  // the log, one event per line

  bool Has(const std::string& line) const;
  // The first line that starts with `prefix`, or "" when none does.
  std::string Starting(const std::string& prefix) const;
  // Where `line` first stands in the log at or after `from`; -1 when it is not there.
  int IndexOf(const std::string& line, int from = 0) const;
  std::string Log() const;  // the whole log, for failure messages
};

// Writes `page` to "orvex_page_<name>.html" in the temporary folder, runs
// OrvexPageHost.exe with "--log LOG --close-after 200" and `options`, and
// reads the log. The page and log files are removed afterwards.
PageHostRun RunPageHost(const std::string& name, const std::string& page, const std::string& options);

// As RunPageHost, without a timed close: waits for the host's window (by its
// process, class and the page's title) and for `readyLine` in the log, closes
// the window as a user would (WM_CLOSE), and waits for the host to end.
PageHostRun RunPageHostUntilClosed(const std::string& name, const std::string& page, const std::string& title,
                                   const std::string& readyLine);

// A page of one object of the control with the given <param> elements.
std::string ControlPage(const std::string& params);

// The fields of a line "key value key value ...": the word after `key`.
std::string FieldAfter(const std::string& line, const std::string& key);

}  // namespace orvex::test
