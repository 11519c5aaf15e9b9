"""Reads the published mapping of each table page from the sources on the
machine: python3's codecs, glibc's iconv and ICU's converters (both through
ctypes, no processes), and, for pages none of them covers, the npm package
`codepage` (Apache-2.0).

decode_map(page) gives {code bytes: code point} for every 1- and 2-byte code
(and 3-byte code of the pages in THREE_BYTE) the source decodes to one BMP
character; encode(page, cp) gives the bytes the reference writes for one code
point, or None."""
import codecs
import ctypes
import ctypes.util
import glob
import json
import os
import subprocess

SINGLE_BYTE = [37, 437, 500, 708, 720, 737, 775, 850, 852, 855, 857, 858, 860, 861, 862, 863, 864, 865, 866,
               869, 870, 874, 875, 1026, 1047, 1140, 1141, 1142, 1143, 1144, 1145, 1146, 1147, 1148, 1149, 1250,
               1251, 1252, 1253, 1254, 1255, 1256, 1257, 1258, 10000, 10004, 10005, 10006, 10007, 10010, 10017,
               10021, 10029, 10079, 10081, 10082, 20105, 20106, 20107, 20108, 20127, 20261, 20269, 20273, 20277,
               20278, 20280, 20284, 20285, 20290, 20297, 20420, 20423, 20424, 20838, 20866, 20871, 20880, 20905,
               20924, 21025, 21866, 28591, 28592, 28593, 28594, 28595, 28596, 28597, 28598, 28599, 28603, 28605,
               38598]
MULTI_BYTE = [932, 936, 949, 950, 1361, 10001, 51932, 51936, 51949, 54936]
# Pages whose four-byte codes the engine computes (GB18030: the BMP ranges and
# the supplementary planes); their tables hold the 1- and 2-byte codes.
FOUR_BYTE = [54936]
# Pages whose tables also hold three-byte codes: the lead byte, then two
# bytes of 0xA1 to 0xFE (EUC-JP's JIS X 0212 behind SS3).
THREE_BYTE = {51932: 0x8F}
THREE_BYTE_TRAILS = range(0xA1, 0xFF)

PY = {37: 'cp037', 437: 'cp437', 500: 'cp500', 720: 'cp720', 737: 'cp737', 775: 'cp775', 850: 'cp850',
      852: 'cp852', 855: 'cp855', 857: 'cp857', 858: 'cp858', 860: 'cp860', 861: 'cp861', 862: 'cp862',
      863: 'cp863', 864: 'cp864', 865: 'cp865', 866: 'cp866', 869: 'cp869', 874: 'cp874', 875: 'cp875',
      1026: 'cp1026', 1140: 'cp1140', 1250: 'cp1250', 1251: 'cp1251', 1252: 'cp1252', 1253: 'cp1253',
      1254: 'cp1254', 1255: 'cp1255', 1256: 'cp1256', 1257: 'cp1257', 1258: 'cp1258', 10000: 'mac_roman',
      10006: 'mac_greek', 10007: 'mac_cyrillic', 10010: 'mac_romanian', 10029: 'mac_latin2',
      10079: 'mac_iceland', 10081: 'mac_turkish', 10082: 'mac_croatian', 20127: 'ascii', 20866: 'koi8_r',
      21866: 'koi8_u', 28591: 'latin_1', 28592: 'iso8859_2', 28593: 'iso8859_3', 28594: 'iso8859_4',
      28595: 'iso8859_5', 28596: 'iso8859_6', 28597: 'iso8859_7', 28598: 'iso8859_8', 28599: 'iso8859_9',
      28603: 'iso8859_13', 28605: 'iso8859_15', 38598: 'iso8859_8',
      932: 'cp932', 949: 'cp949', 950: 'cp950', 1361: 'johab', 51936: 'gb2312'}
