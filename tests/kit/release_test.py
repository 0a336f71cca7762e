#!/usr/bin/env python3
"""The release kit as make_kit.py builds it from the Windows launcher: two builds give the same bytes;
the zip holds one folder with exactly the files deployers expect (no config subfolder), sorted, with
one time stamp and fixed permissions; SHA256SUMS matches; texts have Windows line ends; the
launcher is the one built, and its version resource carries the project's version.

  release_test.py MAKE_KIT VERSION LAUNCHER_EXE EXAMPLES_DIR TEXTS_DIR
Exit code 0 when every check passed, 1 otherwise.
"""
import hashlib
import os
import struct
import subprocess
import sys
import tempfile
import zipfile

EXPECTED = ["LICENSES.txt", "LIESMICH.txt", "README.txt", "SHA256SUMS", "launcher.exe", "stunnel1.conf",
            "stunnel2.conf", "stunnel3.conf", "stunnel4.conf", "technician/", "technician/README.txt",
            "technician/stunnel-techniker301.conf"]
STAMP = 1767225600  # 2026-01-01 00:00:00 UTC
failures = []


def check(condition, message):
    if not condition:
        failures.append(message)


def build(maker, version, launcher, examples, texts, out, stamp):
    subprocess.run([sys.executable, maker, "--version", version, "--launcher", launcher, "--examples", examples,
                    "--texts", texts, "--out", out, "--time", str(stamp)], check=True, stdout=subprocess.DEVNULL)
    with open(out, "rb") as f:
        return f.read()


def fixed_version(exe):
    """(major, minor, patch, build) from the VS_FIXEDFILEINFO of the version resource, or None."""
    at = exe.find(struct.pack("<I", 0xFEEF04BD))
    if at < 0:
        return None
    ms, ls = struct.unpack_from("<II", exe, at + 8)
    return (ms >> 16, ms & 0xFFFF, ls >> 16, ls & 0xFFFF)


def check_entries(z, top):
    infos = z.infolist()
    names = [i.filename for i in infos]
    check(names == sorted(names), f"entries not sorted: {names}")
    check(names == [top] + [top + n for n in EXPECTED], f"entries {names}, expected {EXPECTED} below {top}")
    check(not any("/config/" in n.lower() for n in names), "a config subfolder")
    check(len({i.date_time for i in infos}) == 1 and infos[0].date_time == (2026, 1, 1, 0, 0, 0),
          f"time stamps {sorted({i.date_time for i in infos})}")
    for i in infos:
        mode = i.external_attr >> 16
        want = 0o40755 if i.filename.endswith("/") else 0o100755 if i.filename.endswith(".exe") else 0o100644
        check(mode == want, f"{i.filename}: mode {oct(mode)}, expected {oct(want)}")


def check_files(z, top, version, launcher):
    files = {n[len(top):]: z.read(n) for n in z.namelist() if not n.endswith("/")}
    sums = dict(reversed(line.split("  ", 1)) for line in files["SHA256SUMS"].decode("ascii").splitlines())
    check(sorted(sums) == sorted(set(files) - {"SHA256SUMS"}), f"SHA256SUMS lists {sorted(sums)}")
    for name, digest in sums.items():
        check(hashlib.sha256(files.get(name, b"")).hexdigest() == digest, f"{name}: SHA256SUMS does not match")
    for name, data in files.items():
        if name.endswith((".txt", ".conf")):
            check(data.count(b"\n") == data.count(b"\r\n") > 0, f"{name}: not CR LF line ends")
            check(data.isascii() or data.startswith(b"\xef\xbb\xbf"), f"{name}: not ASCII and no byte order mark")
    check("Escape".encode() in files["LIESMICH.txt"] and "Sitzung beenden".encode() in files["LIESMICH.txt"],
          "LIESMICH.txt does not explain Escape and how a session ends")
    check(f"kit {version}:".encode() in files["README.txt"], "README.txt does not carry the version")
    with open(launcher, "rb") as f:
        check(files["launcher.exe"] == f.read(), "launcher.exe is not the one built")
    major, minor, patch = (int(p) for p in version.split("."))
    got = fixed_version(files["launcher.exe"])
    check(got == (major, minor, patch, 0), f"version resource {got}, expected {version}")
    check(version.encode("utf-16-le") in files["launcher.exe"], "the version text is not in the resource")


def main():
    if len(sys.argv) != 6:
        print(__doc__.strip().splitlines()[-2], file=sys.stderr)
        return 2
    maker, version, launcher, examples, texts = sys.argv[1:]
    with tempfile.TemporaryDirectory(prefix="brol-kit-") as work:
        first = build(maker, version, launcher, examples, texts, os.path.join(work, "a", "kit.zip"), STAMP)
        second = build(maker, version, launcher, examples, texts, os.path.join(work, "b", "kit.zip"), STAMP)
        check(first == second, "two builds gave different zips")
        later = build(maker, version, launcher, examples, texts, os.path.join(work, "c", "kit.zip"), STAMP + 86400)
        check(later != first, "the time stamp given is not used")
        with zipfile.ZipFile(os.path.join(work, "a", "kit.zip")) as z:
            top = f"fernwartung-{version}/"
            check_entries(z, top)
            check_files(z, top, version, launcher)
    for failure in failures:
        print(f"FAIL {failure}")
    if not failures:
        print(f"ok: the kit of {version} is complete and the same in two builds ({hashlib.sha256(first).hexdigest()})")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
