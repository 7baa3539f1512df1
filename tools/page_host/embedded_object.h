// One object of the page, from creation to release: the host's side of the
// OLE embedding sequence, each step logged.
#pragma once

#include <ocidl.h>
#include <ole2.h>
#include <windows.h>

#include <cstddef>

#include "client_site.h"
#include "com_ptr.h"
#include "host_log.h"
#include "html_page.h"
#include "in_place_frame.h"

namespace orvex::page_host {

class EmbeddedObject {
 public:
  // `number` names the object in the log (1-based); `position` is its place
  // in the host window's client area.
  EmbeddedObject(std::size_t number, const PageObject& page, const RECT& position, HostLog& log);
  ~EmbeddedObject();
  EmbeddedObject(const EmbeddedObject&) = delete;
  EmbeddedObject& operator=(const EmbeddedObject&) = delete;

  // Creates the object through the registry (in-process), asks for its
  // IOleObject and its misc status, and makes its site. kExitOk or kExitCreateFailed.
  int Create(const SiteOptions& options, HWND host, InPlaceFrame* frame);
  // Gives the client site (before or after loading, as the misc status asks)
  // and loads the object from the page's parameters, or InitNew when it has
  // no property-bag persistence. kExitOk or kExitLoadFailed.
  int Load();
  // The activation verb into the object's place. kExitOk or kExitActivateFailed.
  int Activate(long verb);
  // Any verb into the object's place; logged and returned.
  HRESULT DoVerb(long verb);
  // Logs what the object's IOleWindow::GetWindow gives: the control's window,
  // its parent, class and style.
  void LogWindow();
  // Draws a windowless, in-place active object into the host's paint.
  void DrawWindowless(HDC dc);
  // Close(OLECLOSE_NOSAVE) and SetClientSite(nullptr), when the object was created.
  void Close();
  // Releases the object and then the site, logging the counts left (0 when
  // nobody kept a reference).
  void Release();

 private:
  HRESULT GiveClientSite();

  std::size_t number_;
  const PageObject& page_;
  RECT position_;
  HostLog& log_;
  HWND host_ = nullptr;
  ComPtr<IOleObject> object_;
  ComPtr<ClientSite> site_;
  DWORD miscStatus_ = 0;
  bool siteGiven_ = false;
  bool objectSiteGiven_ = false;
  bool scriptSite_ = false;
  bool drawLogged_ = false;
  bool closed_ = false;
};

}  // namespace orvex::page_host
