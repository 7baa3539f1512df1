#!/usr/bin/env python3
"""Runs every benchmark on both architectures and prints one table.

For each architecture it builds a benchmark tree (build/bench-<arch>, see
bench_prefix.py), starts its Wine prefix with the real installer and the
information server in a private network namespace, and measures, each pair
side by side in the same rounds:

  not-due check   put_Info through the dual interface on an installed product
                  whose next check lies ahead, against the registry reads that
                  check makes, made directly; and each part of the check alone
  acknowledge     put_Info on a due check of an up-to-date product, which
                  starts the installer and returns on its "sync_", against
                  starting a do-nothing GUI program until it has run
  progress        the progress dialog's update per chunk, call by call
  memory          the installer's peak working set during a 64 MiB first
                  installation against the do-nothing program's
  throughput      that download against WinINet alone on the same server,
                  making the same 5000-byte reads and writing them to a file
                  (and curl, natively, as context)
  image sizes     the deliverables as shipped (stripped) and as linked, with
                  their debug information

Ratios are taken within each round and reported as their median with the
lowest and highest. Timings are reported, never asserted.

usage: python3 bench/run_all.py [--arch x64|x86 ...] [--tree-root DIR] [--no-build]
                                [--quick] [--only download] [--results FILE]
--only download measures the progress update, the download and the image sizes alone.
--results writes the tables with the machine they ran on (bench/RESULTS.md).
"""
import argparse
import datetime
import os
import platform
import subprocess
import sys

sys.dont_write_bytecode = True  # no cache folders in the source tree

from bench_prefix import DELIVERABLES, TOP, BenchPrefix, BenchTree, record_for
from download_throughput import measure_download
from summary import BenchError, by_round, markdown_table, median_of, number, pair_from, parse_lines, verdict

NS_PER_US = 1e3
NS_PER_MS = 1e6
NOT_DUE_PARTS = (("install_check", "the check without COM (InstallCheck on the ANSI text)"),
                 ("rendezvous_probe", "the look for a running rendezvous (\"info_\" opened, not found)"),
                 ("check_registry", "the two keys opened with create semantics, values read"),
                 ("check_other_calls", "system time, Shift key, lowercase name"),
                 ("check_calls", "these platform calls in the check's order, without its logic"),
                 ("direct_reads", "the two keys opened, values read (baseline)"),
                 ("rendezvous_objects", "not made when not due: \"info_\" mapping and view, both events"))
TARGETS = {"notdue": 1.5, "ack": 1.2, "download": 0.7}  # download: at least


class Rounds:
    def __init__(self, quick):
        self.not_due = (3, 50) if quick else (15, 200)  # rounds, calls per round and variant
        self.ack = 3 if quick else 21
        self.progress = (3, 300) if quick else (9, 2000)  # rounds, calls per round and variant
        self.download = 1 if quick else 5


class ArchResults:
    """Everything measured on one architecture."""

    def __init__(self, arch):
        self.arch = arch
        self.not_due_rows = []
        self.ack_rows = []
        self.progress_rows = []
        self.download = None
        self.images = {}

    def not_due(self):
        return pair_from(self.not_due_rows, "put_info", "direct_reads", transform=lambda ns: ns / NS_PER_US)

    def acknowledge(self):
        return pair_from(self.ack_rows, "installer", "idle", transform=lambda ns: ns / NS_PER_MS)

    def acknowledge_imports(self):
        return pair_from(self.ack_rows, "idle_imports", "idle", transform=lambda ns: ns / NS_PER_MS)

    def part_us(self, name):
        return median_of(self.not_due_rows, name, transform=lambda ns: ns / NS_PER_US)


