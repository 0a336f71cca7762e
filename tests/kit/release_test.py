#!/usr/bin/env python3
"""The release kits as make_kit.py builds them from the shipping launcher: two builds give the same
bytes; each zip holds one folder with exactly the files expected (the customer kit only what goes on
the PC, the technician kit the tunnel server side), sorted, with one time stamp and fixed
permissions; SHA256SUMS matches; texts have Windows line ends and every file one text names exists;
the launcher is the one built, carries the project's version and passes the shipped-program checks
(which the test build's launcher must fail); signing with a throwaway certificate gives a signature
that verifies, and leaves the unsigned launcher as it was.

  release_test.py MAKE_KIT VERSION LAUNCHER_EXE EXAMPLES_DIR TEXTS_DIR TEST_LAUNCHER_EXE SOURCE_DIR
Exit code 0 when every check passed, 1 otherwise.
"""
import hashlib
import os
import re
import shutil
import struct
import subprocess
import sys
import tempfile
import zipfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import shipped_program  # noqa: E402

CUSTOMER = ["LICENSES.txt", "LIESMICH.txt", "README.txt", "SHA256SUMS", "launcher.exe", "stunnel1.conf",
            "stunnel2.conf", "stunnel3.conf", "stunnel4.conf"]
TECHNICIAN = ["README.txt", "SHA256SUMS", "stunnel-techniker301.conf"]
STAMP = 1767225600  # 2026-01-01 00:00:00 UTC
# File names a text may name without the kit holding them: what the deployer adds or the technician
# makes. Every other *.txt, *.conf or *.zip named in a text must exist.
REFERENCE = re.compile(rb"[A-Za-z0-9_@-][A-Za-z0-9_.@-]*\.(?:txt|conf|zip)\b")
failures = []


def check(condition, message):
    if not condition:
        failures.append(message)


def build(maker, version, launcher, examples, texts, out, stamp):
    """{zip name: bytes} of the two kits built into the folder out."""
    subprocess.run([sys.executable, maker, "--version", version, "--launcher", launcher, "--examples", examples,
                    "--texts", texts, "--out-dir", out, "--time", str(stamp), "--now", str(STAMP)],
                   check=True, stdout=subprocess.DEVNULL)
    kits = {}
    for name in sorted(os.listdir(out)):
        with open(os.path.join(out, name), "rb") as f:
            kits[name] = f.read()
    return kits


def fixed_version(exe):
    """(major, minor, patch, build) from the VS_FIXEDFILEINFO of the version resource, or None."""
    at = exe.find(struct.pack("<I", 0xFEEF04BD))
    if at < 0:
        return None
    ms, ls = struct.unpack_from("<II", exe, at + 8)
    return (ms >> 16, ms & 0xFFFF, ls >> 16, ls & 0xFFFF)


def check_entries(z, top, expected):
    infos = z.infolist()
    names = [i.filename for i in infos]
    check(names == sorted(names), f"entries not sorted: {names}")
    check(names == [top] + [top + n for n in expected], f"entries {names}, expected {expected} below {top}")
    check(not any("/config/" in n.lower() for n in names), "a config subfolder")
    check(len({i.date_time for i in infos}) == 1 and infos[0].date_time == (2026, 1, 1, 0, 0, 0),
          f"time stamps {sorted({i.date_time for i in infos})}")
    for i in infos:
        mode = i.external_attr >> 16
        want = 0o40755 if i.filename.endswith("/") else 0o100755 if i.filename.endswith(".exe") else 0o100644
        check(mode == want, f"{i.filename}: mode {oct(mode)}, expected {oct(want)}")


def kit_files(z, top):
    return {n[len(top):]: z.read(n) for n in z.namelist() if not n.endswith("/")}


