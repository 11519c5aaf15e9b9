#!/usr/bin/python3
"""Writes the variants of a two-prime RSA key for the key tests.

argv[1]: the key (PEM). Writes beside it, as PKCS#1 DER, the key and the key
with one part changed, each named by what changed (KEY.whole.der,
KEY.dp-dq-swapped.der ...), and KEY.composite-q.der: a key of three primes
written as two, q times a third prime r, its exponents and coefficient made
to fit p and q r, so that it passes every check of its parts against each
other and only a primality test, or a signature checked before it is handed
out, finds it.
"""
import math, subprocess, sys
from cryptography.hazmat.primitives import serialization
path = sys.argv[1]
k = serialization.load_pem_private_key(open(path, "rb").read(), None).private_numbers()
def tlv(tag, b):
    n = len(b)
    return bytes([tag]) + (bytes([n]) if n < 128 else bytes([0x82]) + n.to_bytes(2, "big")) + b
whole = dict(n=k.public_numbers.n, e=k.public_numbers.e, d=k.d, p=k.p, q=k.q, dp=k.dmp1, dq=k.dmq1, qinv=k.iqmp)
changes = {"whole": {}, "dp-dq-swapped": dict(dp=k.dmq1, dq=k.dmp1), "qinv-one": dict(qinv=1),
           "p-q-swapped": dict(p=k.q, q=k.p), "n-plus-two": dict(n=whole["n"] + 2), "d-plus-two": dict(d=k.d + 2),
           "e-one": dict(e=1, d=1, dp=1, dq=1)}
e = k.public_numbers.e
# A 256-bit prime from openssl: python's cryptography makes no key as small
# as 512 bits from version 43 on.
while True:
    r = int(subprocess.run(["openssl", "prime", "-generate", "-bits", "256"], capture_output=True, check=True,
                           text=True).stdout)
    if math.gcd(e, r - 1) == 1 and math.gcd(e, k.q * r - 1) == 1:
        break
qr, d = k.q * r, pow(e, -1, math.lcm(k.p - 1, k.q - 1, r - 1))
changes["composite-q"] = dict(n=k.p * qr, d=d, q=qr, dp=d % (k.p - 1), dq=pow(e, -1, qr - 1), qinv=pow(qr, -1, k.p))
for name, change in changes.items():
    v = [0] + list(dict(whole, **change).values())
    body = b"".join(tlv(2, x.to_bytes(x.bit_length() // 8 + 1, "big")) for x in v)
    open(path + "." + name + ".der", "wb").write(tlv(0x30, body))
