#!/usr/bin/env python3
"""A real session, end to end, on loopback: the real launcher under Wine on the customer's virtual
display starts Debian's stunnel4 and x11vnc through the bridges (tests/doubles/bridge/), and the technician's
side on a second virtual display (the shipped technician tunnel configuration in stunnel4, TigerVNC's
`vncviewer -listen`) must show the customer's display pixel for pixel. The launcher is driven by
launcher_gui_driver.exe in its "session" mode; this script runs everything else and answers the
driver's requests (see the driver). The second session runs against an impostor's tunnel server.

  run_session_test.py LAUNCHER_EXE BRIDGE_DIR DRIVER_EXE KIT_DIR OUT_DIR [--technician-display D]
                      [--hold SECONDS]
--technician-display shows the viewer on an existing display (for a person to watch) instead of a
virtual one; --hold keeps each session running that long. Screenshots stay in OUT_DIR/shots.
Needs WINEPREFIX (scripts/lib.sh). Exit code 0 when every check passed, 1 on a failure, 77 (skipped)
when a program it needs is missing. Everything it started is ended, also on a failure or a timeout.
"""
import argparse
import os
import re
import shutil
import signal
import subprocess
import sys
import threading
import time

ROOT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "..")
sys.path[:0] = [os.path.join(ROOT, "tests", "support"), os.path.join(ROOT, "kit", "tools")]
from child_process import adopt_orphans, end_with_parent  # noqa: E402
from displays import (CUSTOMER_SIZE, TECHNICIAN_SIZE, VIEWER_OPTIONS, crop, differing_pixels,  # noqa: E402
                      screenshot, start_xvfb, viewer_window)
from scripted import (Failure, command_line, connected, descendants, end_all, free_port, listeners_of,  # noqa: E402
                      listening, read, reap, run, winpath, write)
from tunnel_config import for_linux  # noqa: E402
from tunnels import Tunnels, make_certificate  # noqa: E402

SKIPPED = 77
LIMIT_SECONDS = 100
ID = 301
VNC_PORT = 5500  # fixed by the launcher's arguments for the VNC server
NEEDED = {"stunnel4": "stunnel4", "openssl": "openssl", "x11vnc": "x11vnc", "vncviewer": "tigervnc-viewer",
          "Xvfb": "xvfb", "import": "imagemagick", "compare": "imagemagick", "xwininfo": "x11-utils", "wine": "wine"}
# What belongs to the customer's session and must be gone after it: the client tunnel, the VNC
# server, the bridges' Linux halves and the Windows programs.
SESSION_PROGRAMS = re.compile(r"stunnel4 -fd 0|x11vnc|bridge_unix\.py|stunnel\.exe|winvnc_QARU_RC23\.exe|launcher\.exe")


def leftovers():
    """Session programs still running among our descendants: (pid, command line)."""
    return [(p, c) for p in descendants() for c in [command_line(p)] if SESSION_PROGRAMS.search(c)]


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
        client_text = read(self.args.kit, "customer", f"stunnel{ID - 300}.conf")
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
        for name in os.listdir(self.args.bridges):  # the two bridges and their Linux half's modules
            if name.endswith((".exe", ".py")):
                shutil.copy(os.path.join(self.args.bridges, name), self.app)
        shutil.copy(self.args.launcher, self.app)
        shutil.copy(self.args.driver, os.path.join(self.out, "driver.exe"))
        self.server_text = read(self.args.kit, "technician", "stunnel-techniker301.conf")
        self.pinned_stem = pinned.removesuffix(".crt")

    def start_technician(self, stem):
        self.tunnels.stop_all()
        config = for_linux(self.server_text, {"accept": f"127.0.0.1:{self.server_port}",
                                              "connect": f"127.0.0.1:{self.viewer_port}",
                                              "cert": stem + ".crt", "key": stem + ".key"}, "info")
        self.tunnels.start("server-" + stem, config, self.server_port)

    def start_viewer(self):
        if self.viewer is not None and self.viewer.poll() is None:
            return
        env = dict(os.environ, DISPLAY=self.tech_display)
        self.viewer = subprocess.Popen(["vncviewer", *VIEWER_OPTIONS, "-listen", str(self.viewer_port)], env=env,
                                       stdin=subprocess.DEVNULL, stdout=self.viewer_log, stderr=subprocess.STDOUT,
                                       preexec_fn=end_with_parent)
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


def main():
    parser = argparse.ArgumentParser()
    for name in ("launcher", "bridges", "driver", "kit", "out"):
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
    adopt_orphans()  # Wine's double forks end here
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