def check_common(files, kits, other):
    """kits: {zip name: {file: bytes}} of both kits; other: the zip name of the other kit. A text may
    name a file of the other kit when it names that kit too."""
    sums = dict(reversed(line.split("  ", 1)) for line in files["SHA256SUMS"].decode("ascii").splitlines())
    check(sorted(sums) == sorted(set(files) - {"SHA256SUMS"}), f"SHA256SUMS lists {sorted(sums)}")
    for name, digest in sums.items():
        check(hashlib.sha256(files.get(name, b"")).hexdigest() == digest, f"{name}: SHA256SUMS does not match")
    for name, data in files.items():
        if name.endswith((".txt", ".conf")):
            check(data.count(b"\n") == data.count(b"\r\n") > 0, f"{name}: not CR LF line ends")
            check(data.isascii() or data.startswith(b"\xef\xbb\xbf"), f"{name}: not ASCII and no byte order mark")
            check(not re.search(rb"@[A-Z_]+@", data), f"{name}: a placeholder was left unfilled")
            lines = data.decode("utf-8-sig").split("\r\n")
            for title, line in zip(lines, lines[1:]):
                if len(line) >= 3 and set(line) in ({"="}, {"-"}) and title.strip():
                    check(len(line) == len(title), f"{name}: the underline of {title!r} is {len(line)} long")
            for reference in REFERENCE.findall(data):
                named = reference.decode()
                there = named in kits[other] and other.encode() in data
                check(named in files or named in kits or there, f"{name} names {named}, which is not in the kit")


def check_customer(files, version, launcher, kits, other):
    check_common(files, kits, other)
    check("Escape".encode() in files["LIESMICH.txt"] and "Sitzung beenden".encode() in files["LIESMICH.txt"],
          "LIESMICH.txt does not explain Escape and how a session ends")
    readme = files["README.txt"]
    check(f"kit {version}:".encode() in readme, "README.txt does not carry the version")
    for needed in (b"-connect 127.0.0.1:5500 -noregistry -run", b"winvnc_QARU_RC23.exe", b"127.0.0.1:5500",
                   b"stunnel 5.50", b"--sign", b"Fehler beim Aufbau des SSL-Tunnels", b"expired"):
        check(needed in readme, f"README.txt does not say {needed.decode()}")
    with open(launcher, "rb") as f:
        check(files["launcher.exe"] == f.read(), "launcher.exe is not the one built")
    major, minor, patch = (int(p) for p in version.split("."))
    got = fixed_version(files["launcher.exe"])
    check(got == (major, minor, patch, 0), f"version resource {got}, expected {version}")
    check(version.encode("utf-16-le") in files["launcher.exe"], "the version text is not in the resource")


def check_programs(launcher, test_launcher, source):
    """The shipped launcher passes every check; the test build's fails them (the checks can fail)."""
    with open(launcher, "rb") as f:
        problems = shipped_program.problems(f.read(), source)
    check(not problems, f"the shipped launcher: {problems}")
    with open(test_launcher, "rb") as f:
        problems = shipped_program.problems(f.read(), source)
    check(any("test name" in p for p in problems) and any("path" in p for p in problems),
          f"the test build's launcher passes as shippable: {problems}")


def osslsigncode_verify(exe, *more):
    result = subprocess.run(["osslsigncode", "verify", *more, "-in", exe], capture_output=True, text=True, timeout=60)
    return result.returncode, result.stdout + result.stderr


def check_signing(launcher, work):
    """A throwaway code-signing certificate signs a copy; the signature verifies against that
    certificate, and without it only the chain is untrusted; a wrong password signs nothing."""
    key, crt, pfx, password = (os.path.join(work, n) for n in ("sign.key", "sign.crt", "sign.pfx", "password"))
    with open(password, "w") as f:
        f.write("throwaway secret")
    subprocess.run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "2",
                    "-subj", "/CN=Fernwartung Test Signer", "-addext", "extendedKeyUsage=codeSigning",
                    "-keyout", key, "-out", crt], check=True, capture_output=True, timeout=60)
    subprocess.run(["openssl", "pkcs12", "-export", "-inkey", key, "-in", crt, "-passout", f"file:{password}",
                    "-out", pfx], check=True, capture_output=True, timeout=60)
    with open(launcher, "rb") as f:
        unsigned = f.read()
    signer = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "tools", "kit", "sign_launcher.py")
    signed = os.path.join(work, "signed.exe")
    environment = dict(os.environ, FERNWARTUNG_SIGN_PASSWORD="throwaway secret")
    run = subprocess.run([sys.executable, signer, "--pfx", pfx, launcher, signed], env=environment,
                         capture_output=True, text=True, timeout=300)
    check(run.returncode == 0, f"signing with the password from the environment failed: {run.stderr}")
    code, out = osslsigncode_verify(signed, "-CAfile", crt)
    check(code == 0 and "Signature verification: ok" in out, f"the signature does not verify:\n{out}")
    code, out = osslsigncode_verify(signed)
    digests = re.findall(r"(?:Current|Calculated) message digest\s*:\s*(\w+)", out)
    check(code != 0 and "self-signed certificate" in out and len(digests) == 2 and digests[0] == digests[1],
          f"without the certificate, only the chain should be untrusted:\n{out}")
    with open(launcher, "rb") as f:
        check(f.read() == unsigned, "signing changed the unsigned launcher")
    with open(password, "w") as f:
        f.write("wrong")
    wrong = os.path.join(work, "wrong.exe")
    run = subprocess.run([sys.executable, signer, "--pfx", pfx, "--password-file", password, launcher, wrong],
                         capture_output=True, text=True, timeout=300)
    check(run.returncode != 0 and not os.path.exists(wrong), "a wrong password signed (or left a file)")
    check_before_signing(signer, work, key, password)


