# Dumps each XML file named on the command line in the canonical form of
# tests/netlib/core/XmlTestSupport.h, as python's xml.etree reads it, mapped
# onto the library's tree model: an element's text runs (its text and its
# children's tails) join into one content; a run is its leading whitespace
# ("held") and the rest; a run with nothing after the whitespace adds
# nothing; a later run joins with the held whitespace and one blank.
# Files are separated by a line holding only "==".
import sys
import xml.etree.ElementTree as ET

WS = " \t\r\n"


def esc(s):
    return "".join(chr(b) if 0x20 <= b < 0x7F and b != 0x5C else "\\x%02x" % b for b in s.encode("utf-8"))


def content(e):
    c = ""
    for piece in [e.text] + [k.tail for k in e]:
        if piece is None:
            continue
        run = piece.lstrip(WS)
        if not run:
            continue
        held = piece[: len(piece) - len(run)]
        c = c + held + (" " if c else "") + run
    return c


def dump(e, depth, out):
    attrs = "".join(' %s="%s"' % (esc(k), esc(v)) for k, v in e.attrib.items())
    out.append("  " * depth + esc(e.tag) + attrs + " |" + esc(content(e)) + "|")
    for k in e:
        dump(k, depth + 1, out)


chunks = []
for path in sys.argv[1:]:
    lines = []
    dump(ET.parse(path).getroot(), 0, lines)
    chunks.append("\n".join(lines) + "\n")
sys.stdout.write("==\n".join(chunks))
