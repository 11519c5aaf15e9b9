# Writes the documents of the table given (declared-encoding.txt) into the
# folder given first, as
# NAME-ENCODING.xml (the bytes a reader gets) and NAME-ENCODING.txt (the
# same document as UTF-8 text, for the roads that take text), and prints
# the .xml names, one a line.
import codecs
import os
import sys

out, table_file = sys.argv[1], sys.argv[2]
rows = []
for line in open(table_file, encoding="ascii"):
    line = line.rstrip("\n")
    if line and not line.startswith("#"):
        name, *rest = line.split("\t")
        rows.append((name, [codecs.decode(r, "unicode_escape") for r in rest]))
table = dict(rows)
for name, values in rows:
    if name in ("encodings", "payload"):
        continue
    template = values[0]
    for enc in table["encodings"]:
        text = template.replace("{payload}", table["payload"][0]).replace("{enc}", enc)
        data = text.encode(enc) if name.startswith("declared") else text.encode("utf-8")
        base = os.path.join(out, "%s-%s" % (name, enc))
        open(base + ".xml", "wb").write(data)
        open(base + ".txt", "wb").write(text.encode("utf-8"))
        print(os.path.basename(base) + ".xml")
