#!/usr/bin/env python3
"""A small information server for the installer's network tests.

Serves a folder laid out as the update server is:

    <product>/info.txt
    <product>/download/<package file>

over HTTP/1.1 (GET and HEAD, keep-alive), and logs every request as one JSON
line in ROOT/requests.log, so tests on the Windows side (which see ROOT
through Wine's drive mapping) can check what the installer asked for.

Faults are chosen per URL path by a plain file next to the served one: for a
request of /quillon/info.txt the server reads ROOT/quillon/info.txt.fault, a
JSON object, afresh on every request. Keys (all optional, combinable where it
makes sense):

    status                 answer with this status code (100..999). Without
                           "body", a code other than 200 gets a short text
                           body; 200 serves the file as usual.
    reason                 reason phrase to go with "status".
    body                   serve this text instead of the file. Characters up
                           to U+00FF stand for one byte each (so "\\u00e9" is
                           the byte 0xE9 and "\\u0000" a zero byte); any text
                           with a higher character is sent as UTF-8.
    body_repeat            repeat "body" this many times.
    short_body             serve only the first N bytes, announced as N.
    extra_bytes            append N bytes of 0xEE, announced in the length.
    announce_full_send     announce the whole length, send the first N bytes
                           of the body, then close the connection.
    longer_than_announced  announce the body's length, send the body and then
                           N more bytes of 0xEE, then close the connection.
    hang_after             send the headers and N body bytes, then send nothing
                           more until the client goes away or the server
                           stops.
    silent                 true: read the request and answer nothing at all,
                           not even a status line, until the client goes away
                           or the server stops.
    drip                   {"chunk": B, "delay_ms": D}: send the body in
                           pieces of B bytes, D milliseconds apart.
    location               send this Location header (with a "status" of
                           3xx, a redirect).

A fault file that can't be read as such an object is answered with status 500
"Bad Fault File" and the reason in the body and in the request log.

usage: info_server.py --root DIR [--host 127.0.0.1] [--port 80]
                      [--pidfile FILE] [--ready-file FILE] [--tls CERT KEY]

--tls serves HTTPS with the certificate CERT and its key KEY. A test may
choose another certificate for the connections that follow by writing a name
N to ROOT/tls-certificate: N.crt and N.key beside CERT are then shown (N made
of letters, digits and '-'; an empty or missing file means CERT). The log
entries say "scheme": "https" or "http".

--port 0 picks a free port. The ready file is written once the server
listens and holds "<host> <port>"; it and the pid file are removed when the
server ends on SIGTERM or SIGINT.
"""
import argparse
import http
import http.server
import json
import os
import select
import signal
import socket
import socketserver
import ssl
import sys
import threading
import time
import urllib.parse

FILL_BYTE = b"\xee"

MAX_FAULT_FILE = 64 * 1024              # bytes of a fault file we read
MAX_BODY = 64 * 1024 * 1024             # largest generated body
MAX_COUNT = 1 << 31                     # largest byte count a fault may name
MAX_DRIP_DELAY_MS = 60 * 1000
MAX_HANG_SECONDS = 600
MAX_CONNECTIONS = 64
IDLE_TIMEOUT_SECONDS = 30
SEND_PIECE = 64 * 1024

LOG_NAME = "requests.log"

COUNT_KEYS = ("short_body", "extra_bytes", "announce_full_send",
              "longer_than_announced", "hang_after", "body_repeat")
KNOWN_KEYS = set(COUNT_KEYS) | {"status", "reason", "body", "drip", "location", "silent"}
CERTIFICATE_CHOICE = "tls-certificate"


class FaultError(Exception):
    """A fault file that can't be used as written."""


