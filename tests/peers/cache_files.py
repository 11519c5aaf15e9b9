#!/usr/bin/python3
"""Readers of the HTTP response caches' files, written from their format
description alone (python's hashlib, zlib and bz2 do the arithmetic), to
judge what the library writes and how it reads damaged files.

".dat" file: header length H (u32), version (u16), magic FE 9A, two reserved
bytes, expiry (IEEE double, OLE Automation date, 0 = none), ETag length E
(u16), the ETag, then the cached data; all little-endian. The cached data of
a response: K (i32), the head text up to K, the body from K on. The file of
a name lies under root[md5[0] % roots], then md5[1]/ and md5[2]/ for 1 and 2
levels, named with the 32 upper-case hex digits of the MD5 and ".dat".

".caf" bucket file: capacity (u32), count (u32), capacity slots of (entry
offset u32, CRC-32 of the key u32), then the entries. Entry: tagCrc, dataCrc
(u32 each), count, flags, extraA, extraB (u8 each), created, validated (4
bytes each: year+0x30, month, day, hour), K = key length + 1, T, N (u32
each), the key and a zero byte, the header text (with its zero byte) as a
blob, the data (a blob when flags has bit 2, else raw). Blob: magic E1 A7 94
B3, uncompressed length (u32), one bzip2 stream. The file of a key lies at
root + md5[1] "/" md5[2] "/" (u32 of md5[3..6] % 1000) ".caf".

Commands (lines on stdout):
  datpath LEVELS NAME ROOT...        the path of a name's ".dat" file
  cafpath NAME ROOT...               the path of a key's ".caf" file
  dat FILE                           the whole ".dat" file, checked
  caf FILE                           the whole ".caf" file, every entry checked
  lookup-caf KEYS FILE...            per file and key (KEYS: one per line): what a
                                     lookup finds, one line each
  lookup-dat FILE...                 per file: what a fetch finds, one line each
  ole-local OLE                      an OLE date as "YYYY-MM-DD HH:MM:SS"
  local-of ZONE UNIXTIME...          the local times of instants in a zone
"""
import bz2
import datetime
import hashlib
import math
import os
import struct
import sys
import zlib
import zoneinfo

DAT_MAGIC = 0x9AFE
DAT_FIXED = 20
DAT_MAX_HEADER = 8000
BLOB_MAGIC = 0xB394A7E1
CAF_MAX_SLOTS = 1024
BUCKETS = 1000
ENTRY_HEAD = 32


class Damaged(Exception):
    pass


def u32(b, at):
    if at < 0 or at + 4 > len(b):
        raise Damaged("u32 beyond the end at %d" % at)
    return struct.unpack_from("<I", b, at)[0]


def md5(name):
    return hashlib.md5(name.encode("utf-8")).digest()


def dat_path(levels, name, roots):
    d = md5(name)
    root = roots[d[0] % len(roots)].replace("\\", "/")
    if not root.endswith("/"):
        root += "/"
    if levels in (1, 2):
        root += "%d/" % d[1]
    if levels == 2:
        root += "%d/" % d[2]
    return root + d.hex().upper() + ".dat"


def caf_path(name, roots):
    d = md5(name)
    root = roots[d[0] % len(roots)]
    bucket = struct.unpack_from("<I", d, 3)[0] % BUCKETS
    return "%s%d/%d/%d.caf" % (root, d[1], d[2], bucket)


def ole_text(ole):
    """An OLE date to the nearest second: the whole days count from
    1899-12-30 with their sign, the fraction's magnitude is the time of day.
    None for 0 and for dates outside 0100-01-01 to 9999-12-31."""
    if ole == 0 or not -657434 <= ole <= 2958465:
        return "none"
    v = ole + (0.5 / 86400 if ole > 0 else -0.5 / 86400)
    days = int(v)
    fraction = abs(v) - math.floor(abs(v))
    seconds = int(fraction * 86400)
    t = datetime.datetime(1899, 12, 30) + datetime.timedelta(days=days, seconds=seconds)
    return t.strftime("%Y-%m-%d %H:%M:%S")


def unpack_blob(b):
    """The data of a blob: the stated length exactly, one bzip2 stream."""
    if len(b) < 8 or struct.unpack_from("<I", b, 0)[0] != BLOB_MAGIC:
        raise Damaged("no blob magic")
    length = struct.unpack_from("<I", b, 4)[0]
    stream = b[8:]
    if not stream:
        if length != 0:
            raise Damaged("blob without a stream")
        return b""
    d = bz2.BZ2Decompressor()
    try:
        out = d.decompress(stream, max_length=length + 21)
    except (OSError, ValueError, EOFError) as e:
        raise Damaged("bzip2: %s" % e)
    if not d.eof or len(out) != length:
        raise Damaged("blob length %d, unpacked %d" % (length, len(out)))
    return out


