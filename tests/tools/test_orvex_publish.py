#!/usr/bin/env python3
"""The publishing tool as makers use it: what it writes, what it refuses (exit
status 1, a message, nothing written) and its exit statuses. CTest names the
built sample setup: ORVEX_SAMPLE_SETUP (10.24.0.0, signed by ORVEX_PUBLISHER with
a certificate of ORVEX_TEST_CERTIFICATES/root.crt); Signed needs osslsigncode."""
import os
import shutil
import struct
import subprocess
import sys
import tempfile
import unittest

TOOL = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "tools", "publish", "orvex_publish.py")
sys.path.insert(0, os.path.dirname(TOOL))
import orvex_publish as publish  # noqa: E402

SIGNATURE = b"MZ\x01\x01"
PUBLISHER = "Orvex Test Publisher"


def make_pe(version=(1, 2, 3, 4), plus=False, head=SIGNATURE, signed=False):
    """A small PE file with one version resource; its bytes and the offset of
    the version blob."""
    a, b, c, d = version
    rva, raw = 0x1000, 0x200
    rsrc = struct.pack("<12xHHII", 0, 1, 16, 0x80000018)  # the type directory: RT_VERSION
    rsrc += struct.pack("<12xHHII", 0, 1, 1, 0x80000030)  # the name directory: id 1
    rsrc += struct.pack("<12xHHII", 0, 1, 0x409, 0x48)  # the language directory
    rsrc += struct.pack("<IIII", rva + 0x58, 92, 0, 0)  # the data entry: the version blob
    rsrc += struct.pack("<HHH", 92, 52, 0) + "VS_VERSION_INFO\0".encode("utf-16-le") + b"\0\0"
    rsrc += struct.pack("<4I9I", 0xFEEF04BD, 0x10000, (a << 16) | b, (c << 16) | d, *([0] * 9))
    optional = bytearray(240 if plus else 224)
    first_directory = 112 if plus else 96
    struct.pack_into("<H", optional, 0, 0x20B if plus else 0x10B)
    struct.pack_into("<I", optional, first_directory - 4, 16)
    struct.pack_into("<II", optional, first_directory + 16, rva, len(rsrc))
    if signed:
        struct.pack_into("<II", optional, first_directory + 32, raw + len(rsrc), 8)
    dos = bytearray(64)
    dos[0:4] = head
    struct.pack_into("<I", dos, 0x3C, 64)
    section = struct.pack("<8sIIII16x", b".rsrc", len(rsrc), rva, len(rsrc), raw)
    coff = struct.pack("<HHIIIHH", 0x8664 if plus else 0x14C, 1, 0, 0, 0, len(optional), 0x102)
    data = (bytes(dos) + b"PE\0\0" + coff + bytes(optional) + section).ljust(raw, b"\0") + rsrc
    return data + (b"\0" * 8 if signed else b""), raw + 0x58


class PublishTest(unittest.TestCase):
    def setUp(self):
        self.work = tempfile.mkdtemp(prefix="orvex-publish-")
        self.addCleanup(shutil.rmtree, self.work)
        self.root = os.path.join(self.work, "root")
        os.mkdir(self.root)

    def package(self, data, name="setup.exe"):
        path = os.path.join(self.work, name)
        with open(path, "wb") as f:
            f.write(data)
        return path

    def run_tool(self, package, *extra, product="Quillon", interval="7", description="New pages", publisher=""):
        """Runs the tool as makers do: (exit status, standard output bytes, standard error)."""
        args = [TOOL, package, "--product", product, "--interval", interval, "--root", self.root]
        args += [] if publisher is None else ["--publisher=" + publisher]
        args += [] if description is None else ["--description", description]
        result = subprocess.run([sys.executable] + args + list(extra), capture_output=True, timeout=60)
        err = result.stderr.decode("utf-8", "replace")
        self.assertNotIn("Traceback", err)
        return result.returncode, result.stdout, err

    def assertPublishes(self, package, *extra, **options):
        code, out, err = self.run_tool(package, *extra, **options)
        self.assertEqual(code, 0, err)
        return out, err

    def assertRefused(self, package, words, *extra, **options):
        before = self.published()
        code, _, err = self.run_tool(package, *extra, **options)
        self.assertEqual((code, words in err, "orvex_publish: " in err), (1, True, True), err)
        self.assertEqual(self.published(), before, "a refusal writes nothing")

    def published(self):
        root = os.fsencode(self.root)
        return sorted(os.path.relpath(os.path.join(d, f), root) for d, _, files in os.walk(root) for f in files)

    def read(self, name):
        with open(os.path.join(os.fsencode(self.root), name), "rb") as f:
            return f.read()


