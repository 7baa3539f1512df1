#!/usr/bin/env python3
"""Download throughput of the installer against curl, side by side in one run.

The real installer, started by the real install check (check_runner.exe) on a
first installation, downloads a package of 8 MiB and of 64 MiB from the
information server on the loopback, with its 5000-byte reads; curl fetches the
same files from the same server. Reports MB/s of both, their ratio, and the
installer's peak resident memory for each size.

usage: bench/download_throughput.py [PRESET] [--runs N]
Needs a built tree (cmake --build --preset PRESET) and curl.
"""
import argparse
import os
import subprocess
import sys
import threading
import time

HERE = os.path.dirname(os.path.abspath(__file__))
TOP = os.path.dirname(HERE)
LOADERS = {"x64": "/usr/lib/wine/wine64", "x86": "/usr/lib/wine/wine"}
MIB = 1024 * 1024


def installer_pids():
    pids = []
    for entry in os.listdir("/proc"):
        if not entry.isdigit():
            continue
        try:
            with open(f"/proc/{entry}/cmdline", "rb") as f:
                if b"OrvexInstaller.exe" in f.read():
                    pids.append(int(entry))
        except OSError:
            pass
    return pids


def rss_kib(pid):
    try:
        with open(f"/proc/{pid}/status") as f:
            for line in f:
                if line.startswith("VmRSS:"):
                    return int(line.split()[1])
    except OSError:
        pass
    return 0


class PeakMemory(threading.Thread):
    """Samples the installer's resident memory until stopped."""

    def __init__(self):
        super().__init__(daemon=True)
        self.peak = 0
        self.running = True

    def run(self):
        while self.running:
            for pid in installer_pids():
                self.peak = max(self.peak, rss_kib(pid))
            time.sleep(0.02)


def publish(root, product, size):
    folder = os.path.join(root, product, "download")
    os.makedirs(folder, exist_ok=True)
    name = f"{product}_1-0-0-1.exe"
    path = os.path.join(folder, name)
    if not os.path.exists(path) or os.path.getsize(path) != size:
        block = os.urandom(MIB)
        with open(path, "wb") as f:
            f.write(b"MZ\x01\x01" + block[4:])
            for _ in range(size // MIB - 1):
                f.write(block)
    with open(os.path.join(root, product, "info.txt"), "w") as f:
        f.write(f"7|1.0.0.1|0.0.0.0|{size}|x|Benchmark package of {size // MIB} MiB")
    return f"/{product}/download/{name}"


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("preset", nargs="?", default="x64", choices=sorted(LOADERS))
    parser.add_argument("--runs", type=int, default=3)
    args = parser.parse_args()

    build = os.path.join(TOP, "build", args.preset)
    prefix = os.path.join(build, "wineprefix-bench")
    root = os.path.join(build, "infoserver-bench")
    loader = LOADERS[args.preset]
    wine_prefix = os.path.join(TOP, "cmake", "wine-prefix.sh")
    wine_run = os.path.join(TOP, "cmake", "wine-run.sh")
    env = dict(os.environ, WINEPREFIX=prefix, WINEDEBUG="-all")
    os.makedirs(root, exist_ok=True)
    subprocess.run(["sh", wine_prefix, "start", prefix, os.path.join(build, "bin", "OrvexInstaller.exe"), root],
                   check=True, stdout=subprocess.DEVNULL)
    server_pid = open(os.path.join(root, ".server.pid")).read().strip()
    downloads = os.path.join(prefix, "drive_c", "Program Files" + (" (x86)" if args.preset == "x86" else ""),
                             "Brindlewood", "Downloads")
    rows = []
    try:
        for size_mib in (8, 64):
            product = f"benchpackage{size_mib}"
            url_path = publish(root, product, size_mib * MIB)
            installer_times, curl_times, peaks = [], [], []
            for _ in range(args.runs):
                # The installer: a first installation, nothing installed, nothing downloaded yet.
                subprocess.run(["sh", wine_run, prefix, loader, "reg", "delete",
                                f"HKLM\\SOFTWARE\\Brindlewood\\Downloads\\{product}", "/f"],
                               env=env, capture_output=True)
                package = os.path.join(downloads, f"{product}_1-0-0-1.exe")
                if os.path.exists(package):
                    os.remove(package)
                sampler = PeakMemory()
                sampler.start()
                start = time.monotonic()
                subprocess.run(["sh", wine_run, prefix, loader,
                                os.path.join(build, "bin", "tests", "check_runner.exe"), product],
                               env=env, check=True, capture_output=True, timeout=600)
                installer_times.append(time.monotonic() - start)
                sampler.running = False
                sampler.join()
                peaks.append(sampler.peak)
                if os.path.getsize(package) != size_mib * MIB:
                    sys.exit(f"the installer's download of {product} is incomplete")
                # curl, on the same server, from inside its network namespace.
                start = time.monotonic()
                subprocess.run(["nsenter", "-t", server_pid, "-n", "curl", "-s", "-o", "/dev/null",
                                f"http://127.0.0.1{url_path}"], check=True, timeout=600)
                curl_times.append(time.monotonic() - start)
            best_installer, best_curl = min(installer_times), min(curl_times)
            rows.append((size_mib, size_mib / best_installer, size_mib / best_curl, max(peaks)))
    finally:
        subprocess.run(["sh", wine_prefix, "stop", prefix, root], stdout=subprocess.DEVNULL)

    print(f"download throughput, {args.preset}, best of {args.runs} (MiB/s; installer time includes its start and the record):")
    print(f"{'package':>8} {'installer':>10} {'curl':>10} {'ratio':>7} {'installer peak RSS':>19}")
    for size_mib, installer, curl, peak in rows:
        print(f"{size_mib:>6}Mi {installer:>10.1f} {curl:>10.1f} {installer / curl:>7.2f} {peak / 1024:>16.1f} MiB")
    if len(rows) == 2:
        print(f"peak memory 64 MiB / 8 MiB: {rows[1][3] / max(rows[0][3], 1):.2f}")


if __name__ == "__main__":
    main()
