#!/usr/bin/env python3
"""A real session, end to end, on loopback: the real launcher under Wine on the customer's virtual
display starts Debian's stunnel4 and x11vnc through the bridges (tools/bridge/), and the technician's
side on a second virtual display (the shipped technician tunnel configuration in stunnel4, TigerVNC's
`vncviewer -listen`) must show the customer's display pixel for pixel. The launcher is driven by
launcher_gui_driver.exe in its "session" mode; this script runs everything else and answers the
driver's requests (see the driver). The second session runs against an impostor's tunnel server.

  run_session_test.py LAUNCHER_EXE BRIDGE_DIR DRIVER_EXE EXAMPLES_DIR OUT_DIR [--technician-display D]
                      [--hold SECONDS]
--technician-display shows the viewer on an existing display (for a person to watch) instead of a
virtual one; --hold keeps each session running that long. Screenshots stay in OUT_DIR/shots.
Needs WINEPREFIX (scripts/lib.sh). Exit code 0 when every check passed, 1 on a failure, 77 (skipped)
when a program it needs is missing. Everything it started is ended, also on a failure or a timeout.
"""
import argparse
import ctypes
import os
import re
import shutil
import signal
import subprocess
import sys
import threading
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "kit"))
from tunnel_test import RUN_HERE, Tunnels, free_port, make_certificate, rewrite  # noqa: E402

SKIPPED = 77
LIMIT_SECONDS = 100
ID = 301
CUSTOMER_SIZE = (1024, 768)
TECHNICIAN_SIZE = (1280, 1024)
VNC_PORT = 5500  # fixed by the launcher's arguments for the VNC server
NEEDED = {"stunnel4": "stunnel4", "openssl": "openssl", "x11vnc": "x11vnc", "vncviewer": "tigervnc-viewer",
          "Xvfb": "xvfb", "import": "imagemagick", "compare": "imagemagick", "xwininfo": "x11-utils", "wine": "wine"}
# The viewer: listening, lossless (ZRLE, full colour, no JPEG), no dialogs on a closed connection, and
# no input of its own that could move the customer's pointer while pixels are compared.
VIEWER_OPTIONS = ["-AutoSelect=0", "-PreferredEncoding=ZRLE", "-FullColor", "-NoJPEG", "-ViewOnly",
                  "-RemoteResize=0", "-ReconnectOnError=0", "-AlertOnFatalError=0"]
# What belongs to the customer's session and must be gone after it: the client tunnel, the VNC
# server, the bridges' Linux halves and the Windows programs.
SESSION_PROGRAMS = re.compile(r"stunnel4 -fd 0|x11vnc|bridge_unix\.py|stunnel\.exe|winvnc_QARU_RC23\.exe|launcher\.exe")


class Failure(Exception):
    pass


def run(*args, **kw):
    return subprocess.run(list(args), capture_output=True, text=True, timeout=30, **kw)


def die_with_parent():
    ctypes.CDLL(None, use_errno=True).prctl(1, signal.SIGTERM)  # PR_SET_PDEATHSIG


# --- Processes: everything started here, even what Wine forks off twice, ends here ----------------

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


def leftovers():
    """Session programs still running among our descendants: (pid, command line)."""
    return [(p, c) for p in descendants() for c in [command_line(p)] if SESSION_PROGRAMS.search(c)]


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


# --- Displays and screenshots -----------------------------------------------------------------------

def start_xvfb(size, log):
    read, write = os.pipe()
    subprocess.Popen(["Xvfb", "-displayfd", str(write), "-screen", "0", f"{size[0]}x{size[1]}x24", "-nolisten", "tcp"],
                     pass_fds=(write,), stdout=log, stderr=subprocess.STDOUT, preexec_fn=die_with_parent)
    os.close(write)
    with os.fdopen(read) as f:
        number = f.readline().strip()
    if not number.isdigit():
        raise Failure("Xvfb did not start")
    return f":{number}"


def screenshot(display, path):
    result = run("import", "-display", display, "-window", "root", path)
    if result.returncode != 0:
        raise Failure(f"no screenshot of {display}: {result.stderr.strip()}")


def crop(source, path, w, h, x, y):
    run("convert", source, "-crop", f"{w}x{h}+{x}+{y}", "+repage", path)


def differing_pixels(a, b):
    result = run("compare", "-metric", "AE", a, b, "null:")
    try:
        return int(float(result.stderr.split()[0]))
    except (IndexError, ValueError):
        return -1


def colour_at(path, x, y):
    return run("convert", path, "-format", f"%[hex:p{{{x},{y}}}]", "info:").stdout.strip()[:6].upper()


