#!/usr/bin/python3
"""Second opinions on the table pages, for the tests: every page is decoded by
the converters of the machine that did NOT supply its table (see sources.py),
so a fault in a source cannot hide behind the table made from it.

Prints 'J page judge' before each judge's decoding of a page, then
'D code cp' (hex) for every 1-byte code and every 2-byte code of a
multi-byte page that the judge decodes to one BMP character; codes it refuses
are absent. A page without an independent judge gets no 'J' line; the tests
hold it to the reference-free properties alone."""
import multiprocessing
import sys

import sources

# page: [(kind, name)], kind 'py' (python3 codecs), 'iconv' (glibc), 'icu'.
# Where the judges all disagree with a table (the 'judged' lines of
# differences.txt), and why the table keeps what it has:
# - 720: ICU's IBM table moves the controls 1A, 1C and 7F and leaves 80-9F unassigned.
# - 875: python decodes six unassigned bytes as SUB (U+001A); the judges refuse them.
# - 932, 936: Windows maps the user-defined areas and 932's A0, FD-FF to private use; the
#   judges refuse them.
# - 950: C6A1-C8FE hold the kana and symbols of python's cp950 where Windows, glibc and ICU
#   give private use.
# - 1361: python's johab and glibc's differ at 5C (backslash or won sign) and the filler codes.
# - 10004: Windows gives the right-to-left twins of the ASCII punctuation private-use code
#   points; python's mac_arabic gives them ASCII.
# - 10079: python's mac_iceland and glibc's MAC-IS follow different editions of Apple's table.
# - 20105-20108: the IA5 pages differ from ISO 646 in a few national positions.
# - 20261, 20269: a non-spacing diacritic byte alone decodes to its spacing or private-use
#   form; glibc reads it only before a letter.
# - 20290: glibc's IBM290 gives full-width katakana and punctuation, ICU half-width.
# - 51932: EUC-JP-MS's NEC and IBM rows, which python's euc_jp and ICU map otherwise.
# - 870, 20278, 20285, 20420, 20424, 20838, 20871, 51949: single codes where IBM's tables and
#   the source differ.
JUDGES = {
    37: [('iconv', 'IBM037'), ('icu', 'ibm-37')],
    437: [('iconv', 'IBM437'), ('icu', 'ibm-437')],
    500: [('iconv', 'IBM500'), ('icu', 'ibm-500')],
    720: [('icu', 'ibm-720')],
    870: [('icu', 'ibm-870')],
    874: [('iconv', 'WINDOWS-874'), ('icu', 'windows-874-2000')],
    875: [('iconv', 'IBM875'), ('icu', 'ibm-875')],
    1026: [('iconv', 'IBM1026'), ('icu', 'ibm-1026')],
    1047: [('icu', 'ibm-1047')],
    1140: [('iconv', 'IBM1140'), ('icu', 'ibm-1140')],
    10000: [('iconv', 'MACINTOSH'), ('icu', 'macos-0_2-10.2')],
    10004: [('py', 'mac_arabic')],
    10006: [('icu', 'macos-6_2-10.4')],
    10007: [('iconv', 'MAC-CYRILLIC'), ('icu', 'macos-7_3-10.2')],
    10017: [('iconv', 'MAC-UK')],
    10029: [('iconv', 'MAC-CENTRALEUROPE'), ('icu', 'macos-29-10.2')],
    10079: [('iconv', 'MAC-IS')],
    10081: [('icu', 'macos-35-10.2')],
    20105: [('iconv', 'ISO_646.IRV:1991')],
    20106: [('iconv', 'ISO646-DE')],
    20107: [('iconv', 'ISO646-SE')],
    20108: [('iconv', 'ISO646-NO')],
    20127: [('iconv', 'ASCII'), ('icu', 'US-ASCII')],
    20261: [('iconv', 'T.61-8BIT')],
    20269: [('iconv', 'ISO_6937')],
    20273: [('py', 'cp273'), ('icu', 'ibm-273')],
    20424: [('py', 'cp424'), ('icu', 'ibm-424')],
    20838: [('icu', 'ibm-838')],
    20866: [('iconv', 'KOI8-R'), ('icu', 'ibm-878')],
    21025: [('icu', 'ibm-1025')],
    21866: [('iconv', 'KOI8-U'), ('icu', 'ibm-1168')],
    38598: [('iconv', 'ISO-8859-8'), ('icu', 'iso-8859-8')],
    932: [('iconv', 'CP932'), ('icu', 'windows-932')],
    936: [('py', 'gbk'), ('iconv', 'CP936')],
    949: [('iconv', 'CP949'), ('icu', 'windows-949')],
    950: [('iconv', 'CP950'), ('icu', 'windows-950')],
    1361: [('iconv', 'JOHAB')],
    51932: [('py', 'euc_jp'), ('icu', 'ibm-33722')],
    51936: [('iconv', 'EUC-CN'), ('icu', 'ibm-1383')],
    51949: [('py', 'euc_kr'), ('icu', 'ibm-970')],
    54936: [('py', 'gb18030'), ('iconv', 'GB18030')],
}
for _p in (737, 775, 850, 852, 855, 857, 858, 860, 861, 862, 863, 864, 865, 866, 869):
    JUDGES[_p] = [('iconv', 'CP%d' % _p), ('icu', 'ibm-%d' % _p)]
for _p in range(1141, 1150):
    JUDGES[_p] = [('icu', 'ibm-%d' % _p)]
for _p in range(1250, 1259):
    JUDGES[_p] = [('iconv', 'CP%d' % _p), ('icu', 'windows-%d' % _p)]
for _p in (20277, 20278, 20280, 20284, 20285, 20290, 20297, 20420, 20871):
    JUDGES[_p] = [('icu', 'ibm-%d' % (_p - 20000))]
for _p, _n in ((28591, 1), (28592, 2), (28593, 3), (28594, 4), (28595, 5), (28596, 6), (28597, 7), (28598, 8),
               (28599, 9), (28603, 13), (28605, 15)):
    JUDGES[_p] = [('iconv', 'ISO-8859-%d' % _n), ('icu', 'iso-8859-%d' % _n)]


def decoder(kind, name):
    if kind == 'py':
        return lambda b: sources._try(lambda: b.decode(name))
    if kind == 'iconv':
        conv = sources.Iconv('UTF-16LE', name)
        return lambda b: sources._u16(conv.run(b))
    return sources.Icu(name).decode


def single_char(s):
    """The code point of a decoding that is one BMP character, else None."""
    if s is None or len(s) != 1 or ord(s) > 0xFFFF or 0xD800 <= ord(s) <= 0xDFFF:
        return None
    return ord(s)


def dump(page):
    lines = []
    for kind, name in JUDGES.get(page, []):
        dec = decoder(kind, name)
        lines.append('J %d %s:%s' % (page, kind, name))
        for code in sources.candidates(page):
            cp = single_char(dec(code))
            if cp is not None:
                lines.append('D %s %04X' % (code.hex().upper(), cp))
    return '\n'.join(lines) + '\n' if lines else ''


if __name__ == '__main__':
    pages = [int(a) for a in sys.argv[1:]] or sources.SINGLE_BYTE + sources.MULTI_BYTE
    with multiprocessing.Pool() as pool:
        for text in pool.imap(dump, pages):
            sys.stdout.write(text)
