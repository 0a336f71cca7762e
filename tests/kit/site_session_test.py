#!/usr/bin/env python3
"""The site kits end to end, in network namespaces: the technician on an address of its own (not
loopback), a customer and a stranger in namespaces of their own, each joined to the technician by a
veth pair. The kits are made as scripts/release --site makes them (client_ca.py issue, make_kit.py;
a stand-in file for launcher.exe, which plays no part here): kit A for the customer, kit B that went
astray and is revoked (client_ca.py revoke, make_kit.py --technician-only, as --revoke does).

The technician runs the technician kit as its README says: the certificate and key beside the
configuration, the kit's console (the program built here) and the tunnel server each started with the
command of its systemd unit in the kit's folder (the console's settings as shipped, only the viewer's
options made lossless for the pixel comparison). Then:
  - every refusal of one table, from the stranger's namespace: the server's log shows the refusal,
    the console gets no connection (its journal no session, no viewer starts) and the client no byte
    of RFB;
  - the customer runs kit A's stunnel1.conf in the tunnel program and x11vnc on its display connects
    to it: the viewer shows the customer's display pixel for pixel, and the server's log names kit A.
Everything runs in a user namespace of its own (unshare -rn: no root needed); the namespaces go away
with the processes that hold them, and every process started here is ended.

  site_session_test.py SOURCE_DIR OUT_DIR CONSOLE
Exit code 0 when every check passed, 1 on a failure, 77 (skipped) when a program it needs is missing
or user namespaces are not available.
"""
import argparse
import os
import re
import shutil
import signal
import subprocess
import sys
import tempfile
import threading
import time
import zipfile

ROOT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..")
sys.path[:0] = [os.path.join(ROOT, "tests", "support"), os.path.join(ROOT, "kit", "tools")]
import tunnel_config  # noqa: E402
from child_process import adopt_orphans, end_with_parent  # noqa: E402
from displays import (CUSTOMER_SIZE, TECHNICIAN_SIZE, VIEWER_OPTIONS, crop, differing_pixels,  # noqa: E402
                      screenshot, start_xvfb, viewer_window)
from scripted import Failure, connected, end_all, listening  # noqa: E402

SKIPPED = 77
LIMIT_SECONDS = 150
NEEDED = {"stunnel4": "stunnel4", "openssl": "openssl", "x11vnc": "x11vnc", "vncviewer": "tigervnc-viewer",
          "Xvfb": "xvfb", "import": "imagemagick", "display": "imagemagick", "xwininfo": "x11-utils",
          "ip": "iproute2", "unshare": "util-linux", "nsenter": "util-linux"}
MARK = "BROL_SITE_SESSION_INSIDE"
CONSOLE = ""  # the technician's console program the technician kit carries (argument 3)
TECHNICIAN, CUSTOMER, STRANGER = "10.26.1.1", "10.26.1.2", "10.26.2.2"
VERSION = "9.8.7"
ID = 301
RFB_GREETING = b"RFB 003.008\n"
# TLS 1.2 suites with CBC only: the ones an old client offers that the server must not take.
CBC_ONLY = "ECDHE-ECDSA-AES128-SHA:ECDHE-ECDSA-AES256-SHA:ECDHE-ECDSA-AES128-SHA256:ECDHE-ECDSA-AES256-SHA384"


def run(*args, **kw):
    result = subprocess.run(list(args), capture_output=True, text=True, timeout=60, **kw)
    if result.returncode != 0:
        raise Failure(f"{' '.join(args)}: {(result.stdout + result.stderr).strip()}")
    return result.stdout


def start(args, log, **kw):
    return subprocess.Popen(args, stdin=subprocess.DEVNULL, stdout=log, stderr=subprocess.STDOUT,
                            preexec_fn=end_with_parent, **kw)


# --- Namespaces -------------------------------------------------------------------------------------------

