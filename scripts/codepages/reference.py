#!/usr/bin/python3
"""Prints the reference mappings of the table pages for the tests to compare
with: 'P page', then 'D code cp' for every code the source decodes and
'E cp code' for every code point the reference encodes (hex), but for the rows
its source gives differently from release to release (sources.RELEASE_DEPENDENT):
their codes are left out and their code points printed as 'U cp'."""
import multiprocessing
import sys

import sources


def dump(page):
    try:
        dec, enc = sources.reference(page)
    except LookupError as e:
        return 'S %d %s\n' % (page, e)
    codes, points = sources.RELEASE_DEPENDENT.get(page, (set(), set()))
    lines = ['P %d' % page]
    lines += ['D %s %04X' % (code.hex().upper(), cp) for code, cp in sorted(dec.items()) if code not in codes]
    for cp in range(1, 0x10000):
        if cp in points:
            lines.append('U %04X' % cp)
            continue
        e = enc(cp)
        if e:
            lines.append('E %04X %s' % (cp, e.hex().upper()))
    return '\n'.join(lines) + '\n'


if __name__ == '__main__':
    pages = [int(a) for a in sys.argv[1:]] or sources.SINGLE_BYTE + sources.MULTI_BYTE
    with multiprocessing.Pool() as pool:
        for text in pool.imap(dump, pages):
            sys.stdout.write(text)
