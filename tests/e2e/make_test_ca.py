#!/usr/bin/env python3
"""A throw-away certificate authority and a server certificate for "localhost", made with the openssl CLI.

    make_test_ca.py OUT_DIR    writes ca.pem, ca.der, server.pem and server.key into OUT_DIR
"""
import os
import subprocess
import sys


def openssl(*args, cwd):
    subprocess.run(["openssl", *args], cwd=cwd, check=True, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)


def make_test_ca(folder):
    """Returns a dict of the paths: ca_pem, ca_der, server_cert, server_key."""
    os.makedirs(folder, exist_ok=True)
    ec = ["-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1", "-nodes"]
    openssl("req", "-x509", *ec, "-keyout", "ca.key", "-out", "ca.pem", "-days", "30",
            "-subj", "/CN=maketor test CA", "-addext", "basicConstraints=critical,CA:TRUE",
            "-addext", "keyUsage=critical,keyCertSign,cRLSign", cwd=folder)
    openssl("x509", "-in", "ca.pem", "-outform", "DER", "-out", "ca.der", cwd=folder)
    openssl("req", "-new", *ec, "-keyout", "server.key", "-out", "server.csr", "-subj", "/CN=localhost",
            cwd=folder)
    with open(os.path.join(folder, "server.ext"), "w") as ext:
        ext.write("basicConstraints=CA:FALSE\n"
                  "keyUsage=critical,digitalSignature\n"
                  "extendedKeyUsage=serverAuth\n"
                  "subjectAltName=DNS:localhost,IP:127.0.0.1\n")
    openssl("x509", "-req", "-in", "server.csr", "-CA", "ca.pem", "-CAkey", "ca.key", "-CAcreateserial",
            "-days", "30", "-sha256", "-extfile", "server.ext", "-out", "server.pem", cwd=folder)
    return {
        "ca_pem": os.path.join(folder, "ca.pem"),
        "ca_der": os.path.join(folder, "ca.der"),
        "server_cert": os.path.join(folder, "server.pem"),
        "server_key": os.path.join(folder, "server.key"),
    }


if __name__ == "__main__":
    if len(sys.argv) != 2:
        sys.exit(__doc__)
    for name, path in make_test_ca(sys.argv[1]).items():
        print(f"{name} {path}")
