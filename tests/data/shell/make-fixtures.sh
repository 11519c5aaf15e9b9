#!/bin/bash
# Rebuilds the backups the restore tests read: one small journal, backed up
# by Info-ZIP zip and by 7-Zip with traditional encryption, stored and
# deflated, plus broken ones. Committed, not made by each run: a wrong
# password passes the one-byte check once in 256 tries, so the archives whose
# wrong password must fail are checked here once and kept.
# Needs sqlite3, zip, 7z and /usr/bin/python3.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"

# A journal with the schema of a new journal file and three entries.
grep -v '^CREATE TABLE sqlite_sequence' "$here/../store/schema-master.txt" | sed 's/$/;/' |
  sqlite3 journal.grv
sqlite3 journal.grv <<'SQL'
INSERT INTO entry (ts, wpl, apl, lpl, cpl, sbj, entry) VALUES
  ('2026-03-01 08:15:00', 7, 5, 3, 4, 'Morning', 'Stiff knee after a short night.'),
  ('2026-03-01 21:40:00', 6, 4, 2, 3, 'Evening', 'Walked twenty minutes, took ibuprofen.'),
  ('2026-03-02 09:05:00', 5, 3, 2, 2, 'Morning', 'Slept well.');
SQL
touch -d '2026-03-02 10:00:00 UTC' journal.grv
cp journal.grv "$here/journal.grv"

rm -f "$here"/*.grz
zip -q -X -0 -P right "$here/zip-stored.grz" journal.grv
zip -q -X -9 -P right "$here/zip-deflated.grz" journal.grv
7z a -bd -bso0 -tzip -mem=ZipCrypto -mm=Copy -pright "$here/7z-stored.grz" journal.grv
7z a -bd -bso0 -tzip -mem=ZipCrypto -mm=Deflate -mx=9 -pright "$here/7z-deflated.grz" journal.grv

for a in zip-stored zip-deflated 7z-stored 7z-deflated; do
  /usr/bin/python3 - "$here/$a.grz" <<'PY'
import sys, zipfile
z = zipfile.ZipFile(sys.argv[1])
info = z.infolist()[0]
assert info.flag_bits & 1, 'not encrypted'
assert z.read(info, pwd=b'right') == open('journal.grv', 'rb').read()
try:
    z.read(info, pwd=b'wrong')
except RuntimeError:
    pass
else:
    sys.exit(sys.argv[1] + ": 'wrong' passes the check byte; change the file time and rebuild")
PY
done

# Broken: the first half of a good backup, a text file, an archive with no entries.
head -c $(( $(stat -c %s "$here/zip-deflated.grz") / 2 )) "$here/zip-deflated.grz" > "$here/truncated.grz"
echo "This is a note, not a backup." > "$here/not-a-zip.grz"
/usr/bin/python3 -c "import zipfile, sys; zipfile.ZipFile(sys.argv[1], 'w').close()" "$here/empty.grz"
