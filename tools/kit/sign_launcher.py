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


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--pfx", required=True)
    parser.add_argument("--password-file")
    parser.add_argument("--timestamp")
    parser.add_argument("source")
    parser.add_argument("target")
    args = parser.parse_args()
    problem = sign(args.source, args.target, args.pfx, args.password_file, args.timestamp)
    if problem:
        print(f"signing failed: {problem}", file=sys.stderr)
        return 1
    print(f"signed {args.target}" + (f" (timestamp from {args.timestamp})" if args.timestamp else ""))
    return 0


if __name__ == "__main__":
    sys.exit(main())
