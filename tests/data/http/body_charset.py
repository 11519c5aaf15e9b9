# The judge of the body table (body-charsets.txt): how a body served with
# a Content-Type reads as text.
#   body_charset.py rows TABLE        prints "TYPE-HEX BODY-HEX" per row ("-"
#                                     for no Content-Type)
#   body_charset.py labels CHARSETS   the same for a payload under every
#                                     label of the browsers' table and every
#                                     name of the library's (charsets.txt),
#                                     as text/html and as text/plain
#   body_charset.py judge TEXT-DIR    reads "TYPE-HEX BODY-HEX KIND OURS-HEX"
#                                     lines (KIND "text": the body's text;
#                                     "xml": an XML document read from it;
#                                     "encoding": the encoding it is read in),
#                                     prints each that differs, then
#                                     "mismatches N"
# The media type and its charset as python's email package parses them.
# XML types (text/xml, application/xml, "+xml") as RFC 7303 reads them:
# libxml2 (lxml) given the charset where no byte-order mark stands first;
# the trees are compared. Every other type as browsers read it (the WHATWG
# Encoding Standard): a UTF-8 or UTF-16 mark, else the charset's label,
# else for text/html html5lib's prescan (with the HTML standard's
# XML-declaration steps, meta_charset.py), else UTF-8 for JSON and
# windows-1252 for the rest; decoded by python's codecs (webencodings), a
# replacement label's body as one U+FFFD, a zero byte as
# a blank. Labels are html5lib's table (webencodings) as the Encoding
# Standard has revised it since: the ISO-2022-KR, HZ and ISO-2022-CN labels
# now name the replacement encoding, and a few labels were added.
import codecs
import email.message
import functools
import os
import re
import sys

import lxml.etree as E
import webencodings
from xml.parsers import expat


REVISED = {
    "csiso2022kr": "replacement", "hz-gb-2312": "replacement", "iso-2022-cn": "replacement",
    "iso-2022-cn-ext": "replacement", "iso-2022-kr": "replacement", "replacement": "replacement",
    "unicode11utf8": "utf-8", "unicode20utf8": "utf-8", "x-unicode20utf8": "utf-8", "koi8-ru": "koi8-u",
    "ms932": "shift_jis", "unicodefffe": "utf-16be", "csunicode": "utf-16le", "iso-10646-ucs-2": "utf-16le",
    "ucs-2": "utf-16le", "unicode": "utf-16le", "unicodefeff": "utf-16le",
}
PAYLOAD = b"caf\xe9 \x80\x93q\x94 \xa4\xff <p>a+ADw-b</p><scr\x00ipt>"
# The library has no table for these; a label of theirs is passed over.
NO_TABLE = {"iso-8859-10", "iso-8859-14", "iso-8859-16"}


def lookup(label):
    if label is None:
        return None
    key = label.strip("\t\n\f\r ").lower()
    if key in REVISED:
        return REVISED[key]
    found = webencodings.LABELS.get(key)
    return found


def media(type_):
    m = email.message.Message()
    if type_ is not None:
        m["Content-Type"] = type_
    essence = m.get_content_type() if type_ is not None else ""
    return essence, m.get_param("charset") if type_ is not None else None


def web_encoding(type_, body):
    essence, charset = media(type_)
    for mark, enc in ((b"\xef\xbb\xbf", "utf-8"), (b"\xfe\xff", "utf-16be"), (b"\xff\xfe", "utf-16le")):
        if body.startswith(mark):
            return enc, len(mark)
    enc = lookup(charset)
    if (enc is None or enc in NO_TABLE) and essence == "text/html":
        enc = lookup(browsers(body))
    # JSON is UTF-8 (RFC 8259; the Fetch standard reads it so).
    fallback = "utf-8" if essence == "application/json" or essence.endswith("+json") else "windows-1252"
    return (enc if enc not in (None, *NO_TABLE) else fallback), 0


def web_text(type_, body):
    enc, mark = web_encoding(type_, body)
    return decode(body[mark:], enc)


def decode(body, enc):
    if enc == "replacement":
        text = "\ufffd" if body else ""
    elif enc == "iso-2022-jp":
        text = iso2022jp(body)
    else:
        text = webencodings.lookup(enc).codec_info.decode(body, "replace")[0]
    return text.replace("\0", " ")


