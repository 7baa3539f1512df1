// The control's window: its class, registered once per process, and the
// binding of each new window to the object that creates it.
#pragma once

#include <windows.h>

namespace orvex {

// What a control window reports to the object it is bound to.
class ControlWindowOwner {
 public:
  // The control's message handling: true when it handled the message, with
  // its result in result.
  virtual bool HandleWindowMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) = 0;
  // The window is gone (WM_NCDESTROY): the owner forgets its handle.
  virtual void WindowDestroyed() = 0;

 protected:
  ~ControlWindowOwner() = default;
};

// Creates a child window of the control's class for owner, as the first
// window of the class on this thread to be created. The object announces
// itself before creation; the window's first message binds the two. Null when
// the class cannot be registered or the window cannot be made.
HWND CreateControlWindow(ControlWindowOwner* owner, HWND parent, const RECT& position);

// The class name, "OrvexCtl:" and eight hexadecimal digits; empty until the
// class is registered.
const wchar_t* ControlWindowClassName();

// Hands a message the control did not handle to the procedure the window had
// before it was bound.
LRESULT CallPreviousWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

}  // namespace orvex
