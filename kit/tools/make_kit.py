#!/usr/bin/env python3
"""Builds the two release kits, each one zip with one top-level folder of its own name:

  fernwartung-VERSION[-SUFFIX].zip            the customer kit: only what goes on the PC (the
                                               launcher, the four client tunnel configurations, the
                                               texts for the person at the PC and for deployers,
                                               licence notes; with --site the certificates too)
  fernwartung-techniker-VERSION[-SUFFIX].zip  the technician kit: the tunnel server configuration,
                                               how to run the viewer in listen mode, how to make and
                                               renew the certificate; with --site one server
                                               configuration per ID (for Linux and for Windows) that
                                               lets in only the site's kits and hands its sessions
                                               to the technician's console, the client CA and its
                                               CRL, the systemd units, the console for Linux and for
                                               Windows with its settings, and a start script each

Each holds SHA256SUMS. A zip depends only on its inputs: entries sorted by name, every time stamp the
given one, fixed permissions, one compression level. Texts get Windows line ends (CR LF) and, when
they hold letters beyond ASCII, a UTF-8 byte order mark, so that every Windows editor shows them right.
With --site (see site_settings.py) the client configurations are filled in for the site, the certificates lie
beside them with the kit's own certificate and key (issued by client_ca.py into the --client folder)
and README.txt lists them with their expiry. What goes in comes from the kit's folders beside this
one: customer/, technician/ and, for a site, technician-site/.

  make_kit.py --version V --launcher EXE --out-dir DIR [--time EPOCH]
              [--site FILE --client DIR --console-linux FILE --console-windows FILE [--technician-only]]
              [--now EPOCH]
"""
import argparse
import hashlib
import os
import subprocess
import sys
import time
import zipfile

import client_ca
import site_settings as site_module

TEXT_SUFFIXES = (".txt", ".conf", ".ini", ".cmd")
# Files of the technician kit that are programs on Linux (the zip gives them the executable bit).
LINUX_PROGRAMS = ("technician", "start-linux.sh")


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


def customer_name(version, suffix):
    return f"fernwartung-{version}" + (f"-{suffix}" if suffix else "")


def technician_name(version, suffix):
    return f"fernwartung-techniker-{version}" + (f"-{suffix}" if suffix else "")


def technician_connect(number):
    """(address, what listens there) to which the tunnel server of an ID hands each admitted session:
    the one place that says where the technician's side takes a session over."""
    return f"127.0.0.1:{5600 + number - 300}", "the technician's console"


def site_text(site, now, client):
    """The README.txt part that says for which site the kit is filled in (or that it is not)."""
    if site is None:
        return ("This is the example kit: stunnel1.conf to stunnel4.conf name example hosts and the\n"
                "certificate files techniker301.crt to techniker304.crt, which you add. Build a kit that needs\n"
                "no editing with \"scripts/release --site FILE\" (see \"Filling in for the site\" below).\n")
    day = time.strftime("%Y-%m-%d", time.gmtime(now))
    lines = [f"Filled in for the site on {day}: the four configurations connect to the hosts below and",
             "pin the certificate files beside them (days until expiry counted from that day):", ""]
    lines += ["  " + line for line in site_module.summary_lines(site, now)]
    lines += ["", "A certificate that expires needs a new kit: see the technician kit's README.txt.", "",
              f"This kit's own certificate and key: {client.name}.crt and {client.name}.key (subject",
              f"CN={client.name}). The technicians' tunnel servers let in only kits with a certificate",
              "of the site's client CA that has not been revoked; the key is what proves it. Anyone",
              "holding this kit (or a copy of that key) can reach the technicians: hand it only to",
              "the PCs it is meant for. A kit that went astray is revoked by its name with",
              f"\"scripts/release --site FILE --revoke {client.name}\", which builds a new technician",
              "kit; once its client-ca.crl is on the technicians' servers, this kit is refused."]
    return "\n".join(lines) + "\n"


def fill_text(data, args, site, client=None):
    suffix = site.suffix if site else ""
    for key, value in (("@VERSION@", args.version), ("@CUSTOMER_KIT@", customer_name(args.version, suffix) + ".zip"),
                       ("@TECHNICIAN_KIT@", technician_name(args.version, suffix) + ".zip")):
        data = data.replace(key.encode(), value.encode())
    if b"@SITE@" in data:
        data = data.replace(b"@SITE@\n", site_text(site, args.now, client).encode())
    return underlined(data)


