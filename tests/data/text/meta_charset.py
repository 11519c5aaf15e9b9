# The judge of the HTML charset table (meta-charset.txt): html5lib's
# prescan (html5lib._inputstream.EncodingParser, the WHATWG "prescan a byte
# stream") over each document's first 1,024 bytes, with a 16-bit answer
# read as UTF-8 as the HTML standard has it.
#   meta_charset.py rows FILE    prints each document's bytes in hex, one a line
#   meta_charset.py judge        reads "hex label" lines (label "-" for none),
#                                prints each row where the label's encoding
#                                differs from html5lib's, then "mismatches N"
import codecs
import re
import sys

import webencodings
from html5lib._inputstream import EncodingParser

PRESCAN_BYTES = 1024


def document(line):
    line = re.sub(r"\{pad:(\d+)\}", lambda m: "x" * int(m.group(1)), line)
    return codecs.decode(line, "unicode_escape").encode("latin-1")


def browsers(data):
    found = EncodingParser(data[:PRESCAN_BYTES]).getEncoding()
    if found is not None and found.name in ("utf-16be", "utf-16le"):
        found = webencodings.lookup("utf-8")
    return found.name if found is not None else None


if sys.argv[1] == "rows":
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
