-- A year of journal keeping, 2025-12-01 to 2026-11-30, for the charts of
-- every report kind: one entry a day with levels that swing with the season
-- and the day of the week, an action every day, a medicine most days, mood
-- and side effects every other day. Loaded with the sqlite3 shell.

INSERT INTO medicine_cabinet (id, name, dos_size, dos_msr, dos_form, dos_qty) VALUES
  (1, 'Ibuprofen', 200, 'mg', 'Tablet', 2),
  (2, 'Tramadol', 50, 'mg', 'Capsule', 1),
  (3, 'Gabapentin', 300, 'mg', 'Capsule', 1);

WITH RECURSIVE d(i) AS (SELECT 0 UNION ALL SELECT i + 1 FROM d WHERE i < 364)
INSERT INTO entry (id, ts, wpl, apl, lpl, cpl, sbj, entry, del)
SELECT i + 1,
       strftime('%Y-%m-%d ', '2025-12-01', '+' || i || ' days') || printf('%02d:%02d:00', 7 + i % 12, (i * 7) % 60),
       min(10, 6 + abs(6 - (i / 30) % 12) / 2 + i % 3),
       min(10, 4 + abs(6 - (i / 30) % 12) / 2 + i % 2),
       max(0, 1 + abs(6 - (i / 30) % 12) / 3 - i % 2),
       min(10, 3 + abs(6 - (i / 30) % 12) / 2 + (i % 7) / 3),
       'Day ' || (i + 1), 'text', 0
FROM d;

INSERT INTO entry_actions (eid, name, cat, plmod, durmin, ref, del)
SELECT id, CASE id % 4 WHEN 0 THEN 'Stretching' WHEN 1 THEN 'Walking' WHEN 2 THEN 'Gardening' ELSE 'Reading' END,
       CASE id % 4 WHEN 2 THEN 'Chores' WHEN 3 THEN 'Rest' ELSE 'Exercise' END,
       (id % 4) - 2, 15 + (id % 4) * 15, '', 0
FROM entry;

INSERT INTO entry_meds (eid, mid, name, quantity, override, dosage, desc, del)
SELECT id, 1 + id % 3, CASE id % 3 WHEN 0 THEN 'Ibuprofen' WHEN 1 THEN 'Tramadol' ELSE 'Gabapentin' END,
       1 + id % 2, 0, CASE id % 3 WHEN 0 THEN '200 mg' WHEN 1 THEN '50 mg' ELSE '300 mg' END, '', 0
FROM entry WHERE id % 5 <> 0;

INSERT INTO entry_mood (eid, act, mood, walk, work, relat, sleep, life, concn, del)
SELECT id, 3 + id % 5, 4 + id % 4, 2 + id % 7, 5 + id % 3, 3 + id % 6, 2 + id % 8, 4 + id % 5, 3 + id % 6, 0
FROM entry WHERE id % 2 = 0;

INSERT INTO entry_sideff (eid, mid, appet, constip, insomn, itch, nausea, night, sweat, think, tired, vomit, del)
SELECT id, 1 + id % 3, id % 4, 2 + id % 6, 1 + id % 3, id % 2, 1 + id % 5, id % 3, id % 4, 2 + id % 4, 3 + id % 6,
       id % 2, 0
FROM entry WHERE id % 2 = 1;
