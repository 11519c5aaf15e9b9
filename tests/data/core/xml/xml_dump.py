# Dumps each XML file named on the command line in the canonical form of
# tests/netlib/core/XmlTestSupport.h, as python's expat (xml.parsers.expat,
# no namespace processing, as XML 1.0 has it) reads it, mapped onto the
# library's tree model: an element's text runs (its text before its first
# child and the text after each child) join into one content; a run is its
# leading whitespace ("held") and the rest; a run with nothing after the
# whitespace adds nothing; a later run joins with the held whitespace and
# one blank. A file expat refuses (an encoding it cannot read included)
# prints "ill-formed: " and its message.
# Expat reads UTF-8, UTF-16 and the 8-bit charsets itself; a file that
# starts with a UTF-32 byte-order mark is decoded by python's codec and the
# text given to expat. Files are separated by a line holding only "==".
# With --as-utf8 first, every file is read as UTF-8 whatever its
# declaration names, as a text the library hands back is. With --libxml2
# first, libxml2 (lxml, no network, no DTD loaded) reads each file instead,
# as the current XML Recommendation has names, and "ill-formed: " prints
# its message.
import sys
import xml.parsers.expat

WS = " \t\r\n"


def esc(s):
    return "".join(chr(b) if 0x20 <= b < 0x7F and b != 0x5C else "\\x%02x" % b for b in s.encode("utf-8"))


def content(runs):
    c = ""
    for piece in runs:
        run = piece.lstrip(WS)
        if not run:
            continue
        held = piece[: len(piece) - len(run)]
        c = c + held + (" " if c else "") + run
    return c


def dump(e, depth, out):
    attrs = "".join(' %s="%s"' % (esc(e["attrs"][i]), esc(e["attrs"][i + 1])) for i in range(0, len(e["attrs"]), 2))
    out.append("  " * depth + esc(e["tag"]) + attrs + " |" + esc(content(e["runs"])) + "|")
    for k in e["children"]:
        dump(k, depth + 1, out)


def read(path, as_utf8):
    data = open(path, "rb").read()
    if data[:4] in (b"\x00\x00\xfe\xff", b"\xff\xfe\x00\x00"):
        data = data.decode("utf-32")
    roots = []
    stack = []

    def start(name, attrs):
        e = {"tag": name, "attrs": attrs, "runs": [""], "children": []}
        if stack:
            stack[-1]["children"].append(e)
            stack[-1]["runs"].append("")
        else:
            roots.append(e)
        stack.append(e)

    def chars(text):
        if stack:
            stack[-1]["runs"][-1] += text

    p = xml.parsers.expat.ParserCreate("utf-8" if as_utf8 else None)
    p.ordered_attributes = True
    p.StartElementHandler = start
    p.EndElementHandler = lambda name: stack.pop()
    p.CharacterDataHandler = chars
    try:
        p.Parse(data, True)
    except (xml.parsers.expat.ExpatError, ValueError) as e:
        return "ill-formed: %s\n" % e
    lines = []
    dump(roots[0], 0, lines)
    return "\n".join(lines) + "\n"


def element_of(e):
    # Text after a comment or instruction goes on the run it interrupts.
    out = {"tag": e.tag, "attrs": [v for kv in e.attrib.items() for v in kv], "runs": [e.text or ""], "children": []}
    for k in e:
        if isinstance(k.tag, str):
            out["children"].append(element_of(k))
            out["runs"].append("")
        out["runs"][-1] += k.tail or ""
    return out


def read_libxml2(path):
    import lxml.etree as E

    parser = E.XMLParser(resolve_entities=False, no_network=True, load_dtd=False)
    try:
        root = E.parse(path, parser).getroot()
    except E.XMLSyntaxError as e:
        return "ill-formed: %s\n" % str(e).replace("\n", " ")
    lines = []
    dump(element_of(root), 0, lines)
    return "\n".join(lines) + "\n"


args = sys.argv[1:]
if args[:1] == ["--libxml2"]:
    sys.stdout.write("==\n".join(read_libxml2(path) for path in args[1:]))
else:
    as_utf8 = args[:1] == ["--as-utf8"]
    sys.stdout.write("==\n".join(read(path, as_utf8) for path in args[as_utf8:]))
