"""The self-signed "localhost" certificate for HTTPS mode.

Python's standard library cannot create certificates, so the openssl command
line does it. TLS is held at 1.2: the provider asks WinHTTP for TLS 1.1 or 1.2
only, and Wine 8 has no TLS 1.3 anyway.
"""

import os
import shutil
import ssl
import subprocess


class CertificateError(RuntimeError):
    pass


def generate(directory):
    """Writes cert.pem and key.pem into directory; returns both paths."""
    openssl = shutil.which("openssl")
    if openssl is None:
        raise CertificateError("openssl is not installed; install it or pass --cert and --key")
    cert = os.path.join(directory, "cert.pem")
    key = os.path.join(directory, "key.pem")
    command = [
        openssl, "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-sha256", "-days", "30",
        "-subj", "/CN=localhost",
        "-addext", "subjectAltName=DNS:localhost,IP:127.0.0.1,IP:::1",
        "-addext", "keyUsage=critical,digitalSignature,keyEncipherment,keyCertSign",
        "-addext", "extendedKeyUsage=serverAuth",
        "-keyout", key, "-out", cert,
    ]
    result = subprocess.run(command, capture_output=True, text=True, timeout=60)
    if result.returncode != 0:
        raise CertificateError("openssl failed: " + result.stderr.strip())
    return cert, key


def server_context(cert, key):
    context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
    context.minimum_version = ssl.TLSVersion.TLSv1_2
    context.maximum_version = ssl.TLSVersion.TLSv1_2
    context.load_cert_chain(cert, key)
    return context


def export(cert, pem_path=None, der_path=None):
    """Copies the certificate out so that a test can trust it (PEM and/or DER)."""
    with open(cert, encoding="ascii") as handle:
        pem = handle.read()
    if pem_path:
        with open(pem_path, "w", encoding="ascii") as handle:
            handle.write(pem)
    if der_path:
        with open(der_path, "wb") as handle:
            handle.write(ssl.PEM_cert_to_DER_cert(pem))
