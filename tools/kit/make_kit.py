#!/usr/bin/env python3
"""Builds the release kit: one zip with one top-level folder fernwartung-VERSION holding the launcher,
the four client tunnel configurations, the technician's side, the texts for users and deployers, the
licence notes and SHA256SUMS.

The zip depends only on its inputs: entries sorted by name, every time stamp the given one, fixed
permissions, one compression level. Texts get Windows line ends (CR LF) and, when they hold letters
beyond ASCII, a UTF-8 byte order mark, so that every Windows editor shows them right.

  make_kit.py --version V --launcher EXE --examples DIR --texts DIR --out ZIP [--time EPOCH]
"""
import argparse
import hashlib
import os
import subprocess
import sys
import time
import zipfile

TEXT_SUFFIXES = (".txt", ".conf")


def windows_text(data, name):
    """data (UTF-8, any line ends) with CR LF line ends, and a byte order mark if it is not ASCII."""
    text = data.decode("utf-8").replace("\r\n", "\n")
    if name.endswith(".conf") and not text.isascii():
        # The tunnel program reads its configuration as bytes; a non-ASCII name would be misread.
        raise SystemExit(f"make_kit: {name} holds characters beyond ASCII")
    body = text.replace("\n", "\r\n").encode("utf-8")
    return body if text.isascii() else b"\xef\xbb\xbf" + body


def read(path):
    with open(path, "rb") as f:
        return f.read()


def kit_files(args):
    """{path inside the kit folder: bytes}, without SHA256SUMS."""
    files = {"launcher.exe": read(args.launcher)}
    for n in range(1, 5):
        files[f"stunnel{n}.conf"] = read(os.path.join(args.examples, f"stunnel{n}.conf"))
    technician = os.path.join(args.examples, "technician")
    for name in sorted(os.listdir(technician)):
        files[f"technician/{name}"] = read(os.path.join(technician, name))
    for name in ("LIESMICH.txt", "README.txt", "LICENSES.txt"):
        files[name] = read(os.path.join(args.texts, name)).replace(b"@VERSION@", args.version.encode())
    return {name: windows_text(data, name) if name.endswith(TEXT_SUFFIXES) else data
            for name, data in files.items()}


def sha256sums(files):
    """The sha256sum format: hash, two blanks, path; sorted by path; LF line ends, as the tool reads."""
    lines = [f"{hashlib.sha256(files[name]).hexdigest()}  {name}\n" for name in sorted(files)]
    return "".join(lines).encode("ascii")


def entry(name, stamp, mode):
    info = zipfile.ZipInfo(name, date_time=stamp)
    info.create_system = 3  # Unix, so that unpacking tools apply the permissions below
    info.external_attr = mode << 16
    if name.endswith("/"):
        info.external_attr |= 0x10  # the MS-DOS directory flag
    else:
        info.compress_type = zipfile.ZIP_DEFLATED
    return info


def write_zip(path, top, files, epoch):
    # Zip times are local times without a zone; UTC keeps them the same on every build machine. The
    # format cannot hold times before 1980.
    stamp = time.gmtime(max(epoch, 315532800))[:6]
    names = sorted({f"{top}/"} | {f"{top}/{d}/" for d in {os.path.dirname(n) for n in files} if d}
                   | {f"{top}/{n}" for n in files})
    temporary = path + ".tmp"
    with zipfile.ZipFile(temporary, "w") as z:
        for name in names:
            if name.endswith("/"):
                z.writestr(entry(name, stamp, 0o40755), b"")
            else:
                inner = name[len(top) + 1:]
                mode = 0o100755 if inner.endswith(".exe") else 0o100644
                z.writestr(entry(name, stamp, mode), files[inner], compresslevel=9)
    os.replace(temporary, path)


def default_time():
    """SOURCE_DATE_EPOCH, else the commit time of the checkout this script lies in, else 1980."""
    if os.environ.get("SOURCE_DATE_EPOCH", "").isdigit():
        return int(os.environ["SOURCE_DATE_EPOCH"])
    here = os.path.dirname(os.path.abspath(__file__))
    try:
        out = subprocess.run(["git", "-C", here, "log", "-1", "--format=%ct"], capture_output=True, text=True,
                             check=True, timeout=30).stdout.strip()
        return int(out)
    except (OSError, subprocess.SubprocessError, ValueError):
        return 0


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    for option in ("--version", "--launcher", "--examples", "--texts", "--out"):
        parser.add_argument(option, required=True)
    parser.add_argument("--time", type=int, help="time stamp of every entry (seconds since 1970); "
                        "default SOURCE_DATE_EPOCH, else the time of the last commit")
    args = parser.parse_args()
    if args.time is None:
        args.time = default_time()
    files = kit_files(args)
    files["SHA256SUMS"] = sha256sums(files)
    os.makedirs(os.path.dirname(os.path.abspath(args.out)), exist_ok=True)
    write_zip(args.out, f"fernwartung-{args.version}", files, args.time)
    print(f"{args.out}: {len(files)} files, sha256 {hashlib.sha256(read(args.out)).hexdigest()}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
