#!/usr/bin/env python3
"""Publishes a product's setup package on an information server.

Run it on the server side, with the server's web root as --root:

    orvex_publish.py --product Quillon --interval 7 \\
        --description "Quillon viewer 10.24: faster pages" \\
        --publisher "Brindlewood" --root /srv/updates quillon-setup.exe

It checks the package, reads its file version from its version resource and
writes the two files the installer fetches, each atomically (a temporary file
renamed into place), the package before the record that names it:

    ROOT/<lowercase product>/download/<lowercase product>_a-b-c-d.exe
    ROOT/<lowercase product>/info.txt

Any web server serves ROOT as it is. An installer built with an https base
URL (the default) fetches both files over HTTPS only: the server (and any
mirror) needs a certificate for its host name from an authority the users'
Windows trusts, and must answer at the URLs themselves, since the installer
follows no redirect.

The record is text in the users' ANSI code page, with no line end after it:

    interval|a.b.c.d|0.0.0.0|size|product|description|0.0.0.0|

Anything the installer could not read back as written is refused with a
message and exit status 1; nothing is written then. So is a package that the
publisher the installer's build pins (--publisher) did not sign, as
"osslsigncode verify" sees it. Standard library only.
"""
import argparse
import hashlib
import os
import re
import shutil
import struct
import subprocess
import sys
import tempfile

# --- What the installer accepts -------------------------------------------

# A package starts with these four bytes, or the installer stops the download.
PACKAGE_SIGNATURE = b"MZ\x01\x01"

# The installer reads the record once, from the first 5000 bytes of the answer.
RECORD_LIMIT = 5000

# The record's package size is an unsigned 32-bit number.
MAX_PACKAGE_SIZE = 0xFFFFFFFF

# The rendezvous block's product name field holds 49 bytes and its NUL.
MAX_PRODUCT_NAME_BYTES = 49

# Bytes the control refuses in a product name: it must be a plain file name.
# The installer also puts the name in a URL path, where '#' would end the path,
# '%' would start an escape and '&' and ';' split parameters: the control
# refuses them too.
FILE_NAME_RESERVED = b'\\/:*?"<>|'
URL_RESERVED = b"#%&;"

# The installer adds interval * 864,000,000,000 (a day in 100 ns ticks) to the
# current file time and the control compares the sum as a signed 64-bit
# number: the sum must stay below 2^63 for any clock up to the end of 9999.
FILETIME_TICKS_PER_DAY = 864_000_000_000
FILETIME_END_OF_9999 = 2_650_467_743_990_000_000
MAX_INTERVAL_DAYS = (2**63 - 1 - FILETIME_END_OF_9999) // FILETIME_TICKS_PER_DAY

# Versions compare as signed 64-bit numbers, so a first component of 32768 or
# more counts as older than every version below it.
MAX_FIRST_COMPONENT = 0x7FFF
MAX_COMPONENT = 0xFFFF

DEFAULT_CODE_PAGE = "cp1252"
DESCRIPTION_FILE_LIMIT = 1 << 16   # characters read from a description file
COPY_CHUNK = 1 << 20

EXIT_REFUSED = 1


class Refusal(Exception):
    """Input that cannot be published; the message says why and what to do."""


# --- Reading a Windows program --------------------------------------------

DOS_HEADER_SIZE = 64
PE_SIGNATURE = b"PE\0\0"
COFF_HEADER_SIZE = 20
SECTION_HEADER_SIZE = 40
OPTIONAL_MAGIC_PE32 = 0x10B
OPTIONAL_MAGIC_PE32_PLUS = 0x20B
# Offset of the data directories and of their count in each optional header.
DATA_DIRECTORIES = {OPTIONAL_MAGIC_PE32: (96, 92), OPTIONAL_MAGIC_PE32_PLUS: (112, 108)}
DIRECTORY_RESOURCE = 2
DIRECTORY_SECURITY = 4
RT_VERSION = 16
VS_VERSION_INFO_ID = 1
SUBDIRECTORY_FLAG = 0x80000000
VERSION_KEY = "VS_VERSION_INFO\0".encode("utf-16-le")
FIXED_INFO_SIGNATURE = 0xFEEF04BD
# wLength, wValueLength, wType, the key, padding to 32 bits, VS_FIXEDFILEINFO.
FIXED_INFO_OFFSET = 6 + len(VERSION_KEY) + 2
FIXED_INFO_SIZE = 52
VERSION_HEADER_SIZE = FIXED_INFO_OFFSET + FIXED_INFO_SIZE


class Damaged(Refusal):
    """A Windows program whose headers or resources do not hold together."""


