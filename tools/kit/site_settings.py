#!/usr/bin/env python3
"""The site settings of a kit that needs no editing: for each remote-maintenance ID 301 to 304 the
technician's host, port and certificate file, and an optional suffix of the kit's name.

    # comment lines start with # or ; and a comment may follow a value after a blank
    [kit]
    suffix = acme                 (optional: fernwartung-VERSION-acme.zip)
    client-ca = ca/client.crt     (optional, with client-ca-key: an existing CA for the kits'
    client-ca-key = ca/client.key  client certificates; without them one is made, see client_ca.py)
    [301]
    host = techniker301.example.com
    port = 443
    certificate = certs/techniker301.crt   (relative to this file's folder)
    [302] ... [304]               (all four IDs)

The file is UTF-8, with or without a byte order mark. Every mistake is refused with the file and line
that holds it (a section's missing key names the section's line): a missing or unreadable
certificate, one that is not a PEM certificate, one that holds a private key, one not yet valid or
already expired, not made for the host or whose extended key usage lacks server authentication, two
file names that differ only in case, a host that is neither a host name nor an address, a port out of
range, a client CA that is not a CA or whose key does not match. The checks use the openssl program.

  site_settings.py check FILE                 checks and prints each certificate's subject and days to expiry
  site_settings.py prove FILE [--port N]      starts each filled configuration once in the real tunnel
                                     program (stunnel4); it listens on 127.0.0.1:5500 (or N), so run
                                     it in a private network namespace
Exit code 0 when the file is sound (and every configuration was accepted), 1 otherwise.
"""
import calendar
import ipaddress
import os
import re
import shutil
import socket
import subprocess
import sys
import tempfile
import time

IDS = (301, 302, 303, 304)
KEYS = ("host", "port", "certificate")
WARN_DAYS = 30
HOST_LABEL = re.compile(r"(?!-)[A-Za-z0-9-]{1,63}(?<!-)")
CERT_NAME = re.compile(r"[A-Za-z0-9][A-Za-z0-9._-]*\.(crt|pem|cer)")
# A comment after a value starts with ";" or "#" after a blank; names and paths here hold neither.
INLINE_COMMENT = re.compile(r"\s+[;#].*$")
SUFFIX = re.compile(r"[A-Za-z0-9][A-Za-z0-9-]{0,31}")
# What the tunnel program needs here to run a configuration once: in the foreground, no pid file, its
# log on standard error.
RUN_HERE = ["foreground = yes", "pid =", "syslog = no", "debug = notice"]
WINDOWS_ONLY = {"taskbar", "service", "iconactive", "iconerror", "iconidle"}


class SiteError(Exception):
    """The refusals of one settings file, each "FILE:LINE: message"."""

    def __init__(self, problems):
        super().__init__("\n".join(problems))
        self.problems = problems