class Network:
    """The technician's namespace (this process's) joined to a customer's and a stranger's, each held
    by a sleeping process; veth names carry this process's id."""

    def __init__(self):
        run("ip", "link", "set", "lo", "up")
        self.holders = []
        self.customer = self.join("c", "10.26.1", CUSTOMER)
        self.stranger = self.join("s", "10.26.2", STRANGER)
        # The stranger knows the technician's public address only; the way there goes over its link.
        self.inside(self.stranger, "ip", "route", "add", "10.26.1.0/24", "via", "10.26.2.1")

    def join(self, tag, net, address):
        holder = subprocess.Popen(["unshare", "-n", "sleep", str(LIMIT_SECONDS * 2)],
                                  preexec_fn=end_with_parent)
        self.holders.append(holder)
        deadline = time.monotonic() + 5
        while os.readlink(f"/proc/{holder.pid}/ns/net") == os.readlink("/proc/self/ns/net"):
            if time.monotonic() > deadline:
                raise Failure("the namespace holder did not start")
            time.sleep(0.02)
        here, there = f"v{tag}{os.getpid()}t", f"v{tag}{os.getpid()}p"
        run("ip", "link", "add", here, "type", "veth", "peer", "name", there)
        run("ip", "link", "set", there, "netns", str(holder.pid))
        run("ip", "addr", "add", f"{net}.1/24", "dev", here)
        run("ip", "link", "set", here, "up")
        for command in (["ip", "link", "set", "lo", "up"], ["ip", "addr", "add", f"{address}/24", "dev", there],
                        ["ip", "link", "set", there, "up"]):
            self.inside(holder.pid, *command)
        return holder.pid

    @staticmethod
    def inside(pid, *command):
        return run("nsenter", "-t", str(pid), "-n", *command)

    @staticmethod
    def prefix(pid):
        return ["nsenter", "-t", str(pid), "-n"]


# --- The kits ---------------------------------------------------------------------------------------------

def certificate(folder, stem, subject, *extra):
    run("openssl", "req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:P-256", "-nodes", "-days", "30",
        "-subj", f"/CN={subject}", *extra, "-keyout", os.path.join(folder, stem + ".key"),
        "-out", os.path.join(folder, stem + ".crt"))


def make_kits(source, work):
    """Kit A (the customer's), kit B (revoked); returns (customer folder A, B's files, technician folder)."""
    tools = os.path.join(source, "kit", "tools")
    site = os.path.join(work, "site")
    os.makedirs(site)
    lines = ["[kit]", "suffix = acme"]
    for number in (301, 302, 303, 304):
        certificate(site, f"techniker{number}", TECHNICIAN, "-addext", f"subjectAltName=IP:{TECHNICIAN}")
        lines += [f"[{number}]", f"host = {TECHNICIAN}", f"port = {443 if number == ID else 8000 + number}",
                  f"certificate = techniker{number}.crt"]
    settings = os.path.join(site, "acme.ini")
    with open(settings, "w") as f:
        f.write("\n".join(lines) + "\n")
    launcher = os.path.join(work, "launcher.exe")
    with open(launcher, "w") as f:
        f.write("stands for the launcher\n")

    def make_kit(client, out, *more):
        run(sys.executable, os.path.join(tools, "make_kit.py"), "--version", VERSION, "--launcher", launcher,
            "--out-dir", out, "--site", settings, "--client", client, "--console-linux", CONSOLE,
            "--console-windows", launcher, *more)

    names = {}
    for kit in ("B", "A"):
        client = os.path.join(work, f"client{kit}")
        names[kit] = run(sys.executable, os.path.join(tools, "client_ca.py"), "issue", settings, client).strip()
        make_kit(client, os.path.join(work, f"kits{kit}"))
    run(sys.executable, os.path.join(tools, "client_ca.py"), "revoke", settings, names["B"], os.path.join(work, "crl"))
    make_kit(os.path.join(work, "crl"), os.path.join(work, "kitsR"), "--technician-only")
    customer = unpack(os.path.join(work, "kitsA", f"fernwartung-{VERSION}-acme.zip"), work, "customer")
    lost = unpack(os.path.join(work, "kitsB", f"fernwartung-{VERSION}-acme.zip"), work, "lost")
    technician = unpack(os.path.join(work, "kitsR", f"fernwartung-techniker-{VERSION}-acme.zip"), work, "technician")
    for ending in (".crt", ".key"):  # step 1 of the technician's README: beside the configuration
        shutil.copy(os.path.join(site, f"techniker{ID}{ending}"), technician)
    return customer, lost, technician, names


def unpack(path, work, name):
    folder = os.path.join(work, name)
    with zipfile.ZipFile(path) as z:
        z.extractall(folder)
        for info in z.infolist():  # the permissions, as unzip applies them (extractall does not)
            if not info.is_dir():
                os.chmod(os.path.join(folder, info.filename), (info.external_attr >> 16) & 0o777)
    (top,) = os.listdir(folder)
    return os.path.join(folder, top)


def option(path, key):
    """The value of the first `key = value` line of a configuration file (key in any case)."""
    with open(path) as f:
        for line in f:
            if tunnel_config.key(line) == key.lower():
                return line.partition("=")[2].strip()
    raise Failure(f"{os.path.basename(path)} has no {key}")


