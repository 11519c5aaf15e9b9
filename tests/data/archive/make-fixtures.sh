#!/bin/bash
# Rebuilds the fixed archives the reader tests use. They are committed, not
# made fresh by each run: a wrong password passes the one-byte check once in
# 256 tries, so the archives whose wrong password must fail are chosen once
# and kept. Needs zip, unzip and python3.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"

python3 -c "
import sys
words = ['pain ', 'level ', 'slept ', 'walked ', 'ibuprofen ', 'knee\n', 'morning ']
out = ''.join(words[(i * 7 + i // 3) % len(words)] for i in range(900))
open('journal.grv', 'w').write(out)
"
: > empty.txt
touch -d '2026-03-01 12:00:00 UTC' journal.grv empty.txt

# Encrypted with "right"; "wrong" must fail the check byte of both entries.
rm -f "$here/password.zip"
zip -q -X -P right "$here/password.zip" journal.grv empty.txt
for e in journal.grv empty.txt; do
  if unzip -p -P wrong "$here/password.zip" "$e" >/dev/null 2>&1; then
    echo "'wrong' passes the check byte of $e; change a file time and rebuild" >&2
    exit 1
  fi
done

# Damaged data: one byte flipped inside a stored and inside a deflated entry.
flip() {  # archive, offset from the data start
  python3 - "$1" "$2" <<'PY'
import struct, sys
path, delta = sys.argv[1], int(sys.argv[2])
b = bytearray(open(path, 'rb').read())
n, x = struct.unpack('<HH', b[26:30])
b[30 + n + x + delta] ^= 0x55
open(path, 'wb').write(bytes(b))
PY
}
rm -f "$here/corrupt-stored.zip" "$here/corrupt-deflated.zip"
zip -q -X -0 "$here/corrupt-stored.zip" journal.grv
flip "$here/corrupt-stored.zip" 100
zip -q -X -9 "$here/corrupt-deflated.zip" journal.grv
flip "$here/corrupt-deflated.zip" 40

# Half of a good archive, and a file that is no archive at all.
rm -f whole.zip
zip -q -X whole.zip journal.grv
head -c $(( $(stat -c %s whole.zip) / 2 )) whole.zip > "$here/truncated.zip"
printf 'This is a journal note, not an archive.\n' > "$here/not-a-zip.zip"

# Zip64 end records (python writes them when told the count limit is 0).
python3 - "$here/zip64.zip" <<'PY'
import sys, zipfile
zipfile.ZIP_FILECOUNT_LIMIT = 0
with zipfile.ZipFile(sys.argv[1], 'w') as z:
    z.writestr('a.txt', 'zip64 end record')
PY
echo "fixtures rebuilt in $here"
