# Writes the documents of names.txt into the folder given first: for "read"
# row N (and "undecoded" row N, as uN), rN-CHARSET.xml (the document declaring CHARSET, in it, where
# python's codec writes it; rN-bytes.xml, its bytes alone, when they are not
# UTF-8) and rN.txt (its bytes); for "build" row N, bN.names (its names,
# separated by NUL) and bN-CHARSET.xml (or bN-bytes.xml), the same of the
# document of its names that the library is asked to write,
# <TAG ATTRIBUTE="v"><CHILD>c</CHILD></TAG>. Prints the names written, one
# a line.
import codecs
import os
import sys

out, table_file = sys.argv[1], sys.argv[2]
charsets, reads, undecoded, builds = [], [], [], []
for line in open(table_file, encoding="utf-8"):
    line = line.rstrip("\n")
    if not line or line.startswith("#"):
        continue
    kind, *rest = line.split("\t")
    values = [codecs.escape_decode(r.encode("utf-8"))[0] for r in rest]
    if kind == "charsets":
        charsets = [v.decode("ascii") for v in values]
    elif kind == "read":
        reads.append(values[0])
    elif kind == "undecoded":
        undecoded.append(values[0])
    elif kind == "build":
        builds.append(values)


def write(name, data):
    open(os.path.join(out, name), "wb").write(data)
    print(name)


# Each document under each declaration python's codec writes it in; as its
# bytes alone ("-bytes") when they are not UTF-8.
def write_declared(base, doc):
    try:
        text = doc.decode("utf-8")
    except UnicodeDecodeError:
        write(base + "-bytes.xml", doc)
        return
    for cs in charsets:
        try:
            data = ('<?xml version="1.0" encoding="%s"?>' % cs + text).encode(cs)
        except UnicodeEncodeError:
            continue
        write("%s-%s.xml" % (base, cs), data)


for prefix, docs in (("r", reads), ("u", undecoded)):
    for n, doc in enumerate(docs):
        write("%s%d.txt" % (prefix, n), doc)
        write_declared("%s%d" % (prefix, n), doc)
for n, (tag, attribute, child) in enumerate(builds):
    write("b%d.names" % n, b"\0".join([tag, attribute, child]))
    write_declared("b%d" % n, b"<" + tag + b" " + attribute + b'="v"><' + child + b">c</" + child + b"></" + tag + b">")