def underlined(data):
    """data with each title's underline (a line of only "=" or "-" under a text line) as long as the
    title, which a filled-in version number may have made shorter or longer."""
    lines = data.split(b"\n")
    for i in range(1, len(lines)):
        line, title = lines[i].rstrip(b"\r"), lines[i - 1].rstrip(b"\r")
        if len(line) >= 3 and len(set(line)) == 1 and line[:1] in (b"=", b"-") and title.strip():
            lines[i] = line[:1] * len(title.decode("utf-8")) + lines[i][len(line):]
    return b"\n".join(lines)


def finish(files):
    return {name: windows_text(data, name) if name.endswith(TEXT_SUFFIXES) else data
            for name, data in files.items()}


def customer_files(args, site, client):
    """{path inside the customer kit's folder: bytes}, without SHA256SUMS."""
    files = {"launcher.exe": read(args.launcher)}
    for n in range(1, 5):
        files[f"stunnel{n}.conf"] = read(os.path.join(site_module.CUSTOMER, f"stunnel{n}.conf"))
    if site is not None:
        files.update(site_module.filled_files(site, client))
    for name in ("LIESMICH.txt", "README.txt", "LICENSES.txt"):
        files[name] = fill_text(read(os.path.join(site_module.CUSTOMER, name)), args, site, client)
    return finish(files)


def technician_files(args, site, client):
    """{path inside the technician kit's folder: bytes}, without SHA256SUMS."""
    if site is not None:
        return finish(site_technician_files(args, site, client))
    technician = site_module.TECHNICIAN
    files = {name: fill_text(read(os.path.join(technician, name)), args, site)
             for name in sorted(os.listdir(technician))}
    return finish(files)


LINUX_ONLY = ["; Linux only (the Windows tunnel program has neither option): stays in the foreground under",
              "; the service manager or in a terminal, and keeps its process id in a file.",
              "foreground = yes", "pid = stunnel-techniker@ID@.pid"]


def server_configuration(template, entry, args, site, windows):
    """The tunnel server configuration of one ID from the template, for Linux or for Windows."""
    stem = os.path.splitext(entry.certificate.name)[0]
    connect, what = technician_connect(entry.id)
    text = template.replace("@PLATFORM@", "" if windows else "\n".join(LINUX_ONLY))
    for key, value in (("@ID@", str(entry.id)), ("@N@", str(entry.id - 300)), ("@HOST@", entry.values["host"]),
                       ("@PORT@", entry.values["port"]), ("@CERT@", entry.certificate.name), ("@KEY@", stem + ".key"),
                       ("@CONNECT@", connect), ("@CONNECT_WHAT@", what)):
        text = text.replace(key, value)
    return fill_text(text.replace("\n\n\n", "\n\n").encode("ascii"), args, site)


def site_technician_files(args, site, client):
    """The technician kit of a site: per ID a server configuration for Linux and one for Windows, the
    systemd unit, the client CA and its CRL, the README with the IDs' table."""
    folder = site_module.TECHNICIAN_SITE
    template = read(os.path.join(folder, "stunnel-techniker.conf")).decode("ascii")
    files = {client_ca.CA_FILE: client.ca, client_ca.CRL_FILE: client.crl}
    rows = []
    for entry in sorted(site.entries.values(), key=lambda e: e.id):
        files[f"stunnel-techniker{entry.id}.conf"] = server_configuration(template, entry, args, site, False)
        files[f"stunnel-techniker{entry.id}-windows.conf"] = server_configuration(template, entry, args, site, True)
        stem = os.path.splitext(entry.certificate.name)[0]
        rows.append(f"  {entry.id}  {entry.values['host']}:{entry.values['port']}  {entry.certificate.name} and "
                    f"{stem}.key  console {technician_connect(entry.id)[0].rpartition(':')[2]}")
    files["fernwartung-techniker@.service"] = read(os.path.join(folder, "fernwartung-techniker@.service"))
    files.update(console_files(args, site, folder))
    readme = read(os.path.join(folder, "README.txt")).replace(b"@IDS@", "\n".join(rows).encode("ascii"))
    files["README.txt"] = fill_text(readme, args, site)
    return files


