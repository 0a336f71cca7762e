#!/usr/bin/env python3
"""The shipped tunnel configurations, run by the real tunnel program (Debian's stunnel4) on loopback.

For each client configuration stunnelN.conf of KIT_DIR/customer: its promises are checked as written
(client mode, local end on 127.0.0.1:5500 only, the technician's certificate pinned and its host name
checked, TLS 1.2 at least, no tray icon); then the file, with its `connect` pointed at a local tunnel
server, its local port moved off 5500 and the Windows-only lines removed, runs in the real tunnel
program. The server is the shipped technician-side example, with its ports moved to loopback and the
certificate made for that ID. Bytes must pass end to end to an echo server standing for the VNC
viewer. A server with an impostor certificate (the same host name, another key) must be refused:
the echo server then sees no connection and no byte.

  tunnel_test.py KIT_DIR
Exit code 0 when every check passed, 1 on a failure, 77 (skipped) when stunnel4 or openssl is missing.
"""
import argparse
import os
import secrets
import shutil
import signal
import socket
import sys
import tempfile
import threading
import time

ROOT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..")
sys.path[:0] = [os.path.join(ROOT, "tests", "support"), os.path.join(ROOT, "kit", "tools")]
from scripted import Failure, free_port, read  # noqa: E402
from tunnel_config import for_linux  # noqa: E402
from tunnels import Tunnels, check_client, log_text, make_certificate, options  # noqa: E402

SKIPPED = 77
LIMIT_SECONDS = 120
PAYLOAD_BYTES = 256 * 1024

class EchoServer:
    """Stands for the VNC viewer: echoes what it gets and counts connections and bytes."""

    def __init__(self):
        self.listener = socket.socket()
        self.listener.bind(("127.0.0.1", 0))
        self.listener.listen(8)
        self.port = self.listener.getsockname()[1]
        self.connections = 0
        self.bytes = 0
        self.lock = threading.Lock()
        threading.Thread(target=self._accept, daemon=True).start()

    def _accept(self):
        while True:
            try:
                conn, _ = self.listener.accept()
            except OSError:
                return
            with self.lock:
                self.connections += 1
            threading.Thread(target=self._echo, args=(conn,), daemon=True).start()

    def _echo(self, conn):
        with conn:
            while data := conn.recv(65536):
                with self.lock:
                    self.bytes += len(data)
                conn.sendall(data)

    def counts(self):
        with self.lock:
            return self.connections, self.bytes


def pass_through(port, payload):
    """Sends payload into the tunnel's local end and returns what comes back before it closes. A
    tunnel that refuses its server may reset the local connection before connect has returned."""
    received = bytearray()
    try:
        with socket.create_connection(("127.0.0.1", port), timeout=15) as s:
            sender = threading.Thread(target=lambda: send_quietly(s, payload), daemon=True)
            sender.start()
            while len(received) < len(payload):
                data = s.recv(65536)
                if not data:
                    break
                received += data
            sender.join(15)
    except (ConnectionResetError, socket.timeout):
        pass
    return bytes(received)


def send_quietly(s, payload):
    try:
        s.sendall(payload)
    except OSError:
        pass  # a refused tunnel closes the local end while bytes are still on their way


def check_genuine(name, tunnels, client_port, server, pinned):
    """The technician's server with the pinned certificate: every byte passes unchanged."""
    genuine = tunnels.start("server", server(pinned.removesuffix(".crt")), tunnels.server_port)
    payload = secrets.token_bytes(PAYLOAD_BYTES)
    if pass_through(client_port, payload) != payload:
        raise Failure(f"{name}: the bytes did not come back unchanged through the tunnel")
    tunnels.stop(genuine)


def check_impostor(name, tunnels, client_port, server, echo):
    """A server with a certificate for the same name but another key: refused, nothing passes."""
    before = echo.counts()
    tunnels.start("impostor", server("impostor"), tunnels.server_port)
    back = pass_through(client_port, secrets.token_bytes(4096))
    time.sleep(0.3)  # anything that slipped through would reach the echo server by now
    if back or echo.counts() != before:
        raise Failure(f"{name}: the impostor server was not refused ({len(back)} bytes came back, "
                      f"echo server before {before}, after {echo.counts()})")
    log = log_text(tunnels.directory, "client")
    if "Locally installed certificate matched" not in log or "Rejected by CERT at depth=0" not in log:
        raise Failure(f"{name}: the client's log does not show the pinned certificate accepted and the "
                      f"impostor's rejected:\n{log}")


def check_id(kit, work, program, echo, number):
    name = f"stunnel{number}.conf"
    client_text = read(kit, "customer", name)
    service = check_client(name, options(client_text))
    host, pinned = service["connect"].rpartition(":")[0], service["cafile"]
    directory = os.path.join(work, f"id{number}")
    os.makedirs(directory)
    make_certificate(directory, pinned.removesuffix(".crt"), host)  # the technician's own
    make_certificate(directory, "impostor", host)                   # same name, other key
    server_text = read(kit, "technician", "stunnel-techniker301.conf")
    tunnels = Tunnels(program, directory)
    client_port = free_port()
    tunnels.server_port = free_port()

    def server(stem):
        # The log at level info holds the certificate checks.
        return for_linux(server_text, {"accept": f"127.0.0.1:{tunnels.server_port}",
                                       "connect": f"127.0.0.1:{echo.port}", "cert": stem + ".crt",
                                       "key": stem + ".key"}, "info")

    try:
        tunnels.start("client", for_linux(client_text, {"accept": f"127.0.0.1:{client_port}",
                                                        "connect": f"127.0.0.1:{tunnels.server_port}"}, "info"),
                      client_port)
        check_genuine(name, tunnels, client_port, server, pinned)
        check_impostor(name, tunnels, client_port, server, echo)
    finally:
        tunnels.stop_all()
    print(f"ok {name}: {PAYLOAD_BYTES} bytes passed to {host} (pinned {pinned}); the impostor was refused")


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("kit_dir", help="the kit's folder (customer/ and technician/ inside)")
    args = parser.parse_args()
    program = shutil.which("stunnel4") or shutil.which("stunnel")
    if program is None or shutil.which("openssl") is None:
        print("SKIPPED: the tunnel test needs Debian's stunnel4 and openssl (scripts/test installs them)")
        return SKIPPED
    # A hung tunnel ends the test (its processes still ended) instead of holding up the run.
    signal.signal(signal.SIGALRM, lambda *_: (_ for _ in ()).throw(Failure(f"not done within {LIMIT_SECONDS} s")))
    signal.alarm(LIMIT_SECONDS)
    echo = EchoServer()
    with tempfile.TemporaryDirectory(prefix="brol-tunnel-") as work:
        try:
            for number in range(1, 5):
                check_id(args.kit_dir, work, program, echo, number)
        except Failure as failure:
            print(f"FAIL {failure}")
            return 1
    print("all four tunnel configurations passed")
    return 0


if __name__ == "__main__":
    sys.exit(main())
