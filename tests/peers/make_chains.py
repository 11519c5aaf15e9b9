#!/usr/bin/python3
"""Writes certificate chains for the chain-engine tests.

Reads a JSON list of chains from stdin; each chain is a list of links from
the root down to the leaf, each link an object with
  "bc":      "ca", "notca" or "none"   (basicConstraints, critical)
  "pathlen": a number or absent        (with "ca" only)
  "ku":      "sign", "nosign" or "none" (keyUsage, critical), or a list
             of the usages by their names (digitalSignature, keyAgreement ...)
  "time":    "ok", "expired" or "future"
  "san":     subjectAltName entries, "DNS:name" or "IP:address" (optional)
  "badsig":  true: signed by a key other than its issuer's (optional)
  "eku":     extended key usage, of "serverAuth", "clientAuth", "any" (optional)
  "nc":      name constraints, critical: {"permitted": [...], "excluded": [...]}
             of "DNS:name", "IP:address/prefix" or "email:name" (optional)
  "ext":     more extensions {"oid", "critical", "value" (hex DER)}, added
             after the others; a repeated OID is written as given (optional)
  "name":    {"oid", "value"}: the subject's only attribute, in place of the
             common name (optional, leaf only); "der" (hex) in place of
             "value": the attribute's value written as given, tag and all;
             or a list of them, one after the other
  "outeralg": "sha512": the signature made with SHA-512 and the outer
             algorithm saying so, while the signed part says SHA-256
  "pubkey":  [n bits, e bits]: the certificate's RSA key odd numbers of
             those sizes, while the link still signs with its own key
             (optional)
  "impostors": a number: as many more certificates of the link's subject,
             issuer and key identifier, each with a key of odd numbers of
             3,072 bits for n and 3,070 for e and signed by another key,
             go before it in untrusted.pem (optional); "impostorbc":
             "notca" makes them no CA, "impostorski": false leaves out
             their key identifier
  "akid":    the fields of the authority key identifier: ["keyid"] (the
             default), ["issuer", "serial"] (the issuer's issuer's name
             and the issuer's serial number) or all three (optional)
  "older":   "sent": an older certificate of the link's subject and issuer,
             from the same issuer but with another key and serial number and
             without a key identifier, goes before it in untrusted.pem;
             "apart": the same goes to older.pem (optional); "oldername":
             "other" gives it the link's own serial number and another
             issuer's name; "olderext": more extensions for it, as "ext";
             "olderform": its subject written as "issuerform" writes a
             name; "olderkey": "set" (its RSA key's SEQUENCE tagged SET) or
             "empty" (a BIT STRING of no bits) for a key that cannot be read
  "issuerform": {"tag": n, "upper": bool, "space": text}: the link's issuer
             name written as its issuer's common name under that universal
             string tag, in capitals, each space in it and one at each end
             replaced by the text given; or {"der": hex}: the common name's
             value written as given, tag and all, to match an issuer whose
             "name" holds one (optional)
An "oid" is dotted, or "hex:" and its content octets as written (any
encoding, DER or not).
Chain i goes to OUT/i/: link j as c<j>.pem with its key in c<j>.key (c0
the self-signed root), the links between root and leaf together in
untrusted.pem (empty for two links). Subjects are "CN=chain <i> link <j>"; each link is signed by the
one above it, RSA with SHA-256.
"""
import base64
import datetime
import ipaddress
import json
import os
import random
import sys

from cryptography import x509
from cryptography.hazmat.primitives import hashes, serialization
from cryptography.hazmat.primitives.asymmetric import padding, rsa
from cryptography.x509.oid import NameOID

NOW = datetime.datetime.now(datetime.timezone.utc)
DAY = datetime.timedelta(days=1)
WINDOWS = {
    "ok": (NOW - DAY, NOW + 365 * DAY),
    "expired": (NOW - 30 * DAY, NOW - 2 * DAY),
    "future": (NOW + 2 * DAY, NOW + 30 * DAY),
}


KEY_USAGES = {"digitalSignature": "digital_signature", "nonRepudiation": "content_commitment",
              "keyEncipherment": "key_encipherment", "dataEncipherment": "data_encipherment",
              "keyAgreement": "key_agreement", "keyCertSign": "key_cert_sign", "cRLSign": "crl_sign"}