# Where TigerVNC's installer puts its viewer on Windows; on Linux the viewer is on the search path.
WINDOWS_VIEWER = r"C:\Program Files\TigerVNC\vncviewer.exe"


def console_settings(site, windows):
    """The console's settings for the site: the IDs' ports as the tunnel servers hand sessions over."""
    ids = [f"{entry.id} = {technician_connect(entry.id)[0].rpartition(':')[2]}"
           for entry in sorted(site.entries.values(), key=lambda e: e.id)]
    viewer = f'"{WINDOWS_VIEWER}"' if windows else "vncviewer"
    lines = ["# The technician's console, filled in for the site by scripts/release --site: each ID's tunnel",
             "# server hands its sessions to the port below on 127.0.0.1, and every session gets a viewer of",
             "# its own. A wrong line stops the console with its number.", "",
             "[console]", "# The VNC viewer (TigerVNC's), started once per session in its normal, connecting mode.",
             f"viewer = {viewer}",
             "# Its arguments; {port} becomes the one-time port on 127.0.0.1 the console opens for it alone.",
             "arguments = -ReconnectOnError=0 -AlertOnFatalError=0 127.0.0.1::{port}",
             "# One line per event, beside this file.", "journal = technician-journal.log",
             "# Seconds a started viewer may take to connect before its session is ended.", "viewer_wait = 20", "",
             "[ids]", *ids]
    return ("\n".join(lines) + "\n").encode("ascii")


def console_files(args, site, folder):
    """The console (both builds), its settings for Linux and Windows, its user unit and the start scripts."""
    ids = " ".join(str(entry.id) for entry in sorted(site.entries.values(), key=lambda e: e.id))
    files = {"technician": read(args.console_linux), "technician.exe": read(args.console_windows),
             "technician.ini": console_settings(site, False), "technician-windows.ini": console_settings(site, True),
             "fernwartung-konsole.service": read(os.path.join(folder, "fernwartung-konsole.service"))}
    for name in ("start-linux.sh", "start-windows.cmd"):
        files[name] = read(os.path.join(folder, name)).replace(b"@IDS@", ids.encode("ascii"))
    return files


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
                mode = 0o100755 if inner.endswith(".exe") or inner in LINUX_PROGRAMS else 0o100644
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
    for option in ("--version", "--launcher", "--out-dir"):
        parser.add_argument(option, required=True)
    parser.add_argument("--time", type=int, help="time stamp of every entry (seconds since 1970); "
                        "default SOURCE_DATE_EPOCH, else the time of the last commit")
    parser.add_argument("--site", help="the site settings (site_settings.py) to fill the configurations with")
    parser.add_argument("--now", type=float, help="the time certificates are checked against (default: now)")
    parser.add_argument("--client", help="with --site: the folder client_ca.py issue wrote (the kit's own "
                        "certificate and key, the client CA and its CRL)")
    parser.add_argument("--technician-only", action="store_true", help="build only the technician kit")
    parser.add_argument("--console-linux", help="with --site: the technician's console built for Linux")
    parser.add_argument("--console-windows", help="with --site: the technician's console built for Windows")
    args = parser.parse_args()
    if bool(args.site) != bool(args.client):
        parser.error("--site and --client go together")
    if args.site and not (args.console_linux and args.console_windows):
        parser.error("--site needs --console-linux and --console-windows (the technician kit carries the console)")
    if args.time is None:
        args.time = default_time()
    if args.now is None:
        args.now = time.time()
    site = None
    if args.site:
        try:
            site = site_module.check(args.site, args.now)
        except site_module.SiteError as error:
            for problem in error.problems:
                print(f"refused: {problem}", file=sys.stderr)
            return 1
    client = client_ca.load(args.client) if args.client else None
    suffix = site.suffix if site else ""
    os.makedirs(args.out_dir, exist_ok=True)
    kits = [(technician_name(args.version, suffix), technician_files(args, site, client))]
    if not args.technician_only:
        kits.insert(0, (customer_name(args.version, suffix), customer_files(args, site, client)))
    for top, files in kits:
        files["SHA256SUMS"] = sha256sums(files)
        out = os.path.join(args.out_dir, top + ".zip")
        write_zip(out, top, files, args.time)
        print(f"{out}: {len(files)} files, sha256 {hashlib.sha256(read(out)).hexdigest()}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
