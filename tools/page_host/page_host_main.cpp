// OrvexPageHost: a small OLE container, a browser in miniature. It reads an
// HTML page, creates each <object classid="clsid:..."> through the registry,
// loads it from its <param> elements through a property bag, activates it in
// place in its own top-level window and pumps messages until the window is
// closed (or, with --close-after, for a fixed time). Tests choose which site
// interfaces it offers and read what happened from its log.
//
// Windowless objects are drawn in the host window's paint (IViewObject::Draw
// into their place); keystrokes go to the UI-active object's
// TranslateAccelerator first. Mouse and other window messages are not passed
// on to windowless objects: the page's objects so far need none.
//
// Log format (--log FILE): lines are appended, one per event, "\n"-terminated,
// UTF-8. Handles are "0x" + upper-case hex without leading zeros; HRESULTs and
// flag words "0x" + eight upper-case hex digits. Events of the page's object
// number N (1-based, page order, counting only created objects) start with
// "#N "; the others are the host's own:
//
//   start PAGE                         the host began with this page path
//   page-url URL                       the URL each object's site tells (its container's moniker)
//   error TEXT                         a failure that ends the run (exit code follows)
//   page objects N title TITLE         the page was read; N objects will be created
//   note TEXT                          something of the page passed over, and why
//   host-window HWND active HWND       the host window, shown, and the thread's active window
//   #N created {CLSID} HR              CoCreateInstance(CLSCTX_INPROC_SERVER, IID_IOleObject)
//   #N misc-status DECIMAL HR          IOleObject::GetMiscStatus(DVASPECT_CONTENT)
//   #N set-client-site HR              before loading when the misc status has SETCLIENTSITEFIRST
//   #N set-site HR                     IObjectWithSite::SetSite, with the client site
//   #N get-moniker WHICH HR            the object asked its site for a moniker
//   #N bag-read NAME VT HR             the object read a parameter (VT: requested VARTYPE, decimal)
//   #N load-bag HR | init-new HR | no-persistence
//   #N bag-released COUNT              references left on the property bag after loading
//   #N host-state enabled 0|1 iconic 0|1   the host window after loading
//   window minimised|restored|disabled|enabled   the host window changed state
//   #N set-extent CX CY HR             HIMETRIC, when the page gives width or height
//   #N do-verb VERB HR                 the activation verb, then each --then-verb
//   #N get-window HR                   IOleInPlaceObject::GetWindow after activation
//   #N control-window HWND parent HWND class NAME style 0xSTYLE
//   #N draw HR                         first IViewObject::Draw of a windowless object
//   #N site-qi INTERFACE yes|no        the object asked its site for an interface
//   #N can-windowless-activate HR, on-in-place-activate-ex FLAGS, can-in-place-activate,
//      on-in-place-activate, on-ui-activate, get-window-context, show-object,
//      on-show-window 0|1, on-ui-deactivate 0|1, on-in-place-deactivate,
//      on-in-place-deactivate-ex 0|1, on-pos-rect-change, request-ui-activate,
//      set-focus 0|1, on-focus 0|1, show-property-frame, save-object,
//      deactivate-and-undo                        calls the object made on its site
//   #N ambient DISPID run|design|absent|not-found|not-a-get   ambient property reads
//   frame set-active-object object|none, frame status-text TEXT   calls on the frame
//   close-requested                    the user closed the window
//   #N close HR                        IOleObject::Close(OLECLOSE_NOSAVE)
//   #N clear-client-site HR            SetClientSite(nullptr)
//   #N clear-site HR                   IObjectWithSite::SetSite(nullptr)
//   #N released COUNT                  the object's count after the host's last Release
//   #N site-released COUNT             the site's count after the host's last Release
//   frame-released COUNT
//   closed                             the host window is destroyed
//   exit CODE
#include <ole2.h>
#include <shellapi.h>
#include <shlwapi.h>
#include <windows.h>

#include <memory>
#include <string>
#include <vector>

#include "embedded_object.h"
#include "host_log.h"
#include "host_options.h"
#include "host_window.h"
#include "html_page.h"
#include "in_place_frame.h"
#include "page_file.h"

namespace orvex::page_host {

namespace {

constexpr int kMargin = 16;
constexpr int kLabelHeight = 20;
constexpr int kDefaultWidth = 300;  // an object's size when the page gives none
constexpr int kDefaultHeight = 150;
constexpr int kMaxClientExtent = 2000;

// Calls OleUninitialize when it goes, if OleInitialize succeeded.
class OleScope {
 public:
  OleScope() : result_(::OleInitialize(nullptr)) {}
  ~OleScope() {
    if (SUCCEEDED(result_)) ::OleUninitialize();
  }
  OleScope(const OleScope&) = delete;
  OleScope& operator=(const OleScope&) = delete;
  HRESULT Result() const { return result_; }

