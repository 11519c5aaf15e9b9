#!/usr/bin/python3
"""Writes netlib/text/CodePageTableText.cpp, the stored code-page tables, and
scripts/codepages/differences.txt, every place where a table departs from its
reference (see sources.py for the reference of each page).

Stored table: a marker ('b': bzip2 blob behind the 8-byte header, 'x': plain),
then the base64 of the unpacked table: 'a' or '-' (ASCII-compatible or not),
'm' (mapping records), single-byte records (code delta, 16-bit code-point
delta) ended by 0, double-byte records (16-bit code delta, 16-bit code-point
delta) ended by a 16-bit 0, and on pages with three-byte codes, three-byte
records (24-bit code delta, 16-bit code-point delta) ended by a 24-bit 0. A
code point several codes decode to is written as the code whose record comes
first, so that record goes first."""
import base64
import bz2
import os
import struct
import sys

import judges
import sources

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(os.path.dirname(HERE))
BLOCK = 400


def ascii_compatible(dec, enc):
    return all(dec.get(bytes([b])) == b and enc(b) == bytes([b]) for b in range(1, 0x80))


def build(page):
    dec, enc = sources.reference(page)
    diffs = []
    asc = ascii_compatible(dec, enc)
    by_cp = {}
    for code, cp in dec.items():
        by_cp.setdefault(cp, []).append(code)
    first = set()      # codes that must come before the others of their code point
    extra = []         # encode-only mappings
    long_codes = 0
    for cp in range(1, 0x10000):
        want = enc(cp)
        codes = by_cp.get(cp, [])
        if want is None:
            if codes:
                diffs.append('encode U+%04X ours=%s ref=none' % (cp, codes_text(
                    sorted(codes, key=lambda c: (len(c), c))[0])))
            continue
        if asc and cp < 0x80:
            continue
        if want in codes:
            if len(codes) > 1:
                if len(want) == 2 and any(len(c) == 1 for c in codes):
                    diffs.append('encode U+%04X ours=%s ref=%s' % (cp, codes_text(
                        [c for c in codes if len(c) == 1][0]), codes_text(want)))
                first.add(want)
            continue
        if len(want) > (3 if page in sources.THREE_BYTE else 2):
            if page not in sources.FOUR_BYTE:
                long_codes += 1
            continue
        if want in dec:
            extra.append((want, cp))
        else:
            diffs.append('encode U+%04X ours=%s ref=%s' % (cp, codes_text(codes[0]) if codes else 'none',
                                                         codes_text(want)))
    if long_codes:
        diffs.append('longer-codes-not-kept %d' % long_codes)
    diffs += round_trip_exceptions(dec, enc)
    diffs += judged_differences(page, dec)
    if page in (1256, 28596):
        # The converter writes Arabic-Indic digits as ASCII digits on these pages.
        for cp in list(range(0x660, 0x66A)) + list(range(0x6F0, 0x6FA)):
            want = enc(cp)
            if want != bytes([0x30 + (cp & 0xF)]):
                diffs.append('encode U+%04X ours=%02X ref=%s' % (cp, 0x30 + (cp & 0xF),
                                                             codes_text(want) if want else 'none'))
    by_length = {1: [], 2: [], 3: []}
    for code, cp in dec.items():
        if asc and len(code) == 1 and code[0] < 0x80:
            continue
        by_length[len(code)].append((code, cp))

    def order(recs):
        recs.sort(key=lambda r: (0 if r[0] in first or len(by_cp[r[1]]) == 1 else 1, r[0]))
        return recs
    singles = order(by_length[1]) + [r for r in extra if len(r[0]) == 1]
    doubles = order(by_length[2]) + [r for r in extra if len(r[0]) == 2]
    triples = order(by_length[3]) + [r for r in extra if len(r[0]) == 3]
    body = bytearray(b'a' if asc else b'-')
    body += b'm'
    code = cpv = 0
    for c, cp in singles:
        d = (c[0] - code) % 256
        assert d != 0
        body += struct.pack('<BH', d, (cp - cpv) % 65536)
        code, cpv = c[0], cp
    body += b'\0'
    code = cpv = 0
    for c, cp in doubles:
        v = (c[0] << 8) | c[1]
        d = (v - code) % 65536
        assert d != 0
        body += struct.pack('<HH', d, (cp - cpv) % 65536)
        code, cpv = v, cp
    body += b'\0\0'
    if triples:
        code = cpv = 0
        for c, cp in triples:
            v = (c[0] << 16) | (c[1] << 8) | c[2]
            d = (v - code) % (1 << 24)
            assert d != 0
            body += struct.pack('<I', d)[:3] + struct.pack('<H', (cp - cpv) % 65536)
            code, cpv = v, cp
        body += b'\0\0\0'
    return stored_text(bytes(body)), diffs


