#include <gtest/gtest.h>
#include <sqlite3.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string>

#include "app/store/JournalDb.h"
#include "app/store/JournalSchema.h"
#include "app/store/SqlText.h"
#include "app/store/StoreTexts.h"
#include "tests/support/JournalFixture.h"

namespace {

using grvtest::FileExists;
using grvtest::ReadFile;
using grvtest::TempDir;
using StoreTest = grvtest::JournalTest;

std::string Fmt(const char* format, const std::string& path) {
    return SqlFormat(format, path.c_str());
}

// Whether this process holds an open descriptor on path.
bool ProcessHoldsFile(const std::string& path) {
    const auto target = std::filesystem::canonical(path);
    for (const auto& fd : std::filesystem::directory_iterator("/proc/self/fd")) {
        std::error_code ec;
        if (std::filesystem::read_symlink(fd.path(), ec) == target)
            return true;
    }
    return false;
}

TEST(JournalDbPaths, FullPathJoinsFolderAndNameAndANewStoreIsClosed) {
    CJournalDb db;
    EXPECT_EQ(db.IsOpen(), 0);
    EXPECT_EQ(db.GetLastErrorText(), "");
    EXPECT_EQ(db.Close(), 1);
    db.SetFolder("/data");
    db.SetFileName("x.grv");
    EXPECT_EQ(db.GetFullPath(), "/data/x.grv");
    db.SetFolder("");
    EXPECT_EQ(db.GetFullPath(), "/x.grv");
}

// Inside the table a code has its text; outside it, one text for all.
TEST(JournalDbResultCodes, CodesOutsideTheTableShareOneText) {
    EXPECT_EQ(CJournalDb::GetResultCodeText(1), " SQL error or missing database ");
    EXPECT_EQ(CJournalDb::GetResultCodeText(26), " File opened that is not a database file ");
    EXPECT_EQ(CJournalDb::GetResultCodeText(100), " sqlite3_step() has another row ready ");
    EXPECT_EQ(CJournalDb::GetResultCodeText(101), " sqlite3_step() has finished executing ");
    for (int code : {0, 27, 99, 102, -1, 266})
        EXPECT_EQ(CJournalDb::GetResultCodeText(code), "Unknown Error with Database") << code;
}

TEST_F(StoreTest, NewJournalHoldsExactlyTheSchema) {
    EXPECT_TRUE(m_db.IsOpen());
    EXPECT_TRUE(m_db.ReadsAsDatabase());
    EXPECT_EQ(m_db.GetLastErrorText(), Fmt(kErrCreatingDb, JournalPath()));
    ASSERT_EQ(m_db.Close(), 1);
    EXPECT_EQ(m_db.IsOpen(), 0);

    const std::string golden = ReadFile(GRV_TEST_DATA_DIR "/store/schema-master.txt");
    ASSERT_FALSE(golden.empty());
    const auto viaPython =
        grvtest::Python("import sqlite3, sys; c = sqlite3.connect(sys.argv[1]); "
                        "print(\"\\n\".join(r[0] for r in c.execute(\"SELECT sql FROM sqlite_master\")))",
                        {JournalPath()});
    EXPECT_EQ(viaPython.status, 0) << viaPython.err;
    EXPECT_EQ(viaPython.out, golden);

    EXPECT_EQ(Cli("PRAGMA integrity_check;"), "ok\n");
}

TEST_F(StoreTest, ColumnDefaultsAndIdsAreNeverReused) {
    ASSERT_EQ(m_db.Close(), 1);
    EXPECT_EQ(Cli("INSERT INTO entry (ts) VALUES ('2024-01-01 10:00:00');"
                  "SELECT wpl, apl, lpl, cpl, '<' || sbj || '>', '<' || entry || '>', del FROM entry;"),
              "0|0|0|0|< >|< >|0\n");
    EXPECT_EQ(Cli("INSERT INTO medicine_cabinet (name) VALUES ('A');"
                  "SELECT id, dos_size, del FROM medicine_cabinet;"),
              "1|100|0\n");
    EXPECT_EQ(Cli("DELETE FROM medicine_cabinet; INSERT INTO medicine_cabinet (name) VALUES ('B');"
                  "SELECT id FROM medicine_cabinet;"),
              "2\n");
}

TEST_F(StoreTest, CreationStatementsLeaveAnExistingSchemaAlone) {
    ASSERT_EQ(m_db.Close(), 1);
    const std::string before = Cli("SELECT sql FROM sqlite_master;");
    Cli("INSERT INTO entry (ts) VALUES ('2024-01-01 10:00:00');");
    std::string all;
    for (const auto& s : JournalSchemaStatements())
        all += s.sql;
    const auto cli = grvtest::SqliteCli(JournalPath(), all);
    EXPECT_EQ(cli.status, 0) << cli.out;
    EXPECT_EQ(Cli("SELECT sql FROM sqlite_master;"), before);
    EXPECT_EQ(Cli("SELECT count(*) FROM entry;"), "1\n");
}

TEST_F(StoreTest, CreateNeverTouchesAnExistingFile) {
    ASSERT_EQ(m_db.Close(), 1);
    Cli("INSERT INTO entry (ts, sbj) VALUES ('2024-01-01 10:00:00', 'keep me');");
    const std::string journalBytes = ReadFile(JournalPath());

    const std::string other = m_dir.File("notes.txt");
    std::ofstream(other) << "not a journal\n";

    struct Case {
        std::string name;
        std::string bytes;
    };
    const Case cases[] = {{"journal.grv", journalBytes}, {"notes.txt", "not a journal\n"}};
    for (const auto& c : cases) {
        CJournalDb db;
        db.SetFolder(m_dir.Path());
        db.SetFileName(c.name);
        EXPECT_EQ(db.Open(1), 0) << c.name;
        EXPECT_EQ(db.IsOpen(), 0);
        const std::string path = m_dir.File(c.name);
        EXPECT_EQ(db.GetLastErrorText(), Fmt(kErrCreateOverExisting, path) + "\n\n" + Fmt(kErrFatalCreate, path));
        EXPECT_EQ(ReadFile(path), c.bytes) << c.name;
    }
    EXPECT_EQ(Cli("SELECT sbj FROM entry;"), "keep me\n");
}

TEST(JournalDbOpen, CreateInAMissingFolderFailsAndLeavesNothing) {
    TempDir dir;
    CJournalDb db;
    db.SetFolder(dir.File("missing"));
    db.SetFileName("j.grv");
    EXPECT_EQ(db.Open(1), 0);
    EXPECT_EQ(db.IsOpen(), 0);
    const std::string path = db.GetFullPath();
    EXPECT_EQ(db.GetLastErrorText(), Fmt(kErrCantCreateDb, path) + "\n\n" + Fmt(kErrFatalCreate, path));
    EXPECT_FALSE(FileExists(dir.File("missing")));
}

TEST(JournalDbOpen, OpeningAMissingFileFailsAndCreatesNothing) {
    TempDir dir;
    CJournalDb db;
    db.SetFolder(dir.Path());
    db.SetFileName("absent.grv");
    EXPECT_EQ(db.Open(0), 0);
    EXPECT_EQ(db.IsOpen(), 0);
    EXPECT_EQ(db.GetLastErrorText(), " Unable to open the database file ");
    EXPECT_FALSE(FileExists(dir.File("absent.grv")));
    EXPECT_EQ(db.Close(), 1);
}

// SQLite opens any file; a journal must hold the journal's tables with
// their columns. Whatever is refused is left byte for byte as it was.
TEST(JournalDbOpen, FilesThatAreNotJournalsAreRefusedUntouched) {
    struct Case {
        const char* name;
        std::string content; // the file's bytes, or
        const char* sql;     // what the sqlite3 shell makes of a new journal
        std::string why;
    };
    const Case cases[] = {
        {"empty", "", nullptr, kNotJournalEmpty},
        {"text", std::string(4096, 'x'), nullptr, kNotJournalNotDatabase},
        {"other database", "", "DROP TABLE entry; CREATE TABLE notes(x);", SqlFormat(kNotJournalNoTable, "entry")},
        {"column missing", "", "ALTER TABLE entry_mood DROP COLUMN walk;",
         SqlFormat(kNotJournalNoColumn, "entry_mood", "walk")},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir dir;
        const std::string path = dir.File("x.grv");
        if (c.sql) {
            CJournalDb made;
            made.SetFolder(dir.Path());
            made.SetFileName("x.grv");
            ASSERT_EQ(made.Open(1), 1);
            made.Close();
            ASSERT_TRUE(grvtest::SqliteCli(path, c.sql).Ok());
        } else {
            ASSERT_TRUE(grvtest::WriteFile(path, c.content));
        }
        const std::string before = ReadFile(path);
        CJournalDb db;
        db.SetFolder(dir.Path());
        db.SetFileName("x.grv");
        EXPECT_EQ(db.Open(0), 0);
        EXPECT_EQ(db.IsOpen(), 0);
        EXPECT_EQ(db.GetLastErrorText(), SqlFormat(kErrNotJournal, path.c_str(), c.why.c_str()));
        EXPECT_FALSE(ProcessHoldsFile(path));
        EXPECT_EQ(ReadFile(path), before);
    }
}

// A journal with one damaged page of a table the windows list opened, and
// the list's query then failed. Each is refused now with the damaged-file
// text, left as it was, and sqlite3 agrees that the file is damaged.
TEST(JournalDbOpen, DamagedJournalsAreRefusedUntouched) {
    const struct {
        const char* name;
        const char* table;
    } cases[] = {{"entry page", "entry"},
                 {"actions page", "entry_actions"},
                 {"medicine page", "medicine_cabinet"},
                 {"schema page", "sqlite_schema"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir dir;
        const std::string path = dir.File("x.grv");
        {
            CJournalDb made;
            made.SetFolder(dir.Path());
            made.SetFileName("x.grv");
            ASSERT_EQ(made.Open(1), 1);
        }
        // Rows enough that each table has leaves below an interior page.
        const std::string fill = "substr(replace(hex(zeroblob(200)), '00', 'ache '), 1, 300)";
        ASSERT_TRUE(grvtest::SqliteCli(path, "INSERT INTO entry(ts,sbj,entry) SELECT datetime('2026-01-01', '+' || "
                                             "value || ' hours'), 'Entry ' || value, " +
                                                 fill +
                                                 " FROM generate_series(1,60);"
                                                 "INSERT INTO entry_actions(eid,name,ref) SELECT value, 'Walk', " +
                                                 fill +
                                                 " FROM generate_series(1,60);"
                                                 "INSERT INTO medicine_cabinet(name,desc) SELECT 'Med ' || "
                                                 "value, " +
                                                 fill + " FROM generate_series(1,60);")
                        .Ok());
        const grvtest::RunResult page = grvtest::SqliteCli(path, std::string("SELECT pageno FROM dbstat WHERE name='") +
                                                                     c.table + "' ORDER BY pagetype DESC LIMIT 1");
        ASSERT_TRUE(page.Ok()) << page.out;
        const long pageNo = std::stol(page.out);
        std::string bytes = ReadFile(path);
        const size_t pageSize = 4096;
        ASSERT_EQ(std::stol(grvtest::SqliteCli(path, "PRAGMA page_size").out), long(pageSize));
        // The page's cells point nowhere; its header stays.
        const size_t at = size_t(pageNo - 1) * pageSize + (pageNo == 1 ? 100 : 0);
        std::fill(bytes.begin() + long(at) + 12, bytes.begin() + long(at) + 64, '\xff');
        ASSERT_TRUE(grvtest::WriteFile(path, bytes));
        const grvtest::RunResult verdict = grvtest::SqliteCli(path, "PRAGMA integrity_check");
        ASSERT_NE(verdict.out, "ok\n");

        CJournalDb db;
        db.SetFolder(dir.Path());
        db.SetFileName("x.grv");
        EXPECT_EQ(db.Open(0), 0);
        EXPECT_EQ(db.IsOpen(), 0);
        EXPECT_EQ(db.GetLastErrorText(), SqlFormat(kErrCantReadJournal, path.c_str(), kReasonDamaged));
        EXPECT_FALSE(ProcessHoldsFile(path));
        EXPECT_EQ(ReadFile(path), bytes);
    }
}

// Nothing reads or writes prefs: a journal without it opens.
// The journal as SQLite reads it, for the backup: the file itself where
// nothing waits in a -wal, every committed entry where another connection
// keeps some there (judged by the sqlite3 shell), and nothing at all, with
// the reason, where the file cannot be read whole.
TEST(JournalDbImage, HoldsEveryCommittedEntryOrNothing) {
    using Result = CJournalDb::ImageResult;
    TempDir dir;
    const std::string plain = grvtest::MakeJournalDatabase(dir.File("plain.grv"));
    const std::string wal = grvtest::MakeJournalDatabase(dir.File("wal.grv"));
    const std::string locked = grvtest::MakeJournalDatabase(dir.File("locked.grv"));
    ASSERT_TRUE(grvtest::WriteFile(dir.File("notes.txt"), std::string(5000, 'n')));
    const std::string whole = ReadFile(plain);
    ASSERT_TRUE(grvtest::WriteFile(dir.File("truncated.grv"), whole.substr(0, whole.size() / 2)));
    sqlite3* other = nullptr;
    ASSERT_EQ(sqlite3_open(wal.c_str(), &other), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(other,
                           "PRAGMA journal_mode=WAL; PRAGMA wal_autocheckpoint=0; "
                           "WITH RECURSIVE n(k) AS (SELECT 1 UNION ALL SELECT k + 1 FROM n WHERE k < 7) "
                           "INSERT INTO entry(ts, subject) SELECT '2026-04-01 09:00:00', 'Late ' || k FROM n;",
                           nullptr, nullptr, nullptr),
              SQLITE_OK);
    sqlite3* holder = nullptr;
    ASSERT_EQ(sqlite3_open(locked.c_str(), &holder), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(holder, "BEGIN EXCLUSIVE; INSERT INTO entry(ts) VALUES ('2026-04-01');", nullptr, nullptr,
                           nullptr),
              SQLITE_OK);
    const std::string count = "SELECT count(*), group_concat(subject) FROM entry;";
    const struct {
        const char* name;
        std::string path;
        Result result;
    } cases[] = {
        {"rollback journal", plain, Result::Ok},
        {"entries in the -wal", wal, Result::Ok},
        {"locked by another connection", locked, Result::Busy},
        {"no database", dir.File("notes.txt"), Result::Damaged},
        {"truncated", dir.File("truncated.grv"), Result::Damaged},
        {"missing", dir.File("missing.grv"), Result::Failed},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string copy = dir.File("copy.grv");
        ASSERT_TRUE(grvtest::WriteFile(copy, ""));
        bool used = false;
        ASSERT_EQ(CJournalDb::WithDatabaseImage(c.path, copy,
                                                [&](const std::string& image) {
                                                    used = true;
                                                    EXPECT_EQ(image, c.path == wal ? copy : c.path);
                                                    grvtest::WriteFile(dir.File("image.grv"), ReadFile(image));
                                                }),
                  c.result);
        EXPECT_EQ(used, c.result == Result::Ok);
        std::filesystem::remove(copy);
        if (!used)
            continue;
        const auto fromImage = grvtest::SqliteCli(dir.File("image.grv"), "PRAGMA integrity_check;" + count);
        const auto fromJournal = grvtest::SqliteCli(c.path, "PRAGMA integrity_check;" + count);
        EXPECT_EQ(fromImage.out, fromJournal.out);
        EXPECT_EQ(fromImage.out.substr(0, 3), "ok\n");
        EXPECT_EQ(grvtest::SqliteCli(dir.File("image.grv"), "PRAGMA schema_version").out,
                  grvtest::SqliteCli(c.path, "PRAGMA schema_version").out);
        std::filesystem::remove(dir.File("image.grv-wal"));
        std::filesystem::remove(dir.File("image.grv-shm"));
    }
    EXPECT_EQ(ReadFile(plain), whole) << "only read";
    EXPECT_FALSE(FileExists(dir.File("missing.grv")));
    sqlite3_close(holder);
    sqlite3_close(other);
}

TEST_F(StoreTest, AJournalWithoutPrefsOpens) {
    ASSERT_EQ(m_db.Close(), 1);
    Cli("DROP TABLE prefs;");
    EXPECT_EQ(m_db.Open(0), 1) << m_db.GetLastErrorText();
}

TEST_F(StoreTest, ReopenKeepsTheErrorTextAndOpensTheFile) {
    ASSERT_EQ(m_db.Close(), 1);
    const std::string before = m_db.GetLastErrorText();
    ASSERT_EQ(m_db.Open(0), 1);
    EXPECT_EQ(m_db.IsOpen(), 1);
    EXPECT_EQ(m_db.GetLastErrorText(), before);
}

TEST_F(StoreTest, OpenClosesTheConnectionItReplaces) {
    ASSERT_TRUE(ProcessHoldsFile(JournalPath()));
    m_db.SetFileName("second.grv");
    ASSERT_EQ(m_db.Open(1), 1) << m_db.GetLastErrorText();
    EXPECT_FALSE(ProcessHoldsFile(JournalPath()));
    EXPECT_TRUE(ProcessHoldsFile(m_dir.File("second.grv")));

    // A failed open also leaves no connection to the earlier journal.
    m_db.SetFileName("absent.grv");
    EXPECT_EQ(m_db.Open(0), 0);
    EXPECT_EQ(m_db.IsOpen(), 0);
    EXPECT_FALSE(ProcessHoldsFile(m_dir.File("second.grv")));
}

TEST_F(StoreTest, DestructionReleasesTheConnection) {
    {
        CJournalDb other;
        other.SetFolder(m_dir.Path());
        other.SetFileName("other.grv");
        ASSERT_EQ(other.Open(1), 1);
        ASSERT_TRUE(ProcessHoldsFile(m_dir.File("other.grv")));
    }
    EXPECT_FALSE(ProcessHoldsFile(m_dir.File("other.grv")));
}

} // namespace
