#!/usr/bin/env python3
"""The bridges (tests/doubles/bridge/) on their own, under Wine, where a fault would not show in the session
test: the launcher's check that the tunnel is still running 2 s after its start relies on the bridge
ending with its Linux program; a bridge that is terminated or closed must take its Linux program
along; and Windows-only tunnel options must not reach the Linux tunnel program.

  bridge_test.py BRIDGE_DIR OUT_DIR
Needs WINEPREFIX. Exit code 0 when every check passed, 1 on a failure, 77 when stunnel4 is missing.
"""
import argparse
import os
import re
import shutil
import signal
import subprocess
import sys
import time

ROOT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "..")
sys.path[:0] = [os.path.join(ROOT, "tests", "support"), os.path.join(ROOT, "kit", "tools")]
from child_process import adopt_orphans  # noqa: E402
from displays import start_xvfb  # noqa: E402
from scripted import command_line, descendants, end_all, free_port, listening, reap, winpath  # noqa: E402

failures = 0


def check(ok, what):
    global failures
    failures += not ok
    print(f"{'ok  ' if ok else 'FAIL'}: {what}")
    return ok


def wait_for(condition, seconds):
    deadline = time.monotonic() + seconds
    while not condition():
        if time.monotonic() > deadline:
            return False
        time.sleep(0.05)
        reap()
    return True


def linux_tunnels():
    return [p for p in descendants() if "stunnel4 -fd 0" in command_line(p)]


def bridge_log(app):
    path = os.path.join(app, "stunnel.log")
    return open(path).read() if os.path.exists(path) else ""


def windows_pid(app):
    match = re.search(r"start pid=(\d+)", bridge_log(app))
    return match.group(1) if match else None


def bridge_running():
    return any("stunnel.exe" in command_line(p) for p in descendants())


def start_bridge(app, env, *args):
    """The bridge in a Wine desktop of this test's own, as the other Wine tests do, so that no other
    test's display carries its window."""
    for name in ("stunnel.log", "stunnel.out"):
        if os.path.exists(os.path.join(app, name)):
            os.remove(os.path.join(app, name))
    subprocess.Popen(["wine", "explorer", f"/desktop=brolbridge{os.getpid()},640x480",
                      winpath(os.path.join(app, "stunnel.exe")), *args], cwd=app, env=env,
                     stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)


def case_running(app, env, how):
    """A good configuration with a Windows-only option runs; `how` ends the bridge, and with it the
    Linux tunnel program."""
    port = free_port()
    with open(os.path.join(app, "good.conf"), "w") as f:
        f.write(f"; the Windows build's tray icon option\ntaskbar = no\n[t]\nclient = yes\n"
                f"accept = 127.0.0.1:{port}\nconnect = 127.0.0.1:9\n")
    start_bridge(app, env, "good.conf")
    if not check(wait_for(lambda: listening(port), 15), f"{how}: the translated configuration runs (taskbar dropped)"):
        print(open(os.path.join(app, "stunnel.out")).read() if os.path.exists(os.path.join(app, "stunnel.out")) else "")
        return
    check(len(linux_tunnels()) == 1, f"{how}: one Linux tunnel program runs")
    pid = windows_pid(app)
    started = time.monotonic()
    # taskkill sends WM_CLOSE to the windows it sees, those of its own desktop; with /f it terminates.
    force = ["/f"] if how == "TerminateProcess" else []
    subprocess.run(["wine", "explorer", f"/desktop=brolbridge{os.getpid()}", "taskkill", *force, "/pid", pid], env=env,
                   capture_output=True, timeout=30)
    check(wait_for(lambda: not linux_tunnels() and not listening(port), 5),
          f"{how}: the Linux tunnel program is gone ({time.monotonic() - started:.1f} s)")
    check(wait_for(lambda: not bridge_running(), 5), f"{how}: the bridge has ended")
    if how == "WM_CLOSE":
        log = bridge_log(app)
        check("WM_CLOSE" in log and log.rstrip().endswith("exit"), f"{how}: the bridge logged the close and its end")


def case_refused(app, env):
    """A configuration the Linux tunnel program refuses: the bridge ends by itself within the
    launcher's 2 s, so the launcher reports a failed start."""
    with open(os.path.join(app, "bad.conf"), "w") as f:
        f.write("[t]\nclient = yes\naccept = 127.0.0.1:1\nno_such_option = 1\n")
    started = time.monotonic()
    start_bridge(app, env, "bad.conf")
    # The Windows pid appears once Wine has started the bridge; from there the launcher waits 2 s.
    wait_for(lambda: windows_pid(app) is not None, 15)
    logged = time.monotonic()
    ended = wait_for(lambda: not bridge_running(), 15)
    check(ended and time.monotonic() - logged < 2,
          f"refused configuration: the bridge ends by itself, {time.monotonic() - logged:.1f} s after its start "
          f"({logged - started:.1f} s for Wine to start it)")
    out = open(os.path.join(app, "stunnel.out")).read() if os.path.exists(os.path.join(app, "stunnel.out")) else ""
    check("no_such_option" in out, "refused configuration: the Linux program's complaint is in stunnel.out")


def main():
    if shutil.which("stunnel4") is None:
        print("SKIPPED: the bridge test needs Debian's stunnel4 (scripts/test installs it)")
        return 77
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("bridge_dir")
    parser.add_argument("out_dir")
    args = parser.parse_args()
    bridges, out = args.bridge_dir, os.path.abspath(args.out_dir)
    adopt_orphans()
    signal.signal(signal.SIGALRM, lambda *_: sys.exit("FAIL not done within 90 s"))
    signal.alarm(90)
    shutil.rmtree(out, ignore_errors=True)
    os.makedirs(out)
    for name in os.listdir(bridges):  # stunnel.exe, and bridge_unix.py with its modules
        if name == "stunnel.exe" or name.endswith(".py"):
            shutil.copy(os.path.join(bridges, name), out)
    xlog = open(os.path.join(out, "xvfb.log"), "w")
    try:
        env = dict(os.environ, DISPLAY=start_xvfb((640, 480), xlog))
        case_refused(out, env)
        case_running(out, env, "WM_CLOSE")
        case_running(out, env, "TerminateProcess")
    finally:
        end_all()
        xlog.close()
    print(f"bridge test: {failures} failed")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