ICONV = {870: 'IBM870', 1047: 'IBM1047', 1141: 'IBM1141', 1142: 'IBM1142', 1143: 'IBM1143', 1144: 'IBM1144',
         1145: 'IBM1145', 1146: 'IBM1146', 1147: 'IBM1147', 1148: 'IBM1148', 1149: 'IBM1149',
         20273: 'IBM273', 20277: 'IBM277', 20278: 'IBM278', 20280: 'IBM280', 20284: 'IBM284',
         20285: 'IBM285', 20290: 'IBM290', 20297: 'IBM297', 20420: 'IBM420', 20423: 'IBM423',
         20424: 'IBM424', 20871: 'IBM871', 20880: 'IBM880', 20905: 'IBM905', 21025: 'IBM1025',
         51932: 'EUC-JP-MS', 51949: 'EUC-KR'}
ICU = {936: 'windows-936-2000', 54936: 'gb18030'}
# Rows a reference gives differently from one release of its source to the
# next: the comparison with the reference leaves them out (python's codec and
# iconv, which judge them alike on Debian 12 and 13, and the round trip still
# hold the table to them). ICU's gb18030 from 73 on (Debian 13 has 76) follows
# GB18030-2022, where A6D9-A6DF, A6EC, A6ED and A6F3 read as the vertical
# forms U+FE10-FE19 and FE59, FE61, FE66, FE67, FE6D, FE7E, FE90 and FEA0 as
# U+9FB4-9FBB, written back so, and the Encoding Standard, where 80 reads as
# U+20AC and A3A0 as U+3000; ICU 72 (Debian 12) reads all of them as
# GB18030-2005 does, private-use characters for the 18 and nothing for 80, and
# so does the table. By GB18030-2022 A3A0 is U+E5E5 and 80 no code, as here.
RELEASE_DEPENDENT = {
    54936: ({bytes.fromhex(c) for c in ('80 A3A0 A6D9 A6DA A6DB A6DC A6DD A6DE A6DF A6EC A6ED A6F3 '
                                        'FE59 FE61 FE66 FE67 FE6D FE7E FE90 FEA0').split()},
            set(range(0x9FB4, 0x9FBC)) | set(range(0xFE10, 0xFE1A))),
}
NPM = [708, 10004, 10005, 10017, 10021, 20105, 20106, 20107, 20108, 20261, 20269, 20838, 20924, 10001]
# ICU's Windows converters: the judge of which code a code point shared by
# several codes is written as.
ICU_WINDOWS = {932: 'windows-932', 936: 'windows-936-2000', 949: 'windows-949-2000', 950: 'windows-950-2000'}
for _p in range(1250, 1259):
    ICU_WINDOWS[_p] = 'windows-%d' % _p


def source_name(page):
    if page in PY:
        return 'python3 codec %s' % PY[page]
    if page in ICONV:
        return 'glibc iconv %s' % ICONV[page]
    if page in ICU:
        return 'ICU converter %s' % ICU[page]
    return 'npm codepage %d' % page


def is_multi(page):
    return page in MULTI_BYTE


def candidates(page):
    yield from (bytes([b]) for b in range(1, 256))
    if is_multi(page):
        for lead in range(0x80, 0x100):
            for trail in range(0x21, 0x100):
                yield bytes([lead, trail])
    if page in THREE_BYTE:
        for second in THREE_BYTE_TRAILS:
            for third in THREE_BYTE_TRAILS:
                yield bytes([THREE_BYTE[page], second, third])


# ---- glibc iconv ----------------------------------------------------------
_libc = ctypes.CDLL(ctypes.util.find_library('c'), use_errno=True)
_libc.iconv_open.restype = ctypes.c_void_p
_libc.iconv_open.argtypes = [ctypes.c_char_p, ctypes.c_char_p]
_libc.iconv.restype = ctypes.c_size_t
_libc.iconv.argtypes = [ctypes.c_void_p, ctypes.POINTER(ctypes.c_char_p), ctypes.POINTER(ctypes.c_size_t),
                        ctypes.POINTER(ctypes.c_char_p), ctypes.POINTER(ctypes.c_size_t)]