class PeImage:
    """The parts of a PE file the publisher needs, read with bounded reads.

    Every read is checked against the file's size and every address against
    the section that holds it, so a damaged file gives a Damaged error naming
    what is wrong rather than a wrong value or an exception.
    """

    def __init__(self, file, size):
        self.file = file
        self.size = size
        # The caller has found the PE signature where the DOS header points.
        (pe_offset,) = struct.unpack("<I", self.read(0x3C, 4, "the DOS header"))
        coff = self.read(pe_offset + 4, COFF_HEADER_SIZE, "the file header")
        section_count, optional_size = struct.unpack_from("<H12xH", coff, 2)
        optional_offset = pe_offset + 4 + COFF_HEADER_SIZE
        optional = self.read(optional_offset, optional_size, "the optional header")
        if optional_size < 2:
            raise Damaged("the optional header is missing")
        (magic,) = struct.unpack_from("<H", optional, 0)
        if magic not in DATA_DIRECTORIES:
            raise Damaged("unknown optional header kind 0x%04X" % magic)
        self.plus = magic == OPTIONAL_MAGIC_PE32_PLUS
        self.directories = self._data_directories(optional, *DATA_DIRECTORIES[magic])
        self.sections = []
        table = self.read(optional_offset + optional_size, section_count * SECTION_HEADER_SIZE,
                          "the section table")
        for i in range(section_count):
            virtual_size, address, raw_size, raw_offset = struct.unpack_from(
                "<IIII", table, i * SECTION_HEADER_SIZE + 8)
            # What the loader maps from the file: the raw data, no further
            # than the section's size in memory when that is given.
            mapped = min(virtual_size, raw_size) if virtual_size else raw_size
            self.sections.append((address, mapped, raw_offset))

    def _data_directories(self, optional, first, count_offset):
        if len(optional) < count_offset + 4:
            raise Damaged("the optional header is cut short")
        (count,) = struct.unpack_from("<I", optional, count_offset)
        available = (len(optional) - first) // 8
        if count > available:
            raise Damaged("the optional header is too short for its %d data directories" % count)
        return [struct.unpack_from("<II", optional, first + 8 * i) for i in range(count)]

    def read(self, offset, length, what):
        if offset < 0 or length < 0 or offset + length > self.size:
            raise Damaged("%s lies outside the file" % what)
        self.file.seek(offset)
        data = self.file.read(length)
        if len(data) != length:
            raise Damaged("%s could not be read in full" % what)
        return data

    def locate(self, address, length, what):
        """The file offset of length bytes at this address in memory."""
        for start, mapped, raw_offset in self.sections:
            if start <= address and address + length <= start + mapped:
                offset = raw_offset + (address - start)
                if offset + length > self.size:
                    raise Damaged("%s lies outside the file" % what)
                return offset
        raise Damaged("%s lies outside the file's sections" % what)

    def read_rva(self, address, length, what):
        return self.read(self.locate(address, length, what), length, what)

    def directory(self, index):
        """(address, size) of a data directory; (0, 0) when absent."""
        return self.directories[index] if index < len(self.directories) else (0, 0)

    def is_signed(self):
        return self.directory(DIRECTORY_SECURITY)[1] != 0

    def file_version(self):
        """(a, b, c, d) of the version resource, or None when there is none."""
        root, size = self.directory(DIRECTORY_RESOURCE)
        if root == 0 or size == 0:
            return None
        types = self._resource_entries(root, 0, "the resource directory")
        version = self._pick(types, RT_VERSION, must_exist=True)
        if version is None:
            return None
        names = self._resource_entries(root, self._subdirectory(version, "resource type"),
                                       "the version resource directory")
        name = self._pick(names, VS_VERSION_INFO_ID, must_exist=False)
        if name is None:
            raise Damaged("the version resource directory is empty")
        languages = self._resource_entries(root, self._subdirectory(name, "resource name"),
                                           "the version resource's languages")
        if not languages:
            raise Damaged("the version resource has no language")
        target = languages[0][1]
        if target & SUBDIRECTORY_FLAG:
            raise Damaged("the version resource nests deeper than resources do")
        entry = self.read_rva(root + target, 16, "the version resource's data entry")
        data_address, data_size = struct.unpack_from("<II", entry, 0)
        return self._fixed_file_version(data_address, data_size)

    def _resource_entries(self, root, offset, what):
        header = self.read_rva(root + offset, 16, what)
        named, numbered = struct.unpack_from("<HH", header, 12)
        count = named + numbered
        table = self.read_rva(root + offset + 16, 8 * count, what)
        return [struct.unpack_from("<II", table, 8 * i) for i in range(count)]

    @staticmethod
    def _pick(entries, wanted_id, must_exist):
        """The entry with this numeric id; without one, the first entry unless
        the id must match."""
        for name, target in entries:
            if not name & SUBDIRECTORY_FLAG and name == wanted_id:
                return name, target
        if must_exist or not entries:
            return None
        return entries[0]

    @staticmethod
    def _subdirectory(entry, what):
        target = entry[1]
        if not target & SUBDIRECTORY_FLAG:
            raise Damaged("a %s entry of the resources is not a directory" % what)
        return target & ~SUBDIRECTORY_FLAG

    def _fixed_file_version(self, address, size):
        if size < VERSION_HEADER_SIZE:
            raise Damaged("the version resource is too small (%d bytes)" % size)
        self.locate(address, size, "the version resource")
        data = self.read_rva(address, VERSION_HEADER_SIZE, "the version resource")
        length, value_length = struct.unpack_from("<HH", data, 0)
        if data[6:6 + len(VERSION_KEY)] != VERSION_KEY:
            raise Damaged("the version resource does not begin with VS_VERSION_INFO")
        if length < VERSION_HEADER_SIZE or length > size or value_length < FIXED_INFO_SIZE:
            raise Damaged("the version resource's lengths do not fit together")
        signature, _, most, least = struct.unpack_from("<IIII", data, FIXED_INFO_OFFSET)
        if signature != FIXED_INFO_SIGNATURE:
            raise Damaged("the version resource has no fixed file information")
        return most >> 16, most & 0xFFFF, least >> 16, least & 0xFFFF


