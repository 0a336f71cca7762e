#!/usr/bin/env python3
"""The site settings of scripts/release --site (kit/tools/site_settings.py and make_kit.py --site):
every mistake in one table, each refused alone and with the line that holds it; a sound file gives a
kit whose four configurations keep the shipped promises with the site's hosts, ports and
certificates beside them, and a README.txt that lists subjects and expiry with a warning under 30
days; both site kits keep the rules of every kit and neither holds the client CA's key (which only
its owner may read); a file with a byte order mark and comments after values reads as the plain one;
scripts/release (in a copy of the tree) explains itself, leaves no kit after a refusal and revokes a
kit; each filled configuration is accepted by the real tunnel program, and one that cannot listen
is refused.

  site_test.py SOURCE_DIR
Exit code 0 when every check passed, 1 otherwise, 77 (skipped) when stunnel4 or openssl is missing.
"""
import argparse
import os
import shutil
import socket
import subprocess
import sys
import tempfile
import time
import zipfile

SOURCE = ""  # the source tree, from the command line
ROOT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..")
sys.path[:0] = [os.path.join(ROOT, "tests", "support"), os.path.join(ROOT, "kit", "tools")]
import site_settings  # noqa: E402
from kits import common_problems  # noqa: E402
from scripted import Failure, free_port, write  # noqa: E402
from tunnels import check_client, options as config_options  # noqa: E402

failures = []
NOW = time.time() + 600  # checks run as of a little after the certificates the test makes


def check(condition, message):
    if not condition:
        failures.append(message)


def certificate(work, stem, subject_alt, days=400, expired=False, key_inside=False, extra=(), future=False):
    """A self-signed P-256 certificate in work/stem.crt for subject_alt ("DNS:name" or "IP:addr"),
    with more -addext values in extra; future: valid only from two days on."""
    crt, key = os.path.join(work, stem + ".crt"), os.path.join(work, stem + ".key")
    if future:
        later(work, stem, subject_alt)
    elif expired:
        csr = os.path.join(work, stem + ".csr")
        subprocess.run(["openssl", "req", "-new", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:P-256", "-nodes",
                        "-subj", f"/CN={subject_alt.split(':', 1)[1]}", "-keyout", key, "-out", csr],
                       check=True, capture_output=True, timeout=30)
        subprocess.run(["openssl", "x509", "-req", "-in", csr, "-signkey", key, "-days", "-1", "-out", crt],
                       check=True, capture_output=True, timeout=30)
    else:
        more = [a for value in extra for a in ("-addext", value)]
        subprocess.run(["openssl", "req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:P-256", "-nodes",
                        "-days", str(days), "-subj", f"/CN={subject_alt.split(':', 1)[1]}",
                        "-addext", f"subjectAltName={subject_alt}", *more, "-keyout", key, "-out", crt],
                       check=True, capture_output=True, timeout=30)
    if key_inside:
        with open(crt, "ab") as out, open(key, "rb") as k:
            out.write(k.read())
    return stem + ".crt"


def later(work, stem, subject_alt):
    """work/stem.crt self-signed by openssl's "ca" command, valid from two days after now."""
    db = os.path.join(work, stem + "-db")
    os.makedirs(db)
    write(os.path.join(db, "index.txt"), "")
    write(os.path.join(db, "serial"), "01\n")
    write(os.path.join(db, "ca.cnf"), "[ca]\ndefault_ca = x\n[x]\ndatabase = index.txt\nserial = serial\n"
          "new_certs_dir = .\ndefault_md = sha256\npolicy = p\ncopy_extensions = copy\n[p]\ncommonName = supplied\n")
    key, request = os.path.join(work, stem + ".key"), os.path.join(db, "request.csr")
    subprocess.run(["openssl", "req", "-new", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:P-256", "-nodes",
                    "-subj", f"/CN={subject_alt.split(':', 1)[1]}", "-addext", f"subjectAltName={subject_alt}",
                    "-keyout", key, "-out", request], check=True, capture_output=True, timeout=30)
    stamp = lambda days: time.strftime("%y%m%d%H%M%SZ", time.gmtime(NOW + days * 86400))  # noqa: E731
    subprocess.run(["openssl", "ca", "-batch", "-config", "ca.cnf", "-selfsign", "-keyfile", key, "-in", request,
                    "-startdate", stamp(2), "-enddate", stamp(30), "-notext",
                    "-out", os.path.join(work, stem + ".crt")],
                   cwd=db, check=True, capture_output=True, timeout=30)