def round_trip_exceptions(dec, enc):
    """Codes that do not come back from their code point: a single byte that
    is not written as itself, or a two-byte code written as a code that
    decodes to something else or as another code of a character it alone has."""
    count = {}
    for cp in dec.values():
        count[cp] = count.get(cp, 0) + 1
    out = []
    for code, cp in sorted(dec.items(), key=lambda kv: (len(kv[0]), kv[0])):
        back = enc(cp)
        if back == code or (len(code) >= 2 and count[cp] > 1 and back is not None and dec.get(back) == cp):
            continue
        out.append('roundtrip %s U+%04X writes=%s' % (codes_text(code).replace(' ', ''), cp,
                                                      codes_text(back).replace(' ', '') if back else 'none'))
    return out


def judged_differences(page, dec):
    """Codes on which the table agrees with none of the page's independent
    judges (judges.py)."""
    decoders = [judges.decoder(kind, name) for kind, name in judges.JUDGES.get(page, [])]
    if not decoders:
        return []
    out = []
    for code in sources.candidates(page):
        ours = dec.get(code)
        theirs = [judges.single_char(d(code)) for d in decoders]
        if ours in theirs:
            continue
        out.append('judged %s ours=%s judges=%s' % (code.hex().upper(), cp_text(ours),
                                                    ','.join(cp_text(t) for t in theirs)))
    return out


def cp_text(cp):
    return 'none' if cp is None else 'U+%04X' % cp


def stored_text(body):
    packed = struct.pack('<II', 0xB394A7E1, len(body)) + bz2.compress(body, 3)
    if len(packed) < len(body):
        return 'b' + base64.b64encode(packed).decode()
    return 'x' + base64.b64encode(body).decode()


def codes_text(code):
    return ' '.join('%02X' % b for b in code)


def jis_extension():
    """Page 932 codes of ISO-2022-JP rows 0x79 to 0x7C: the inverse of the
    IBM extension rows (leads FA to FC) as ISO-2022-JP writes them."""
    ranges = [(0xFA, 0x40, 0x49, 0x7C, 0x31), (0xFA, 0x55, 0x57, 0x7C, 0x27), (0xFA, 0x5C, 0x7E, 0x79, -0x3B),
              (0xFA, 0x80, 0xBA, 0x79, -0x3C), (0xFA, 0xBB, 0xFC, 0x7A, -0x9A), (0xFB, 0x40, 0x5B, 0x7A, 0x23),
              (0xFB, 0x5C, 0x7E, 0x7B, -0x3B), (0xFB, 0x80, 0xBA, 0x7B, -0x3C), (0xFB, 0xBB, 0xFC, 0x7C, -0x9A),
              (0xFC, 0x40, 0x4B, 0x7C, 0x23)]
    table = bytearray(503 * 2)
    for lead, lo, hi, row, add in ranges:
        for t in range(lo, hi + 1):
            i = (row - 0x79) * 94 + (t + add - 0x21)
            table[2 * i:2 * i + 2] = bytes([lead, t])
    return base64.b64encode(bytes(table)).decode()