# --- The package -----------------------------------------------------------

class Package:
    """What the publisher learns of a setup package before copying it."""

    def __init__(self, path):
        self.path = path
        self.image = None      # a PeImage when the package is a Windows program
        self.version = None    # (a, b, c, d) from its version resource
        self.damage = None     # the Damaged error of a program that can't be read
        self.signer = None     # the verified signer's subject
        self.verified_digest = None   # SHA-256 of the bytes whose signature was verified
        try:
            with open(path, "rb") as file:
                self.size = os.fstat(file.fileno()).st_size
                self.head = file.read(len(PACKAGE_SIGNATURE))
                if has_pe_signature(file, self.size):
                    try:
                        self.image = PeImage(file, self.size)
                        self.version = self.image.file_version()
                    except Damaged as damage:
                        self.damage = damage
        except OSError as e:
            raise Refusal("can't read the package %s: %s" % (path, e.strerror or e))

    @property
    def is_pe(self):
        return self.image is not None or self.damage is not None


def has_pe_signature(file, size):
    """True when the file is a Windows program: "MZ" and a DOS header that
    points to the PE signature."""
    if size < DOS_HEADER_SIZE:
        return False
    file.seek(0)
    dos = file.read(DOS_HEADER_SIZE)
    if len(dos) != DOS_HEADER_SIZE or dos[:2] != b"MZ":
        return False
    (pe_offset,) = struct.unpack_from("<I", dos, 0x3C)
    if pe_offset + len(PE_SIGNATURE) > size:
        return False
    file.seek(pe_offset)
    return file.read(len(PE_SIGNATURE)) == PE_SIGNATURE


def check_size(package, options):
    if package.size > MAX_PACKAGE_SIZE:
        raise Refusal("the package is %d bytes; the record can carry at most %d (4 GiB - 1)"
                      % (package.size, MAX_PACKAGE_SIZE))
    if package.size < len(PACKAGE_SIGNATURE):
        raise Refusal("the package is %d bytes: too short to be a setup program" % package.size)


def check_damage(package, options):
    # A damaged program may still load, but it is more likely a cut or
    # corrupted copy: never publish one.
    if package.damage is not None:
        raise Refusal("the package %s is a damaged Windows program: %s"
                      % (package.path, package.damage))


def check_signature_bytes(package, options):
    if package.head == PACKAGE_SIGNATURE:
        return
    shown = " ".join("%02X" % b for b in package.head)
    if not options.patch_header:
        hint = (" It is a Windows program: --patch-header publishes a copy whose bytes 2-3 are"
                " 01 01 (the loader ignores them).") if package.is_pe else ""
        raise Refusal("the package begins with %s; the installer only runs packages that begin"
                      " with 4D 5A 01 01 ('M', 'Z', 0x01, 0x01).%s" % (shown, hint))
    if not package.is_pe:
        raise Refusal("--patch-header only patches Windows programs, and %s is not one (it begins"
                      " with %s)" % (package.path, shown))
    if package.image.is_signed():
        raise Refusal("the package carries a digital signature, which covers bytes 2-3: patching"
                      " them would break it. Patch the program first, then sign it.")


# --- The publisher's signature ------------------------------------------------

# The installer runs a package only when its Authenticode signature verifies
# and the signer's certificate names the publisher its build pins, exactly, as
# the subject's common name or organisation. The tool asks osslsigncode for
# the same verdict before it publishes.
OSSLSIGNCODE = "osslsigncode"
VERIFY_TIMEOUT_SECONDS = 600      # it hashes the whole package, up to 4 GiB
VERIFY_REPORT_LIMIT = 1 << 20     # a report is a few kilobytes
EXCERPT_LINES = 6
EXCERPT_WIDTH = 200

SIGNATURE_INDEX = re.compile(r"Signature Index: (\d+)\s*(\(Primary Signature\))?\s*$")
DIGEST_LINE = re.compile(r"(Current|Calculated) message digest\s*: ([0-9A-Fa-f]+)\s*(MISMATCH)?")
VERDICT_LINE = re.compile(r"Signature verification: (\S+)\s*$")
SIGNER_LINE = re.compile(r"\s+Signer #\d+:\s*$")
SUBJECT_LINE = re.compile(r"\s+Subject: (.*)$")
HEX_ESCAPE = re.compile(r"\\x([0-9A-Fa-f]{2})")
# Report lines that say what failed (not the library's own error stack).
FAILURE_LINE = re.compile(r"\s*(error|failed|no signature|unable|unrecognized|signature verification: failed)"
                          r"|.*MISMATCH", re.I)