def xml_tree(data, charset=None):
    try:
        parser = E.XMLParser(no_network=True, load_dtd=False, resolve_entities=False, encoding=charset)
        return E.tostring(E.fromstring(data, parser), encoding="unicode")
    except LookupError:
        pass
    except E.XMLSyntaxError as e:
        if charset in (None, "utf-8") or "Unsupported encoding" not in str(e):
            return "refused: %s" % e
    except ValueError as e:
        return "refused: %s" % e
    # A charset libxml2 knows only through ICU (Debian 12's libxml2 has it,
    # Debian 13's has not) is read by python's codec of that name, and the
    # text given to libxml2 as UTF-8, its declaration naming UTF-8.
    try:
        text = data.decode(charset)
    except (LookupError, UnicodeError) as e:
        return "refused: %s" % e
    text = re.sub(r"""^(\ufeff?<\?xml[^>]*?\bencoding\s*=\s*)(["'])[^"']*\2""", r"\1\2UTF-8\2", text, count=1)
    return xml_tree(text.encode("utf-8"), "utf-8")


def declared(body):
    found = re.match(rb"<\?xml[^>]*encoding=[\"']([^\"']*)", body)
    return found.group(1).decode("latin-1") if found else None


# python's codecs of the charsets the library reads only part of (the
# later ISO-2022-JP forms) or has no decoder for (HZ); a name python does
# not know is one the library has none for either. The library refuses an
# XML document either names, by its label or by its declaration.
BEYOND = {"hz", "iso2022_jp_1", "iso2022_jp_2", "iso2022_jp_2004", "iso2022_jp_3", "iso2022_jp_ext"}
SHIFTING = {"iso2022_jp", "iso2022_kr"}
SHIFT_BYTES = re.compile(rb"[\x1b\x0e\x0f]")
MARKS = ((b"\xef\xbb\xbf", "utf-8"), (b"\xfe\xff", "utf-16-be"), (b"\xff\xfe", "utf-16-le"))
# 16-bit text without a mark, by its first "<" (XML 1.0, appendix F).
WIDTHS = {b"<\x00": "utf-16-le", b"\x00<": "utf-16-be"}


@functools.lru_cache(maxsize=None)
def codec(name):
    if not name:
        return None
    try:
        return codecs.lookup(name.strip()).name
    except LookupError:
        pass
    # A 16-bit name python does not know ("csUnicode", "UCS-2LE"), as
    # libxml2 reads a document that declares it: 16-bit text in one byte
    # order or in either, where 8-bit text is refused (a name libxml2
    # cannot switch to leaves both read as they began).
    doc = '<?xml version="1.0" encoding="%s"?><r>%%s</r>' % re.sub("[\"'<>]", "", name)
    read = [wide for wide in ("utf-16-le", "utf-16-be") if xml_tree((doc % "\u00e9").encode(wide)) == "<r>\u00e9</r>"]
    if not read or not xml_tree((doc % "a").encode("ascii")).startswith("refused"):
        return "unknown"
    return "utf-16" if len(read) == 2 else read[0]


def xml_encoding(type_, body):
    """The mark, the label and the declaration (read in the mark's encoding) of an XML body."""
    _, charset = media(type_)
    for mark, enc in MARKS:
        if body.startswith(mark):
            return enc, charset or None, declared(body[len(mark):].decode(enc, "replace").encode("utf-8"))
    if body[:2] in WIDTHS:
        return None, charset or None, declared(body.decode(WIDTHS[body[:2]], "replace").encode("utf-8"))
    return None, charset or None, declared(body)


