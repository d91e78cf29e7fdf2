#!/usr/bin/env python3
"""A throw-away certificate authority and a server certificate for "localhost", and a throw-away code-signing
certificate, made with the openssl CLI.

    make_test_ca.py OUT_DIR                 writes ca.pem, ca.der, server.pem and server.key into OUT_DIR
    make_test_ca.py --code-signing OUT_DIR  writes signing-ca.pem and signer.p12 (password in signer.password)
"""
import os
import subprocess
import sys


def openssl(*args, cwd, env=None):
    subprocess.run(["openssl", *args], cwd=cwd, check=True, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE,
                   env=env)


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


def make_code_signing_certificate(folder, password):
    """A CA of its own and an Authenticode signer it issued ("Torvel test publisher"), the signer with its key and
    the CA in a PKCS#12 file under password. Returns a dict of the paths: ca_pem, signer_cert, pkcs12."""
    os.makedirs(folder, exist_ok=True)
    rsa = ["-newkey", "rsa:2048", "-nodes"]  # what code-signing certificates are sold with
    openssl("req", "-x509", *rsa, "-keyout", "signing-ca.key", "-out", "signing-ca.pem", "-days", "30",
            "-subj", "/CN=maketor test code-signing CA", "-addext", "basicConstraints=critical,CA:TRUE",
            "-addext", "keyUsage=critical,keyCertSign,cRLSign", cwd=folder)
    openssl("req", "-new", *rsa, "-keyout", "signer.key", "-out", "signer.csr",
            "-subj", "/CN=Torvel test publisher/O=Torvel", cwd=folder)
    with open(os.path.join(folder, "signer.ext"), "w") as ext:
        ext.write("basicConstraints=CA:FALSE\n"
                  "keyUsage=critical,digitalSignature\n"
                  "extendedKeyUsage=codeSigning\n")
    openssl("x509", "-req", "-in", "signer.csr", "-CA", "signing-ca.pem", "-CAkey", "signing-ca.key",
            "-CAcreateserial", "-days", "30", "-sha256", "-extfile", "signer.ext", "-out", "signer.pem", cwd=folder)
    openssl("pkcs12", "-export", "-in", "signer.pem", "-inkey", "signer.key", "-certfile", "signing-ca.pem",
            "-out", "signer.p12", "-passout", "env:MAKETOR_TEST_P12_PASSWORD", cwd=folder,
            env=dict(os.environ, MAKETOR_TEST_P12_PASSWORD=password))
    return {
        "ca_pem": os.path.join(folder, "signing-ca.pem"),
        "signer_cert": os.path.join(folder, "signer.pem"),
        "pkcs12": os.path.join(folder, "signer.p12"),
    }


def make_timestamp_authority(folder):
    """An RFC 3161 time-stamping authority for `openssl ts -reply`: a CA of its own, the TSA's certificate and
    key, and the configuration naming them. Returns a dict of the paths: ca_pem, config."""
    os.makedirs(folder, exist_ok=True)
    rsa = ["-newkey", "rsa:2048", "-nodes"]
    openssl("req", "-x509", *rsa, "-keyout", "tsa-ca.key", "-out", "tsa-ca.pem", "-days", "30",
            "-subj", "/CN=maketor test TSA CA", "-addext", "basicConstraints=critical,CA:TRUE",
            "-addext", "keyUsage=critical,keyCertSign,cRLSign", cwd=folder)
    openssl("req", "-new", *rsa, "-keyout", "tsa.key", "-out", "tsa.csr", "-subj", "/CN=maketor test TSA", cwd=folder)
    with open(os.path.join(folder, "tsa.ext"), "w") as ext:
        ext.write("basicConstraints=CA:FALSE\n"
                  "keyUsage=critical,digitalSignature\n"
                  "extendedKeyUsage=critical,timeStamping\n")
    openssl("x509", "-req", "-in", "tsa.csr", "-CA", "tsa-ca.pem", "-CAkey", "tsa-ca.key", "-CAcreateserial",
            "-days", "30", "-sha256", "-extfile", "tsa.ext", "-out", "tsa.pem", cwd=folder)
    with open(os.path.join(folder, "serial"), "w") as serial:
        serial.write("01\n")
    config = os.path.join(folder, "tsa.cnf")
    with open(config, "w") as f:
        f.write("[ tsa ]\ndefault_tsa = maketor_tsa\n[ maketor_tsa ]\n"
                f"serial = {folder}/serial\nsigner_cert = {folder}/tsa.pem\ncerts = {folder}/tsa-ca.pem\n"
                f"signer_key = {folder}/tsa.key\nsigner_digest = sha256\ndefault_policy = 1.3.6.1.4.1.4146.2.3\n"
                "digests = sha256, sha384, sha512\naccuracy = secs:1\nordering = yes\ntsa_name = yes\n"
                "ess_cert_id_chain = no\ness_cert_id_alg = sha256\n")
    return {"ca_pem": os.path.join(folder, "tsa-ca.pem"), "config": config}


if __name__ == "__main__":
    if len(sys.argv) == 3 and sys.argv[1] == "--code-signing":
        password = "test-" + os.urandom(6).hex()
        paths = make_code_signing_certificate(sys.argv[2], password)
        paths["password_file"] = os.path.join(sys.argv[2], "signer.password")
        with open(paths["password_file"], "w") as f:
            f.write(password)
    elif len(sys.argv) == 2:
        paths = make_test_ca(sys.argv[1])
    else:
        sys.exit(__doc__)
    for name, path in paths.items():
        print(f"{name} {path}")