def gb18030_ranges():
    """GB18030's four-byte codes of the BMP as runs (first linear index, first
    code point): linear index = ((b1-0x81)*10 + b2-0x30)*126 + b3-0x81)*10 + b4-0x30,
    read from the page's source converter."""
    cnv = sources.Icu(sources.ICU[54936])
    runs, last = [], None
    for i in range(GB18030_BMP_CODES):
        rest, b4 = divmod(i, 10)
        rest, b3 = divmod(rest, 126)
        b1, b2 = divmod(rest, 10)
        s = cnv.decode(bytes([0x81 + b1, 0x30 + b2, 0x81 + b3, 0x30 + b4]))
        assert s is not None and len(s) == 1, i
        cp = ord(s)
        if last is None or cp != last + 1:
            runs.append((i, cp))
        last = cp
    return runs


GB18030_BMP_CODES = 39420


def c_blocks(text):
    return ['"%s"' % text[i:i + BLOCK] for i in range(0, len(text), BLOCK)]


def main():
    out = ['// Generated by scripts/codepages/generate.py from the sources named beside',
           '// each table; do not edit.',
           '#include "netlib/text/CodePageTableText.h"', '', 'namespace tessik::cptext {', '']
    difflines = ['# Where a stored table departs from its reference source (scripts/codepages/sources.py).',
                 '# Written by scripts/codepages/generate.py; the tests allow exactly these. Lines:',
                 '#   PAGE encode U+XXXX ours=BYTES|none ref=BYTES|none',
                 '#   PAGE longer-codes-not-kept N: N code points the reference writes in longer codes',
                 '#        than the page\'s table holds (1 and 2 bytes, 3 on EUC-JP) are unmappable here.',
                 '#   PAGE roundtrip CODE U+XXXX writes=BYTES|none: a code that does not come back from',
                 '#        its code point (several bytes of the page decode to it).',
                 '#   PAGE judged CODE ours=U+XXXX|none judges=...: a code on which the table agrees with',
                 '#        none of the independent judges of the page (judges.py); see the notes there.',
                 '']
    index = []
    for page in sources.SINGLE_BYTE + sources.MULTI_BYTE:
        text, diffs = build(page)
        out.append('// %d: %s' % (page, sources.source_name(page)))
        out.append('static const char* const kPage%d[] = {' % page)
        out += ['    %s,' % b for b in c_blocks(text)]
        out.append('    nullptr};')
        index.append('    {%d, kPage%d},' % (page, page))
        for d in diffs:
            difflines.append('%d %s' % (page, d))
        print(page, len(text), len(diffs), file=sys.stderr)
    out.append('')
    out.append('const PageText kPageTexts[] = {')
    out += index
    out.append('    {0, nullptr}};')
    out.append('')
    out.append('const char kJisExtension[] =')
    out += ['    %s' % b for b in c_blocks(jis_extension())]
    out[-1] += ';'
    out += ['', '// GB18030 four-byte codes of the BMP: (first linear index, first code point) of',
            '// each run; %s' % sources.source_name(54936) + '.',
            'const Gb18030Run kGb18030Runs[] = {']
    runs = gb18030_ranges()
    for i in range(0, len(runs), 6):
        out.append('    ' + ' '.join('{%d, 0x%04X},' % r for r in runs[i:i + 6]))
    out += ['};', 'const int kGb18030RunCount = %d;' % len(runs)]
    out += ['', '}  // namespace tessik::cptext', '']
    with open(os.path.join(ROOT, 'netlib/text/CodePageTableText.cpp'), 'w') as f:
        f.write('\n'.join(out))
    with open(os.path.join(HERE, 'differences.txt'), 'w') as f:
        f.write('\n'.join(difflines) + '\n')


if __name__ == '__main__':
    main()
