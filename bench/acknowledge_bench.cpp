// Time to acknowledge: the product is installed and its check is due, so
// put_Info starts the real installer and returns once the installer has set
// "sync_". The information server offers the installed version, so the
// installer then finds the product up to date, records the next check and
// ends on its own; the benchmark waits for that outside the timed part.
// Measured against starting the idle program from the same Windows folder,
// with the same creation flags, until it has set an event (and until it
// ended); and the same for its twin that imports the installer's system
// modules. Each round takes the three in a rotating order; one warm-up round
// is not reported.
// Output: "ack installer <round> <ns>", "ack idle <round> <ns to event> <ns to
// end>" and "ack idle_imports <round> <ns to event> <ns to end>".
#include <windows.h>
#include <oleauto.h>

#include <string>

#include "bench_clock.h"
#include "bench_runs.h"
#include "bench_setup.h"
#include "object_names.h"

namespace orvex::bench {

namespace {

constexpr DWORD kRoadTimeoutMs = 60000;

// One acknowledged check; its time, or -1 after an "error" line.
long long MeasureInstaller(IOrvexInstallerCtl* control, BSTR info, const std::string& product) {
  DeleteNextUpdateTime(product);
  // "installing_" opened before the check, to see the installer let go.
  HANDLE installing = ::CreateEventA(nullptr, TRUE, FALSE, (kInstallingPrefix + product).c_str());
  if (installing == nullptr) {
    Report("error cannot open the installing_ event");
    return -1;
  }
  Stopwatch clock;
  const HRESULT result = control->put_Info(info);
  const long long elapsed = clock.ElapsedNs();

  HANDLE installer = OpenChildProcess("OrvexInstaller.exe", SYNCHRONIZE);
  const bool released = WaitForRendezvousEnd(installing, product, kRoadTimeoutMs);
  if (installer != nullptr) {
    ::WaitForSingleObject(installer, kRoadTimeoutMs);
    ::CloseHandle(installer);
  }
  ::CloseHandle(installing);
  ULONGLONG next = 0;
  if (FAILED(result) || !released || !ReadNextUpdateTime(product, next)) {
    Report("error the installer did not run to its end on the up-to-date product "
           "(put_Info 0x%08lX, released %d)",
           static_cast<unsigned long>(result), released ? 1 : 0);
    return -1;
  }
  return elapsed;
}

// One start of the idle program: times to its event and to its end, or false
// after an "error" line.
bool MeasureIdle(const std::string& program, int round, long long& toEvent, long long& toEnd) {
  const std::string eventName = "orvex_bench_idle_" + std::to_string(::GetCurrentProcessId()) + "_" +
                                std::to_string(round);
  HANDLE event = ::CreateEventA(nullptr, TRUE, FALSE, eventName.c_str());
  if (event == nullptr) {
    Report("error cannot make the idle program's event");
    return false;
  }
  HANDLE process = nullptr;
  Stopwatch clock;
  if (!StartProgram("\"" + program + "\" signal " + eventName, process)) {
    ::CloseHandle(event);
    Report("error cannot start %s", program.c_str());
    return false;
  }
  const HANDLE handles[] = {event, process};
  const DWORD woke = ::WaitForMultipleObjects(2, handles, FALSE, kRoadTimeoutMs);
  toEvent = clock.ElapsedNs();
  const DWORD ended = ::WaitForSingleObject(process, kRoadTimeoutMs);
  toEnd = clock.ElapsedNs();
  const bool signalled = ::WaitForSingleObject(event, 0) == WAIT_OBJECT_0;
  ::CloseHandle(process);
  ::CloseHandle(event);
  if (woke != WAIT_OBJECT_0 && !signalled) {
    Report("error the idle program ended without setting its event");
    return false;
  }
  if (ended != WAIT_OBJECT_0) {
    Report("error the idle program did not end");
    return false;
  }
  return true;
}

}  // namespace

int RunAcknowledgeBench(IOrvexInstallerCtl* control, const std::string& product, int rounds) {
  ForgetProduct(product);
  if (!SetInstalledVersion(product, PackedVersion::Make(1, 0, 0, 1))) {
    Report("error cannot write the product's Version");
    return 1;
  }
  const std::wstring wideProduct(product.begin(), product.end());
  BSTR info = ::SysAllocString(wideProduct.c_str());
  const std::string idlePrograms[] = {WindowsFolder() + "\\idle_program.exe",
                                      WindowsFolder() + "\\idle_program_imports.exe"};
  const char* const idleNames[] = {"idle", "idle_imports"};
  bool ok = true;
  for (int round = -1; round < rounds && ok; ++round) {
    long long installer = 0;
    long long toEvent[2] = {};
    long long toEnd[2] = {};
    for (int turn = 0; turn < 3 && ok; ++turn) {
      const int which = (turn + round + 3) % 3;
      if (which == 0) {
        installer = MeasureInstaller(control, info, product);
        ok = installer >= 0;
      } else {
        ok = MeasureIdle(idlePrograms[which - 1], round, toEvent[which - 1], toEnd[which - 1]);
      }
    }
    if (ok && round >= 0) {
      Report("ack installer %d %lld", round, installer);
      for (int i = 0; i < 2; ++i) Report("ack %s %d %lld %lld", idleNames[i], round, toEvent[i], toEnd[i]);
    }
  }
  ::SysFreeString(info);
  ForgetProduct(product);
  return ok ? 0 : 1;
}

}  // namespace orvex::bench
