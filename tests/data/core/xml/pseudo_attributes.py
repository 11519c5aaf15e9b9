# The stylesheet table's judge. "pseudo_attributes.py rows DIR TABLE" writes
# the documents of TABLE (stylesheets.txt) into DIR as s0.xml, s1.xml, ... and prints
# their names. Otherwise lxml (libxml2) reads each pair of files named on
# the command line (the document, then what the library wrote of it) and
# prints the pairs whose processing instructions differ, then
# "mismatches N". An instruction is its target, its pseudo-attributes as
# lxml reads them (each value to its own quote, with the references the
# stylesheet grammar allows decoded) and, for a target other than
# xml-stylesheet, its data as written. Where they stand is not compared.
import codecs
import os
import re
import sys

import lxml.etree as etree

NAMED = {"lt": "<", "gt": ">", "amp": "&", "quot": '"', "apos": "'"}


def unescape(value):
    def one(m):
        ref = m.group(1)
        if ref.startswith("#x"):
            return chr(int(ref[2:], 16))
        if ref.startswith("#"):
            return chr(int(ref[1:]))
        return NAMED[ref]

    return re.sub(r"&(#x[0-9A-Fa-f]+|#[0-9]+|lt|gt|amp|quot|apos);", one, value)


def instructions(path):
    tree = etree.parse(path, etree.XMLParser(resolve_entities=False, no_network=True))
    found = []
    for pi in tree.xpath("//processing-instruction()"):
        attrs = sorted((k, unescape(v)) for k, v in pi.attrib.items())
        found.append((pi.target, attrs, None if pi.target == "xml-stylesheet" else pi.text))
    return sorted(found, key=repr)


if sys.argv[1] == "rows":
    rows = [l.rstrip("\n") for l in open(sys.argv[3], encoding="ascii")]
    for i, row in enumerate(r for r in rows if r and not r.startswith("#")):
        name = "s%d.xml" % i
        open(os.path.join(sys.argv[2], name), "wb").write(codecs.decode(row, "unicode_escape").encode("utf-8"))
        print(name)
    sys.exit(0)

bad = 0
files = sys.argv[1:]
for source, written in zip(files[::2], files[1::2]):
    want, got = instructions(source), instructions(written)
    if want != got:
        bad += 1
        print(source, "lxml reads", want, "in the document and", got, "in what was written")
print("mismatches", bad)
