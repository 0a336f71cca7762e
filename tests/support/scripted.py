"""What the Python tests share: their failure, running a command, reading and writing a file, ports
on this machine, and the processes below the test (every one of them, even what Wine or nsenter
forks off twice, is found and ended here; call child_process.adopt_orphans() first).

The tests put this folder and kit/tools/ on their module path.
"""
import os
import signal
import socket
import subprocess
import time


class Failure(Exception):
    """A check of the test that failed, with what was found."""


def run(*args, **kw):
    return subprocess.run(list(args), capture_output=True, text=True, timeout=30, **kw)


def children_of(pid):
    out = []
    for entry in os.listdir("/proc"):
        if entry.isdigit():
            try:
                with open(f"/proc/{entry}/stat") as f:
                    if int(f.read().rsplit(")", 1)[1].split()[1]) == pid:
                        out.append(int(entry))
            except (OSError, IndexError, ValueError):
                pass
    return out


def descendants():
    found, todo = [], [os.getpid()]
    while todo:
        for child in children_of(todo.pop()):
            found.append(child)
            todo.append(child)
    return found


def command_line(pid):
    try:
        with open(f"/proc/{pid}/cmdline", "rb") as f:
            return f.read().replace(b"\0", b" ").decode(errors="replace").strip()
    except OSError:
        return ""


def wine_own(cmd):
    """Wine's own processes (its server, the prefix's services): shared with other tests, not ours."""
    return "wineserver" in cmd or ("\\windows\\system32\\" in cmd.lower() and "/desktop=" not in cmd)


LOOPBACK = {"0100007F", "00000000000000000000000001000000", "0000000000000000FFFF00000100007F"}


def listeners_of(pids):
    """The listening TCP sockets of the processes: [(local address in hex, port, loopback)]."""
    inodes = set()
    for pid in pids:
        try:
            for fd in os.listdir(f"/proc/{pid}/fd"):
                target = os.readlink(f"/proc/{pid}/fd/{fd}")
                if target.startswith("socket:["):
                    inodes.add(target[8:-1])
        except OSError:
            pass
    found = []
    for table in ("/proc/net/tcp", "/proc/net/tcp6"):
        with open(table) as f:
            for line in f.readlines()[1:]:
                fields = line.split()
                address, port = fields[1].split(":")
                if fields[3] == "0A" and fields[9] in inodes:
                    found.append((address, int(port, 16), address in LOOPBACK))
    return found


def end_all():
    for sig in (signal.SIGTERM, signal.SIGKILL):
        targets = [p for p in descendants() if not wine_own(command_line(p))]
        for pid in targets:
            try:
                os.kill(pid, sig)
            except ProcessLookupError:
                pass
        deadline = time.monotonic() + 3
        while targets and time.monotonic() < deadline:
            reap()
            targets = [p for p in targets if os.path.exists(f"/proc/{p}") and not zombie(p)]
            time.sleep(0.05)
    reap()


def zombie(pid):
    try:
        with open(f"/proc/{pid}/stat") as f:
            return f.read().rsplit(")", 1)[1].split()[0] == "Z"
    except OSError:
        return False


def reap():
    while True:
        try:
            pid, _ = os.waitpid(-1, os.WNOHANG)
        except ChildProcessError:
            return
        if pid == 0:
            return


def sockets(port, state):
    """TCP sockets of the local port (or connected to it) in the state, from /proc/net/tcp and tcp6:
    looking never connects (a viewer in listen mode takes the first connection as its session)."""
    count = 0
    for table in ("/proc/net/tcp", "/proc/net/tcp6"):
        with open(table) as f:
            for line in f.readlines()[1:]:
                local, remote, st = line.split()[1:4]
                if st == state and (local.endswith(f":{port:04X}") or remote.endswith(f":{port:04X}")):
                    count += 1
    return count


def listening(port):
    return sockets(port, "0A") > 0


def connected(port):
    return sockets(port, "01")


def read(*path):
    with open(os.path.join(*path), errors="replace") as f:
        return f.read()


def write(path, text):
    with open(path, "w") as f:
        f.write(text)


def winpath(path):
    return "Z:" + os.path.realpath(path).replace("/", "\\")


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]

