// The modules the installer needs only once its job works: WinINet, WinTrust,
// Crypt32 and ComCtl32. The program does not import them; each function
// below is found in its module on its first call, and the module loaded then,
// on the job thread. So the installer acknowledges the control ("sync_")
// without first waiting for these modules to load.
//
// Functions the platform's headers declare as imported are called through a
// pointer of the import's name: it is defined here and starts at a function
// that finds the real one, puts it in the pointer and calls it. Functions
// declared plainly are defined here as forwarders of the same name.
#include <windows.h>
#include <commctrl.h>
#include <softpub.h>
#include <wincrypt.h>
#include <wininet.h>
#include <wintrust.h>

namespace {

// A system module that cannot be loaded, or lacks a function, is a broken
// installation of the system: the program ends as if its imports had failed.
constexpr DWORD kModuleMissing = 0xC0000135;  // STATUS_DLL_NOT_FOUND

FARPROC Resolve(const char* module, const char* name) {
  HMODULE handle = ::GetModuleHandleA(module);
  if (handle == nullptr) handle = ::LoadLibraryA(module);
  FARPROC function = handle != nullptr ? ::GetProcAddress(handle, name) : nullptr;
  if (function == nullptr) ::RaiseException(kModuleMissing, EXCEPTION_NONCONTINUABLE, 0, nullptr);
  return function;
}

template <typename Function>
Function ResolveAs(const char* module, const char* name) {
  return reinterpret_cast<Function>(reinterpret_cast<void*>(Resolve(module, name)));
}

}  // namespace

#if defined(_WIN64)
#define ORVEX_IMPORT_POINTER_NAME(name, bytes) "__imp_" #name
#else
#define ORVEX_IMPORT_POINTER_NAME(name, bytes) "__imp__" #name "@" #bytes
#endif