def settings(values, suffix="acme", drop=(), extra=(), kit=()):
    """The text of a settings file and {(section, key): line number}; values: {id: {key: value}}; kit:
    more lines of [kit]."""
    lines, where = ["# site settings of the test", "[kit]", f"suffix = {suffix}"], {}
    where[("kit", "suffix")] = 3
    for line in kit:
        lines.append(line)
        where[("kit", line.partition(" =")[0])] = len(lines)
    for number in (301, 302, 303, 304):
        if number in drop:
            continue
        lines.append(f"[{number}]")
        where[(number, None)] = len(lines)
        for key in ("host", "port", "certificate"):
            if (number, key) in drop:
                continue
            lines.append(f"{key} = {values[number][key]}")
            where[(number, key)] = len(lines)
    lines.extend(extra)
    return "\n".join(lines) + "\n", where


def sound_values(names):
    return {n: {"host": f"t{n}.example.com", "port": "443", "certificate": names[n]} for n in (301, 302, 303)} | \
        {304: {"host": "127.0.0.1", "port": "8443", "certificate": names[304]}}


def refusals(work, names):
    """One row per mistake: (label, change to the sound values or other edit, where, text of the refusal)."""
    certificate(work, "expired", "DNS:t302.example.com", expired=True)
    certificate(work, "withkey", "DNS:t302.example.com", key_inside=True)
    certificate(work, "other", "DNS:elsewhere.example.com")
    os.makedirs(os.path.join(work, "adir.crt"), exist_ok=True)
    write(os.path.join(work, "der.crt"), "just some text, no certificate\n")
    write(os.path.join(work, "broken.crt"), "-----BEGIN CERTIFICATE-----\nbm90IGEgY2VydA==\n-----END CERTIFICATE-----\n")
    with open(os.path.join(work, names[301]), "rb") as a, open(os.path.join(work, names[302]), "rb") as b, \
            open(os.path.join(work, "two.crt"), "wb") as out:
        out.write(a.read() + b.read())
    os.makedirs(os.path.join(work, "sub"), exist_ok=True)
    certificate(os.path.join(work, "sub"), names[301].removesuffix(".crt"), "DNS:t302.example.com")
    certificate(work, "later", "DNS:t302.example.com", future=True)
    certificate(work, "forclients", "DNS:t302.example.com", extra=["extendedKeyUsage=clientAuth"])
    certificate(work, names[301].removesuffix(".crt").upper(), "DNS:t302.example.com")
    certificate(work, "clientca", "DNS:ca.example.com", extra=["basicConstraints=critical,CA:TRUE"])
    certificate(work, "leaf", "DNS:leaf.example.com", extra=["basicConstraints=critical,CA:FALSE"])
    client_ca = lambda crt, key: {"kit": [f"client-ca = {crt}", f"client-ca-key = {key}"]}  # noqa: E731
    change = lambda number, key, value: {"set": (number, key, value), "at": (number, key)}  # noqa: E731
    return [
        ("missing certificate", change(302, "certificate", "missing.crt"), "cannot read the certificate"),
        ("unreadable certificate", change(302, "certificate", "adir.crt"), "cannot read the certificate"),
        ("not PEM", change(302, "certificate", "der.crt"), "is not a PEM certificate"),
        ("damaged PEM", change(302, "certificate", "broken.crt"), "openssl cannot read it"),
        ("two certificates", change(302, "certificate", "two.crt"), "2 certificates, not one"),
        ("private key inside", change(302, "certificate", "withkey.crt"), "holds a private key"),
        ("expired", change(302, "certificate", "expired.crt"), "expired on"),
        ("not yet valid", change(302, "certificate", "later.crt"), "is not valid yet"),
        ("not for servers", change(302, "certificate", "forclients.crt"), "lacks serverAuth"),
        ("names differing in case", change(302, "certificate", names[301].upper().replace(".CRT", ".crt")),
         "differ only in case"),
        ("client CA not a CA", client_ca("leaf.crt", "leaf.key") | {"at": ("kit", "client-ca")},
         "is not a CA certificate"),
        ("client CA with another key", client_ca("clientca.crt", "t301.key") | {"at": ("kit", "client-ca-key")},
         "is not the private key of"),
        ("client CA without its key", {"kit": ["client-ca = clientca.crt"], "at": None},
         "client-ca and client-ca-key together"),
        ("made for another host", change(302, "certificate", "other.crt"), "was not made for t302.example.com"),
        ("same name, other certificate", change(302, "certificate", f"sub/{names[301]}"), "same name"),
        ("bad file name", change(302, "certificate", "tech 302.txt"), "file name"),
        ("host with a blank", change(303, "host", "tech nik.example.com"), "not a host name or address"),
        ("host label with a hyphen at its end", change(303, "host", "t303-.example.com"), "not a host name"),
        ("address out of range", change(303, "host", "192.0.2.300"), "not a host name or address"),
        ("empty host", change(303, "host", ""), "not a host name or address"),
        ("host with a port", change(303, "host", "t303.example.com:443"), "not a host name or address"),
        ("port 0", change(301, "port", "0"), "not a number from 1 to 65535"),
        ("port 65536", change(301, "port", "65536"), "not a number from 1 to 65535"),
        ("port not a number", change(301, "port", "44x"), "not a number from 1 to 65535"),
        ("negative port", change(301, "port", "-1"), "not a number from 1 to 65535"),
        ("port missing", {"drop": [(304, "port")], "at": (304, None)}, "[304] lacks port"),
        ("ID missing", {"drop": [304], "at": None}, "no section [304]"),
        ("unknown key", {"extra": ["colour = blue"], "at": "last"}, "unknown key 'colour' in [304]"),
        ("unknown section", {"extra": ["[305]"], "at": "last"}, "unknown section [305]"),
        ("no key = value", {"extra": ["just words"], "at": "last"}, "not a 'key = value' line"),
        ("bad suffix", {"suffix": "a b", "at": ("kit", "suffix")}, "suffix 'a b'"),
    ]


