# Reads lines of a charset name and, tab-separated, CHAR:BYTES pairs (each
# in hex: a character as UTF-8, and the bytes the library writes it as in
# that charset), and prints, for each line, the hex of the characters the
# C library's iconv (which libxml2 reads through) reads from their bytes by
# that name, every one where iconv knows no such name: the characters a
# name means the same by here and there, so that a reader's disagreement is
# about the file, not about a wider table. A name may come after the
# standard it names ("GB2312 chinese", "python:big5 big5"), which must read
# the character too: iconv by its name, or python's codec.
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


def python_reads(written, codec):
    try:
        return written.decode(codec).encode("utf-8")
    except UnicodeError:
        return None


def reads(written, judge):
    """What a judge reads from bytes: iconv by a charset name, or python's
    codec for "python:CODEC"; True where iconv knows no such name."""
    if judge.startswith("python:"):
        return python_reads(written, judge[len("python:") :])
    if convert(b"a", judge, "UTF-8") is None:
        return True
    return convert(written, "UTF-8", judge)


# A line's first field is the name, or "STANDARD NAME": a name of a standard
# its page extends, whose characters the standard's judge must read too.
for line in sys.stdin:
    first, *pairs = line.rstrip("\n").split("\t")
    judges = first.split(" ")
    pairs = [[bytes.fromhex(x) for x in pair.split(":")] for pair in pairs]
    print("".join(c.hex() for c, written in pairs if all(reads(written, j) in (True, c) for j in judges)))
