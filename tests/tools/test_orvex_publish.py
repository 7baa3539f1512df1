#!/usr/bin/env python3
"""Checks of the maker's publishing tool: what it refuses, the header patch,
the version it reads from hand-made and built programs, the publisher's
signature it requires, and the files it leaves on the server.

The signature checks sign small programs with test certificates made in a
temporary folder; they need osslsigncode and openssl (tools/install-deps.sh).

Run with: python3 tests/tools/test_orvex_publish.py
CTest also names built programs to read through the environment:
ORVEX_SAMPLE_SETUP (the sample setup package, version 10.24.0.0) and
ORVEX_VIEWER_DOUBLE (a viewer double of version 10.23.0.5, header "MZ", 0x90).
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


def version_blob(version, key="VS_VERSION_INFO"):
    a, b, c, d = version
    fixed = struct.pack("<4I9I", 0xFEEF04BD, 0x10000, (a << 16) | b, (c << 16) | d, *([0] * 9))
    return struct.pack("<HHH", 92, 52, 0) + (key + "\0").encode("utf-16-le") + b"\0\0" + fixed


def make_pe(version=(1, 2, 3, 4), plus=False, head=SIGNATURE, names=None, signed=False, code=None):
    """A small PE file with one .rsrc section holding version resources and,
    when code is given, a .text section after it.

    names lists (resource id, version) pairs; by default one resource, id 1.
    Returns the bytes and the file offsets of its parts."""
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
        self.root = os.path.join(self.work, "root")
        os.mkdir(self.root)

    def tearDown(self):
        shutil.rmtree(self.work)

    def package(self, data, name="setup.exe"):
        path = os.path.join(self.work, name)
        with open(path, "wb") as f:
            f.write(data)
        return path

    def run_tool(self, package, *extra, product="Quillon", interval="7", description="New pages",
                 publisher=""):
        """Runs the tool in this process: (exit code, standard output bytes, standard error).
        By default without the signature check, which the Signed tests make."""
        args = [package, "--product", product, "--interval", interval, "--root", self.root,
                "--publisher=" + publisher]
        if description is not None:
            args += ["--description", description]
        out, err = io.BytesIO(), io.StringIO()
        text = io.TextIOWrapper(out, write_through=True)
        with contextlib.redirect_stdout(text), contextlib.redirect_stderr(err):
            code = publish.main(args + list(extra))
        return code, out.getvalue(), err.getvalue()

    def published(self):
        found = []
        for folder, _, files in os.walk(os.fsencode(self.root)):
            found += [os.path.relpath(os.path.join(folder, f), os.fsencode(self.root)) for f in files]
        return sorted(found)

    def assertRefused(self, package, words, *extra, **kwargs):
        code, _, err = self.run_tool(package, *extra, **kwargs)
        self.assertEqual(code, 1, err)
        self.assertIn("refused", err)
        self.assertIn(words, err)
        self.assertEqual(self.published(), [], "a refusal writes nothing")

    def read(self, *parts):
        with open(os.path.join(os.fsencode(self.root), *parts), "rb") as f:
            return f.read()


class Layout(PublishTest):
    def test_publishes_record_and_package_under_the_lowercase_name(self):
        data, _ = make_pe((2, 0, 1, 15))
        umask = os.umask(0o022)
        self.addCleanup(os.umask, umask)
        code, out, err = self.run_tool(self.package(data), product="QuillOn Viewer",
                                       description="Faster pages\nand caf\u00e9 fonts\r\n\n")
        self.assertEqual(code, 0, err)
        self.assertEqual(self.published(), [b"quillon viewer/download/quillon viewer_2-0-1-15.exe",
                                            b"quillon viewer/info.txt"])
        record = b"7|2.0.1.15|0.0.0.0|%d|QuillOn Viewer|Faster pages\r\nand caf\xe9 fonts|0.0.0.0|" % len(data)
        self.assertEqual(self.read(b"quillon viewer", b"info.txt"), record)
        self.assertEqual(self.read(b"quillon viewer", b"download", b"quillon viewer_2-0-1-15.exe"), data)
        self.assertIn(record, out)
        for name in self.published():
            mode = os.stat(os.path.join(os.fsencode(self.root), name)).st_mode
            self.assertTrue(mode & 0o004, "the web server must be able to read %r" % name)

    def test_dry_run_prints_the_record_and_writes_nothing(self):
        data, _ = make_pe()
        code, out, _ = self.run_tool(self.package(data), "--dry-run", interval="0")
        self.assertEqual(code, 0)
        self.assertIn(b"0|1.2.3.4|0.0.0.0|%d|Quillon|New pages|0.0.0.0|" % len(data), out)
        self.assertEqual(self.published(), [])

    def test_republishing_replaces_both_files_and_leaves_no_temporary_file(self):
        first, _ = make_pe((1, 0, 0, 0))
        second, _ = make_pe((1, 0, 0, 0), names=[(1, (1, 0, 0, 0)), (2, (3, 3, 3, 3))])
        self.assertEqual(self.run_tool(self.package(first), description="one")[0], 0)
        self.assertEqual(self.run_tool(self.package(second), description="two")[0], 0)
        self.assertEqual(self.published(), [b"quillon/download/quillon_1-0-0-0.exe", b"quillon/info.txt"])
        self.assertEqual(self.read(b"quillon", b"download", b"quillon_1-0-0-0.exe"), second)
        self.assertTrue(self.read(b"quillon", b"info.txt").endswith(b"|two|0.0.0.0|"))

    def test_a_package_that_changes_while_copied_leaves_the_old_publication(self):
        data, _ = make_pe()
        path = self.package(data)
        self.assertEqual(self.run_tool(path)[0], 0)
        before = self.published(), self.read(b"quillon", b"info.txt")
        options = publish.parse_arguments([path, "--product", "Quillon", "--interval", "9",
                                           "--description", "x", "--root", self.root, "--publisher="])
        publication = publish.Publication(options)
        with open(path, "ab") as f:
            f.write(b"grown")
        with self.assertRaisesRegex(publish.Refusal, "changed while it was being copied"):
            publication.write()
        self.assertEqual((self.published(), self.read(b"quillon", b"info.txt")), before)

    def test_write_failures_are_reported_without_a_traceback(self):
        data, _ = make_pe()
        in_the_way = os.path.join(os.fsencode(self.root), b"caf\xe9")   # the folder's name in cp1252
        with open(in_the_way, "w"):
            pass  # a file where the product folder goes
        code, _, err = self.run_tool(self.package(data), product="Caf\u00e9")
        self.assertEqual(code, 1)
        self.assertIn("orvex_publish: error:", err)
        self.assertIn("caf\\xe9", err)
        os.remove(in_the_way)
        os.rmdir(self.root)
        code, _, err = self.run_tool(self.package(data))
        self.assertEqual((code, "not a folder" in err), (1, True), err)


class Refusals(PublishTest):
    def test_descriptions_the_record_cannot_carry(self):
        path = self.package(make_pe()[0])
        self.assertRefused(path, "'|'", description="before|after")
        # In code page 932 the second byte of this character is the bar's byte.
        self.assertRefused(path, "byte of '|'", "--codepage", "cp932", description="\u30dd")
        self.assertRefused(path, "code page cp1251", "--codepage", "cp1251", description="caf\u00e9")
        self.assertRefused(path, "zero byte", description="a\0b")
        self.assertRefused(path, "not UTF-8", "--description-file", self.package(b"caf\xe9", "d.txt"),
                           description=None)
        room = publish.RECORD_LIMIT - len(publish.build_record(7, (1, 2, 3, 4), len(make_pe()[0]),
                                                               b"Quillon", b""))
        self.assertRefused(path, "at most %d bytes" % room, description="d" * (room + 1))
        self.assertEqual(self.run_tool(path, description="d" * room)[0], 0)
        self.assertEqual(len(self.read(b"quillon", b"info.txt")), publish.RECORD_LIMIT)

    def test_product_names_the_control_refuses(self):
        path = self.package(make_pe()[0])
        for name in ["", ".", "..", "a/b", "a\\b", "a:b", "a*b", "a?b", 'a"b', "a<b", "a>b", "a|b",
                     "a\tb", "a#b", "a%41", "n" * 50]:
            with self.subTest(name=name):
                code, _, err = self.run_tool(path, "--dry-run", product=name)
                self.assertEqual(code, 1, err)
                self.assertIn("product name", err)
        # The rule holds for the bytes: this character's second byte is '\' in code page 932.
        self.assertRefused(path, "product name", "--codepage", "cp932", product="\u8868")
        for name in ["n" * 49, "...", "Quillon Viewer", "caf\u00e9"]:
            self.assertEqual(self.run_tool(path, "--dry-run", product=name)[0], 0, name)

    def test_intervals_the_record_cannot_carry(self):
        path = self.package(make_pe()[0])
        for interval in ["-1", "1.5", " 7", "7 ", "", "\u0667", "4294967296", "9" * 5000,
                         str(publish.MAX_INTERVAL_DAYS + 1)]:
            with self.subTest(interval=interval):
                code, _, err = self.run_tool(path, "--dry-run", interval=interval)
                self.assertEqual(code, 1, err)
                self.assertIn("interval", err)
        # The longest interval still fits the installer's 64-bit next-check time.
        self.assertLess(publish.FILETIME_END_OF_9999 + publish.MAX_INTERVAL_DAYS * 864_000_000_000, 2**63)
        self.assertEqual(self.run_tool(path, "--dry-run", interval=str(publish.MAX_INTERVAL_DAYS))[0], 0)

    def test_versions_the_installer_cannot_use(self):
        path = self.package(make_pe()[0])
        for version, words in [("1.65536.0.0", "over 65535"), ("1.2.3." + "9" * 5000, "over 65535"),
                               ("1.2.3", "four numbers"),
                               ("1.2.3.4.5", "four numbers"), ("1.-2.3.4", "four numbers"),
                               ("0.0.0.0", "no record"), ("32768.0.0.0", "first component")]:
            self.assertRefused(path, words, "--version", version)
        self.assertEqual(self.run_tool(path, "--version", "00001.065535.0.0", "--dry-run")[0], 0)
        code, out, err = self.run_tool(path, "--version", "1.2.3.5", "--dry-run")
        self.assertEqual((code, b"|1.2.3.5|" in out), (0, True))
        self.assertIn("version resource says 1.2.3.4", err)
        self.assertRefused(self.package(make_pe((0, 0, 0, 0))[0]), "no record")
        self.assertRefused(self.package(make_pe((40000, 1, 2, 3))[0]), "first component")

    def test_package_sizes_the_record_cannot_carry(self):
        path = os.path.join(self.work, "big.exe")
        with open(path, "wb") as f:
            f.write(SIGNATURE)
            f.truncate(2**32)   # sparse: nothing is read past the headers
        self.assertRefused(path, "at most 4294967295", "--version", "1.0.0.0")
        with open(path, "r+b") as f:
            f.truncate(2**32 - 1)
        code, out, _ = self.run_tool(path, "--version", "1.0.0.0", "--dry-run")
        self.assertEqual(code, 0)
        self.assertIn(b"|4294967295|", out)
        self.assertRefused(self.package(b"MZ\x01"), "too short")


class Header(PublishTest):
    def test_patch_goes_to_the_published_copy_only(self):
        original, _ = make_pe(head=b"MZ\x90\x00")
        path = self.package(original)
        self.assertRefused(path, "--patch-header")
        code, _, err = self.run_tool(path, "--patch-header")
        self.assertEqual(code, 0, err)
        copy = self.read(b"quillon", b"download", b"quillon_1-2-3-4.exe")
        self.assertEqual(copy, SIGNATURE + original[4:])
        with open(path, "rb") as f:
            self.assertEqual(f.read(), original, "the input is never changed")

    def test_patch_refuses_what_it_cannot_patch_safely(self):
        self.assertRefused(self.package(b"MZ" + bytes(200)), "not one", "--patch-header", "--version", "1.0.0.0")
        self.assertRefused(self.package(b"\x7fELF" + bytes(200)), "not one", "--patch-header", "--version", "1.0.0.0")
        self.assertRefused(self.package(make_pe(head=b"MZ\x90\x00", signed=True)[0]), "signature",
                           "--patch-header")
        # Without a certificate directory at all the program is unsigned.
        data, parts = make_pe(head=b"MZ\x90\x00")
        self.assertEqual(self.run_tool(self.package(patched(data, parts["optional"] + 92, "<I", 3)),
                                       "--patch-header", "--dry-run")[0], 0)
        # A package that already begins with the signature needs no patch, signed or not.
        signed, _ = make_pe(signed=True)
        self.assertEqual(self.run_tool(self.package(signed), "--patch-header")[0], 0)
        self.assertEqual(self.read(b"quillon", b"download", b"quillon_1-2-3-4.exe"), signed)

    def test_a_package_that_is_no_program_needs_a_version(self):
        path = self.package(SIGNATURE + b"setup data")
        self.assertRefused(path, "--version")
        self.assertEqual(self.run_tool(path, "--version", "3.1.0.2")[0], 0)
        self.assertEqual(self.published(), [b"quillon/download/quillon_3-1-0-2.exe", b"quillon/info.txt"])


class VersionResource(PublishTest):
    def version_of(self, data):
        package = publish.Package(self.package(data))
        if package.damage is not None:
            raise package.damage
        return package.version

    def test_reads_pe32_and_pe32_plus(self):
        for plus in (False, True):
            self.assertEqual(self.version_of(make_pe((10, 24, 3, 65535), plus=plus)[0]), (10, 24, 3, 65535))

    def test_prefers_the_resource_numbered_one(self):
        data, _ = make_pe(names=[(2, (9, 9, 9, 9)), (1, (1, 2, 3, 4))])
        self.assertEqual(self.version_of(data), (1, 2, 3, 4))
        data, _ = make_pe(names=[(7, (5, 6, 7, 8))])
        self.assertEqual(self.version_of(data), (5, 6, 7, 8))

    def test_a_program_without_version_resource(self):
        data, parts = make_pe()
        no_resources = patched(data, parts["optional"] + 96 + 16, "<II", 0, 0)
        self.assertIsNone(self.version_of(no_resources))
        other_type = patched(data, parts["rsrc"] + 16, "<I", 3)   # an icon, not a version
        self.assertIsNone(self.version_of(other_type))
        two_directories = patched(data, parts["optional"] + 92, "<I", 2)
        self.assertIsNone(self.version_of(two_directories))
        self.assertRefused(self.package(no_resources), "no version resource")

    def test_damaged_programs_are_refused_by_name(self):
        data, p = make_pe()
        rsrc_dir = p["optional"] + 96 + 16
        cases = {
            "cut in the section table": data[:p["section"] + 20],
            "cut in the resources": data[:p["blob"] + 40],
            "unknown optional header": patched(data, p["optional"], "<H", 0x107),
            "more directories than fit": patched(data, p["optional"] + 92, "<I", 17),
            "sections past the end": patched(data, p["coff"] + 2, "<H", 0xFFFF),
            "raw data past the end": patched(data, p["section"] + 20, "<I", 0xFFFFFF00),
            "resources outside the sections": patched(data, rsrc_dir, "<I", 0x9000),
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
        loop = patched(data, p["names"] + 20, "<I", 0x80000000)
        self.assertRefused(self.package(loop), "nests deeper")

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
                self.assertIsNone(package.damage)
                self.assertEqual((package.version, package.head), (version, head))


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
                     "signing test packages needs osslsigncode and openssl (tools/install-deps.sh"
                     " installs both)")
class Signed(PublishTest):
    """Packages signed with test certificates, checked by the real osslsigncode."""

    @classmethod
    def setUpClass(cls):
        cls.certificates = tempfile.mkdtemp(prefix="orvex-certificates-")
        run_quietly(["sh", MAKE_CERTIFICATES, cls.certificates, PUBLISHER])
        cls.root_certificate = os.path.join(cls.certificates, "root.crt")
        cls.made = 0

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.certificates)

    def signed(self, signer="publisher", name="setup.exe", nest=None):
        """A small program signed by a certificate of the test root; nest adds
        a second signature after the first."""
        path = self.package(make_pe(code=CODE)[0], name)
        base = os.path.join(self.certificates, signer)
        run_quietly(["sh", SIGN_PACKAGE, path, base + ".crt", base + ".key"])
        if nest is not None:
            base = os.path.join(self.certificates, nest)
            run_quietly(["osslsigncode", "sign", "-nest", "-h", "sha256", "-certs", base + ".crt",
                         "-key", base + ".key", "-in", path, "-out", path + ".nested"])
            os.replace(path + ".nested", path)
        return path

    def certificate_for(self, subject):
        """A code-signing certificate of the test root for this subject
        (openssl's -subj form); returns its name for signed()."""
        type(self).made += 1
        name = "made%d" % self.made
        base = os.path.join(self.certificates, name)
        extensions = base + ".ext"
        with open(extensions, "w") as f:
            f.write("basicConstraints = CA:FALSE\nkeyUsage = critical, digitalSignature\n"
                    "extendedKeyUsage = codeSigning\n")
        run_quietly(["openssl", "req", "-new", "-newkey", "rsa:2048", "-nodes", "-utf8", "-multivalue-rdn",
                     "-subj", subject, "-keyout", base + ".key", "-out", base + ".csr"])
        run_quietly(["openssl", "x509", "-req", "-in", base + ".csr", "-CA", self.root_certificate,
                     "-CAkey", os.path.join(self.certificates, "root.key"), "-set_serial", str(1000 + self.made),
                     "-days", "30", "-extfile", extensions, "-out", base + ".crt"])
        return name

    def publish(self, path, *extra, publisher=PUBLISHER):
        return self.run_tool(path, "--ca-file", self.root_certificate, *extra, publisher=publisher)

    def test_a_package_the_publisher_signed_is_published_as_it_is(self):
        path = self.signed()
        with open(path, "rb") as f:
            signed = f.read()
        code, out, err = self.publish(path)
        self.assertEqual(code, 0, err)
        self.assertIn(b"signer   /CN=Orvex Test Publisher/O=Orvex Test Publisher (signature verified)", out)
        self.assertEqual(self.read(b"quillon", b"download", b"quillon_1-2-3-4.exe"), signed)
        # Either the common name or the organisation names the publisher.
        for subject, publisher in [("/CN=Quillon Build Service/O=Orvex Test Publisher", PUBLISHER),
                                   ("/O=Orvex Holdings/CN=Orvex Test Publisher", PUBLISHER),
                                   ("/CN=Caf\u00e9 Fen\u00eatre/O=Other", "Caf\u00e9 Fen\u00eatre")]:
            with self.subTest(subject):
                path = self.signed(self.certificate_for(subject), name="made.exe")
                code, _, err = self.publish(path, "--dry-run", publisher=publisher)
                self.assertEqual(code, 0, err)

    def test_packages_a_pinned_installer_refuses(self):
        tampered = self.signed(name="tampered.exe")
        flipped(tampered, make_pe(code=CODE)[1]["code"] + 1)
        cases = [("unsigned", self.package(make_pe(code=CODE)[0], "unsigned.exe"), PUBLISHER, "not signed"),
                 ("no program", self.package(SIGNATURE + bytes(300), "data.exe"), PUBLISHER,
                  "not a Windows program"),
                 ("another publisher", self.signed("other", name="other.exe"), PUBLISHER,
                  "signed by /CN=Someone Else Entirely/O=Someone Else Entirely, not by 'Orvex Test Publisher'"),
                 ("changed after signing", tampered, PUBLISHER, "changed after it was signed")]
        path = self.signed()
        for near in ["orvex test publisher", "ORVEX TEST PUBLISHER", "Orvex Test", "Test Publisher",
                     "Orvex Test Publisher Ltd", " Orvex Test Publisher", "Orvex Test Publisher "]:
            cases.append(("name %r" % near, path, near, "not by %r" % near))
        for what, package, publisher, words in cases:
            with self.subTest(what):
                self.assertRefused(package, words, "--ca-file", self.root_certificate, "--version", "1.0.0.0",
                                   publisher=publisher)

    def test_the_signature_must_chain_to_a_trusted_root(self):
        path = self.signed()
        self.assertRefused(path, "--ca-file ROOT.crt", publisher=PUBLISHER)
        stranger = os.path.join(self.work, "stranger.crt")
        run_quietly(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-subj", "/CN=Stranger Root",
                     "-keyout", os.path.join(self.work, "stranger.key"), "-out", stranger, "-days", "30"])
        self.assertRefused(path, "does not verify", "--ca-file", stranger, publisher=PUBLISHER)

    def test_the_primary_signature_decides(self):
        code, _, err = self.publish(self.signed("publisher", nest="other"), "--dry-run")
        self.assertEqual(code, 0, err)
        self.assertRefused(self.signed("other", nest="publisher"), "signed by /CN=Someone Else Entirely",
                           "--ca-file", self.root_certificate, publisher=PUBLISHER)

    def test_subject_text_cannot_pass_for_the_publisher(self):
        for subject in ["/CN=Mallory\\/O=Orvex Test Publisher",
                        "/CN=Orvex Test Publisher/CN=Mallory/O=Mallory"]:
            with self.subTest(subject):
                path = self.signed(self.certificate_for(subject), name="made.exe")
                self.assertRefused(path, "not by", "--ca-file", self.root_certificate, publisher=PUBLISHER)

    def test_a_package_changed_after_its_check_is_not_published(self):
        path = self.signed()
        options = publish.parse_arguments([path, "--product", "Quillon", "--interval", "9", "--description",
                                           "x", "--root", self.root, "--publisher", PUBLISHER,
                                           "--ca-file", self.root_certificate])
        publication = publish.Publication(options)
        flipped(path, make_pe(code=CODE)[1]["code"])
        with self.assertRaisesRegex(publish.Refusal, "changed after its signature was checked"):
            publication.write()
        self.assertEqual(self.published(), [])


