#!/usr/bin/env python3
"""Seeds named faults into a copy of the tree, one at a time, and tells which
the test suites catch.

Each fault of tools/mutations.txt names one file under src/, a text that occurs
there exactly once, its replacement, and the CTest suites that must fail when it
is seeded. For each fault this tool:

  1. replaces the text (a text found zero times or more than once: "stale"),
  2. rebuilds the copy incrementally ("build-broken" when that fails),
  3. runs only the named suites with CTest (their prefix fixtures come along),
  4. puts the file back as it was.

At the start the copy is brought up to date with the work tree (tracked and
new files, as git lists them; only files that differ are written, so the
copy's build stays incremental): the faults are tried against the work tree as
it is, committed or not. A fault is "caught" when at least one named suite fails, "missed" when all
pass, and "error" when the suites could not run (a prefix fixture failed, or
the names select no test). The copy lives under build/mutate/<arch>/tree with
its own build tree and Wine prefixes, so the work tree, its build trees and
their prefixes are never touched. Before the faults, the clean copy is built
and the named suites run once: a suite that fails then would prove nothing.

Exit status: 0 when every fault was caught; 1 when any was missed, stale,
build-broken or in error; 2 when the run could not start (bad arguments, a
clean build or baseline that fails, another run holding the copy).
"""

import argparse
import fcntl
import filecmp
import os
import re
import shutil
import subprocess
import sys
import time
import xml.etree.ElementTree as ElementTree
from dataclasses import dataclass, field

REPO = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
DEFAULT_FAULTS = os.path.join(REPO, "tools", "mutations.txt")
RESULTS = ("caught", "missed", "stale", "build-broken", "error")


@dataclass
class Fault:
    id: str
    file: str = ""
    tests: str = ""
    kind: str = ""
    why: str = ""
    find: list = field(default_factory=list)
    replace: list = field(default_factory=list)
    line: int = 0

    @property
    def find_text(self):
        return "\n".join(self.find)

    @property
    def replace_text(self):
        return "\n".join(self.replace)


@dataclass
class Outcome:
    fault: Fault
    result: str
    seconds: float = 0.0
    detail: str = ""


class FaultFileError(Exception):
    pass


def parse_faults(path):
    """Reads the fault list; see the head of tools/mutations.txt for its form."""
    faults = []
    current = None
    with open(path, encoding="utf-8") as stream:
        for number, raw in enumerate(stream, 1):
            line = raw.rstrip("\n").rstrip("\r")
            where = f"{path}:{number}"
            if line.startswith("- ") or line == "-":
                if current is None:
                    raise FaultFileError(f"{where}: a '-' line outside a fault")
                if current.replace:
                    raise FaultFileError(f"{where}: '-' lines must come before the '+' lines")
                current.find.append(line[2:])
            elif line.startswith("+ ") or line == "+":
                if current is None or not current.find:
                    raise FaultFileError(f"{where}: a '+' line without '-' lines before it")
                current.replace.append(line[2:])
            elif not line.strip() or line.lstrip().startswith("#"):
                continue
            elif re.fullmatch(r"\[([A-Za-z0-9_.-]+)\]", line.strip()):
                current = Fault(id=line.strip()[1:-1], line=number)
                faults.append(current)
            elif re.match(r"^(file|tests|kind|why):", line):
                if current is None:
                    raise FaultFileError(f"{where}: a field outside a fault")
                key, value = line.split(":", 1)
                setattr(current, key, value.strip())
            else:
                raise FaultFileError(f"{where}: not understood: {line!r}")
    seen = set()
    for fault in faults:
        where = f"{path}:{fault.line} [{fault.id}]"
        if fault.id in seen:
            raise FaultFileError(f"{where}: the id is used twice")
        seen.add(fault.id)
        if not fault.file.startswith("src/"):
            raise FaultFileError(f"{where}: 'file' must name a file under src/")
        if not fault.tests:
            raise FaultFileError(f"{where}: 'tests' is missing")
        try:
            re.compile(fault.tests)
        except re.error as error:
            raise FaultFileError(f"{where}: 'tests' is no regex: {error}") from None
        if not fault.find_text.strip():
            raise FaultFileError(f"{where}: no text to find")
        if fault.find_text == fault.replace_text:
            raise FaultFileError(f"{where}: the replacement changes nothing")
    return faults