class Iconv:
    def __init__(self, to, frm):
        self.cd = _libc.iconv_open(to.encode(), frm.encode())
        if self.cd in (None, ctypes.c_void_p(-1).value, 2**64 - 1):
            raise LookupError('%s -> %s' % (frm, to))

    def run(self, data):
        _libc.iconv(self.cd, None, None, None, None)
        src = ctypes.create_string_buffer(data, len(data))
        dst = ctypes.create_string_buffer(64)
        ps, pd = ctypes.c_char_p(ctypes.addressof(src)), ctypes.c_char_p(ctypes.addressof(dst))
        ns, nd = ctypes.c_size_t(len(data)), ctypes.c_size_t(64)
        r = _libc.iconv(self.cd, ctypes.byref(ps), ctypes.byref(ns), ctypes.byref(pd), ctypes.byref(nd))
        if r == 2**64 - 1 or ns.value:
            return None
        # flush a shift state, if any
        r = _libc.iconv(self.cd, None, None, ctypes.byref(pd), ctypes.byref(nd))
        return dst.raw[:64 - nd.value]


# ---- ICU ----------------------------------------------------------------
def _icu():
    path = sorted(glob.glob('/usr/lib/*/libicuuc.so.[0-9]*'))[0]
    lib = ctypes.CDLL(path)
    ver = path.split('.so.')[1].split('.')[0]
    return lib, '_' + ver


class Icu:
    lib = None

    def __init__(self, name):
        if Icu.lib is None:
            Icu.lib, Icu.suffix = _icu()
        f = lambda n: getattr(Icu.lib, n + Icu.suffix)
        self.f = f
        err = ctypes.c_int(0)
        f('ucnv_open').restype = ctypes.c_void_p
        self.cnv = ctypes.c_void_p(f('ucnv_open')(name.encode(), ctypes.byref(err)))
        if err.value > 0:
            raise LookupError(name)
        stop_to = ctypes.cast(f('UCNV_TO_U_CALLBACK_STOP'), ctypes.c_void_p)
        stop_from = ctypes.cast(f('UCNV_FROM_U_CALLBACK_STOP'), ctypes.c_void_p)
        f('ucnv_setToUCallBack')(self.cnv, stop_to, None, None, None, ctypes.byref(err))
        f('ucnv_setFromUCallBack')(self.cnv, stop_from, None, None, None, ctypes.byref(err))

    def decode(self, data):
        err = ctypes.c_int(0)
        out = (ctypes.c_uint16 * 16)()
        n = self.f('ucnv_toUChars')(self.cnv, out, 16, data, len(data), ctypes.byref(err))
        if err.value > 0:
            return None
        return ''.join(chr(out[i]) for i in range(n)).encode('utf-16-le', 'surrogatepass').decode('utf-16-le', 'replace')

    def encode(self, text):
        err = ctypes.c_int(0)
        u = text.encode('utf-16-le', 'surrogatepass')
        src = (ctypes.c_uint16 * (len(u) // 2)).from_buffer_copy(u)
        out = ctypes.create_string_buffer(16)
        n = self.f('ucnv_fromUChars')(self.cnv, out, 16, src, len(u) // 2, ctypes.byref(err))
        if err.value > 0:
            return None
        return out.raw[:n]


# ---- npm codepage -----------------------------------------------------------
def npm_dir():
    here = os.path.dirname(os.path.abspath(__file__))
    for d in [os.environ.get('GRV_NPM_CODEPAGE', ''), os.path.join(here, 'node_modules', 'codepage'),
              '/usr/local/lib/node_modules/codepage', '/usr/lib/node_modules/codepage']:
        if d and os.path.isfile(os.path.join(d, 'cptable.js')):
            return d
    return None


_npm_cache = {}


EXTRACT = os.path.join(os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__)))),
                       'tests', 'data', 'text', 'codepage-npm.json')