// A function declared as imported: its import pointer, first aimed at a
// function that resolves it. bytes: the size of its arguments on x86.
#define ORVEX_LATE_IMPORTED(module, ret, name, bytes, params, args)                                       \
  extern "C" ret WINAPI OrvexFirstCall_##name params;                                                     \
  extern "C" {                                                                                            \
  void* orvexImport_##name asm(ORVEX_IMPORT_POINTER_NAME(name, bytes)) =                                  \
      reinterpret_cast<void*>(&OrvexFirstCall_##name);                                                    \
  }                                                                                                       \
  extern "C" ret WINAPI OrvexFirstCall_##name params {                                                    \
    using Function = ret(WINAPI*) params;                                                                 \
    const Function real = ResolveAs<Function>(module, #name);                                             \
    ::InterlockedExchangePointer(&orvexImport_##name, reinterpret_cast<void*>(real));                     \
    return real args;                                                                                     \
  }

// A function declared plainly: a forwarder of its own name.
#define ORVEX_LATE_PLAIN(module, ret, name, params, args)                                                 \
  extern "C" ret WINAPI name params {                                                                     \
    using Function = ret(WINAPI*) params;                                                                 \
    static void* resolved = nullptr;                                                                      \
    void* function = ::InterlockedCompareExchangePointer(&resolved, nullptr, nullptr);                    \
    if (function == nullptr) {                                                                            \
      function = reinterpret_cast<void*>(ResolveAs<Function>(module, #name));                             \
      ::InterlockedExchangePointer(&resolved, function);                                                  \
    }                                                                                                     \
    return reinterpret_cast<Function>(function) args;                                                     \
  }

ORVEX_LATE_IMPORTED("wininet.dll", HINTERNET, InternetOpenA, 20,
                    (LPCSTR agent, DWORD access, LPCSTR proxy, LPCSTR bypass, DWORD flags),
                    (agent, access, proxy, bypass, flags))
ORVEX_LATE_IMPORTED("wininet.dll", HINTERNET, InternetConnectA, 32,
                    (HINTERNET internet, LPCSTR server, INTERNET_PORT port, LPCSTR user, LPCSTR password,
                     DWORD service, DWORD flags, DWORD_PTR context),
                    (internet, server, port, user, password, service, flags, context))
ORVEX_LATE_IMPORTED("wininet.dll", HINTERNET, HttpOpenRequestA, 32,
                    (HINTERNET connection, LPCSTR verb, LPCSTR object, LPCSTR version, LPCSTR referrer,
                     LPCSTR* acceptTypes, DWORD flags, DWORD_PTR context),
                    (connection, verb, object, version, referrer, acceptTypes, flags, context))
ORVEX_LATE_IMPORTED("wininet.dll", BOOL, HttpSendRequestA, 20,
                    (HINTERNET request, LPCSTR headers, DWORD headersLength, LPVOID optional, DWORD optionalLength),
                    (request, headers, headersLength, optional, optionalLength))
ORVEX_LATE_IMPORTED("wininet.dll", BOOL, HttpQueryInfoA, 20,
                    (HINTERNET request, DWORD level, LPVOID buffer, LPDWORD length, LPDWORD index),
                    (request, level, buffer, length, index))
ORVEX_LATE_IMPORTED("wininet.dll", BOOL, InternetReadFile, 16,
                    (HINTERNET file, LPVOID buffer, DWORD toRead, LPDWORD read), (file, buffer, toRead, read))
ORVEX_LATE_IMPORTED("wininet.dll", BOOL, InternetCloseHandle, 4, (HINTERNET handle), (handle))
ORVEX_LATE_IMPORTED("wininet.dll", BOOL, InternetCrackUrlA, 16,
                    (LPCSTR url, DWORD length, DWORD flags, LPURL_COMPONENTSA parts), (url, length, flags, parts))
ORVEX_LATE_IMPORTED("wininet.dll", DWORD, InternetErrorDlg, 20,
                    (HWND window, HINTERNET request, DWORD error, DWORD flags, LPVOID* data),
                    (window, request, error, flags, data))
ORVEX_LATE_IMPORTED("wininet.dll", BOOL, InternetGetLastResponseInfoA, 12,
                    (LPDWORD error, LPSTR buffer, LPDWORD length), (error, buffer, length))
ORVEX_LATE_IMPORTED("wininet.dll", BOOL, InternetSetOptionA, 16,
                    (HINTERNET internet, DWORD option, LPVOID buffer, DWORD length), (internet, option, buffer, length))
ORVEX_LATE_IMPORTED("wininet.dll", INTERNET_STATUS_CALLBACK, InternetSetStatusCallback, 8,
                    (HINTERNET internet, INTERNET_STATUS_CALLBACK callback), (internet, callback))
ORVEX_LATE_IMPORTED("crypt32.dll", DWORD, CertGetNameStringW, 24,
                    (PCCERT_CONTEXT certificate, DWORD type, DWORD flags, void* typeParameter, LPWSTR name,
                     DWORD nameSize),
                    (certificate, type, flags, typeParameter, name, nameSize))
ORVEX_LATE_IMPORTED("comctl32.dll", BOOL, InitCommonControlsEx, 4, (const INITCOMMONCONTROLSEX* controls),
                    (controls))

ORVEX_LATE_PLAIN("wintrust.dll", LONG, WinVerifyTrust, (HWND hwnd, GUID* pgActionID, LPVOID pWVTData),
                 (hwnd, pgActionID, pWVTData))
ORVEX_LATE_PLAIN("wintrust.dll", CRYPT_PROVIDER_DATA*, WTHelperProvDataFromStateData, (HANDLE hStateData),
                 (hStateData))
ORVEX_LATE_PLAIN("wintrust.dll", CRYPT_PROVIDER_SGNR*, WTHelperGetProvSignerFromChain,
                 (CRYPT_PROVIDER_DATA * pProvData, DWORD idxSigner, WINBOOL fCounterSigner, DWORD idxCounterSigner),
                 (pProvData, idxSigner, fCounterSigner, idxCounterSigner))