def digest(b):
    return b.hex()


def zero_text(b):
    return b.split(b"\0", 1)[0]


# ---------------------------------------------------------------- .dat


def read_dat(data):
    """(header fields, cached data) of a ".dat" file, or Damaged."""
    if len(data) < 4:
        raise Damaged("shorter than its header length")
    h = u32(data, 0)
    if h < 5 or h > DAT_MAX_HEADER or h > len(data):
        raise Damaged("header length %d" % h)
    if h < DAT_FIXED:
        raise Damaged("header shorter than its fixed fields")
    version, magic = struct.unpack_from("<HH", data, 4)
    if magic != DAT_MAGIC:
        raise Damaged("magic %04x" % magic)
    expiry_bytes = data[10:18]
    (expiry,) = struct.unpack("<d", expiry_bytes)
    (e,) = struct.unpack_from("<H", data, 18)
    if DAT_FIXED + e > h:
        raise Damaged("ETag past the header")
    fields = {
        "headerLength": h,
        "version": version,
        "reserved": data[8:10].hex(),
        "expiryHex": expiry_bytes.hex(),
        "expiry": ole_text(expiry),
        "etag": zero_text(data[20:20 + e]).decode("utf-8", "replace"),
    }
    return fields, zero_text(data[20:20 + e]), data[h:]


def split_response(cached):
    """(head bytes, body bytes) of cached response data, or Damaged."""
    if len(cached) <= 20:
        raise Damaged("too short to hold a response")
    k = struct.unpack_from("<i", cached, 0)[0]
    if k < 4 or k > len(cached):
        raise Damaged("bad offset %d" % k)
    return cached[4:k], cached[k:]


def describe_dat(path):
    """One line: every field of the file; the head and body in hex."""
    with open(path, "rb") as f:
        data = f.read()
    try:
        fields, etag, cached = read_dat(data)
    except Damaged as e:
        return "damaged: %s" % e
    line = "header=%d version=%d reserved=%s expiry=%s etag=%s data=%d" % (
        fields["headerLength"], fields["version"], fields["reserved"], fields["expiry"], etag.decode("utf-8"),
        len(cached))
    try:
        head, body = split_response(cached)
        line += " head=%s body=%s" % (head.hex(), body.hex())
    except Damaged as e:
        line += " response=(%s)" % e
    return line


def lookup_dat(path):
    """One line: what fetching the file gives, in the form the tests print."""
    try:
        with open(path, "rb") as f:
            data = f.read()
        fields, etag, cached = read_dat(data)
    except (OSError, Damaged):
        return "invalid"
    line = "ok etag=%s expiry=%s data=%s" % (etag.hex(), fields["expiry"], digest(cached))
    try:
        head, body = split_response(cached)
        line += " head=%s body=%s" % (digest(head), digest(body))
    except Damaged:
        line += " response=none"
    return line


# ---------------------------------------------------------------- .caf


def read_directory(b):
    capacity, count = u32(b, 0), u32(b, 4)
    if count > capacity or capacity > CAF_MAX_SLOTS:
        raise Damaged("count %d of capacity %d" % (count, capacity))
    if 8 + 8 * count > len(b):
        raise Damaged("slots past the end")
    slots = [struct.unpack_from("<II", b, 8 + 8 * i) for i in range(count)]
    return capacity, count, slots


def read_entry(b, at):
    if at + ENTRY_HEAD > len(b):
        raise Damaged("entry head past the end")
    tag_crc, data_crc, count, flags, extra_a, extra_b = struct.unpack_from("<IIBBBB", b, at)
    created, validated = b[at + 12:at + 16], b[at + 16:at + 20]
    k, t, n = struct.unpack_from("<III", b, at + 20)
    key_at = at + ENTRY_HEAD
    text_at = key_at + k
    data_at = text_at + t
    if data_at + n > len(b):
        raise Damaged("entry past the end")
    key = zero_text(b[key_at:text_at])
    text = zero_text(unpack_blob(b[text_at:data_at])) if t else b""
    raw = b[data_at:data_at + n]
    data = (unpack_blob(raw) if flags & 2 else raw) if n else b""
    if zlib.crc32(data) != data_crc:
        raise Damaged("data CRC")
    return {
        "tagCrc": "%08x" % tag_crc,
        "count": count,
        "flags": flags,
        "extraA": extra_a,
        "extraB": extra_b,
        "created": created.hex(),
        "validated": validated.hex(),
        "key": key.decode("utf-8", "replace"),
        "head": text.decode("utf-8", "replace"),
        "data": data.decode("utf-8", "replace"),
        "dataLength": len(data),
        "storedLength": n,
    }, key, text, data