def occurrences(tree, fault):
    try:
        with open(os.path.join(tree, fault.file), encoding="utf-8", newline="") as stream:
            return stream.read().count(fault.find_text)
    except FileNotFoundError:
        return 0


def tracked_files():
    """The work tree's files as git sees them: tracked and new, not ignored."""
    listed = subprocess.run(["git", "-C", REPO, "ls-files", "-z", "--cached", "--others", "--exclude-standard"],
                            check=True, capture_output=True).stdout
    names = sorted({name for name in listed.decode("utf-8").split("\0") if name})
    return [name for name in names if os.path.isfile(os.path.join(REPO, name))]


def sync_copy(tree):
    """Makes the copy's files equal the work tree's. Only files that differ are
    written, so the copy's build stays incremental."""
    manifest = os.path.join(os.path.dirname(tree), "manifest.txt")
    files = tracked_files()
    changed = 0
    for name in files:
        source = os.path.join(REPO, name)
        target = os.path.join(tree, name)
        if os.path.isfile(target) and filecmp.cmp(source, target, shallow=False):
            continue
        os.makedirs(os.path.dirname(target), exist_ok=True)
        shutil.copyfile(source, target)
        shutil.copymode(source, target)
        changed += 1
    if os.path.isfile(manifest):
        with open(manifest, encoding="utf-8") as stream:
            previous = set(stream.read().splitlines())
        for name in previous - set(files):
            gone = os.path.join(tree, name)
            if os.path.isfile(gone):
                os.remove(gone)
                changed += 1
    with open(manifest, "w", encoding="utf-8") as stream:
        stream.write("\n".join(files) + "\n")
    return changed


def write_text(path, text):
    with open(path, "w", encoding="utf-8", newline="") as stream:
        stream.write(text)


def restore(path, original):
    """Puts a file of the copy back as it was before its fault."""
    write_text(path, original)
    with open(path, encoding="utf-8", newline="") as stream:
        if stream.read() != original:
            raise RuntimeError(f"could not restore {path}")


def run_logged(command, cwd, log_path, env=None):
    with open(log_path, "w", encoding="utf-8") as log:
        log.write("$ " + " ".join(command) + "\n")
        log.flush()
        return subprocess.run(command, cwd=cwd, stdout=log, stderr=subprocess.STDOUT, env=env).returncode


def last_error(log_path):
    """The first line of a build log that says what failed."""
    with open(log_path, encoding="utf-8", errors="replace") as stream:
        lines = stream.read().splitlines()
    for line in lines:
        if re.search(r"\berror\b", line) and not line.startswith("$ "):
            return line.strip()[:160]
    return lines[-1].strip()[:160] if lines else ""


