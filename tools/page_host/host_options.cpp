#include "host_options.h"

#include <cerrno>
#include <cwchar>

namespace orvex::page_host {

namespace {

bool ParseLong(const std::wstring& text, long low, long high, long& value) {
  if (text.empty()) return false;
  wchar_t* end = nullptr;
  errno = 0;
  const long parsed = std::wcstol(text.c_str(), &end, 10);
  if (errno != 0 || end == nullptr || *end != L'\0' || parsed < low || parsed > high) return false;
  value = parsed;
  return true;
}

}  // namespace

const wchar_t* UsageText() {
  return L"usage: OrvexPageHost.exe [options] PAGE.html\n"
         L"Reads the page, creates each <object classid=\"clsid:...\"> it holds, loads it from its\n"
         L"<param> elements, activates it in place in the host window and pumps messages until the\n"
         L"window is closed.\n"
         L"options:\n"
         L"  --site windowless|ex|plain  in-place site offered (default windowless)\n"
         L"  --no-windowless-activate    CanWindowlessActivate answers S_FALSE\n"
         L"  --no-control-site           the site does not answer IOleControlSite\n"
         L"  --no-ambient-dispatch       the site does not answer IDispatch (no ambient properties)\n"
         L"  --user-mode run|design|absent  ambient user mode (default run)\n"
         L"  --verb N                    verb of the activation (default -5)\n"
         L"  --then-verb N               a further verb after activation (repeatable)\n"
         L"  --page-url URL              the page's URL, as the container's moniker tells each object\n"
         L"                              (default: the page file's own file: URL)\n"
         L"  --script-site               give each object its site through IObjectWithSite only, as\n"
         L"                              for an object a page's script creates\n"
         L"  --log FILE                  append one line per event to FILE\n"
         L"  --close-after MS            after activation pump messages for MS milliseconds\n"
         L"                              (at most 600000), then close everything and exit\n"
         L"  --help                      this text\n"
         L"exit codes:\n"
         L"  0  the page was read; every object was created, loaded and activated\n"
         L"  1  wrong command line\n"
         L"  2  the page cannot be read, is over 1 MiB, or passes one of the parser's bounds\n"
         L"  3  OLE or the host window could not be set up\n"
         L"  4  an object could not be created\n"
         L"  5  an object failed to load\n"
         L"  6  an object failed to activate\n"
         L"  (with several failures, the first one's code)\n";
}

bool ParseHostOptions(const std::vector<std::wstring>& arguments, HostOptions& options, std::wstring& error) {
  options = HostOptions{};
  for (std::size_t i = 0; i < arguments.size(); ++i) {
    const std::wstring& argument = arguments[i];
    auto value = [&](std::wstring& out) {
      if (i + 1 >= arguments.size()) {
        error = argument + L" needs a value";
        return false;
      }
      out = arguments[++i];
      return true;
    };
    std::wstring text;
    if (argument == L"--help" || argument == L"-h" || argument == L"/?") {
      options.help = true;
    } else if (argument == L"--site") {
      if (!value(text)) return false;
      if (text == L"windowless") {
        options.site.kind = SiteKind::kWindowless;
      } else if (text == L"ex") {
        options.site.kind = SiteKind::kEx;
      } else if (text == L"plain") {
        options.site.kind = SiteKind::kPlain;
      } else {
        error = L"--site takes windowless, ex or plain, not " + text;
        return false;
      }
    } else if (argument == L"--no-windowless-activate") {
      options.site.windowlessActivate = false;
    } else if (argument == L"--no-control-site") {
      options.site.controlSite = false;
    } else if (argument == L"--no-ambient-dispatch") {
      options.site.ambientDispatch = false;
    } else if (argument == L"--user-mode") {
      if (!value(text)) return false;
      if (text == L"run") {
        options.site.userMode = UserMode::kRun;
      } else if (text == L"design") {
        options.site.userMode = UserMode::kDesign;
      } else if (text == L"absent") {
        options.site.userMode = UserMode::kAbsent;
      } else {
        error = L"--user-mode takes run, design or absent, not " + text;
        return false;
      }
    } else if (argument == L"--verb" || argument == L"--then-verb") {
      if (!value(text)) return false;
      long verb = 0;
      if (!ParseLong(text, -1000000, 1000000, verb)) {
        error = argument + L" takes a whole number, not " + text;
        return false;
      }
      if (argument == L"--verb") {
        options.verb = verb;
      } else {
        options.thenVerbs.push_back(verb);
      }
    } else if (argument == L"--page-url") {
      if (!value(options.site.pageUrl)) return false;
      if (options.site.pageUrl.empty()) {
        error = L"--page-url needs a URL";
        return false;
      }
    } else if (argument == L"--script-site") {
      options.site.scriptSite = true;
    } else if (argument == L"--log") {
      if (!value(options.logPath)) return false;
    } else if (argument == L"--close-after") {
      if (!value(text)) return false;
      long ms = 0;
      if (!ParseLong(text, 0, static_cast<long>(kMaxCloseAfterMs), ms)) {
        error = L"--close-after takes milliseconds from 0 to " + std::to_wstring(kMaxCloseAfterMs) + L", not " + text;
        return false;
      }
      options.closeAfter = true;
      options.closeAfterMs = static_cast<unsigned long>(ms);
    } else if (argument.size() > 1 && argument[0] == L'-' && argument[1] == L'-') {
      error = L"unknown option " + argument;
      return false;
    } else if (options.page.empty()) {
      options.page = argument;
    } else {
      error = L"one page only: " + argument;
      return false;
    }
  }
  if (!options.help && options.page.empty()) {
    error = L"no page given";
    return false;
  }
  return true;
}

}  // namespace orvex::page_host