def read_fault(path):
    """The fault object at path, None when there is no such file."""
    try:
        with open(path, "rb") as f:
            raw = f.read(MAX_FAULT_FILE + 1)
    except FileNotFoundError:
        return None
    except IsADirectoryError:
        raise FaultError("fault file is a directory")
    except OSError as e:
        raise FaultError("can't read fault file: %s" % e.strerror)
    if len(raw) > MAX_FAULT_FILE:
        raise FaultError("fault file larger than %d bytes" % MAX_FAULT_FILE)
    try:
        # Tests on the Windows side may write a byte-order mark.
        fault = json.loads(raw.decode("utf-8-sig"))
    except (UnicodeDecodeError, ValueError) as e:
        raise FaultError("fault file is not JSON: %s" % e)
    if not isinstance(fault, dict):
        raise FaultError("fault file must hold a JSON object")
    check_fault(fault)
    return fault


def _count(fault, key, low=0, high=MAX_COUNT):
    value = fault[key]
    if isinstance(value, bool) or not isinstance(value, int) or not low <= value <= high:
        raise FaultError("%s must be a whole number from %d to %d" % (key, low, high))
    return value


def check_fault(fault):
    unknown = sorted(set(fault) - KNOWN_KEYS)
    if unknown:
        raise FaultError("unknown fault key(s): %s" % ", ".join(unknown))
    for key in COUNT_KEYS:
        if key in fault:
            _count(fault, key)
    if "status" in fault:
        _count(fault, "status", 100, 999)
    if "reason" in fault:
        reason = fault["reason"]
        if not isinstance(reason, str) or len(reason) > 200 or any(c in reason for c in "\r\n\0"):
            raise FaultError("reason must be a single line of at most 200 characters")
    if "location" in fault:
        location = fault["location"]
        if not isinstance(location, str) or len(location) > 2000 or any(c in location for c in "\r\n\0"):
            raise FaultError("location must be a single line of at most 2000 characters")
    if "silent" in fault and not isinstance(fault["silent"], bool):
        raise FaultError("silent must be true or false")
    if "body" in fault and not isinstance(fault["body"], str):
        raise FaultError("body must be a string")
    if "body_repeat" in fault and "body" not in fault:
        raise FaultError("body_repeat needs body")
    if "drip" in fault:
        drip = fault["drip"]
        if not isinstance(drip, dict) or set(drip) - {"chunk", "delay_ms"}:
            raise FaultError('drip must be {"chunk": B, "delay_ms": D}')
        if "chunk" in drip:
            _count(drip, "chunk", 1, MAX_BODY)
        if "delay_ms" in drip:
            _count(drip, "delay_ms", 0, MAX_DRIP_DELAY_MS)


def body_text_bytes(text):
    try:
        return text.encode("latin-1")
    except UnicodeEncodeError:
        return text.encode("utf-8")


class BytesSource:
    """A body held in memory."""

    def __init__(self, data):
        self.data = data
        self.size = len(data)

    def chunks(self, limit):
        for at in range(0, min(limit, self.size), SEND_PIECE):
            yield self.data[at:min(at + SEND_PIECE, limit)]

    def close(self):
        pass


class FileSource:
    """A body read from a file as it is sent."""

    def __init__(self, path):
        self.file = open(path, "rb")
        self.size = os.fstat(self.file.fileno()).st_size

    def chunks(self, limit):
        left = min(limit, self.size)
        while left > 0:
            piece = self.file.read(min(SEND_PIECE, left))
            if not piece:
                return      # the file shrank under us; send what there was
            left -= len(piece)
            yield piece

    def close(self):
        self.file.close()


class Body:
    """A source, shortened or lengthened with fill bytes."""

    def __init__(self, source, size, extra=0):
        self.source = source
        self.size = size + extra
        self.own = size
        self.extra = extra

    def chunks(self, limit):
        yield from self.source.chunks(min(limit, self.own))
        if limit > self.own and self.extra:
            yield from fill_chunks(min(limit - self.own, self.extra))


def fill_chunks(count):
    while count > 0:
        n = min(count, SEND_PIECE)
        count -= n
        yield FILL_BYTE * n


class ClientGone(Exception):
    pass


