#!/usr/bin/env python3
"""The site's client CA: it issues each customer kit a certificate of its own, which the technician's
tunnel servers require, and keeps the list of revoked kits (a CRL) that they refuse.

The CA lives in the folder NAME-client-ca beside the settings file NAME.ini (created on first use,
readable by its owner only): ca.crt and ca.key (unless the settings' [kit] section names an existing
CA with "client-ca" and "client-ca-key"), and the records of the openssl program's "ca" command
(index.txt: one line per issued kit with its serial, subject and state; serial: the next serial;
issued/SERIAL.pem: each issued certificate). The CA key never goes into a kit. Each kit's
certificate has the subject CN=fernwartung-SUFFIX-SERIAL ("site" without a suffix): the name the
server's log shows and --revoke takes.

  client_ca.py issue SETTINGS OUT_DIR          issues a kit certificate into OUT_DIR (NAME.crt,
                                               NAME.key, the file "name") with client-ca.crt and
                                               client-ca.crl
  client_ca.py revoke SETTINGS NAME OUT_DIR    revokes the kit NAME; client-ca.crt and the new
                                               client-ca.crl into OUT_DIR
  client_ca.py list SETTINGS                   every issued kit: serial, name, state, expiry
Exit code 0 on success, 1 with the reason otherwise.
"""
import os
import subprocess
import sys
import tempfile
import time

CA_DAYS = 3650
KIT_DAYS = 825
# A CRL past its next-update date makes the tunnel server refuse every kit; it outlives the CA.
CRL_DAYS = 3660
CA_FILE, CRL_FILE, NAME_FILE = "client-ca.crt", "client-ca.crl", "name"

CONFIG = """# The openssl "ca" settings of this client CA (written by client_ca.py).
[ca]
default_ca = client_ca
[client_ca]
dir = .
database = index.txt
serial = serial
new_certs_dir = issued
certificate = {certificate}
private_key = {key}
default_md = sha256
default_days = {kit_days}
default_crl_days = {crl_days}
policy = any
unique_subject = no
copy_extensions = none
[any]
commonName = supplied
[kit]
basicConstraints = critical,CA:FALSE
keyUsage = critical,digitalSignature
extendedKeyUsage = clientAuth
[req]
distinguished_name = dn
[dn]
[root]
basicConstraints = critical,CA:TRUE,pathlen:0
keyUsage = critical,keyCertSign,cRLSign
subjectKeyIdentifier = hash
"""


class CAError(Exception):
    pass


class ClientCA:
    """The folder of a site's client CA and the CA certificate and key it signs with."""

    def __init__(self, folder, certificate, key):
        self.folder, self.certificate, self.key = folder, certificate, key

    def run(self, *args):
        """openssl with the CA's configuration, in its folder; raises CAError with openssl's words."""
        result = subprocess.run(["openssl", *args], cwd=self.folder, capture_output=True, text=True, timeout=60)
        if result.returncode != 0:
            raise CAError(f"openssl {args[0]} failed: {(result.stdout + result.stderr).strip()}")
        return result.stdout


def folder_of(settings_path):
    stem = os.path.splitext(os.path.basename(settings_path))[0]
    return os.path.join(os.path.dirname(os.path.abspath(settings_path)), stem + "-client-ca")


def private_file(path, data):
    descriptor = os.open(path, os.O_WRONLY | os.O_CREAT | os.O_TRUNC, 0o600)
    with os.fdopen(descriptor, "w") as f:
        f.write(data)


def open_ca(settings_path, given=None):
    """The site's ClientCA, its folder made on first use. given: (certificate, key) paths named by the
    settings, or None for a CA of its own, made here the first time."""
    folder = folder_of(settings_path)
    os.makedirs(os.path.join(folder, "issued"), mode=0o700, exist_ok=True)
    os.chmod(folder, 0o700)
    certificate, key = given or (os.path.join(folder, "ca.crt"), os.path.join(folder, "ca.key"))
    ca = ClientCA(folder, os.path.abspath(certificate), os.path.abspath(key))
    config = CONFIG.format(certificate=ca.certificate, key=ca.key, kit_days=KIT_DAYS, crl_days=CRL_DAYS)
    with open(os.path.join(folder, "openssl.cnf"), "w") as f:
        f.write(config)
    for name, data in (("index.txt", ""), ("serial", "01\n")):
        if not os.path.exists(os.path.join(folder, name)):
            with open(os.path.join(folder, name), "w") as f:
                f.write(data)
    if given is None and not os.path.exists(ca.key):
        make_root(ca, os.path.basename(folder))
    return ca


def make_root(ca, name):
    with tempfile.TemporaryDirectory(prefix="fernwartung-ca-") as work:
        key = os.path.join(work, "ca.key")
        ca.run("req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:P-256", "-nodes", "-days", str(CA_DAYS),
               "-config", "openssl.cnf", "-extensions", "root", "-subj", f"/CN=Fernwartung {name}",
               "-keyout", key, "-out", ca.certificate)
        with open(key) as f:
            private_file(ca.key, f.read())