def measure(arch, tree_root, build, rounds, log, download_only):
    tree = BenchTree(arch, tree_root)
    if build:
        print(f"[{arch}] building {tree.path} (log: {log.name})", flush=True)
        tree.build(log)
    results = ArchResults(arch)
    results.images = tree.image_sizes()
    print(f"[{arch}] starting the benchmark prefix", flush=True)
    with BenchPrefix(tree) as prefix:
        if not download_only:
            print(f"[{arch}] not-due check: {rounds.not_due[0]} rounds of {rounds.not_due[1]} calls", flush=True)
            results.not_due_rows = parse_lines(prefix.driver("notdue", "BenchNotDue", *rounds.not_due), "notdue")
            print(f"[{arch}] time to acknowledge: {rounds.ack} rounds", flush=True)
            prefix.publish("BenchAck", record_for(4096, "Benchmark product, up to date"))
            results.ack_rows = parse_lines(prefix.driver("ack", "BenchAck", rounds.ack), "ack")
        print(f"[{arch}] progress dialog update: {rounds.progress[0]} rounds of {rounds.progress[1]} calls",
              flush=True)
        results.progress_rows = parse_lines(prefix.program("progress_update_bench.exe", *rounds.progress),
                                            "progress")
        print(f"[{arch}] 64 MiB first installation, curl and WinINet: {rounds.download} rounds", flush=True)
        results.download = measure_download(prefix, 64, rounds.download)
    return results


def ratio_cell(pair):
    low, high = pair.ratio_range
    return f"{number(pair.ratio, 2)} ({number(low, 2)}-{number(high, 2)})"


def main_table(all_results):
    rows = []
    for r in all_results:
        if not r.not_due_rows:
            continue
        pair = r.not_due()
        rows.append(["Not-due check: put_Info (vtable) vs the same registry reads", r.arch,
                     f"{number(pair.ours_median)} µs", f"{number(pair.baseline_median)} µs", ratio_cell(pair),
                     "≤ 1.5", verdict(pair.ratio, TARGETS["notdue"]), pair.rounds])
    for r in all_results:
        if not r.ack_rows:
            continue
        pair = r.acknowledge()
        rows.append(["Time to acknowledge: put_Info starting the installer vs a do-nothing GUI program", r.arch,
                     f"{number(pair.ours_median)} ms", f"{number(pair.baseline_median)} ms", ratio_cell(pair),
                     "≤ 1.2", verdict(pair.ratio, TARGETS["ack"]), pair.rounds])
    for r in all_results:
        pair = r.download.memory()
        rows.append(["Peak working set: installer during a 64 MiB download vs the do-nothing program", r.arch,
                     f"{number(pair.ours_median)} MiB", f"{number(pair.baseline_median)} MiB", ratio_cell(pair),
                     "", "", pair.rounds])
    for r in all_results:
        pair = r.download.against_wininet()
        rows.append(["Download throughput, 64 MiB: installer vs WinINet alone (same 5000-byte reads to a file)",
                     r.arch, f"{number(pair.ours_median)} MiB/s", f"{number(pair.baseline_median)} MiB/s",
                     ratio_cell(pair), "≥ 0.7", verdict(pair.ratio, TARGETS["download"], at_least=True),
                     pair.rounds])
    for name in DELIVERABLES:
        for r in all_results:
            stripped, linked = r.images[name]
            rows.append([f"Image size: {name} as shipped (stripped) vs with its debug information", r.arch,
                         f"{number(stripped / 1024)} KiB", f"{number(linked / 1024)} KiB",
                         number(stripped / linked, 2), "", "", ""])
    return markdown_table(["measurement", "arch", "Orvex", "baseline", "ratio (lowest-highest)", "target",
                           "", "rounds"], rows)


def parts_table(all_results):
    header = ["part of the not-due check"] + [f"{r.arch} µs" for r in all_results]
    rows = [["put_Info through the vtable (whole)"] + [number(r.part_us("put_info")) for r in all_results]]
    rows += [[text] + [number(r.part_us(name)) for r in all_results] for name, text in NOT_DUE_PARTS]
    return markdown_table(header, rows)


