# Writes the XML parser's peer corpus into the folder given: documents
# written by hand and by xml.etree, a copy pretty-printed by xmllint, and the
# same texts as UTF-8 with a mark, UTF-16LE and UTF-16BE with a mark (by
# iconv) and ISO-8859-1 declared (by iconv). Prints the file names.
import os
import random
import subprocess
import sys
import xml.etree.ElementTree as ET

out = sys.argv[1]

BODY = (
    '<root a="1" b=\'two "quoted"\' c="x &lt; y &amp; z">\n'
    "  <item id=\"x&amp;y\">AT&amp;T &lt;x&gt;</item>\n"
    "  <item>&amp;lt;</item>\n"
    "  <empty/>\n"
    "  <refs>&#65;&#x42;&#169;&#xE9;</refs>\n"
    "  <cdata><![CDATA[<not a tag> & ]] done]]></cdata>\n"
    "  <ws>  padded text  </ws>\n"
    '  <attrws v="a\tb\nc" w="&#9;&#10;kept"/>\n'
    "  <latin name=\"\u00e9t\u00e9\">gr\u00fc\u00dfe \u00bd</latin>\n"
    "  <deep><a><b><c>leaf</c></b></a></deep>\n"
    "</root>\n"
)
UNICODE = BODY.replace("</root>", "  <wide>\u65e5\u672c \u20ac \U0001F600</wide>\n</root>")
MIXED = "<p>one <b>two</b> three <i/>four &amp; more</p>\n"


def etree_doc(seed):
    rnd = random.Random(seed)
    root = ET.Element("records", {"seed": str(seed)})
    for i in range(40):
        rec = ET.SubElement(root, "record", {"id": str(i), "kind": rnd.choice(["a&b", 'q"t', "<x>", "plain"])})
        for j in range(rnd.randint(0, 4)):
            f = ET.SubElement(rec, "field%d" % j)
            f.text = "".join(rnd.choice("abc <>&'\"\u00e9\u4e2d") for _ in range(rnd.randint(1, 12)))
    return ET.tostring(root, encoding="unicode")


def write(name, data):
    with open(os.path.join(out, name), "wb") as f:
        f.write(data)
    print(name)


def iconv(text, to):
    return subprocess.run(["iconv", "-f", "UTF-8", "-t", to], input=text.encode("utf-8"), capture_output=True,
                          check=True).stdout


decl = '<?xml version="1.0" encoding="%s"?>\n'
write("utf8.xml", (decl % "UTF-8" + UNICODE).encode("utf-8"))
write("utf8-bom.xml", b"\xef\xbb\xbf" + (decl % "utf-8" + UNICODE).encode("utf-8"))
write("nodecl.xml", UNICODE.encode("utf-8"))
write("utf16le.xml", b"\xff\xfe" + iconv(decl % "UTF-16" + UNICODE, "UTF-16LE"))
write("utf16be.xml", b"\xfe\xff" + iconv(decl % "UTF-16" + UNICODE, "UTF-16BE"))
write("latin1.xml", iconv(decl % "ISO-8859-1" + BODY, "ISO-8859-1"))
write("etree.xml", (decl % "UTF-8" + etree_doc(7)).encode("utf-8"))
pretty = subprocess.run(["xmllint", "--format", os.path.join(out, "etree.xml")], capture_output=True, check=True)
write("xmllint-format.xml", pretty.stdout)
write("mixed.xml", MIXED.encode("utf-8"))
