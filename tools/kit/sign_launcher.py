#!/usr/bin/env python3
"""Signs a Windows program (Authenticode, SHA-256) with osslsigncode and a code-signing certificate in
a PKCS#12 file, so that Windows names the publisher instead of warning about an unknown program when
it is downloaded. The password never appears on a command line: it comes from a file, or from the
environment variable FERNWARTUNG_SIGN_PASSWORD, and reaches osslsigncode through a file only this
user can read, removed afterwards. An optional RFC 3161 timestamp server keeps the signature valid
after the certificate expires.

  sign_launcher.py --pfx PFX [--password-file FILE] [--timestamp URL] IN OUT
Exit code 0 when OUT is IN signed, 1 otherwise.
"""
import argparse
import os
import shutil
import subprocess
import sys
import tempfile

PASSWORD_VARIABLE = "FERNWARTUNG_SIGN_PASSWORD"


def sign(source, target, pfx, password_file=None, timestamp=None):
    """Signs source into target; returns None, or what went wrong."""
    if shutil.which("osslsigncode") is None:
        return "osslsigncode is not installed"
    if not os.path.isfile(pfx):
        return f"no certificate file {pfx}"
    with tempfile.TemporaryDirectory(prefix="fernwartung-sign-") as private:
        if password_file is None:
            if PASSWORD_VARIABLE not in os.environ:
                return f"no password: set {PASSWORD_VARIABLE} or give a password file"
            password_file = os.path.join(private, "password")
            descriptor = os.open(password_file, os.O_WRONLY | os.O_CREAT | os.O_EXCL, 0o600)
            with os.fdopen(descriptor, "w") as f:
                f.write(os.environ[PASSWORD_VARIABLE])
        command = ["osslsigncode", "sign", "-pkcs12", pfx, "-readpass", password_file, "-h", "sha256",
                   "-n", "Fernwartung", "-in", source, "-out", target]
        if timestamp:
            command[2:2] = ["-ts", timestamp]
        if os.path.exists(target):
            os.remove(target)
        result = subprocess.run(command, capture_output=True, text=True, timeout=300)
        if result.returncode != 0:
            return f"osslsigncode could not sign: {(result.stdout + result.stderr).strip()}"
    return None


def password_path(private, password_file):
    """The file to read the password from: the given one, else one made in private from the variable."""
    if password_file is not None:
        return password_file, None
    if PASSWORD_VARIABLE not in os.environ:
        return None, f"no password: set {PASSWORD_VARIABLE} or give a password file"
    path = os.path.join(private, "password")
    descriptor = os.open(path, os.O_WRONLY | os.O_CREAT | os.O_EXCL, 0o600)
    with os.fdopen(descriptor, "w") as f:
        f.write(os.environ[PASSWORD_VARIABLE])
    return path, None


def certificates(pfx, password_file, private, signer_only=False):
    """(path of the PFX's certificates as PEM, the signer's first, None) or (None, what went wrong)."""
    if not os.path.isfile(pfx):
        return None, f"no certificate file {pfx}"
    password, problem = password_path(private, password_file)
    if problem:
        return None, problem
    pem = os.path.join(private, "certificates.pem")
    result = subprocess.run(["openssl", "pkcs12", "-in", pfx, "-nokeys", "-passin", f"file:{password}", "-out", pem]
                            + (["-clcerts"] if signer_only else []),
                            capture_output=True, text=True, timeout=60)
    if result.returncode != 0:
        return None, f"openssl cannot open {pfx} with this password: {result.stderr.strip().splitlines()[-1:]}"
    return pem, None


def check_certificate(pfx, password_file=None):
    """None when the PFX opens with the password and its certificate is valid and for code signing."""
    with tempfile.TemporaryDirectory(prefix="fernwartung-sign-") as private:
        pem, problem = certificates(pfx, password_file, private, signer_only=True)
        if problem:
            return problem
        result = subprocess.run(["openssl", "x509", "-in", pem, "-noout", "-subject", "-ext", "extendedKeyUsage",
                                 "-checkend", "0"], capture_output=True, text=True, timeout=30)
        if "Code Signing" not in result.stdout:
            return (f"the certificate in {pfx} ({result.stdout.splitlines()[0] if result.stdout else '?'}) is not for "
                    f"code signing (its extended key usage lacks codeSigning): Windows would not accept the signature")
        if "will expire" in result.stdout:
            return f"the certificate in {pfx} has expired"
    return None


def verify(target, pfx, password_file=None):
    """None when the signature of target verifies against the PFX's certificates (and the system's CAs)."""
    with tempfile.TemporaryDirectory(prefix="fernwartung-sign-") as private:
        pem, problem = certificates(pfx, password_file, private)
        if problem:
            return problem
        bundle = os.path.join(private, "bundle.pem")
        with open(bundle, "wb") as out:
            for part in (pem, "/etc/ssl/certs/ca-certificates.crt"):
                if os.path.exists(part):
                    with open(part, "rb") as f:
                        out.write(f.read())
        result = subprocess.run(["osslsigncode", "verify", "-CAfile", bundle, "-in", target], capture_output=True,
                                text=True, timeout=120)
        if result.returncode != 0 or "Signature verification: ok" not in result.stdout:
            return f"the signature of {target} does not verify: {(result.stdout + result.stderr).strip()[-400:]}"
    return None


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--pfx", required=True)
    parser.add_argument("--password-file")
    parser.add_argument("--timestamp")
    parser.add_argument("--check", action="store_true", help="only check the PFX: password, validity, code signing")
    parser.add_argument("source", nargs="?")
    parser.add_argument("target", nargs="?")
    args = parser.parse_args()
    if args.check:
        problem = check_certificate(args.pfx, args.password_file)
        print(f"refused: {problem}" if problem else f"ok {args.pfx}: a certificate for code signing",
              file=sys.stderr if problem else sys.stdout)
        return 1 if problem else 0
    if not args.target:
        parser.error("IN and OUT are needed")
    problem = sign(args.source, args.target, args.pfx, args.password_file, args.timestamp)
    if problem is None:
        problem = verify(args.target, args.pfx, args.password_file)
        if problem and os.path.exists(args.target):
            os.remove(args.target)
    if problem:
        print(f"signing failed: {problem}", file=sys.stderr)
        return 1
    print(f"signed {args.target}" + (f" (timestamp from {args.timestamp})" if args.timestamp else ""))
    return 0


if __name__ == "__main__":
    sys.exit(main())
