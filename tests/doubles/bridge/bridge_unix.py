#!/usr/bin/env python3
"""The Linux half of the bridges (bridge.cpp): started by a bridge under Wine as
`bridge_unix.py PORT`, it connects back to the bridge on 127.0.0.1:PORT, reads what to run, and runs
it with that connection as its standard output and error. The program's life is tied to the
connection: when the bridge closes it or is ended (the connection reaches its end), the program is
ended (SIGTERM to its process group, SIGKILL after 1 s); when the program ends, the connection is
closed and the bridge ends too. The program also dies with this script (SIGTERM on parent death).

The request: a line "NARGS INPUT_BYTES", then NARGS arguments each ended by a NUL byte, then
INPUT_BYTES bytes for the program's standard input (none: /dev/null). The input of the tunnel
program is its configuration as the Windows build reads it, made here the Linux one.
"""
import os
import select
import signal
import socket
import subprocess
import sys

import child_process  # beside this script in the build folder, from kit/tools/
import tunnel_config

CONNECT_SECONDS = 10
TERM_SECONDS = 1  # the launcher waits 2 s after its close request before it ends the bridge


def receive_request(conn):
    data = b""
    while b"\n" not in data:
        data += receive_some(conn)
    header, _, data = data.partition(b"\n")
    nargs, input_bytes = (int(v) for v in header.split())
    while data.count(b"\0") < nargs:
        data += receive_some(conn)
    fields = data.split(b"\0", nargs)
    args, data = [f.decode() for f in fields[:nargs]], fields[nargs] if len(fields) > nargs else b""
    while len(data) < input_bytes:
        data += receive_some(conn)
    return args, data[:input_bytes]


def receive_some(conn):
    chunk = conn.recv(65536)
    if not chunk:
        raise EOFError("the bridge closed the connection before its request was complete")
    return chunk


def end_group(process):
    for sig, wait in ((signal.SIGTERM, TERM_SECONDS), (signal.SIGKILL, None)):
        try:
            os.killpg(process.pid, sig)
        except ProcessLookupError:
            pass
        try:
            process.wait(wait)
            return
        except subprocess.TimeoutExpired:
            continue


def say(conn, text):
    try:
        conn.sendall(f"[bridge_unix] {text}\n".encode())
    except OSError:
        pass


def main():
    conn = socket.create_connection(("127.0.0.1", int(sys.argv[1])), timeout=CONNECT_SECONDS)
    conn.settimeout(None)
    args, data = receive_request(conn)
    if args[0] == "stunnel4":
        data = tunnel_config.for_linux(data.decode("latin-1")).encode("latin-1")
    try:
        process = subprocess.Popen(args, stdin=subprocess.PIPE if data else subprocess.DEVNULL, stdout=conn.fileno(),
                                   stderr=subprocess.STDOUT, start_new_session=True,
                                   preexec_fn=child_process.end_with_parent)
    except OSError as error:
        say(conn, f"cannot run {args[0]}: {error}")
        return 1
    say(conn, f"started {' '.join(args)} (pid {process.pid})")
    if data:
        try:
            process.stdin.write(data)
            process.stdin.close()
        except OSError:
            pass  # the program ended before it read its input; its end is reported below
    while process.poll() is None:
        readable, _, _ = select.select([conn], [], [], 0.1)
        if readable:
            try:
                ended = not conn.recv(4096)
            except OSError:
                ended = True
            if ended:
                say(conn, "the bridge closed the connection: ending the program")
                end_group(process)
                break
    say(conn, f"{args[0]} ended with code {process.returncode}")
    conn.close()
    return 0


if __name__ == "__main__":
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(143))
    sys.exit(main())