def next_serial(ca):
    with open(os.path.join(ca.folder, "serial")) as f:
        return int(f.read().strip(), 16)


def issue(ca, suffix, out_dir):
    """Issues the next kit certificate; writes NAME.crt, NAME.key (owner only), the file "name",
    client-ca.crt and client-ca.crl into out_dir and returns NAME."""
    name = f"fernwartung-{suffix or 'site'}-{next_serial(ca)}"
    out_dir = os.path.abspath(out_dir)
    os.makedirs(out_dir, exist_ok=True)
    key = os.path.join(out_dir, name + ".key")
    request = os.path.join(out_dir, name + ".csr")
    ca.run("req", "-new", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:P-256", "-nodes", "-config", "openssl.cnf",
           "-subj", f"/CN={name}", "-keyout", key, "-out", request)
    os.chmod(key, 0o600)
    ca.run("ca", "-batch", "-config", "openssl.cnf", "-extensions", "kit", "-notext", "-in", request,
           "-out", os.path.join(out_dir, name + ".crt"))
    os.remove(request)
    with open(os.path.join(out_dir, NAME_FILE), "w") as f:
        f.write(name + "\n")
    publish(ca, out_dir)
    return name


def records(ca):
    """[(serial, name, state, expiry)] of every issued kit, state "valid", "revoked" or "expired"."""
    states = {"V": "valid", "R": "revoked", "E": "expired"}
    out = []
    with open(os.path.join(ca.folder, "index.txt")) as f:
        for line in f:
            fields = line.rstrip("\n").split("\t")
            if len(fields) == 6:
                name = fields[5].rpartition("CN=")[2]
                expiry = time.strftime("%Y-%m-%d", time.strptime(fields[1][:12], "%y%m%d%H%M%S"))
                out.append((int(fields[3], 16), name, states.get(fields[0], fields[0]), expiry))
    return out


def revoke(ca, name, out_dir):
    """Revokes the kit NAME (its subject's CN, or its serial) and writes the new CRL into out_dir."""
    found = [r for r in records(ca) if r[1] == name or str(r[0]) == name]
    if not found:
        known = ", ".join(r[1] for r in records(ca)) or "none"
        raise CAError(f"no kit {name} was issued by this CA (issued: {known})")
    serial, kit, state, _ = found[0]
    if state == "revoked":
        print(f"{kit} was revoked before", file=sys.stderr)
    else:
        ca.run("ca", "-config", "openssl.cnf", "-revoke", os.path.join("issued", f"{serial:02X}.pem"))
    publish(ca, out_dir)
    return kit


def publish(ca, out_dir):
    """client-ca.crt and a fresh client-ca.crl (every revoked kit) into out_dir."""
    out_dir = os.path.abspath(out_dir)
    os.makedirs(out_dir, exist_ok=True)
    ca.run("ca", "-config", "openssl.cnf", "-gencrl", "-out", os.path.join(out_dir, CRL_FILE))
    with open(ca.certificate, "rb") as f, open(os.path.join(out_dir, CA_FILE), "wb") as out:
        out.write(f.read())


class KitCertificate:
    """What issue() wrote into a folder: the kit's name, certificate and key, the CA and the CRL."""

    def __init__(self, name, certificate, key, ca, crl):
        self.name, self.certificate, self.key, self.ca, self.crl = name, certificate, key, ca, crl


def load(out_dir):
    """The KitCertificate of a folder issue() wrote; OSError when a file is missing."""
    def read(name):
        with open(os.path.join(out_dir, name), "rb") as f:
            return f.read()
    if not os.path.exists(os.path.join(out_dir, NAME_FILE)):  # revoke() wrote only the CA and the CRL
        return KitCertificate(None, b"", b"", read(CA_FILE), read(CRL_FILE))
    name = read(NAME_FILE).decode("ascii").strip()
    return KitCertificate(name, read(name + ".crt"), read(name + ".key"), read(CA_FILE), read(CRL_FILE))


def main():
    import site_settings
    args = sys.argv[1:]
    shapes = {"issue": 3, "revoke": 4, "list": 2}
    if not args or shapes.get(args[0]) != len(args):
        print(__doc__.strip().splitlines()[-6].strip() + " ...", file=sys.stderr)
        return 2
    try:
        site = site_settings.parse(args[1])
        ca = open_ca(args[1], site.client_ca)
        if args[0] == "issue":
            print(issue(ca, site.suffix, args[2]))
        elif args[0] == "revoke":
            print(f"revoked {revoke(ca, args[2], args[3])}")
        else:
            for serial, name, state, expiry in records(ca):
                print(f"{serial:4}  {name}  {state}  expires {expiry}")
    except (site_settings.SiteError, CAError) as error:
        print(f"refused: {error}", file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
