#!/usr/bin/env python3
"""The console program itself, started as a technician starts it (natively, or the Windows build under
Wine): a wrong settings line is refused with its number, missing settings get the example written, and
good settings are read and served: a connection with a PROXY line becomes a session whose viewer
cannot be started, said in the journal; Ctrl-C ends the console.

  console_start_test.py CONSOLE_PROGRAM
Exit code 0 when every check passed, 1 on a failure.
"""
import argparse
import os
import re
import signal
import socket
import subprocess
import sys
import tempfile
import time

DATE = r"\d{4}-\d\d-\d\d \d\d:\d\d:\d\d \(\d+\) technician: "


def command(program, settings):
    prefix = ["wine"] if program.endswith(".exe") else []
    return prefix + [program, "--settings", settings]


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def wait_for(path, pattern, seconds):
    deadline = time.monotonic() + seconds
    text = ""
    while time.monotonic() < deadline:
        if os.path.exists(path):
            with open(path, errors="replace") as f:
                text = f.read()
            if re.search(pattern, text, re.M):
                return text
        time.sleep(0.1)
    raise AssertionError(f"no line matching {pattern!r} in {path}:\n{text}")


def refusals(program, folder):
    settings = os.path.join(folder, "wrong.ini")
    with open(settings, "w") as f:
        f.write("[console]\nviewer = v\n[ids]\n301 = 5901\n302 = 99999\n")
    result = subprocess.run(command(program, settings), capture_output=True, text=True, timeout=60)
    expected = 'technician: wrong.ini line 5: the port of ID 302 must be a number from 1 to 65535, not "99999"'
    assert result.returncode == 2 and result.stderr.strip() == expected, (result.returncode, result.stderr)
    missing = os.path.join(folder, "missing.ini")
    result = subprocess.run(command(program, missing), capture_output=True, text=True, timeout=60)
    assert result.returncode == 2 and "an example was written" in result.stderr, result.stderr
    with open(missing) as f:
        assert "[ids]" in f.read()
    print("ok: a wrong line is refused with its number; missing settings get the example")


def serves(program, folder):
    port = free_port()
    settings = os.path.join(folder, "good.ini")
    with open(settings, "w") as f:
        f.write(f"[console]\nviewer = no-such-viewer-{os.getpid()}\njournal = j.log\n[ids]\n301 = {port}\n")
    journal = os.path.join(folder, "j.log")
    console = subprocess.Popen(command(program, settings), stdout=subprocess.PIPE, stderr=subprocess.DEVNULL,
                               text=True)
    try:
        wait_for(journal, DATE + f"ID 301: listening on 127.0.0.1:{port}$", 60)
        with socket.create_connection(("127.0.0.1", port)) as s:
            s.sendall(b"PROXY TCP4 192.0.2.7 192.0.2.1 40312 443\r\n")
            s.settimeout(20)
            assert s.recv(10) == b"", "the session's connection was not ended"
        text = wait_for(journal, "ended after", 20)
        lines = [re.sub("^" + DATE, "", line) for line in text.splitlines()]
        assert lines[1] == "session 1 started: ID 301, customer 192.0.2.7:40312", lines
        assert re.fullmatch(r"session 1 ended after \d s, 0 bytes to the viewer, 0 bytes to the customer: "
                            rf"the viewer could not be started: no-such-viewer-{os.getpid()}: .+", lines[2]), lines
        console.send_signal(signal.SIGINT)
        out, _ = console.communicate(timeout=20)
        assert console.returncode == 0, console.returncode
        text = wait_for(journal, "console stopped$", 5)
        assert out.replace("\r\n", "\n") == text, (out, text)
    finally:
        if console.poll() is None:
            console.kill()
            console.wait()
    print("ok: settings read, a session's fault journaled, Ctrl-C ends the console; the console prints the journal")


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("console_program")
    program = os.path.abspath(parser.parse_args().console_program)
    with tempfile.TemporaryDirectory(prefix=f"technician-start-{os.getpid()}-") as folder:
        refusals(program, folder)
        serves(program, folder)
    return 0


if __name__ == "__main__":
    sys.exit(main())
