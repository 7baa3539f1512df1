#include "transfer.h"

#include <cstring>

#include "connection_scheme.h"
#include "installer_run.h"
#include "internet_status.h"
#include "pumping_wait.h"
#include "stall_limit.h"

namespace orvex {

namespace {

constexpr char kUserAgent[] = "OrvexInstaller";
constexpr DWORD kRequestFlags = INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE | INTERNET_FLAG_HYPERLINK;
constexpr char kRequestHeaders[] = "Accept: */*";
constexpr DWORD kErrorDialogFlags = FLAGS_ERROR_UI_FILTER_FOR_ERRORS | FLAGS_ERROR_UI_FLAGS_CHANGE_OPTIONS |
                                    FLAGS_ERROR_UI_FLAGS_GENERATE_DATA;
// WinINet's own time-outs, set on every handle of the transfer: no phase of a
// request (connecting, sending, each receive) waits longer than the stall limit.
constexpr DWORD kTimeoutOptions[] = {INTERNET_OPTION_CONNECT_TIMEOUT, INTERNET_OPTION_SEND_TIMEOUT,
                                     INTERNET_OPTION_RECEIVE_TIMEOUT, INTERNET_OPTION_DATA_SEND_TIMEOUT,
                                     INTERNET_OPTION_DATA_RECEIVE_TIMEOUT};
constexpr std::size_t kHostSize = INTERNET_MAX_HOST_NAME_LENGTH + 1;
constexpr std::size_t kPathSize = INTERNET_MAX_URL_LENGTH + 1;

static_assert(kRequestFlags == 0x84000400, "request flags");
static_assert(kErrorDialogFlags == 7, "error dialog flags");

// The notifications after connecting and after closing normally come at once;
// these waits, pumping, end on the stop signal or after the stall limit.
void WaitForHandleEvent(InstallerRun& run, HANDLE event) {
  const HANDLE handles[] = {event, run.stopEvent};
  PumpingWait(handles, 2, StallLimitMs());
}

// WinINet's time-outs of the handle; one the handle refuses stays as it
// inherited it. They are a little longer than the stall limit: the job's own
// completion wait gives the phase up first, as a time-out, and WinINet's end
// what its threads still wait for.
void SetTimeouts(HINTERNET handle) {
  DWORD limit = StallLimitMs() + StallLimitMs() / 4;
  for (const DWORD option : kTimeoutOptions) ::InternetSetOptionA(handle, option, &limit, sizeof(limit));
}

// Copies length bytes of a cracked URL part into a buffer of its own.
bool CopyPart(const char* part, DWORD length, char* out, std::size_t outSize) {
  if (part == nullptr || length >= outSize) return false;
  std::memcpy(out, part, length);
  out[length] = '\0';
  return true;
}

// On an open internet handle: split the URL, connect, open and send the
// request, check its status, let the phase read, and close again.
void Request(InstallerRun& run, HINTERNET internet, const char* url, TransferReading reading) {
  URL_COMPONENTSA parts = {};
  parts.dwStructSize = sizeof(parts);
  parts.dwSchemeLength = 1;
  parts.dwHostNameLength = 1;
  parts.dwUserNameLength = 1;
  parts.dwPasswordLength = 1;
  parts.dwUrlPathLength = 1;
  parts.dwExtraInfoLength = 1;
  char host[kHostSize];
  char path[kPathSize];
  ConnectionScheme scheme;
  // A URL without a host names no server: give up the phase.
  if (!::InternetCrackUrlA(url, 0, 0, &parts) || !ChooseConnectionScheme(parts, scheme) ||
      parts.dwHostNameLength == 0 ||
      !CopyPart(parts.lpszHostName, parts.dwHostNameLength, host, sizeof(host)) ||
      !CopyPart(parts.lpszUrlPath != nullptr ? parts.lpszUrlPath : "", parts.dwUrlPathLength, path, sizeof(path))) {
    return;
  }

  HINTERNET connection = ::InternetConnectA(internet, host, scheme.port, nullptr, nullptr, INTERNET_SERVICE_HTTP,
                                            0, reinterpret_cast<DWORD_PTR>(&run));
  const DWORD connectError = connection == nullptr ? ::GetLastError() : ERROR_SUCCESS;
  if (connection != nullptr || connectError == ERROR_IO_PENDING) WaitForHandleEvent(run, run.handleCreatedEvent);
  if (connection == nullptr) {
    ::SetLastError(connectError);
    connection = reinterpret_cast<HINTERNET>(CompletionOfFailedCall(run));
  }
  if (connection == nullptr) return;
  SetTimeouts(connection);

  HINTERNET request = ::HttpOpenRequestA(connection, "GET", path, nullptr, nullptr, nullptr,
                                         kRequestFlags | scheme.requestFlags, reinterpret_cast<DWORD_PTR>(&run));
  if (request == nullptr) request = reinterpret_cast<HINTERNET>(CompletionOfFailedCall(run));
  if (request != nullptr) SetTimeouts(request);

  bool sent = request != nullptr;
  while (sent) {
    if (!::HttpSendRequestA(request, kRequestHeaders, static_cast<DWORD>(-1), nullptr, 0) &&
        CompletionOfFailedCall(run) == 0) {
      sent = false;
      break;
    }
    // Lets WinINet ask for proxy or server credentials and repeat the request.
    if (::InternetErrorDlg(::GetActiveWindow(), request, ERROR_SUCCESS, kErrorDialogFlags, nullptr) !=
        ERROR_INTERNET_FORCE_RETRY) {
      break;
    }
  }

  if (sent) {
    char status[4] = "";
    DWORD length = sizeof(status);
    // A status that cannot be read is not "200".
    if (::HttpQueryInfoA(request, HTTP_QUERY_STATUS_CODE, status, &length, nullptr) &&
        std::strcmp(status, "200") == 0) {
      reading(run, request);
    }
  }

  if (request != nullptr) ::InternetCloseHandle(request);
  ::InternetCloseHandle(connection);
  // A stalled operation is not aborted by the close: WinINet holds the closing
  // back until its own time-out ends what its thread waits for. The phase does
  // not wait for that; the run does, before it is deleted.
  if (!run.stalled) WaitForHandleEvent(run, run.handleClosingEvent);
}

}  // namespace

DWORD_PTR CompletionOfFailedCall(InstallerRun& run) {
  const DWORD error = ::GetLastError();
  if (error != ERROR_IO_PENDING) {
    run.asyncError = error;
    return 0;
  }
  return WaitForCompletion(run);
}

void RunTransfer(InstallerRun& run, const char* url, TransferReading reading) {
  // After Cancel, no phase opens anything.
  if (::WaitForSingleObject(run.stopEvent, 0) == WAIT_OBJECT_0) return;
  HINTERNET internet = ::InternetOpenA(kUserAgent, INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, INTERNET_FLAG_ASYNC);
  if (internet == nullptr) return;
  SetTimeouts(internet);
  ::InternetSetStatusCallback(internet, InternetStatusCallback);
  Request(run, internet, url, reading);
  ::InternetCloseHandle(internet);
}

}  // namespace orvex
