"""The decision whether this machine runs 32-bit programs, which the x86 tests
are skipped on: yes wherever a 32-bit program runs, no only where the kernel
refuses one. Usage: test_runs_32bit.py CMAKE_DIR (of runs-32bit.sh and wine-run.sh)
"""
import errno
import os
import struct
import subprocess
import sys
import tempfile
import unittest

CMAKE_DIR = sys.argv.pop(1)
WINE32 = "/usr/lib/wine/wine"
REASON = "this machine cannot run 32-bit programs"


def run(script, *arguments):
    return subprocess.run(["sh", os.path.join(CMAKE_DIR, script), *arguments], capture_output=True, text=True,
                          timeout=30)


def wine32_runs():
    try:
        subprocess.run([WINE32, "--version"], capture_output=True, timeout=30, check=False)
        return True
    except OSError as error:
        if error.errno != errno.ENOEXEC:
            raise
        return False


class Decision(unittest.TestCase):
    def test_only_a_loader_the_kernel_refuses_skips(self):
        folder = tempfile.TemporaryDirectory()
        self.addCleanup(folder.cleanup)
        # An ARM program is refused with "Exec format error" as a 32-bit x86
        # program is on a machine without 32-bit support. A missing or failing
        # loader is a fault of the installation: its tests fail, not skip.
        foreign, script, missing, marker = (os.path.join(folder.name, n) for n in ("foreign", "script", "missing", "ran"))
        for path, content in [(foreign, b"\x7fELF\x01\x01\x01" + bytes(9) + struct.pack("<HHI", 2, 40, 1) + bytes(28)),
                              (script, b"#!/bin/sh\nexit 3\n")]:
            with open(path, "wb") as f:
                f.write(content)
            os.chmod(path, 0o755)
        for loader, skips in [(WINE32, not wine32_runs()), (foreign, True), (script, False), (missing, False)]:
            with self.subTest(loader=loader):
                decided = run("runs-32bit.sh", loader)
                self.assertEqual(decided.returncode, 1 if skips else 0)
                self.assertEqual(REASON in decided.stdout, skips)
                if loader == WINE32:
                    continue
                ran = run("wine-run.sh", folder.name, loader, "touch", marker)
                if skips:
                    self.assertEqual(ran.returncode, 77)
                    self.assertIn("Skipped: " + REASON, ran.stdout)
                else:
                    self.assertNotIn(ran.returncode, (0, 77))
                self.assertFalse(os.path.exists(marker))


if __name__ == "__main__":
    unittest.main()
