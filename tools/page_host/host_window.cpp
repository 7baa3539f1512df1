#include "host_window.h"

namespace orvex::page_host {

namespace {

constexpr wchar_t kClassName[] = L"OrvexPageHost";

}  // namespace

HostWindow::~HostWindow() { Destroy(); }

bool HostWindow::Create(HINSTANCE instance, const std::wstring& title, SIZE clientSize) {
  instance_ = instance;
  WNDCLASSEXW windowClass = {};
  windowClass.cbSize = sizeof(windowClass);
  windowClass.style = CS_HREDRAW | CS_VREDRAW;
  windowClass.lpfnWndProc = WindowProc;
  windowClass.hInstance = instance;
  windowClass.hCursor = ::LoadCursor(nullptr, IDC_ARROW);
  windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
  windowClass.lpszClassName = kClassName;
  if (::RegisterClassExW(&windowClass) == 0 && ::GetLastError() != ERROR_CLASS_ALREADY_EXISTS) return false;

  constexpr DWORD kStyle = WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN;
  RECT frame = {0, 0, clientSize.cx, clientSize.cy};
  ::AdjustWindowRectEx(&frame, kStyle, FALSE, 0);
  window_ = ::CreateWindowExW(0, kClassName, title.c_str(), kStyle, CW_USEDEFAULT, CW_USEDEFAULT,
                              frame.right - frame.left, frame.bottom - frame.top, nullptr, nullptr, instance, this);
  return window_ != nullptr;
}

bool HostWindow::ShowAndActivate() {
  if (window_ == nullptr) return false;
  ::ShowWindow(window_, SW_SHOWNORMAL);
  ::UpdateWindow(window_);
  ::SetForegroundWindow(window_);
  ::SetActiveWindow(window_);
  ::SetFocus(window_);
  return ::GetActiveWindow() == window_;
}

void HostWindow::SetPlaces(std::vector<Place> places) {
  places_ = std::move(places);
  if (window_ != nullptr) ::InvalidateRect(window_, nullptr, TRUE);
}

void HostWindow::Destroy() {
  if (window_ != nullptr) {
    ::DestroyWindow(window_);  // clears window_ in WM_NCDESTROY
    window_ = nullptr;
  }
}

LRESULT CALLBACK HostWindow::WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_NCCREATE) {
    const auto* creation = reinterpret_cast<const CREATESTRUCTW*>(lParam);
    auto* self = static_cast<HostWindow*>(creation->lpCreateParams);
    self->window_ = window;
    ::SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
  }
  auto* self = reinterpret_cast<HostWindow*>(::GetWindowLongPtrW(window, GWLP_USERDATA));
  if (self == nullptr) return ::DefWindowProcW(window, message, wParam, lParam);
  if (message == WM_NCDESTROY) {
    ::SetWindowLongPtrW(window, GWLP_USERDATA, 0);
    self->window_ = nullptr;
    return ::DefWindowProcW(window, message, wParam, lParam);
  }
  return self->Handle(message, wParam, lParam);
}

LRESULT HostWindow::Handle(UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_CLOSE:
      // The owner closes the page's objects first, then destroys the window.
      closeRequested_ = true;
      if (closeHook_) closeHook_();
      return 0;
    case WM_PAINT:
      Paint();
      return 0;
    case WM_SIZE:
      if (wParam == SIZE_MINIMIZED && !minimised_) {
        minimised_ = true;
        if (stateHook_) stateHook_("minimised");
      } else if (wParam != SIZE_MINIMIZED && minimised_) {
        minimised_ = false;
        if (stateHook_) stateHook_("restored");
      }
      return 0;
    case WM_ENABLE:
      if (stateHook_) stateHook_(wParam ? "enabled" : "disabled");
      return 0;
    default:
      return ::DefWindowProcW(window_, message, wParam, lParam);
  }
}

void HostWindow::Paint() {
  PAINTSTRUCT paint = {};
  HDC dc = ::BeginPaint(window_, &paint);
  if (dc == nullptr) return;
  HGDIOBJ oldPen = ::SelectObject(dc, ::GetStockObject(DC_PEN));
  HGDIOBJ oldBrush = ::SelectObject(dc, ::GetStockObject(NULL_BRUSH));
  ::SetDCPenColor(dc, ::GetSysColor(COLOR_GRAYTEXT));
  ::SetBkMode(dc, TRANSPARENT);
  ::SetTextColor(dc, ::GetSysColor(COLOR_GRAYTEXT));
  RECT client = {};
  ::GetClientRect(window_, &client);
  for (const Place& place : places_) {
    // The outline sits just outside the object's rectangle, the label above it
    // as wide as the window allows.
    ::Rectangle(dc, place.rect.left - 1, place.rect.top - 1, place.rect.right + 1, place.rect.bottom + 1);
    RECT label = {place.rect.left, place.rect.top - 18, client.right - place.rect.left, place.rect.top - 2};
    ::DrawTextW(dc, place.label.c_str(), static_cast<int>(place.label.size()), &label,
                DT_LEFT | DT_SINGLELINE | DT_END_ELLIPSIS | DT_NOPREFIX);
  }
  ::SelectObject(dc, oldBrush);
  ::SelectObject(dc, oldPen);
  if (paintHook_) paintHook_(dc);
  ::EndPaint(window_, &paint);
}

}  // namespace orvex::page_host
