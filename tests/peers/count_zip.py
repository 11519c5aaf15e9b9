#!/usr/bin/python3
"""Writes an archive of many empty stored entries through python's zipfile,
then replaces its end (the Zip64 end record and locator zipfile adds past
65,535 entries, and the end record) with one plain end record that gives
the entry count asked for: the central directory stays as zipfile wrote it.

count_zip.py RECORDS COUNT OUT [--spoil N] [--stretch N] [--folders] [FILE...]
    RECORDS entries, "note-00000" upwards (folders "note-00000/" with
    --folders), of which the last ones hold the FILEs' bytes, deflated,
    under their base names. COUNT (0..65535) goes into both count fields of
    the end record; TOTAL:HERE gives the entries on this disk apart.
    --spoil N changes the signature of the Nth central record (from 0), so
    that no reader finds a record there; --stretch N lengthens its comment
    over the records after it and one byte of the end record.
"""
import argparse
import io
import os
import struct
import zipfile

CENTRAL = 0x02014B50
CENTRAL_SIZE = 46
END = 0x06054B50
ZIP64_END = 0x06064B50
WHEN = (2026, 3, 1, 0, 0, 0)


def record(data, offset, number):
    at = offset
    for _ in range(number):
        n, x, c = struct.unpack_from("<HHH", data, at + 28)
        at += CENTRAL_SIZE + n + x + c
    return at


def main():
    args = argparse.ArgumentParser()
    args.add_argument("records", type=int)
    args.add_argument("count")
    args.add_argument("out")
    args.add_argument("--spoil", type=int)
    args.add_argument("--stretch", type=int)
    args.add_argument("--folders", action="store_true")
    args.add_argument("files", nargs="*")
    a = args.parse_intermixed_args()
    buffer = io.BytesIO()
    with zipfile.ZipFile(buffer, "w") as z:
        for i in range(a.records - len(a.files)):
            z.writestr(zipfile.ZipInfo("note-%05d%s" % (i, "/" if a.folders else ""), WHEN), b"")
        for name in a.files:
            with open(name, "rb") as f:
                z.writestr(zipfile.ZipInfo(os.path.basename(name), WHEN), f.read(), zipfile.ZIP_DEFLATED)
    data = bytearray(buffer.getvalue())
    end = data.rindex(struct.pack("<I", END))
    size, offset = struct.unpack_from("<II", data, end + 12)
    stop = data.find(struct.pack("<I", ZIP64_END), offset)
    stop = end if stop < 0 else stop
    if stop != offset + size:
        raise SystemExit("the directory does not end where its size says")
    if a.spoil is not None:
        struct.pack_into("<I", data, record(data, offset, a.spoil), CENTRAL + 1)
    if a.stretch is not None:
        at = record(data, offset, a.stretch)
        n, x, c = struct.unpack_from("<HHH", data, at + 28)
        struct.pack_into("<H", data, at + 32, c + stop + 1 - (at + CENTRAL_SIZE + n + x + c))
    total, _, here = a.count.partition(":")
    tail = struct.pack("<IHHHHIIH", END, 0, 0, int(here or total), int(total), size, offset, 0)
    with open(a.out, "wb") as f:
        f.write(data[:stop] + tail)


if __name__ == "__main__":
    main()
