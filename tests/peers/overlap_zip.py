#!/usr/bin/python3
"""Rewrites a zip archive's first entry into the two forms of overlapped
archive that inflate one stream once per entry, or the whole archive into
their near miss, which overlaps nowhere.

overlap_zip.py full IN OUT
    A second central record on the first entry's local header, under the
    entry's own name: one local header, two entries.
overlap_zip.py quoted IN OUT
    A new first entry whose deflate data is a stored block holding the next
    entry's local header, followed by that entry's own deflate data: no two
    offsets are equal, and the first entry inflates the second's stream too.
    The first entry of IN must be deflated and not encrypted.
"""
import struct
import sys
import zlib

LOCAL = 0x04034B50
CENTRAL = 0x02014B50
END = 0x06054B50
LOCAL_SIZE = 30
CENTRAL_SIZE = 46
END_SIZE = 22
STORED_BLOCK_HEADER = 5
QUOTING_NAME = b"quoting.grv"
PAD = b"\0\0\0\0"
ENCRYPTED_OR_DESCRIPTOR = 0x9


def first_entry(zip_bytes):
    end = zip_bytes.rindex(struct.pack("<I", END))
    directory = struct.unpack_from("<I", zip_bytes, end + 16)[0]
    n, x, c = struct.unpack_from("<HHH", zip_bytes, directory + 28)
    central = zip_bytes[directory : directory + CENTRAL_SIZE + n + x + c]
    offset = struct.unpack_from("<I", central, 42)[0]
    ln, lx = struct.unpack_from("<HH", zip_bytes, offset + 26)
    header = zip_bytes[offset : offset + LOCAL_SIZE + ln + lx]
    size = struct.unpack_from("<I", central, 20)[0]
    data = zip_bytes[offset + len(header) : offset + len(header) + size]
    return central, header, data


def end_record(count, directory, at):
    return struct.pack("<IHHHHIIH", END, 0, 0, count, count, len(directory), at, 0)


def full(zip_bytes):
    central, header, data = first_entry(zip_bytes)
    body = header + data
    directory = central + central
    return body + directory + end_record(2, directory, len(body))


def quoted(zip_bytes):
    central, header, data = first_entry(zip_bytes)
    flags, method = struct.unpack_from("<HH", central, 8)
    if method != 8 or flags & 1:
        sys.exit("the first entry must be deflated and not encrypted")
    plain = zlib.decompress(data, -15)
    block = bytes([0]) + struct.pack("<HH", len(header), len(header) ^ 0xFFFF) + header
    quoting_data = block + data
    quoting_plain = header + plain
    crc = zlib.crc32(quoting_plain)
    quoting_local = struct.pack(
        "<IHHHHHIIIHH", LOCAL, 20, 0, 8, 0, 0x5021, crc, len(quoting_data), len(quoting_plain),
        len(QUOTING_NAME), 0) + QUOTING_NAME
    quoting_central = struct.pack(
        "<IHHHHHHIIIHHHHHII", CENTRAL, 0x0314, 20, 0, 8, 0, 0x5021, crc, len(quoting_data),
        len(quoting_plain), len(QUOTING_NAME), 0, 0, 0, 0, 0o100644 << 16, 0) + QUOTING_NAME
    quoted_at = len(quoting_local) + STORED_BLOCK_HEADER
    quoted_central = central[:42] + struct.pack("<I", quoted_at) + central[46:]
    body = quoting_local + quoting_data
    assert body[quoted_at : quoted_at + len(header)] == header
    directory = quoting_central + quoted_central
    return body + directory + end_record(2, directory, len(body))


def padded(zip_bytes):
    end = zip_bytes.rindex(struct.pack("<I", END))
    count = struct.unpack_from("<H", zip_bytes, end + 10)[0]
    at = struct.unpack_from("<I", zip_bytes, end + 16)[0]
    body, directory = b"", b""
    for _ in range(count):
        n, x, c = struct.unpack_from("<HHH", zip_bytes, at + 28)
        central = bytearray(zip_bytes[at : at + CENTRAL_SIZE + n + x + c])
        at += len(central)
        flags, method = struct.unpack_from("<HH", central, 8)
        if flags & ENCRYPTED_OR_DESCRIPTOR:
            sys.exit("no entry may be encrypted or have a data descriptor")
        offset, size = struct.unpack_from("<I", central, 42)[0], struct.unpack_from("<I", central, 20)[0]
        ln, lx = struct.unpack_from("<HH", zip_bytes, offset + 26)
        header = bytearray(zip_bytes[offset : offset + LOCAL_SIZE + ln + lx])
        data = zip_bytes[offset + len(header) : offset + len(header) + size]
        if method == 8:
            data += PAD
            struct.pack_into("<I", header, 18, len(data))
            struct.pack_into("<I", central, 20, len(data))
        struct.pack_into("<I", central, 42, len(body))
        body += header + data
        directory += central
    return body + directory + end_record(count, directory, len(body))


def main():
    mode, source, target = sys.argv[1:4]
    zip_bytes = open(source, "rb").read()
    out = {"full": full, "quoted": quoted, "padded": padded}[mode](zip_bytes)
    open(target, "wb").write(out)


if __name__ == "__main__":
    main()
