"""The tunnel program (Debian's stunnel4) in the tests: certificates made as the technician's notes
say, tunnels started from a configuration and ended with the test, and the promises every shipped
client configuration keeps.
"""
import os
import re
import socket
import subprocess
import time

import child_process
from child_process import end_with_parent
from scripted import Failure


def make_certificate(directory, stem, host):
    """A self-signed certificate for host with a new P-256 key, made as the technician's notes say."""
    subprocess.run(
        ["openssl", "req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:P-256", "-nodes",
         "-days", "2", "-subj", f"/CN={host}", "-addext", f"subjectAltName=DNS:{host}",
         "-keyout", os.path.join(directory, stem + ".key"), "-out", os.path.join(directory, stem + ".crt")],
        check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=30)


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
                end(*entry)
                self.running.remove(entry)

    def stop_all(self):
        for entry in self.running:
            end(*entry)
        self.running = []


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


def options(text):
    """(section or None, key, value) for every option line, keys as written; ValueError for a line
    that is neither an option, a section heading, a comment nor blank."""
    section, found = None, []
    for line in text.splitlines():
        line = line.strip()
        if not line or line[0] in ";#":
            continue
        heading = re.fullmatch(r"\[(.+)\]", line)
        if heading:
            section = heading.group(1)
            continue
        name, sep, value = line.partition("=")
        if not sep:
            raise ValueError(f"not an option line: {line!r}")
        found.append((section, name.strip(), value.strip()))
    return found


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


def end(process, log):
    child_process.end(process)
    log.close()
