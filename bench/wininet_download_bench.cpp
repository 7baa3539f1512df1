// The package read with WinINet alone: a synchronous session, one URL
// request, reads of the installer's chunk size written to a file in the temp
// folder, no dialog and no pumping waits. Against the installer's download it
// shows how much of the time the platform's transfer takes.
// Output: "wininet <ns> <bytes>".
#include <windows.h>
#include <wininet.h>

#include "bench_clock.h"
#include "bench_runs.h"
#include "bench_setup.h"

namespace orvex::bench {

namespace {

constexpr DWORD kChunkSize = 5000;  // the installer's read size
constexpr DWORD kRequestFlags = INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE;

// Closes an internet handle when it goes.
class InternetHandle {
 public:
  explicit InternetHandle(HINTERNET handle) : handle_(handle) {}
  ~InternetHandle() {
    if (handle_ != nullptr) ::InternetCloseHandle(handle_);
  }
  InternetHandle(const InternetHandle&) = delete;
  InternetHandle& operator=(const InternetHandle&) = delete;
  HINTERNET Get() const { return handle_; }

 private:
  HINTERNET handle_;
};

}  // namespace

int RunWinInetDownloadBench(const std::string& url, DWORD packageSize) {
  char temp[MAX_PATH] = "";
  const DWORD tempLength = ::GetTempPathA(MAX_PATH, temp);
  if (tempLength == 0 || tempLength >= MAX_PATH) {
    Report("error no temp folder");
    return 1;
  }
  const std::string path = std::string(temp) + "orvex_bench_wininet.bin";
  char buffer[kChunkSize];
  unsigned long long total = 0;

  Stopwatch clock;
  {
    InternetHandle internet(::InternetOpenA("OrvexBench", INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0));
    InternetHandle request(internet.Get() != nullptr ? ::InternetOpenUrlA(internet.Get(), url.c_str(), "Accept: */*",
                                                                          static_cast<DWORD>(-1), kRequestFlags, 0)
                                                     : nullptr);
    HANDLE file = ::CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (request.Get() == nullptr || file == INVALID_HANDLE_VALUE) {
      if (file != INVALID_HANDLE_VALUE) ::CloseHandle(file);
      Report("error cannot request %s (error %lu)", url.c_str(), static_cast<unsigned long>(::GetLastError()));
      return 1;
    }
    DWORD read = 0;
    while (::InternetReadFile(request.Get(), buffer, kChunkSize, &read) && read != 0) {
      DWORD written = 0;
      if (!::WriteFile(file, buffer, read, &written, nullptr) || written != read) break;
      total += read;
    }
    ::CloseHandle(file);
  }
  const long long elapsed = clock.ElapsedNs();
  ::DeleteFileA(path.c_str());
  if (total != packageSize) {
    Report("error WinINet read %llu of %lu bytes", total, static_cast<unsigned long>(packageSize));
    return 1;
  }
  Report("wininet %lld %llu", elapsed, total);
  return 0;
}

}  // namespace orvex::bench
