# libxml2's reading of each file named (lxml, no network, no DTD loaded):
# prints one line a file, "ok" after writing what it read as UTF-8 beside
# it (NAME.libxml2.xml, for xml_dump.py), or "refused" and libxml2's
# message. With --codec CODEC first, each file is instead decoded by
# python's codec of that name (or by iconv, for iconv:CHARSET; or, for a
# CODEC that is the path of a python file, by that file's decode(bytes)) and
# the text given to libxml2 as UTF-8, its declaration naming UTF-8 (for a
# layout or a name libxml2 does not take itself: a libxml2 that knows no
# such name refuses the text whatever it is told).
import re
import runpy
import subprocess
import sys

import lxml.etree as E

DECLARED = re.compile(r"""^(\ufeff?<\?xml[^>]*?\bencoding\s*=\s*)(["'])[^"']*\2""")


def decoded(data, codec, decoder):
    if decoder:
        text = decoder(data)
    elif codec.startswith("iconv:"):
        text = subprocess.run(["iconv", "-f", codec[len("iconv:"):], "-t", "UTF-8"], input=data,
                              capture_output=True, check=True).stdout.decode("utf-8")
    else:
        text = data.decode(codec)
    return DECLARED.sub(lambda m: m.group(1) + m.group(2) + "UTF-8" + m.group(2), text, count=1).encode("utf-8")


args = sys.argv[1:]
codec = None
if args[:1] == ["--codec"]:
    codec, args = args[1], args[2:]
decoder = runpy.run_path(codec)["decode"] if codec and codec.endswith(".py") else None
for path in args:
    data = open(path, "rb").read()
    parser = E.XMLParser(resolve_entities=False, no_network=True, load_dtd=False, encoding="utf-8" if codec else None)
    try:
        if codec:
            data = decoded(data, codec, decoder)
        tree = E.fromstring(data, parser).getroottree()
    except (E.XMLSyntaxError, ValueError, LookupError, UnicodeError, subprocess.CalledProcessError) as e:
        print("refused", str(e).replace("\n", " "))
        continue
    open(path + ".libxml2.xml", "wb").write(E.tostring(tree, encoding="utf-8", xml_declaration=True))
    print("ok")