# What osslsigncode 2.9 reports of a package the test publisher signed.
GOOD_REPORT = """\
PE checksum   : 0000E996

Signature Index: 0  (Primary Signature)

Message digest algorithm  : SHA256
Current message digest    : AEE532FEE169473A2459E23EAB5DB128AFBC491822559C1196F58DA7BB130194 
Calculated message digest : AEE532FEE169473A2459E23EAB5DB128AFBC491822559C1196F58DA7BB130194 

Signer's certificate:
\t------------------
\tSigner #0:
\t\tSubject: /CN=Orvex Test Publisher/O=Orvex Test Publisher
\t\tIssuer : /CN=Orvex Test Root
\t\tSerial : 03C5AC13BBA9D2F8B904014AD2328EAC683FF72F

Message digest algorithm: SHA256

Signing certificate chain verified using:
\t------------------
\tSigner #1:
\t\tSubject: /CN=Orvex Test Root
\t\tIssuer : /CN=Orvex Test Root

\t------------------
\tSigner #0:
\t\tSubject: /CN=Orvex Test Publisher/O=Orvex Test Publisher
\t\tIssuer : /CN=Orvex Test Root

Signature verification: ok

Number of verified signatures: 1
Succeeded
"""


class VerifierReports(PublishTest):
    """The tool's reading of what the verifier says, with a stand-in for
    osslsigncode that says what each case needs."""

    def stand_in(self, report, status=0, pause=0):
        folder = os.path.join(self.work, "bin")
        os.makedirs(folder, exist_ok=True)
        with open(os.path.join(self.work, "report.txt"), "w") as f:
            f.write(report)
        program = os.path.join(folder, "osslsigncode")
        with open(program, "w") as f:
            f.write("#!%s\nimport sys, time\ntime.sleep(%r)\nsys.stdout.write(open(%r).read())\nsys.exit(%d)\n"
                    % (sys.executable, pause, os.path.join(self.work, "report.txt"), status))
        os.chmod(program, 0o755)
        return mock.patch.dict(os.environ, {"PATH": folder})

    def check(self, report, words=None, status=0):
        shutil.rmtree(self.root)
        os.mkdir(self.root)
        package = self.package(make_pe(signed=True)[0])
        with self.stand_in(report, status):
            if words is None:
                code, _, err = self.run_tool(package, "--dry-run", publisher=PUBLISHER)
                self.assertEqual(code, 0, err)
            else:
                self.assertRefused(package, words, publisher=PUBLISHER)

    def test_reports_that_do_not_say_verified(self):
        self.check(GOOD_REPORT)
        digest = "AEE532FEE169473A2459E23EAB5DB128AFBC491822559C1196F58DA7BB130194"
        second_signer = "\tSigner #0:\n\t\tSubject: /CN=Orvex Test Publisher/O=Orvex Test Publisher\n"
        cases = {
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
        for what, (report, words, status) in cases.items():
            with self.subTest(what):
                self.check(report, words, status)

    def test_the_verifier_is_bounded(self):
        package = self.package(make_pe(signed=True)[0])
        with self.stand_in("x" * (publish.VERIFY_REPORT_LIMIT + 1)):
            self.assertRefused(package, "wrote %d bytes" % (publish.VERIFY_REPORT_LIMIT + 1), publisher=PUBLISHER)
        with self.stand_in(GOOD_REPORT, pause=30), mock.patch.object(publish, "VERIFY_TIMEOUT_SECONDS", 1):
            self.assertRefused(package, "within 1 seconds", publisher=PUBLISHER)
        with mock.patch.dict(os.environ, {"PATH": self.work}):
            self.assertRefused(package, "apt-get install osslsigncode", publisher=PUBLISHER)

    def test_reading_printed_subjects(self):
        for printed, publisher, names in [
                ("/CN=Caf\\xC3\\xA9 Ltd/O=x", "Caf\u00e9 Ltd", True),
                ("/CN=Orvex\\x20Test\\x20Publisher", PUBLISHER, False),   # a backslash in the name itself
                ("/CN=a\\/b", "a/b", True),
                ("/CN=x+O=Orvex Test Publisher", PUBLISHER, False),
                ("/O=Orvex Test Publisher/CN=x+CN=y", PUBLISHER, False),
                ("/O=Orvex Test Publisher/O=Orvex Test Publisher", PUBLISHER, True),
                ("CN=Orvex Test Publisher", PUBLISHER, False),
                ("/CN", PUBLISHER, False)]:
            with self.subTest(printed):
                self.assertEqual(publish.subject_names(printed, publisher), names)


class CommandLine(unittest.TestCase):
    def run_command(self, work, path, *extra):
        return subprocess.run([sys.executable, TOOL, path, "--product", "Quillon", "--interval", "7",
                               "--description", "x", "--root", work] + list(extra),
                              capture_output=True, text=True, timeout=60)

    def test_a_damaged_program_gives_a_message_and_status_one(self):
        with tempfile.TemporaryDirectory() as work:
            data, parts = make_pe()
            path = os.path.join(work, "setup.exe")
            with open(path, "wb") as f:
                f.write(data[:parts["blob"] + 10])
            result = self.run_command(work, path, "--publisher=")
            self.assertEqual(result.returncode, 1)
            self.assertTrue(result.stderr.splitlines()[-1].startswith("orvex_publish: refused:"), result.stderr)
            self.assertNotIn("Traceback", result.stderr)

    def test_the_publisher_must_be_named_or_explicitly_empty(self):
        with tempfile.TemporaryDirectory() as work:
            path = os.path.join(work, "setup.exe")
            with open(path, "wb") as f:
                f.write(make_pe()[0])
            missing = self.run_command(work, path)
            self.assertEqual((missing.returncode, "--publisher" in missing.stderr), (2, True), missing.stderr)
            pointless = self.run_command(work, path, "--publisher=", "--ca-file", path)
            self.assertEqual((pointless.returncode, "--ca-file" in pointless.stderr), (2, True))
            unchecked = self.run_command(work, path, "--publisher=", "--dry-run")
            self.assertEqual(unchecked.returncode, 0, unchecked.stderr)
            self.assertIn("not checked", unchecked.stderr)
            self.assertIn("refuses the package", unchecked.stderr)
            no_root = self.run_command(work, path, "--publisher=Orvex", "--ca-file", path + ".none")
            self.assertEqual((no_root.returncode, "--ca-file" in no_root.stderr), (1, True))


if __name__ == "__main__":
    unittest.main()
