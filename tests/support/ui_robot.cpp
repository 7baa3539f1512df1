#include "ui_robot.h"

namespace orvex::test {

namespace {

struct Search {
  DWORD pid;
  const std::string* className;
  const std::string* title;
  std::vector<HWND> found;
};

BOOL CALLBACK CollectTopLevel(HWND window, LPARAM param) {
  auto* search = reinterpret_cast<Search*>(param);
  DWORD pid = 0;
  ::GetWindowThreadProcessId(window, &pid);
  if ((search->pid != 0 && pid != search->pid) || !::IsWindowVisible(window)) return TRUE;
  if (!search->className->empty() && ClassNameOf(window) != *search->className) return TRUE;
  if (!search->title->empty() && WindowText(window) != *search->title) return TRUE;
  search->found.push_back(window);
  return TRUE;
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

std::string WithoutAccelerators(const std::string& text) {
  std::string plain;
  for (char c : text) {
    if (c != '&') plain += c;
  }
  return plain;
}

}  // namespace

std::vector<HWND> FindTopLevelWindows(DWORD pid, const std::string& className, const std::string& title) {
  Search search{pid, &className, &title, {}};
  ::EnumWindows(CollectTopLevel, reinterpret_cast<LPARAM>(&search));
  return search.found;
}

HWND WaitForTopLevelWindow(DWORD pid, const std::string& className, const std::string& title,
                           DWORD timeoutMs) {
  const ULONGLONG deadline = ::GetTickCount64() + timeoutMs;
  for (;;) {
    const std::vector<HWND> found = FindTopLevelWindows(pid, className, title);
    if (!found.empty()) return found.front();
    if (::GetTickCount64() >= deadline) return nullptr;
    ::Sleep(20);
  }
}

std::string WindowText(HWND window) {
  char text[1024] = {};
  DWORD_PTR copied = 0;
  if (!::SendMessageTimeoutA(window, WM_GETTEXT, sizeof(text), reinterpret_cast<LPARAM>(text),
                             SMTO_ABORTIFHUNG, 2000, &copied)) {
    return std::string();
  }
  return std::string(text, ::strnlen(text, sizeof(text)));
}

std::string ClassNameOf(HWND window) {
  char name[256] = {};
  const int length = ::GetClassNameA(window, name, sizeof(name));
  return std::string(name, length > 0 ? static_cast<size_t>(length) : 0);
}

std::vector<std::string> ChildTexts(HWND window) {
  std::vector<std::string> texts;
  for (HWND child : Children(window)) texts.push_back(WindowText(child));
  return texts;
}

bool PressButton(HWND window, const std::string& text) {
  for (HWND child : Children(window)) {
    if (ClassNameOf(child) != "Button" || WithoutAccelerators(WindowText(child)) != text) continue;
    const int id = ::GetDlgCtrlID(child);
    return ::PostMessageA(window, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(child)) != 0;
  }
  return false;
}

bool WaitForWindowGone(HWND window, DWORD timeoutMs) {
  const ULONGLONG deadline = ::GetTickCount64() + timeoutMs;
  while (::IsWindow(window)) {
    if (::GetTickCount64() >= deadline) return false;
    ::Sleep(20);
  }
  return true;
}

}  // namespace orvex::test
