# The sent-XML table's rows and judge.
#   sent_xml.py rows TABLE CHARSETS  prints "METHOD CHARSET-HEX VALUE-HEX
#                                    refused|sent" per row of the table,
#                                    then per canonical name of CHARSETS
#                                    (both methods, the value "pain caf\xe9",
#                                    "any": refused or sent), but the names
#                                    the table says python reads otherwise
#   sent_xml.py judge                reads "REQUEST-HEX VALUE-HEX CHARSET-HEX
#                                    BROWSERS CALL-HEX" lines (a request as
# the capturing peer received it, the string value the call carries, the
# charset it was sent in, "-" for none, what a browser's encoder writes
# for the call's string under that charset, as web_encode.mjs beside this
# file prints it, and the call's string) and prints "ok" where python's expat reads that value
# from it, else what it read. The body is read as RFC 7303 has it: a
# byte-order mark first, then the Content-Type's charset (decoded by
# python's codec and the text given to expat), then the document's own
# declaration (expat's reading of the bytes), or else its bytes: those
# python's codec of the charset writes, or a browser's encoder where that
# writes none. A form's value (a GET's query, a form's body, a multipart
# form's text part) is judged by its bytes instead: those a browser's
# encoder writes where it writes the text, else those python's codec of
# the name writes; a form's Content-Type names the charset it was given.
import codecs
import email.message
import sys
import urllib.parse
import xml.parsers.expat


# The names a caller gives for this machine's own pages, which python's
# codecs do not know: OEM is code page 437 here, ANSI UTF-8.
MACHINE_PAGES = {"oem": "cp437", "ansi": "utf-8"}
# Names python's codecs lack for a page they have: Windows-31J is IANA's
# name of cp932, x-sjis a label of Shift_JIS.
OTHER_NAMES = {"windows-31j": "cp932", "x-sjis": "shift_jis"}


def lookup(charset):
    name = charset.strip().lower()
    return codecs.lookup(MACHINE_PAGES.get(name, OTHER_NAMES.get(name, charset)))


def parts_of(request):
    """A request's head, body, fields and the charset its Content-Type names."""
    head, _, body = request.partition(b"\r\n\r\n")
    fields = email.message.Message()
    for line in head.split(b"\r\n")[1:]:
        name, _, val = line.decode("latin-1").partition(":")
        fields[name.strip()] = val.strip()
    return head, body, fields, fields.get_param("charset") if fields.get("Content-Type") else None


def form_bytes(request):
    """A form's value as sent (bytes), and the charset its Content-Type
    names; None for a request that is no form."""
    head, body, fields, charset = parts_of(request)
    target = head.split(b"\r\n")[0].split(b" ")[1]
    pairs = None
    if head.startswith(b"GET ") and b"?" in target:
        pairs = target.partition(b"?")[2]
    elif fields.get_content_type() == "application/x-www-form-urlencoded":
        pairs = body
    elif fields.get_content_type() == "multipart/form-data":
        parts = body.split(b"--" + fields.get_param("boundary").encode("latin-1"))
        value = next(p for p in parts if b'name="v"' in p.partition(b"\r\n\r\n")[0]).partition(b"\r\n\r\n")[2]
        return value[: -len(b"\r\n")], charset
    if pairs is None:
        return None
    for pair in pairs.split(b"&"):
        name, _, value = pair.partition(b"=")
        if name == b"v":
            return urllib.parse.unquote_to_bytes(value.replace(b"+", b" ")), charset
    return b"", charset


def python_bytes(text, charset):
    try:
        return text.encode(lookup(charset).name if charset.strip() else "utf-8")
    except (LookupError, UnicodeError):
        return None


def judge_form(sent, charset, text, asked, web):
    wanted = {"web": None if web in ("none", "unwritten") else bytes.fromhex(web), "python": python_bytes(text, asked)}
    if charset is not None and charset.strip().lower() != asked.strip().lower():
        return "named %r for %r" % (charset, asked)
    # The browser's codes where its encoder writes the text, else python's.
    if sent == (wanted["web"] if wanted["web"] is not None else wanted["python"]):
        return "ok"
    return "sent %s under %r where the browser's encoder writes %s and python's codec %s" % (
        sent.hex(), asked, web, wanted["python"].hex() if wanted["python"] is not None else "none")


def value_of(request):
    _, body, _, charset = parts_of(request)
    marked = body[:3] == b"\xef\xbb\xbf" or body[:2] in (b"\xff\xfe", b"\xfe\xff")
    data = body
    if body[:4] in (b"\xff\xfe\x00\x00", b"\x00\x00\xfe\xff"):
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
    request, value, asked = (bytes.fromhex(x) if x != "-" else b"" for x in line.split()[:3])
    browsers, call = line.split()[3], bytes.fromhex(line.split()[4])
    form = form_bytes(request)
    if form is not None:
        print(judge_form(form[0], form[1], call.decode("utf-8"), asked.decode("utf-8"), browsers))
        continue
    try:
        got = value_of(request)
    except (xml.parsers.expat.ExpatError, LookupError, UnicodeError, ValueError) as e:
        got = "unread: %s" % e
    sent_as = request[request.find(b"Content-Type:") :].split(b"\r\n")[0].decode("latin-1")
    # A text sent as python's codec of its charset writes it, or where that
    # writes none as a browser's encoder does, reads back as those codes.
    body, text = parts_of(request)[1], call.decode("utf-8")
    written = python_bytes(text, asked.decode("utf-8")) if asked else None
    if written is None and browsers not in ("none", "unwritten"):
        written = bytes.fromhex(browsers)
    print("ok" if got == value.decode("utf-8") or body == written else "read %r under %s" % (got, sent_as))
