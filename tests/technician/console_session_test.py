#!/usr/bin/env python3
"""The technician's console end to end, with real programs in network namespaces of its own: the
technician (tunnel servers of IDs 301 and 302 on outside addresses, the console on loopback, viewers
on a virtual display) and two customers (a client tunnel with a kit's client certificate and x11vnc on
a display of their own each). Checked:

  - two customers of different IDs at once: two viewers, each showing its own customer pixel for pixel;
  - `ss -ltn` in the technician's namespace: only the tunnel ports on outside addresses;
  - a customer's tunnel killed half-way: that session ends, the other goes on (its viewer follows a
    change of its customer's screen);
  - the viewer closed by the technician: the customer's VNC connection ends too;
  - Ctrl-C: the console ends every session and leaves nothing running;
  - a viewer that never connects, and an ID whose port is in use (a second run of the console);
  - the journal of both runs, line for line (times, counts and ports by pattern).

  console_session_test.py CONSOLE_PROGRAM OUT_DIR
Exit code 0 when every check passed, 1 on a failure, 77 (skipped) without root or a needed program.
Everything it starts ends with it; its namespaces carry its process id and are removed.
"""
import argparse
import os
import re
import shutil
import signal
import subprocess
import sys
import time

ROOT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..")
sys.path[:0] = [os.path.join(ROOT, "tests", "support"), os.path.join(ROOT, "kit", "tools")]
from child_process import end_with_parent  # noqa: E402
from displays import VIEWER_OPTIONS, start_xvfb  # noqa: E402
from scripted import Failure  # noqa: E402
from tunnel_config import for_linux  # noqa: E402

SKIPPED = 77
NEEDED = ["ip", "ss", "stunnel4", "openssl", "x11vnc", "vncviewer", "Xvfb", "import", "convert", "compare",
          "display", "xwininfo"]
PID = os.getpid()
TECH, CUST_A, CUST_B = f"t27t{PID}", f"t27a{PID}", f"t27b{PID}"
SIZES = {"A": (800, 600), "B": (400, 300)}
TECH_SIZE = (1280, 1024)
TUNNEL_PORTS = {"301": 443, "302": 444}
CONSOLE_PORTS = {"301": 5601, "302": 5602}
STAMP = r"\d{4}-\d\d-\d\d \d\d:\d\d:\d\d \(\d+\) technician: "


def die_with_parent():
    end_with_parent(signal.SIGKILL)  # kept across exec, also through "ip netns exec"


def run(*args, check=True):
    result = subprocess.run(list(args), capture_output=True, text=True, timeout=60)
    if check and result.returncode != 0:
        raise Failure(f"{' '.join(args)}: {result.stderr.strip()}")
    return result


def wait_until(what, test, seconds):
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline:
        value = test()
        if value:
            return value
        time.sleep(0.1)
    raise Failure(f"not within {seconds} s: {what}")


