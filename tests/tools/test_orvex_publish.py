#!/usr/bin/env python3
"""The publishing tool as makers use it: what it writes, what it refuses (exit
status 1, a message, nothing written) and its exit statuses.

The Signed checks need osslsigncode and openssl (tools/install-deps.sh).
CTest names built programs through ORVEX_SAMPLE_SETUP (version 10.24.0.0)
and ORVEX_VIEWER_DOUBLE (10.23.0.5, header "MZ", 0x90).
"""
import contextlib
import io
import os
import random
import shutil
import struct
import subprocess
import sys
import tempfile
import unittest
from unittest import mock

TOOLS = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "tools")
TOOL = os.path.join(TOOLS, "publish", "orvex_publish.py")
sys.path.insert(0, os.path.dirname(TOOL))
import orvex_publish as publish  # noqa: E402

SIGNATURE = b"MZ\x01\x01"
PUBLISHER = "Orvex Test Publisher"


def make_pe(version=(1, 2, 3, 4), plus=False, head=SIGNATURE, signed=False):
    """A small PE file: a .text section and a .rsrc section with one version
    resource. Gives the bytes and the offsets of the optional header and the
    version blob."""
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
    code = b"\x31\xc0\xc3".ljust(64, b"\xcc")  # xor eax, eax; ret
    body = rsrc.ljust(0x200, b"\0") + code
    if signed:
        struct.pack_into("<II", optional, first_directory + 32, raw + len(body), 8)
    dos = bytearray(64)
    dos[0:4] = head
    struct.pack_into("<I", dos, 0x3C, 64)
    sections = struct.pack("<8sIIII16x", b".rsrc", len(rsrc), rva, len(rsrc), raw)
    sections += struct.pack("<8sIIII12xI", b".text", len(code), 0x2000, len(code), raw + 0x200, 0x60000020)
    coff = struct.pack("<HHIIIHH", 0x8664 if plus else 0x14C, 2, 0, 0, 0, len(optional), 0x102)
    data = (bytes(dos) + b"PE\0\0" + coff + bytes(optional) + sections).ljust(raw, b"\0") + body
    return data + (b"\0" * 8 if signed else b""), {"optional": 88, "blob": raw + 0x58, "code": raw + 0x200}


def patched(data, offset, fmt, *values):
    data = bytearray(data)
    struct.pack_into(fmt, data, offset, *values)
    return bytes(data)


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
        """Runs the tool in this process: (exit code, standard output bytes, standard error)."""
        args = [package, "--product", product, "--interval", interval, "--root", self.root,
                "--publisher=" + publisher, "--description", description] + list(extra)
        out, err = io.BytesIO(), io.StringIO()
        text = io.TextIOWrapper(out, write_through=True)  # held: it closes out when it goes
        with contextlib.redirect_stdout(text), contextlib.redirect_stderr(err):
            code = publish.main(args)
        return code, out.getvalue(), err.getvalue()

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
        self.assertIn(record, self.assertPublishes(self.package(data), "--dry-run", **options)[0])
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

    def test_built_programs(self):
        built = {"ORVEX_SAMPLE_SETUP": ((10, 24, 0, 0), SIGNATURE), "ORVEX_VIEWER_DOUBLE": ((10, 23, 0, 5), b"MZ\x90\x00")}
        if not any(name in os.environ for name in built):
            self.skipTest("no built programs named (CTest names them)")
        for name, (version, head) in built.items():
            package = publish.Package(os.environ[name])
            self.assertEqual((package.damage, package.version, package.head), (None, version, head), name)


