#!/usr/bin/env python3
"""The shipped tunnel configurations, run by the real tunnel program (Debian's stunnel4) on loopback.

For each client configuration stunnelN.conf of EXAMPLES_DIR: its promises are checked as written
(client mode, local end on 127.0.0.1:5500 only, the technician's certificate pinned and its host name
checked, TLS 1.2 at least, no tray icon); then the file, with its `connect` pointed at a local tunnel
server, its local port moved off 5500 and the Windows-only lines removed, runs in the real tunnel
program. The server is the shipped technician-side example, with its ports moved to loopback and the
certificate made for that ID. Bytes must pass end to end to an echo server standing for the VNC
viewer. A server with an impostor certificate (the same host name, another key) must be refused:
the echo server then sees no connection and no byte.

  tunnel_test.py EXAMPLES_DIR
Exit code 0 when every check passed, 1 on a failure, 77 (skipped) when stunnel4 or openssl is missing.
"""
import ctypes
import os
import re
import secrets
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import threading
import time

SKIPPED = 77
LIMIT_SECONDS = 120
WINDOWS_ONLY = {"taskbar", "service", "iconactive", "iconerror", "iconidle"}
PAYLOAD_BYTES = 256 * 1024
# Global options for running here: in the foreground (ended by the test), no pid file, the log with
# the certificate checks on standard error.
RUN_HERE = ["foreground = yes", "pid =", "syslog = no", "debug = info"]


class Failure(Exception):
    pass


def parse(text):
    """(section or None, key, value) for every option line; comments and blank lines skipped."""
    section, options = None, []
    for line in text.splitlines():
        line = line.strip()
        if not line or line.startswith(";") or line.startswith("#"):
            continue
        match = re.fullmatch(r"\[(.+)\]", line)
        if match:
            section = match.group(1)
            continue
        key, sep, value = line.partition("=")
        if not sep:
            raise Failure(f"not an option line: {line!r}")
        options.append((section, key.strip(), value.strip()))
    return options


def check_client(name, options):
    """The promises of a shipped client configuration; returns its service options by lower-case key."""
    sections = {s for s, _, _ in options if s is not None}
    if len(sections) != 1:
        raise Failure(f"{name}: expected one service section, found {sorted(sections)}")
    glob = {k.lower(): v for s, k, v in options if s is None}
    service = {k.lower(): v for s, k, v in options if s is not None}
    expect = {"client": "yes", "accept": "127.0.0.1:5500", "sslversionmin": "TLSv1.2", "verifypeer": "yes"}
    for key, value in expect.items():
        if service.get(key) != value:
            raise Failure(f"{name}: {key} is {service.get(key)!r}, expected {value!r}")
    if glob.get("taskbar") != "no":
        raise Failure(f"{name}: the tray icon is not switched off (taskbar = no)")
    host, _, port = service.get("connect", "").rpartition(":")
    if not host or not port.isdigit():
        raise Failure(f"{name}: connect {service.get('connect')!r} is not host:port")
    if service.get("checkhost") != host:
        raise Failure(f"{name}: checkHost {service.get('checkhost')!r} is not the host connected to ({host})")
    if not service.get("cafile"):
        raise Failure(f"{name}: no CAfile with the technician's certificate")
    return service


def rewrite(text, replace, first_lines):
    """text with the Windows-only options dropped, values of `replace` (lower-case key -> value)
    replaced, and first_lines put before everything (global options for running here)."""
    out = list(first_lines)
    for line in text.splitlines():
        key = line.partition("=")[0].strip().lower() if "=" in line and not line.lstrip().startswith(";") else ""
        if key in WINDOWS_ONLY:
            continue
        out.append(f"{line.partition('=')[0].strip()} = {replace[key]}" if key in replace else line)
    return "\n".join(out) + "\n"


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def make_certificate(directory, stem, host):
    """A self-signed certificate for host with a new P-256 key, made as the technician's notes say."""
    subprocess.run(
        ["openssl", "req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:P-256", "-nodes",
         "-days", "2", "-subj", f"/CN={host}", "-addext", f"subjectAltName=DNS:{host}",
         "-keyout", os.path.join(directory, stem + ".key"), "-out", os.path.join(directory, stem + ".crt")],
        check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=30)


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