# The subject attributes that may name the publisher, as short and long names.
PUBLISHER_ATTRIBUTES = (("CN", "commonName"), ("O", "organizationName"))
HIDDEN_PUBLISHER_ATTRIBUTE = re.compile(rb"\+(CN|O|commonName|organizationName)=")


class SignatureReport:
    """What "osslsigncode verify" said of a package, read line by line.

    Only the primary signature (index 0) counts, as for the installer: its two
    file digests, its verdict and the certificate of its signer. A report that
    lacks any of them, or holds one twice, reads as not verified.
    """

    def __init__(self, status, text):
        self.status = status
        self.lines = text.replace("\r\n", "\n").split("\n")
        starts = [i for i, line in enumerate(self.lines) if line.startswith("Signature Index:")]
        self.signed = bool(starts)
        primary = []
        if starts:
            first = SIGNATURE_INDEX.match(self.lines[starts[0]])
            if first and first.group(1) == "0" and first.group(2):
                end = starts[1] if len(starts) > 1 else len(self.lines)
                primary = self.lines[starts[0] + 1:end]
        self.digests = {}
        self.digest_mismatch = False
        verdicts = []
        for line in primary:
            digest = DIGEST_LINE.match(line)
            if digest:
                self.digests.setdefault(digest.group(1), []).append(digest.group(2).upper())
                self.digest_mismatch |= digest.group(3) is not None
            verdict = VERDICT_LINE.match(line)
            if verdict:
                verdicts.append(verdict.group(1))
        current, calculated = self.digests.get("Current", []), self.digests.get("Calculated", [])
        self.digest_read = len(current) == 1 and len(calculated) == 1
        if self.digest_read and current != calculated:
            self.digest_mismatch = True
        self.verified = verdicts == ["ok"]
        self.signers, self.subjects = self._signer_block(primary)

    @staticmethod
    def _signer_block(lines):
        """The signer entries and subjects listed under "Signer's certificate:":
        the indented or blank lines that follow it."""
        heads = [i for i, line in enumerate(lines) if line.strip() == "Signer's certificate:"]
        if len(heads) != 1:
            return 0, []
        signers, subjects = 0, []
        for line in lines[heads[0] + 1:]:
            if line and not line[0].isspace():
                break
            signers += bool(SIGNER_LINE.match(line))
            subject = SUBJECT_LINE.match(line)
            if subject:
                subjects.append(subject.group(1))
        return signers, subjects

    def excerpt(self):
        """The report's lines that say what failed, shortened, for a message."""
        lines = [line.strip() for line in self.lines if FAILURE_LINE.match(line)]
        lines = lines or [line.strip() for line in self.lines if line.strip()][-EXCERPT_LINES:]
        shown = [line[:EXCERPT_WIDTH] for line in lines[:EXCERPT_LINES]]
        return "; ".join(shown) if shown else "no report"


def subject_attributes(printed):
    """[(key, value bytes)] of a subject as osslsigncode prints it
    ("/CN=a/O=b"), or None when it is not in that form.

    A '/' inside a value is written "\\/", a byte outside printable ASCII
    "\\xHH"; any other backslash stands for itself, so "\\xHH" of a
    printable byte is taken as written. Attributes of a multi-valued name are
    joined by '+', with nothing to tell them from a '+' in a value: they read
    as one value here.
    """
    if not printed.startswith("/"):
        return None
    fields, field, i = [], bytearray(), 1
    while i < len(printed):
        escape = HEX_ESCAPE.match(printed, i)
        if printed.startswith("\\/", i):
            field += b"/"
            i += 2
        elif escape and not 0x20 <= int(escape.group(1), 16) < 0x7F:
            field.append(int(escape.group(1), 16))
            i += 4
        elif printed[i] == "/":
            fields.append(bytes(field))
            field = bytearray()
            i += 1
        else:
            field += printed[i].encode("utf-8", "surrogateescape")
            i += 1
    fields.append(bytes(field))
    attributes = []
    for field in fields:
        key, equals, value = field.partition(b"=")
        if not equals or not re.fullmatch(rb"[A-Za-z][A-Za-z0-9.-]*", key):
            return None
        attributes.append((key.decode("ascii"), value))
    return attributes


def subject_names(printed, publisher):
    """Whether the subject's common names, or its organisations, are all
    exactly the publisher. All of them, so the verdict does not depend on
    which one a verifier reads when a subject carries several."""
    attributes = subject_attributes(printed)
    if attributes is None:
        return False
    # A name or organisation hidden in a multi-valued name might be the one a
    # verifier reads: no verdict on such a subject.
    if any(HIDDEN_PUBLISHER_ATTRIBUTE.search(value) for _, value in attributes):
        return False
    wanted = publisher.encode("utf-8")
    for names in PUBLISHER_ATTRIBUTES:
        values = [value for key, value in attributes if key in names]
        if values and all(value == wanted for value in values):
            return True
    return False