def check_refusals(work, names):
    for label, case, text in refusals(work, names):
        values = sound_values(names)
        if "set" in case:
            number, key, value = case["set"]
            values[number][key] = value
        body, where = settings(values, suffix=case.get("suffix", "acme"), drop=case.get("drop", ()),
                               extra=case.get("extra", ()), kit=case.get("kit", ()))
        path = os.path.join(work, "case.ini")
        write(path, body)
        at = case["at"]
        line = len(body.splitlines()) if at == "last" else where.get(at) if at else None
        prefix = f"{path}:{line}: " if line else f"{path}: "
        try:
            site_settings.check(path, NOW)
            failures.append(f"{label}: not refused")
        except site_settings.SiteError as error:
            problems = error.problems
            check(len(problems) == 1, f"{label}: expected one refusal, got {problems}")
            check(problems[0].startswith(prefix) and text in problems[0],
                  f"{label}: refusal {problems[0]!r}, expected {prefix!r} ... {text!r}")


def check_kit(work, path, names):
    out = os.path.join(work, "kits")
    launcher = os.path.join(work, "launcher.exe")
    write(launcher, "stands for the launcher\n")
    client = os.path.join(work, "client")
    subprocess.run([sys.executable, os.path.join(SOURCE, "kit", "tools", "client_ca.py"), "issue", path, client],
                   check=True, capture_output=True, timeout=120)
    subprocess.run([sys.executable, os.path.join(SOURCE, "kit", "tools", "make_kit.py"), "--version", "9.8.7",
                    "--launcher", launcher, "--out-dir", out, "--time", "1767225600",
                    "--site", path, "--client", client, "--now", str(NOW),
                    "--console-linux", launcher, "--console-windows", launcher],
                   check=True, capture_output=True, timeout=120)
    check(sorted(os.listdir(out)) == ["fernwartung-9.8.7-acme.zip", "fernwartung-techniker-9.8.7-acme.zip"],
          f"kits {sorted(os.listdir(out))}")
    kits = {}
    for name in ("fernwartung-9.8.7-acme", "fernwartung-techniker-9.8.7-acme"):
        with zipfile.ZipFile(os.path.join(out, name + ".zip")) as z:
            kits[name + ".zip"] = {n[len(name) + 1:]: z.read(n) for n in z.namelist() if not n.endswith("/")}
    files = kits["fernwartung-9.8.7-acme.zip"]
    ca_key = os.path.join(work, "site-client-ca", "ca.key")
    with open(ca_key, "rb") as f:
        secret = f.read()
    check(os.stat(ca_key).st_mode & 0o077 == 0, "the client CA's key is readable by others than its owner")
    check(not any(secret in data for kit in kits.values() for data in kit.values()), "a kit holds the client CA's key")
    # The rules of every kit (sums, line ends, placeholders filled, every file a text names present).
    failures.extend(common_problems(files, kits, "fernwartung-techniker-9.8.7-acme.zip"))
    failures.extend(common_problems(kits["fernwartung-techniker-9.8.7-acme.zip"], kits, "fernwartung-9.8.7-acme.zip"))
    for number, name in names.items():
        with open(os.path.join(work, name), "rb") as f:
            check(files.get(name) == f.read(), f"the certificate {name} is not in the kit as given")
    values = sound_values(names)
    for number in (301, 302, 303, 304):
        text = files[f"stunnel{number - 300}.conf"].decode("ascii").replace("\r\n", "\n")
        options = config_options(text)
        service = {k.lower(): v for s, k, v in options if s is not None}
        host, port = values[number]["host"], values[number]["port"]
        check(service.get("connect") == f"{host}:{port}" and service.get("cafile") == names[number],
              f"stunnel{number - 300}.conf: connect {service.get('connect')}, CAfile {service.get('cafile')}")
        if number == 304:
            check(service.get("checkip") == host and "checkhost" not in service, "the address is not checked by IP")
        else:
            try:
                check_client(f"stunnel{number - 300}.conf", options)
            except Failure as failure:
                failures.append(str(failure))
        check("To adapt" not in text, f"stunnel{number - 300}.conf still asks to be adapted")
    readme = files["README.txt"].decode("ascii")
    for number in (301, 302, 303, 304):
        check(f"{number}  {values[number]['host']}:{values[number]['port']}  {names[number]}" in readme,
              f"README.txt does not list ID {number}")
    check("subject CN=t301.example.com, expires" in readme, "README.txt lacks the subject and expiry")
    check(readme.count("WARNING: expires in under 30 days") == 1, "README.txt does not warn once for the short one")


