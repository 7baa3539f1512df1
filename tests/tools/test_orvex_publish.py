#!/usr/bin/env python3
"""Checks of the maker's publishing tool: the files it writes, what it
refuses, the header patch, the version it reads and the signer it requires.

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
TOOL_DIR = os.path.join(TOOLS, "publish")
TOOL = os.path.join(TOOL_DIR, "orvex_publish.py")
MAKE_CERTIFICATES = os.path.join(TOOLS, "signing", "make_test_certificates.sh")
SIGN_PACKAGE = os.path.join(TOOLS, "signing", "sign_package.sh")
sys.path.insert(0, TOOL_DIR)
import orvex_publish as publish  # noqa: E402

SIGNATURE = b"MZ\x01\x01"
PUBLISHER = "Orvex Test Publisher"
CODE = b"\x31\xc0\xc3".ljust(64, b"\xcc")   # xor eax, eax; ret


def version_blob(version):
    a, b, c, d = version
    fixed = struct.pack("<4I9I", 0xFEEF04BD, 0x10000, (a << 16) | b, (c << 16) | d, *([0] * 9))
    return struct.pack("<HHH", 92, 52, 0) + "VS_VERSION_INFO\0".encode("utf-16-le") + b"\0\0" + fixed


def make_pe(version=(1, 2, 3, 4), plus=False, head=SIGNATURE, names=None, signed=False, code=None):
    """A small PE file: a .rsrc section with version resources ((id, version)
    pairs in names; by default id 1) and, given code, a .text section.
    Gives the bytes and the file offsets of its parts."""
    names = names if names is not None else [(1, version)]
    n = len(names)
    rva = 0x1000
    name_dir, lang_dirs = 24, 24 + 16 + 8 * n
    entries = lang_dirs + 24 * n
    blobs = entries + 16 * n
    rsrc = struct.pack("<12xHH", 0, 1) + struct.pack("<II", 16, 0x80000000 | name_dir)
    rsrc += struct.pack("<12xHH", 0, n)
    rsrc += b"".join(struct.pack("<II", ident, 0x80000000 | (lang_dirs + 24 * i))
                     for i, (ident, _) in enumerate(names))
    rsrc += b"".join(struct.pack("<12xHH", 0, 1) + struct.pack("<II", 0x409, entries + 16 * i)
                     for i in range(n))
    rsrc += b"".join(struct.pack("<IIII", rva + blobs + 92 * i, 92, 0, 0) for i in range(n))
    rsrc += b"".join(version_blob(v) for _, v in names)

    optional_size = 240 if plus else 224
    optional = bytearray(optional_size)
    struct.pack_into("<H", optional, 0, 0x20B if plus else 0x10B)
    first_directory, count_offset = (112, 108) if plus else (96, 92)
    struct.pack_into("<I", optional, count_offset, 16)
    struct.pack_into("<II", optional, first_directory + 8 * 2, rva, len(rsrc))
    raw = 0x200
    code_raw = (raw + len(rsrc) + 0x1FF) & ~0x1FF
    body = rsrc if code is None else rsrc.ljust(code_raw - raw, b"\0") + code
    total = raw + len(body)
    if signed:
        struct.pack_into("<II", optional, first_directory + 8 * 4, total, 8)
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
    return data, {"coff": 68, "optional": optional_at, "section": optional_at + optional_size,
                  "rsrc": raw, "names": raw + name_dir, "entry": raw + entries,
                  "blob": raw + blobs, "code": code_raw}


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

    def arguments(self, package, *extra, product="Quillon", interval="7", description="New pages",
                  publisher=""):
        """Without the signature check unless a publisher is given."""
        args = [package, "--product", product, "--interval", interval, "--root", self.root,
                "--publisher=" + publisher]
        return args + (["--description", description] if description is not None else []) + list(extra)

    def run_tool(self, package, *extra, **options):
        """Runs the tool in this process: (exit code, standard output bytes, standard error)."""
        out, err = io.BytesIO(), io.StringIO()
        text = io.TextIOWrapper(out, write_through=True)
        with contextlib.redirect_stdout(text), contextlib.redirect_stderr(err):
            code = publish.main(self.arguments(package, *extra, **options))
        return code, out.getvalue(), err.getvalue()

    def publication(self, package, *extra, **options):
        return publish.Publication(publish.parse_arguments(self.arguments(package, *extra, **options)))

    def assertPublishes(self, package, *extra, **options):
        code, out, err = self.run_tool(package, *extra, **options)
        self.assertEqual(code, 0, err)
        return out, err

    def assertRefused(self, package, words, *extra, **options):
        before = self.published()
        code, _, err = self.run_tool(package, *extra, **options)
        self.assertEqual(code, 1, err)
        self.assertIn("refused", err)
        self.assertIn(words, err)
        self.assertEqual(self.published(), before, "a refusal writes nothing")

    def published(self):
        root = os.fsencode(self.root)
        return sorted(os.path.relpath(os.path.join(folder, f), root)
                      for folder, _, files in os.walk(root) for f in files)

    def read(self, *parts):
        with open(os.path.join(os.fsencode(self.root), *parts), "rb") as f:
            return f.read()


class Layout(PublishTest):
    def test_publishes_record_and_package_under_the_lowercase_name(self):
        data, _ = make_pe((2, 0, 1, 15))
        self.addCleanup(os.umask, os.umask(0o022))
        options = {"product": "QuillOn Viewer", "description": "Faster pages\nand caf\u00e9 fonts\r\n\n"}
        record = b"7|2.0.1.15|0.0.0.0|%d|QuillOn Viewer|Faster pages\r\nand caf\xe9 fonts|0.0.0.0|" % len(data)
        self.assertIn(record, self.assertPublishes(self.package(data), "--dry-run", **options)[0])
        self.assertEqual(self.published(), [], "a dry run writes nothing")
        out, _ = self.assertPublishes(self.package(data), **options)
        self.assertEqual(self.published(), [b"quillon viewer/download/quillon viewer_2-0-1-15.exe",
                                            b"quillon viewer/info.txt"])
        self.assertEqual(self.read(b"quillon viewer", b"info.txt"), record)
        self.assertEqual(self.read(b"quillon viewer", b"download", b"quillon viewer_2-0-1-15.exe"), data)
        self.assertIn(record, out)
        for name in self.published():
            mode = os.stat(os.path.join(os.fsencode(self.root), name)).st_mode
            self.assertTrue(mode & 0o004, "the web server must be able to read %r" % name)

    def test_republishing_replaces_both_files_and_leaves_no_temporary_file(self):
        second, _ = make_pe(names=[(1, (1, 0, 0, 0)), (2, (3, 3, 3, 3))])   # same version, other bytes
        self.assertPublishes(self.package(make_pe((1, 0, 0, 0))[0]), description="one")
        self.assertPublishes(self.package(second), description="two")
        self.assertEqual(self.published(), [b"quillon/download/quillon_1-0-0-0.exe", b"quillon/info.txt"])
        self.assertEqual(self.read(b"quillon", b"download", b"quillon_1-0-0-0.exe"), second)
        self.assertTrue(self.read(b"quillon", b"info.txt").endswith(b"|two|0.0.0.0|"))

    def test_a_package_that_changes_while_copied_leaves_the_old_publication(self):
        path = self.package(make_pe()[0])
        self.assertPublishes(path)
        before = {name: self.read(name) for name in self.published()}
        publication = self.publication(path, interval="9")
        with open(path, "ab") as f:
            f.write(b"grown")
        with self.assertRaisesRegex(publish.Refusal, "changed while it was being copied"):
            publication.write()
        self.assertEqual({name: self.read(name) for name in self.published()}, before)

    def test_write_failures_are_reported_without_a_traceback(self):
        path = self.package(make_pe()[0])
        in_the_way = os.path.join(os.fsencode(self.root), b"caf\xe9")   # the folder's name in cp1252
        open(in_the_way, "w").close()
        code, _, err = self.run_tool(path, product="Caf\u00e9")
        self.assertEqual(code, 1)
        self.assertIn("orvex_publish: error:", err)
        self.assertIn("caf\\xe9", err)
        os.remove(in_the_way)
        os.rmdir(self.root)
        code, _, err = self.run_tool(path)
        self.assertEqual((code, "not a folder" in err), (1, True), err)


class Refusals(PublishTest):
    def test_input_the_installer_could_not_read_back(self):
        data = make_pe()[0]
        path = self.package(data)
        room = publish.RECORD_LIMIT - len(b"7|1.2.3.4|0.0.0.0|%d|Quillon||0.0.0.0|" % len(data))
        cases = [
            ({"description": "before|after"}, (), "'|'"),
            # In code page 932 the second byte of this character is the bar's byte.
            ({"description": "\u30dd"}, ("--codepage", "cp932"), "byte of '|'"),
            ({"description": "caf\u00e9"}, ("--codepage", "cp1251"), "code page cp1251"),
            ({"description": "a\0b"}, (), "zero byte"),
            ({"description": None}, ("--description-file", self.package(b"caf\xe9", "d.txt")), "not UTF-8"),
            ({"description": "d" * (room + 1)}, (), "at most %d bytes" % room),
            # The rule holds for the bytes: this character's second byte is '\' in code page 932.
            ({"product": "\u8868"}, ("--codepage", "cp932"), "product name"),
        ]
        cases += [({"product": name}, (), "product name") for name in
                  ["", ".", "..", "a/b", "a\\b", "a:b", "a*b", "a?b", 'a"b', "a<b", "a>b", "a|b",
                   "a\tb", "a#b", "a%41", "a&b", "a;b", "n" * 50]]
        # Beyond 7607528 days the installer's next-check time overflows before the end of 9999.
        cases += [({"interval": interval}, (), "interval") for interval in
                  ["-1", "1.5", " 7", "7 ", "", "\u0667", "4294967296", "9" * 5000, "7607529"]]
        cases += [({}, ("--version", version), words) for version, words in
                  [("1.65536.0.0", "over 65535"), ("1.2.3." + "9" * 5000, "over 65535"),
                   ("1.2.3", "four numbers"), ("1.2.3.4.5", "four numbers"), ("1.-2.3.4", "four numbers"),
                   ("0.0.0.0", "no record"), ("32768.0.0.0", "first component")]]
        for options, extra, words in cases:
            with self.subTest(options=options, extra=extra):
                self.assertRefused(path, words, *extra, **options)
        for options, extra in [({"product": "n" * 49}, ()), ({"product": "..."}, ()),
                               ({"product": "caf\u00e9"}, ()), ({"interval": "0"}, ()), ({"interval": "7607528"}, ()),
                               ({}, ("--version", "00001.065535.0.0"))]:
            with self.subTest(accepted=options or extra):
                self.assertPublishes(path, "--dry-run", *extra, **options)
        self.assertPublishes(path, description="d" * room)
        self.assertEqual(len(self.read(b"quillon", b"info.txt")), publish.RECORD_LIMIT)

    def test_versions_from_the_package_or_the_command_line(self):
        path = self.package(make_pe()[0])
        out, err = self.assertPublishes(path, "--version", "1.2.3.5", "--dry-run")
        self.assertIn(b"|1.2.3.5|", out)
        self.assertIn("version resource says 1.2.3.4", err)
        self.assertRefused(self.package(make_pe((0, 0, 0, 0))[0]), "no record")
        self.assertRefused(self.package(make_pe((40000, 1, 2, 3))[0]), "first component")
        data = self.package(SIGNATURE + b"setup data")   # no program, so no version resource
        self.assertRefused(data, "--version")
        self.assertPublishes(data, "--version", "3.1.0.2")
        self.assertEqual(self.published(), [b"quillon/download/quillon_3-1-0-2.exe", b"quillon/info.txt"])

    def test_package_sizes_the_record_cannot_carry(self):
        path = os.path.join(self.work, "big.exe")
        with open(path, "wb") as f:
            f.write(SIGNATURE)
            f.truncate(2**32)   # sparse: nothing is read past the headers
        self.assertRefused(path, "at most 4294967295", "--version", "1.0.0.0")
        with open(path, "r+b") as f:
            f.truncate(2**32 - 1)
        out, _ = self.assertPublishes(path, "--version", "1.0.0.0", "--dry-run")
        self.assertIn(b"|4294967295|", out)
        self.assertRefused(self.package(b"MZ\x01"), "too short")


class Header(PublishTest):
    def test_patch_goes_to_the_published_copy_only(self):
        original, _ = make_pe(head=b"MZ\x90\x00")
        path = self.package(original)
        self.assertRefused(path, "--patch-header")
        self.assertPublishes(path, "--patch-header")
        self.assertEqual(self.read(b"quillon", b"download", b"quillon_1-2-3-4.exe"), SIGNATURE + original[4:])
        with open(path, "rb") as f:
            self.assertEqual(f.read(), original, "the input is never changed")

    def test_patch_refuses_what_it_cannot_patch_safely(self):
        self.assertRefused(self.package(b"MZ" + bytes(200)), "not one", "--patch-header", "--version", "1.0.0.0")
        self.assertRefused(self.package(make_pe(head=b"MZ\x90\x00", signed=True)[0]), "signature",
                           "--patch-header")
        # Without a certificate directory at all the program is unsigned.
        data, parts = make_pe(head=b"MZ\x90\x00")
        self.assertPublishes(self.package(patched(data, parts["optional"] + 92, "<I", 3)),
                             "--patch-header", "--dry-run")
        # A package that already begins with the signature needs no patch, signed or not.
        signed, _ = make_pe(signed=True)
        self.assertPublishes(self.package(signed), "--patch-header")
        self.assertEqual(self.read(b"quillon", b"download", b"quillon_1-2-3-4.exe"), signed)


class VersionResource(PublishTest):
    def test_reads_the_version_resource(self):
        data, p = make_pe()
        cases = [(make_pe((10, 24, 3, 65535))[0], (10, 24, 3, 65535)),
                 (make_pe((10, 24, 3, 65535), plus=True)[0], (10, 24, 3, 65535)),
                 (make_pe(names=[(2, (9, 9, 9, 9)), (1, (1, 2, 3, 4))])[0], (1, 2, 3, 4)),
                 (make_pe(names=[(7, (5, 6, 7, 8))])[0], (5, 6, 7, 8)),   # no id 1: the first
                 (patched(data, p["optional"] + 96 + 16, "<II", 0, 0), None),   # no resources
                 (patched(data, p["rsrc"] + 16, "<I", 3), None),   # an icon, not a version
                 (patched(data, p["optional"] + 92, "<I", 2), None)]   # two data directories
        for i, (program, version) in enumerate(cases):
            with self.subTest(i):
                package = publish.Package(self.package(program))
                self.assertEqual((package.damage, package.version), (None, version))
        self.assertRefused(self.package(cases[-1][0]), "no version resource")

    def test_damaged_programs_are_refused_by_name(self):
        data, p = make_pe()
        cases = {
            "cut in the section table": data[:p["section"] + 20],
            "cut in the resources": data[:p["blob"] + 40],
            "unknown optional header": patched(data, p["optional"], "<H", 0x107),
            "more directories than fit": patched(data, p["optional"] + 92, "<I", 17),
            "sections past the end": patched(data, p["coff"] + 2, "<H", 0xFFFF),
            "raw data past the end": patched(data, p["section"] + 20, "<I", 0xFFFFFF00),
            "resources outside the sections": patched(data, p["optional"] + 96 + 16, "<I", 0x9000),
            "section smaller than its resources": patched(data, p["section"] + 8, "<I", 24),
            "huge entry count": patched(data, p["names"] + 12, "<HH", 0xFFFF, 0xFFFF),
            "name entry not a directory": patched(data, p["names"] + 20, "<I", 0x30),
            "data entry past the section": patched(data, p["entry"], "<I", 0x7FFFFFFF),
            "data entry far too large": patched(data, p["entry"] + 4, "<I", 0xFFFFFFFF),
            "version too small": patched(data, p["entry"] + 4, "<I", 40),
            "wrong key": patched(data, p["blob"] + 6, "<H", ord("X")),
            "no fixed information": patched(data, p["blob"] + 40, "<I", 0xFEEF04BE),
            "lengths disagree": patched(data, p["blob"], "<H", 93),
        }
        for what, damaged in cases.items():
            with self.subTest(what):
                self.assertRefused(self.package(damaged), "damaged Windows program")
        # Three levels at most, however the entries point.
        self.assertRefused(self.package(patched(data, p["names"] + 20, "<I", 0x80000000)), "nests deeper")

    def test_random_damage_never_escapes_as_an_exception(self):
        rng = random.Random(7)
        for plus in (False, True):
            data, _ = make_pe(plus=plus, names=[(1, (1, 2, 3, 4)), (2, (5, 6, 7, 8))])
            for _ in range(1500):
                damaged = bytearray(data)
                for _ in range(rng.randint(1, 6)):
                    damaged[rng.randrange(64, len(damaged))] = rng.randrange(256)
                if rng.random() < 0.2:
                    damaged = damaged[:rng.randrange(64, len(damaged))]
                package = publish.Package(self.package(bytes(damaged)))
                if package.version is not None:
                    self.assertTrue(all(0 <= v <= 0xFFFF for v in package.version))

    def test_built_programs(self):
        built = {"ORVEX_SAMPLE_SETUP": ((10, 24, 0, 0), SIGNATURE),
                 "ORVEX_VIEWER_DOUBLE": ((10, 23, 0, 5), b"MZ\x90\x00")}
        if not any(name in os.environ for name in built):
            self.skipTest("no built programs named (CTest names them)")
        for name, (version, head) in built.items():
            with self.subTest(name):
                package = publish.Package(os.environ[name])
                self.assertEqual((package.damage, package.version, package.head), (None, version, head))


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
        run_quietly(["sh", MAKE_CERTIFICATES, cls.certificates, PUBLISHER])
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
        run_quietly(["sh", SIGN_PACKAGE, path, base + ".crt", base + ".key"])
        if nest is not None:
            base = os.path.join(self.certificates, nest)
            run_quietly(["osslsigncode", "sign", "-nest", "-h", "sha256", "-certs", base + ".crt",
                         "-key", base + ".key", "-in", path, "-out", path + ".nested"])
            os.replace(path + ".nested", path)
        return path

    def assertChecked(self, path, words=None, *extra, publisher=PUBLISHER):
        """Published when words is None, else refused with them."""
        extra = ("--ca-file", self.root_certificate) + extra
        if words is None:
            return self.assertPublishes(path, *extra, publisher=publisher)[0]
        self.assertRefused(path, words, *extra, publisher=publisher)

    def test_a_package_the_publisher_signed_is_published_as_it_is(self):
        path = self.signed()
        with open(path, "rb") as f:
            signed = f.read()
        out = self.assertChecked(path)
        self.assertIn(b"signer   /CN=Orvex Test Publisher/O=Orvex Test Publisher (signature verified)", out)
        self.assertEqual(self.read(b"quillon", b"download", b"quillon_1-2-3-4.exe"), signed)

    def test_the_common_name_or_the_organisation_names_the_publisher(self):
        for subject, publisher, words in [
                ("/CN=Quillon Build Service/O=Orvex Test Publisher", PUBLISHER, None),
                ("/O=Orvex Holdings/CN=Orvex Test Publisher", PUBLISHER, None),
                ("/CN=Caf\u00e9 Fen\u00eatre/O=Other", "Caf\u00e9 Fen\u00eatre", None),
                # Subject text that only looks like the publisher's name.
                ("/CN=Mallory\\/O=Orvex Test Publisher", PUBLISHER, "not by"),
                ("/CN=Orvex Test Publisher/CN=Mallory/O=Mallory", PUBLISHER, "not by")]:
            with self.subTest(subject):
                self.assertChecked(self.signed(name="made.exe", subject=subject), words, "--dry-run",
                                   publisher=publisher)

    def test_packages_a_pinned_installer_refuses(self):
        tampered = self.signed(name="tampered.exe")
        flipped(tampered, make_pe(code=CODE)[1]["code"] + 1)
        cases = [("unsigned", self.package(make_pe(code=CODE)[0], "unsigned.exe"), PUBLISHER, "not signed"),
                 ("no program", self.package(SIGNATURE + bytes(300), "data.exe"), PUBLISHER,
                  "not a Windows program"),
                 ("another publisher", self.signed("other", name="other.exe"), PUBLISHER,
                  "signed by /CN=Someone Else Entirely/O=Someone Else Entirely, not by 'Orvex Test Publisher'"),
                 ("changed after signing", tampered, PUBLISHER, "changed after it was signed"),
                 ("nested by the publisher", self.signed("other", name="nested.exe", nest="publisher"),
                  PUBLISHER, "signed by /CN=Someone Else Entirely")]
        path = self.signed()
        for near in ["orvex test publisher", "ORVEX TEST PUBLISHER", "Orvex Test", "Test Publisher",
                     "Orvex Test Publisher Ltd", " Orvex Test Publisher", "Orvex Test Publisher "]:
            cases.append(("name %r" % near, path, near, "not by %r" % near))
        for what, package, publisher, words in cases:
            with self.subTest(what):
                self.assertChecked(package, words, "--version", "1.0.0.0", publisher=publisher)
        # Only the primary signature counts.
        self.assertChecked(self.signed("publisher", name="primary.exe", nest="other"), None, "--dry-run")

    def test_the_signature_must_chain_to_a_trusted_root(self):
        path = self.signed()
        self.assertRefused(path, "--ca-file ROOT.crt", publisher=PUBLISHER)
        stranger = os.path.join(self.work, "stranger.crt")
        run_quietly(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-subj", "/CN=Stranger Root",
                     "-keyout", os.path.join(self.work, "stranger.key"), "-out", stranger, "-days", "30"])
        self.assertRefused(path, "does not verify", "--ca-file", stranger, publisher=PUBLISHER)

    def test_a_package_changed_after_its_check_is_not_published(self):
        path = self.signed()
        publication = self.publication(path, "--ca-file", self.root_certificate, publisher=PUBLISHER)
        flipped(path, make_pe(code=CODE)[1]["code"])
        with self.assertRaisesRegex(publish.Refusal, "changed after its signature was checked"):
            publication.write()
        self.assertEqual(self.published(), [])


# What osslsigncode 2.9 reports of a package the test publisher signed, abridged.
GOOD_REPORT = """\
Signature Index: 0  (Primary Signature)