def run_bounded(command, limit, timeout):
    """(exit status, output and errors as text) of a program that must finish
    within timeout seconds and write at most limit bytes."""
    name = os.path.basename(command[0])
    with tempfile.TemporaryFile() as out:
        try:
            process = subprocess.Popen(command, stdin=subprocess.DEVNULL, stdout=out,
                                       stderr=subprocess.STDOUT)
        except OSError as e:
            raise Refusal("can't run %s: %s" % (name, e.strerror or e))
        try:
            status = process.wait(timeout=timeout)
        except subprocess.TimeoutExpired:
            process.kill()
            process.wait()
            raise Refusal("%s did not finish checking the signature within %d seconds"
                          % (name, timeout))
        size = out.seek(0, os.SEEK_END)
        if size > limit:
            raise Refusal("%s wrote %d bytes while checking the signature; a report is at most %d:"
                          " it is not one this tool can read" % (name, size, limit))
        out.seek(0)
        return status, out.read(limit).decode("utf-8", "surrogateescape")


def file_digest(path):
    digest = hashlib.sha256()
    with open(path, "rb") as file:
        for chunk in iter(lambda: file.read(COPY_CHUNK), b""):
            digest.update(chunk)
    return digest.digest()


def check_publisher(package, options):
    publisher = options.publisher
    if publisher == "":
        return  # main has warned
    pinned = "an installer built for the publisher %r" % publisher
    if not package.is_pe:
        raise Refusal("the package is not a Windows program, so it carries no signature; %s runs"
                      " only packages that publisher signed" % pinned)
    if not package.image.is_signed():
        raise Refusal("the package is not signed; %s runs only packages that publisher signed."
                      " Sign it with the publisher's code-signing certificate (osslsigncode sign),"
                      " after any change to its header bytes, then publish it" % pinned)
    program = shutil.which(OSSLSIGNCODE)
    if program is None:
        raise Refusal("checking the package's signature needs osslsigncode, which is not installed"
                      " (Debian: apt-get install osslsigncode)")
    # What is checked is what gets copied: the copy compares against this.
    package.verified_digest = file_digest(package.path)
    command = [program, "verify", "-in", os.path.abspath(package.path)]
    if options.ca_file is not None:
        command += ["-CAfile", os.path.abspath(options.ca_file)]
    report = SignatureReport(*run_bounded(command, VERIFY_REPORT_LIMIT, VERIFY_TIMEOUT_SECONDS))
    if not report.signed:
        raise Refusal("the package carries no signature that osslsigncode can read (%s); %s runs"
                      " only packages that publisher signed" % (report.excerpt(), pinned))
    if report.digest_mismatch:
        raise Refusal("the package's contents do not match its signature: it was changed after"
                      " it was signed. Sign the final file again")
    if report.status != 0 or not report.verified or not report.digest_read:
        if options.ca_file is None:
            hint = (" If the certificate comes from a root of your own, name it with"
                    " --ca-file ROOT.crt")
        else:
            hint = " (trusted roots from --ca-file %s)" % options.ca_file
        raise Refusal("the package's signature does not verify (osslsigncode: %s).%s"
                      % (report.excerpt(), hint))
    if report.signers != 1 or len(report.subjects) != 1:
        raise Refusal("the package's signature names %d signer certificates, where one is expected"
                      " (osslsigncode: %s)" % (report.signers, report.excerpt()))
    subject = report.subjects[0]
    if not subject_names(subject, publisher):
        raise Refusal("the package is signed by %s, not by %r: %s requires the signer's common"
                      " name (CN) or organisation (O) to be exactly that, case included"
                      % (subject[:EXCERPT_WIDTH], publisher, pinned))
    package.signer = subject


# Each check takes the package and the options and raises Refusal; they run
# in this order before anything is written.
PACKAGE_CHECKS = (check_size, check_damage, check_signature_bytes, check_publisher)


# --- The record --------------------------------------------------------------

def bounded_number(digits, limit):
    """The value of a run of ASCII digits, or limit + 1 for any value above
    limit, however many digits it has."""
    significant = digits.lstrip("0")
    if len(significant) > len(str(limit)):
        return limit + 1
    return int(significant or "0")


def parse_version(text):
    parts = text.split(".")
    if len(parts) != 4 or not all(p.isascii() and p.isdigit() for p in parts):
        raise Refusal("the version %r is not four numbers a.b.c.d" % text)
    version = tuple(bounded_number(p, MAX_COMPONENT) for p in parts)
    for value in version:
        if value > MAX_COMPONENT:
            raise Refusal("the version %s has a component over %d; the record keeps 16 bits of each"
                          % (text, MAX_COMPONENT))
    return version