class Copy:
    def __init__(self, arch, build_jobs):
        self.arch = arch
        self.build_jobs = build_jobs
        self.root = os.path.join(REPO, "build", "mutate", arch)
        self.tree = os.path.join(self.root, "tree")
        self.logs = os.path.join(self.root, "logs")
        self.build_dir = os.path.join(self.tree, "build", arch)

    def prepare(self):
        os.makedirs(self.tree, exist_ok=True)
        os.makedirs(self.logs, exist_ok=True)
        changed = sync_copy(self.tree)
        print(f"copy: {self.tree} ({changed} file(s) brought up to date)", flush=True)
        if not os.path.isfile(os.path.join(self.build_dir, "CMakeCache.txt")):
            log = os.path.join(self.logs, "configure.log")
            if run_logged(["cmake", "--preset", self.arch], self.tree, log) != 0:
                raise SystemExit(f"the copy does not configure: see {log}")

    def build(self, log_path):
        command = ["cmake", "--build", "--preset", self.arch]
        if self.build_jobs:
            command += ["-j", str(self.build_jobs)]
        return run_logged(command, self.tree, log_path) == 0

    def run_suites(self, pattern, jobs, name):
        """Runs the suites whose names match pattern; returns (failed named
        suites, passed named suites, problems) where problems tell why the
        suites could not run."""
        junit = os.path.join(self.logs, name + ".junit.xml")
        log = os.path.join(self.logs, name + ".ctest.log")
        if os.path.exists(junit):
            os.remove(junit)
        regex = rf"^{re.escape(self.arch)}\.({pattern})$"
        command = ["ctest", "--test-dir", self.build_dir, "-R", regex, "-j", str(jobs), "--output-on-failure",
                   "--no-tests=error", "--output-junit", junit]
        code = run_logged(command, self.tree, log)
        named = re.compile(regex)
        failed, passed, problems = [], [], []
        if not os.path.isfile(junit):
            return failed, passed, [f"ctest exited {code} without a report: see {log}"]
        for case in ElementTree.parse(junit).getroot().iter("testcase"):
            test = case.get("name", "")
            status = case.get("status", "")
            if status == "run" and case.find("failure") is None:
                outcome = "passed"
            elif status == "notrun" or case.find("skipped") is not None:
                outcome = "not run"
            else:
                outcome = "failed"
            if named.match(test):
                if outcome == "passed":
                    passed.append(test)
                elif outcome == "failed":
                    failed.append(test)
                else:
                    problems.append(f"{test} not run")
            elif outcome != "passed":
                problems.append(f"{test} {outcome}")
        if not failed and not passed and not problems:
            problems.append("the names select no test")
        if code != 0 and not failed and not problems:
            problems.append(f"ctest exited {code}: see {log}")
        return failed, passed, problems

    def stop_prefixes(self):
        """Ends the Wine servers of this copy's own prefixes, and no others."""
        if not os.path.isdir(self.build_dir):
            return
        for entry in sorted(os.listdir(self.build_dir)):
            prefix = os.path.join(self.build_dir, entry)
            if entry.startswith("wineprefix-") and os.path.isdir(prefix):
                subprocess.run(["wineserver", "-k"], env=dict(os.environ, WINEPREFIX=prefix),
                               stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)


def duration(seconds):
    minutes, rest = divmod(int(round(seconds)), 60)
    return f"{minutes}m{rest:02d}s" if minutes else f"{rest}s"


def markdown_table(outcomes, arch):
    lines = [f"| fault | kind | file | suites ({arch}) | result | time | detail |",
             "|---|---|---|---|---|---|---|"]
    for o in outcomes:
        detail = o.detail.replace("|", "\\|")
        tests = o.fault.tests.replace("|", "\\|")
        lines.append(f"| {o.fault.id} | {o.fault.kind} | {o.fault.file} | {tests} | {o.result} | "
                     f"{duration(o.seconds)} | {detail} |")
    counts = ", ".join(f"{sum(o.result == r for o in outcomes)} {r}" for r in RESULTS)
    lines.append("")
    lines.append(f"{len(outcomes)} faults: {counts}.")
    return "\n".join(lines)


def try_fault(copy, fault, jobs):
    tree_file = os.path.join(copy.tree, fault.file)
    with open(tree_file, encoding="utf-8", newline="") as stream:
        original = stream.read()
    count = original.count(fault.find_text)
    if count != 1:
        return "stale", f"the text occurs {count} times in {fault.file}"
    write_text(tree_file, original.replace(fault.find_text, fault.replace_text, 1))
    try:
        build_log = os.path.join(copy.logs, fault.id + ".build.log")
        if not copy.build(build_log):
            return "build-broken", last_error(build_log)
        failed, passed, problems = copy.run_suites(fault.tests, jobs, fault.id)
        if failed:
            return "caught", "failed: " + ", ".join(failed)
        if problems:
            return "error", "; ".join(problems)
        return "missed", "passed: " + ", ".join(passed)
    finally:
        restore(tree_file, original)


def list_faults(faults):
    rows = []
    for fault in faults:
        count = occurrences(REPO, fault)
        state = "applies" if count == 1 else f"stale ({count} found)"
        rows.append((fault.id, fault.kind, fault.file, fault.tests, state))
    widths = [max(len(row[i]) for row in rows + [("id", "kind", "file", "suites", "in the work tree")])
              for i in range(5)]
    header = ("id", "kind", "file", "suites", "in the work tree")
    for row in [header] + rows:
        print("  ".join(value.ljust(widths[i]) for i, value in enumerate(row)).rstrip())
    stale = sum(1 for row in rows if row[4] != "applies")
    print(f"\n{len(rows)} faults, {stale} stale")
    return 1 if stale else 0


