# Writes COUNT well-formed documents, generated from SEED, into DIR as
# g0.xml, g1.xml, ... and prints their names, one a line. They mix what a
# lenient reader is easily fooled by: comments of every odd form ("<!-->",
# "<!--->", "<!---->", a "<" or ">" inside), instructions and CDATA holding
# "<" and ">", quotes and ">" in attribute values, references, and a
# DOCTYPE whose internal subset uses a parameter entity or holds a "<" in a
# comment, instruction or literal, or a "<!DOCTYPE" in a literal, entity
# value, comment or instruction; stylesheet instructions holding ">", quotes
# of the other kind or line ends, and targets that only start like one.
# Comments, CDATA, values and instructions name encodings, and a document
# may start with a declaration holding TAB, CR and LF that names the one it
# is written in. No general entity is used and no attribute default
# declared for an element the document holds, so the tree is the
# document's own.
import random
import sys

NAMES = ["r", "a", "item", "x.y", "b-c", "_d", "caf\u00e9", "\u65e5"]
TEXTS = ["t", "pain 7", "a > b", "&amp;", "&lt;x&gt;", "&#x41;&#66;", "\u00e9\u65e5", " ", "\n", "q'\"", "+ADw-x/+AD4-"]
VALUES = ["1", "a>b", "it's", 'say "hi"', "&amp;&lt;", "&#x20;x", "\u00e9", "", 'encoding="utf-7"', "+ACI- x=+ACI-"]
COMMENTS = [
    "<!---->",
    "<!-- c -->",
    "<!-->x<y-->",
    "<!--->z-->",
    "<!-- a<b>c -->",
    "<!-->-->",
    "<!-- <r/> -->",
    '<!-- <?xml version="1.0" encoding="utf-7"?> -->',
]
PIS = [
    "<?p a<b?>",
    "<?p?>",
    "<?q x>y ?>",
    "<?p <!-- -->?>",
    "<?p <!DOCTYPE x>?>",
    "<?xml-stylesheet a><b/>?>",
    "<?xml-stylesheet href='a>b'?>",
    "<?xml-stylesheet >b<!--?>",
    "<?p <?xml version='1.0' encoding='ISO-8859-1'?>",
    "<?xml-stylesheet href=\"good.css' type='text/xsl\" title='encoding=\"windows-1252\"'?>",
    "<?xml-stylesheet href='a\nb\"c' media=\"it's\r\n\"?>",
    "<?xml-stylesheet-old href='x.xsl'?>",
    "<?XML-STYLESHEET href='y.xsl'?>",
]
CDATA = ["<![CDATA[x<y>]]>", "<![CDATA[]]>", "<![CDATA[<!-- -->]]>", '<![CDATA[<?xml version="1.0" encoding="utf-7"?>]]>']
DOCTYPES = [
    "",
    "<!DOCTYPE r>",
    "<!DOCTYPE r [<!ENTITY % pe '<!ELEMENT r ANY>'>%pe; <?pi a<b?>]>",
    "<!DOCTYPE r [<!ENTITY % pe \"<!-- -->\">%pe;<!-- c<d -->]>",
    "<!DOCTYPE r [<!ENTITY % pe '<?p a<b?>'>%pe;<!ENTITY e \"x>y\">]>",
    "<!DOCTYPE r [<!-- a<b --><?p <c?><!ELEMENT r ANY><!ENTITY % q '<!ELEMENT s (#PCDATA)>'>%q;]>",
    "<!DOCTYPE r SYSTEM 'r.dtd' [<!ENTITY % pe '<!ELEMENT r ANY>'>%pe;]>",
    "<!DOCTYPE r SYSTEM \"<!DOCTYPE\">",
    "<!DOCTYPE r PUBLIC '-//A//EN' '<!DOCTYPE r [ ]>' [<!ENTITY e \"<!DOCTYPE s>\"><!-- <!DOCTYPE ]> -->]>",
    "<!DOCTYPE r [<?p <!DOCTYPE r> ]> ?><!ATTLIST q a CDATA '\">]>'><!NOTATION n SYSTEM \"<!'\">]>",
]


def element(rng, depth, root):
    tag = "r" if root else rng.choice(NAMES)
    attrs = ""
    for i, name in enumerate(rng.sample(NAMES, rng.randint(0, 3))):
        value = rng.choice(VALUES)
        quote = "'" if '"' in value else '"'
        attrs += " %s=%s%s%s" % (name, quote, value.replace("'", "&apos;") if quote == "'" else value, quote)
    parts = []
    for _ in range(rng.randint(0, 5)):
        kind = rng.randint(0, 9)
        if kind < 3:
            parts.append(rng.choice(TEXTS))
        elif kind < 5:
            parts.append(rng.choice(COMMENTS))
        elif kind == 5:
            parts.append(rng.choice(PIS))
        elif kind == 6:
            parts.append(rng.choice(CDATA))
        elif depth < 4:
            parts.append(element(rng, depth + 1, False))
    if not parts and rng.randint(0, 1):
        return "<%s%s/>" % (tag, attrs)
    return "<%s%s>%s</%s>" % (tag, attrs, "".join(parts), tag)


# Declarations and the encodings the documents under them are written in.
DECLARATIONS = [
    ("", "utf-8"),
    ('<?xml version="1.0" encoding="UTF-8"?>\n', "utf-8"),
    ("<?xml\tversion='1.0'\nencoding\t=\r\n'ISO-8859-1'?>", "iso-8859-1"),
    ('<?xml version = "1.0"\rencoding="windows-1252"\tstandalone\n=\n"yes"\n?>\n', "cp1252"),
]


def document(rng):
    head, encoding = rng.choice(DECLARATIONS)
    head += rng.choice(DOCTYPES) + rng.choice(["", "\n"])
    head += "".join(rng.choice(COMMENTS + PIS) for _ in range(rng.randint(0, 2)))
    tail = "".join(rng.choice(COMMENTS + PIS + ["\n"]) for _ in range(rng.randint(0, 2)))
    text = head + element(rng, 0, True) + tail
    try:
        return text.encode(encoding)
    except UnicodeEncodeError:
        # Names the encoding cannot hold: the document goes as UTF-8, undeclared.
        return text[text.index("?>") + 2 :].encode("utf-8")


out, count, seed = sys.argv[1], int(sys.argv[2]), int(sys.argv[3])
rng = random.Random(seed)
for i in range(count):
    name = "g%d.xml" % i
    with open("%s/%s" % (out, name), "wb") as f:
        f.write(document(rng))
    print(name)