def key_usage(ku):
    if ku in ("sign", "nosign"):
        ku = ["digitalSignature"] + (["keyCertSign", "cRLSign"] if ku == "sign" else ["keyEncipherment"])
    bits = {name: False for name in KEY_USAGES.values()}
    bits.update({KEY_USAGES[name]: True for name in ku})
    return x509.KeyUsage(encipher_only=False, decipher_only=False, **bits)


def alt_name(entry):
    kind, value = entry.split(":", 1)
    if kind == "IP":
        return x509.IPAddress(ipaddress.ip_address(value))
    return x509.DNSName(value)


EKUS = {"serverAuth": x509.ExtendedKeyUsageOID.SERVER_AUTH, "clientAuth": x509.ExtendedKeyUsageOID.CLIENT_AUTH,
        "any": x509.ExtendedKeyUsageOID.ANY_EXTENDED_KEY_USAGE}
SHA512_WITH_RSA = bytes.fromhex("300d06092a864886f70d01010d0500")
# An impostor's n and e in bits: within openssl's bounds, each check as
# dear as a private operation.
IMPOSTOR_KEY = (3072, 3070)


def subtree(entry):
    kind, value = entry.split(":", 1)
    if kind == "IP":
        return x509.IPAddress(ipaddress.ip_network(value))
    if kind == "email":
        return x509.RFC822Name(value)
    return x509.DNSName(value)