 private:
  HRESULT result_;
};

// Tells the user: standard error when there is one, a message box when the
// run is interactive (no log, no timed close), and the log.
void Report(const HostOptions& options, HostLog& log, const std::wstring& text) {
  log.Line("error " + Utf8(text));
  HANDLE error = ::GetStdHandle(STD_ERROR_HANDLE);
  if (error != nullptr && error != INVALID_HANDLE_VALUE) {
    const std::string line = "OrvexPageHost: " + Utf8(text) + "\n";
    DWORD written = 0;
    ::WriteFile(error, line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
  }
  if (options.logPath.empty() && !options.closeAfter) {
    ::MessageBoxW(nullptr, text.c_str(), L"Orvex page host", MB_OK | MB_ICONERROR);
  }
}

std::vector<std::wstring> Arguments() {
  std::vector<std::wstring> arguments;
  int count = 0;
  wchar_t** list = ::CommandLineToArgvW(::GetCommandLineW(), &count);
  if (list == nullptr) return arguments;
  for (int i = 1; i < count; ++i) arguments.emplace_back(list[i]);
  ::LocalFree(list);
  return arguments;
}

std::wstring FileName(const std::wstring& path) {
  const std::size_t slash = path.find_last_of(L"\\/");
  return slash == std::wstring::npos ? path : path.substr(slash + 1);
}

// The page file's own URL, "file:///C:/..." as a browser reports it; the
// path itself when it has none.
std::wstring FileUrl(const std::wstring& path) {
  wchar_t full[MAX_PATH];
  const DWORD length = ::GetFullPathNameW(path.c_str(), MAX_PATH, full, nullptr);
  if (length == 0 || length >= MAX_PATH) return path;
  wchar_t url[3 * MAX_PATH + 16];
  DWORD size = sizeof(url) / sizeof(url[0]);
  if (FAILED(::UrlCreateFromPathW(full, url, &size, 0))) return path;
  return url;
}

// Places the objects one below the other, each with its label above it.
std::vector<RECT> LayOut(const HtmlPage& page, SIZE& clientSize) {
  std::vector<RECT> places;
  int top = kMargin;
  int widest = 0;
  for (const PageObject& object : page.objects) {
    const int width = object.width > 0 ? object.width : kDefaultWidth;
    const int height = object.height > 0 ? object.height : kDefaultHeight;
    top += kLabelHeight;
    places.push_back(RECT{kMargin, top, kMargin + width, top + height});
    top += height + kMargin;
    if (width > widest) widest = width;
  }
  clientSize.cx = widest + 2 * kMargin < 480 ? 480 : widest + 2 * kMargin;
  clientSize.cy = top < 240 ? 240 : top;
  if (clientSize.cx > kMaxClientExtent) clientSize.cx = kMaxClientExtent;
  if (clientSize.cy > kMaxClientExtent) clientSize.cy = kMaxClientExtent;
  return places;
}

// Dispatches the thread's messages until the window is closed, WM_QUIT comes,
// or the time (when given) is up. Keystrokes go to the active object first.
void PumpMessages(const HostOptions& options, HostWindow& window, InPlaceFrame& frame) {
  const ULONGLONG deadline = ::GetTickCount64() + options.closeAfterMs;
  while (!window.CloseRequested()) {
    MSG message;
    while (::PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
      if (message.message == WM_QUIT) return;
      IOleInPlaceActiveObject* active = frame.ActiveObject();
      if (active != nullptr && message.message >= WM_KEYFIRST && message.message <= WM_KEYLAST &&
          active->TranslateAccelerator(&message) == S_OK) {
        continue;
      }
      ::TranslateMessage(&message);
      ::DispatchMessageW(&message);
      if (window.CloseRequested()) return;
    }
    DWORD wait = INFINITE;
    if (options.closeAfter) {
      const ULONGLONG now = ::GetTickCount64();
      if (now >= deadline) return;
      wait = static_cast<DWORD>(deadline - now);
    }
    ::MsgWaitForMultipleObjectsEx(0, nullptr, wait, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
  }
}

// Handles the messages already queued (the window's first paint and activation).
void PumpPending() {
  MSG message;
  for (int i = 0; i < 100 && ::PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE); ++i) {
    if (message.message == WM_QUIT) {
      ::PostQuitMessage(static_cast<int>(message.wParam));
      return;
    }
    ::TranslateMessage(&message);
    ::DispatchMessageW(&message);
  }
}

int Run(HINSTANCE instance) {
  HostOptions options;
  HostLog log;
  std::wstring error;
  if (!ParseHostOptions(Arguments(), options, error)) {
    Report(options, log, error + L"\n\n" + UsageText());
    return kExitUsage;
  }
  if (options.help) {
    Report(options, log, UsageText());
    return kExitOk;
  }
  if (!options.logPath.empty() && !log.Open(options.logPath)) {
    const std::wstring message = L"cannot open the log " + options.logPath;
    options.logPath.clear();  // interactive from here: the user hears of it
    Report(options, log, message);
    return kExitUsage;
  }
  log.Line("start " + Utf8(options.page));
  if (options.site.pageUrl.empty()) options.site.pageUrl = FileUrl(options.page);
  log.Line("page-url " + Utf8(options.site.pageUrl));

  auto finish = [&log](int code) {
    log.Line("exit " + std::to_string(code));
    return code;
  };

  std::wstring text;
  HtmlPage page;
  if (!ReadPageFile(options.page, text, error) || !ParseHtmlPage(text, page, error)) {
    Report(options, log, options.page + L": " + error);
    return finish(kExitPageUnreadable);
  }
  text.clear();
  const std::wstring title = page.title.empty() ? FileName(options.page) : page.title;
  log.Line("page objects " + std::to_string(page.objects.size()) + " title " + Utf8(title));
  for (const std::wstring& note : page.notes) log.Line("note " + Utf8(note));

  OleScope ole;
  if (FAILED(ole.Result())) {
    Report(options, log, L"OleInitialize failed");
    return finish(kExitHostFailed);
  }

  SIZE clientSize = {};
  const std::vector<RECT> places = LayOut(page, clientSize);
  HostWindow window;
  if (!window.Create(instance, title, clientSize)) {
    Report(options, log, L"cannot create the host window");
    return finish(kExitHostFailed);
  }
  std::vector<HostWindow::Place> labels;
  for (std::size_t i = 0; i < page.objects.size(); ++i) {
    const PageObject& object = page.objects[i];
    labels.push_back(
        {places[i], (object.id.empty() ? L"object " + std::to_wstring(i + 1) : object.id) + L"  " + object.classId});
  }
  window.SetPlaces(std::move(labels));
  window.SetCloseHook([&log] { log.Line("close-requested"); });
  window.SetStateHook([&log](const char* state) { log.Line(std::string("window ") + state); });

  // Shown and active before anything is loaded: an object's first
  // installation acts on the thread's active window while it loads.
  const bool active = window.ShowAndActivate();
  PumpPending();
  log.Line("host-window " + HexHandle(window.Handle()) + " active " + HexHandle(::GetActiveWindow()));
  if (!active) log.Line("note the host window did not become the active window");

  ComPtr<InPlaceFrame> frame;
  frame.Attach(InPlaceFrame::Create(window.Handle(), log));
  if (!frame) {
    Report(options, log, L"out of memory");
    return finish(kExitHostFailed);
  }

  std::vector<std::unique_ptr<EmbeddedObject>> objects;
  window.SetPaintHook([&objects](HDC dc) {
    for (const auto& object : objects) object->DrawWindowless(dc);
  });

  int code = kExitOk;
  auto note = [&code](int step) {
    if (code == kExitOk) code = step;  // the first failure names the run
    return step == kExitOk;
  };
  for (std::size_t i = 0; i < page.objects.size() && !window.CloseRequested(); ++i) {
    objects.push_back(std::make_unique<EmbeddedObject>(i + 1, page.objects[i], places[i], log));
    EmbeddedObject& object = *objects.back();
    if (!note(object.Create(options.site, window.Handle(), frame.get()))) continue;
    if (!note(object.Load())) continue;
    if (!note(object.Activate(options.verb))) continue;
    object.LogWindow();
    for (const long verb : options.thenVerbs) object.DoVerb(verb);
  }

  if (!window.CloseRequested()) PumpMessages(options, window, *frame.get());

  // Close every object before any is released: a UI-active object gives up
  // the frame's active-object slot while it closes.
  for (auto& object : objects) object->Close();
  frame->ClearActiveObject();
  for (auto& object : objects) object->Release();
  objects.clear();
  window.SetPaintHook(nullptr);
  log.Line("frame-released " + std::to_string(frame.Reset()));
  window.Destroy();
  log.Line("closed");
  return finish(code);
}

}  // namespace

}  // namespace orvex::page_host

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) { return orvex::page_host::Run(instance); }