def check_version(version, source):
    if version == (0, 0, 0, 0):
        raise Refusal("the version (%s) is 0.0.0.0, which the installer takes for no record at all"
                      % source)
    if version[0] > MAX_FIRST_COMPONENT:
        raise Refusal("the version %s (%s) has a first component over %d: the installer would take"
                      " it for older than every version below it"
                      % (dotted(version), source, MAX_FIRST_COMPONENT))


def dotted(version):
    return "%d.%d.%d.%d" % version


def choose_version(package, options):
    """The version to publish and where it came from."""
    if options.version is not None:
        version = parse_version(options.version)
        source = "--version"
        if package.version is not None and package.version != version:
            print("warning: the package's version resource says %s; publishing %s as given"
                  % (dotted(package.version), dotted(version)), file=sys.stderr)
    elif package.version is not None:
        version, source = package.version, "from the version resource"
    elif package.is_pe:
        raise Refusal("the package has no version resource; give its version with --version a.b.c.d")
    else:
        raise Refusal("the package is not a Windows program, so it has no version resource;"
                      " give its version with --version a.b.c.d")
    check_version(version, source)
    return version, source


def parse_interval(text):
    if not (text.isascii() and text.isdigit()):
        raise Refusal("the interval %r is not a whole number of days" % text)
    days = bounded_number(text, MAX_INTERVAL_DAYS)
    if days > MAX_INTERVAL_DAYS:
        raise Refusal("the interval of %s days is too long: the installer's next-check time would"
                      " overflow (at most %d days)" % (text, MAX_INTERVAL_DAYS))
    return days


def encode(text, code_page, what):
    try:
        return text.encode(code_page)
    except UnicodeEncodeError as e:
        raise Refusal("%s has %r, which code page %s cannot write; the installer shows text in"
                      " the users' ANSI code page (see --codepage)"
                      % (what, e.object[e.start:e.end], code_page))


def product_name_bytes(name, code_page):
    data = encode(name, code_page, "the product name")
    if not data:
        raise Refusal("the product name is empty")
    if len(data) > MAX_PRODUCT_NAME_BYTES:
        raise Refusal("the product name is %d bytes in code page %s; the control takes at most %d"
                      % (len(data), code_page, MAX_PRODUCT_NAME_BYTES))
    if data in (b".", b".."):
        raise Refusal("the product name %r is not a file name" % name)
    for byte in data:
        if byte < 0x20:
            raise Refusal("the product name has a control character (0x%02X)" % byte)
        if byte in FILE_NAME_RESERVED:
            raise Refusal("the product name has %r; the control refuses names with any of %s"
                          " (the name is a file name on the users' machines)"
                          % (chr(byte), FILE_NAME_RESERVED.decode()))
        if byte in URL_RESERVED:
            raise Refusal("the product name has %r, which the installer's URL of the record"
                          " cannot carry" % chr(byte))
    return data


def lowercase(name, code_page):
    """The name as the installer lowercases it: character by character, in
    the ANSI code page."""
    out = []
    for char in name:
        lower = char.lower()
        try:
            fits = len(lower) == 1 and len(lower.encode(code_page)) == len(char.encode(code_page))
        except UnicodeEncodeError:
            fits = False
        out.append(lower if fits else char)
    return "".join(out).encode(code_page)


def normalise_line_breaks(text):
    """CR LF for every line break (the description box needs both), none at
    the end."""
    lines = text.replace("\r\n", "\n").replace("\r", "\n").rstrip("\n")
    return lines.replace("\n", "\r\n")


def description_bytes(text, code_page):
    data = encode(normalise_line_breaks(text), code_page, "the description")
    if b"|" in data:
        where = ("" if "|" in text else
                 " (a character of it is written with the byte of '|' in %s)" % code_page)
        raise Refusal("the description has a '|'%s, which would end it early in the record" % where)
    if b"\0" in data:
        raise Refusal("the description has a zero byte, which would end it early on the screen")
    return data


def build_record(interval, version, size, first_text, description):
    return b"|".join([
        b"%d" % interval,
        dotted(version).encode("ascii"),
        b"0.0.0.0",
        b"%d" % size,
        first_text,
        description,
        b"0.0.0.0",
        b"",
    ])


# --- Publishing ------------------------------------------------------------