def road_table(all_results):
    header = ["other figures"] + [r.arch for r in all_results]
    rows = []
    if all(r.ack_rows for r in all_results):
        row = ["do-nothing program importing the installer's system modules vs without (start until it ran)"]
        for r in all_results:
            pair = r.acknowledge_imports()
            row.append(f"{number(pair.ours_median)} ms vs {number(pair.baseline_median)} ms")
        rows.append(row)
        row = ["do-nothing program: start until it ended"]
        for r in all_results:
            ends = {k: v[1] for k, v in by_round(r.ack_rows, "idle").items()}
            row.append(f"{number(_median(ends) / NS_PER_MS)} ms")
        rows.append(row)
    row = ["64 MiB: the installer vs curl (natively, at loopback speed)"]
    for r in all_results:
        pair = r.download.throughput()
        row.append(f"{number(pair.ours_median)} MiB/s vs {number(pair.baseline_median)} MiB/s "
                   f"({number(pair.ratio, 3)})")
    rows.append(row)
    row = ["64 MiB read by WinINet alone (5000-byte reads, no dialog) vs curl"]
    for r in all_results:
        pair = r.download.wininet_throughput()
        row.append(f"{number(pair.ours_median)} MiB/s vs {number(pair.baseline_median)} MiB/s")
    rows.append(row)
    row = ["64 MiB first installation: put_Info to the package's last byte on disk / to put_Info's return"]
    for r in all_results:
        d = r.download
        row.append(f"{number(_median(d.to_last_byte), 2)} s / {number(_median(d.to_return), 2)} s")
    rows.append(row)
    row = ["installer's peak working set over its whole run (verification and package run included)"]
    for r in all_results:
        row.append(f"{number(_median(r.download.peak_run) / 1024 / 1024)} MiB")
    rows.append(row)
    return markdown_table(header, rows)


def _median(values_by_round):
    values = sorted(values_by_round.values())
    middle = len(values) // 2
    return values[middle] if len(values) % 2 else (values[middle - 1] + values[middle]) / 2


def signed_us(us):
    """A small difference of medians: its size, or that it is within the noise."""
    return f"{number(us)} µs" if us > 0 else "nothing measurable"


def not_due_shares(r):
    """Where the not-due check's time goes, as a sentence."""
    whole = r.part_us("install_check")
    com = r.part_us("put_info") - whole
    calls = r.part_us("check_calls")
    parts = [(name, r.part_us(name)) for name in ("rendezvous_probe", "check_registry", "check_other_calls")]
    text = ", ".join(f"{name.replace('_', ' ')} {number(us)} µs ({number(100 * us / whole, 0)}%)"
                     for name, us in parts)
    return (f"{r.arch}: the check takes {number(whole)} µs without COM; its platform calls alone, in its "
            f"order, take {number(calls)} µs ({number(100 * calls / whole, 0)}%). Timed apart: {text}. "
            f"COM and the conversion of Info add {signed_us(com)}. The rendezvous objects, which the check "
            f"makes only when it is not settled as not due, would add {number(r.part_us('rendezvous_objects'))} µs.")


def acknowledge_reading(r):
    pair = r.acknowledge()
    imports = r.acknowledge_imports()
    gap = pair.ours_median - pair.baseline_median
    modules = imports.ours_median - imports.baseline_median
    when = f"{number(gap)} ms later than" if gap >= 0 else f"{number(-gap)} ms sooner than"
    return (f"{r.arch}: put_Info returns {when} the do-nothing program has run. The same "
            f"program importing the installer's system modules (WinINet, WinTrust, Crypt32, ComCtl32, GDI32) "
            f"needs {number(modules)} ms more than without them: what the acknowledgement would cost if the "
            f"installer imported them. It loads them on first use, on its job thread, after it has set \"sync_\".")


def download_reading(r):
    installer = r.download.throughput().ours_median
    wininet = r.download.wininet_throughput().ours_median
    memory = r.download.memory()
    own = 100 * (1 - installer / wininet) if wininet > 0 else 0
    share = (f"about {number(own, 0)}% of its transfer time is its own work around each read (its "
             f"asynchronous reads and waits, one message dispatched per chunk, and the progress shown at "
             f"most every 33 ms)" if own > 0 else
             "no time of its own around the reads shows above the noise of the rounds")
    return (f"{r.arch}: WinINet alone reads the package in the installer's 5000-byte pieces at "
            f"{number(wininet)} MiB/s, the installer at {number(installer)} MiB/s (medians): {share}. Memory: the do-nothing program's {number(memory.baseline_median)} MiB "
            f"is what any program of this architecture has under Wine; the installer holds "
            f"{number(memory.ours_median - memory.baseline_median)} MiB more during the download, and "
            f"{number(_median(r.download.peak_run) / 1024 / 1024 - memory.baseline_median)} MiB more at its "
            f"peak over the whole run (signature check and package run included).")


