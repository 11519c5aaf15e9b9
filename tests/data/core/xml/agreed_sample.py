# Reads lines of a charset name and, tab-separated, CHAR:BYTES pairs (each
# in hex: a character as UTF-8, and the bytes the library writes it as in
# that charset), and prints, for each line, the hex of the characters the
# C library's iconv (which libxml2 reads through) reads from their bytes by
# that name, every one where iconv knows no such name: the characters a
# name means the same by here and there, so that a reader's disagreement is
# about the file, not about a wider table.
import ctypes
import ctypes.util
import sys

libc = ctypes.CDLL(ctypes.util.find_library("c"), use_errno=True)
libc.iconv_open.restype = ctypes.c_void_p
libc.iconv_open.argtypes = [ctypes.c_char_p, ctypes.c_char_p]
libc.iconv.restype = ctypes.c_size_t
libc.iconv.argtypes = [ctypes.c_void_p] + [ctypes.POINTER(ctypes.c_char_p), ctypes.POINTER(ctypes.c_size_t)] * 2
libc.iconv_close.argtypes = [ctypes.c_void_p]
FAILED = ctypes.c_void_p(-1).value


def convert(data, to, frm):
    cd = libc.iconv_open(to.encode(), frm.encode())
    if cd == FAILED:
        return None
    try:
        out = ctypes.create_string_buffer(64 + 8 * len(data))
        src, dst = ctypes.c_char_p(data), ctypes.cast(out, ctypes.c_char_p)
        left, room = ctypes.c_size_t(len(data)), ctypes.c_size_t(len(out))
        if libc.iconv(cd, ctypes.byref(src), ctypes.byref(left), ctypes.byref(dst), ctypes.byref(room)) == FAILED:
            return None
        # The shift back to the initial state, for stateful charsets.
        libc.iconv(cd, None, None, ctypes.byref(dst), ctypes.byref(room))
        return out.raw[: len(out) - room.value]
    finally:
        libc.iconv_close(cd)


for line in sys.stdin:
    name, *pairs = line.rstrip("\n").split("\t")
    pairs = [[bytes.fromhex(x) for x in pair.split(":")] for pair in pairs]
    known = convert(b"a", name, "UTF-8") is not None
    print("".join(c.hex() for c, written in pairs if not known or convert(written, "UTF-8", name) == c))
