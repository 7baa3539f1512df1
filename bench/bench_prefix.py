"""The build tree and Wine prefix the benchmarks run in.

A benchmark tree is configured with a preset and ORVEX_BUILD_BENCH=ON (tests
off), and builds only what the benchmarks need: the installer, the control
module, the driver, the idle programs and the signed packages. Its prefix,
<tree>/wineprefix-bench, holds the real installer; cmake/wine-prefix.sh runs
its server in a private network namespace together with the information
server on 127.0.0.1:80, serving <tree>/infoserver-bench. Nothing leaves the
machine.
"""
import os
import shutil
import subprocess

from summary import BenchError

HERE = os.path.dirname(os.path.abspath(__file__))
TOP = os.path.dirname(HERE)
LOADERS = {"x64": "/usr/lib/wine/wine64", "x86": "/usr/lib/wine/wine"}
MIB = 1024 * 1024
PACKAGE_VERSION = "1-0-0-1"
IDLE_PROGRAMS = ("idle_program.exe", "idle_program_imports.exe")
DELIVERABLES = ("OrvexInstaller.dll", "OrvexInstaller.exe")


class BenchTree:
    """A build tree of one architecture with the benchmark programs."""

    def __init__(self, arch, tree_root):
        if arch not in LOADERS:
            raise ValueError(f"unknown architecture {arch!r}")
        self.arch = arch
        self.path = os.path.join(tree_root, f"bench-{arch}")
        self.bin = os.path.join(self.path, "bin")
        self.bench_bin = os.path.join(self.bin, "bench")
        self.loader = LOADERS[arch]

    def build(self, log):
        """Configures (once) and builds the benchmark target; output goes to log."""
        steps = []
        if not os.path.exists(os.path.join(self.path, "CMakeCache.txt")):
            steps.append(["cmake", "--preset", self.arch, "-B", self.path,
                          "-DORVEX_BUILD_BENCH=ON", "-DBUILD_TESTING=OFF"])
        steps.append(["cmake", "--build", self.path, "-j", "2", "--target", "orvex_bench"])
        for step in steps:
            result = subprocess.run(step, cwd=TOP, stdout=log, stderr=subprocess.STDOUT)
            if result.returncode != 0:
                raise BenchError(f"{' '.join(step)} failed (see {log.name})")

    def image_sizes(self):
        """{deliverable: (bytes as shipped, stripped; bytes as linked, with debug information)}."""
        sizes = {}
        for name in DELIVERABLES:
            image = os.path.join(self.bin, name)
            try:
                with open(image + ".debug-size") as f:
                    linked = int(f.read().strip())
                sizes[name] = (os.path.getsize(image), linked)
            except (OSError, ValueError):
                raise BenchError(f"{image} or its .debug-size is missing: is the tree a release build?")
        return sizes

    def package(self, size_mib):
        return os.path.join(self.bench_bin, f"bench_package_{size_mib}mib.exe")


class BenchPrefix:
    """The tree's benchmark prefix with its information server, while in a with block."""

    def __init__(self, tree):
        self.tree = tree
        self.prefix = os.path.join(tree.path, "wineprefix-bench")
        self.root = os.path.join(tree.path, "infoserver-bench")
        self.server_pid = None

    def _prefix_script(self, *args):
        return subprocess.run(["sh", os.path.join(TOP, "cmake", "wine-prefix.sh"), *args],
                              stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, text=True, timeout=600)

    def __enter__(self):
        os.makedirs(self.root, exist_ok=True)
        result = self._prefix_script("start", self.prefix, os.path.join(self.tree.bin, "OrvexInstaller.exe"),
                                     self.root)
        if result.returncode != 0:
            raise BenchError(f"the benchmark prefix did not start: {result.stderr.strip()}")
        try:
            with open(os.path.join(self.root, ".server.pid")) as f:
                self.server_pid = f.read().strip()
            windows = os.path.join(self.prefix, "drive_c", "windows")
            for program in IDLE_PROGRAMS:
                shutil.copyfile(os.path.join(self.tree.bench_bin, program), os.path.join(windows, program))
        except BaseException:
            self.__exit__(None, None, None)
            raise
        return self

    def __exit__(self, *exc):
        self._prefix_script("stop", self.prefix, self.root)
        return False

    def driver(self, *args, timeout=900):
        """Runs the benchmark driver in the prefix; its output, or BenchError."""
        return self.program("bench_driver.exe", *args, timeout=timeout)

    def program(self, name, *args, timeout=900):
        """Runs a benchmark program of the tree in the prefix; its output, or BenchError."""
        command = ["sh", os.path.join(TOP, "cmake", "wine-run.sh"), self.prefix, self.tree.loader,
                   os.path.join(self.tree.bench_bin, name), *[str(a) for a in args]]
        what = " ".join([name.removesuffix(".exe"), *map(str, args)])
        try:
            result = subprocess.run(command, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True,
                                    errors="replace", timeout=timeout)
        except subprocess.TimeoutExpired:
            raise BenchError(f"{what} did not end within {timeout} s")
        if result.returncode != 0:
            errors = [line for line in result.stdout.splitlines() if line.startswith("error")]
            raise BenchError(f"{what} failed ({result.returncode}): "
                             + ("; ".join(errors) or result.stdout.strip()[-500:]))
        return result.stdout

    def publish(self, product, record, package=None):
        """Writes <lower product>/info.txt and, given a package file, its download.

        Returns the server path of the package ("/x/download/x_1-0-0-1.exe").
        """
        lower = product.lower()
        folder = os.path.join(self.root, lower, "download")
        os.makedirs(folder, exist_ok=True)
        with open(os.path.join(self.root, lower, "info.txt"), "w") as f:
            f.write(record)
        name = f"{lower}_{PACKAGE_VERSION}.exe"
        if package is not None:
            shutil.copyfile(package, os.path.join(folder, name))
        return f"/{lower}/download/{name}"

    def curl_seconds(self, server_path):
        """curl's transfer time for the path, from inside the server's network namespace."""
        result = subprocess.run(["nsenter", "-t", self.server_pid, "-n", "curl", "-s", "-f", "-o", "/dev/null",
                                 "-w", "%{time_total} %{size_download}", f"http://127.0.0.1{server_path}"],
                                stdout=subprocess.PIPE, text=True, timeout=600)
        if result.returncode != 0:
            raise BenchError(f"curl of {server_path} failed ({result.returncode})")
        seconds, size = result.stdout.split()
        return float(seconds), int(size)


def record_for(size, description):
    """A product record offering version 1.0.0.1 with a package of size bytes."""
    return f"7|1.0.0.1|0.0.0.0|{size}|x|{description}"
