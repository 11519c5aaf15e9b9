// Damaged journals. One damaged entry page let a journal open; its list
// query failed, the list kept the rows of the journal open before, and
// Delete marked an entry of the new journal by the id of another journal's
// row. Opening now runs SQLite's own check and a read of every record, and
// refuses what fails with the damaged-file text, the file untouched; a
// list whose query fails later says so and stays empty. Judged by the
// sqlite3 shell on the files.
#include <QDialog>
#include <QFile>
#include <QFileInfo>
#include <QTableWidget>
#include <QTreeWidget>
#include <algorithm>
#include <iostream>
#include <random>

#include "JournalWindowSupport.h"
#include "app/shell/FormTexts.h"
#include "app/shell/Resource.h"
#include "app/shell/ShellTexts.h"
#include "app/store/StoreTexts.h"

using namespace grv;
using platform::ui::Answer;

namespace {

QByteArray Bytes(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

void WriteBytes(const QString& path, const QByteArray& data) {
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    ASSERT_EQ(f.write(data), data.size());
}

class DamagedJournalTest : public JournalWindowTest {
protected:
    // A journal of count entries "Entry k" an hour apart, with bodies long
    // enough that the entry table spans many pages.
    QString SeedJournal(const QString& name, int count) {
        const QString path = MakeJournal(name, {});
        Sql(path, QString("INSERT INTO entry(ts,sbj,entry,wpl,apl,lpl,cpl) "
                          "SELECT datetime('2026-01-01 08:00:00', '+' || value || ' hours'), 'Entry ' || value, "
                          "substr(replace(hex(zeroblob(300)), '00', 'ache '), 1, 400), value % 11, 5, 1, value % 7 "
                          "FROM generate_series(1, %1)")
                      .arg(count));
        return path;
    }
    int PageSize(const QString& path) { return Sql(path, "PRAGMA page_size").toInt(); }
    // The entry table's leaf pages, as sqlite3's page statistics give them.
    QList<int> EntryLeaves(const QString& path) {
        QList<int> pages;
        for (const QString& n : Sql(path, "SELECT pageno FROM dbstat WHERE name='entry' AND pagetype='leaf'")
                                    .split('\n', Qt::SkipEmptyParts))
            pages << n.toInt();
        return pages;
    }
    // The bytes with one page of the file zeroed.
    QByteArray WithPageZeroed(const QString& path, int page) {
        QByteArray bytes = Bytes(path);
        const int size = PageSize(path);
        bytes.replace(qsizetype(page - 1) * size, size, QByteArray(size, '\0'));
        return bytes;
    }
    static QString DamagedRefusal(const QString& path) {
        return QString::fromLatin1(kDbOpenFailed)
            .arg(QString::asprintf(kErrCantReadJournal, path.toUtf8().constData(), kReasonDamaged));
    }
    // sqlite3's own verdict on the whole file.
    static bool IntactToSqlite(const QString& path) {
        const grvtest::RunResult r = grvtest::SqliteCli(path.toStdString(), "PRAGMA integrity_check");
        return r.status == 0 && r.out == "ok\n";
    }
    std::vector<QString> Told() const { return prompter->Texts(); }
    // The ids behind the entries list's rows, top first.
    static QList<int> ListIds(CGRVDlg& dlg) {
        QList<int> ids;
        for (int i = 0; i < List(dlg)->topLevelItemCount(); ++i)
            ids << List(dlg)->topLevelItem(i)->data(0, Qt::UserRole).toInt();
        return ids;
    }
    // The ids the entries list must show, as sqlite3 reads them.
    QList<int> ShellIds(const QString& path) {
        QList<int> ids;
        for (const QString& n :
             Sql(path, "SELECT id FROM entry WHERE del=0 ORDER BY ts DESC, id DESC").split('\n', Qt::SkipEmptyParts))
            ids << n.toInt();
        return ids;
    }
};

TEST_F(DamagedJournalTest, DamagedJournalIsRefusedAndRowsActOnTheJournalOpen) {
    const QString other = MakeJournal(
        "other.grv", {{"2026-03-03 08:00:00", "Day 3", 6, 4, 2, 3}, {"2026-03-04 08:00:00", "Day 4", 7, 5, 3, 4}});
    const QString damaged = SeedJournal("damaged.grv", 120);
    const QList<int> leaves = EntryLeaves(damaged);
    ASSERT_GE(leaves.size(), 3);
    WriteBytes(damaged, WithPageZeroed(damaged, leaves[1]));
    const QByteArray before = Bytes(damaged);
    ASSERT_FALSE(IntactToSqlite(damaged));

    CGRVDlg dlg;
    ShowAndSettle(dlg);
    OpenThroughMenu(dlg, other);
    prompter->Clear();
    files->Queue(damaged);
    ASSERT_TRUE(dlg.OnCommand(ID_DATABASE_OPEN));
    EXPECT_EQ(Told(), std::vector<QString>{DamagedRefusal(damaged)});
    // It says what to do: the journal is not repaired, a backup is opened.
    EXPECT_TRUE(Told().at(0).contains("open a backup instead")) << Told().at(0).toStdString();
    EXPECT_EQ(Bytes(damaged), before);

    // The journal open before stays open, with its own rows only.
    EXPECT_EQ(dlg.windowTitle(), "Gorvane - other.grv");
    EXPECT_EQ(ListColumn(dlg, 1), QStringList({"Day 4", "Day 3"}));
    List(dlg)->setCurrentItem(List(dlg)->topLevelItem(1));
    prompter->Clear();
    prompter->Queue(Answer::Yes);
    ASSERT_TRUE(dlg.OnCommand(ID_ENTRY_DELETE));
    EXPECT_EQ(Sql(other, "SELECT sbj, del FROM entry ORDER BY id"), "Day 3|1\nDay 4|0");
    EXPECT_EQ(Bytes(damaged), before);

    // At the next start the window tells why the last journal did not open.
    dlg.Db().Close();
    WriteProfileString(kSectionMru, kLastFile, "damaged.grv");
    WriteProfileString(kSectionMru, kLastPath, dir.path());
    prompter->Clear();
    CGRVDlg next;
    ShowAndSettle(next);
    EXPECT_EQ(next.Db().IsOpen(), 0);
    EXPECT_EQ(Told(), std::vector<QString>{DamagedRefusal(damaged)});
    EXPECT_EQ(List(next)->topLevelItemCount(), 0);
    EXPECT_EQ(Bytes(damaged), before);
}

// A restore of an earlier version that was killed midway left the last
// journal only as "<name>.part-XXXXXX.old", and what another program had
// not yet saved into it as that name with -journal or -wal after it: the
// next start opened an empty window without a word, and the next restore
// deleted the copy. The start names where each file is, and the journal
// they make again, renamed as told, is whole as sqlite3 reads it, with the
// entries it had before it was set aside.
struct SetAsideCase {
    const char* name;
    const char* script; // python3, the journal's path in sys.argv[1]
    const char* sides;  // the endings of the side files the start names with it
};

void PrintTo(const SetAsideCase& c, std::ostream* os) {
    *os << c.name;
}

class SetAsideTest : public DamagedJournalTest, public ::testing::WithParamInterface<SetAsideCase> {};

TEST_P(SetAsideTest, JournalAnEarlierRestoreSetAsideIsNamedAtStartWithWhatItNeeds) {
    const SetAsideCase c = GetParam();
    const QString journal = SeedJournal("pain.grv", 3);
    ASSERT_EQ(RunProgram("/usr/bin/python3", {"-c", c.script, journal}), 0);
    const QString read = QStringLiteral("PRAGMA integrity_check; SELECT group_concat(sbj) FROM entry;");
    grvtest::QtTempDir judge;
    for (const QString ending : {"", "-journal", "-wal"})
        QFile::copy(journal + ending, judge.filePath("pain.grv" + ending));
    const QString entries = Sql(judge.filePath("pain.grv"), read);
    ASSERT_TRUE(entries.startsWith("ok\n")) << entries.toStdString();
    const QString aside = PathOf("pain.grv.part-Kil1ed.old");
    for (const QString ending : {"", "-journal", "-wal", "-shm"}) {
        if (QFileInfo::exists(journal + ending)) {
            ASSERT_TRUE(QFile::rename(journal + ending, aside + ending));
        }
    }
    WriteProfileString(kSectionMru, kLastFile, "pain.grv");
    WriteProfileString(kSectionMru, kLastPath, dir.path());
    CGRVDlg next;
    ShowAndSettle(next);
    EXPECT_EQ(next.Db().IsOpen(), 0);
    const QStringList endings = QString::fromLatin1(c.sides).split(' ', Qt::SkipEmptyParts);
    QStringList sides;
    for (const QString& ending : endings)
        sides << aside + ending;
    EXPECT_EQ(Told(),
              std::vector<QString>{endings.isEmpty() ? QString::fromLatin1(kJournalSetAside).arg(journal, aside)
                                                     : QString::fromLatin1(kJournalSetAsideWithSides)
                                                           .arg(journal, aside, sides.join(QLatin1String(", ")))});
    // What the user is told to do.
    for (const QString& ending : QStringList{""} + endings)
        ASSERT_TRUE(QFile::rename(aside + ending, journal + ending));
    EXPECT_EQ(Sql(journal, read), entries);
}

constexpr char kAlone[] = "pass\n";
// A save another program never finished: its -journal is hot.
constexpr char kHalfSaved[] = "import os, sqlite3, sys\n"
                              "c = sqlite3.connect(sys.argv[1], isolation_level=None)\n"
                              "c.execute('PRAGMA cache_size=2')\n"
                              "c.execute('BEGIN')\n"
                              "c.execute(\"UPDATE entry SET entry = hex(randomblob(1900)), sbj = 'Half saved'\")\n"
                              "os._exit(0)\n";
// Entries another program saved into the -wal and no checkpoint wrote in.
constexpr char kInTheWal[] =
    "import os, sqlite3, sys\n"
    "c = sqlite3.connect(sys.argv[1], isolation_level=None)\n"
    "c.execute('PRAGMA journal_mode=WAL')\n"
    "c.execute('PRAGMA wal_autocheckpoint=0')\n"
    "c.execute(\"INSERT INTO entry(ts, sbj, cpl) VALUES ('2026-04-01 09:00:00', 'Only in the wal', 9)\")\n"
    "os._exit(0)\n";

INSTANTIATE_TEST_SUITE_P(LeftBehind, SetAsideTest,
                         ::testing::Values(SetAsideCase{"Alone", kAlone, ""},
                                           SetAsideCase{"WithAHotJournal", kHalfSaved, "-journal"},
                                           SetAsideCase{"WithAWal", kInTheWal, "-wal"}),
                         [](const auto& info) { return std::string(info.param.name); });

// The journal is damaged under the open window: the next filling of each
// list says so and leaves it empty.
TEST_F(DamagedJournalTest, ListThatFailsLaterSaysSoAndStaysEmpty) {
    const QString path = SeedJournal("pain.grv", 120);
    CGRVDlg dlg;
    ShowAndSettle(dlg);
    OpenThroughMenu(dlg, path);
    ASSERT_EQ(ListIds(dlg), ShellIds(path));
    QByteArray bytes = WithPageZeroed(path, EntryLeaves(path)[1]);
    // A new change counter, so the connection reads the pages again.
    bytes[27] = char(bytes[27] + 1);
    WriteBytes(path, bytes);
    ASSERT_FALSE(IntactToSqlite(path));

    prompter->Clear();
    int findRows = -1;
    WhenModal([&](QWidget* find) {
        findRows = find->findChild<QTableWidget*>(QString::number(IDC_FIND_RESULTS))->rowCount();
        static_cast<QDialog*>(find)->reject();
    });
    ASSERT_TRUE(dlg.OnCommand(ID_TB_FIND));
    EXPECT_EQ(findRows, 0);
    EXPECT_EQ(List(dlg)->topLevelItemCount(), 0);
    const std::vector<QString> told = Told();
    ASSERT_EQ(told.size(), 2u);
    EXPECT_TRUE(told[0].startsWith(QString::fromLatin1(kFindListFailed).section("%1", 0, 0))) << told[0].toStdString();
    EXPECT_TRUE(told[1].startsWith(QString::fromLatin1(kEntryListFailed).section("%1", 0, 0))) << told[1].toStdString();
    EXPECT_TRUE(told[1].contains("malformed")) << told[1].toStdString();
}

// Copies of a seeded journal cut short, with a header bit flipped, and with
// seeded random bit flips in every page. No copy opens with a list that
// fails or that holds fewer rows than sqlite3 reads from it, and a refused
// copy is left byte for byte as it was, the journal open before still open.
TEST_F(DamagedJournalTest, NoDamagedCopyOpensWithAFailingOrShortList) {
    const QString seed = SeedJournal("seed.grv", 60);
    const QByteArray original = Bytes(seed);
    const int pageSize = PageSize(seed);
    const int pages = static_cast<int>(original.size() / pageSize);
    ASSERT_GE(pages, 8);

    struct Copy {
        QString what;
        QByteArray bytes;
    };
    std::vector<Copy> copies;
    for (qsizetype size :
         {qsizetype(0), qsizetype(1), qsizetype(99), qsizetype(100), qsizetype(pageSize - 1), qsizetype(pageSize),
          qsizetype(pageSize + 1), original.size() / 2, original.size() - pageSize, original.size() - 1})
        copies.push_back({QString("cut to %1 bytes").arg(size), original.left(size)});
    std::mt19937 random(78);
    for (int byte = 0; byte < 100; byte += 3) {
        QByteArray bytes = original;
        const int bit = static_cast<int>(random() % 8);
        bytes[byte] = char(bytes[byte] ^ (1 << bit));
        copies.push_back({QString("header byte %1 bit %2").arg(byte).arg(bit), bytes});
    }
    for (int page = 0; page < pages; ++page) {
        for (int flip = 0; flip < 3; ++flip) {
            QByteArray bytes = original;
            const qsizetype at = qsizetype(page) * pageSize + static_cast<qsizetype>(random() % pageSize);
            const int bit = static_cast<int>(random() % 8);
            bytes[at] = char(bytes[at] ^ (1 << bit));
            copies.push_back({QString("page %1 byte %2 bit %3").arg(page + 1).arg(at).arg(bit), bytes});
        }
    }

    const QString good = MakeJournal("good.grv", {{"2026-03-03 08:00:00", "Day 3", 6, 4, 2, 3}});
    CGRVDlg dlg;
    ShowAndSettle(dlg);
    int refused = 0, opened = 0;
    struct OpenedList {
        QString what;
        QString path;
        QList<int> ids;
    };
    std::vector<OpenedList> openedLists;
    for (size_t i = 0; i < copies.size(); ++i) {
        const Copy& c = copies[i];
        SCOPED_TRACE(c.what.toStdString());
        // A copy that opened is left for the good journal again.
        if (QFileInfo(QString::fromStdString(dlg.Db().GetFullPath())) != QFileInfo(good))
            OpenThroughMenu(dlg, good);
        const QString path = PathOf(QString("copy-%1.grv").arg(i));
        WriteBytes(path, c.bytes);
        prompter->Clear();
        files->Queue(path);
        ASSERT_TRUE(dlg.OnCommand(ID_DATABASE_OPEN));
        if (QFileInfo(QString::fromStdString(dlg.Db().GetFullPath())) != QFileInfo(path)) {
            ++refused;
            EXPECT_EQ(Bytes(path), c.bytes);
            ASSERT_EQ(Told().size(), 1u);
            EXPECT_TRUE(Told()[0].startsWith(QString::fromLatin1(kDbOpenFailed).section("%1", 0, 0)));
            EXPECT_EQ(dlg.windowTitle(), "Gorvane - good.grv");
            EXPECT_EQ(ListColumn(dlg, 1), QStringList{"Day 3"});
            continue;
        }
        ++opened;
        EXPECT_TRUE(Told().empty()) << Told()[0].toStdString();
        QList<int> listed = ListIds(dlg);
        std::sort(listed.begin(), listed.end());
        openedLists.push_back({c.what, path, listed});
    }
    // What sqlite3 lists from each copy that opened, in one run: a marker
    // line before each copy, then its ids, or its error.
    QByteArray script;
    for (const OpenedList& o : openedLists)
        script += ".open '" + o.path.toUtf8() + "'\nSELECT '#';\nSELECT id FROM entry WHERE del=0 ORDER BY id;\n";
    grvtest::RunOptions options;
    options.input = script.toStdString();
    options.mergeStderr = true;
    const grvtest::RunResult shell = grvtest::RunProgram({"sqlite3", "-batch"}, options);
    QStringList sections = QString::fromStdString(shell.out).split("#\n");
    sections.removeFirst();
    ASSERT_EQ(sections.size(), static_cast<qsizetype>(openedLists.size())) << shell.out;
    for (size_t i = 0; i < openedLists.size(); ++i) {
        SCOPED_TRACE(openedLists[i].what.toStdString());
        QList<int> read;
        for (const QString& line : sections[i].split('\n', Qt::SkipEmptyParts)) {
            bool number = false;
            read << line.toInt(&number);
            EXPECT_TRUE(number) << "opened, but sqlite3 cannot list it: " << line.toStdString();
        }
        EXPECT_EQ(openedLists[i].ids, read);
    }
    std::cout << copies.size() << " copies: " << refused << " refused, " << opened << " opened\n";
    // Both roads were taken.
    EXPECT_GT(refused, 0);
    EXPECT_GT(opened, 0);
}

} // namespace
