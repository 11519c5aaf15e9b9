#!/usr/bin/python3
"""Writes an archive of many empty stored entries through python's zipfile,
then replaces its end (the Zip64 end record and locator zipfile adds past
65,535 entries, and the end record) with one plain end record that gives
the entry count asked for: the central directory stays as zipfile wrote it.

count_zip.py RECORDS COUNT OUT [--spoil N] [--stretch N[:K]] [--copy N[:M]] [--shorten N:X]
             [--disk N] [--this-disk N] [--folders] [FILE...]
    RECORDS entries, "note-00000" upwards (folders "note-00000/" with
    --folders), of which the last ones hold the FILEs' bytes, deflated,
    under their base names. COUNT (0..65535) goes into both count fields of
    the end record; TOTAL:HERE gives the entries on this disk apart.
    --spoil N changes the signature of the Nth central record (from 0), so
    that no reader finds a record there; --stretch N lengthens its comment
    over the records after it and one byte of the end record (N:K: up to K
    bytes before the directory's end). --copy N repeats the Nth central
    record, byte for byte, after the last one (N:M: before the Mth), the
    directory's size covering it and the count as given. --shorten N:X
    gives the FILEs' entries a "UT" time block of 9 bytes and lowers the
    Nth central record's extra length to X, leaving 9 - X bytes after it
    inside the directory. --disk N names disk N as the central directory's
    in the end record, --this-disk N as the end record's own.
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
# A "UT" block holding the modification time alone: 2026-03-01 00:00 UTC.
TIMES = struct.pack("<HHBI", 0x5455, 5, 1, 1772323200)


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
    args.add_argument("--stretch")
    args.add_argument("--copy")
    args.add_argument("--shorten")
    args.add_argument("--disk", type=int, default=0)
    args.add_argument("--this-disk", type=int, default=0)
    args.add_argument("--folders", action="store_true")
    args.add_argument("files", nargs="*")
    a = args.parse_intermixed_args()
    buffer = io.BytesIO()
    with zipfile.ZipFile(buffer, "w") as z:
        for i in range(a.records - len(a.files)):
            z.writestr(zipfile.ZipInfo("note-%05d%s" % (i, "/" if a.folders else ""), WHEN), b"")
        for name in a.files:
            info = zipfile.ZipInfo(os.path.basename(name), WHEN)
            if a.shorten:
                info.extra = TIMES
            with open(name, "rb") as f:
                z.writestr(info, f.read(), zipfile.ZIP_DEFLATED)
    data = bytearray(buffer.getvalue())
    end = data.rindex(struct.pack("<I", END))
    size, offset = struct.unpack_from("<II", data, end + 12)
    stop = data.find(struct.pack("<I", ZIP64_END), offset)
    stop = end if stop < 0 else stop
    if stop != offset + size:
        raise SystemExit("the directory does not end where its size says")
    if a.copy is not None:
        number, _, before = a.copy.partition(":")
        at = record(data, offset, int(number))
        copy = data[at : record(data, at, 1)]
        into = record(data, offset, int(before)) if before else stop
        data[into:into] = copy
        stop += len(copy)
        size += len(copy)
    if a.shorten:
        number, _, length = a.shorten.partition(":")
        struct.pack_into("<H", data, record(data, offset, int(number)) + 30, int(length))
    if a.spoil is not None:
        struct.pack_into("<I", data, record(data, offset, a.spoil), CENTRAL + 1)
    if a.stretch is not None:
        number, _, short = a.stretch.partition(":")
        at = record(data, offset, int(number))
        n, x, c = struct.unpack_from("<HHH", data, at + 28)
        reach = stop - int(short) if short else stop + 1
        struct.pack_into("<H", data, at + 32, c + reach - (at + CENTRAL_SIZE + n + x + c))
    total, _, here = a.count.partition(":")
    tail = struct.pack("<IHHHHIIH", END, a.this_disk, a.disk, int(here or total), int(total), size, offset, 0)
    with open(a.out, "wb") as f:
        f.write(data[:stop] + tail)


if __name__ == "__main__":
    main()
