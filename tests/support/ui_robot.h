// Finds a process's top-level windows, reads their texts and presses their
// buttons, as a user would, and waits for what a user would wait for.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace orvex::test {

// Polls condition every 10 ms until it holds or timeoutMs passed; whether it held.
template <typename Condition>
bool WaitUntil(Condition condition, DWORD timeoutMs) {
  const ULONGLONG deadline = ::GetTickCount64() + timeoutMs;
  while (!condition()) {
    if (::GetTickCount64() >= deadline) return false;
    ::Sleep(10);
  }
  return true;
}

// Visible top-level windows of process pid (0: of any process) whose class
// and title match (an empty string matches anything).
std::vector<HWND> FindTopLevelWindows(DWORD pid, const std::string& className, const std::string& title);

// Waits up to timeoutMs for such a window; null when none appeared.
HWND WaitForTopLevelWindow(DWORD pid, const std::string& className, const std::string& title, DWORD timeoutMs);

std::string WindowText(HWND window);

// Texts of the window's children, in their order.
std::vector<std::string> ChildTexts(HWND window);

// Clicks the child button whose text (without '&') is text. False when there is none.
bool PressButton(HWND window, const std::string& text);

}  // namespace orvex::test
