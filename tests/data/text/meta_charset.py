# The judge of the HTML charset table (meta-charset.txt): html5lib's
# prescan (html5lib._inputstream.EncodingParser, the WHATWG "prescan a byte
# stream") over each document's first 1,024 bytes, with a 16-bit answer
# read as UTF-8 as the HTML standard has it. html5lib 1.1 predates the two
# XML-declaration steps the standard's prescan has since taken: "<?x" in
# UTF-16 at the very start, and, where no <meta> names one, the encoding
# an XML declaration at the start names ("get an XML encoding"), which the
# judge takes as the standard writes them.
#   meta_charset.py rows FILE    prints each document's bytes in hex, one a line
#   meta_charset.py generate N SEED   the same for N documents generated from
#                                the seed out of the pieces below (none of
#                                the shapes the table leaves out)
#   meta_charset.py judge        reads "hex label" lines (label "-" for none),
#                                prints each row where the label's encoding
#                                differs from html5lib's, then "mismatches N"
import codecs
import random
import re
import sys

import webencodings
from html5lib._inputstream import EncodingParser

PRESCAN_BYTES = 1024


LABELS = ["koi8-r", "windows-1251", "ISO-8859-2", "latin1", "utf-8", "utf-16", "utf-7", "bogus", "Shift_JIS",
          "gb2312", "euc-kr", " KOI8-U ", "UTF-32"]
METAS = [
    "<meta charset=%s>",
    '<meta charset="%s">',
    "<META CHARSET='%s'>",
    '<meta http-equiv="content-type" content="text/html; charset=%s">',
    "<meta content='text/html;charset=\"%s\"' http-equiv=Content-Type>",
    '<meta content="text/html; charset=%s">',
    '<meta http-equiv="Content-Type" charset="%s" content="text/html">',
    '<meta\n\tcharset = "%s" name=x>',
]
OTHERS = [
    "<!-- x -->", "<!-- <meta charset=koi8-r> -->", "<!---->", "<!-- a -- b > -->", "<p>", "</p x='>'>",
    '<p title="<meta charset=koi8-r>">', "<br/>", "<img src=a.gif alt='x\"y'>", "<?pi <meta charset=koi8-r>>",
    '<script>var a = "<meta charset=koi8-r>";</script>', "<!DOCTYPE html>", "a < b", "x>y", "\n", " ",
    '<meta http-equiv="refresh" content="0">', "<meta name=x>", "<metadata charset=koi8-r>", "<meta>",
]


def generated(count, seed):
    rng = random.Random(seed)
    for _ in range(count):
        pieces = []
        for _ in range(rng.randint(1, 8)):
            if rng.randint(0, 2) == 0:
                pieces.append(rng.choice(METAS) % rng.choice(LABELS))
            else:
                pieces.append(rng.choice(OTHERS))
        yield "".join(pieces).encode("latin-1")


def document(line):
    line = re.sub(r"\{pad:(\d+)\}", lambda m: "x" * int(m.group(1)), line)
    return codecs.decode(line, "unicode_escape").encode("latin-1")


def xml_encoding(data):
    if not data.startswith(b"<?xml") or b">" not in data:
        return None
    decl = data[: data.index(b">")]
    at = decl.find(b"encoding")
    if at < 0:
        return None
    rest = decl[at + len(b"encoding") :].lstrip(bytes(range(0x21)))
    if not rest.startswith(b"="):
        return None
    rest = rest[1:].lstrip(bytes(range(0x21)))
    if not rest[:1] or rest[:1] not in b"\"'" or rest[:1] not in rest[1:]:
        return None
    label = rest[1 : rest.index(rest[:1], 1)]
    if any(b <= 0x20 for b in label):
        return None
    return webencodings.lookup(label.decode("latin-1"))


def browsers(data):
    data = data[:PRESCAN_BYTES]
    if data.startswith(b"<\x00?\x00x\x00"):
        return "utf-16le"
    if data.startswith(b"\x00<\x00?\x00x"):
        return "utf-16be"
    found = EncodingParser(data).getEncoding() or xml_encoding(data)
    if found is not None and found.name in ("utf-16be", "utf-16le"):
        found = webencodings.lookup("utf-8")
    if found is not None and found.name == "x-user-defined":
        found = webencodings.lookup("windows-1252")
    return found.name if found is not None else None


if __name__ == "__main__":
    if sys.argv[1] == "generate":
        for data in generated(int(sys.argv[2]), int(sys.argv[3])):
            print(data.hex())
    elif sys.argv[1] == "rows":
        for line in open(sys.argv[2], encoding="ascii"):
            line = line.rstrip("\n")
            if line and not line.startswith("# "):
                print(document(line).hex())
    else:
        bad = 0
        for line in sys.stdin:
            data, label = line.split()
            data = bytes.fromhex(data)
            ours = None
            if label != "-":
                known = webencodings.lookup(label)
                ours = known.name if known is not None else "unknown label " + label
            if ours != browsers(data):
                bad += 1
                print(repr(data), "ours", ours, "html5lib", browsers(data))
        print("mismatches", bad)