def _npm_dec(page):
    """The package's decoding list of a page; without the package, the
    extract of it kept in tests/data/text."""
    if page not in _npm_cache:
        d = npm_dir()
        if d is not None:
            js = 'const t=require(%s)[%d];process.stdout.write(JSON.stringify(t.dec));' % (json.dumps(d), page)
            out = subprocess.run(['node', '-e', js], capture_output=True, check=True).stdout
            _npm_cache[page] = json.loads(out)
        else:
            with open(EXTRACT) as f:
                pairs = json.load(f).get(str(page))
            if pairs is None:
                raise LookupError('page %d: neither the npm package codepage nor its extract' % page)
            size = max(int(k, 16) for k in pairs) + 1
            dec = [None] * size
            for k, v in pairs.items():
                dec[int(k, 16)] = chr(int(v, 16))
            _npm_cache[page] = dec
        _npm_cache[page] = _mend_npm(page, _npm_cache[page])
    return _npm_cache[page]


# The package gives bytes 0x00 and 0x01 of some pages the character of 0xFF,
# or nothing; in every page they are NUL and SOH (python, iconv and ICU agree
# wherever they have the page).
C0_KEPT = {0x00: '\x00', 0x01: '\x01'}


def _mend_npm(page, dec):
    dec = list(dec)
    for code, ch in C0_KEPT.items():
        if dec[code] != ch:
            dec[code] = ch
    return dec


# ---- one page ---------------------------------------------------------------
class Page:
    def __init__(self, page):
        self.page = page
        self.multi = is_multi(page)
        if page in PY:
            name = PY[page]
            self._dec = lambda b: _try(lambda: b.decode(name))
            self._enc = lambda c: _try(lambda: c.encode(name))
        elif page in ICONV:
            dec, enc = Iconv('UTF-16LE', ICONV[page]), Iconv(ICONV[page], 'UTF-16LE')
            self._dec = lambda b: _u16(dec.run(b))
            self._enc = lambda c: enc.run(c.encode('utf-16-le'))
        elif page in ICU:
            cnv = Icu(ICU[page])
            self._dec, self._enc = cnv.decode, cnv.encode
        else:
            dec = _npm_dec(page)
            table = {}
            for i, ch in enumerate(dec):
                if ch is None or ch in ('\ufffd', ''):
                    continue
                if i == 0:
                    continue
                if i < 256:
                    table[bytes([i])] = ch
                elif self.multi:
                    table[bytes([i >> 8, i & 0xFF])] = ch
            inv = {}
            for code, ch in sorted(table.items(), key=lambda kv: (len(kv[0]), kv[0])):
                inv.setdefault(ch, code)
            self._dec = table.get
            self._enc = inv.get
        self.windows = Icu(ICU_WINDOWS[page]) if page in ICU_WINDOWS else None

    def decode_map(self):
        m = {}
        for code in candidates(self.page):
            s = self._dec(code)
            if s is None or len(s) != 1 or ord(s) == 0 or ord(s) > 0xFFFF or 0xD800 <= ord(s) <= 0xDFFF:
                continue
            m[code] = ord(s)
        return m

    def source_encode(self, cp):
        if 0xD800 <= cp <= 0xDFFF:
            return None
        return self._enc(chr(cp)) or None

    def windows_encode(self, cp):
        return self.windows.encode(chr(cp)) if self.windows else None


def _try(f):
    try:
        return f()
    except (UnicodeError, LookupError):
        return None


def _u16(b):
    return None if b is None else b.decode('utf-16-le', 'surrogatepass')


def reference(page):
    """The reference decode map and the reference encoder: the source's own,
    except that a code point several codes decode to is written as ICU's
    Windows converter writes it (where there is one)."""
    p = Page(page)
    dec = p.decode_map()
    count = {}
    for cp in dec.values():
        count[cp] = count.get(cp, 0) + 1

    def enc(cp):
        if count.get(cp, 0) > 1:
            w = p.windows_encode(cp)
            if w is not None and dec.get(w) == cp:
                return w
        return p.source_encode(cp)
    return dec, enc