def viewer_window(display):
    """(x, y, width, height) of the viewer's mapped top-level window on display, or None."""
    tree = run("xwininfo", "-display", display, "-root", "-tree").stdout
    for match in re.finditer(r"^\s+(0x[0-9a-f]+) \"([^\"]*)\": \(.*?\)\s+(\d+)x(\d+)\+(-?\d+)\+(-?\d+)", tree, re.M):
        window, title = match.group(1), match.group(2)
        if "TigerVNC" not in title:
            continue
        info = run("xwininfo", "-display", display, "-id", window).stdout
        if "IsViewable" not in info:
            continue
        x = int(re.search(r"Absolute upper-left X:\s+(-?\d+)", info).group(1))
        y = int(re.search(r"Absolute upper-left Y:\s+(-?\d+)", info).group(1))
        w = int(re.search(r"Width:\s+(\d+)", info).group(1))
        h = int(re.search(r"Height:\s+(\d+)", info).group(1))
        return x, y, w, h
    return None


# --- The session ------------------------------------------------------------------------------------------

class Session:
    def __init__(self, args):
        self.args = args
        self.out = os.path.abspath(args.out)
        self.app, self.work = os.path.join(self.out, "app"), os.path.join(self.out, "elsewhere")
        self.shots, self.tech = os.path.join(self.out, "shots"), os.path.join(self.out, "technician")
        self.viewer = None
        self.logs = []

    def log(self, name):
        f = open(os.path.join(self.out, name), "w")
        self.logs.append(f)
        return f

    def prepare(self):
        shutil.rmtree(self.out, ignore_errors=True)
        for d in (self.app, self.work, self.shots, self.tech):
            os.makedirs(d)
        client_text = read(self.args.examples, f"stunnel{ID - 300}.conf")
        if not re.search(r"^accept\s*=\s*127\.0\.0\.1:5500\s*$", client_text, re.M):
            raise Failure(f"stunnel{ID - 300}.conf does not accept on 127.0.0.1:{VNC_PORT}, where the VNC server connects")
        host = re.search(r"^connect\s*=\s*(\S+):\d+\s*$", client_text, re.M).group(1)
        pinned = re.search(r"^CAfile\s*=\s*(\S+)\s*$", client_text, re.M).group(1)
        make_certificate(self.tech, pinned.removesuffix(".crt"), host)
        make_certificate(self.tech, "impostor", host)
        shutil.copy(os.path.join(self.tech, pinned), self.app)
        self.server_port, self.viewer_port = free_port(), free_port()
        # Only connect changes: the technician's host becomes the tunnel server on loopback.
        write(os.path.join(self.app, f"stunnel{ID - 300}.conf"),
              re.sub(r"^connect\s*=.*$", f"connect = 127.0.0.1:{self.server_port}", client_text, flags=re.M))
        for name in ("stunnel.exe", "winvnc_QARU_RC23.exe", "bridge_unix.py"):
            shutil.copy(os.path.join(self.args.bridges, name), self.app)
        shutil.copy(self.args.launcher, self.app)
        shutil.copy(self.args.driver, os.path.join(self.out, "driver.exe"))
        self.server_text = read(self.args.examples, "technician", "stunnel-techniker301.conf")
        self.pinned_stem = pinned.removesuffix(".crt")

    def start_technician(self, stem):
        self.tunnels.stop_all()
        config = rewrite(self.server_text, {"accept": f"127.0.0.1:{self.server_port}",
                                            "connect": f"127.0.0.1:{self.viewer_port}",
                                            "cert": stem + ".crt", "key": stem + ".key"}, RUN_HERE)
        self.tunnels.start("server-" + stem, config, self.server_port)

    def start_viewer(self):
        if self.viewer is not None and self.viewer.poll() is None:
            return
        env = dict(os.environ, DISPLAY=self.tech_display)
        self.viewer = subprocess.Popen(["vncviewer", *VIEWER_OPTIONS, "-listen", str(self.viewer_port)], env=env,
                                       stdin=subprocess.DEVNULL, stdout=self.viewer_log, stderr=subprocess.STDOUT,
                                       preexec_fn=die_with_parent)
        deadline = time.monotonic() + 10
        while not listening(self.viewer_port):
            if self.viewer.poll() is not None or time.monotonic() > deadline:
                raise Failure("the viewer does not listen")
            time.sleep(0.05)

    def run(self):
        self.prepare()
        if listening(VNC_PORT):
            raise Failure(f"port {VNC_PORT} on 127.0.0.1 is in use (another session?): the client tunnel needs it")
        xlog = self.log("xvfb.log")
        self.customer_display = start_xvfb(CUSTOMER_SIZE, xlog)
        self.tech_display = self.args.technician_display or start_xvfb(TECHNICIAN_SIZE, xlog)
        self.viewer_log = self.log("viewer.log")
        self.tunnels = Tunnels(shutil.which("stunnel4"), self.tech)
        self.start_technician(self.pinned_stem)
        self.start_viewer()
        env = dict(os.environ, DISPLAY=self.customer_display)
        if self.args.hold:
            env["BROL_SESSION_HOLD_MS"] = str(int(self.args.hold * 1000))
        width, height = CUSTOMER_SIZE
        write(os.path.join(self.shots, "alive"), "")
        subprocess.Popen(["wine", "explorer", f"/desktop=brolsession{os.getpid()},{width}x{height}",
                          winpath(os.path.join(self.out, "driver.exe")), winpath(self.app), winpath(self.work),
                          winpath(self.shots), "session"],
                         cwd=self.work, env=env, stdin=subprocess.DEVNULL, stdout=self.log("wine.out"),
                         stderr=subprocess.STDOUT)
        result = os.path.join(self.shots, "result.txt")
        threading.Thread(target=self.heartbeat, daemon=True).start()
        while not os.path.exists(result):
            for name in sorted(os.listdir(self.shots)):
                if name.endswith(".req"):
                    self.answer(name[:-4])
            time.sleep(0.05)
            reap()

    def heartbeat(self):
        """Touches shots/alive while this script runs: the driver ends when that stops."""
        while True:
            os.utime(os.path.join(self.shots, "alive"))
            time.sleep(0.3)

    # The driver's requests -------------------------------------------------------------------------

    def answer(self, name):
        request = os.path.join(self.shots, name + ".req")
        lines = read(request).splitlines()
        verdicts = []
        for line in lines:
            kind, *rest = line.split()
            try:
                verdicts += getattr(self, "do_" + kind)(name, *rest)
            except Failure as failure:
                verdicts.append(f"bad {failure}")
        os.remove(request)
        write(os.path.join(self.shots, name + ".ack.tmp"), "".join(v + "\n" for v in verdicts))
        os.rename(os.path.join(self.shots, name + ".ack.tmp"), os.path.join(self.shots, name + ".ack"))

    def do_crop(self, name, x, y, w, h):
        if int(w) > 0 and int(h) > 0:
            full = os.path.join(self.shots, name + ".full.png")
            screenshot(self.customer_display, full)
            crop(full, os.path.join(self.shots, name + ".png"), w, h, x, y)
            os.remove(full)
        return []

    def do_viewer(self, name):
        """The viewer's window shows the customer's display, pixel for pixel, within 15 s."""
        customer = os.path.join(self.shots, "customer.png")
        technician = os.path.join(self.shots, "technician-screen.png")
        shown = os.path.join(self.shots, "viewer-content.png")
        w, h = CUSTOMER_SIZE
        deadline, window, diff = time.monotonic() + 15, None, None
        while time.monotonic() < deadline:
            window = viewer_window(self.tech_display)
            if window and window[2] >= w and window[3] >= h:
                screenshot(self.customer_display, customer)
                screenshot(self.tech_display, technician)
                crop(technician, shown, w, h, window[0], window[1])
                diff = differing_pixels(customer, shown)
                if diff == 0:
                    break
            time.sleep(0.3)
        if window is None:
            return ["bad the viewer opened no window on the technician's display"]
        verdicts = [f"ok the viewer's window appeared at +{window[0]}+{window[1]}, {window[2]}x{window[3]}"]
        if diff != 0:
            verdicts.append(f"bad the viewer's window differs from the customer's display in {diff} pixels "
                            f"(see {os.path.basename(customer)} and {os.path.basename(shown)})")
            return verdicts
        verdicts.append(f"ok the viewer's window equals the customer's display, all {w}x{h} pixels")
        verdicts.append(self.loopback_only())
        colours = run("convert", customer, "-unique-colors", "-format", "%w", "info:").stdout.strip()
        dark_blue = run("convert", customer, "-fill", "black", "+opaque", "#000077", "-fill", "white", "-opaque",
                        "#000077", "-format", "%[fx:mean*w*h]", "info:").stdout.strip()
        ok = colours.isdigit() and int(colours) > 2 and float(dark_blue or 0) > 1000
        verdicts.append(f"{'ok' if ok else 'bad'} the compared screen holds the launcher ({colours} colours, "
                        f"{dark_blue} pixels of the dark blue button)")
        os.replace(shown, os.path.join(self.shots, "technician.png"))
        return verdicts

    def loopback_only(self):
        """The customer's side listens on loopback only (the client tunnel on 5500, nothing else)."""
        ports = listeners_of([p for p, _ in leftovers()])
        outside = [f"{a}:{p}" for a, p, loopback in ports if not loopback]
        if outside or not ports:
            return f"bad the customer's programs listen on {outside or 'nothing'}"
        return "ok the customer's programs listen on loopback only (ports " + \
            ", ".join(str(p) for _, p, _ in ports) + ")"

    def do_refused(self, name):
        """The impostor: nothing reaches the viewer, and the client tunnel's log shows the refusal."""
        time.sleep(4)  # the VNC server connects within a second; give a wrong acceptance time to show
        verdicts = []
        window = viewer_window(self.tech_display)
        verdicts.append(f"{'bad' if window else 'ok'} the viewer opened {'a' if window else 'no'} window")
        server_log = read(self.tech, "server-impostor.log")
        passed = re.search(r"s_connect: connected 127\.0\.0\.1:" + str(self.viewer_port), server_log)
        verdicts.append(f"{'bad' if passed else 'ok'} the technician's tunnel server "
                        f"{'passed a connection to' if passed else 'connected nothing to'} the viewer")
        client_log = read(self.app, "stunnel.out")
        refusal = [line for line in client_log.splitlines() if "certificate verify failed" in line or "Rejected" in line]
        verdicts.append(f"ok the client tunnel's log shows the refusal: {refusal[0].strip()}" if refusal else
                        "bad the client tunnel's log shows no refusal:\n" + client_log)
        return verdicts

    def do_closed(self, name):
        verdicts = []
        deadline = time.monotonic() + 8
        while viewer_window(self.tech_display) and time.monotonic() < deadline:
            time.sleep(0.1)
        gone = viewer_window(self.tech_display) is None
        verdicts.append(f"{'ok' if gone else 'bad'} the viewer's window {'closed' if gone else 'is still open'}")
        established = connected(self.viewer_port)
        verdicts.append(f"{'bad' if established else 'ok'} {established or 'no'} connection(s) to the viewer's port")
        while leftovers() and time.monotonic() < deadline:
            time.sleep(0.1)
        left = leftovers()
        verdicts.append("ok nothing of the session runs (tunnel, VNC server, bridges, launcher)" if not left else
                        "bad still running: " + "; ".join(f"{p} {c}" for p, c in left))
        return verdicts

    def do_impostor(self, name):
        for f in ("stunnel.out", "winvnc_QARU_RC23.out"):
            if os.path.exists(os.path.join(self.app, f)):
                os.rename(os.path.join(self.app, f), os.path.join(self.app, "genuine-" + f))
        self.start_technician("impostor")
        self.start_viewer()
        return ["ok the technician's tunnel server now presents the impostor's certificate"]


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