class Refusals(PublishTest):
    def test_every_refusal(self):
        data, p = make_pe()
        path = self.package(data)
        big = os.path.join(self.work, "big.exe")
        with open(big, "wb") as f:
            f.write(SIGNATURE)
            f.truncate(2**32)  # sparse
        packages = {
            "": path, "big": big, "short": self.package(b"MZ\x01", "short.exe"),
            "none": os.path.join(self.work, "missing.exe"), "data": self.package(SIGNATURE + b"setup", "data.exe"),
            "zero": self.package(make_pe((0, 0, 0, 0))[0], "zero.exe"),
            "too new": self.package(make_pe((32768, 1, 2, 3))[0], "new.exe"),
            "90": self.package(make_pe(head=b"MZ\x90\x00")[0], "90.exe"),
            "90 signed": self.package(make_pe(head=b"MZ\x90\x00", signed=True)[0], "90s.exe"),
            "cut": self.package(data[:p["blob"] + 40], "cut.exe"),
            "magic": self.package(patched(data, p["optional"], "<H", 0x107), "magic.exe"),
            "no fixed info": self.package(patched(data, p["blob"] + 40, "<I", 0xFEEF04BE), "nf.exe"),
        }
        cases = [
            ("", {"description": "before|after"}, (), "'|'"),
            # In code page 932 the second byte of this character is the bar's byte.
            ("", {"description": "\u30dd"}, ("--codepage", "cp932"), "byte of '|'"),
            ("", {"description": "caf\u00e9"}, ("--codepage", "cp1251"), "code page cp1251"),
            ("", {"description": "a\0b"}, (), "zero byte"),
            ("", {"publisher": PUBLISHER}, (), "not signed"),
            ("big", {}, ("--version", "1.0.0.0"), "at most 4294967295"),
            ("short", {}, ("--version", "1.0.0.0"), "too short"),
            ("none", {}, (), "can't read the package"),
            ("data", {}, (), "no version resource"),
            ("zero", {}, (), "no record"),
            ("too new", {}, (), "first component"),
            ("90", {}, (), "--patch-header publishes a copy"),
            ("90 signed", {}, ("--patch-header",), "carries a digital signature"),
            ("cut", {}, (), "damaged"), ("magic", {}, (), "damaged"), ("no fixed info", {}, (), "damaged"),
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

    def test_damaged_programs_give_a_version_or_a_refusal(self):
        rng = random.Random(7)
        for plus in (False, True):
            data, _ = make_pe(plus=plus)
            for _ in range(300):
                damaged = bytearray(data)
                for _ in range(rng.randint(1, 6)):
                    damaged[rng.randrange(64, len(damaged))] = rng.randrange(256)
                package = publish.Package(self.package(bytes(damaged[:rng.randrange(64, len(damaged) + 1)])))
                self.assertTrue(package.version is None or all(0 <= v <= 0xFFFF for v in package.version))

    def test_exit_statuses_of_the_program(self):
        path = self.package(make_pe()[0])
        for extra, status, words in [
                ([], 2, "--publisher"), (["--publisher=", "--ca-file", path], 2, "--ca-file"),
                (["--publisher=Orvex", "--ca-file", path + ".none"], 1, "--ca-file"),
                (["--publisher=", "--product", "a/b"], 1, "orvex_publish: refused:"),
                (["--publisher=", "--dry-run"], 0, "--publisher is empty")]:
            result = subprocess.run([sys.executable, TOOL, path, "--product", "Quillon", "--interval", "7",
                                     "--description", "x", "--root", self.root] + extra,
                                    capture_output=True, text=True, timeout=60)
            self.assertEqual((result.returncode, words in result.stderr, "Traceback" in result.stderr),
                             (status, True, False), result.stderr)


def run_quietly(command):
    result = subprocess.run(command, capture_output=True, text=True, timeout=120)
    if result.returncode != 0:
        raise AssertionError("%s failed: %s%s" % (" ".join(command[:3]), result.stdout, result.stderr))


@unittest.skipUnless(shutil.which("osslsigncode") and shutil.which("openssl"),
                     "signing test packages needs osslsigncode and openssl (tools/install-deps.sh)")
class Signed(PublishTest):
    """Packages signed with test certificates, checked by the real osslsigncode."""

    @classmethod
    def setUpClass(cls):
        cls.certificates = tempfile.mkdtemp(prefix="orvex-certificates-")
        run_quietly(["sh", os.path.join(TOOLS, "signing", "make_test_certificates.sh"), cls.certificates, PUBLISHER])
        cls.ca = os.path.join(cls.certificates, "root.crt")

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.certificates)

    def signed(self, signer, name):
        path = self.package(make_pe()[0], name)
        base = os.path.join(self.certificates, signer)
        run_quietly(["sh", os.path.join(TOOLS, "signing", "sign_package.sh"), path, base + ".crt", base + ".key"])
        return path

    def test_only_the_publishers_signature_is_published(self):
        path, other = self.signed("publisher", "setup.exe"), self.signed("other", "other.exe")
        tampered = self.signed("publisher", "tampered.exe")
        with open(tampered, "r+b") as f:
            f.seek(make_pe()[1]["code"] + 1)
            f.write(b"\x90")
        self.assertRefused(other, "not by 'Orvex Test Publisher'", "--ca-file", self.ca, publisher=PUBLISHER)
        self.assertRefused(tampered, "changed after it was signed", "--ca-file", self.ca, publisher=PUBLISHER)
        self.assertRefused(path, "not by 'orvex test publisher'", "--ca-file", self.ca, publisher=PUBLISHER.lower())
        self.assertRefused(path, "--ca-file ROOT.crt", publisher=PUBLISHER)  # the system's roots do not know it
        # A package changed between its check and its copy is not published.
        late = self.signed("publisher", "late.exe")
        publication = publish.Publication(publish.parse_arguments(
            [late, "--product", "Q", "--interval", "7", "--description", "x", "--root", self.root,
             "--publisher", PUBLISHER, "--ca-file", self.ca]))
        with open(late, "r+b") as f:
            f.seek(make_pe()[1]["code"])
            f.write(b"\x90")
        with self.assertRaisesRegex(publish.Refusal, "changed after its signature was checked"):
            publication.write()
        self.assertEqual(self.published(), [])
        out, _ = self.assertPublishes(path, "--ca-file", self.ca, publisher=PUBLISHER)
        self.assertIn(b"(signature verified)", out)
        with open(path, "rb") as f:
            self.assertEqual(self.read(b"quillon/download/quillon_1-2-3-4.exe"), f.read())