class Test:
    def __init__(self, program, out):
        self.program, self.out = program, out
        self.processes = []  # (name, Popen)
        self.namespaces = []
        self.vncs = {}
        self.checks = 0

    def ok(self, text):
        self.checks += 1
        print(f"ok {self.checks}: {text}", flush=True)

    # --- Processes and namespaces -------------------------------------------------------------------

    def start(self, name, args, ns=None, display=None, cwd=None):
        env = dict(os.environ)
        if display:
            env["DISPLAY"] = display
        runs = sum(1 for n, _ in self.processes if n == name)
        log = open(os.path.join(self.out, name + (f"-{runs + 1}" if runs else "") + ".out"), "w")
        command = (["ip", "netns", "exec", ns] if ns else []) + args
        process = subprocess.Popen(command, cwd=cwd or self.out, env=env, stdin=subprocess.DEVNULL, stdout=log,
                                   stderr=subprocess.STDOUT, preexec_fn=die_with_parent)
        self.processes.append((name, process))
        return process

    def end(self, process, sig=signal.SIGTERM):
        if process.poll() is None:
            process.send_signal(sig)
            try:
                process.wait(10)
            except subprocess.TimeoutExpired:
                process.kill()
                process.wait()

    def cleanup(self):
        for _, process in reversed(self.processes):
            self.end(process)
        for ns in self.namespaces:
            run("ip", "netns", "del", ns, check=False)

    def netns(self):
        for ns in (TECH, CUST_A, CUST_B):
            run("ip", "netns", "add", ns)
            self.namespaces.append(ns)
            run("ip", "-n", ns, "link", "set", "lo", "up")
        for n, cust in ((1, CUST_A), (2, CUST_B)):
            ours, theirs = f"t27{n}t{PID}", f"t27{n}c{PID}"
            run("ip", "link", "add", ours, "netns", TECH, "type", "veth", "peer", "name", theirs, "netns", cust)
            run("ip", "-n", TECH, "addr", "add", f"10.27.{n}.1/24", "dev", ours)
            run("ip", "-n", cust, "addr", "add", f"10.27.{n}.2/24", "dev", theirs)
            run("ip", "-n", TECH, "link", "set", ours, "up")
            run("ip", "-n", cust, "link", "set", theirs, "up")

    # --- Certificates and configurations -------------------------------------------------------------

    def certificates(self):
        d = self.out
        ec = ["-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:P-256", "-nodes", "-days", "2"]
        run("openssl", "req", "-x509", *ec, "-subj", "/CN=tech.example", "-addext", "subjectAltName=DNS:tech.example",
            "-addext", "extendedKeyUsage=serverAuth", "-keyout", f"{d}/server.key", "-out", f"{d}/server.crt")
        run("openssl", "req", "-x509", *ec, "-subj", "/CN=site client CA", "-addext", "basicConstraints=critical,CA:TRUE",
            "-addext", "keyUsage=critical,keyCertSign,cRLSign", "-keyout", f"{d}/ca.key", "-out", f"{d}/ca.crt")
        for who in ("A", "B"):
            run("openssl", "req", *ec, "-subj", f"/CN=kit-{who}", "-keyout", f"{d}/client{who}.key",
                "-out", f"{d}/client{who}.csr")
            with open(f"{d}/ext", "w") as f:
                f.write("extendedKeyUsage=clientAuth\n")
            run("openssl", "x509", "-req", "-in", f"{d}/client{who}.csr", "-CA", f"{d}/ca.crt", "-CAkey", f"{d}/ca.key",
                "-CAcreateserial", "-days", "2", "-extfile", f"{d}/ext", "-out", f"{d}/client{who}.crt")

    def write(self, name, text):
        with open(os.path.join(self.out, name), "w") as f:
            f.write(text)
        return os.path.join(self.out, name)

    def server_config(self, id):
        return self.write(f"server{id}.conf", for_linux(f"output = server{id}.log\n[id{id}]\n"
                          f"accept = {TUNNEL_PORTS[id]}\nconnect = 127.0.0.1:{CONSOLE_PORTS[id]}\nprotocol = proxy\n"
                          "cert = server.crt\nkey = server.key\nCAfile = ca.crt\nverifyChain = yes\nrequireCert = yes\n"
                          "sslVersionMin = TLSv1.2\n", None, "info"))

    def client_config(self, who, n, id):
        return self.write(f"client{who}.conf", for_linux(f"output = client{who}.log\n[c]\nclient = yes\n"
                          f"accept = 127.0.0.1:5500\nconnect = 10.27.{n}.1:{TUNNEL_PORTS[id]}\nCAfile = server.crt\n"
                          f"verifyPeer = yes\ncheckHost = tech.example\ncert = client{who}.crt\nkey = client{who}.key\n"
                          "sslVersionMin = TLSv1.2\n", None, "info"))

    def console_settings(self, name, viewer, arguments, wait):
        ids = "".join(f"{id} = {port}\n" for id, port in CONSOLE_PORTS.items())
        return self.write(name, f"[console]\nviewer = {viewer}\narguments = {arguments}\njournal = journal.log\n"
                          f"viewer_wait = {wait}\n[ids]\n{ids}")

    # --- Displays --------------------------------------------------------------------------------------

    def xvfb(self, name, size, ns):
        """A virtual display inside ns: its clients there reach it by the namespace's own abstract socket,
        which no other test's display can take over (the socket file in /tmp/.X11-unix is shared)."""
        started = []
        display = start_xvfb(size, subprocess.DEVNULL, ["ip", "netns", "exec", ns], started)
        self.processes.append((name, started[0]))
        return display

    def picture(self, who, seed):
        """Shows a picture of its own on the customer's display (a bare display is black)."""
        w, h = SIZES[who]
        path = os.path.join(self.out, f"picture{who}{seed}.png")
        run("convert", "-size", f"{w}x{h}", "-seed", str(seed), "plasma:fractal", "-depth", "8", path)
        process = self.start(f"display{who}{seed}", ["display", "-geometry", "+0+0", path], ns=self.ns_of[who],
                             display=self.displays[who])
        time.sleep(1)
        return process

    def shot(self, who, name):
        path = os.path.join(self.out, name + ".png")
        run("ip", "netns", "exec", self.ns_of[who], "import", "-display", self.displays[who], "-window", "root", path)
        return path

    def viewer_windows(self):
        """{desktop name: (x, y, w, h)} of the viewers' windows on the technician's display."""
        found = {}
        xwininfo = ["ip", "netns", "exec", TECH, "xwininfo", "-display", self.tech_display]
        tree = run(*xwininfo, "-root", "-tree").stdout
        for match in re.finditer(r"^\s+(0x[0-9a-f]+) \"([^\"]*)\":", tree, re.M):
            title = match.group(2)
            who = re.search(r"customer([AB])", title)
            if not who or "TigerVNC" not in title:
                continue
            info = run(*xwininfo, "-id", match.group(1)).stdout
            if "IsViewable" in info:
                geometry = [int(re.search(rf"{key}:\s+(-?\d+)", info).group(1)) for key in
                            ("Absolute upper-left X", "Absolute upper-left Y", "Width", "Height")]
                found[who.group(1)] = tuple(geometry)
        return found

    def shows(self, who, covered=None):
        """The viewer of who shows its customer's display pixel for pixel (outside the rectangle covered)."""
        def same():
            window = self.viewer_windows().get(who)
            w, h = SIZES[who]
            if not window or window[2] < w or window[3] < h:
                return False
            x0 = 0 if covered is None else covered[0] + covered[2] - window[0]
            customer = self.shot(who, f"customer{who}")
            tech = self.shot("T", "technician")
            a, b = os.path.join(self.out, f"c{who}.png"), os.path.join(self.out, f"v{who}.png")
            run("convert", customer, "-crop", f"{w - x0}x{h}+{x0}+0", "+repage", a)
            run("convert", tech, "-crop", f"{w - x0}x{h}+{window[0] + x0}+{window[1]}", "+repage", b)
            diff = run("compare", "-metric", "AE", a, b, "null:", check=False).stderr.split()
            return diff and diff[0] == "0"
        wait_until(f"viewer of customer {who} shows its display", same, 20)

    # --- Journal and sockets ----------------------------------------------------------------------------

    def journal(self):
        path = os.path.join(self.out, "journal.log")
        if not os.path.exists(path):
            return []
        with open(path) as f:
            return f.read().splitlines()

    def journal_has(self, pattern, seconds=20):
        return wait_until(f"journal line {pattern!r}", lambda: any(re.fullmatch(STAMP + pattern, l) for l in self.journal()),
                          seconds)

    def listeners_outside(self):
        out = run("ip", "netns", "exec", TECH, "ss", "-Hltn").stdout
        local = [line.split()[3] for line in out.splitlines() if line.strip()]
        outside = sorted(a for a in local if not a.startswith("127.0.0.1:") and not a.startswith("[::1]:"))
        return local, outside

    def established_5500(self, ns):
        out = run("ip", "netns", "exec", ns, "ss", "-Htn", "state", "established", "( sport = :5500 )").stdout
        return [line for line in out.splitlines() if line.strip()]

    def console_children(self, console):
        children = []
        for entry in os.listdir("/proc"):
            if entry.isdigit():
                try:
                    with open(f"/proc/{entry}/stat") as f:
                        if int(f.read().rsplit(")", 1)[1].split()[1]) == console.pid:
                            with open(f"/proc/{entry}/cmdline", "rb") as c:
                                children.append((int(entry), c.read().replace(b"\0", b" ").decode()))
                except (OSError, IndexError, ValueError):
                    pass
        return children

    # --- The run ------------------------------------------------------------------------------------------

    def run(self):
        self.netns()
        self.certificates()
        self.ns_of = {"A": CUST_A, "B": CUST_B, "T": TECH}
        self.displays = {who: self.xvfb("xvfb" + who, SIZES[who], self.ns_of[who]) for who in SIZES}
        self.tech_display = self.displays["T"] = self.xvfb("xvfbT", TECH_SIZE, TECH)
        for who in SIZES:
            self.picture(who, 1)
        servers = {id: self.start(f"server{id}", ["stunnel4", self.server_config(id)], ns=TECH) for id in TUNNEL_PORTS}
        clients = {"A": self.start("clientA", ["stunnel4", self.client_config("A", 1, "301")], ns=CUST_A),
                   "B": self.start("clientB", ["stunnel4", self.client_config("B", 2, "302")], ns=CUST_B)}
        arguments = " ".join(VIEWER_OPTIONS) + " 127.0.0.1::{port}"
        settings = self.console_settings("technician.ini", "vncviewer", arguments, 10)
        console = self.start("console", [self.program, "--settings", settings], ns=TECH, display=self.tech_display)
        self.journal_has(r"ID 302: listening on 127\.0\.0\.1:5602")
        wait_until("tunnels listening", lambda: len(self.listeners_outside()[1]) == 2, 10)
        wait_until("client tunnels listening", lambda: all(
            "127.0.0.1:5500" in run("ip", "netns", "exec", ns, "ss", "-Hltn").stdout for ns in (CUST_A, CUST_B)), 10)
        self.two_customers(console)
        self.customer_vanishes(clients["A"])
        self.viewer_closed(console)
        self.stop(console)
        self.second_run(clients, servers)
        self.whole_journal()

    def vnc(self, who):
        """x11vnc on the customer's display, connecting to its client tunnel (an earlier one is ended)."""
        ns = CUST_A if who == "A" else CUST_B
        if who in self.vncs:
            self.end(self.vncs[who])
        self.vncs[who] = self.start(f"x11vnc{who}", ["x11vnc", "-rfbport", "0", "-localhost", "-forever", "-nopw",
                                                     "-noxdamage", "-norc", "-desktop", f"customer{who}",
                                                     "-connect", "127.0.0.1:5500"], ns=ns, display=self.displays[who])
        return self.vncs[who]

    def two_customers(self, console):
        self.vnc("A")
        self.journal_has(r"session 1: viewer connected on 127\.0\.0\.1:\d+")
        self.vnc("B")
        self.journal_has(r"session 2: viewer connected on 127\.0\.0\.1:\d+")
        self.shows("B")
        windows = self.viewer_windows()
        self.shows("A", covered=windows["B"] if windows["B"][0] <= windows["A"][0] else None)
        self.ok("two customers of different IDs at once: each viewer shows its own customer's display")
        local, outside = self.listeners_outside()
        if outside != ["*:443", "*:444"] and outside != ["0.0.0.0:443", "0.0.0.0:444"]:
            raise Failure(f"the technician's namespace listens outside on {outside} (all: {local})")
        self.ok(f"ss -ltn: outside addresses only the tunnel ports {outside}; the rest on loopback {sorted(set(local) - set(outside))}")
        viewers = [cmd for _, cmd in self.console_children(console) if cmd.startswith("vncviewer")]
        if len(viewers) != 2:
            raise Failure(f"the console runs {viewers}, not two viewers")

    def customer_vanishes(self, client_a):
        self.end(client_a, signal.SIGKILL)
        self.journal_has(r"session 1 ended after \d+ s, \d+ bytes to the viewer, \d+ bytes to the customer: "
                         r"the customer's side ended")
        wait_until("viewer A gone", lambda: "A" not in self.viewer_windows(), 10)
        self.picture("B", 2)
        self.shows("B")
        if any("session 2 ended" in line for line in self.journal()):
            raise Failure("session 2 ended with session 1")
        self.ok("customer A's tunnel killed: its session and viewer ended; customer B's viewer follows B's new screen")

    def viewer_closed(self, console):
        port = re.search(r"session 2: viewer connected on 127\.0\.0\.1:(\d+)",
                         "\n".join(self.journal())).group(1)
        viewer = [pid for pid, cmd in self.console_children(console) if cmd.startswith("vncviewer") and port in cmd]
        if len(viewer) != 1:
            raise Failure(f"no single viewer of session 2 among {self.console_children(console)}")
        os.kill(viewer[0], signal.SIGTERM)
        self.journal_has(r"session 2 ended after \d+ s, \d+ bytes to the viewer, \d+ bytes to the customer: "
                         r"the viewer was closed")
        wait_until("customer B's VNC connection ended", lambda: not self.established_5500(CUST_B), 15)
        self.ok("the viewer closed by the technician: the session ended and so did the customer's VNC connection")

    def stop(self, console):
        self.vnc("B")  # a session running while the console is stopped
        self.journal_has(r"session 3: viewer connected on 127\.0\.0\.1:\d+")
        self.shows("B")
        console.send_signal(signal.SIGINT)
        code = console.wait(20)
        if code != 0:
            raise Failure(f"the console ended with {code} on Ctrl-C")
        self.journal_has(r"console stopped", 1)
        wait_until("no viewer left", lambda: not self.viewer_windows(), 10)
        left = [cmd for _, cmd in self.console_children(console)]
        if left or any(re.search(r"vncviewer", open(f"/proc/{p}/cmdline", "rb").read().decode(errors="replace"))
                       for p in os.listdir("/proc") if p.isdigit() and os.path.exists(f"/proc/{p}/cmdline")
                       and self.is_ours(int(p))):
            raise Failure("something of the console still runs")
        wait_until("customer B's VNC connection ended", lambda: not self.established_5500(CUST_B), 15)
        self.ok("Ctrl-C: every session ended, no viewer left, the customer's connection closed")

    def is_ours(self, pid):
        try:
            with open(f"/proc/{pid}/environ", "rb") as f:
                return f"DISPLAY={self.tech_display}".encode() + b"\0" in f.read()
        except OSError:
            return False

    def second_run(self, clients, servers):
        """A viewer that never connects (sleep stands for it) and an ID whose port is taken."""
        clients["A"] = self.start("clientA2", ["stunnel4", self.client_config("A", 1, "301")], ns=CUST_A)
        blocker = self.start("blocker", ["python3", "-c", "import socket,time\ns=socket.socket()\n"
                                         "s.setsockopt(socket.SOL_SOCKET,socket.SO_REUSEADDR,1)\n"
                                         "s.bind(('127.0.0.1',5602))\ns.listen()\ntime.sleep(600)"], ns=TECH)
        wait_until("port 5602 taken", lambda: "127.0.0.1:5602" in run("ip", "netns", "exec", TECH, "ss", "-Hltn").stdout, 10)
        settings = self.console_settings("never.ini", "sleep", "{port}", 2)
        console = self.start("console2", [self.program, "--settings", settings], ns=TECH, display=self.tech_display)
        self.journal_has(r"ID 302: not served, 127\.0\.0\.1:5602 cannot be opened: Address already in use")
        wait_until("client tunnel A listening", lambda: "127.0.0.1:5500" in run("ip", "netns", "exec", CUST_A, "ss", "-Hltn").stdout, 10)
        self.vnc("A")
        self.journal_has(r"session 1 ended after \d s, 0 bytes to the viewer, 0 bytes to the customer: "
                         r"the viewer did not connect within 2 s")
        if any(cmd.startswith("sleep") for _, cmd in self.console_children(console)):
            raise Failure("the viewer that never connected still runs")
        self.ok("a viewer that never connects ends its session after viewer_wait and is ended; a port in use is said")
        console.send_signal(signal.SIGINT)
        if console.wait(20) != 0:
            raise Failure("the second console did not end cleanly")
        self.end(blocker)

    def whole_journal(self):
        n = r"\d+"
        expected = [
            r"ID 301: listening on 127\.0\.0\.1:5601",
            r"ID 302: listening on 127\.0\.0\.1:5602",
            r"session 1 started: ID 301, customer 10\.27\.1\.2:" + n,
            r"session 1: viewer connected on 127\.0\.0\.1:" + n,
            r"session 2 started: ID 302, customer 10\.27\.2\.2:" + n,
            r"session 2: viewer connected on 127\.0\.0\.1:" + n,
            rf"session 1 ended after {n} s, {n} bytes to the viewer, {n} bytes to the customer: the customer's side ended",
            rf"session 2 ended after {n} s, {n} bytes to the viewer, {n} bytes to the customer: the viewer was closed",
            r"session 3 started: ID 302, customer 10\.27\.2\.2:" + n,
            r"session 3: viewer connected on 127\.0\.0\.1:" + n,
            r"console stopping: ending every session",
            rf"session 3 ended after {n} s, {n} bytes to the viewer, {n} bytes to the customer: the console was stopped",
            r"console stopped",
            r"ID 301: listening on 127\.0\.0\.1:5601",
            r"ID 302: not served, 127\.0\.0\.1:5602 cannot be opened: Address already in use",
            r"session 1 started: ID 301, customer 10\.27\.1\.2:" + n,
            r"session 1 ended after \d s, 0 bytes to the viewer, 0 bytes to the customer: the viewer did not connect within 2 s",
            r"console stopping: ending every session",
            r"console stopped",
        ]
        lines = self.journal()
        wrong = [f"line {i + 1}: {lines[i] if i < len(lines) else '(none)'!r} is not {e!r}"
                 for i, e in enumerate(expected) if i >= len(lines) or not re.fullmatch(STAMP + e, lines[i])]
        if wrong or len(lines) != len(expected):
            raise Failure("the journal differs:\n" + "\n".join(wrong + lines[len(expected):]))
        counts = [re.search(r"(\d+) bytes to the viewer, (\d+) bytes to the customer", l) for l in lines]
        relayed = [c for c in counts[:13] if c]  # each showed a whole screen
        if not all(int(c.group(1)) > 10000 and int(c.group(2)) > 0 for c in relayed):
            raise Failure(f"a relayed session counted too few bytes: {[c.group(0) for c in relayed]}")
        self.ok(f"the journal: all {len(expected)} lines as expected")


def main():
    if os.geteuid() != 0:
        print("skipped: network namespaces need root")
        return SKIPPED
    missing = [p for p in NEEDED if shutil.which(p) is None]
    if missing:
        print(f"skipped: missing {missing}")
        return SKIPPED
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("console_program")
    parser.add_argument("out_dir")
    args = parser.parse_args()
    program, out = os.path.abspath(args.console_program), os.path.abspath(args.out_dir)
    shutil.rmtree(out, ignore_errors=True)
    os.makedirs(out)
    test = Test(program, out)
    try:
        test.run()
        print(f"all {test.checks} checks passed")
        return 0
    except (Failure, subprocess.TimeoutExpired) as failure:
        print(f"FAILED: {failure}")
        for name in ("journal.log", "console.out", "server301.log", "clientA.log"):
            path = os.path.join(out, name)
            if os.path.exists(path):
                print(f"--- {name}\n" + open(path, errors="replace").read()[-3000:])
        return 1
    finally:
        test.cleanup()


if __name__ == "__main__":
    sys.exit(main())