def check_before_signing(signer, work, key, password):
    """What scripts/release asks before it builds: a certificate not for code signing, a missing PFX
    and a wrong password are refused; a code-signing one passes."""
    with open(password, "w") as f:
        f.write("throwaway secret")
    server = os.path.join(work, "server.crt")
    subprocess.run(["openssl", "req", "-x509", "-new", "-key", key, "-days", "2", "-subj", "/CN=Not A Signer",
                    "-addext", "extendedKeyUsage=serverAuth", "-out", server],
                   check=True, capture_output=True, timeout=60)
    subprocess.run(["openssl", "pkcs12", "-export", "-inkey", key, "-in", server, "-passout", f"file:{password}",
                    "-out", os.path.join(work, "server.pfx")], check=True, capture_output=True, timeout=60)
    rows = [("sign.pfx", password, 0, "for code signing"), ("server.pfx", password, 1, "not for code signing"),
            ("missing.pfx", password, 1, "no certificate file"), ("sign.pfx", os.path.join(work, "nothing"), 1, "")]
    for pfx, secret, code, text in rows:
        if secret.endswith("nothing"):
            with open(secret, "w") as f:
                f.write("wrong")
        run = subprocess.run([sys.executable, signer, "--check", "--pfx", os.path.join(work, pfx), "--password-file",
                              secret], capture_output=True, text=True, timeout=120)
        check(run.returncode == code and text in run.stdout + run.stderr,
              f"--check of {pfx}: exit {run.returncode}, {(run.stdout + run.stderr).strip()!r}")


def main():
    if len(sys.argv) != 8:
        print(__doc__.strip().splitlines()[-2], file=sys.stderr)
        return 2
    maker, version, launcher, examples, texts, test_launcher, source = sys.argv[1:]
    customer, technician = f"fernwartung-{version}", f"fernwartung-techniker-{version}"
    with tempfile.TemporaryDirectory(prefix="brol-kit-") as work:
        first = build(maker, version, launcher, examples, texts, os.path.join(work, "a"), STAMP)
        second = build(maker, version, launcher, examples, texts, os.path.join(work, "b"), STAMP)
        check(sorted(first) == [customer + ".zip", technician + ".zip"], f"kits {sorted(first)}")
        check(first == second, "two builds gave different zips")
        later = build(maker, version, launcher, examples, texts, os.path.join(work, "c"), STAMP + 86400)
        check(later != first, "the time stamp given is not used")
        kits = {}
        for top, expected in ((customer, CUSTOMER), (technician, TECHNICIAN)):
            with zipfile.ZipFile(os.path.join(work, "a", top + ".zip")) as z:
                check_entries(z, top + "/", expected)
                kits[top + ".zip"] = kit_files(z, top + "/")
        check_customer(kits[customer + ".zip"], version, launcher, kits, technician + ".zip")
        check_common(kits[technician + ".zip"], kits, customer + ".zip")
        readme = kits[technician + ".zip"]["README.txt"]
        check(b"vncviewer -listen 5500" in readme and b"Renewing" in readme,
              "the technician's README.txt lacks the viewer's listen mode or the renewal")
        check_programs(launcher, test_launcher, source)
        check_signing(launcher, work)
    for failure in failures:
        print(f"FAIL {failure}")
    if not failures:
        print(f"ok: both kits of {version} are complete and the same in two builds; the launcher ships clean "
              f"and signs ({hashlib.sha256(first[customer + '.zip']).hexdigest()})")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