def check_forms(work, body):
    """The settings as a Windows editor writes them, with a byte order mark, and with comments after
    values (as docs/deployment.md shows): read as the plain file."""
    plain = site_settings.parse(os.path.join(work, "site.ini"))
    commented = "\n".join(line + ("  ; a comment" if "=" in line or line.startswith("[") else "")
                          for line in body.splitlines())
    path = os.path.join(work, "forms.ini")
    with open(path, "wb") as f:
        f.write(b"\xef\xbb\xbf" + commented.replace("\n", "\r\n").encode())
    try:
        read = site_settings.parse(path)
    except site_settings.SiteError as error:
        failures.append(f"a file with a byte order mark and comments after values was refused: {error.problems}")
        return
    same = read.suffix == plain.suffix and all(read.entries[n].values == plain.entries[n].values for n in plain.entries)
    check(same, "a file with a byte order mark and comments after values reads otherwise than the plain one")


def check_release_script(work, path):
    """scripts/release in a copy of the source tree (its build/release is the copy's): its help text;
    a refused run leaves no kit, not even an earlier run's; --revoke builds only the technician kit,
    whose CRL refuses that kit."""
    tree = os.path.join(work, "tree")
    for part in ("scripts", "kit", "CMakeLists.txt"):
        copy = shutil.copytree if os.path.isdir(os.path.join(SOURCE, part)) else shutil.copy
        os.makedirs(os.path.dirname(os.path.join(tree, part)), exist_ok=True)
        copy(os.path.join(SOURCE, part), os.path.join(tree, part))
    release = [os.path.join(tree, "scripts", "release")]
    text = subprocess.run(release + ["--help"], capture_output=True, text=True, timeout=60).stdout
    for needed in ("--site", "--revoke", "--sign ", "--sign-password-file", "--timestamp", "FERNWARTUNG_SIGN_PASSWORD",
                   "build/release", "[301]"):
        check(needed in text, f"scripts/release --help does not explain {needed}")
    kits = os.path.join(tree, "build", "release")
    os.makedirs(kits)
    write(os.path.join(kits, "fernwartung-9.9.9-acme.zip"), "an earlier run's kit")
    bad = os.path.join(work, "bad.ini")
    write(bad, open(path).read().replace("port = 443", "port = 0", 1))
    run = subprocess.run(release + ["--site", bad], capture_output=True, text=True, timeout=120)
    check(run.returncode != 0 and not os.path.exists(kits), f"a refused run left {kits} ({run.returncode})")
    issued = os.path.join(work, "issued")
    name = subprocess.run([sys.executable, os.path.join(SOURCE, "kit", "tools", "client_ca.py"), "issue", path, issued],
                          capture_output=True, text=True, timeout=60).stdout.strip()
    console = os.path.join(work, "console")  # stand-ins: the console's build is not what is checked here
    os.makedirs(console, exist_ok=True)
    for program in ("technician", "technician.exe"):
        write(os.path.join(console, program), "stands for the console\n")
    run = subprocess.run(release + ["--site", path, "--revoke", name, "--console", console], capture_output=True,
                         text=True, timeout=120)
    made = sorted(os.listdir(kits)) if os.path.isdir(kits) else []
    check(run.returncode == 0 and len(made) == 1 and made[0].startswith("fernwartung-techniker-"),
          f"--revoke made {made}: {run.stderr[-600:]}")
    if made:
        with zipfile.ZipFile(os.path.join(kits, made[0])) as z:
            crl = z.read(next(n for n in z.namelist() if n.endswith("client-ca.crl")))
        crt = os.path.join(issued, name + ".crt")
        revoked = subprocess.run(["openssl", "crl", "-noout", "-text"], input=crl, capture_output=True,
                                 timeout=30).stdout
        serial = subprocess.run(["openssl", "x509", "-in", crt, "-noout", "-serial"], capture_output=True, text=True,
                                timeout=30).stdout.strip().partition("=")[2]
        check(f"Serial Number: {serial}".encode() in revoked, f"the new CRL does not revoke {name} ({serial})")


