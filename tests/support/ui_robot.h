// Finds a process's top-level windows, reads their texts and presses their
// buttons, as a user would.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace orvex::test {

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

// Waits up to timeoutMs for the window to be destroyed.
bool WaitForWindowGone(HWND window, DWORD timeoutMs);

}  // namespace orvex::test
