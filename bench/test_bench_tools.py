#!/usr/bin/env python3
"""Checks of the benchmark command's own helpers: the package maker, the
reading of the driver's lines, and the ratios and tables made from them."""
import os
import subprocess
import sys
import tempfile
import unittest

sys.dont_write_bytecode = True  # no cache folders in the source tree
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

import make_package  # noqa: E402
from summary import BenchError, Pair, markdown_table, pair_from, parse_lines, verdict  # noqa: E402

HERE = os.path.dirname(os.path.abspath(__file__))
MIB = 1024 * 1024
PROGRAM = b"MZ\x90\x00" + bytes(range(256)) * 4


class PackageMaker(unittest.TestCase):
    def test_stamps_the_header_keeps_the_image_and_fills_to_the_size(self):
        package = make_package.make_package(PROGRAM, 2 * MIB)
        self.assertEqual(len(package), 2 * MIB)
        self.assertEqual(package[:4], b"MZ\x01\x01")
        self.assertEqual(package[4:len(PROGRAM)], PROGRAM[4:])
        # The filler is not one repeated byte, and is the same on every build.
        filler = package[len(PROGRAM):len(PROGRAM) + 4096]
        self.assertGreater(len(set(filler)), 200)
        self.assertEqual(package, make_package.make_package(PROGRAM, 2 * MIB))

    def test_a_program_of_exactly_the_size_gets_no_filler(self):
        program = b"MZ" + b"\x00" * (MIB - 2)
        package = make_package.make_package(program, MIB)
        self.assertEqual(package, b"MZ\x01\x01" + program[4:])

    def test_refuses_what_is_not_a_program_or_does_not_fit(self):
        with self.assertRaises(ValueError):
            make_package.make_package(b"PK\x03\x04" + b"\x00" * 100, MIB)
        with self.assertRaises(ValueError):
            make_package.make_package(b"MZ" + b"\x00" * MIB, MIB)

    def test_command_line_writes_the_file_and_refuses_bad_sizes(self):
        with tempfile.TemporaryDirectory() as folder:
            program = os.path.join(folder, "p.exe")
            output = os.path.join(folder, "out.exe")
            with open(program, "wb") as f:
                f.write(PROGRAM)
            script = os.path.join(HERE, "make_package.py")
            done = subprocess.run([sys.executable, script, program, output, "1"], capture_output=True)
            self.assertEqual(done.returncode, 0, done.stderr)
            self.assertEqual(os.path.getsize(output), MIB)
            for size in ("0", "-3", "x", "2000"):
                refused = subprocess.run([sys.executable, script, program, output + size, size],
                                         capture_output=True)
                self.assertNotEqual(refused.returncode, 0, size)
                self.assertFalse(os.path.exists(output + size), size)


class DriverLines(unittest.TestCase):
    OUTPUT = ("notdue put_info 0 300\n"
              "notdue direct_reads 0 100\n"
              "\n"
              "notdue put_info 1 500\n"
              "notdue direct_reads 1 100\n"
              "notdue put_info 2 200\n"
              "ack installer 0 7\n")

    def test_lines_of_one_kind_pair_up_by_round(self):
        rows = parse_lines(self.OUTPUT, "notdue")
        self.assertEqual(len(rows), 5)
        pair = pair_from(rows, "put_info", "direct_reads")
        # Round 2 has no baseline: it is left out of the comparison.
        self.assertEqual(pair.rounds, 2)
        self.assertEqual(pair.ratios, [3.0, 5.0])
        self.assertEqual(pair.ratio, 4.0)
        self.assertEqual(pair.ratio_range, (3.0, 5.0))
        self.assertEqual(pair.ours_median, 400)

    def test_ratio_is_the_median_of_per_round_ratios_not_of_the_medians(self):
        # Load that doubles both sides in one round leaves its ratio alone.
        pair = Pair({0: 10.0, 1: 40.0, 2: 12.0}, {0: 5.0, 1: 20.0, 2: 4.0})
        self.assertEqual(pair.ratios, [2.0, 2.0, 3.0])
        self.assertEqual(pair.ratio, 2.0)
        self.assertEqual(pair.ours_median / pair.baseline_median, 12.0 / 5.0)

    def test_an_error_line_stops_the_reading(self):
        with self.assertRaisesRegex(BenchError, "the check was due"):
            parse_lines("notdue put_info 0 3\nerror the check was due\n", "notdue")

    def test_comparisons_without_common_rounds_or_baseline_are_refused(self):
        with self.assertRaises(BenchError):
            Pair({0: 1.0}, {1: 1.0})
        with self.assertRaises(BenchError):
            Pair({0: 1.0}, {0: 0.0})

    def test_verdict_against_an_upper_bound(self):
        self.assertEqual(verdict(1.5, 1.5), "met")
        self.assertEqual(verdict(1.51, 1.5), "missed")
        self.assertEqual(verdict(9.0, None), "")
        self.assertEqual(verdict(0.7, 0.7, at_least=True), "met")
        self.assertEqual(verdict(0.69, 0.7, at_least=True), "missed")


class Tables(unittest.TestCase):
    def test_markdown_table(self):
        self.assertEqual(markdown_table(["a", "b"], [[1, "x"]]), "| a | b |\n|---|---|\n| 1 | x |")

    def test_a_row_of_the_wrong_width_is_refused(self):
        with self.assertRaises(ValueError):
            markdown_table(["a", "b"], [[1]])


if __name__ == "__main__":
    unittest.main()