class Writes(PublishTest):
    def test_the_package_and_its_record(self):
        data, _ = make_pe((2, 0, 1, 15))
        options = {"product": "QuillOn Viewer", "description": "Faster pages\nand caf\u00e9 fonts\r\n\n"}
        record = b"7|2.0.1.15|0.0.0.0|%d|QuillOn Viewer|Faster pages\r\nand caf\xe9 fonts|0.0.0.0|" % len(data)
        out, err = self.assertPublishes(self.package(data), "--dry-run", **options)
        self.assertEqual((record in out, "--publisher is empty" in err), (True, True), err)
        self.assertEqual(self.published(), [], "a dry run writes nothing")
        self.assertPublishes(self.package(data), **options)
        files = [b"quillon viewer/download/quillon viewer_2-0-1-15.exe", b"quillon viewer/info.txt"]
        self.assertEqual(self.published(), files)
        self.assertEqual((self.read(files[0]), self.read(files[1])), (data, record))
        self.assertTrue(os.stat(os.path.join(os.fsencode(self.root), files[0])).st_mode & 0o004, "readable")
        # Republished: both replaced. The record fills the 5000 bytes the installer reads.
        room = 5000 - len(b"7|2.0.1.16|0.0.0.0|%d|QuillOn Viewer||0.0.0.0|" % len(data))
        self.assertPublishes(self.package(data), "--version", "2.0.1.16", product="QuillOn Viewer", description="d" * room)
        self.assertEqual(len(self.read(files[1])), 5000)
        self.assertIn(b"quillon viewer/download/quillon viewer_2-0-1-16.exe", self.published())
        self.assertRefused(self.package(data), "5000", "--version", "2.0.1.17", product="QuillOn Viewer", description="d" * (room + 1))

    def test_the_header_patch_goes_to_the_published_copy_only(self):
        original, _ = make_pe(head=b"MZ\x90\x00", plus=True)
        path = self.package(original)
        self.assertPublishes(path, "--patch-header")
        self.assertEqual(self.read(b"quillon/download/quillon_1-2-3-4.exe"), SIGNATURE + original[4:])
        with open(path, "rb") as f:
            self.assertEqual(f.read(), original, "the input is never changed")