class InfoServer(http.server.ThreadingHTTPServer):
    daemon_threads = True
    allow_reuse_address = True
    request_queue_size = 16

    def __init__(self, address, root, tls=None):
        self.root = os.path.realpath(root)
        self.tls = tls
        self.stopping = threading.Event()
        self.log_lock = threading.Lock()
        self.slots = threading.BoundedSemaphore(MAX_CONNECTIONS)
        if ":" in address[0]:
            self.address_family = socket.AF_INET6
        super().__init__(address, Handler)

    def server_bind(self):
        # No name lookup: inside a private network namespace there is no
        # resolver to ask.
        socketserver.TCPServer.server_bind(self)
        host, port = self.server_address[:2]
        self.server_name = host
        self.server_port = port

    def get_request(self):
        request, client_address = super().get_request()
        if self.tls is not None:
            # The handshake happens on the handler's thread, at its first read.
            request = self.tls.wrap_socket(request, server_side=True, do_handshake_on_connect=False)
        return request, client_address

    def process_request(self, request, client_address):
        if not self.slots.acquire(blocking=False):
            self.shutdown_request(request)
            return
        try:
            super().process_request(request, client_address)
        except BaseException:
            self.slots.release()
            raise

    def process_request_thread(self, request, client_address):
        try:
            super().process_request_thread(request, client_address)
        finally:
            self.slots.release()

    def handle_error(self, request, client_address):
        kind, value = sys.exc_info()[:2]
        if kind is not None and issubclass(kind, (OSError, ClientGone)):
            return
        print("info_server: %s: %s" % (kind.__name__ if kind else "error", value),
              file=sys.stderr, flush=True)

    def log_request_line(self, entry):
        line = json.dumps(entry, ensure_ascii=True) + "\n"
        with self.log_lock:
            try:
                with open(os.path.join(self.root, LOG_NAME), "a", encoding="ascii") as f:
                    f.write(line)
                    f.flush()
            except OSError as e:
                print("info_server: can't write the request log: %s" % e,
                      file=sys.stderr, flush=True)