def service_command(technician, number):
    """The unit's ExecStart for the instance, as systemd would run it in the kit's folder."""
    with open(os.path.join(technician, "fernwartung-techniker@.service")) as f:
        command = re.search(r"^ExecStart=(.+)$", f.read(), re.M).group(1)
    return command.replace("%i", str(number)).split()


def console_command(technician):
    """The console unit's ExecStart with the kit's folder filled in, as start-linux.sh installs it."""
    with open(os.path.join(technician, "fernwartung-konsole.service")) as f:
        command = re.search(r"^ExecStart=(.+)$", f.read(), re.M).group(1)
    return command.replace("@KIT@", technician).split()


# --- The technician's side --------------------------------------------------------------------------------

class Technician:
    def __init__(self, folder, out):
        self.folder, self.out = folder, out
        self.config = os.path.join(folder, f"stunnel-techniker{ID}.conf")
        self.port = int(option(self.config, "accept"))
        self.console_port = int(option(self.config, "connect").rpartition(":")[2])
        if option(self.config, "protocol") != "proxy":
            raise Failure("the tunnel server does not hand the customer's address to the console")
        self.log_path = os.path.join(folder, option(self.config, "output"))
        self.journal_path = os.path.join(folder, "technician-journal.log")

    def start(self, display):
        settings = os.path.join(self.folder, "technician.ini")
        with open(settings) as f:
            text = f.read()
        with open(settings, "w") as f:  # lossless pixels for the comparison; the rest as shipped
            f.write(text.replace("arguments = ", "arguments = " + " ".join(VIEWER_OPTIONS) + " ", 1))
        self.console = start(console_command(self.folder), open(os.path.join(self.out, "console.out"), "w"),
                             env=dict(os.environ, DISPLAY=display), cwd=self.folder)
        self.server = start(service_command(self.folder, ID), open(os.path.join(self.out, "server.out"), "w"),
                            cwd=self.folder)
        deadline = time.monotonic() + 10
        while not (listening(self.port) and listening(self.console_port)):
            if self.server.poll() is not None or self.console.poll() is not None or time.monotonic() > deadline:
                raise Failure(f"the tunnel server or the console did not start:\n{self.log()}\n{self.journal()}")
            time.sleep(0.05)
        with open(os.path.join(self.folder, option(self.config, "pid"))) as f:
            pid = f.read().strip()
        if pid != str(self.server.pid):
            raise Failure(f"the pid file holds {pid!r}, the server runs as {self.server.pid}")

    def log(self):
        try:
            with open(self.log_path, errors="replace") as f:
                return f.read()
        except OSError:
            return "(no log file)"

    def journal(self):
        try:
            with open(self.journal_path, errors="replace") as f:
                return f.read()
        except OSError:
            return "(no journal)"

    def viewer_untouched(self):
        """None while the console has had no session, else what happened."""
        if self.console.poll() is not None:
            return "the console has ended"
        if connected(self.console_port):
            return "a connection to the console's port is open"
        if "s_connect: connect" in self.log():
            return "the tunnel server connected to the console"
        if "session" in self.journal():
            return "the console's journal shows a session"
        return None


# --- The stranger's attempts ------------------------------------------------------------------------------

def s_client(network, *options):
    """openssl's TLS client from the stranger's namespace to the tunnel's port: sends an RFB greeting,
    returns what came back within 3 s."""
    command = network.prefix(network.stranger) + ["openssl", "s_client", "-quiet", "-connect",
                                                   f"{TECHNICIAN}:{{port}}", *options]
    return command


def attempt(command, port):
    command = [part.replace("{port}", str(port)) for part in command]
    process = subprocess.Popen(command, stdin=subprocess.PIPE, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL,
                               preexec_fn=end_with_parent)
    try:
        process.stdin.write(RFB_GREETING)
        process.stdin.flush()
    except OSError:
        pass
    time.sleep(3)
    process.kill()
    return process.communicate()[0]


def plain_rfb(network):
    code = ("import socket,sys,time\n"
            "s=socket.create_connection((sys.argv[1],int(sys.argv[2])),timeout=5)\n"
            f"s.sendall({RFB_GREETING!r})\n"
            "got=b''\nend=time.monotonic()+3\n"
            "while time.monotonic()<end:\n"
            "  try:\n    d=s.recv(4096)\n  except OSError:\n    break\n"
            "  if not d: break\n  got+=d\n"
            "sys.stdout.buffer.write(got)\n")
    return network.prefix(network.stranger) + [sys.executable, "-c", code, TECHNICIAN, "{port}"]


