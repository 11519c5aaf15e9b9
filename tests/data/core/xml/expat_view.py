# The writer's judge: python's expat (xml.parsers.expat, no namespace
# processing, as XML 1.0 has it) reads each file named on the command line,
# as UTF-8 whatever its declaration names (the writer's text is UTF-8),
# and prints what a reader sees of it: one line per element, depth*2 blanks,
# the tag, ' name="value"' per attribute in document order (defaults from a
# DOCTYPE left out), then ' |text|' with the element's character data before
# its first child. Character data after a child must be whitespace (the
# writer's layout); anything else prints a line 'TAIL |text|'. A file expat
# refuses prints 'ill-formed: ' and its message. Files are separated by '=='.
# Bytes outside printable ASCII, and the backslash, print as \xHH of UTF-8.
# With --libxml2 first, libxml2 (lxml) reads each file instead, names as the
# current XML Recommendation has them.
import sys
import xml.parsers.expat

WS = " \t\r\n"


def esc(s):
    return "".join(chr(b) if 0x20 <= b < 0x7F and b != 0x5C else "\\x%02x" % b for b in s.encode("utf-8"))


def view(path):
    lines = []
    stack = []  # [line index, text, has child]

    def start(name, attrs):
        if stack:
            stack[-1][2] = True
        pairs = "".join(' %s="%s"' % (esc(attrs[i]), esc(attrs[i + 1])) for i in range(0, len(attrs), 2))
        lines.append("  " * len(stack) + esc(name) + pairs)
        stack.append([len(lines) - 1, "", False])

    def end(name):
        index, text, _ = stack.pop()
        lines[index] += " |" + esc(text) + "|"

    def chars(data):
        if not stack:
            return
        if stack[-1][2]:
            if data.strip(WS):
                lines.append("TAIL |" + esc(data) + "|")
        else:
            stack[-1][1] += data

    p = xml.parsers.expat.ParserCreate("utf-8")
    p.ordered_attributes = True
    p.specified_attributes = True
    p.buffer_text = True
    p.StartElementHandler = start
    p.EndElementHandler = end
    p.CharacterDataHandler = chars
    try:
        with open(path, "rb") as f:
            p.ParseFile(f)
    except xml.parsers.expat.ExpatError as e:
        return "ill-formed: %s\n" % e
    return "\n".join(lines) + "\n"


def view_libxml2(path):
    import lxml.etree as E

    # Namespace errors, which XML 1.0 does not know of, are all it recovers from.
    parser = E.XMLParser(resolve_entities=False, no_network=True, load_dtd=False, encoding="utf-8", recover=True)
    root = E.parse(path, parser).getroot()
    errors = [e for e in parser.error_log if e.domain_name != "NAMESPACE" and e.level_name in ("ERROR", "FATAL")]
    if errors or root is None:
        return "ill-formed: %s\n" % (errors[0].message if errors else "no root")
    lines = []

    def walk(e, depth):
        pairs = "".join(' %s="%s"' % (esc(k), esc(v)) for k, v in e.attrib.items())
        text = e.text or ""
        kids = [k for k in e if isinstance(k.tag, str)]
        for k in e:
            if kids and k is kids[0]:
                break
            text += k.tail or ""
        lines.append("  " * depth + esc(e.tag) + pairs + " |" + esc(text) + "|")
        for k in kids:
            walk(k, depth + 1)
            if (k.tail or "").strip(WS):
                lines.append("TAIL |" + esc(k.tail) + "|")

    walk(root, 0)
    return "\n".join(lines) + "\n"


args = sys.argv[1:]
if args[:1] == ["--libxml2"]:
    sys.stdout.write("==\n".join(view_libxml2(path) for path in args[1:]))
else:
    sys.stdout.write("==\n".join(view(path) for path in args))