Message digest algorithm  : SHA256
Current message digest    : AEE532FEE169473A2459E23EAB5DB128AFBC491822559C1196F58DA7BB130194 
Calculated message digest : AEE532FEE169473A2459E23EAB5DB128AFBC491822559C1196F58DA7BB130194 

Signer's certificate:
\t------------------
\tSigner #0:
\t\tSubject: /CN=Orvex Test Publisher/O=Orvex Test Publisher
\t\tSerial : 03C5AC13BBA9D2F8B904014AD2328EAC683FF72F

Signing certificate chain verified using:
\t------------------
\tSigner #0:
\t\tSubject: /CN=Orvex Test Publisher/O=Orvex Test Publisher
\t\tIssuer : /CN=Orvex Test Root

Signature verification: ok
Succeeded
"""


class VerifierReports(PublishTest):
    """The tool's reading of the verifier's report, from a stand-in for
    osslsigncode that says what each case needs."""

    def stand_in(self, report, status=0, pause=0):
        folder = os.path.join(self.work, "bin")
        os.makedirs(folder, exist_ok=True)
        program = os.path.join(folder, "osslsigncode")
        with open(program, "w") as f:
            f.write("#!%s\nimport sys, time\ntime.sleep(%r)\nsys.stdout.write(%r)\nsys.exit(%d)\n"
                    % (sys.executable, pause, report, status))
        os.chmod(program, 0o755)
        return mock.patch.dict(os.environ, {"PATH": folder})

    def test_reports_that_do_not_say_verified(self):
        digest = "AEE532FEE169473A2459E23EAB5DB128AFBC491822559C1196F58DA7BB130194"
        second_signer = "\tSigner #0:\n\t\tSubject: /CN=Orvex Test Publisher/O=Orvex Test Publisher\n"
        cases = {
            "verified": (GOOD_REPORT, None, 0),
            "failed": (GOOD_REPORT, "does not verify", 1),
            "no verdict": (GOOD_REPORT.replace("Signature verification: ok", ""), "does not verify", 0),
            "digests differ": (GOOD_REPORT.replace(digest + " \n\nSigner", "0" * 64 + " \n\nSigner"),
                               "changed after", 0),
            "no digest": (GOOD_REPORT.replace("Calculated message digest", "Calculated"), "does not verify", 0),
            "not the primary": (GOOD_REPORT.replace("(Primary Signature)", ""), "does not verify", 0),
            "no signature": ("No signature found\nUnable to extract existing signature\nFailed\n",
                             "no signature that osslsigncode can read (No signature found", 1),
            "two signers": (GOOD_REPORT.replace("Serial : 03C5AC13BBA9D2F8B904014AD2328EAC683FF72F\n",
                                                "Serial : 03C5\n" + second_signer, 1),
                            "names 2 signer certificates", 0),
            "unreadable": ("\x00\xff" * 1000, "no signature that osslsigncode can read", 0),
        }
        package = self.package(make_pe(signed=True)[0])
        for what, (report, words, status) in cases.items():
            with self.subTest(what), self.stand_in(report, status):
                if words is None:
                    self.assertPublishes(package, "--dry-run", publisher=PUBLISHER)
                else:
                    self.assertRefused(package, words, publisher=PUBLISHER)

    def test_the_verifier_is_bounded(self):
        package = self.package(make_pe(signed=True)[0])
        with self.stand_in("x" * (publish.VERIFY_REPORT_LIMIT + 1)):
            self.assertRefused(package, "wrote %d bytes" % (publish.VERIFY_REPORT_LIMIT + 1), publisher=PUBLISHER)
        with self.stand_in(GOOD_REPORT, pause=30), mock.patch.object(publish, "VERIFY_TIMEOUT_SECONDS", 1):
            self.assertRefused(package, "within 1 seconds", publisher=PUBLISHER)
        with mock.patch.dict(os.environ, {"PATH": self.work}):
            self.assertRefused(package, "apt-get install osslsigncode", publisher=PUBLISHER)

    def test_reading_printed_subjects(self):
        # Escapes osslsigncode really writes are read in Signed; these are the subjects it could print.
        for printed, publisher, names in [
                ("/CN=Orvex\\x20Test\\x20Publisher", PUBLISHER, False),   # a backslash in the name itself
                ("/CN=x+O=Orvex Test Publisher", PUBLISHER, False),
                ("/O=Orvex Test Publisher/CN=x+CN=y", PUBLISHER, False),
                ("/O=Orvex Test Publisher/O=Orvex Test Publisher", PUBLISHER, True),
                ("CN=Orvex Test Publisher", PUBLISHER, False),
                ("/CN", PUBLISHER, False)]:
            with self.subTest(printed):
                self.assertEqual(publish.subject_names(printed, publisher), names)


class CommandLine(unittest.TestCase):
    """The tool as makers run it, in a process of its own."""

    def test_exit_status_and_messages(self):
        with tempfile.TemporaryDirectory() as work:
            data, parts = make_pe()
            path, damaged = os.path.join(work, "setup.exe"), os.path.join(work, "damaged.exe")
            for name, content in ((path, data), (damaged, data[:parts["blob"] + 10])):
                with open(name, "wb") as f:
                    f.write(content)
            for what, package, extra, status, words in [
                    ("no publisher", path, [], 2, "--publisher"),
                    ("--ca-file without a check", path, ["--publisher=", "--ca-file", path], 2, "--ca-file"),
                    ("no such --ca-file", path, ["--publisher=Orvex", "--ca-file", path + ".none"], 1,
                     "--ca-file"),
                    ("unchecked", path, ["--publisher=", "--dry-run"], 0, "refuses the package"),
                    ("damaged", damaged, ["--publisher="], 1, "orvex_publish: refused:")]:
                with self.subTest(what):
                    result = subprocess.run([sys.executable, TOOL, package, "--product", "Quillon", "--interval",
                                             "7", "--description", "x", "--root", work] + extra,
                                            capture_output=True, text=True, timeout=60)
                    self.assertEqual(result.returncode, status, result.stderr)
                    self.assertIn(words, result.stderr)
                    self.assertNotIn("Traceback", result.stderr)


if __name__ == "__main__":
    unittest.main()