def main(argv=None):
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0],
                                     formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--only", help="comma-separated fault ids to try (default: all)")
    parser.add_argument("--list", action="store_true", help="list the faults and whether each still applies")
    parser.add_argument("--arch", choices=("x64", "x86"), default="x64", help="build preset (default x64)")
    parser.add_argument("--jobs", type=int, default=2, help="ctest -j (default 2)")
    parser.add_argument("--build-jobs", type=int, default=2, help="build parallelism (default 2)")
    parser.add_argument("--keep", action="store_true",
                        help="keep the copy and its build tree for the next run (else removed at the end)")
    parser.add_argument("--no-baseline", action="store_true",
                        help="skip running the named suites on the clean copy first")
    parser.add_argument("--faults", default=DEFAULT_FAULTS, help="the fault list (default tools/mutations.txt)")
    parser.add_argument("--report", help="also write the Markdown table to this file")
    args = parser.parse_args(argv)

    try:
        faults = parse_faults(args.faults)
    except FaultFileError as error:
        print(f"mutate: {error}", file=sys.stderr)
        return 2
    if args.only:
        wanted = [name.strip() for name in args.only.split(",") if name.strip()]
        known = {fault.id: fault for fault in faults}
        unknown = [name for name in wanted if name not in known]
        if unknown:
            print(f"mutate: no such fault: {', '.join(unknown)}", file=sys.stderr)
            return 2
        faults = [known[name] for name in dict.fromkeys(wanted)]
    if args.list:
        return list_faults(faults)
    if not faults:
        print("mutate: no faults to try", file=sys.stderr)
        return 2

    copy = Copy(args.arch, args.build_jobs)
    os.makedirs(copy.root, exist_ok=True)
    lock = open(os.path.join(copy.root, "lock"), "w")
    try:
        fcntl.flock(lock, fcntl.LOCK_EX | fcntl.LOCK_NB)
    except BlockingIOError:
        print(f"mutate: another run is using {copy.root}", file=sys.stderr)
        return 2

    started = time.monotonic()
    outcomes = []
    try:
        copy.prepare()
        applying = [fault for fault in faults if occurrences(copy.tree, fault) == 1]
        if applying:
            print("building the clean copy...", flush=True)
            clean_log = os.path.join(copy.logs, "clean.build.log")
            if not copy.build(clean_log):
                print(f"mutate: the clean copy does not build: {last_error(clean_log)} (see {clean_log})",
                      file=sys.stderr)
                return 2
        if applying and not args.no_baseline:
            suites = "|".join(sorted({f"{fault.tests}" for fault in applying}))
            print("baseline: the named suites on the clean copy...", flush=True)
            began = time.monotonic()
            failed, passed, problems = copy.run_suites(suites, args.jobs, "baseline")
            print(f"baseline: {len(passed)} passed, {len(failed)} failed in {duration(time.monotonic() - began)}",
                  flush=True)
            if failed or problems:
                print("mutate: the suites must pass before faults are seeded: "
                      + "; ".join(failed + problems) + f" (see {copy.logs}/baseline.ctest.log)", file=sys.stderr)
                return 2

        for index, fault in enumerate(faults, 1):
            began = time.monotonic()
            result, detail = try_fault(copy, fault, args.jobs)
            outcome = Outcome(fault, result, time.monotonic() - began, detail)
            outcomes.append(outcome)
            print(f"[{index}/{len(faults)}] {fault.id}: {result} in {duration(outcome.seconds)}  {detail}",
                  flush=True)
    except KeyboardInterrupt:
        print("\nmutate: interrupted; the copy's files are restored", file=sys.stderr)
    finally:
        copy.stop_prefixes()
        if not args.keep:
            shutil.rmtree(copy.tree, ignore_errors=True)
            manifest = os.path.join(copy.root, "manifest.txt")
            if os.path.exists(manifest):
                os.remove(manifest)

    table = markdown_table(outcomes, args.arch)
    print()
    print(table)
    print(f"\ntotal {duration(time.monotonic() - started)}; logs in {copy.logs}")
    if args.report:
        with open(args.report, "w", encoding="utf-8") as stream:
            stream.write(table + "\n")
    if len(outcomes) < len(faults):
        return 1
    return 0 if all(o.result == "caught" for o in outcomes) else 1


if __name__ == "__main__":
    sys.exit(main())