class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"
    server_version = "InfoServer/1.0"
    sys_version = ""
    timeout = IDLE_TIMEOUT_SECONDS

    # Quiet: the request log holds everything worth knowing.
    def log_message(self, format, *args):
        pass

    def do_GET(self):
        self.answer(send_body=True)

    def do_HEAD(self):
        self.answer(send_body=False)

    # Mapping of the URL to files.

    def target_path(self):
        """The file path the URL names, or None when it leaves the root."""
        path = self.path
        if "://" in path.split("?", 1)[0]:
            path = urllib.parse.urlsplit(path).path
        path = path.split("?", 1)[0].split("#", 1)[0]
        parts = []
        for part in urllib.parse.unquote_to_bytes(path).split(b"/"):
            if part in (b"", b"."):
                continue
            if part == b".." or b"\0" in part:
                return None
            parts.append(os.fsdecode(part))
        if not parts:
            return None
        root = self.server.root
        target = os.path.join(root, *parts)
        for candidate in (target, target + ".fault"):
            real = os.path.realpath(candidate)
            if os.path.commonpath([root, real]) != root:
                return None
        return target

    # Answering.

    def answer(self, send_body):
        target = self.target_path()
        fault, fault_error = None, None
        if target is not None:
            try:
                fault = read_fault(target + ".fault")
            except FaultError as e:
                fault_error = str(e)
        self.log_entry(fault, fault_error)

        if fault_error is not None:
            self.plain(500, "Bad Fault File", fault_error + "\n", send_body)
            return
        fault = fault or {}
        if fault.get("silent"):
            self.close_connection = True
            self.hang()
            return
        status = fault.get("status", 200)
        reason = fault.get("reason")

        source = None
        if "body" in fault:
            data = body_text_bytes(fault["body"])
            repeat = fault.get("body_repeat", 1)
            if len(data) * repeat > MAX_BODY:
                self.plain(500, "Bad Fault File", "body larger than %d bytes\n" % MAX_BODY, send_body)
                return
            source = BytesSource(data * repeat)
        elif status == 200 and target is not None and os.path.isfile(target):
            try:
                source = FileSource(target)
            except OSError:
                source = None
            if source is None:
                self.plain(404, None, "Not Found\n", send_body)
                return
        elif "status" in fault:
            self.plain(status, reason, None, send_body, fault)
            return
        else:
            self.plain(404, None, "Not Found\n", send_body)
            return

        try:
            self.send_source(status, reason, source, fault, send_body)
        finally:
            source.close()

    def send_location(self, fault):
        if fault and "location" in fault:
            self.send_header("Location", fault["location"])

    def plain(self, status, reason, text, send_body, fault=None):
        if text is None:
            text = "%d %s\n" % (status, reason or default_reason(status))
        data = text.encode("utf-8")
        no_body = status < 200 or status in (204, 304)
        self.send_response(status, reason or default_reason(status))
        self.send_location(fault)
        self.send_header("Content-Type", "text/plain; charset=utf-8")
        self.send_header("Content-Length", "0" if no_body else str(len(data)))
        if status < 200:
            # Not a final answer; there is nothing sensible to follow it.
            self.send_header("Connection", "close")
            self.close_connection = True
        self.end_headers()
        if send_body and not no_body:
            self.wfile.write(data)

    def send_source(self, status, reason, source, fault, send_body):
        size = source.size
        if "short_body" in fault:
            size = min(size, fault["short_body"])
        body = Body(source, size, fault.get("extra_bytes", 0))

        self.send_response(status, reason or default_reason(status))
        self.send_location(fault)
        self.send_header("Content-Type", "application/octet-stream")
        self.send_header("Content-Length", str(body.size))
        self.end_headers()
        if not send_body:
            return

        limit = body.size
        cut = False
        if "announce_full_send" in fault:
            limit = min(limit, fault["announce_full_send"])
            cut = True
        hang = "hang_after" in fault
        if hang:
            limit = min(limit, fault["hang_after"])

        drip = fault.get("drip")
        piece = drip.get("chunk", 1) if drip else SEND_PIECE
        delay = drip.get("delay_ms", 0) / 1000.0 if drip else 0.0

        try:
            sent = self.send_pieces(body.chunks(limit), piece, delay, first=True)
            if hang:
                self.close_connection = True
                self.hang()
                return
            if cut:
                self.close_connection = True
                return
            if "longer_than_announced" in fault:
                self.send_pieces(fill_chunks(fault["longer_than_announced"]), piece, delay,
                                 first=(sent == 0))
                self.close_connection = True
        except (ClientGone, OSError):
            self.close_connection = True

    def send_pieces(self, chunks, piece, delay, first):
        """Sends the chunks in pieces of at most piece bytes, delay seconds
        apart; gives the number of bytes sent."""
        sent = 0
        for chunk in chunks:
            for at in range(0, len(chunk), piece):
                if not first and delay > 0:
                    if self.server.stopping.wait(delay):
                        raise ClientGone()
                first = False
                data = chunk[at:at + piece]
                self.wfile.write(data)
                sent += len(data)
        return sent

    def hang(self):
        """Sends nothing more until the client closes, the server stops or a
        time limit passes. What the client sends meanwhile is read and
        dropped."""
        conn = self.connection
        deadline = time.monotonic() + MAX_HANG_SECONDS
        while not self.server.stopping.is_set() and time.monotonic() < deadline:
            try:
                readable, _, _ = select.select([conn], [], [], 0.1)
                if readable and not conn.recv(4096):
                    return
            except (OSError, ValueError):
                return

    # The request log.

    def log_entry(self, fault, fault_error):
        headers = {}
        for name, value in self.headers.items():
            headers[name] = headers[name] + ", " + value if name in headers else value
        entry = {
            "time": time.time(),
            "method": self.command,
            "path": self.path,
            "request_line": self.raw_requestline.decode("iso-8859-1").rstrip("\r\n"),
            "version": self.request_version,
            "host": self.headers.get("Host"),
            "headers": headers,
            "client": "%s:%d" % tuple(self.client_address[:2]),
            "scheme": "https" if self.server.tls is not None else "http",
            "fault": fault,
        }
        if fault_error is not None:
            entry["fault_error"] = fault_error
        self.server.log_request_line(entry)


