#!/usr/bin/env python3
"""A real HTTP server (python's http.server) for the download tests, on 127.0.0.1 only.

Usage: http_test_server.py CONTROL_PORT SIZE...

Makes one file per SIZE, named file_<SIZE>, whose byte i is pattern(i % 4099) (see below; the tests
build the same bytes), and serves them on a port the system chooses. It connects to
127.0.0.1:CONTROL_PORT, sends that port as one decimal line and serves until the control connection
ends (the test is done, or has died), then removes its files and exits. It also exits after 15
minutes whatever happens, so nothing is ever left running.
"""
import argparse
import functools
import http.server
import socket
import tempfile
import threading

BLOCK = 4099


def pattern(i):
    return (i * 7 + i // 251) & 0xFF


class QuietHandler(http.server.SimpleHTTPRequestHandler):
    def log_message(self, *args):
        pass


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("control_port", type=int)
    parser.add_argument("sizes", type=int, nargs="*")
    args = parser.parse_args()
    control_port = args.control_port
    block = bytes(pattern(i) for i in range(BLOCK))
    with tempfile.TemporaryDirectory(prefix="brol_http_") as folder:
        for size in args.sizes:
            data = block * (size // BLOCK + 1)
            with open(f"{folder}/file_{size}", "wb") as f:
                f.write(data[:size])
        handler = functools.partial(QuietHandler, directory=folder)
        server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), handler)
        server.daemon_threads = True
        threading.Thread(target=server.serve_forever, daemon=True).start()
        control = socket.create_connection(("127.0.0.1", control_port), timeout=30)
        control.sendall(f"{server.server_address[1]}\n".encode())
        control.settimeout(15 * 60)
        try:
            while control.recv(4096):
                pass
        except OSError:
            pass
        server.shutdown()
        server.server_close()


if __name__ == "__main__":
    main()
