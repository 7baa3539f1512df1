#include "ui_robot.h"

#include <algorithm>

namespace orvex::test {

namespace {

std::string ClassNameOf(HWND window) {
  char name[256] = {};
  const int length = ::GetClassNameA(window, name, sizeof(name));
  return std::string(name, length > 0 ? static_cast<size_t>(length) : 0);
}

BOOL CALLBACK CollectChild(HWND window, LPARAM param) {
  reinterpret_cast<std::vector<HWND>*>(param)->push_back(window);
  return TRUE;
}

std::vector<HWND> Children(HWND window) {
  std::vector<HWND> children;
  ::EnumChildWindows(window, CollectChild, reinterpret_cast<LPARAM>(&children));
  return children;
}

struct Search {
  DWORD pid;
  const std::string& className;
  const std::string& title;
  std::vector<HWND> found;
};

BOOL CALLBACK CollectTopLevel(HWND window, LPARAM param) {
  auto& search = *reinterpret_cast<Search*>(param);
  DWORD owner = 0;
  ::GetWindowThreadProcessId(window, &owner);
  if ((search.pid == 0 || owner == search.pid) && ::IsWindowVisible(window) &&
      (search.className.empty() || ClassNameOf(window) == search.className) &&
      (search.title.empty() || WindowText(window) == search.title)) {
    search.found.push_back(window);
  }
  return TRUE;
}

}  // namespace

std::vector<HWND> FindTopLevelWindows(DWORD pid, const std::string& className, const std::string& title) {
  Search search{pid, className, title, {}};
  ::EnumWindows(CollectTopLevel, reinterpret_cast<LPARAM>(&search));
  return search.found;
}

HWND WaitForTopLevelWindow(DWORD pid, const std::string& className, const std::string& title, DWORD timeoutMs) {
  std::vector<HWND> found;
  WaitUntil([&] { return !(found = FindTopLevelWindows(pid, className, title)).empty(); }, timeoutMs);
  return found.empty() ? nullptr : found.front();
}

std::string WindowText(HWND window) {
  char text[1024] = {};
  DWORD_PTR copied = 0;
  if (!::SendMessageTimeoutA(window, WM_GETTEXT, sizeof(text), reinterpret_cast<LPARAM>(text), SMTO_ABORTIFHUNG,
                             2000, &copied)) {
    return std::string();
  }
  return std::string(text, ::strnlen(text, sizeof(text)));
}

std::vector<std::string> ChildTexts(HWND window) {
  std::vector<std::string> texts;
  for (HWND child : Children(window)) texts.push_back(WindowText(child));
  return texts;
}

bool PressButton(HWND window, const std::string& text) {
  for (HWND child : Children(window)) {
    std::string plain = WindowText(child);
    plain.erase(std::remove(plain.begin(), plain.end(), '&'), plain.end());
    if (ClassNameOf(child) != "Button" || plain != text) continue;
    const int id = ::GetDlgCtrlID(child);
    return ::PostMessageA(window, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(child)) != 0;
  }
  return false;
}

}  // namespace orvex::test
