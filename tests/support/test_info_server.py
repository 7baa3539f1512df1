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


class RunningServer:
    """The server in a process of its own, on a free port."""

    def __init__(self, root):
        self.root = root
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
                raise RuntimeError("server didn't start: %s" % self.process.stderr.read())
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
    write(root, path + ".fault", json.dumps(fault) if isinstance(fault, dict) else fault)


def clear_fault(root, path):
    os.remove(os.path.join(root, *path.strip("/").split("/")) + ".fault")


def raw_exchange(port, path, timeout=3.0, close=False):
    """Sends one GET on a fresh connection, asking the server to close it
    after the answer where close is set, and reads until the server closes it
    (or the timeout passes). Gives (status, headers, body, closed)."""
    with socket.create_connection(("127.0.0.1", port), timeout=timeout) as s:
        s.sendall(("GET %s HTTP/1.1\r\nHost: 127.0.0.1\r\nUser-Agent: OrvexInstaller\r\n"
                   "Accept: */*\r\n%s\r\n" % (path, "Connection: close\r\n" if close else ""))
                  .encode())
        data, closed = b"", False
        try:
            while True:
                piece = s.recv(65536)
                if not piece:
                    closed = True
                    break
                data += piece
        except socket.timeout:
            pass
    head, _, body = data.partition(b"\r\n\r\n")
    lines = head.decode("iso-8859-1").split("\r\n")
    headers = {k.strip().lower(): v.strip() for k, v in
               (line.split(":", 1) for line in lines[1:] if ":" in line)}
    return int(lines[0].split()[1]), headers, body, closed


