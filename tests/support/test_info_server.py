#!/usr/bin/env python3
"""Checks of the test information server: the files it serves, the faults a
test can ask for, the request log and a clean stop.

Run with: python3 tests/support/test_info_server.py
"""
import http.client
import json
import os
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import time
import unittest

SERVER = os.path.join(os.path.dirname(os.path.abspath(__file__)), "info_server.py")

PACKAGE = b"MZ\x01\x01" + bytes(range(256)) * 40      # 10244 bytes
RECORD = b"7|1.0.0.5|0.0.0.0|10244|x|Quillon viewer|1.0.0.0|"
PACKAGE_PATH = "/quillon/download/quillon_1-0-0-5.exe"
RECORD_PATH = "/quillon/info.txt"


class RunningServer:
    """The server in a process of its own, on a free port."""

    def __init__(self, root):
        self.pidfile = os.path.join(root, "..", "server.pid")
        self.ready = os.path.join(root, "..", "server.ready")
        self.process = subprocess.Popen(
            [sys.executable, SERVER, "--root", root, "--port", "0",
             "--pidfile", self.pidfile, "--ready-file", self.ready],
            stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
        deadline = time.monotonic() + 10
        while not os.path.exists(self.ready):
            if self.process.poll() is not None or time.monotonic() > deadline:
                self.stop()
                raise RuntimeError("server didn't start: %s" % self.stderr)
            time.sleep(0.02)
        with open(self.ready) as f:
            self.port = int(f.read().split()[1])

    def stop(self):
        """Stops the server; gives how long that took in seconds."""
        started = time.monotonic()
        if self.process.poll() is None:
            self.process.send_signal(signal.SIGTERM)
        try:
            self.process.wait(timeout=5)
        except subprocess.TimeoutExpired:
            self.process.kill()
            self.process.wait()
        self.stderr = self.process.stderr.read()
        self.process.stderr.close()
        return time.monotonic() - started


def write(root, path, data):
    full = os.path.join(root, *path.strip("/").split("/"))
    os.makedirs(os.path.dirname(full), exist_ok=True)
    with open(full, "wb") as f:
        f.write(data if isinstance(data, bytes) else data.encode())


def set_fault(root, path, fault):
    """Writes the fault file for path (a dict as JSON, text as it is); None removes it."""
    if fault is None:
        os.remove(os.path.join(root, *path.strip("/").split("/")) + ".fault")
    else:
        write(root, path + ".fault", json.dumps(fault) if isinstance(fault, dict) else fault)


def raw_exchange(port, path, timeout=3.0):
    """Sends one GET on a fresh connection and reads until the server closes
    it or the timeout passes. Gives (status, headers, body, closed)."""
    with socket.create_connection(("127.0.0.1", port), timeout=timeout) as s:
        s.sendall(("GET %s HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n" % path).encode())
        data, closed = b"", False
        try:
            while not closed:
                piece = s.recv(65536)
                data += piece
                closed = not piece
        except socket.timeout:
            pass
    head, _, body = data.partition(b"\r\n\r\n")
    lines = head.decode("iso-8859-1").split("\r\n")
    headers = {k.strip().lower(): v.strip() for k, v in (line.split(":", 1) for line in lines[1:] if ":" in line)}
    return int(lines[0].split()[1]), headers, body, closed


class InfoServerTest(unittest.TestCase):

    @classmethod
    def setUpClass(cls):
        cls.top = tempfile.mkdtemp(prefix="info_server_test_")
        cls.root = os.path.join(cls.top, "root")
        write(cls.root, RECORD_PATH, RECORD)
        write(cls.root, PACKAGE_PATH, PACKAGE)
        write(cls.top, "/secret.txt", b"outside the root")
        cls.server = RunningServer(cls.root)

    @classmethod
    def tearDownClass(cls):
        cls.server.stop()
        shutil.rmtree(cls.top, ignore_errors=True)

    def setUp(self):
        self.conn = http.client.HTTPConnection("127.0.0.1", self.server.port, timeout=5)

    def tearDown(self):
        self.conn.close()
        for folder, _, names in os.walk(self.root):
            for name in names:
                if name.endswith(".fault"):
                    os.remove(os.path.join(folder, name))

    def get(self, path, method="GET"):
        self.conn.request(method, path, headers={"User-Agent": "OrvexInstaller", "Accept": "*/*"})
        response = self.conn.getresponse()
        return response, response.read()

    def last_logged(self):
        with open(os.path.join(self.root, "requests.log")) as f:
            return json.loads(f.readlines()[-1])

    def test_serves_files_on_one_connection_and_refuses_the_rest(self):
        response, body = self.get(RECORD_PATH + "?x=1")
        self.assertEqual((response.status, body), (200, RECORD))
        self.assertEqual(response.getheader("Content-Length"), str(len(RECORD)))
        self.assertEqual(response.getheader("Content-Type"), "application/octet-stream")
        entry = self.last_logged()
        self.assertEqual((entry["method"], entry["path"], entry["request_line"], entry["host"], entry["fault"]),
                         ("GET", RECORD_PATH + "?x=1", "GET %s?x=1 HTTP/1.1" % RECORD_PATH,
                          "127.0.0.1:%d" % self.server.port, None))
        self.assertEqual((entry["headers"]["User-Agent"], entry["headers"]["Accept"]), ("OrvexInstaller", "*/*"))
        self.assertLess(abs(entry["time"] - time.time()), 10)
        # Same connection, percent-encoded path.
        sock = self.conn.sock
        response, body = self.get("/quillon/download/quillon%5F1-0-0-5.exe")
        self.assertEqual((response.status, body), (200, PACKAGE))
        self.assertIs(self.conn.sock, sock)
        response, body = self.get(PACKAGE_PATH, method="HEAD")
        self.assertEqual((response.status, body, response.getheader("Content-Length")),
                         (200, b"", str(len(PACKAGE))))
        for path in ("/quillon/missing.txt", "/quillon/download", "/quillon/", "/",
                     "/../secret.txt", "/quillon/../../secret.txt", "/%2e%2e/secret.txt",
                     "/quillon/%2E%2E/%2e%2e/secret.txt", "/quillon/info.txt%00.fault"):
            response, body = self.get(path)
            self.assertEqual(response.status, 404, path)
            self.assertNotIn(b"outside", body, path)

    def test_faults_are_reread_on_every_request(self):
        cases = [  # path, fault (None: no fault file), what the answer must show; the log shows the fault
            (RECORD_PATH, {"status": 404}, {"status": 404, "body": b"404 Not Found\n"}),
            (RECORD_PATH, {"status": 301}, {"status": 301, "location": None}),
            (RECORD_PATH, {"status": 500, "reason": "Broken Today"}, {"status": 500, "reason": "Broken Today"}),
            (RECORD_PATH, {"status": 200}, {"status": 200, "body": RECORD}),
            (RECORD_PATH, None, {"status": 200, "body": RECORD}),
            ("/other/info.txt", {"status": 503}, {"status": 503}),   # no file behind it
            ("/other/info.txt", {"drip": {"chunk": 1}}, {"status": 404}),
            (PACKAGE_PATH, {"short_body": 1000}, {"length": "1000", "body": PACKAGE[:1000]}),
            (PACKAGE_PATH, {"extra_bytes": 7}, {"length": str(len(PACKAGE) + 7), "body": PACKAGE + b"\xee" * 7}),
            (PACKAGE_PATH, {"short_body": 10, "extra_bytes": 2}, {"body": PACKAGE[:10] + b"\xee\xee"}),
            # A record over 5000 bytes, and byte values written as characters.
            ("/big/info.txt", {"body": "1|2.0.0.0|0.0.0.0|5|a|" + "d" * 100, "body_repeat": 60},
             {"status": 200, "body": (b"1|2.0.0.0|0.0.0.0|5|a|" + b"d" * 100) * 60}),
            ("/big/info.txt", {"body": "\u00e9\u0000|", "status": 404}, {"status": 404, "body": b"\xe9\x00|"}),
        ]
        # Fault files that can't be used as written.
        cases += [(RECORD_PATH, fault, {"status": 500, "reason": "Bad Fault File"}) for fault in
                  ("{not json", "[1]", {"shortbody": 3}, {"status": 42}, {"short_body": -1},
                   {"drip": {"chunk": 0}}, {"body_repeat": 2})]
        for path, fault, expected in cases:
            with self.subTest(path=path, fault=fault):
                set_fault(self.root, path, fault)
                response, body = self.get(path)
                answer = {"status": response.status, "reason": response.reason, "body": body,
                          "length": response.getheader("Content-Length"), "location": response.getheader("Location")}
                self.assertEqual({key: answer[key] for key in expected}, expected)
                logged = self.last_logged()
                bad = expected.get("reason") == "Bad Fault File"
                self.assertEqual((logged["fault"], "fault_error" in logged), (None if bad else fault, bad))

    def test_faults_that_close_the_connection(self):
        for path, fault, announced, sent in [
                (PACKAGE_PATH, {"announce_full_send": 3000}, len(PACKAGE), PACKAGE[:3000]),
                (RECORD_PATH, {"longer_than_announced": 50}, len(RECORD), RECORD + b"\xee" * 50)]:
            with self.subTest(fault):
                set_fault(self.root, path, fault)
                status, headers, body, closed = raw_exchange(self.server.port, path)
                self.assertEqual((status, headers["content-length"], body, closed),
                                 (200, str(announced), sent, True))

    def test_drip_spreads_the_body_over_time(self):
        set_fault(self.root, PACKAGE_PATH, {"short_body": 500, "drip": {"chunk": 100, "delay_ms": 60}})
        started = time.monotonic()
        self.assertEqual(self.get(PACKAGE_PATH)[1], PACKAGE[:500])
        elapsed = time.monotonic() - started
        self.assertGreaterEqual(elapsed, 0.2)     # four gaps of 60 ms
        self.assertLess(elapsed, 2.0)


class StopTest(unittest.TestCase):

    def test_hang_after_holds_the_client_but_not_the_stop(self):
        with tempfile.TemporaryDirectory(prefix="info_server_test_") as top:
            root = os.path.join(top, "root")
            write(root, PACKAGE_PATH, PACKAGE)
            set_fault(root, PACKAGE_PATH, {"hang_after": 100})
            server = RunningServer(root)
            try:
                status, _, body, closed = raw_exchange(server.port, PACKAGE_PATH, timeout=0.5)
                self.assertEqual((status, body, closed), (200, PACKAGE[:100], False))
                # A silent server reads the request and says nothing at all.
                set_fault(root, RECORD_PATH, {"silent": True})
                with socket.create_connection(("127.0.0.1", server.port), timeout=0.5) as s:
                    s.sendall(("GET %s HTTP/1.1\r\nHost: x\r\n\r\n" % RECORD_PATH).encode())
                    self.assertRaises(socket.timeout, s.recv, 65536)
                # A second client left hanging while the server stops.
                held = socket.create_connection(("127.0.0.1", server.port), timeout=5)
                held.sendall(("GET %s HTTP/1.1\r\nHost: x\r\n\r\n" % PACKAGE_PATH).encode())
                self.assertTrue(held.recv(65536))
                self.assertTrue(os.path.exists(server.pidfile))
            finally:
                took = server.stop()
            self.assertEqual((server.process.returncode, server.stderr), (0, b""))
            self.assertLess(took, 2.5)
            self.assertFalse(os.path.exists(server.pidfile) or os.path.exists(server.ready))
            held.settimeout(2)
            while held.recv(65536):
                pass
            held.close()


if __name__ == "__main__":
    unittest.main()
