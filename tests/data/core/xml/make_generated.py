# Writes COUNT well-formed documents, generated from SEED, into DIR as
# g0.xml, g1.xml, ... and prints their names, one a line. They mix what a
# lenient reader is easily fooled by: comments of every odd form ("<!-->",
# "<!--->", "<!---->", a "<" or ">" inside), instructions and CDATA holding
# "<" and ">", quotes and ">" in attribute values, references, and a
# DOCTYPE whose internal subset uses a parameter entity or holds a "<" in a
# comment, instruction or literal, or a "<!DOCTYPE" in a literal, entity
# value, comment or instruction; stylesheet instructions holding ">". No
# general entity is used and no attribute default declared for an element
# the document holds, so the tree is the document's own.
import random
import sys

NAMES = ["r", "a", "item", "x.y", "b-c", "_d", "caf\u00e9", "\u65e5"]
TEXTS = ["t", "pain 7", "a > b", "&amp;", "&lt;x&gt;", "&#x41;&#66;", "\u00e9\u65e5", " ", "\n", "q'\""]
VALUES = ["1", "a>b", "it's", 'say "hi"', "&amp;&lt;", "&#x20;x", "\u00e9", ""]
COMMENTS = ["<!---->", "<!-- c -->", "<!-->x<y-->", "<!--->z-->", "<!-- a<b>c -->", "<!-->-->", "<!-- <r/> -->"]
PIS = [
    "<?p a<b?>",
    "<?p?>",
    "<?q x>y ?>",
    "<?p <!-- -->?>",
    "<?p <!DOCTYPE x>?>",
    "<?xml-stylesheet a><b/>?>",
    "<?xml-stylesheet href='a>b'?>",
    "<?xml-stylesheet >b<!--?>",
]
CDATA = ["<![CDATA[x<y>]]>", "<![CDATA[]]>", "<![CDATA[<!-- -->]]>"]
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


def document(rng):
    head = rng.choice(["", '<?xml version="1.0" encoding="UTF-8"?>\n'])
    head += rng.choice(DOCTYPES) + rng.choice(["", "\n"])
    head += "".join(rng.choice(COMMENTS + PIS) for _ in range(rng.randint(0, 2)))
    tail = "".join(rng.choice(COMMENTS + PIS + ["\n"]) for _ in range(rng.randint(0, 2)))
    return head + element(rng, 0, True) + tail


out, count, seed = sys.argv[1], int(sys.argv[2]), int(sys.argv[3])
rng = random.Random(seed)
for i in range(count):
    name = "g%d.xml" % i
    with open("%s/%s" % (out, name), "w", encoding="utf-8") as f:
        f.write(document(rng))
    print(name)