def default_reason(status):
    try:
        return http.HTTPStatus(status).phrase
    except ValueError:
        return "Status"


def write_file_atomically(path, text):
    tmp = "%s.%d.tmp" % (path, os.getpid())
    with open(tmp, "w", encoding="ascii") as f:
        f.write(text)
    os.replace(tmp, path)


def remove_quietly(path):
    if path:
        try:
            os.remove(path)
        except OSError:
            pass


def tls_context(root, cert, key):
    """A server context showing cert, or the certificate the test chose in
    ROOT/tls-certificate, read afresh at every handshake."""
    folder = os.path.dirname(os.path.abspath(cert))

    def load(cert_file, key_file):
        context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
        context.load_cert_chain(cert_file, key_file)
        return context

    default = load(cert, key)

    def choose(connection, server_name, context):
        try:
            with open(os.path.join(root, CERTIFICATE_CHOICE), encoding="ascii") as f:
                name = f.read(100).strip()
        except (OSError, ValueError):
            name = ""
        if name and all(c.isalnum() or c == "-" for c in name):
            try:
                connection.context = load(os.path.join(folder, name + ".crt"), os.path.join(folder, name + ".key"))
            except (OSError, ssl.SSLError) as e:
                print("info_server: can't use certificate %s: %s" % (name, e), file=sys.stderr, flush=True)
                return ssl.ALERT_DESCRIPTION_INTERNAL_ERROR
        return None

    default.sni_callback = choose
    return default


def main(argv=None):
    parser = argparse.ArgumentParser(description="Serves an information-server folder for tests.")
    parser.add_argument("--root", required=True, help="folder to serve; requests.log is written here")
    parser.add_argument("--host", default="127.0.0.1")
    parser.add_argument("--port", type=int, default=80, help="0 picks a free port")
    parser.add_argument("--pidfile")
    parser.add_argument("--ready-file")
    parser.add_argument("--tls", nargs=2, metavar=("CERT", "KEY"), help="serve HTTPS with this certificate")
    args = parser.parse_args(argv)

    if not os.path.isdir(args.root):
        print("info_server: no such folder: %s" % args.root, file=sys.stderr)
        return 2
    remove_quietly(args.ready_file)   # a stale one must not signal readiness

    stop = threading.Event()

    def on_signal(signum, frame):
        stop.set()

    signal.signal(signal.SIGTERM, on_signal)
    signal.signal(signal.SIGINT, on_signal)

    try:
        tls = tls_context(args.root, *args.tls) if args.tls else None
        server = InfoServer((args.host, args.port), args.root, tls)
    except (OSError, ssl.SSLError) as e:
        print("info_server: can't listen on %s port %d: %s" % (args.host, args.port, e),
              file=sys.stderr)
        return 2

    serving = threading.Thread(target=server.serve_forever, kwargs={"poll_interval": 0.1},
                               daemon=True)
    try:
        if args.pidfile:
            write_file_atomically(args.pidfile, "%d\n" % os.getpid())
        serving.start()
        if args.ready_file:
            write_file_atomically(args.ready_file, "%s %d\n" % server.server_address[:2])
        while not stop.wait(1.0):
            pass
    finally:
        server.stopping.set()
        if serving.is_alive():
            server.shutdown()
        server.server_close()
        remove_quietly(args.pidfile)
        remove_quietly(args.ready_file)
    return 0


if __name__ == "__main__":
    sys.exit(main())
