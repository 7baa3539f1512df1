// The page host's top-level window: the page's objects live in its client
// area. It paints an outline and a label for each object's place and hands
// the painting of windowless objects to its owner.
#pragma once

#include <windows.h>

#include <functional>
#include <string>
#include <vector>

namespace orvex::page_host {

class HostWindow {
 public:
  struct Place {
    RECT rect;
    std::wstring label;
  };

  HostWindow() = default;
  ~HostWindow();
  HostWindow(const HostWindow&) = delete;
  HostWindow& operator=(const HostWindow&) = delete;

  // Creates the window (hidden) with a client area that holds `clientSize`.
  // False when the class or the window cannot be made.
  bool Create(HINSTANCE instance, const std::wstring& title, SIZE clientSize);

  // Shows the window, brings it to the foreground and makes it the thread's
  // active window. True when it is the active window afterwards.
  bool ShowAndActivate();

  void SetPlaces(std::vector<Place> places);
  // Called inside WM_PAINT after the places are drawn.
  void SetPaintHook(std::function<void(HDC)> hook) { paintHook_ = std::move(hook); }
  // Called when the user asks to close the window; the window stays until Destroy.
  void SetCloseHook(std::function<void()> hook) { closeHook_ = std::move(hook); }
  // Called when the window is minimised, restored from that, disabled or
  // enabled, with "minimised", "restored", "disabled" or "enabled".
  void SetStateHook(std::function<void(const char*)> hook) { stateHook_ = std::move(hook); }

  HWND Handle() const { return window_; }
  bool CloseRequested() const { return closeRequested_; }
  void Destroy();

 private:
  static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
  LRESULT Handle(UINT message, WPARAM wParam, LPARAM lParam);
  void Paint();

  HWND window_ = nullptr;
  HINSTANCE instance_ = nullptr;
  bool closeRequested_ = false;
  bool minimised_ = false;
  std::vector<Place> places_;
  std::function<void(HDC)> paintHook_;
  std::function<void()> closeHook_;
  std::function<void(const char*)> stateHook_;
};

}  // namespace orvex::page_host
