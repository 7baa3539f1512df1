#include "control_window.h"

#include <stdio.h>

#include "server_module.h"

namespace orvex {

namespace {

// The process's record of the control's window class.
struct WindowClassRecord {
  ATOM atom;
  wchar_t name[24];
};
WindowClassRecord windowClass = {0, {0}};

// Child identifiers, one per window made in this process.
volatile LONG nextChildId = 0;

LRESULT CALLBACK BoundWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

// The class procedure: the first message of a new window takes the
// announcement of its thread back and binds the window to the object.
LRESULT CALLBACK StartWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  auto* owner = static_cast<ControlWindowOwner*>(PopPendingWindow());
  if (owner == nullptr) return ::DefWindowProcW(window, message, wParam, lParam);
  ::SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(owner));
  ::SetWindowLongPtrW(window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&BoundWindowProc));
  return BoundWindowProc(window, message, wParam, lParam);
}

LRESULT CALLBACK BoundWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  auto* owner = reinterpret_cast<ControlWindowOwner*>(::GetWindowLongPtrW(window, GWLP_USERDATA));
  if (owner == nullptr) return CallPreviousWindowProc(window, message, wParam, lParam);
  if (message == WM_NCDESTROY) {
    const LRESULT result = CallPreviousWindowProc(window, message, wParam, lParam);
    if (::GetWindowLongPtrW(window, GWLP_WNDPROC) == reinterpret_cast<LONG_PTR>(&BoundWindowProc)) {
      ::SetWindowLongPtrW(window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&StartWindowProc));
    }
    ::SetWindowLongPtrW(window, GWLP_USERDATA, 0);
    owner->WindowDestroyed();
    return result;
  }
  LRESULT result = 0;
  if (owner->HandleWindowMessage(window, message, wParam, lParam, result)) return result;
  return CallPreviousWindowProc(window, message, wParam, lParam);
}

void UnregisterWindowClass(DWORD) {
  if (windowClass.atom == 0) return;
  ::UnregisterClassW(windowClass.name, CurrentModule()->instance);
  windowClass.atom = 0;
}

// Registers the class once per process, under windowCreateLock; a class of
// the same name already registered for the module is reused.
bool EnsureWindowClass() {
  ServerModule* module = CurrentModule();
  ::EnterCriticalSection(&module->windowCreateLock);
  if (windowClass.atom == 0) {
    // The number is the class record's address in this process.
    _snwprintf(windowClass.name, sizeof(windowClass.name) / sizeof(wchar_t) - 1, L"OrvexCtl:%8.8X",
               static_cast<unsigned>(reinterpret_cast<UINT_PTR>(&windowClass)));
    windowClass.name[sizeof(windowClass.name) / sizeof(wchar_t) - 1] = L'\0';
    WNDCLASSEXW existing = {};
    existing.cbSize = sizeof(existing);
    windowClass.atom = static_cast<ATOM>(::GetClassInfoExW(module->instance, windowClass.name, &existing));
    if (windowClass.atom == 0) {
      WNDCLASSEXW record = {};
      record.cbSize = sizeof(record);
      record.style = CS_HREDRAW | CS_VREDRAW | CS_DBLCLKS;
      record.lpfnWndProc = &StartWindowProc;
      record.hInstance = module->instance;
      record.hCursor = ::LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
      record.hbrBackground = reinterpret_cast<HBRUSH>(static_cast<INT_PTR>(COLOR_WINDOW + 1));
      record.lpszClassName = windowClass.name;
      windowClass.atom = ::RegisterClassExW(&record);
      if (windowClass.atom != 0) AddStopCallback(&UnregisterWindowClass, 0);
    }
  }
  const bool registered = windowClass.atom != 0;
  ::LeaveCriticalSection(&module->windowCreateLock);
  return registered;
}

}  // namespace

const wchar_t* ControlWindowClassName() { return windowClass.atom != 0 ? windowClass.name : L""; }

LRESULT CallPreviousWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  // Windows of the class start with the class procedure, whose own handling
  // of a message is the default one.
  return ::DefWindowProcW(window, message, wParam, lParam);
}

HWND CreateControlWindow(ControlWindowOwner* owner, HWND parent, const RECT& position) {
  if (!EnsureWindowClass()) return nullptr;
  PendingWindow announcement = {};
  PushPendingWindow(&announcement, owner);
  const LONG childId = ::InterlockedIncrement(&nextChildId);
  HWND window = ::CreateWindowExW(0, windowClass.name, nullptr,
                                  WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS | WS_CLIPCHILDREN, position.left,
                                  position.top, position.right - position.left, position.bottom - position.top,
                                  parent, reinterpret_cast<HMENU>(static_cast<INT_PTR>(childId)),
                                  CurrentModule()->instance, nullptr);
  // A window that never had a message leaves its announcement behind, and it
  // must not outlive this frame, whose record it is.
  const bool neverBound = WithdrawPendingWindow(&announcement);
  if (window != nullptr && neverBound) {
    ::DestroyWindow(window);
    return nullptr;
  }
  return window;
}

}  // namespace orvex