PROGRESS_PARTS = (("set_progress", "SetProgress as the download calls it (whole; most counts are held back)"),
                  ("set_progress_shown", "SetProgress with the count shown (SettleProgress after it), "
                                         "at most every 33 ms"),
                  ("pump", "one message dispatched (PeekMessageA, DispatchMessageA)"),
                  ("set_range", "PBM_SETRANGE32 to the package size"),
                  ("set_position", "PBM_SETPOS to the next position"),
                  ("set_text", "the progress text set"))


def chunk_table(all_results):
    header = ["per 5000-byte chunk of a 64 MiB download"] + [f"{r.arch} µs" for r in all_results]
    rows = [["the installer's transfer, per chunk"] + [number(chunk_us(r, r.download.transfer))
                                                        for r in all_results],
            ["WinINet alone: one read and its write"] + [number(chunk_us(r, r.download.wininet))
                                                           for r in all_results]]
    rows += [[text] + [number(median_of(r.progress_rows, name, transform=lambda ns: ns / NS_PER_US))
                       for r in all_results] for name, text in PROGRESS_PARTS]
    return markdown_table(header, rows)


def chunk_us(r, seconds_by_round):
    chunks = r.download.size / 5000
    return _median(seconds_by_round) * 1e6 / chunks


def chunk_reading(r):
    whole = chunk_us(r, r.download.transfer)
    read = chunk_us(r, r.download.wininet)
    part = lambda name: median_of(r.progress_rows, name, transform=lambda ns: ns / NS_PER_US)
    update = part("set_progress")
    shown = part("set_progress_shown")
    per_second = r.download.size / 5000 / _median(r.download.transfer)
    return (f"{r.arch}: of the installer's {number(whole)} µs per chunk, WinINet's read and write take about "
            f"{number(read)} µs and the dialog's update {number(update)} µs "
            f"({number(100 * update / whole, 0)}%): the message dispatched ({number(part('pump'))} µs) and, "
            f"on the few chunks whose count is shown, {number(shown)} µs (PBM_SETPOS "
            f"{number(part('set_position'))} µs, the progress text {number(part('set_text'))} µs). At "
            f"{number(per_second, 0)} chunks a second, showing every count would cost "
            f"{number(per_second * shown / 1e4, 0)}% of each second; at most 30 shown cost "
            f"{number(30 * shown / 1e4, 1)}%. WinINet alone reads at "
            f"{number(r.download.wininet_throughput().ratio, 3)} of curl.")


def machine():
    def run(*command):
        try:
            return subprocess.run(command, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True,
                                  timeout=60).stdout.strip()
        except (OSError, subprocess.TimeoutExpired):
            return "unknown"
    cpu = "unknown"
    memory = "unknown"
    with open("/proc/cpuinfo") as f:
        for line in f:
            if line.startswith("model name"):
                cpu = line.split(":", 1)[1].strip()
                break
    with open("/proc/meminfo") as f:
        for line in f:
            if line.startswith("MemTotal:"):
                memory = f"{int(line.split()[1]) / 1024 / 1024:.1f} GiB"
                break
    return {"nproc": run("nproc"), "cpu": cpu, "memory": memory, "wine": run("wine", "--version"),
            "kernel": platform.release(), "load": " ".join(f"{v:.2f}" for v in os.getloadavg())}