def xml_refused(type_, body):
    # RFC 7303 and XML 1.0 4.3.3: a name the library cannot read whole,
    # whichever names it; a mark against its declaration as expat refuses
    # it; 16-bit text, marked or not, held to its declaration as expat
    # holds it (another width, or the other byte order), or as libxml2
    # holds it to a 16-bit name expat does not know; a label without its
    # shifts (another charset, or the other ISO-2022 form, as libxml2's
    # iconv refuses it) on a declared ISO-2022 text holding them.
    mark, label, decl = xml_encoding(type_, body)
    if any(codec(n) in BEYOND | {"unknown"} for n in (label, decl)):
        return True
    wide = mark if mark != "utf-8" else None
    if not mark:
        wide = WIDTHS.get(body[:2])
    if wide and decl:
        if codec(decl) in ("utf-16", "utf-16-le", "utf-16-be"):
            return codec(decl) not in ("utf-16", wide)
        try:
            expat.ParserCreate().Parse(body, True)
        except expat.ExpatError:
            return True
        except (LookupError, ValueError):
            # A charset expat has no decoder of its own for: libxml2's verdict.
            return xml_tree(body).startswith("refused")
        return False
    if mark and decl:
        parser = expat.ParserCreate()
        try:
            parser.Parse(body, True)
        except expat.ExpatError as e:
            return e.code == expat.errors.codes[expat.errors.XML_ERROR_INCORRECT_ENCODING]
        except LookupError:
            # A 16-bit name expat does not know: libxml2's verdict.
            return xml_tree(body).startswith("refused")
        except ValueError:
            pass
        return False
    return bool(label and SHIFT_BYTES.search(body) and shifts_shown(body, decl) not in (None, codec(label)))


def shifts_shown(body, decl):
    # The ISO-2022 form a document shows: its declaration's, or that of the
    # escape it starts with (ISO-2022-KR's designator, else ISO-2022-JP's).
    if codec(decl) in SHIFTING:
        return codec(decl)
    if body[:1] == b"\x1b":
        return "iso2022_kr" if body[:4] == b"\x1b$)C" else "iso2022_jp"
    return None


def iso2022kr(body):
    # python's codec, with a CR or LF inside a two-byte run an error that
    # leaves the run on, and an escape other than the designator an error
    # that swallows nothing after it, as the Standard's ISO-2022-JP decoder
    # has them (python passes a CR on, ends the run at a LF and takes the
    # escape's sequence into its error): each becomes an 8-bit byte python
    # reads as one error, inside a run between SI and SO.
    out, shifted = bytearray(), False
    for i, b in enumerate(body):
        if b in (0x0E, 0x0F):
            shifted = b == 0x0E
        stray = b == 0x1B and body[i:i + 4] != b"\x1b$)C"
        error = b"\x0f\x80\x0e" if shifted else b"\x80"
        out += error if stray or (shifted and b in (0x0A, 0x0D)) else bytes([b])
    return out.decode("iso2022_kr", "replace")


def xml_codec(type_, body):
    # 16-bit text without a mark shows itself by its first "<", ISO-2022-KR
    # by its designator (appendix F, and the designator older saves wrote).
    mark, label, decl = xml_encoding(type_, body)
    pattern = {**WIDTHS, b"\x1b$": "iso-2022-kr"}.get(body[:2])
    return codec(mark or label or pattern or decl or "utf-8")


def xml_text(type_, body, blank=" ", follow=True):
    # The text of an XML body in the encoding RFC 7303 gives it: a mark,
    # else the label, else the declaration, else UTF-8; U+FFFD for each
    # error (a lone surrogate UTF-7 leaves included), a zero byte a blank.
    # A UTF-8 mark's declaration is followed where the document is read.
    mark, _, decl = xml_encoding(type_, body)
    name = xml_codec(type_, body)
    if follow and mark == "utf-8" and decl and codec(decl) != "utf-8":
        name, body = codec(decl), body[3:]
    elif mark:
        body = body[len(next(m for m, e in MARKS if e == mark)):]
    text = (iso2022jp(body) if name == "iso2022_jp" else iso2022kr(body) if name == "iso2022_kr"
            else body.decode(name, "replace"))
    return re.sub("[\ud800-\udfff]", "\ufffd", text).replace("\0", blank)


def refused_text(type_, body):
    # Refused as XML, the bytes are still text where the mark, a label with
    # a decoder or the width of 16-bit first bytes reads them (RFC 7303,
    # the Encoding Standard's mark sniff); where nothing does, one error,
    # as a label the Standard maps to its replacement encoding gives.
    mark, label, _ = xml_encoding(type_, body)
    if mark or (codec(label) if label else WIDTHS.get(body[:2])) not in (None, "unknown", *BEYOND):
        return xml_text(type_, body, follow=False)
    return "\ufffd" if body else ""


