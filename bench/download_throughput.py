#!/usr/bin/env python3
"""Download throughput of the installer against WinINet alone, side by side in one run.

The real installer, started by the real install check on a first installation
(put_Info in the benchmark driver), downloads a signed package of 8 MiB and of
64 MiB from the information server on the loopback with its 5000-byte reads,
verifies it and runs it. In the same rounds, WinINet alone reads the same file
from the same server in the same 5000-byte reads and writes them to a file,
without the dialog and its waits: the platform's limit for the installer. curl
fetches it too, natively, as context. Reports MiB/s of each, the installer's
ratio to WinINet alone and to curl, and the installer's peak working set
against the idle program's.

The installer's rate is taken over its transfer: from the package file's
creation (after the record was fetched and the request answered) to its last
byte on disk; its time from put_Info to the last byte is shown as well.

usage: bench/download_throughput.py [x64|x86] [--runs N] [--tree-root DIR] [--no-build]
Builds its tree (build/bench-<arch>) unless --no-build; needs curl.
"""
import argparse
import os
import statistics
import sys

sys.dont_write_bytecode = True  # no cache folders in the source tree

from bench_prefix import MIB, TOP, BenchPrefix, BenchTree, record_for
from summary import BenchError, Pair, markdown_table, number, parse_lines

NS = 1e9


class DownloadResult:
    """Per-round results of one package size; times in seconds, sizes in bytes."""

    def __init__(self, size):
        self.size = size
        self.transfer = {}       # installer: file created -> last byte
        self.to_last_byte = {}   # installer: put_Info called -> last byte
        self.to_return = {}      # installer: put_Info called -> returned
        self.peak_download = {}  # installer's peak working set until the last byte
        self.peak_run = {}       # ... over its whole run (verification, package run)
        self.idle_peak = {}      # the idle program's peak working set
        self.curl = {}
        self.wininet = {}

    def rate(self, seconds):
        return self.size / MIB / seconds

    def throughput(self):
        """installer against curl, in MiB/s."""
        return Pair({r: self.rate(s) for r, s in self.transfer.items()},
                    {r: self.rate(s) for r, s in self.curl.items()})

    def against_wininet(self):
        """installer against WinINet alone making the same reads, in MiB/s."""
        return Pair({r: self.rate(s) for r, s in self.transfer.items()},
                    {r: self.rate(s) for r, s in self.wininet.items()})

    def wininet_throughput(self):
        """WinINet alone against curl, in MiB/s."""
        return Pair({r: self.rate(s) for r, s in self.wininet.items()},
                    {r: self.rate(s) for r, s in self.curl.items()})

    def memory(self):
        """installer's peak working set during the download against the idle program's, in MiB."""
        return Pair({r: b / MIB for r, b in self.peak_download.items()},
                    {r: b / MIB for r, b in self.idle_peak.items()})


def measure_download(prefix, size_mib, runs, product=None):
    """runs rounds of installer, curl and WinINet on the signed package of size_mib MiB.

    Each round takes the three in a rotating order.
    """
    package = prefix.tree.package(size_mib)
    size = os.path.getsize(package)
    product = product or f"BenchDownload{size_mib}"
    server_path = prefix.publish(product, record_for(size, f"Benchmark package of {size_mib} MiB"), package)
    result = DownloadResult(size)

    def installer(r):
        rows = parse_lines(prefix.driver("download", product, size), "download")
        for words in rows:
            if words[0] == "installer":
                first, last, returned, peak_download, peak_run = (float(w) for w in words[1:6])
                result.transfer[r] = (last - first) / NS
                result.to_last_byte[r] = last / NS
                result.to_return[r] = returned / NS
                result.peak_download[r] = peak_download
                result.peak_run[r] = peak_run
            elif words[0] == "idle":
                result.idle_peak[r] = float(words[1])
        if r not in result.transfer or r not in result.idle_peak:
            raise BenchError("the download run printed no result")

    def curl(r):
        seconds, fetched = prefix.curl_seconds(server_path)
        if fetched != size:
            raise BenchError(f"curl fetched {fetched} of {size} bytes")
        result.curl[r] = seconds

    def wininet(r):
        rows = parse_lines(prefix.driver("wininet", f"http://127.0.0.1{server_path}", size), "wininet")
        result.wininet[r] = float(rows[0][0]) / NS

    sides = (installer, curl, wininet)
    for r in range(runs):
        for turn in range(len(sides)):
            sides[(turn + r) % len(sides)](r)
    return result


def table(arch, results):
    rows = []
    for result in results:
        throughput = result.throughput()
        against = result.against_wininet()
        low, high = against.ratio_range
        memory = result.memory()
        rows.append([arch, f"{result.size // MIB} MiB", number(throughput.ours_median),
                     number(against.baseline_median), number(throughput.baseline_median),
                     f"{number(against.ratio, 2)} ({number(low, 2)}-{number(high, 2)})",
                     number(throughput.ratio, 3),
                     number(statistics.median(result.to_last_byte.values()), 2),
                     number(memory.ours_median), number(memory.baseline_median), number(memory.ratio, 2),
                     throughput.rounds])
    return markdown_table(["arch", "package", "installer MiB/s", "WinINet alone MiB/s", "curl MiB/s",
                           "installer/WinINet (range)", "installer/curl", "put_Info to last byte, s", "installer peak WS MiB",
                           "idle peak WS MiB", "WS ratio", "rounds"], rows)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("arch", nargs="?", default="x64", choices=("x64", "x86"))
    parser.add_argument("--runs", type=int, default=3)
    parser.add_argument("--tree-root", default=os.path.join(TOP, "build"))
    parser.add_argument("--no-build", action="store_true")
    args = parser.parse_args()
    if args.runs < 1:
        parser.error("--runs must be at least 1")

    tree = BenchTree(args.arch, os.path.abspath(args.tree_root))
    try:
        if not args.no_build:
            os.makedirs(tree.path, exist_ok=True)
            with open(os.path.join(tree.path, "bench-build.log"), "w") as log:
                tree.build(log)
        with BenchPrefix(tree) as prefix:
            results = [measure_download(prefix, size_mib, args.runs) for size_mib in (8, 64)]
    except BenchError as error:
        sys.exit(f"download_throughput: {error}")
    print(f"download throughput, {args.arch}, medians of {args.runs} rounds "
          "(installer: file created to last byte; WS: working set)")
    print(table(args.arch, results))


if __name__ == "__main__":
    main()
