# Judge of the ASN.1 XML rendering: reads each rendering with Python's own XML
# parser, writes the DER the elements describe, and compares it with the DER
# the rendering came from. Arguments: pairs of files, rendering then DER.
# Prints one line per pair that differs, then "checked N".
import base64
import sys
import xml.etree.ElementTree as ET

UNIVERSAL = {"bool": 1, "int": 2, "bits": 3, "octets": 4, "null": 5, "oid": 6, "utf8": 12,
             "sequence": 16, "set": 17, "printable": 19, "t61": 20, "ia5": 22, "utctime": 23}
CLASSES = {"universal": 0, "application": 1, "contextSpecific": 2, "private": 3}


def header(cls, constructed, tag, length):
    first = cls << 6 | (0x20 if constructed else 0)
    if tag < 31:
        out = bytes([first | tag])
    else:
        groups = []
        while True:
            groups.insert(0, tag & 0x7F)
            tag >>= 7
            if not tag:
                break
        out = bytes([first | 31] + [g | 0x80 for g in groups[:-1]] + groups[-1:])
    if length < 0x80:
        return out + bytes([length])
    size = (length.bit_length() + 7) // 8
    return out + bytes([0x80 | size]) + length.to_bytes(size, "big")


def oid_bytes(text):
    arcs = [int(a) for a in text.split(".")]
    out = bytearray()
    for value in [arcs[0] * 40 + arcs[1]] + arcs[2:]:
        groups = []
        while True:
            groups.insert(0, value & 0x7F)
            value >>= 7
            if not value:
                break
        out += bytes([g | 0x80 for g in groups[:-1]] + groups[-1:])
    return bytes(out)


def der(e):
    text = e.text or ""
    if e.tag in CLASSES:
        cls, tag = CLASSES[e.tag], int(e.get("tag"))
        if e.get("constructed") == "1":
            body = b"".join(der(c) for c in e)
            return header(cls, True, tag, len(body)) + body
        body = base64.b64decode("".join(text.split()))
        return header(cls, False, tag, len(body)) + body
    tag = UNIVERSAL[e.tag]
    if e.tag in ("sequence", "set"):
        body = b"".join(der(c) for c in e)
        return header(0, True, tag, len(body)) + body
    if e.tag == "bool":
        body = b"\xff" if text == "1" else b"\x00"
    elif e.tag == "int":
        body = bytes.fromhex(text)
    elif e.tag == "bits":
        n = int(e.get("n"))
        body = bytes([(8 - n % 8) % 8]) + bytes.fromhex(text)
    elif e.tag == "octets":
        body = base64.b64decode("".join(text.split()))
    elif e.tag == "null":
        body = b""
    elif e.tag == "oid":
        body = oid_bytes(text)
    else:
        body = text.encode("utf-8")
    return header(0, False, tag, len(body)) + body


args = sys.argv[1:]
checked = 0
for xml_path, der_path in zip(args[0::2], args[1::2]):
    with open(der_path, "rb") as f:
        want = f.read()
    try:
        with open(xml_path, "rb") as f:
            got = der(ET.fromstring(f.read()))
    except Exception as exc:  # a rendering the parser refuses is a failure too
        print(f"{xml_path}: {exc}")
        continue
    if got != want:
        print(f"{xml_path}: differs")
    checked += 1
print(f"checked {checked}")