def refusals(network, folders):
    """(label, command of the stranger, text of the refusal in the server's log)."""
    genuine = ["-cert", os.path.join(folders["customer"], folders["name"] + ".crt"),
               "-key", os.path.join(folders["customer"], folders["name"] + ".key")]
    other, lost = folders["other"], folders["lost"]
    return [
        ("no certificate", s_client(network), "peer did not return a certificate"),
        ("a certificate of another CA", s_client(network, "-cert", other + ".crt", "-key", other + ".key"),
         "Rejected by CERT at depth=0: CN=" + folders["name"]),
        ("the revoked kit", s_client(network, "-cert", os.path.join(lost, folders["lost_name"] + ".crt"),
                                     "-key", os.path.join(lost, folders["lost_name"] + ".key")),
         "certificate revoked"),
        ("TLS 1.1", s_client(network, *genuine, "-tls1_1", "-cipher", "DEFAULT@SECLEVEL=0"), "unsupported protocol"),
        ("only CBC suites", s_client(network, *genuine, "-tls1_2", "-cipher", CBC_ONLY), "no shared cipher"),
        ("plain RFB", plain_rfb(network), "SSL_accept"),
    ]


def check_refusals(network, technician, folders, failures):
    for label, command, text in refusals(network, folders):
        before = len(technician.log())
        back = attempt(command, technician.port)
        time.sleep(0.3)
        logged = technician.log()[before:]
        touched = technician.viewer_untouched()
        problems = []
        if b"RFB" in back:
            problems.append(f"the client got RFB bytes back: {back[:40]!r}")
        if touched:
            problems.append(touched)
        if text not in logged:
            problems.append(f"the server's log lacks {text!r}:\n{logged}")
        if "accepted connection from " + STRANGER not in logged:
            problems.append("the server's log does not show the stranger's connection")
        if problems:
            failures.append(f"{label}: " + "; ".join(problems))
        else:
            print(f"ok refused: {label} ({text})")


# --- The customer's session -------------------------------------------------------------------------------

def customer_session(network, technician, customer, name, out, failures):
    display = start_xvfb(CUSTOMER_SIZE, open(os.path.join(out, "xvfb-customer.log"), "w"))
    picture = os.path.join(out, "picture.png")
    run("convert", "-size", "1024x768", "plasma:fractal", "-seed", "26", picture)
    start(["display", "-display", display, "-geometry", "+0+0", picture], open(os.path.join(out, "display.log"), "w"))
    config = os.path.join(customer, "stunnel1.conf")
    with open(config) as f:
        text = tunnel_config.for_linux(f.read(), None, "info")
    run_config = os.path.join(customer, "run-here.conf")
    with open(run_config, "w") as f:
        f.write(text)
    start(network.prefix(network.customer) + ["stunnel4", "run-here.conf"],
          open(os.path.join(out, "customer.log"), "w"), cwd=customer)
    time.sleep(1)
    start(network.prefix(network.customer) + ["x11vnc", "-display", display, "-rfbport", "0", "-localhost", "-forever",
                                              "-nopw", "-noxdamage", "-norc", "-connect", "127.0.0.1:5500"],
          open(os.path.join(out, "x11vnc.log"), "w"))
    shots = os.path.join(out, "shots")
    os.makedirs(shots, exist_ok=True)
    deadline, diff, window = time.monotonic() + 30, None, None
    while time.monotonic() < deadline:
        window = viewer_window(technician.display)
        if window and window[2] >= CUSTOMER_SIZE[0] and window[3] >= CUSTOMER_SIZE[1]:
            shown, whole, screen = (os.path.join(shots, n) for n in ("viewer.png", "technician.png", "customer.png"))
            screenshot(display, screen)
            screenshot(technician.display, whole)
            crop(whole, shown, *CUSTOMER_SIZE, window[0], window[1])
            diff = differing_pixels(screen, shown)
            if diff == 0:
                break
        time.sleep(0.3)
    if diff != 0:
        failures.append(f"the viewer does not show the customer's display (window {window}, {diff} pixels differ; "
                        f"see {shots}):\n{technician.log()[-2000:]}")
        return
    started = re.search(r"session 1 started: ID 301, customer " + re.escape(CUSTOMER) + r":\d+$", technician.journal(),
                        re.M)
    if not started:
        failures.append(f"the console's journal does not show the customer's session:\n{technician.journal()}")
    print(f"ok the customer's kit reached the console's viewer; it shows the customer's display, all "
          f"{CUSTOMER_SIZE[0]}x{CUSTOMER_SIZE[1]} pixels")
    if f"Certificate accepted at depth=0: CN={name}" not in technician.log():
        failures.append(f"the server's log does not name the customer's kit {name}")
    else:
        print(f"ok the server's log names the kit: CN={name}")