def check_prove(path):
    site = site_settings.check(path, NOW)
    port = free_port()
    problems = site_settings.prove(site, port)
    check(problems == [], f"the tunnel program refused the filled configurations: {problems}")
    with socket.socket() as busy:
        busy.bind(("127.0.0.1", 0))
        busy.listen(1)
        problems = site_settings.prove(site, busy.getsockname()[1])
    check(len(problems) == 4 and all("is in use" in p for p in problems),
          f"configurations that cannot listen were not refused: {problems}")
    # A configuration the tunnel program itself rejects (its CAfile missing) is reported with its error.
    with tempfile.TemporaryDirectory(prefix="brol-site-run-") as run:
        with open(os.path.join(site_settings.CUSTOMER, "stunnel1.conf")) as f:
            config = site_settings.fill(f.read(), site.entries[301], "kit")
        write(os.path.join(run, "run.conf"), site_settings.run_here(config, port))
        problem = site_settings.start_once(shutil.which("stunnel4"), run, port)
        check(problem is not None and "Configuration failed" in problem, f"a missing CAfile was not reported: {problem}")


def main():
    global SOURCE
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("source_dir")
    SOURCE = parser.parse_args().source_dir
    if shutil.which("stunnel4") is None or shutil.which("openssl") is None:
        print("SKIPPED: the site test needs Debian's stunnel4 and openssl (scripts/test installs them)")
        return 77
    with tempfile.TemporaryDirectory(prefix="brol-site-") as work:
        names = {n: certificate(work, f"t{n}", f"DNS:t{n}.example.com") for n in (301, 302, 303)}
        names[304] = certificate(work, "t304", "IP:127.0.0.1", days=10)
        check_refusals(work, names)
        body, _ = settings(sound_values(names))
        path = os.path.join(work, "site.ini")
        write(path, body)
        check_kit(work, path, names)
        check_forms(work, body)
        check_release_script(work, path)
        check_prove(path)
    for failure in failures:
        print(f"FAIL {failure}")
    if not failures:
        print("ok: every mistake in the site settings refused with its line; the filled kit is complete and "
              "its configurations accepted by the tunnel program")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