def is_xml(type_):
    # The types RFC 7303 names.
    essence, _ = media(type_)
    return essence in ("text/xml", "application/xml") or essence.endswith("+xml")


def rows(path):
    for line in open(path, encoding="utf-8"):
        line = line.rstrip("\n")
        if not line or line.startswith("#"):
            continue
        type_, body = line.split("\t")
        body = codecs.decode(body, "unicode_escape").encode("latin-1")
        yield (None if type_ == "-" else type_), body


def judge():
    bad = 0
    for line in sys.stdin:
        type_hex, body_hex, kind, ours_hex = line.rstrip("\n").split(" ")
        type_ = None if type_hex == "-" else bytes.fromhex(type_hex).decode("latin-1")
        body, ours = bytes.fromhex(body_hex), bytes.fromhex(ours_hex)
        if kind == "encoding":
            want, got = web_encoding(type_, body)[0], ours.decode("ascii")
        elif kind == "text" and not is_xml(type_):
            want, got = web_text(type_, body), ours.decode("utf-8")
        elif kind == "text" and xml_refused(type_, body):
            want, got = refused_text(type_, body), ours.decode("utf-8")
        elif kind == "xml" and xml_refused(type_, body):
            want, got = "refused", "refused" if not ours else xml_tree(ours, "utf-8")
        elif kind == "text" and is_xml(type_) and "\0" in xml_text(type_, body, "\0"):
            # A zero byte, which XML refuses: the text, a zero byte a blank.
            want, got = xml_text(type_, body), ours.decode("utf-8")
        elif kind == "text" and body[:2] in (b"\xfe\xff", b"\xff\xfe") and len(body) % 2:
            # A 16-bit document cut short: its text as the Standard's UTF-16
            # decoder gives it, U+FFFD last (libxml2 judges its tree below).
            wide = "utf-16-be" if body[:2] == b"\xfe\xff" else "utf-16-le"
            want, got = body[2:].decode(wide, "replace"), ours.decode("utf-8")
        else:
            # RFC 7303: a mark first, then the Content-Type's charset, then the document.
            _, charset = media(type_)
            marked = body[:2] in (b"\xfe\xff", b"\xff\xfe") or body[:3] == b"\xef\xbb\xbf"
            want = xml_tree(body, None if marked else charset)
            got = "refused" if kind == "xml" and not ours else xml_tree(ours, "utf-8")
            if want.startswith("refused") and xml_codec(type_, body) in ("iso2022_jp", "iso2022_kr", "utf-7"):
                # libxml2's iconv refuses what the Standard's ISO-2022-JP
                # decoder and python's codecs read with U+FFFD; libxml2
                # judges the tree of that text.
                want = xml_tree(xml_text(type_, body, "\0").encode("utf-8"), "utf-8")
            want, got = (w if not w.startswith("refused") else "refused" for w in (want, got))
        if want != got:
            bad += 1
            print(repr(type_), body[:60], kind, "want", repr(want)[:120], "got", repr(got)[:120])
    print("mismatches", bad)


if sys.argv[1] == "rows":
    for type_, body in rows(sys.argv[2]):
        print("-" if type_ is None else type_.encode("latin-1").hex(), body.hex())
elif sys.argv[1] == "labels":
    names = set(webencodings.LABELS) | set(REVISED)
    for line in open(sys.argv[2], encoding="ascii"):
        kind, _, name = line.rstrip("\n").split(" ", 2) if line.count(" ") >= 2 else ("", "", "")
        if kind in ("page", "alias"):
            names.add(name)
    for name in sorted(names):
        for type_ in ("text/html; charset=%s" % name, 'text/plain; charset="%s"' % name):
            print(type_.encode("latin-1").hex(), PAYLOAD.hex())
else:
    # The prescan's judge, tests/data/text/meta_charset.py.
    sys.path.insert(0, sys.argv[2])
    from iso2022jp_standard import decode as iso2022jp
    from meta_charset import browsers

    judge()