class VerifierReports(PublishTest):
    """What the tool makes of reports it does not expect, from a stand-in for osslsigncode."""

    def test_reports_that_do_not_say_verified_are_refused(self):
        digest = "AE" * 32
        good = ("Signature Index: 0  (Primary Signature)\nCurrent message digest    : %s \n"
                "Calculated message digest : %s \n\nSigner's certificate:\n\t------------------\n\tSigner #0:\n"
                "\t\tSubject: /CN=Orvex Test Publisher/O=Orvex Test Publisher\n\t\tSerial : 03C5\n\n"
                "Signature verification: ok\nSucceeded\n" % (digest, digest))
        cases = [
            ("verified", good, 0, None),
            ("failed", good, 1, "does not verify"),
            ("digests differ", good.replace(": %s \n\n" % digest, ": %s \n\n" % ("0" * 64)), 0, "changed after"),
            ("two signers", good.replace("Serial : 03C5\n", "Serial : 03C5\n\tSigner #1:\n\t\tSubject: /CN=x\n"), 0,
             "names 2 signer certificates"),
            ("look-alike subject", good.replace("/CN=Orvex Test Publisher/O=", "/CN=x+O="), 0, "not by"),
            ("not installed", None, 0, "apt-get install osslsigncode"),
        ]
        package = self.package(make_pe(signed=True)[0])
        program = os.path.join(self.work, "osslsigncode")
        for what, report, status, words in cases:
            with self.subTest(what), mock.patch.dict(os.environ, {"PATH": self.work}):
                if report is None:
                    os.remove(program)
                else:
                    with open(program, "w") as f:
                        f.write("#!%s\nimport sys\nsys.stdout.write(%r)\nsys.exit(%d)\n" % (sys.executable, report, status))
                    os.chmod(program, 0o755)
                if words is None:
                    self.assertPublishes(package, "--dry-run", publisher=PUBLISHER)
                else:
                    self.assertRefused(package, words, publisher=PUBLISHER)


if __name__ == "__main__":
    unittest.main()
