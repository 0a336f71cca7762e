"""Virtual displays for the session tests: starting one, screenshots, comparing pixels, and where
TigerVNC's viewer shows its window.
"""
import os
import re
import subprocess

from child_process import end_with_parent
from scripted import Failure, run

CUSTOMER_SIZE = (1024, 768)


TECHNICIAN_SIZE = (1280, 1024)


# The viewer: listening, lossless (ZRLE, full colour, no JPEG), no dialogs on a closed connection, and
# no input of its own that could move the customer's pointer while pixels are compared.
VIEWER_OPTIONS = ["-AutoSelect=0", "-PreferredEncoding=ZRLE", "-FullColor", "-NoJPEG", "-ViewOnly",
                  "-RemoteResize=0", "-ReconnectOnError=0", "-AlertOnFatalError=0"]


def start_xvfb(size, log, prefix=(), started=None):
    """A virtual display of size; its name (":N") is returned. prefix goes before the command (for
    "ip netns exec NS"); started, a list, gets the process."""
    read, write = os.pipe()
    process = subprocess.Popen([*prefix, "Xvfb", "-displayfd", str(write), "-screen", "0", f"{size[0]}x{size[1]}x24",
                                "-nolisten", "tcp"], pass_fds=(write,), stdout=log, stderr=subprocess.STDOUT,
                               preexec_fn=end_with_parent)
    if started is not None:
        started.append(process)
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