class Refusals(PublishTest):
    def test_every_refusal(self):
        data, blob = make_pe()
        path = self.package(data)
        big = os.path.join(self.work, "big.exe")
        with open(big, "wb") as f:
            f.write(SIGNATURE)
            f.truncate(2**32)  # sparse
        packages = {"": path, "big": big, "short": self.package(b"MZ\x01", "short.exe"),
                    "none": os.path.join(self.work, "missing.exe"), "data": self.package(SIGNATURE + b"x", "data.exe")}
        for name, program in [("zero", make_pe((0, 0, 0, 0))[0]), ("too new", make_pe((32768, 1, 2, 3))[0]),
                              ("90", make_pe(head=b"MZ\x90\x00")[0]),
                              ("90 signed", make_pe(head=b"MZ\x90\x00", signed=True)[0]), ("cut", data[:blob + 40])]:
            packages[name] = self.package(program, name + ".exe")
        cases = [
            ("", {"description": "before|after"}, (), "'|'"),
            # In code page 932 the second byte of this character is the bar's byte.
            ("", {"description": "\u30dd"}, ("--codepage", "cp932"), "byte of '|'"),
            ("", {"description": "caf\u00e9"}, ("--codepage", "cp1251"), "code page cp1251"),
            ("", {"description": None}, ("--description-file", self.package(b"a\0b", "text.txt")), "zero byte"),
            ("", {"publisher": PUBLISHER}, (), "not signed"),
            ("", {"publisher": "Orvex"}, ("--ca-file", path + ".none"), "--ca-file"),
            ("big", {}, ("--version", "1.0.0.0"), "at most 4294967295"),
            ("short", {}, ("--version", "1.0.0.0"), "too short"),
            ("none", {}, (), "can't read the package"),
            ("data", {}, (), "no version resource"),
            ("zero", {}, (), "no record"),
            ("too new", {}, (), "first component"),
            ("90", {}, (), "--patch-header publishes a copy"),
            ("90 signed", {}, ("--patch-header",), "carries a digital signature"),
            ("cut", {}, (), "damaged"),
        ]
        cases += [("", {"product": name}, (), "product name") for name in
                  ["", "..", "a/b", "a\\b", "a:b", "a|b", "a\tb", "a#b", "a%41", "a&b", "a;b", "n" * 50]]
        # Beyond 7607528 days the installer's next-check time overflows before the end of 9999.
        cases += [("", {"interval": interval}, (), "interval") for interval in ["-1", "1.5", "", "7607529"]]
        cases += [("", {}, ("--version", version), words) for version, words in
                  [("1.65536.0.0", "over 65535"), ("1.2.3", "four numbers"), ("32768.0.0.0", "first component")]]
        for package, options, extra, words in cases:
            with self.subTest(package=package, options=options, extra=extra):
                self.assertRefused(packages[package], words, *extra, **options)

    def test_usage_errors_exit_with_status_2(self):
        path = self.package(make_pe()[0])
        for publisher, extra, words in [(None, (), "--publisher"), ("", ("--ca-file", path), "--ca-file")]:
            code, _, err = self.run_tool(path, *extra, publisher=publisher)
            self.assertEqual((code, words in err), (2, True), err)


@unittest.skipUnless(shutil.which("osslsigncode") and "ORVEX_TEST_CERTIFICATES" in os.environ,
                     "needs osslsigncode and the built, signed sample setup (CTest names them)")
class Signed(PublishTest):
    """The built sample setup signed by the publisher the build pins, by another one, and not at all."""

    def test_only_the_publishers_signature_is_published(self):
        folder, publisher = os.path.dirname(os.environ["ORVEX_SAMPLE_SETUP"]), os.environ["ORVEX_PUBLISHER"]
        ca = ("--ca-file", os.path.join(os.environ["ORVEX_TEST_CERTIFICATES"], "root.crt"))
        signed = os.path.join(folder, "sample_setup.exe")
        with open(signed, "rb") as f:
            data = f.read()
        changed = data[:0x600] + bytes([data[0x600] ^ 1]) + data[0x601:]  # a byte of its code
        tampered = self.package(changed, "tampered.exe")
        self.assertRefused(os.path.join(folder, "sample_setup_other.exe"), "not by %r" % publisher, *ca, publisher=publisher)
        self.assertRefused(os.path.join(folder, "sample_setup_unsigned.exe"), "not signed", *ca, publisher=publisher)
        self.assertRefused(tampered, "changed after it was signed", *ca, publisher=publisher)
        self.assertRefused(signed, "not by %r" % publisher.lower(), *ca, publisher=publisher.lower())
        self.assertRefused(signed, "--ca-file ROOT.crt", publisher=publisher)  # the system's roots do not know it
        # A package changed between its check and its copy is not published.
        late = self.package(data, "late.exe")
        publication = publish.Publication(publish.parse_arguments(
            [late, "--product", "Q", "--interval", "7", "--description", "x", "--root", self.root,
             "--publisher", publisher, *ca]))
        with open(late, "wb") as f:
            f.write(changed)
        with self.assertRaisesRegex(publish.Refusal, "changed after its signature was checked"):
            publication.write()
        self.assertEqual(self.published(), [])
        self.assertIn(b"(signature verified)", self.assertPublishes(signed, *ca, publisher=publisher)[0])
        self.assertEqual(self.read(b"quillon/download/quillon_10-24-0-0.exe"), data)


if __name__ == "__main__":
    unittest.main()