class InfoServerTest(unittest.TestCase):

    @classmethod
    def setUpClass(cls):
        cls.top = tempfile.mkdtemp(prefix="info_server_test_")
        cls.root = os.path.join(cls.top, "root")
        os.mkdir(cls.root)
        write(cls.root, "/quillon/info.txt", RECORD)
        write(cls.root, "/quillon/download/quillon_1-0-0-5.exe", PACKAGE)
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
        for dirpath, _, names in os.walk(self.root):
            for name in names:
                if name.endswith(".fault"):
                    os.remove(os.path.join(dirpath, name))

    def get(self, path, method="GET"):
        self.conn.request(method, path, headers={"User-Agent": "OrvexInstaller", "Accept": "*/*"})
        response = self.conn.getresponse()
        return response, response.read()

    def log_lines(self):
        with open(os.path.join(self.root, "requests.log")) as f:
            return [json.loads(line) for line in f]

    def test_serves_files_on_one_connection_and_refuses_the_rest(self):
        response, body = self.get("/quillon/info.txt")
        self.assertEqual((response.status, body), (200, RECORD))
        self.assertEqual(response.getheader("Content-Length"), str(len(RECORD)))
        self.assertEqual(response.getheader("Content-Type"), "application/octet-stream")
        # Same connection, percent-encoded path.
        sock = self.conn.sock
        response, body = self.get("/quillon/download/quillon%5F1-0-0-5.exe")
        self.assertEqual((response.status, body), (200, PACKAGE))
        self.assertIs(self.conn.sock, sock)
        response, body = self.get("/quillon/download/quillon_1-0-0-5.exe", method="HEAD")
        self.assertEqual((response.status, body), (200, b""))
        self.assertEqual(response.getheader("Content-Length"), str(len(PACKAGE)))

        for path in ("/quillon/missing.txt", "/quillon/download", "/quillon/", "/",
                     "/../secret.txt", "/quillon/../../secret.txt", "/%2e%2e/secret.txt",
                     "/quillon/%2E%2E/%2e%2e/secret.txt", "/quillon/info.txt%00.fault"):
            status, _, body, _ = raw_exchange(self.server.port, path, close=True)
            self.assertEqual(status, 404, path)
            self.assertNotIn(b"outside", body, path)

    def test_request_log_records_each_request(self):
        self.get("/quillon/info.txt?x=1")
        entry = self.log_lines()[-1]
        self.assertEqual(entry["method"], "GET")
        self.assertEqual(entry["path"], "/quillon/info.txt?x=1")
        self.assertEqual(entry["request_line"], "GET /quillon/info.txt?x=1 HTTP/1.1")
        self.assertEqual(entry["headers"]["User-Agent"], "OrvexInstaller")
        self.assertEqual(entry["headers"]["Accept"], "*/*")
        self.assertEqual(entry["host"], "127.0.0.1:%d" % self.server.port)
        self.assertLess(abs(entry["time"] - time.time()), 10)
        self.assertIsNone(entry["fault"])

    def test_status_faults_are_reread_on_every_request(self):
        path = "/quillon/info.txt"
        set_fault(self.root, path, {"status": 404})
        response, body = self.get(path)
        self.assertEqual(response.status, 404)
        self.assertNotEqual(body, RECORD)
        set_fault(self.root, path, {"status": 301})
        response, _ = self.get(path)
        self.assertEqual(response.status, 301)
        self.assertIsNone(response.getheader("Location"))
        set_fault(self.root, path, {"status": 500, "reason": "Broken Today"})
        response, _ = self.get(path)
        self.assertEqual((response.status, response.reason), (500, "Broken Today"))
        set_fault(self.root, path, {"status": 200})
        self.assertEqual(self.get(path)[1], RECORD)
        self.assertEqual(self.log_lines()[-1]["fault"], {"status": 200})
        clear_fault(self.root, path)
        self.assertEqual(self.get(path)[1], RECORD)

        # A fault for a path with no file behind it.
        set_fault(self.root, "/other/info.txt", {"status": 503})
        self.assertEqual(self.get("/other/info.txt")[0].status, 503)
        set_fault(self.root, "/other/info.txt", {"drip": {"chunk": 1}})
        self.assertEqual(self.get("/other/info.txt")[0].status, 404)

    def test_body_faults(self):
        path = "/quillon/download/quillon_1-0-0-5.exe"
        set_fault(self.root, path, {"short_body": 1000})
        response, body = self.get(path)
        self.assertEqual((response.getheader("Content-Length"), body), ("1000", PACKAGE[:1000]))
        set_fault(self.root, path, {"extra_bytes": 7})
        response, body = self.get(path)
        self.assertEqual(body, PACKAGE + b"\xee" * 7)
        self.assertEqual(response.getheader("Content-Length"), str(len(PACKAGE) + 7))
        set_fault(self.root, path, {"short_body": 10, "extra_bytes": 2})
        self.assertEqual(self.get(path)[1], PACKAGE[:10] + b"\xee\xee")

        # A record over 5000 bytes, and byte values written as characters.
        set_fault(self.root, "/big/info.txt", {"body": "1|2.0.0.0|0.0.0.0|5|a|" + "d" * 100,
                                              "body_repeat": 60})
        response, body = self.get("/big/info.txt")
        self.assertEqual((response.status, len(body)), (200, 122 * 60))
        set_fault(self.root, "/big/info.txt", {"body": "\u00e9\u0000|", "status": 404})
        response, body = self.get("/big/info.txt")
        self.assertEqual((response.status, body), (404, b"\xe9\x00|"))

    def test_bad_fault_files_are_answered_with_500(self):
        path = "/quillon/info.txt"
        for fault in ("{not json", "[1]", {"shortbody": 3}, {"status": 42},
                      {"short_body": -1}, {"drip": {"chunk": 0}}, {"body_repeat": 2}):
            set_fault(self.root, path, fault)
            response, body = self.get(path)
            self.assertEqual(response.status, 500, fault)
            self.assertIn("fault_error", self.log_lines()[-1])

    def test_announce_full_send_closes_mid_body(self):
        path = "/quillon/download/quillon_1-0-0-5.exe"
        set_fault(self.root, path, {"announce_full_send": 3000})
        status, headers, body, closed = raw_exchange(self.server.port, path)
        self.assertEqual((status, headers["content-length"]), (200, str(len(PACKAGE))))
        self.assertEqual((body, closed), (PACKAGE[:3000], True))

    def test_longer_than_announced_sends_trailing_bytes_then_closes(self):
        path = "/quillon/info.txt"
        set_fault(self.root, path, {"longer_than_announced": 50})
        status, headers, body, closed = raw_exchange(self.server.port, path)
        self.assertEqual(headers["content-length"], str(len(RECORD)))
        self.assertEqual((body, closed), (RECORD + b"\xee" * 50, True))

    def test_drip_spreads_the_body_over_time(self):
        path = "/quillon/download/quillon_1-0-0-5.exe"
        set_fault(self.root, path, {"short_body": 500, "drip": {"chunk": 100, "delay_ms": 60}})
        started = time.monotonic()
        response, body = self.get(path)
        elapsed = time.monotonic() - started
        self.assertEqual(body, PACKAGE[:500])
        self.assertGreaterEqual(elapsed, 0.2)     # four gaps of 60 ms
        self.assertLess(elapsed, 2.0)


class StopTest(unittest.TestCase):

    def test_hang_after_holds_the_client_but_not_the_stop(self):
        top = tempfile.mkdtemp(prefix="info_server_test_")
        try:
            root = os.path.join(top, "root")
            os.mkdir(root)
            path = "/quillon/download/quillon_1-0-0-5.exe"
            write(root, path, PACKAGE)
            set_fault(root, path, {"hang_after": 100})
            server = RunningServer(root)
            try:
                status, headers, body, closed = raw_exchange(server.port, path, timeout=0.5)
                self.assertEqual((status, body, closed), (200, PACKAGE[:100], False))
                # A second client left hanging while the server stops.
                held = socket.create_connection(("127.0.0.1", server.port), timeout=5)
                held.sendall(("GET %s HTTP/1.1\r\nHost: x\r\n\r\n" % path).encode())
                self.assertTrue(held.recv(65536))
                self.assertTrue(os.path.exists(server.pidfile))
            finally:
                took = server.stop()
            self.assertLess(took, 2.5)
            self.assertEqual(server.process.returncode, 0)
            self.assertEqual(server.stderr, b"")
            self.assertFalse(os.path.exists(server.pidfile))
            self.assertFalse(os.path.exists(server.ready))
            held.settimeout(2)
            while held.recv(65536):
                pass
            held.close()
        finally:
            shutil.rmtree(top, ignore_errors=True)


if __name__ == "__main__":
    unittest.main()
