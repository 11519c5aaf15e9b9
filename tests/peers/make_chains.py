#!/usr/bin/python3
"""Writes certificate chains for the chain-engine tests.

Reads a JSON list of chains from stdin; each chain is a list of links from
the root down to the leaf, each link an object with
  "bc":      "ca", "notca" or "none"   (basicConstraints, critical)
  "pathlen": a number or absent        (with "ca" only)
  "ku":      "sign", "nosign" or "none" (keyUsage, critical)
  "time":    "ok", "expired" or "future"
  "san":     subjectAltName entries, "DNS:name" or "IP:address" (optional)
  "badsig":  true: signed by a key other than its issuer's (optional)
Chain i goes to OUT/i/: link j as c<j>.pem with its key in c<j>.key (c0
the self-signed root), the links between root and leaf together in
untrusted.pem (empty for two links). Subjects are "CN=chain <i> link <j>"; each link is signed by the
one above it, RSA with SHA-256.
"""
import datetime
import ipaddress
import json
import os
import sys

from cryptography import x509
from cryptography.hazmat.primitives import hashes, serialization
from cryptography.hazmat.primitives.asymmetric import rsa
from cryptography.x509.oid import NameOID

NOW = datetime.datetime.now(datetime.timezone.utc)
DAY = datetime.timedelta(days=1)
WINDOWS = {
    "ok": (NOW - DAY, NOW + 365 * DAY),
    "expired": (NOW - 30 * DAY, NOW - 2 * DAY),
    "future": (NOW + 2 * DAY, NOW + 30 * DAY),
}


def key_usage(sign):
    return x509.KeyUsage(digital_signature=True, content_commitment=False, key_encipherment=not sign,
                         data_encipherment=False, key_agreement=False, key_cert_sign=sign, crl_sign=sign,
                         encipher_only=False, decipher_only=False)


def alt_name(entry):
    kind, value = entry.split(":", 1)
    if kind == "IP":
        return x509.IPAddress(ipaddress.ip_address(value))
    return x509.DNSName(value)


def main():
    out = sys.argv[1]
    chains = json.load(sys.stdin)
    # One key per position keeps the run short; names keep the chains apart.
    keys = [rsa.generate_private_key(public_exponent=65537, key_size=1024) for _ in range(6)]
    for i, links in enumerate(chains):
        folder = os.path.join(out, str(i))
        os.makedirs(folder, exist_ok=True)
        untrusted = b""
        for j, link in enumerate(links):
            subject = x509.Name([x509.NameAttribute(NameOID.COMMON_NAME, "chain %d link %d" % (i, j))])
            issuer = x509.Name([x509.NameAttribute(NameOID.COMMON_NAME, "chain %d link %d" % (i, max(j - 1, 0)))])
            key, issuer_key = keys[j], keys[max(j - 1, 0)]
            signer = keys[5] if link.get("badsig") else issuer_key
            start, end = WINDOWS[link.get("time", "ok")]
            builder = (x509.CertificateBuilder().subject_name(subject).issuer_name(issuer)
                       .public_key(key.public_key()).serial_number(1000 * i + j + 1)
                       .not_valid_before(start).not_valid_after(end)
                       .add_extension(x509.SubjectKeyIdentifier.from_public_key(key.public_key()), critical=False)
                       .add_extension(x509.AuthorityKeyIdentifier.from_issuer_public_key(issuer_key.public_key()),
                                      critical=False))
            bc = link.get("bc", "ca")
            if bc != "none":
                builder = builder.add_extension(
                    x509.BasicConstraints(ca=bc == "ca", path_length=link.get("pathlen") if bc == "ca" else None),
                    critical=True)
            ku = link.get("ku", "none")
            if ku != "none":
                builder = builder.add_extension(key_usage(ku == "sign"), critical=True)
            if link.get("san"):
                builder = builder.add_extension(
                    x509.SubjectAlternativeName([alt_name(e) for e in link["san"]]), critical=False)
            pem = builder.sign(signer, hashes.SHA256()).public_bytes(serialization.Encoding.PEM)
            with open(os.path.join(folder, "c%d.pem" % j), "wb") as f:
                f.write(pem)
            with open(os.path.join(folder, "c%d.key" % j), "wb") as f:
                f.write(key.private_bytes(serialization.Encoding.PEM, serialization.PrivateFormat.TraditionalOpenSSL,
                                          serialization.NoEncryption()))
            if 0 < j < len(links) - 1:
                untrusted += pem
        with open(os.path.join(folder, "untrusted.pem"), "wb") as f:
            f.write(untrusted)


if __name__ == "__main__":
    main()