def entry_end(b, at):
    k, t, n = struct.unpack_from("<III", b, at + 20)
    return at + ENTRY_HEAD + k + t + n


def describe_caf(path):
    """A line for the directory, then one per entry, every part checked. The
    directory line tells where the first entry starts and whether the
    entries lie end to end up to the end of the file, as appending leaves
    them."""
    with open(path, "rb") as f:
        b = f.read()
    try:
        capacity, count, slots = read_directory(b)
    except Damaged as e:
        return ["damaged: %s" % e]
    # Slots beyond the count are zero in a file this cache writes.
    unused = b[8 + 8 * count:8 + 8 * capacity]
    lines = []
    ends = []
    for offset, crc in slots:
        try:
            e, key, text, data = read_entry(b, offset)
        except Damaged as err:
            lines.append("damaged: %s" % err)
            continue
        ends.append((offset, entry_end(b, offset)))
        lines.append("key=%s crc-ok=%d count=%d flags=%d extra=%d,%d tag=%s created=%s validated=%s head=%s data=%s" % (
            key.decode("utf-8"), crc == zlib.crc32(key), e["count"], e["flags"], e["extraA"], e["extraB"],
            e["tagCrc"], e["created"], e["validated"], text.hex(), data.hex()))
    contiguous = all(ends[i][1] == ends[i + 1][0] for i in range(len(ends) - 1)) and (
        not ends or ends[-1][1] == len(b))
    head = "capacity=%d count=%d unused-zero=%d first=%s contiguous=%d" % (
        capacity, count, unused == bytes(len(unused)), ends[0][0] if ends else "none", contiguous)
    return [head] + lines


def lookup_caf(b, key):
    """What a lookup of key finds: the first slot whose CRC and stored key
    are the key's."""
    want = key.encode("utf-8")
    try:
        _, count, slots = read_directory(b)
    except Damaged:
        return "miss"
    crc = zlib.crc32(want)
    for offset, slot_crc in slots:
        if slot_crc != crc or offset + ENTRY_HEAD > len(b):
            continue
        stored_length = struct.unpack_from("<I", b, offset + 20)[0]
        key_end = offset + ENTRY_HEAD + len(want) + 1
        if stored_length < len(want) + 1 or key_end > len(b):
            continue
        if b[offset + ENTRY_HEAD:key_end] != want + b"\0":
            continue
        if b[offset + 18] == 0:
            return "negative"
        try:
            e, _, text, data = read_entry(b, offset)
        except Damaged:
            return "damaged"
        return "entry count=%d flags=%d extra=%d,%d tag=%s created=%s validated=%s head=%s data=%s" % (
            e["count"], e["flags"], e["extraA"], e["extraB"], e["tagCrc"], e["created"], e["validated"],
            digest(text), digest(data))
    return "miss"


def main(argv):
    cmd = argv[1]
    if cmd == "datpath":
        print(dat_path(int(argv[2]), argv[3], argv[4:]))
    elif cmd == "cafpath":
        print(caf_path(argv[2], argv[3:]))
    elif cmd == "dat":
        print(describe_dat(argv[2]))
    elif cmd == "caf":
        print("\n".join(describe_caf(argv[2])))
    elif cmd == "lookup-caf":
        keys = argv[2].split("\n")
        for path in argv[3:]:
            try:
                with open(path, "rb") as f:
                    b = f.read()
            except OSError:
                b = b""
            for key in keys:
                print(lookup_caf(b, key))
    elif cmd == "lookup-dat":
        for path in argv[2:]:
            print(lookup_dat(path))
    elif cmd == "ole-local":
        print(ole_text(float(argv[2])))
    elif cmd == "local-of":
        for unix_time in argv[3:]:
            t = datetime.datetime.fromtimestamp(int(unix_time), zoneinfo.ZoneInfo(argv[2]))
            print(t.strftime("%Y-%m-%d %H:%M:%S"))
    else:
        sys.exit("unknown command " + cmd)


if __name__ == "__main__":
    main(sys.argv)