# --- Running ----------------------------------------------------------------------------------------------

def inside(source, out):
    failures = []
    work = tempfile.mkdtemp(prefix=f"brol-site-session-{os.getpid()}-")
    try:
        network = Network()
        customer, lost, technician_folder, names = make_kits(source, work)
        certificate(work, "other-ca", "another CA", "-addext", "basicConstraints=critical,CA:TRUE")
        run("openssl", "req", "-new", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:P-256", "-nodes", "-subj",
            f"/CN={names['A']}", "-keyout", os.path.join(work, "other.key"), "-out", os.path.join(work, "other.csr"))
        run("openssl", "x509", "-req", "-in", os.path.join(work, "other.csr"), "-days", "30",
            "-CA", os.path.join(work, "other-ca.crt"), "-CAkey", os.path.join(work, "other-ca.key"),
            "-out", os.path.join(work, "other.crt"))
        folders = {"customer": customer, "name": names["A"], "lost": lost, "lost_name": names["B"],
                   "other": os.path.join(work, "other")}
        technician = Technician(technician_folder, out)
        technician.display = start_xvfb(TECHNICIAN_SIZE, open(os.path.join(out, "xvfb.log"), "w"))
        technician.start(technician.display)
        print(f"ok the technician's server runs as the unit says ({' '.join(service_command(technician_folder, ID))}),"
              f" pid file and log file in its folder; the console listens on 127.0.0.1:{technician.console_port}")
        check_refusals(network, technician, folders, failures)
        customer_session(network, technician, customer, names["A"], out, failures)
        shutil.copy(technician.log_path, os.path.join(out, "server.log"))
    except Failure as failure:
        failures.append(str(failure))
    finally:
        end_all()
        shutil.rmtree(work, ignore_errors=True)
    for failure in failures:
        print(f"FAIL {failure}")
    if not failures:
        print("ok: only the kit's customer reached the viewer; every stranger was refused and logged")
    return 1 if failures else 0


def watch(outer):
    """Ends this run (its processes ended as after a failure) when the process outside the user
    namespace is gone, killed by a test runner's timeout: a death signal set for unshare does not
    survive its change of user namespace, so the run cannot rely on one."""
    while os.path.exists(f"/proc/{outer}"):
        time.sleep(0.3)
    os.kill(os.getpid(), signal.SIGTERM)


def main():
    global CONSOLE
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("source_dir")
    parser.add_argument("out_dir")
    parser.add_argument("console", help="the technician's console program the technician kit carries")
    args = parser.parse_args()
    source, out, CONSOLE = (os.path.abspath(a) for a in (args.source_dir, args.out_dir, args.console))
    missing = sorted({package for program, package in NEEDED.items() if shutil.which(program) is None})
    if missing:
        print(f"SKIPPED: the site session test needs the packages {', '.join(missing)} (scripts/test installs them)")
        return SKIPPED
    if os.environ.get(MARK) != "1":
        probe = subprocess.run(["unshare", "-rn", "true"], capture_output=True, text=True)
        if probe.returncode != 0:
            print(f"SKIPPED: no user namespace here (unshare -rn: {probe.stderr.strip()})")
            return SKIPPED
        shutil.rmtree(out, ignore_errors=True)
        os.makedirs(out)
        inner = [sys.executable, os.path.abspath(__file__), source, out, CONSOLE]
        return subprocess.run(["unshare", "-rn", "--kill-child", *inner],
                              env=dict(os.environ, **{MARK: "1", MARK + "_OUTER": str(os.getpid())})).returncode
    adopt_orphans()  # what nsenter forks ends here too
    threading.Thread(target=watch, args=(int(os.environ[MARK + "_OUTER"]),), daemon=True).start()
    signal.signal(signal.SIGALRM, lambda *_: (_ for _ in ()).throw(Failure(f"not done within {LIMIT_SECONDS} s")))
    signal.signal(signal.SIGTERM, lambda *_: (_ for _ in ()).throw(Failure("terminated")))
    signal.alarm(LIMIT_SECONDS)
    return inside(source, out)


if __name__ == "__main__":
    sys.exit(main())
