# libxml2's reading of each file named (lxml, no network, no DTD loaded):
# prints one line a file, "ok" after writing what it read as UTF-8 beside
# it (NAME.libxml2.xml, for xml_dump.py), or "refused" and libxml2's
# message. With --codec CODEC first, each file is instead decoded by
# python's codec of that name and the text given to libxml2 as UTF-8
# (for a layout libxml2 does not take itself); a CODEC that is the path of
# a python file is that file's decode(bytes).
import importlib.util
import sys

import lxml.etree as E

args = sys.argv[1:]
codec = None
if args[:1] == ["--codec"]:
    codec, args = args[1], args[2:]
decoder = None
if codec and codec.endswith(".py"):
    spec = importlib.util.spec_from_file_location("decoder", codec)
    module = importlib.util.module_from_spec(spec)
    spec.loader.exec_module(module)
    decoder = module.decode
for path in args:
    data = open(path, "rb").read()
    parser = E.XMLParser(resolve_entities=False, no_network=True, load_dtd=False, encoding="utf-8" if codec else None)
    try:
        if codec:
            data = (decoder(data) if decoder else data.decode(codec)).encode("utf-8")
        tree = E.fromstring(data, parser).getroottree()
    except (E.XMLSyntaxError, ValueError, LookupError, UnicodeError) as e:
        print("refused", str(e).replace("\n", " "))
        continue
    open(path + ".libxml2.xml", "wb").write(E.tostring(tree, encoding="utf-8", xml_declaration=True))
    print("ok")
