#!/usr/bin/env python3
"""The publishing tool as makers use it: what it writes, what it refuses
(exit status 1, nothing written), its exit statuses and the signer it requires.

The Signed checks need osslsigncode and openssl (tools/install-deps.sh).
CTest names built programs through ORVEX_SAMPLE_SETUP (version 10.24.0.0)
and ORVEX_VIEWER_DOUBLE (10.23.0.5, header "MZ", 0x90).

Run with: python3 tests/tools/test_orvex_publish.py
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
CODE = b"\x31\xc0\xc3".ljust(64, b"\xcc")   # xor eax, eax; ret


def make_pe(version=(1, 2, 3, 4), plus=False, head=SIGNATURE, names=None, signed=False, code=None):
    """A small PE file: a .rsrc section with version resources ((id, version)
    pairs in names; by default id 1) and, given code, a .text section.
    Gives the bytes and the file offsets of its parts."""
    names = names if names is not None else [(1, version)]
    n, rva = len(names), 0x1000
    name_dir, lang_dirs = 24, 24 + 16 + 8 * n
    entries = lang_dirs + 24 * n
    blobs = entries + 16 * n
    rsrc = struct.pack("<12xHHII", 0, 1, 16, 0x80000000 | name_dir) + struct.pack("<12xHH", 0, n)
    rsrc += b"".join(struct.pack("<II", ident, 0x80000000 | (lang_dirs + 24 * i)) for i, (ident, _) in enumerate(names))
    rsrc += b"".join(struct.pack("<12xHHII", 0, 1, 0x409, entries + 16 * i) for i in range(n))
    rsrc += b"".join(struct.pack("<IIII", rva + blobs + 92 * i, 92, 0, 0) for i in range(n))
    for _, (a, b, c, d) in names:
        rsrc += struct.pack("<HHH", 92, 52, 0) + "VS_VERSION_INFO\0".encode("utf-16-le") + b"\0\0"
        rsrc += struct.pack("<4I9I", 0xFEEF04BD, 0x10000, (a << 16) | b, (c << 16) | d, *([0] * 9))
    optional_size = 240 if plus else 224
    optional = bytearray(optional_size)
    first_directory, count_offset = (112, 108) if plus else (96, 92)
    struct.pack_into("<H", optional, 0, 0x20B if plus else 0x10B)
    struct.pack_into("<I", optional, count_offset, 16)
    struct.pack_into("<II", optional, first_directory + 8 * 2, rva, len(rsrc))
    raw = 0x200
    code_raw = (raw + len(rsrc) + 0x1FF) & ~0x1FF
    body = rsrc if code is None else rsrc.ljust(code_raw - raw, b"\0") + code
    if signed:
        struct.pack_into("<II", optional, first_directory + 8 * 4, raw + len(body), 8)
    dos = bytearray(64)
    dos[0:4] = head
    struct.pack_into("<I", dos, 0x3C, 64)
    sections = struct.pack("<8sIIII16x", b".rsrc", len(rsrc), rva, len(rsrc), raw)
    if code is not None:
        sections += struct.pack("<8sIIII12xI", b".text", len(code), 0x2000, len(code), code_raw, 0x60000020)
    coff = struct.pack("<HHIIIHH", 0x8664 if plus else 0x14C, len(sections) // 40, 0, 0, 0, optional_size, 0x102)
    headers = bytes(dos) + b"PE\0\0" + coff + bytes(optional) + sections
    data = headers.ljust(raw, b"\0") + body + (b"\0" * 8 if signed else b"")
    optional_at = 64 + 4 + 20
    return data, {"coff": 68, "optional": optional_at, "section": optional_at + optional_size, "rsrc": raw,
                  "names": raw + name_dir, "entry": raw + entries, "blob": raw + blobs, "code": code_raw}


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

    def run_tool(self, package, *extra, product="Quillon", interval="7", description="New pages", publisher="",
                 root=None):
        """Runs the tool in this process, without the signature check unless a
        publisher is given: (exit code, standard output bytes, standard error)."""
        args = [package, "--product", product, "--interval", interval, "--root", root or self.root,
                "--publisher=" + publisher] + (["--description", description] if description is not None else [])
        out, err = io.BytesIO(), io.StringIO()
        text = io.TextIOWrapper(out, write_through=True)
        with contextlib.redirect_stdout(text), contextlib.redirect_stderr(err):
            code = publish.main(args + list(extra))
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
        return sorted(os.path.relpath(os.path.join(folder, f), root) for folder, _, files in os.walk(root)
                      for f in files) if os.path.isdir(root) else []

    def read(self, *parts):
        with open(os.path.join(os.fsencode(self.root), *parts), "rb") as f:
            return f.read()


class Writes(PublishTest):
    def test_the_package_then_the_record_each_replaced_whole(self):
        data, _ = make_pe((2, 0, 1, 15))
        self.addCleanup(os.umask, os.umask(0o022))
        options = {"product": "QuillOn Viewer", "description": "Faster pages\nand caf\u00e9 fonts\r\n\n"}
        record = b"7|2.0.1.15|0.0.0.0|%d|QuillOn Viewer|Faster pages\r\nand caf\xe9 fonts|0.0.0.0|" % len(data)
        self.assertIn(record, self.assertPublishes(self.package(data), "--dry-run", **options)[0])
        self.assertEqual(self.published(), [], "a dry run writes nothing")
        self.assertIn(record, self.assertPublishes(self.package(data), **options)[0])
        files = [b"quillon viewer/download/quillon viewer_2-0-1-15.exe", b"quillon viewer/info.txt"]
        self.assertEqual(self.published(), files)
        self.assertEqual((self.read(files[0]), self.read(files[1])), (data, record))
        for name in files:
            self.assertTrue(os.stat(os.path.join(os.fsencode(self.root), name)).st_mode & 0o004, name)
        # Republished: both files replaced, no temporary file left.
        second, _ = make_pe((2, 0, 1, 15), names=[(1, (2, 0, 1, 15)), (2, (3, 3, 3, 3))])
        self.assertPublishes(self.package(second), product="QuillOn Viewer", description="two")
        self.assertEqual(self.published(), files)
        self.assertEqual(self.read(files[0]), second)
        self.assertTrue(self.read(files[1]).endswith(b"|two|0.0.0.0|"))
        # A package that changes while it is copied leaves the old publication, record included.
        path = self.package(second)
        publication = publish.Publication(publish.parse_arguments(
            [path, "--product", "QuillOn Viewer", "--interval", "9", "--description", "three", "--root", self.root,
             "--publisher="]))
        with open(path, "ab") as f:
            f.write(b"grown")
        with self.assertRaisesRegex(publish.Refusal, "changed while it was being copied"):
            publication.write()
        self.assertEqual((self.published(), self.read(files[0])), (files, second))
        self.assertTrue(self.read(files[1]).endswith(b"|two|0.0.0.0|"))

    def test_the_header_patch_goes_to_the_published_copy_only(self):
        original, _ = make_pe(head=b"MZ\x90\x00")
        path = self.package(original)
        self.assertPublishes(path, "--patch-header")
        self.assertEqual(self.read(b"quillon/download/quillon_1-2-3-4.exe"), SIGNATURE + original[4:])
        with open(path, "rb") as f:
            self.assertEqual(f.read(), original, "the input is never changed")
        # A package that already begins with the signature is copied as it is, signed or not.
        signed, _ = make_pe(signed=True)
        self.assertPublishes(self.package(signed), "--patch-header")
        self.assertEqual(self.read(b"quillon/download/quillon_1-2-3-4.exe"), signed)

    def test_edges_that_are_published(self):
        data = make_pe()[0]
        path = self.package(data)
        room = publish.RECORD_LIMIT - len(b"7|1.2.3.4|0.0.0.0|%d|Quillon||0.0.0.0|" % len(data))
        for extra, options in [((), {"product": "n" * 49}), ((), {"product": "..."}), ((), {"product": "caf\u00e9"}),
                               ((), {"interval": "0"}), ((), {"interval": "7607528"}),
                               (("--version", "00001.065535.0.0"), {})]:
            with self.subTest(extra=extra, options=options):
                self.assertPublishes(path, "--dry-run", *extra, **options)
        out, err = self.assertPublishes(path, "--version", "1.2.3.5", description="d" * room)
        self.assertIn("version resource says 1.2.3.4", err)
        self.assertEqual(len(self.read(b"quillon/info.txt")), publish.RECORD_LIMIT)
        self.assertTrue(self.read(b"quillon/info.txt").startswith(b"7|1.2.3.5|"))
        # Without a certificate directory at all a program is unsigned, so its header may be patched.
        self.assertPublishes(self.package(patched(make_pe(head=b"MZ\x90\x00")[0], 88 + 92, "<I", 3)), "--patch-header",
                             "--dry-run")
        self.assertPublishes(self.package(SIGNATURE + b"setup data"), "--version", "3.1.0.2")
        self.assertIn(b"quillon/download/quillon_3-1-0-2.exe", self.published())
        big = os.path.join(self.work, "big.exe")
        with open(big, "wb") as f:
            f.write(SIGNATURE)
            f.truncate(2**32 - 1)   # sparse: nothing is read past the headers
        self.assertIn(b"|4294967295|", self.assertPublishes(big, "--version", "1.0.0.0", "--dry-run")[0])


class Refusals(PublishTest):
    def test_every_refusal(self):
        data, p = make_pe()
        path = self.package(data)
        room = publish.RECORD_LIMIT - len(b"7|1.2.3.4|0.0.0.0|%d|Quillon||0.0.0.0|" % len(data))
        long_file = self.package(("d" * (publish.DESCRIPTION_FILE_LIMIT + 1)).encode(), "long.txt")
        big = os.path.join(self.work, "big.exe")
        with open(big, "wb") as f:
            f.write(SIGNATURE)
            f.truncate(2**32)
        open(os.path.join(os.fsencode(self.root), b"caf\xe9"), "w").close()   # in the way of the product folder
        packages = {
            "": path, "big": big, "short": self.package(b"MZ\x01", "short.exe"),
            "none": os.path.join(self.work, "missing.exe"),
            "data": self.package(SIGNATURE + b"setup data", "data.exe"),
            "no version": self.package(patched(data, p["optional"] + 92, "<I", 2), "nv.exe"),
            "zero": self.package(make_pe((0, 0, 0, 0))[0], "zero.exe"),
            "too new": self.package(make_pe((40000, 1, 2, 3))[0], "new.exe"),
            "90": self.package(make_pe(head=b"MZ\x90\x00")[0], "90.exe"),
            "90 signed": self.package(make_pe(head=b"MZ\x90\x00", signed=True)[0], "90s.exe"),
            "MZ data": self.package(b"MZ" + bytes(200), "mz.exe"),
        }
        cases = [
            ("", {"description": "before|after"}, (), "'|'"),
            # In code page 932 the second byte of this character is the bar's byte.
            ("", {"description": "\u30dd"}, ("--codepage", "cp932"), "byte of '|'"),
            ("", {"description": "caf\u00e9"}, ("--codepage", "cp1251"), "code page cp1251"),
            ("", {}, ("--codepage", "cp9999"), "unknown code page"),
            ("", {"description": "a\0b"}, (), "zero byte"),
            ("", {"description": "d" * (room + 1)}, (), "at most %d bytes" % room),
            ("", {"description": None}, ("--description-file", self.package(b"caf\xe9", "d.txt")), "not UTF-8"),
            ("", {"description": None}, ("--description-file", self.work + "/none.txt"), "can't read the desc"),
            ("", {"description": None}, ("--description-file", long_file), "far longer"),
            # The rule holds for the bytes: this character's second byte is '\' in code page 932.
            ("", {"product": "\u8868"}, ("--codepage", "cp932"), "product name"),
            ("", {"root": self.work + "/none"}, (), "not a folder"),
            ("", {"product": "Caf\u00e9"}, (), "error: File exists (%s/caf\\xe9)" % self.root),
            ("", {"publisher": PUBLISHER}, ("--ca-file", self.work + "/none.crt"), "--ca-file"),
            ("", {"publisher": PUBLISHER}, (), "not signed"),
            ("data", {"publisher": PUBLISHER}, ("--version", "1.0.0.0"), "carries no signature"),
            ("big", {}, ("--version", "1.0.0.0"), "at most 4294967295"),
            ("short", {}, ("--version", "1.0.0.0"), "too short"),
            ("none", {}, (), "can't read the package"),
            ("data", {}, (), "not a Windows program, so it has no version resource"),
            ("no version", {}, (), "no version resource; give"),
            ("zero", {}, (), "no record"),
            ("too new", {}, (), "first component"),
            ("90", {}, (), "--patch-header publishes a copy"),
            ("90 signed", {}, ("--patch-header",), "carries a digital signature"),
            ("MZ data", {}, ("--patch-header", "--version", "1.0.0.0"), "not one"),
        ]
        cases += [("", {"product": name}, (), "product name") for name in
                  ["", ".", "..", "a/b", "a\\b", "a:b", "a*b", "a?b", 'a"b', "a<b", "a>b", "a|b", "a\tb", "a#b",
                   "a%41", "a&b", "a;b", "n" * 50]]
        # Beyond 7607528 days the installer's next-check time overflows before the end of 9999.
        cases += [("", {"interval": interval}, (), "interval") for interval in
                  ["-1", "1.5", " 7", "7 ", "", "\u0667", "4294967296", "9" * 5000, "7607529"]]
        cases += [("", {}, ("--version", version), words) for version, words in
                  [("1.65536.0.0", "over 65535"), ("1.2.3." + "9" * 5000, "over 65535"),
                   ("1.2.3", "four numbers"), ("1.2.3.4.5", "four numbers"), ("1.-2.3.4", "four numbers"),
                   ("0.0.0.0", "no record"), ("32768.0.0.0", "first component")]]
        for package, options, extra, words in cases:
            with self.subTest(package=package, options=options, extra=extra):
                self.assertRefused(packages[package], words, *extra, **options)

    def test_programs_it_reads_or_refuses_as_damaged(self):
        data, p = make_pe()
        read = [(make_pe((10, 24, 3, 65535))[0], (10, 24, 3, 65535)),
                (make_pe((10, 24, 3, 65535), plus=True)[0], (10, 24, 3, 65535)),
                (make_pe(names=[(2, (9, 9, 9, 9)), (1, (1, 2, 3, 4))])[0], (1, 2, 3, 4)),
                (make_pe(names=[(7, (5, 6, 7, 8))])[0], (5, 6, 7, 8)),   # no id 1: the first
                (patched(data, p["optional"] + 96 + 16, "<II", 0, 0), None),   # no resources
                (patched(data, p["rsrc"] + 16, "<I", 3), None)]   # an icon, not a version
        for i, (program, version) in enumerate(read):
            with self.subTest(i):
                package = publish.Package(self.package(program))
                self.assertEqual((package.damage, package.version), (None, version))
        for damaged, words in [
                (data[:p["section"] + 20], "section table lies outside"),
                (data[:p["blob"] + 40], "lies outside the file"),
                (patched(data, p["optional"], "<H", 0x107), "unknown optional header"),
                (patched(data, p["optional"] + 92, "<I", 17), "too short for its 17"),
                (patched(data, p["coff"] + 2, "<H", 0xFFFF), "section table lies outside"),
                (patched(data, p["section"] + 20, "<I", 0xFFFFFF00), "outside the file"),
                (patched(data, p["optional"] + 96 + 16, "<I", 0x9000), "outside the file's sections"),
                (patched(data, p["section"] + 8, "<I", 24), "outside the file's sections"),
                (patched(data, p["names"] + 12, "<HH", 0xFFFF, 0xFFFF), "outside the file's sections"),
                (patched(data, p["names"] + 20, "<I", 0x30), "not a directory"),
                (patched(data, p["names"] + 12, "<HH", 0, 0), "directory is empty"),
                (patched(data, p["rsrc"] + 48 + 12, "<HH", 0, 0), "has no language"),
                (patched(data, p["names"] + 20, "<I", 0x80000000), "nests deeper"),
                (patched(data, p["entry"], "<I", 0x7FFFFFFF), "outside the file's sections"),
                (patched(data, p["entry"] + 4, "<I", 0xFFFFFFFF), "outside the file's sections"),
                (patched(data, p["entry"] + 4, "<I", 40), "too small"),
                (patched(data, p["blob"] + 6, "<H", ord("X")), "VS_VERSION_INFO"),
                (patched(data, p["blob"] + 40, "<I", 0xFEEF04BE), "no fixed file information"),
                (patched(data, p["blob"], "<H", 93), "lengths do not fit"),
                (patched(data, p["coff"] + 16, "<H", 90), "optional header is cut short"),
                (patched(data, p["coff"] + 16, "<H", 1), "optional header is missing")]:
            with self.subTest(words):
                self.assertRefused(self.package(damaged), words)
        # Random damage gives a version or a refusal, never an exception.
        rng = random.Random(7)
        for plus in (False, True):
            data, _ = make_pe(plus=plus, names=[(1, (1, 2, 3, 4)), (2, (5, 6, 7, 8))])
            for _ in range(1500):
                damaged = bytearray(data)
                for _ in range(rng.randint(1, 6)):
                    damaged[rng.randrange(64, len(damaged))] = rng.randrange(256)
                package = publish.Package(self.package(bytes(damaged[:rng.randrange(64, len(damaged) + 1)])))
                self.assertTrue(package.version is None or all(0 <= v <= 0xFFFF for v in package.version))

    def test_built_programs(self):
        built = {"ORVEX_SAMPLE_SETUP": ((10, 24, 0, 0), SIGNATURE), "ORVEX_VIEWER_DOUBLE": ((10, 23, 0, 5), b"MZ\x90\x00")}
        if not any(name in os.environ for name in built):
            self.skipTest("no built programs named (CTest names them)")
        for name, (version, head) in built.items():
            package = publish.Package(os.environ[name])
            self.assertEqual((package.damage, package.version, package.head), (None, version, head), name)


def run_quietly(command):
    result = subprocess.run(command, capture_output=True, text=True, timeout=120)
    if result.returncode != 0:
        raise AssertionError("%s failed: %s%s" % (" ".join(command[:3]), result.stdout, result.stderr))


def flipped(path, offset):
    with open(path, "r+b") as f:
        f.seek(offset)
        byte = f.read(1)
        f.seek(offset)
        f.write(bytes([byte[0] ^ 0x01]))


@unittest.skipUnless(shutil.which("osslsigncode") and shutil.which("openssl"),
                     "signing test packages needs osslsigncode and openssl (tools/install-deps.sh)")
class Signed(PublishTest):
    """Packages signed with test certificates, checked by the real osslsigncode."""

    @classmethod
    def setUpClass(cls):
        cls.certificates = tempfile.mkdtemp(prefix="orvex-certificates-")
        run_quietly(["sh", os.path.join(TOOLS, "signing", "make_test_certificates.sh"), cls.certificates, PUBLISHER])
        cls.root_certificate = os.path.join(cls.certificates, "root.crt")

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.certificates)

    def signed(self, signer="publisher", name="setup.exe", nest=None, subject=None):
        """A small program signed by a certificate of the test root: the signer's,
        or one made for this subject (openssl's -subj form); nest adds a second
        signature after the first."""
        path = self.package(make_pe(code=CODE)[0], name)
        base = os.path.join(self.certificates, signer)
        if subject is not None:
            base = os.path.join(self.work, "made")
            run_quietly(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-utf8", "-multivalue-rdn",
                         "-subj", subject, "-CA", self.root_certificate, "-CAkey",
                         os.path.join(self.certificates, "root.key"), "-days", "30",
                         "-addext", "basicConstraints=CA:FALSE", "-addext", "keyUsage=critical,digitalSignature",
                         "-addext", "extendedKeyUsage=codeSigning", "-keyout", base + ".key", "-out", base + ".crt"])
        run_quietly(["sh", os.path.join(TOOLS, "signing", "sign_package.sh"), path, base + ".crt", base + ".key"])
        if nest is not None:
            base = os.path.join(self.certificates, nest)
            run_quietly(["osslsigncode", "sign", "-nest", "-h", "sha256", "-certs", base + ".crt",
                         "-key", base + ".key", "-in", path, "-out", path + ".nested"])
            os.replace(path + ".nested", path)
        return path

    def test_only_the_publishers_signature_is_published(self):
        path = self.signed()
        with open(path, "rb") as f:
            signed = f.read()
        tampered = self.signed(name="tampered.exe")
        flipped(tampered, make_pe(code=CODE)[1]["code"] + 1)
        cases = [(path, PUBLISHER, None),
                 # Only the primary signature counts.
                 (self.signed("publisher", name="primary.exe", nest="other"), PUBLISHER, None),
                 (self.signed("other", name="nested.exe", nest="publisher"), PUBLISHER,
                  "signed by /CN=Someone Else Entirely/O=Someone Else Entirely, not by 'Orvex Test Publisher'"),
                 (tampered, PUBLISHER, "changed after it was signed")]
        cases += [(path, near, "not by %r" % near) for near in
                  ["orvex test publisher", "ORVEX TEST PUBLISHER", "Orvex Test", "Test Publisher",
                   "Orvex Test Publisher Ltd", " Orvex Test Publisher", "Orvex Test Publisher "]]
        for subject, publisher, words in [
                ("/CN=Quillon Build Service/O=Orvex Test Publisher", PUBLISHER, None),
                ("/O=Orvex Holdings/CN=Orvex Test Publisher", PUBLISHER, None),
                ("/CN=Caf\u00e9 Fen\u00eatre/O=Other", "Caf\u00e9 Fen\u00eatre", None),
                # Subject text that only looks like the publisher's name.
                ("/CN=Mallory\\/O=Orvex Test Publisher", PUBLISHER, "not by"),
                ("/CN=Orvex Test Publisher/CN=Mallory/O=Mallory", PUBLISHER, "not by")]:
            cases.append((self.signed(name="made%d.exe" % len(cases), subject=subject), publisher, words))
        for package, publisher, words in cases:
            with self.subTest(package=package, publisher=publisher):
                if words is None:
                    self.assertPublishes(package, "--ca-file", self.root_certificate, "--dry-run", publisher=publisher)
                else:
                    self.assertRefused(package, words, "--ca-file", self.root_certificate, publisher=publisher)
        out, _ = self.assertPublishes(path, "--ca-file", self.root_certificate, publisher=PUBLISHER)
        self.assertIn(b"signer   /CN=Orvex Test Publisher/O=Orvex Test Publisher (signature verified)", out)
        self.assertEqual(self.read(b"quillon/download/quillon_1-2-3-4.exe"), signed)

    def test_the_signature_must_chain_to_a_trusted_root(self):
        path = self.signed()
        self.assertRefused(path, "--ca-file ROOT.crt", publisher=PUBLISHER)
        stranger = os.path.join(self.work, "stranger.crt")
        run_quietly(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-subj", "/CN=Stranger Root",
                     "-keyout", os.path.join(self.work, "stranger.key"), "-out", stranger, "-days", "30"])
        self.assertRefused(path, "does not verify", "--ca-file", stranger, publisher=PUBLISHER)
        # A package changed between its check and its copy is not published.
        publication = publish.Publication(publish.parse_arguments(
            [path, "--product", "Quillon", "--interval", "7", "--description", "x", "--root", self.root,
             "--publisher", PUBLISHER, "--ca-file", self.root_certificate]))
        flipped(path, make_pe(code=CODE)[1]["code"])
        with self.assertRaisesRegex(publish.Refusal, "changed after its signature was checked"):
            publication.write()
        self.assertEqual(self.published(), [])


# What osslsigncode 2.9 reports of a package the test publisher signed, abridged.
DIGEST = "AEE532FEE169473A2459E23EAB5DB128AFBC491822559C1196F58DA7BB130194"
GOOD_REPORT = ("Signature Index: 0  (Primary Signature)\nCurrent message digest    : %s \n"
               "Calculated message digest : %s \n\nSigner's certificate:\n\t------------------\n\tSigner #0:\n"
               "\t\tSubject: /CN=Orvex Test Publisher/O=Orvex Test Publisher\n\t\tSerial : 03C5AC13BBA9D2F8\n\n"
               "Signature verification: ok\nSucceeded\n" % (DIGEST, DIGEST))


class VerifierReports(PublishTest):
    """The tool's reading of the verifier's report, from a stand-in for
    osslsigncode that says what each case needs."""

    def test_reports_that_do_not_say_verified(self):
        second_signer = "Serial : 03C5\n\tSigner #1:\n\t\tSubject: /CN=Orvex Test Publisher/O=Orvex Test Publisher\n"
        cases = [
            ("verified", GOOD_REPORT, 0, 0, None),
            ("failed", GOOD_REPORT, 1, 0, "does not verify"),
            ("no verdict", GOOD_REPORT.replace("Signature verification: ok", ""), 0, 0, "does not verify"),
            ("digests differ", GOOD_REPORT.replace(": " + DIGEST + " \n\n", ": " + "0" * 64 + " \n\n"), 0, 0,
             "changed after"),
            ("no digest", GOOD_REPORT.replace("Calculated message digest", "Calculated"), 0, 0, "does not verify"),
            ("not the primary", GOOD_REPORT.replace("(Primary Signature)", ""), 0, 0, "does not verify"),
            ("no signature", "No signature found\nUnable to extract existing signature\nFailed\n", 1, 0,
             "no signature that osslsigncode can read (No signature found"),
            ("two signers", GOOD_REPORT.replace("Serial : 03C5AC13BBA9D2F8\n", second_signer), 0, 0,
             "names 2 signer certificates"),
            ("unreadable", "\x00\xff" * 1000, 0, 0, "no signature that osslsigncode can read"),
            ("too long", "x" * (publish.VERIFY_REPORT_LIMIT + 1), 0, 0,
             "wrote %d bytes" % (publish.VERIFY_REPORT_LIMIT + 1)),
            ("too slow", GOOD_REPORT, 0, 30, "within 1 seconds"),
            ("not installed", None, 0, 0, "apt-get install osslsigncode"),
        ]
        # Subjects osslsigncode could print that only look like the publisher's (escapes it really
        # writes are read in Signed); one that names it twice.
        for printed, words in [("/CN=Orvex\\x20Test\\x20Publisher", "not by"), ("/CN=x+O=Orvex Test Publisher", "not by"),
                               ("/O=Orvex Test Publisher/CN=x+CN=y", "not by"), ("CN=Orvex Test Publisher", "not by"),
                               ("/CN", "not by"), ("/O=Orvex Test Publisher/O=Orvex Test Publisher", None)]:
            report = GOOD_REPORT.replace("/CN=Orvex Test Publisher/O=Orvex Test Publisher", printed)
            cases.append(("subject " + printed, report, 0, 0, words))
        package = self.package(make_pe(signed=True)[0])
        folder = os.path.join(self.work, "bin")
        os.makedirs(folder)
        program = os.path.join(folder, "osslsigncode")
        for what, report, status, pause, words in cases:
            with self.subTest(what), mock.patch.dict(os.environ, {"PATH": folder}), \
                    mock.patch.object(publish, "VERIFY_TIMEOUT_SECONDS", 1 if pause else 600):
                if report is None:
                    os.remove(program)
                else:
                    with open(program, "w") as f:
                        f.write("#!%s\nimport sys, time\ntime.sleep(%r)\nsys.stdout.write(%r)\nsys.exit(%d)\n"
                                % (sys.executable, pause, report, status))
                    os.chmod(program, 0o755)
                if words is None:
                    self.assertPublishes(package, "--dry-run", publisher=PUBLISHER)
                else:
                    self.assertRefused(package, words, publisher=PUBLISHER)


class CommandLine(PublishTest):
    def test_exit_statuses_of_the_program_itself(self):
        data, parts = make_pe()
        path, damaged = self.package(data), self.package(data[:parts["blob"] + 10], "damaged.exe")
        for package, extra, status, words in [
                (path, [], 2, "--publisher"), (path, ["--publisher=", "--ca-file", path], 2, "--ca-file"),
                (path, ["--publisher=Orvex", "--ca-file", path + ".none"], 1, "--ca-file"),
                (path, ["--publisher=", "--dry-run"], 0, "refuses the package"),
                (damaged, ["--publisher="], 1, "orvex_publish: refused:")]:
            result = subprocess.run([sys.executable, TOOL, package, "--product", "Quillon", "--interval", "7",
                                     "--description", "x", "--root", self.root] + extra,
                                    capture_output=True, text=True, timeout=60)
            self.assertEqual((result.returncode, words in result.stderr, "Traceback" in result.stderr),
                             (status, True, False), result.stderr)


if __name__ == "__main__":
    unittest.main()
