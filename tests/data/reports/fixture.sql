-- A small journal for the report tests, loaded into a freshly created
-- journal file with the sqlite3 shell. Every record that must never reach a
-- report carries "(gone)" in a text or is told apart by its numbers: deleted
-- entries, deleted details, and live details of deleted entries.
-- The range the tests report on is the whole days 2026-03-02 to 2026-03-30;
-- the entries at 1 and 31 March midnight lie just outside it.

INSERT INTO medicine_cabinet (id, name, dos_size, dos_msr, dos_form, dos_qty) VALUES
  (1, 'Ibuprofen', 200, 'mg', 'Tablet', 2),
  (2, 'Tramadol', 50, 'mg', 'Capsule', 1),
  (3, 'Gabapentin (gone)', 300, 'mg', 'Capsule', 1);

INSERT INTO entry (id, ts, wpl, apl, lpl, cpl, sbj, entry, del) VALUES
  (1, '2026-03-02 08:00:00', 7, 5, 3, 4, 'Morning "stiff" back', 'text', 0),
  (2, '2026-03-05 12:30:00', 8, 6, 4, 6, 'Walk, then rest', 'text', 0),
  (3, '2026-03-09 19:15:00', 6, 4, 2, 3, 'Evening', 'text', 0),
  (4, '2026-03-10 09:00:00', 10, 10, 10, 10, 'Entry (gone)', 'text', 1),
  (5, '2026-03-01 00:00:00', 1, 1, 1, 1, 'At the very start', 'text', 0),
  (6, '2026-03-31 00:00:00', 2, 2, 2, 2, 'At the very end', 'text', 0),
  (7, '2026-02-20 10:00:00', 3, 3, 3, 3, 'Before the range', 'text', 0),
  (8, '2026-03-20 10:00:00', 7, 6, 5, 4, 'Two' || char(10) || 'lines', 'text', 0);

INSERT INTO entry_actions (eid, name, cat, plmod, durmin, ref, del) VALUES
  (1, 'Stretching', 'Exercise', -2, 15, '', 0),
  (2, 'Walk, long', 'Exercise', 1, 45, '', 0),
  (2, 'Gardening (gone)', 'Chores', 3, 60, '', 1),
  (3, 'Stretching', 'Exercise', -1, 20, '', 0),
  (4, 'Cleaning (gone)', 'Chores', 4, 30, '', 0),
  (5, 'Boundary (gone)', 'Chores', 4, 30, '', 0),
  (8, 'Reading', 'Rest', -3, 90, '', 0);

INSERT INTO entry_meds (eid, mid, name, quantity, override, dosage, desc, del) VALUES
  (1, 1, 'Ibuprofen', 2, 0, '200 mg', 'with food', 0),
  (3, 2, 'Tramadol', 1, 0, '50 mg', 'at night', 0),
  (2, 1, 'Ibuprofen (gone)', 3, 0, '200 mg', '', 1),
  (4, 2, 'Tramadol (gone)', 1, 0, '50 mg', '', 0),
  (8, 1, 'Ibuprofen', 1, 0, '200 mg', '', 0);

INSERT INTO entry_mood (eid, act, mood, walk, work, relat, sleep, life, concn, del) VALUES
  (1, 4, 6, 3, 5, 2, 7, 5, 6, 0),
  (3, 7, 8, 9, 6, 3, 4, 8, 9, 0),
  (2, 10, 10, 10, 10, 10, 10, 10, 10, 1),
  (4, 0, 0, 0, 0, 0, 0, 0, 0, 0);

INSERT INTO entry_sideff (eid, mid, appet, constip, insomn, itch, nausea, night, sweat, think, tired, vomit, del) VALUES
  (1, 1, 2, 3, 1, 0, 4, 0, 1, 2, 5, 0, 0),
  (3, 1, 4, 2, 2, 1, 5, 1, 0, 3, 7, 1, 0),
  (2, 2, 6, 8, 0, 2, 3, 4, 1, 6, 8, 2, 0),
  (3, 3, 10, 10, 10, 10, 10, 10, 10, 10, 10, 10, 1),
  (4, 3, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 0),
  (4, 1, 10, 10, 10, 10, 10, 10, 10, 10, 10, 10, 0);

INSERT INTO entry_question (eid, q, a, ref, del) VALUES
  (1, 'Can I take both together?', 'Yes', '', 0),
  (4, 'Question (gone)', '', '', 0);