class Publication:
    """Everything to write, worked out and checked before anything is."""

    def __init__(self, options):
        self.options = options
        code_page = options.codepage
        self.interval = parse_interval(options.interval)
        self.product = product_name_bytes(options.product, code_page)
        self.folder_name = lowercase(options.product, code_page)
        self.package = Package(options.package)
        for check in PACKAGE_CHECKS:
            check(self.package, options)
        self.version, self.version_source = choose_version(self.package, options)
        description = description_bytes(read_description(options), code_page)
        self.record = build_record(self.interval, self.version, self.package.size, self.product,
                                   description)
        if len(self.record) > RECORD_LIMIT:
            room = RECORD_LIMIT - (len(self.record) - len(description))
            raise Refusal("the record would be %d bytes; the installer reads only the first %d."
                          " Shorten the description to at most %d bytes in code page %s"
                          % (len(self.record), RECORD_LIMIT, room, code_page))
        if not os.path.isdir(options.root):
            raise Refusal("the server root %s is not a folder" % options.root)
        root = os.fsencode(options.root)
        self.product_folder = os.path.join(root, self.folder_name)
        self.download_folder = os.path.join(self.product_folder, b"download")
        self.package_name = b"%s_%s.exe" % (self.folder_name, dotted(self.version).replace(".", "-").encode())
        self.package_target = os.path.join(self.download_folder, self.package_name)
        self.record_target = os.path.join(self.product_folder, b"info.txt")
        self.patch = self.package.head != PACKAGE_SIGNATURE

    def describe(self, dry_run):
        verb = "would write" if dry_run else "wrote"
        out = sys.stdout
        out.write("version  %s (%s)\n" % (dotted(self.version), self.version_source))
        if self.package.signer is not None:
            out.write("signer   %s (signature verified)\n" % self.package.signer)
        else:
            out.write("signer   not checked (--publisher is empty)\n")
        out.write("%s %s (%d bytes%s)\n" % (verb, shown_path(self.package_target), self.package.size,
                                            ", header patched" if self.patch else ""))
        out.write("%s %s:\n" % (verb, shown_path(self.record_target)))
        out.flush()
        # The record as written, in the users' code page.
        sys.stdout.buffer.write(self.record + b"\n")
        sys.stdout.buffer.flush()

    def write(self):
        for folder in (self.product_folder, self.download_folder):
            os.makedirs(folder, exist_ok=True)
        # The package first, so the record never names a package that is not there.
        write_atomically(self.package_target, self._copy_package)
        write_atomically(self.record_target, lambda out: out.write(self.record))

    def _copy_package(self, out):
        copied = 0
        digest = hashlib.sha256()
        with open(self.package.path, "rb") as source:
            while True:
                chunk = source.read(COPY_CHUNK)
                if not chunk:
                    break
                digest.update(chunk)
                if copied == 0:
                    if chunk[:2] != PACKAGE_SIGNATURE[:2]:
                        raise Refusal("the package changed while it was being copied")
                    chunk = PACKAGE_SIGNATURE + chunk[len(PACKAGE_SIGNATURE):]
                out.write(chunk)
                copied += len(chunk)
        if copied != self.package.size:
            raise Refusal("the package changed while it was being copied (%d bytes, then %d)"
                          % (self.package.size, copied))
        if self.package.verified_digest not in (None, digest.digest()):
            raise Refusal("the package changed after its signature was checked")


def read_description(options):
    if options.description_file is None:
        return options.description
    try:
        with open(options.description_file, "r", encoding="utf-8-sig", newline="") as file:
            text = file.read(DESCRIPTION_FILE_LIMIT + 1)
    except UnicodeDecodeError:
        raise Refusal("the description file %s is not UTF-8 text" % options.description_file)
    except OSError as e:
        raise Refusal("can't read the description file %s: %s"
                      % (options.description_file, e.strerror or e))
    if len(text) > DESCRIPTION_FILE_LIMIT:
        raise Refusal("the description file %s is far longer than the %d bytes the record can carry"
                      % (options.description_file, RECORD_LIMIT))
    return text


def write_atomically(target, fill):
    """Writes target through a temporary file in its folder, renamed over it
    once complete and on disk, so a reader sees the old file or the new one."""
    folder, name = os.path.split(target)
    handle, temporary = tempfile.mkstemp(prefix=b"." + name + b".", suffix=b".tmp", dir=folder)
    try:
        with os.fdopen(handle, "wb") as out:
            fill(out)
            out.flush()
            os.fsync(out.fileno())
        os.chmod(temporary, 0o666 & ~current_umask())  # mkstemp's 0600 would hide it from the server
        os.replace(temporary, target)
    except BaseException:
        try:
            os.unlink(temporary)
        except OSError:
            pass
        raise
    sync_folder(folder)


def shown_path(path):
    """A path for messages: the product folder's name is in the users' code
    page, which need not be the server's encoding."""
    if isinstance(path, bytes):
        return path.decode("utf-8", "backslashreplace")
    return str(path)


def current_umask():
    mask = os.umask(0o022)
    os.umask(mask)
    return mask


def sync_folder(folder):
    try:
        descriptor = os.open(folder, os.O_RDONLY)
    except OSError:
        return  # not every system opens folders; the rename is still atomic
    try:
        os.fsync(descriptor)
    except OSError:
        pass
    finally:
        os.close(descriptor)


# --- Command line ------------------------------------------------------------