def report(all_results, rounds, info, load_after, command):
    measured = []
    if all(r.not_due_rows for r in all_results):
        measured.append(f"not-due check {rounds.not_due[0]} × {rounds.not_due[1]} calls of each variant")
    if all(r.ack_rows for r in all_results):
        measured.append(f"time to acknowledge {rounds.ack}")
    measured += [f"progress dialog update {rounds.progress[0]} × {rounds.progress[1]} calls of each variant",
                 f"64 MiB download {rounds.download}"]
    lines = [
        "# Benchmark results",
        "",
        f"Measured {datetime.datetime.now(datetime.timezone.utc):%Y-%m-%d %H:%M} UTC with "
        f"`{command}` on: "
        f"{info['nproc']} cores ({info['cpu']}), {info['memory']} of memory, {info['wine']}, "
        f"Linux {info['kernel']}. Load average {info['load']} before, {load_after} after.",
        "",
        f"Rounds: {', '.join(measured)}. Each pair is measured side "
        "by side in the same rounds; a ratio is taken within each round and shown as the median with the "
        "lowest and highest round. Baselines: direct registry reads (`RegOpenKeyExA` + `RegQueryValueExA` "
        "of the same values in the same order); a do-nothing GUI program started with `CreateProcess` "
        "from the same Windows folder with the same flags, until it set an event; WinINet alone (a "
        "synchronous session, the same URL, 5000-byte reads written to a file in the temp folder); curl "
        "in the server's network namespace. Image sizes: the release build's deliverables as shipped and "
        "as linked, before their debug information went to the `.debug` files beside them.",
        "",
        main_table(all_results),
        "",
    ]
    if all(r.not_due_rows for r in all_results):
        lines += ["Where the not-due check's time goes (medians of the round medians, each part timed alone):",
                  "", parts_table(all_results), ""]
        lines += [f"- {not_due_shares(r)}" for r in all_results]
        lines += [""]
    lines += ["The installer's start, transfer and memory:", "", road_table(all_results), ""]
    lines += [f"- {acknowledge_reading(r)}" for r in all_results if r.ack_rows]
    lines += [f"- {download_reading(r)}" for r in all_results]
    lines += ["", "Where the installer's time per package chunk goes (the dialog's calls timed alone, on the "
              "installer's own live dialog, medians of the round medians):", "", chunk_table(all_results), ""]
    lines += [f"- {chunk_reading(r)}" for r in all_results]
    lines += [""]
    return "\n".join(lines)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--arch", action="append", choices=("x64", "x86"),
                        help="an architecture to measure (default: both)")
    parser.add_argument("--tree-root", default=os.path.join(TOP, "build"),
                        help="where the bench-<arch> build trees go (default: build/)")
    parser.add_argument("--no-build", action="store_true", help="use the trees as they are")
    parser.add_argument("--quick", action="store_true", help="few rounds: a check that everything runs")
    parser.add_argument("--only", choices=("download",),
                        help="download: only the progress update, the 64 MiB download and the image sizes")
    parser.add_argument("--results", help="also write the report to this Markdown file")
    args = parser.parse_args()
    archs = args.arch or ["x64", "x86"]
    # x86 runs only where this machine runs 32-bit programs; the rest is
    # measured all the same, and the run fails to say x86 was not.
    refused = None
    if "x86" in archs:
        probe = subprocess.run(["sh", os.path.join(TOP, "cmake", "runs-32bit.sh"), "/usr/lib/wine/wine"],
                               capture_output=True, text=True)
        if probe.returncode != 0:
            refused = f"run_all: x86 not measured: {probe.stdout.strip()}"
            print(refused, file=sys.stderr, flush=True)
            archs = [arch for arch in archs if arch != "x86"]
            if not archs:
                sys.exit(1)
    tree_root = os.path.abspath(args.tree_root)
    rounds = Rounds(args.quick)
    info = machine()

    os.makedirs(tree_root, exist_ok=True)
    all_results = []
    try:
        with open(os.path.join(tree_root, "bench-build.log"), "w") as log:
            for arch in archs:
                all_results.append(measure(arch, tree_root, not args.no_build, rounds, log,
                                           args.only == "download"))
    except BenchError as error:
        sys.exit(f"run_all: {error}")
    load_after = " ".join(f"{v:.2f}" for v in os.getloadavg())
    text = report(all_results, rounds, info, load_after, " ".join(["python3", "bench/run_all.py", *sys.argv[1:]]))
    print()
    print(text)
    if args.results:
        with open(args.results, "w") as f:
            f.write(text)
        print(f"written to {args.results}")
    if refused:
        sys.exit(refused)


if __name__ == "__main__":
    main()