class Tunnels:
    """The stunnel processes of the test; all of them are ended by stop_all."""

    def __init__(self, program, directory):
        self.program, self.directory, self.running = program, directory, []
        self.server_port = 0  # where the client connects: the technician's server of the moment

    def start(self, name, config_text, port):
        config = os.path.join(self.directory, name + ".conf")
        with open(config, "w") as f:
            f.write(config_text)
        log = open(os.path.join(self.directory, name + ".log"), "w")
        process = subprocess.Popen([self.program, config], cwd=self.directory, stdin=subprocess.DEVNULL,
                                   stdout=log, stderr=subprocess.STDOUT, preexec_fn=end_with_parent)
        self.running.append((process, log))
        wait_listening(port, process, name, self.directory)
        return process

    def stop(self, process):
        for entry in list(self.running):
            if entry[0] is process:
                end_process(*entry)
                self.running.remove(entry)

    def stop_all(self):
        for entry in self.running:
            end_process(*entry)
        self.running = []


def end_with_parent():
    """In the child before it runs the tunnel program: it ends when the test ends, even when the test
    is killed (a timeout of the test runner), so that no tunnel outlives the test."""
    ctypes.CDLL(None, use_errno=True).prctl(1, signal.SIGTERM)  # PR_SET_PDEATHSIG


def end_process(process, log):
    if process.poll() is None:
        process.terminate()
        try:
            process.wait(5)
        except subprocess.TimeoutExpired:
            process.kill()
            process.wait()
    log.close()


def log_text(directory, name):
    with open(os.path.join(directory, name + ".log"), errors="replace") as f:
        return f.read()


def wait_listening(port, process, name, directory):
    deadline = time.monotonic() + 10
    while time.monotonic() < deadline:
        if process.poll() is not None:
            raise Failure(f"{name}: the tunnel program refused the configuration:\n{log_text(directory, name)}")
        try:
            socket.create_connection(("127.0.0.1", port), timeout=1).close()
            return
        except OSError:
            time.sleep(0.05)
    raise Failure(f"{name}: nothing listens on port {port} after 10 s")


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


def read(*path):
    with open(os.path.join(*path)) as f:
        return f.read()


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


def check_id(examples, work, program, echo, number):
    name = f"stunnel{number}.conf"
    client_text = read(examples, name)
    service = check_client(name, parse(client_text))
    host, pinned = service["connect"].rpartition(":")[0], service["cafile"]
    directory = os.path.join(work, f"id{number}")
    os.makedirs(directory)
    make_certificate(directory, pinned.removesuffix(".crt"), host)  # the technician's own
    make_certificate(directory, "impostor", host)                   # same name, other key
    server_text = read(examples, "technician", "stunnel-techniker301.conf")
    tunnels = Tunnels(program, directory)
    client_port = free_port()
    tunnels.server_port = free_port()

    def server(stem):
        return rewrite(server_text, {"accept": f"127.0.0.1:{tunnels.server_port}", "connect": f"127.0.0.1:{echo.port}",
                                     "cert": stem + ".crt", "key": stem + ".key"}, RUN_HERE)

    try:
        tunnels.start("client", rewrite(client_text, {"accept": f"127.0.0.1:{client_port}",
                                                      "connect": f"127.0.0.1:{tunnels.server_port}"}, RUN_HERE),
                      client_port)
        check_genuine(name, tunnels, client_port, server, pinned)
        check_impostor(name, tunnels, client_port, server, echo)
    finally:
        tunnels.stop_all()
    print(f"ok {name}: {PAYLOAD_BYTES} bytes passed to {host} (pinned {pinned}); the impostor was refused")


def main():
    if len(sys.argv) != 2:
        print(__doc__.strip().splitlines()[-2], file=sys.stderr)
        return 2
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
                check_id(sys.argv[1], work, program, echo, number)
        except Failure as failure:
            print(f"FAIL {failure}")
            return 1
    print("all four tunnel configurations passed")
    return 0


if __name__ == "__main__":
    sys.exit(main())