HELP_EPILOG = """\
what it checks (and refuses, with exit status 1, writing nothing):
  - the package begins with 'M', 'Z', 0x01, 0x01 (or, with --patch-header, is
    an unsigned Windows program), is at most 4 GiB - 1 bytes, and is not a
    damaged Windows program;
  - its version (from the version resource, or --version) is not 0.0.0.0, has
    components up to 65535 and a first component up to 32767;
  - the product name is one the control accepts: 1 to 49 bytes, no control
    characters, none of \\ / : * ? " < > | # %%, not "." or "..";
  - the interval is a whole number of days from 0 (check at every start) to
    %(max_interval)d;
  - the description has no '|' and no zero byte, and the record fits in the
    %(limit)d bytes the installer reads. Line breaks become CR LF; line breaks
    at the end are dropped.

the signature (--publisher NAME, required):
  the installer runs only packages whose Authenticode signature verifies and
  whose signer's certificate has NAME, exactly (case included), as its subject
  common name (CN) or organisation (O): NAME is the publisher the installer's
  build pins (ORVEX_PUBLISHER). The tool asks "osslsigncode verify" (Debian
  package osslsigncode) and refuses a package that is unsigned, was changed
  after signing, whose certificate chain does not verify against the system's
  trusted roots (or those of --ca-file), or that another publisher signed.
  Sign the final file: patch its header bytes before signing, never after.
  --publisher "" publishes without the check, for an installer built with an
  empty ORVEX_PUBLISHER; an installer built with a publisher refuses such a
  package unless that publisher signed it.

the page embeds the control with Info set to the same product name, e.g.
  <param name="Info" value="Quillon|{viewer CLSID}">
and the installer asks for <base URL><lowercase product>/info.txt.
""" % {"max_interval": MAX_INTERVAL_DAYS, "limit": RECORD_LIMIT}


def parse_arguments(argv):
    parser = argparse.ArgumentParser(
        prog="orvex_publish.py",
        description="Publish a setup package for the Orvex installer: check it, read its version\n"
                    "and write, each file atomically, the package before the record:\n"
                    "  <root>/<lowercase product>/download/<lowercase product>_a-b-c-d.exe\n"
                    "  <root>/<lowercase product>/info.txt",
        epilog=HELP_EPILOG,
        formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("package", help="the setup program to publish (it is copied, never changed)")
    parser.add_argument("--product", required=True,
                        help="product name, exactly as pages give it in Info (e.g. Quillon)")
    parser.add_argument("--interval", required=True, metavar="DAYS",
                        help="days until installed copies check for an update again")
    text = parser.add_mutually_exclusive_group(required=True)
    text.add_argument("--description", metavar="TEXT",
                      help="what the progress window shows while the package downloads")
    text.add_argument("--description-file", metavar="FILE",
                      help="the same, from a UTF-8 text file")
    parser.add_argument("--root", required=True, metavar="FOLDER",
                        help="the information server's root folder (must exist)")
    parser.add_argument("--publisher", required=True, metavar="NAME",
                        help="the publisher the installer's build pins: the package must be"
                             " signed by a certificate whose CN or O is exactly NAME; \"\" skips"
                             " the check (see below)")
    parser.add_argument("--ca-file", metavar="ROOT.crt",
                        help="trusted root certificates (PEM) to verify the signature's chain"
                             " against, instead of the system's: for a certificate from a root of"
                             " your own")
    parser.add_argument("--version", metavar="A.B.C.D",
                        help="publish this version instead of the one in the package's version"
                             " resource (needed when it has none)")
    parser.add_argument("--patch-header", action="store_true",
                        help="publish a copy whose bytes 2-3 are 0x01 0x01 when the package is a"
                             " Windows program beginning 'MZ' and something else (the loader"
                             " ignores them); the package itself is left alone")
    parser.add_argument("--codepage", default=DEFAULT_CODE_PAGE, metavar="NAME",
                        help="ANSI code page of the users' Windows, for the product name and the"
                             " description (default %(default)s; e.g. cp1250, cp1251, cp932)")
    parser.add_argument("--dry-run", action="store_true",
                        help="check everything and print the record, but write nothing")
    options = parser.parse_args(argv)
    if options.publisher == "" and options.ca_file is not None:
        parser.error("--ca-file serves the signature check, which --publisher \"\" skips")
    return options


def main(argv=None):
    options = parse_arguments(argv)
    try:
        "".encode(options.codepage)
    except LookupError:
        print("orvex_publish: error: unknown code page %r" % options.codepage, file=sys.stderr)
        return EXIT_REFUSED
    if options.publisher == "":
        print("warning: --publisher is empty: the package's signature is not checked. An installer"
              " built with a publisher refuses the package unless that publisher signed it",
              file=sys.stderr)
    elif options.ca_file is not None and not os.path.isfile(options.ca_file):
        print("orvex_publish: refused: the --ca-file %s is not a file" % options.ca_file,
              file=sys.stderr)
        return EXIT_REFUSED
    try:
        publication = Publication(options)
        if not options.dry_run:
            publication.write()
        publication.describe(options.dry_run)
    except Refusal as refusal:
        print("orvex_publish: refused: %s" % refusal, file=sys.stderr)
        return EXIT_REFUSED
    except OSError as e:
        where = " (%s)" % shown_path(e.filename) if e.filename else ""
        print("orvex_publish: error: %s%s" % (e.strerror or e, where), file=sys.stderr)
        return EXIT_REFUSED
    return 0


if __name__ == "__main__":
    sys.exit(main())
