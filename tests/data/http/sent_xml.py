# The sent-XML table's rows and judge.
#   sent_xml.py rows TABLE CHARSETS  prints "METHOD CHARSET-HEX VALUE-HEX
#                                    refused|sent" per row of the table,
#                                    then per canonical name of CHARSETS
#                                    (both methods, the value "pain caf\xe9",
#                                    "any": refused or sent), but the names
#                                    the table says python reads otherwise
#   sent_xml.py judge                reads "REQUEST-HEX VALUE-HEX CHARSET-HEX"
# lines (a request as the capturing peer received it, the string value the
# call carries and the charset it was sent in, "-" for none) and prints
# "ok" where python's expat reads that value from it,
# else what it read. The body is read as RFC 7303 has it: a byte-order
# mark first, then the Content-Type's charset (decoded by python's codec
# and the text given to expat), then the document's own declaration
# (expat's reading of the bytes). A form's value is read by python's
# urllib in the Content-Type's charset first; a multipart form's, whose
# parts name none, and a GET's query in the charset the request was given.
import codecs
import email.message
import sys
import urllib.parse
import xml.parsers.expat


# The names a caller gives for this machine's own pages, which python's
# codecs do not know: OEM is code page 437 here, ANSI UTF-8.
MACHINE_PAGES = {"oem": "cp437", "ansi": "utf-8"}


def lookup(charset):
    return codecs.lookup(MACHINE_PAGES.get(charset.strip().lower(), charset))


def value_of(request, asked):
    head, _, body = request.partition(b"\r\n\r\n")
    fields = email.message.Message()
    for line in head.split(b"\r\n")[1:]:
        name, _, val = line.decode("latin-1").partition(":")
        fields[name.strip()] = val.strip()
    charset = fields.get_param("charset") if fields.get("Content-Type") else None
    marked = body[:3] == b"\xef\xbb\xbf" or body[:2] in (b"\xff\xfe", b"\xfe\xff")
    data = body
    target = head.split(b"\r\n")[0].split(b" ")[1]
    if head.startswith(b"GET ") and b"?" in target:
        # A query names no charset: it is in the one the request was given.
        query = target.partition(b"?")[2].decode("ascii")
        data = urllib.parse.parse_qs(query, encoding=lookup(asked).name, errors="strict")["v"][0]
    elif fields.get_content_type() == "application/x-www-form-urlencoded":
        data = urllib.parse.parse_qs(body.decode("ascii"), encoding=lookup(charset).name, errors="strict")["v"][0]
    elif fields.get_content_type() == "multipart/form-data":
        # A part names no charset: its text is in the one the request was given.
        parts = body.split(b"--" + fields.get_param("boundary").encode("latin-1"))
        value = next(p for p in parts if b'name="v"' in p.partition(b"\r\n\r\n")[0]).partition(b"\r\n\r\n")[2]
        data = value[: -len(b"\r\n")].decode(lookup(asked).name)
    elif body[:4] in (b"\xff\xfe\x00\x00", b"\x00\x00\xfe\xff"):
        # expat has no UTF-32: python's codec reads it by its mark.
        data = body.decode("utf-32")
    elif charset and not marked:
        if lookup(charset).name.startswith("utf-16"):
            raise ValueError("UTF-16 without a byte-order mark (XML 1.0, 4.3.3)")
        data = body.decode(lookup(charset).name)
    texts, inside = [], []
    p = xml.parsers.expat.ParserCreate()
    p.StartElementHandler = lambda name, attrs: inside.append(name)
    p.EndElementHandler = lambda name: inside.pop()
    p.CharacterDataHandler = lambda t: texts.append(t) if inside and inside[-1] == "string" else None
    p.Parse(data, True)
    return "".join(texts)


def rows(table, charsets):
    for line in open(table, encoding="ascii"):
        line = line.rstrip("\n")
        if not line or line.startswith("#"):
            continue
        if line.startswith("differs\t"):
            continue
        method, charset, value, *refused = line.split("\t")
        charset = "" if charset == "-" else codecs.decode(charset, "unicode_escape")
        value = codecs.decode(value, "unicode_escape")
        yield method, charset, value, "refused" if refused else "sent"
    differs = set(l.split("\t")[1].strip() for l in open(table, encoding="ascii") if l.startswith("differs\t"))
    for line in open(charsets, encoding="ascii"):
        kind, _, name = line.rstrip("\n").partition(" ")[0], 0, line.rstrip("\n").split(" ", 2)[-1]
        if kind == "page" and name not in differs:
            for method in ("XmlRpc", "PostXml"):
                yield method, name, "pain caf\u00e9", "any"


if sys.argv[1] == "rows":
    for method, charset, value, outcome in rows(sys.argv[2], sys.argv[3]):
        print(method, charset.encode("utf-8").hex() or "-", value.encode("utf-8").hex(), outcome)
    sys.exit()
for line in sys.stdin:
    request, value, asked = (bytes.fromhex(x) if x != "-" else b"" for x in line.split())
    try:
        got = value_of(request, asked.decode("utf-8"))
    except (xml.parsers.expat.ExpatError, LookupError, UnicodeError, ValueError) as e:
        got = "unread: %s" % e
    sent_as = request[request.find(b"Content-Type:") :].split(b"\r\n")[0].decode("latin-1")
    print("ok" if got == value.decode("utf-8") else "read %r under %s" % (got, sent_as))
