#!/usr/bin/python3
"""Writes the variants of a two-prime RSA key for the key tests.

argv[1]: the key (PEM). Writes beside it, as PKCS#1 DER, the key and the key
with one part changed, each named by what changed (KEY.whole.der,
KEY.dp-dq-swapped.der ...), and KEY.composite-q.der: a key of three primes
written as two, q times a third prime r, its exponents and coefficient made
to fit p and q r, so that it passes every check of its parts against each
other and only a primality test, or a signature checked before it is handed
out, finds it. Keys whose public numbers are odd numbers each just inside or
outside a bound: n of 16,385 bits, e of a million bits beside n of 16,384,
e of 64 and 65 bits beside n of 4,096, e equal to n, n even. Keys whose prime
exponents or coefficient fit the primes but are not reduced by them: dp
and dq plus a million-bit multiple of p - 1 and q - 1, qinv plus p. Beside
each, KEY.NAME.public.der: its n and e as a PKCS#1 public key, which openssl
3.5 no longer gives for a key whose dp or dq is that large.
"""
import math, random, subprocess, sys
from cryptography.hazmat.primitives import serialization
path = sys.argv[1]
k = serialization.load_pem_private_key(open(path, "rb").read(), None).private_numbers()
def tlv(tag, b):
    n, width = len(b), (len(b).bit_length() + 7) // 8
    return bytes([tag]) + (bytes([n]) if n < 128 else bytes([0x80 | width]) + n.to_bytes(width, "big")) + b
def odd(bits): return 1 << (bits - 1) | random.getrandbits(bits - 1) | 1
whole = dict(n=k.public_numbers.n, e=k.public_numbers.e, d=k.d, p=k.p, q=k.q, dp=k.dmp1, dq=k.dmq1, qinv=k.iqmp)
# The swapped parts reduced by the primes they now go with: whether a swap
# left one too large would hang on the key's draw.
changes = {"whole": {}, "dp-dq-swapped": dict(dp=k.dmq1 % k.p, dq=k.dmp1 % k.q), "qinv-one": dict(qinv=1),
           "p-q-swapped": dict(p=k.q, q=k.p, dp=k.dmp1 % k.q, dq=k.dmq1 % k.p, qinv=k.iqmp % k.q), "n-plus-two": dict(n=whole["n"] + 2), "d-plus-two": dict(d=k.d + 2),
           "e-one": dict(e=1, d=1, dp=1, dq=1), "n-16385-bits": dict(n=odd(16385)),
           "e-million-bits": dict(n=odd(16384), e=odd(1000000)), "e-64-bits": dict(n=odd(4096), e=odd(64)),
           "e-65-bits": dict(n=odd(4096), e=odd(65)), "e-is-n": dict(e=k.public_numbers.n), "n-even": dict(n=k.public_numbers.n - 1),
           "dp-unreduced": dict(dp=k.dmp1 + (k.p - 1 << 1000000)), "dq-unreduced": dict(dq=k.dmq1 + (k.q - 1 << 1000000)),
           "qinv-unreduced": dict(qinv=k.iqmp + k.p)}
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
    n, e = dict(whole, **change)["n"], dict(whole, **change)["e"]
    public = b"".join(tlv(2, x.to_bytes(x.bit_length() // 8 + 1, "big")) for x in (n, e))
    open(path + "." + name + ".public.der", "wb").write(tlv(0x30, public))
