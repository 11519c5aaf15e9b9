#!/usr/bin/python3
"""Reference model of the text byte permutation used before key decryption.

Reads hex-encoded texts, one a line, on stdin; writes each permuted text,
hex-encoded, one a line.
"""
import hashlib
import struct
import sys


def scramble(data: bytes) -> bytes:
    n = len(data)
    if n < 2:
        return data
    perm = list(range(n))
    s = sum(data)
    p = (n * s) & 0xFFFFFFFFFFFFFFFF
    digest = hashlib.md5(struct.pack("<Q", p)).digest()
    j = 0
    k = 0
    for i in range(n):
        t = perm[i]
        j = (j + digest[k] + t) % n
        perm[i] = perm[j]
        perm[j] = t
        k = (k + 1) % 16
    out = bytearray(data)
    for i in range(n - 1, -1, -1):
        out[i], out[perm[i]] = out[perm[i]], out[i]
    return bytes(out)


for line in sys.stdin:
    line = line.strip()
    print(scramble(bytes.fromhex(line)).hex())