class Certificate:
    def __init__(self, path, name, data, subject, not_after):
        self.path, self.name, self.data, self.subject, self.not_after = path, name, data, subject, not_after

    def days_left(self, now):
        return int((self.not_after - now) // 86400)

    def expiry_date(self):
        return time.strftime("%Y-%m-%d", time.gmtime(self.not_after))


class Entry:
    """The settings of one ID: host, port, certificate, and the line of each."""

    def __init__(self, number, line):
        self.id, self.line, self.values, self.lines = number, line, {}, {}
        self.certificate = None

    def is_address(self):
        return is_ip(self.values["host"])


class Site:
    def __init__(self, path):
        self.path, self.suffix, self.entries = path, "", {}
        self.client_ca = None  # (certificate, key) paths of an existing client CA, or None
        self.kit_lines = {}    # [kit] key -> line number


def is_ip(host):
    try:
        ipaddress.ip_address(host)
        return True
    except ValueError:
        return False


def host_problem(host):
    """None for a host name or an IPv4/IPv6 address, else why not."""
    if is_ip(host):
        return None
    if not host or len(host) > 253:
        return f"host '{host}' is not a host name or address"
    labels = host.rstrip(".").split(".")
    if not all(HOST_LABEL.fullmatch(label) for label in labels):
        return f"host '{host}' is not a host name or address"
    if labels[-1].isdigit():
        return f"host '{host}' is not a host name or address (a name's last part is not a number)"
    return None


_openssl_answers = {}


def openssl(*args, data=None):
    """openssl's answer for these arguments and input; asked once per process (a certificate is read
    and checked the same way every time)."""
    key = (args, data)
    if key not in _openssl_answers:
        _openssl_answers[key] = subprocess.run(["openssl", *args], input=data, capture_output=True, timeout=30)
    return _openssl_answers[key]


USAGES = {"serverAuth": "TLS Web Server Authentication", "clientAuth": "TLS Web Client Authentication"}


def openssl_time(text):
    return calendar.timegm(time.strptime(text.strip(), "%b %d %H:%M:%S %Y GMT"))


def certificate_fields(path, where, data, now, usage):
    """The Certificate of the PEM data, refused (SiteError naming where) when openssl cannot read it,
    when it is not valid at now, or when its extended key usage, if it has one, lacks usage."""
    out = openssl("x509", "-noout", "-subject", "-startdate", "-enddate", "-nameopt", "RFC2253", "-ext",
                  "extendedKeyUsage", data=data)
    if out.returncode != 0:
        raise SiteError([f"{where}: {path} is not a PEM certificate (openssl cannot read it)"])
    text = out.stdout.decode("utf-8", "replace")
    fields = dict(line.split("=", 1) for line in text.splitlines() if "=" in line)
    not_before, not_after = openssl_time(fields["notBefore"]), openssl_time(fields["notAfter"])
    certificate = Certificate(path, os.path.basename(path), data, fields["subject"].strip(), not_after)
    if not_after <= now:
        raise SiteError([f"{where}: {path} expired on {certificate.expiry_date()}"])
    if not_before > now:
        since = time.strftime("%Y-%m-%d %H:%M UTC", time.gmtime(not_before))
        raise SiteError([f"{where}: {path} is not valid yet (from {since}); the tunnel would refuse it until then"])
    if "X509v3 Extended Key Usage" in text and USAGES[usage] not in text:
        raise SiteError([f"{where}: {path} is not for {USAGES[usage].lower()} (its extended key usage lacks "
                         f"{usage}); the tunnel would refuse it"])
    return certificate


def client_ca_problems(site, now):
    """What is wrong with the existing client CA the settings name (certificate and key), or []."""
    certificate, key = site.client_ca
    where = f"{site.path}:{site.kit_lines['client-ca']}"
    try:
        with open(certificate, "rb") as f:
            data = f.read()
        if data.count(b"-----BEGIN CERTIFICATE-----") != 1 or b"PRIVATE KEY" in data:
            return [f"{where}: {certificate} is not one PEM certificate"]
        certificate_fields(certificate, where, data, now, "clientAuth")
    except OSError as error:
        return [f"{where}: cannot read the client CA {certificate}: {error.strerror}"]
    except SiteError as error:
        return error.problems
    text = openssl("x509", "-noout", "-ext", "basicConstraints", data=data).stdout.decode("utf-8", "replace")
    if "CA:TRUE" not in text:
        return [f"{where}: {certificate} is not a CA certificate (basicConstraints CA:TRUE)"]
    mine = openssl("x509", "-noout", "-pubkey", data=data).stdout
    theirs = subprocess.run(["openssl", "pkey", "-pubout", "-in", key], capture_output=True, timeout=30)
    if theirs.returncode != 0 or theirs.stdout != mine:
        return [f"{site.path}:{site.kit_lines['client-ca-key']}: {key} is not the private key of {certificate}"]
    return []


def read_certificate(path, where, host, now):
    """The certificate at path checked for host; raises SiteError naming where (FILE:LINE)."""
    try:
        with open(path, "rb") as f:
            data = f.read()
    except OSError as error:
        raise SiteError([f"{where}: cannot read the certificate {path}: {error.strerror}"])
    if b"PRIVATE KEY" in data:
        raise SiteError([f"{where}: {path} holds a private key; give only the certificate (the key stays "
                         f"with the technician)"])
    count = data.count(b"-----BEGIN CERTIFICATE-----")
    if count != 1:
        what = "not a PEM certificate" if count == 0 else f"{count} certificates, not one"
        raise SiteError([f"{where}: {path} is {what}"])
    certificate = certificate_fields(path, where, data, now, "serverAuth")
    check = ["-checkip" if is_ip(host) else "-checkhost", host]
    matched = openssl("x509", "-noout", *check, data=data).stdout.decode("utf-8", "replace")
    if "does match" not in matched:
        raise SiteError([f"{where}: {path} was not made for {host} ({certificate.subject}); the tunnel "
                         f"checks the host's name and would refuse it"])
    return certificate


def parse(path):
    """Site of the settings file; raises SiteError with every line that is wrong."""
    try:
        # utf-8-sig: a byte order mark, as Windows editors write one, is no part of the first line.
        with open(path, encoding="utf-8-sig") as f:
            lines = f.read().splitlines()
    except (OSError, UnicodeDecodeError) as error:
        raise SiteError([f"{path}: cannot read the settings: {error}"])
    site, problems, section, section_line = Site(path), [], None, 0
    for number, raw in enumerate(lines, 1):
        line = INLINE_COMMENT.sub("", raw).strip()
        where = f"{path}:{number}"
        if not line or line[0] in "#;":
            continue
        heading = re.fullmatch(r"\[\s*(.*?)\s*\]", line)
        if heading:
            section, section_line = heading.group(1), number
            if section.isdigit() and int(section) in IDS:
                if int(section) in site.entries:
                    problems.append(f"{where}: ID {section} appears a second time")
                site.entries[int(section)] = Entry(int(section), number)
            elif section != "kit":
                problems.append(f"{where}: unknown section [{section}] (expected [kit] or [301] to [304])")
            continue
        key, sep, value = line.partition("=")
        key, value = key.strip().lower(), value.strip()
        if not sep:
            problems.append(f"{where}: not a 'key = value' line")
        elif section == "kit" and key == "suffix":
            if not SUFFIX.fullmatch(value):
                problems.append(f"{where}: suffix '{value}' must be 1 to 32 letters, digits and hyphens")
            site.suffix = value
        elif section == "kit" and key in ("client-ca", "client-ca-key"):
            site.kit_lines[key] = number
            site.client_ca = site.client_ca or ["", ""]
            site.client_ca[key == "client-ca-key"] = os.path.join(os.path.dirname(os.path.abspath(path)), value)
        elif section is not None and section.isdigit() and int(section) in site.entries and key in KEYS:
            entry = site.entries[int(section)]
            entry.values[key], entry.lines[key] = value, number
        elif section is None:
            problems.append(f"{where}: '{key}' before the first section")
        else:
            problems.append(f"{where}: unknown key '{key}' in [{section}]")
    for number in IDS:
        if number not in site.entries:
            problems.append(f"{path}: no section [{number}]: the kit needs all four IDs (301 to 304)")
    for entry in site.entries.values():
        missing = [k for k in KEYS if k not in entry.values]
        if missing:
            problems.append(f"{path}:{entry.line}: [{entry.id}] lacks {', '.join(missing)}")
    if site.client_ca and not all(site.client_ca):
        problems.append(f"{path}: [kit] names client-ca and client-ca-key together or neither")
    if problems:
        raise SiteError(problems)
    return site


def check(path, now=None):
    """The parsed and checked Site, certificates read; raises SiteError with every problem."""
    now = time.time() if now is None else now
    site, problems, names = parse(path), [], {}
    folder = os.path.dirname(os.path.abspath(path))
    for entry in sorted(site.entries.values(), key=lambda e: e.id):
        where = lambda key: f"{path}:{entry.lines[key]}"  # noqa: E731
        host, port = entry.values["host"], entry.values["port"]
        problem = host_problem(host)
        if problem:
            problems.append(f"{where('host')}: {problem}")
        if not (port.isascii() and port.isdigit() and 1 <= int(port) <= 65535):
            problems.append(f"{where('port')}: port '{port}' is not a number from 1 to 65535")
        file = os.path.join(folder, entry.values["certificate"])
        name = os.path.basename(file)
        if not CERT_NAME.fullmatch(name):
            problems.append(f"{where('certificate')}: certificate file name '{name}' must be letters, digits, "
                            f"'.', '-', '_' ending in .crt, .pem or .cer")
            continue
        if problem:
            continue
        try:
            entry.certificate = read_certificate(file, where("certificate"), host, now)
        except SiteError as error:
            problems.extend(error.problems)
            continue
        if name in names and names[name] != entry.certificate.data:
            problems.append(f"{where('certificate')}: another certificate of the same name {name} is used "
                            f"for another ID; the kit holds one file per name")
        names[name] = entry.certificate.data
        clash = [other for other in names if other != name and other.lower() == name.lower()]
        if clash:
            problems.append(f"{where('certificate')}: {name} and {clash[0]} differ only in case; Windows keeps "
                            f"one file of the two: name them apart")
    if site.client_ca:
        problems.extend(client_ca_problems(site, now))
    if problems:
        raise SiteError(problems)
    return site


def summary_lines(site, now):
    """One line per ID: host, port, certificate file, subject, expiry and days left, with a warning."""
    lines = []
    for entry in sorted(site.entries.values(), key=lambda e: e.id):
        c = entry.certificate
        days = c.days_left(now)
        warning = f"  WARNING: expires in under {WARN_DAYS} days" if days < WARN_DAYS else ""
        lines.append(f"{entry.id}  {entry.values['host']}:{entry.values['port']}  {c.name}  subject {c.subject}, "
                     f"expires {c.expiry_date()} ({days} days){warning}")
    return lines


def fill(template, entry, client):
    """The example client configuration of the ID, filled with the site's host, port and certificate,
    and the kit's own certificate and key (client: their name without .crt and .key)."""
    out, skipping = [], False
    host, port = entry.values["host"], entry.values["port"]
    for line in template.splitlines():
        if line.startswith("; To adapt"):
            skipping = True
        if skipping:
            if line.strip():
                continue
            skipping = False
            out.append("; Filled in for the site by scripts/release --site: host, port and certificate below.")
        key = line.partition("=")[0].strip().lower() if "=" in line and not line.startswith(";") else ""
        if key == "connect":
            line = f"connect = {host}:{port}"
        elif key == "checkhost":
            line = f"checkIP = {host}" if entry.is_address() else f"checkHost = {host}"
        elif key == "cafile":
            line = f"CAfile = {entry.certificate.name}"
        out.append(line)
        if key == "cafile":
            out += ["; This kit's own certificate and key: the technician's server lets in only kits whose",
                    "; certificate the site's client CA issued and has not revoked (see README.txt).",
                    f"cert = {client}.crt", f"key = {client}.key"]
    return "\n".join(out) + "\n"


def filled_files(site, examples, client):
    """{name in the kit: bytes}: the four filled client configurations, the technicians' certificates
    and the kit's own certificate and key (client: a client_ca.KitCertificate)."""
    files = {client.name + ".crt": client.certificate, client.name + ".key": client.key}
    for entry in site.entries.values():
        with open(os.path.join(examples, f"stunnel{entry.id - 300}.conf"), encoding="ascii") as f:
            files[f"stunnel{entry.id - 300}.conf"] = fill(f.read(), entry, client.name).encode("ascii")
        files[entry.certificate.name] = entry.certificate.data
    return files


def throwaway_client(work):
    """A kit certificate made only so that the tunnel program finds the files the configurations name
    (the real one is issued once the build goes ahead)."""
    import client_ca
    key, crt = os.path.join(work, "throwaway.key"), os.path.join(work, "throwaway.crt")
    subprocess.run(["openssl", "req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:P-256", "-nodes",
                    "-days", "1", "-subj", "/CN=throwaway", "-keyout", key, "-out", crt],
                   check=True, capture_output=True, timeout=30)
    with open(crt, "rb") as c, open(key, "rb") as k:
        return client_ca.KitCertificate("fernwartung-throwaway", c.read(), k.read(), b"", b"")


def run_here(config, port):
    """The filled configuration as the Linux tunnel program runs it once: Windows-only options out,
    name resolution delayed to the first connection (there may be no network here), the local end
    moved to port when given."""
    out = list(RUN_HERE)
    for line in config.splitlines():
        key = line.partition("=")[0].strip().lower() if "=" in line and not line.startswith(";") else ""
        if key in WINDOWS_ONLY:
            continue
        if key == "accept" and port:
            line = f"accept = 127.0.0.1:{port}"
        out.append(line)
    out.append("delay = yes")
    return "\n".join(out) + "\n"


def prove(site, examples, port=None, program=None):
    """Starts each filled configuration once in the real tunnel program; returns the problems."""
    program = program or shutil.which("stunnel4") or shutil.which("stunnel")
    if program is None:
        return ["the tunnel program stunnel4 is not installed"]
    problems = []
    with tempfile.TemporaryDirectory(prefix="fernwartung-site-") as work:
        files = filled_files(site, examples, throwaway_client(work))
        for name, data in files.items():
            with open(os.path.join(work, name), "wb") as f:
                f.write(data)
        for number in IDS:
            name = f"stunnel{number - 300}.conf"
            local = port or 5500
            with open(os.path.join(work, "run.conf"), "w") as f:
                f.write(run_here(files[name].decode("ascii"), port))
            problem = start_once(program, work, local)
            if problem:
                problems.append(f"{name} (ID {number}): the tunnel program refused it: {problem}")
            else:
                print(f"ok {name}: accepted by {os.path.basename(program)}, listening on 127.0.0.1:{local}")
    return problems


def port_in_use(port):
    with socket.socket() as s:
        try:
            s.bind(("127.0.0.1", port))
            return False
        except OSError:
            return True


def start_once(program, work, port):
    """None when the tunnel program runs run.conf of work and listens on port, else what went wrong
    (its error lines)."""
    if port_in_use(port):
        return f"127.0.0.1:{port} is in use by another program here"
    with open(os.path.join(work, "run.log"), "w+") as log:
        process = subprocess.Popen([program, "run.conf"], cwd=work, stdin=subprocess.DEVNULL, stdout=log,
                                   stderr=subprocess.STDOUT)
        try:
            deadline = time.monotonic() + 10
            while time.monotonic() < deadline:
                if process.poll() is not None:
                    log.seek(0)
                    lines = [line.strip() for line in log.read().splitlines()]
                    errors = [line for line in lines if line.startswith("[!]")] or lines[-4:]
                    return " / ".join(errors)
                try:
                    socket.create_connection(("127.0.0.1", port), timeout=1).close()
                    return None
                except OSError:
                    time.sleep(0.05)
            return f"nothing listens on 127.0.0.1:{port} after 10 s"
        finally:
            if process.poll() is None:
                process.terminate()
                process.wait(10)


def main():
    args = sys.argv[1:]
    if len(args) not in (2, 4) or args[0] not in ("check", "prove") or (len(args) == 4 and args[2] != "--port"):
        print("usage: site_settings.py check FILE | site_settings.py prove FILE [--port N]", file=sys.stderr)
        return 2
    now = time.time()
    try:
        site = check(args[1], now)
    except SiteError as error:
        for problem in error.problems:
            print(f"refused: {problem}", file=sys.stderr)
        return 1
    if args[0] == "check":
        for line in summary_lines(site, now):
            print(line)
    else:
        examples = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "examples")
        problems = prove(site, examples, int(args[3]) if len(args) == 4 else None)
        for problem in problems:
            print(f"refused: {problem}", file=sys.stderr)
        return 1 if problems else 0
    return 0


if __name__ == "__main__":
    sys.exit(main())