def der_length(n):
    if n < 0x80:
        return bytes([n])
    octets = n.to_bytes((n.bit_length() + 7) // 8, "big")
    return bytes([0x80 | len(octets)]) + octets


def tlv(tag, content):
    return bytes([tag]) + der_length(len(content)) + content


class Oids:
    """OIDs and name values for the builder. Those it cannot write (a
    repeat, an encoding that is not DER, a value of any tag or form) stand
    in as placeholders of the same length, swapped for the octets wanted
    once the certificate is built."""

    def __init__(self):
        self.swaps = []

    def get(self, text, placeholder=False):
        if not text.startswith("hex:") and not placeholder:
            try:
                return x509.ObjectIdentifier(text)
            except ValueError:
                pass  # an arc older versions of cryptography cannot write
        wanted = bytes.fromhex(text[4:]) if text.startswith("hex:") else oid_octets(text)
        # 1.2.1.1...1.k, one octet per arc: k keeps the placeholders apart.
        stand_in = bytes([0x2A] + [0x01] * (len(wanted) - 2) + [0x10 + len(self.swaps)])
        self.swaps.append((stand_in, wanted))
        return x509.ObjectIdentifier(".".join(str(a) for a in [1, 2] + list(stand_in[1:])))

    def value(self, hex_der):
        """A UTF8String as long as the item wanted, which replaces it."""
        wanted = bytes.fromhex(hex_der)
        assert 2 < len(wanted) < 0x80
        stand_in = chr(ord("Q") + len(self.swaps)) * (len(wanted) - 2)
        self.swaps.append((b"\x0c" + bytes([len(stand_in)]) + stand_in.encode(), wanted))
        return stand_in

    def apply(self, tbs):
        for stand_in, wanted in self.swaps:
            if stand_in[0] != 0x0C:
                stand_in, wanted = b"\x06" + bytes([len(stand_in)]) + stand_in, b"\x06" + bytes([len(wanted)]) + wanted
            assert tbs.count(stand_in) == 1
            tbs = tbs.replace(stand_in, wanted)
        return tbs


def oid_octets(text):
    arcs = [int(a) for a in text.split(".")]
    out = b""
    for value in [arcs[0] * 40 + arcs[1]] + arcs[2:]:
        groups = [value & 0x7F]
        value >>= 7
        while value:
            groups.append(0x80 | (value & 0x7F))
            value >>= 7
        out += bytes(reversed(groups))
    return out


STRING_CODECS = {30: "utf-16-be", 28: "utf-32-be", 12: "utf-8"}


def written_name(common_name, form):
    """The hex DER of a common name's value under another string tag, case
    and spacing."""
    if "der" in form:
        return form["der"]
    if form.get("upper"):
        common_name = common_name.upper()
    space = form.get("space", " ")
    if space != " ":
        common_name = space + common_name.replace(" ", space) + space
    tag = form.get("tag", 12)
    return tlv(tag, common_name.encode(STRING_CODECS.get(tag, "latin-1"))).hex()


def pem_of(der):
    text = base64.b64encode(der).decode()
    lines = [text[k:k + 64] for k in range(0, len(text), 64)]
    return ("-----BEGIN CERTIFICATE-----\n" + "\n".join(lines) + "\n-----END CERTIFICATE-----\n").encode()


def broken_key(tbs, cert, form):
    """The signed part with the certificate's key written unreadable."""
    spki = cert.public_key().public_bytes(serialization.Encoding.DER,
                                          serialization.PublicFormat.SubjectPublicKeyInfo)
    algorithm = spki[3:5 + spki[4]]
    broken = {"set": spki.replace(b"\x00\x30\x81\x89", b"\x00\x31\x81\x89", 1),
              "empty": tlv(0x30, algorithm + tlv(0x03, b"\x00"))}[form]
    assert broken != spki and tbs.count(spki) == 1
    header = 2 + (tbs[1] & 0x7F if tbs[1] & 0x80 else 0)
    return tlv(0x30, tbs[header:].replace(spki, broken))


def finish(cert, link, oids, signer, key_form=None):
    """The certificate's DER, its signed part changed and signed again where
    the link asks for what the builder does not write."""
    der = cert.public_bytes(serialization.Encoding.DER)
    if not oids.swaps and not link.get("outeralg") and not key_form:
        return der
    tbs = oids.apply(cert.tbs_certificate_bytes)
    if key_form:
        tbs = broken_key(tbs, cert, key_form)
    rest = der[der.index(cert.tbs_certificate_bytes) + len(cert.tbs_certificate_bytes):]
    algorithm = rest[:2 + rest[1]]
    digest = hashes.SHA256()
    if link.get("outeralg") == "sha512":
        algorithm, digest = SHA512_WITH_RSA, hashes.SHA512()
    signature = signer.sign(tbs, padding.PKCS1v15(), digest)
    return tlv(0x30, tbs + algorithm + tlv(0x03, b"\x00" + signature))


def main():
    out = sys.argv[1]
    chains = json.load(sys.stdin)
    # One key per position keeps the run short; names keep the chains apart.
    keys = [rsa.generate_private_key(public_exponent=65537, key_size=1024) for _ in range(6)]
    for i, links in enumerate(chains):
        folder = os.path.join(out, str(i))
        os.makedirs(folder, exist_ok=True)
        untrusted = b""
        shown = [keys[0].public_key()]
        for j, link in enumerate(links):
            oids = Oids()
            subject = x509.Name([x509.NameAttribute(NameOID.COMMON_NAME, "chain %d link %d" % (i, j))])
            if link.get("name"):
                names = link["name"] if isinstance(link["name"], list) else [link["name"]]
                subject = x509.Name([x509.NameAttribute(oids.get(n["oid"]), oids.value(n["der"]) if "der" in n
                                                        else n["value"]) for n in names])
            issuer_cn = "chain %d link %d" % (i, max(j - 1, 0))
            issuer = x509.Name([x509.NameAttribute(NameOID.COMMON_NAME, issuer_cn)])
            if link.get("issuerform"):
                issuer = x509.Name([x509.NameAttribute(NameOID.COMMON_NAME,
                                                       oids.value(written_name(issuer_cn, link["issuerform"])))])
            key, issuer_key = keys[j], keys[max(j - 1, 0)]
            signer = keys[5] if link.get("badsig") else issuer_key
            start, end = WINDOWS[link.get("time", "ok")]
            public = key.public_key()
            if link.get("pubkey"):
                odd = [1 << (bits - 1) | random.getrandbits(bits - 1) | 1 for bits in link["pubkey"]]
                public = rsa.RSAPublicNumbers(odd[1], odd[0]).public_key()
            shown = shown[:j] + [public]
            akid = link.get("akid", ["keyid"])
            issuer_akid = x509.AuthorityKeyIdentifier.from_issuer_public_key(shown[max(j - 1, 0)])
            builder = (x509.CertificateBuilder().subject_name(subject).issuer_name(issuer)
                       .public_key(public).serial_number(1000 * i + j + 1)
                       .not_valid_before(start).not_valid_after(end)
                       .add_extension(x509.SubjectKeyIdentifier.from_public_key(public), critical=False)
                       .add_extension(x509.AuthorityKeyIdentifier(
                           issuer_akid.key_identifier if "keyid" in akid else None,
                           [x509.DirectoryName(x509.Name([x509.NameAttribute(
                               NameOID.COMMON_NAME, "chain %d link %d" % (i, max(j - 2, 0)))]))]
                           if "issuer" in akid else None,
                           1000 * i + max(j - 1, 0) + 1 if "serial" in akid else None), critical=False))
            bc = link.get("bc", "ca")
            if bc != "none":
                builder = builder.add_extension(
                    x509.BasicConstraints(ca=bc == "ca", path_length=link.get("pathlen") if bc == "ca" else None),
                    critical=True)
            ku = link.get("ku", "none")
            if ku != "none":
                builder = builder.add_extension(key_usage(ku), critical=True)
            if link.get("san"):
                builder = builder.add_extension(
                    x509.SubjectAlternativeName([alt_name(e) for e in link["san"]]), critical=False)
            if link.get("eku"):
                builder = builder.add_extension(x509.ExtendedKeyUsage([EKUS[e] for e in link["eku"]]), critical=False)
            if link.get("nc"):
                permitted = [subtree(e) for e in link["nc"].get("permitted", [])] or None
                excluded = [subtree(e) for e in link["nc"].get("excluded", [])] or None
                builder = builder.add_extension(x509.NameConstraints(permitted, excluded), critical=True)
            for ext in link.get("ext", []):
                builder = builder.add_extension(
                    x509.UnrecognizedExtension(oids.get(ext["oid"], True), bytes.fromhex(ext["value"])),
                    critical=ext.get("critical", False))
            pem = pem_of(finish(builder.sign(signer, hashes.SHA256()), link, oids, signer))
            for k in range(link.get("impostors", 0)):
                odd = [1 << (bits - 1) | random.getrandbits(bits - 1) | 1 for bits in IMPOSTOR_KEY]
                impostor = (x509.CertificateBuilder().subject_name(subject).issuer_name(issuer)
                            .public_key(rsa.RSAPublicNumbers(odd[1], odd[0]).public_key())
                            .serial_number(1000000 * (i + 1) + k).not_valid_before(start).not_valid_after(end)
                            .add_extension(x509.BasicConstraints(ca=link.get("impostorbc") != "notca", path_length=None),
                                           critical=True))
                if link.get("impostorski", True):
                    impostor = impostor.add_extension(x509.SubjectKeyIdentifier.from_public_key(public), critical=False)
                untrusted += pem_of(impostor.sign(keys[5], hashes.SHA256()).public_bytes(serialization.Encoding.DER))
            if link.get("older"):
                other = link.get("oldername") == "other"
                older_issuer = x509.Name([x509.NameAttribute(NameOID.COMMON_NAME, issuer_cn + " before")]) \
                    if other else issuer
                older_oids = Oids()
                older_subject = subject
                if link.get("olderform"):
                    older_subject = x509.Name([x509.NameAttribute(NameOID.COMMON_NAME, older_oids.value(
                        written_name("chain %d link %d" % (i, j), link["olderform"])))])
                older = (x509.CertificateBuilder().subject_name(older_subject).issuer_name(older_issuer)
                         .public_key(keys[5].public_key())
                         .serial_number(1000 * i + j + 1 if other else 1000000 * (i + 1) + 999)
                         .not_valid_before(start).not_valid_after(end)
                         .add_extension(issuer_akid, critical=False)
                         .add_extension(x509.BasicConstraints(ca=True, path_length=None), critical=True))
                for ext in link.get("olderext", []):
                    older = older.add_extension(x509.UnrecognizedExtension(older_oids.get(ext["oid"], True),
                                                                           bytes.fromhex(ext["value"])),
                                                critical=ext.get("critical", False))
                older = pem_of(finish(older.sign(issuer_key, hashes.SHA256()), {}, older_oids, issuer_key,
                                      link.get("olderkey")))
                if link["older"] == "sent":
                    untrusted += older
                else:
                    with open(os.path.join(folder, "older.pem"), "wb") as f:
                        f.write(older)
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
