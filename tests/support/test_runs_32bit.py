"""The decision whether this machine runs 32-bit programs, which the x86 tests
are skipped on: it must say yes wherever a 32-bit program runs, and no only
where the kernel refuses one.

usage: test_runs_32bit.py CMAKE_DIR   (the folder of runs-32bit.sh and wine-run.sh)
"""
import errno
import os
import struct
import subprocess
import sys
import tempfile
import unittest

CMAKE_DIR = sys.argv.pop(1)
PROBE = os.path.join(CMAKE_DIR, "runs-32bit.sh")
WINE_RUN = os.path.join(CMAKE_DIR, "wine-run.sh")
WINE32 = "/usr/lib/wine/wine"
REASON = "this machine cannot run 32-bit programs"


def decide(loader):
    result = subprocess.run(["sh", PROBE, loader], capture_output=True, text=True, timeout=30)
    return result.returncode, result.stdout.strip()


def elf32(machine):
    """A 32-bit ELF program header for the given machine, and nothing else."""
    ident = b"\x7fELF" + bytes([1, 1, 1]) + bytes(9)
    return ident + struct.pack("<HHI", 2, machine, 1) + bytes(52 - 24)


class Decision(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.TemporaryDirectory()
        self.addCleanup(self.dir.cleanup)

    def program(self, name, content):
        path = os.path.join(self.dir.name, name)
        with open(path, "wb") as f:
            f.write(content)
        os.chmod(path, 0o755)
        return path

    def test_the_32_bit_loader_decides_as_running_it_does(self):
        try:
            subprocess.run([WINE32, "--version"], capture_output=True, timeout=30, check=False)
            runs = True
        except OSError as error:
            if error.errno != errno.ENOEXEC:
                raise
            runs = False
        code, reason = decide(WINE32)
        if runs:
            self.assertEqual((code, reason), (0, ""), "a machine that runs 32-bit programs must never skip")
        else:
            self.assertEqual(code, 1)
            self.assertIn(REASON, reason)

    def test_a_program_the_kernel_refuses_is_reported_and_its_test_skipped(self):
        # An ARM program: refused with "Exec format error" as a 32-bit x86
        # program is on a machine without 32-bit support.
        foreign = self.program("loader32", elf32(40))
        code, reason = decide(foreign)
        self.assertEqual(code, 1)
        self.assertIn(REASON, reason)
        marker = os.path.join(self.dir.name, "ran")
        result = subprocess.run(["sh", WINE_RUN, self.dir.name, foreign, "touch", marker],
                                capture_output=True, text=True, timeout=30)
        self.assertEqual(result.returncode, 77)
        self.assertIn("Skipped: " + REASON, result.stdout)
        self.assertFalse(os.path.exists(marker))

    def test_a_missing_or_failing_loader_is_not_taken_for_the_machine(self):
        # Those are faults of the installation: their tests fail, not skip.
        for loader in (os.path.join(self.dir.name, "missing"),
                       self.program("script", b"#!/bin/sh\nexit 3\n")):
            with self.subTest(loader=os.path.basename(loader)):
                self.assertEqual(decide(loader), (0, ""))
                result = subprocess.run(["sh", WINE_RUN, self.dir.name, loader, "x"],
                                        capture_output=True, text=True, timeout=30)
                self.assertNotIn(result.returncode, (0, 77))


if __name__ == "__main__":
    unittest.main()
