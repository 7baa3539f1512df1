#!/usr/bin/env python3
"""The information server of the installer's network tests: its faults and its
log are described in docs/testing.md."""
import argparse
import http.server
import json
import os
import signal
import socketserver
import ssl
import sys
import threading
import time
import urllib.parse

FILL = b"\xee"
HANG_LIMIT_SECONDS = 600


class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"
    timeout = 30

    def log_message(self, format, *args):  # the request log says it all
        pass

    def do_GET(self):
        root = self.server.root
        parts = urllib.parse.unquote(urllib.parse.urlsplit(self.path).path).split("/")
        target = None if ".." in parts else os.path.join(root, *[p for p in parts if p])
        try:
            with open(target + ".fault", encoding="utf-8-sig") as f:
                fault = json.load(f)
        except (TypeError, OSError):
            fault = {}
        except ValueError as e:
            fault = {"status": 500, "body": "bad fault file: %s\n" % e}
        self.log_entry(fault)

        status = fault.get("status", 200)
        if "body" in fault:
            data = fault["body"].encode("latin-1")
        elif status == 200 and target and os.path.isfile(target):
            with open(target, "rb") as f:
                data = f.read()
        elif "status" in fault:
            data = ("%d\n" % status).encode()
        else:
            status, data = 404, b"Not Found\n"
        data += FILL * fault.get("extra_bytes", 0)

        self.send_response(status)
        if "location" in fault:
            self.send_header("Location", fault["location"])
        self.send_header("Content-Length", str(len(data)))
        self.end_headers()
        if "announce_full_send" in fault:
            data = data[:fault["announce_full_send"]]
            self.close_connection = True
        if "hang_after" in fault:
            data = data[:fault["hang_after"]]
        drip = fault.get("drip", {})
        piece = drip.get("chunk", len(data) or 1)
        try:
            for at in range(0, len(data), piece):
                if at and drip:
                    time.sleep(drip.get("delay_ms", 0) / 1000.0)
                self.wfile.write(data[at:at + piece])
            if "hang_after" in fault:
                return self.hang()
            if "longer_than_announced" in fault:
                self.wfile.write(FILL * fault["longer_than_announced"])
                self.close_connection = True
        except OSError:
            self.close_connection = True

    def hang(self):
        """Sends nothing more until the client goes (or a limit passes)."""
        self.close_connection = True
        self.connection.settimeout(HANG_LIMIT_SECONDS)
        try:
            while self.connection.recv(4096):
                pass
        except OSError:
            pass

    def log_entry(self, fault):
        entry = {
            "path": self.path,
            "host": self.headers.get("Host"),
            "scheme": "https" if self.server.tls else "http",
            "fault": "+".join(sorted(fault)) or None,
        }
        with self.server.log_lock, open(os.path.join(self.server.root, "requests.log"), "a") as log:
            log.write(json.dumps(entry) + "\n")


class Server(http.server.ThreadingHTTPServer):
    daemon_threads = True
    allow_reuse_address = True

    def server_bind(self):
        # No name lookup: a private network namespace has no resolver.
        socketserver.TCPServer.server_bind(self)

    def get_request(self):
        request, address = super().get_request()
        if self.tls:
            # The handshake happens on the handler's thread.
            request = self.tls.wrap_socket(request, server_side=True, do_handshake_on_connect=False)
        return request, address

    def handle_error(self, request, address):
        if not isinstance(sys.exc_info()[1], OSError):
            super().handle_error(request, address)


def tls_context(root, cert, key):
    """Shows cert, or the certificate named in ROOT/tls-certificate at the handshake."""
    context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
    context.load_cert_chain(cert, key)
    folder = os.path.dirname(os.path.abspath(cert))

    def choose(connection, server_name, _):
        try:
            with open(os.path.join(root, "tls-certificate")) as f:
                name = f.read(100).strip()
        except OSError:
            return
        if name.replace("-", "").isalnum():
            chosen = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
            chosen.load_cert_chain(os.path.join(folder, name + ".crt"), os.path.join(folder, name + ".key"))
            connection.context = chosen

    context.sni_callback = choose
    return context


def main():
    parser = argparse.ArgumentParser(description="Serves an information-server folder for tests.")
    parser.add_argument("--root", required=True)
    parser.add_argument("--port", type=int, default=80)
    parser.add_argument("--pidfile")
    parser.add_argument("--ready-file")
    parser.add_argument("--tls", nargs=2, metavar=("CERT", "KEY"))
    args = parser.parse_args()

    server = Server(("127.0.0.1", args.port), Handler)
    server.root = os.path.realpath(args.root)
    server.tls = tls_context(args.root, *args.tls) if args.tls else None
    server.log_lock = threading.Lock()
    for ending in (signal.SIGTERM, signal.SIGINT):
        signal.signal(ending, lambda *_: sys.exit(0))
    # The ready file says "<host> <port>" once the server listens; both files go when it ends.
    written = [(args.pidfile, "%d\n" % os.getpid()), (args.ready_file, "%s %d\n" % server.server_address[:2])]
    written = [(path, text) for path, text in written if path]
    try:
        for path, text in written:
            with open(path + ".tmp", "w") as f:
                f.write(text)
            os.replace(path + ".tmp", path)
        server.serve_forever(poll_interval=0.1)
    finally:
        for path, _ in written:
            if os.path.exists(path):
                os.remove(path)


if __name__ == "__main__":
    main()
