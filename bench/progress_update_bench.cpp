// The progress dialog's update per package chunk, in the installer's own
// dialog: SetProgress as the download calls it (5000 more bytes each time, of
// a 64 MiB package), against each of the calls it makes on its own on the
// same live dialog:
//   set_progress  ProgressWindow::SetProgress (one message dispatched; the
//                 count shown only when the pace allows, so mostly held)
//   set_progress_shown  SetProgress, then SettleProgress: the count always
//                 shown (position and progress text), as on the chunks whose
//                 count the pace lets through
//   pump          one PeekMessageA/DispatchMessageA turn
//   set_range     PBM_SETRANGE32 to the package size
//   set_position  PBM_SETPOS to the next position
//   set_text      the progress text (203) set to the next text
// The variants take turns in a rotating order; each call is timed alone.
// Output: "progress <variant> <round> <median ns>" per variant and round.
#include <windows.h>
#include <commctrl.h>

#include <cstdio>
#include <cstring>

#include "installer_resources.h"
#include "installer_run.h"
#include "module_instance.h"
#include "progress_window.h"
#include "pumping_wait.h"
#include "turns.h"

namespace {

constexpr int kVariantCount = 6;
constexpr const char* kVariantNames[kVariantCount] = {"set_progress", "set_progress_shown", "pump",
                                                       "set_range",    "set_position",       "set_text"};
constexpr DWORD kChunk = 5000;
constexpr DWORD kPackageSize = 64u << 20;

struct Dialog {
  orvex::ProgressWindow* window;
  HWND bar;
  DWORD done;
};

void RunVariant(int variant, Dialog& d) {
  d.done = d.done >= kPackageSize - kChunk ? kChunk : d.done + kChunk;
  switch (variant) {
    case 0: d.window->SetProgress(d.done, kPackageSize); break;
    case 1:
      d.window->SetProgress(d.done, kPackageSize);
      d.window->SettleProgress();
      break;
    case 2: orvex::PumpOneMessage(); break;
    case 3: ::SendMessageA(d.bar, PBM_SETRANGE32, 0, static_cast<LPARAM>(kPackageSize)); break;
    case 4: ::SendMessageA(d.bar, PBM_SETPOS, d.done, 0); break;
    default: {
      char text[64];
      std::snprintf(text, sizeof(text), "%luK of %luK", static_cast<unsigned long>(d.done / 1024),
                    static_cast<unsigned long>(kPackageSize / 1024));
      ::SetDlgItemTextA(d.window->dialog, IDC_PROGRESS_TEXT, text);
      break;
    }
  }
}

int Usage() {
  std::fprintf(stderr, "usage: progress_update_bench ROUNDS CALLS\n");
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) return Usage();
  const int rounds = std::atoi(argv[1]);
  const int calls = std::atoi(argv[2]);
  if (rounds <= 0 || calls <= 0) return Usage();

  orvex::SetModuleInstance(::GetModuleHandleA(nullptr));
  orvex::RendezvousBlock block = {};
  std::strcpy(block.productName, "BenchProgress");
  orvex::InstallerRun run;
  run.block = &block;
  run.stopEvent = ::CreateEventA(nullptr, TRUE, FALSE, nullptr);
  int status = 0;
  {
    orvex::ProgressWindow window(&run);
    window.Show("Latest version of BenchProgress is being downloaded. Please wait...", "Benchmark");
    Dialog d{&window, ::GetDlgItem(window.dialog, IDC_PROGRESS_BAR), 0};
    if (!::IsWindow(window.dialog) || d.bar == nullptr) {
      std::printf("error the progress dialog was not created\n");
      status = 1;
    } else {
      for (int i = 0; i < 100; ++i) orvex::PumpOneMessage();  // first paint
      orvex::bench::MeasureInTurns(
          kVariantCount, 50, rounds, calls, [&d](int variant) { RunVariant(variant, d); },
          [](int variant, int round, long long ns) {
            std::printf("progress %s %d %lld\n", kVariantNames[variant], round, ns);
          });
    }
  }
  run.block = nullptr;  // not a mapped view
  return status;
}