def main():
    parser = argparse.ArgumentParser()
    for name in ("launcher", "bridges", "driver", "examples", "out"):
        parser.add_argument(name)
    parser.add_argument("--technician-display")
    parser.add_argument("--hold", type=float, default=0)
    args = parser.parse_args()
    missing = sorted({package for program, package in NEEDED.items() if shutil.which(program) is None})
    if missing:
        print(f"SKIPPED: the session test needs the packages {', '.join(missing)} (scripts/test installs them)")
        return SKIPPED
    if not os.environ.get("WINEPREFIX"):
        print("FAIL WINEPREFIX is not set (source scripts/lib.sh and run brol_wine_start)")
        return 1
    ctypes.CDLL(None, use_errno=True).prctl(36, 1)  # PR_SET_CHILD_SUBREAPER: Wine's double forks end here
    limit = LIMIT_SECONDS + args.hold * 2

    def out_of_time(*_):
        raise Failure(f"not done within {limit:.0f} s")

    signal.signal(signal.SIGALRM, out_of_time)
    signal.signal(signal.SIGTERM, lambda *_: (_ for _ in ()).throw(Failure("terminated")))
    signal.alarm(int(limit))
    started = time.monotonic()
    session = Session(args)
    status = 0
    try:
        session.run()
    except Failure as failure:
        print(f"FAIL {failure}")
        status = 1
    finally:
        signal.alarm(0)
        left = leftovers()
        end_all()
        for f in session.logs:
            f.close()
    driver_log = os.path.join(session.shots, "driver.log")
    if os.path.exists(driver_log):
        print(read(driver_log), end="")
    result = os.path.join(session.shots, "result.txt")
    if status == 0 and " 0 failed" not in read(result):
        status = 1
    if left:
        print("FAIL still running after the driver ended: " + "; ".join(f"{p} {c}" for p, c in left))
        status = 1
    print(f"session test took {time.monotonic() - started:.1f} s; screenshots in {session.shots}")
    return status


if __name__ == "__main__":
    sys.exit(main())
