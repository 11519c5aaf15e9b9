#include <QCryptographicHash>
#include <QFile>

#include "JournalWindowSupport.h"
#include "app/shell/FormTexts.h"
#include "app/shell/OScopeCtrl.h"
#include "app/shell/Profile.h"
#include "app/shell/Resource.h"
#include "app/store/SqlText.h"
#include "app/store/StoreTexts.h"

using namespace grv;

namespace {

class DatabaseCommandsTest : public JournalWindowTest {
protected:
    void SetUp() override {
        JournalWindowTest::SetUp();
        current = MakeJournal("current.grv", {{"2026-04-01 07:00:00", "here", 4, 4, 4, 4}});
        ShowAndSettle(dlg);
        OpenThroughMenu(dlg, current);
        prompter->Clear();
    }

    QByteArray Digest(const QString& path) {
        QFile f(path);
        EXPECT_TRUE(f.open(QIODevice::ReadOnly));
        return QCryptographicHash::hash(f.readAll(), QCryptographicHash::Sha256);
    }
    // The window still shows the journal opened in SetUp.
    void ExpectCurrentStillOpen() {
        EXPECT_TRUE(dlg.Db().IsOpen());
        EXPECT_EQ(dlg.Db().GetFileName(), "current.grv");
        EXPECT_EQ(dlg.windowTitle(), "Gorvane - current.grv");
        EXPECT_EQ(ListColumn(dlg, 1), QStringList({"here"}));
    }

    QString current;
    CGRVDlg dlg;
};

TEST_F(DatabaseCommandsTest, ChoosersAskForJournalFiles) {
    files->Queue({});
    files->Queue({});
    dlg.OnCommand(ID_DATABASE_NEW);
    dlg.OnCommand(ID_DATABASE_OPEN);
    const auto& requests = files->Requests();
    ASSERT_EQ(requests.size(), 3u); // the first is SetUp's Open
    EXPECT_EQ(requests[1].mode, platform::ui::FileMode::Save);
    EXPECT_EQ(requests[1].filter, kDbFilter);
    EXPECT_EQ(requests[1].defaultSuffix, "grv");
    EXPECT_EQ(requests[2].mode, platform::ui::FileMode::Open);
    EXPECT_EQ(requests[2].filter, kDbOpenFilter);
    // They start in the folder of the last journal chosen.
    EXPECT_EQ(requests[2].initialPath, QDir::cleanPath(dir.path()));
}

TEST_F(DatabaseCommandsTest, CancelledNewOrOpenKeepsTheOpenJournal) {
    files->Queue({});
    ASSERT_TRUE(dlg.OnCommand(ID_DATABASE_NEW));
    ASSERT_EQ(prompter->Prompts().size(), 1u);
    EXPECT_EQ(prompter->Prompts()[0].text, kDbNewCancelled);
    EXPECT_EQ(prompter->Prompts()[0].title, kDbNewCancelledTitle);
    ExpectCurrentStillOpen();

    prompter->Clear();
    files->Queue({});
    ASSERT_TRUE(dlg.OnCommand(ID_DATABASE_OPEN));
    ASSERT_EQ(prompter->Prompts().size(), 1u);
    EXPECT_EQ(prompter->Prompts()[0].text, kDbOpenCancelled);
    EXPECT_EQ(prompter->Prompts()[0].title, kTitleGorvane);
    ExpectCurrentStillOpen();
}

TEST_F(DatabaseCommandsTest, OpeningAMissingFileSaysWhyAndKeepsTheOpenJournal) {
    const QString missing = PathOf("missing.grv");
    files->Queue(missing);
    ASSERT_TRUE(dlg.OnCommand(ID_DATABASE_OPEN));
    ASSERT_EQ(prompter->Prompts().size(), 1u);
    EXPECT_TRUE(prompter->Prompts()[0].text.startsWith("We were unable to open the Database.\nError: "))
        << prompter->Prompts()[0].text.toStdString();
    EXPECT_TRUE(prompter->Prompts()[0].title.isEmpty());
    EXPECT_FALSE(QFile::exists(missing));
    ExpectCurrentStillOpen();
    // The profile remembers the last file chosen, even one that failed.
    EXPECT_EQ(GetProfileString(kSectionMru, kLastFile), "missing.grv");
    EXPECT_EQ(GetProfileString(kSectionMru, kLastPath), QDir::cleanPath(dir.path()));
}

TEST_F(DatabaseCommandsTest, OpeningAFileThatIsNoDatabaseIsRefused) {
    const QString text = PathOf("notes.grv");
    QFile f(text);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(QByteArray(4096, 'x'));
    f.close();
    files->Queue(text);
    ASSERT_TRUE(dlg.OnCommand(ID_DATABASE_OPEN));
    ASSERT_EQ(prompter->Prompts().size(), 1u);
    EXPECT_TRUE(prompter->Prompts()[0].text.startsWith("We were unable to open the Database."));
    ExpectCurrentStillOpen();
}

TEST_F(DatabaseCommandsTest, NewOverAnExistingFileLeavesItUntouched) {
    const QString other = MakeJournal("other.grv", {{"2026-01-01 01:00:00", "mine", 1, 1, 1, 1}});
    const QByteArray before = Digest(other);
    files->Queue(other);
    ASSERT_TRUE(dlg.OnCommand(ID_DATABASE_NEW));
    ASSERT_EQ(prompter->Prompts().size(), 1u);
    EXPECT_TRUE(prompter->Prompts()[0].text.startsWith("We were unable to create the Database.\nError: "));
    EXPECT_EQ(prompter->Prompts()[0].title, kTitleGorvane);
    EXPECT_EQ(Digest(other), before);
    ExpectCurrentStillOpen();
    EXPECT_EQ(GetProfileString(kSectionMru, kLastFile), "other.grv");
}

TEST_F(DatabaseCommandsTest, NewMakesAnEmptyJournalAndShowsIt) {
    List(dlg)->setCurrentItem(List(dlg)->topLevelItem(0));
    ASSERT_EQ(dlg.m_entry.id, 1);
    dlg.m_entryActions.id = 5;
    dlg.m_entryMood.eid = 1;
    const QString made = PathOf("made.grv");
    files->Queue(made);
    ASSERT_TRUE(dlg.OnCommand(ID_DATABASE_NEW));
    EXPECT_EQ(prompter->Texts(), std::vector<QString>({kDbCreated}));
    EXPECT_EQ(dlg.windowTitle(), "Gorvane - made.grv");
    EXPECT_EQ(List(dlg)->topLevelItemCount(), 0);
    EXPECT_EQ(dlg.m_entry.id, -1);
    EXPECT_EQ(dlg.m_entryActions.id, -1);
    EXPECT_EQ(dlg.m_entryMood.eid, -1);
    EXPECT_EQ(Sql(made, "SELECT count(*) FROM entry"), "0");
    EXPECT_EQ(GetProfileString(kSectionMru, kLastFile), "made.grv");
    // The old journal was closed, not changed.
    EXPECT_EQ(Sql(current, "SELECT count(*) FROM entry"), "1");
}

TEST_F(DatabaseCommandsTest, CloseEmptiesTheWindow) {
    Edit(dlg, IDC_CURRENT_PAIN)->setText("6");
    auto redPixels = [&] {
        const QImage chart = dlg.TrendChart()->Composite();
        int n = 0;
        for (int y = 0; y < chart.height(); ++y)
            for (int x = 0; x < chart.width(); ++x)
                n += chart.pixel(x, y) == qRgb(255, 0, 0);
        return n;
    };
    ASSERT_GT(redPixels(), 0);
    ASSERT_TRUE(dlg.OnCommand(ID_DATABASE_CLOSE));
    EXPECT_TRUE(prompter->Prompts().empty());
    EXPECT_FALSE(dlg.Db().IsOpen());
    EXPECT_EQ(dlg.windowTitle(), "Gorvane");
    EXPECT_EQ(List(dlg)->topLevelItemCount(), 0);
    for (int id : {IDC_WORST_PAIN, IDC_AVERAGE_PAIN, IDC_LOWEST_PAIN, IDC_CURRENT_PAIN})
        EXPECT_TRUE(Edit(dlg, id)->text().isEmpty()) << id;
    EXPECT_EQ(redPixels(), 0);
    // Saving now says a journal is needed.
    ASSERT_TRUE(dlg.OnCommand(ID_FILE_SAVE_ENTRY));
    EXPECT_EQ(prompter->Texts().back(), kNeedDbForSave);
}

// An empty file or another program's database opened silently, and the first
// save failed with an INSERT statement as its only explanation. Opening says
// what the file is not, and leaves it and the open journal as they were.
TEST_F(DatabaseCommandsTest, OpeningAFileThatIsNoJournalIsRefusedAndLeftAlone) {
    struct Case {
        const char* name;
        const char* sql; // run by the sqlite3 shell; none: an empty file
        std::string why;
    };
    const Case cases[] = {
        {"empty.grv", nullptr, kNotJournalEmpty},
        {"addresses.grv", "CREATE TABLE people(name, street); INSERT INTO people VALUES('A', 'B');",
         SqlFormat(kNotJournalNoTable, "entry")},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const QString path = PathOf(c.name);
        QFile f(path);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.close();
        if (c.sql)
            Sql(path, c.sql);
        const QByteArray before = Digest(path);
        prompter->Clear();
        files->Queue(path);
        ASSERT_TRUE(dlg.OnCommand(ID_DATABASE_OPEN));
        const std::string text = SqlFormat(kErrNotJournal, path.toStdString().c_str(), c.why.c_str());
        EXPECT_EQ(prompter->Texts(),
                  std::vector<QString>{QString::fromLatin1(kDbOpenFailed).arg(QString::fromStdString(text))});
        EXPECT_EQ(Digest(path), before);
        ExpectCurrentStillOpen();
    }
    // Nor is such a file opened at the next start, where the refusal is told
    // once the window shows.
    CGRVDlg next;
    prompter->Clear();
    ShowAndSettle(next);
    EXPECT_FALSE(next.Db().IsOpen());
    const QString last = PathOf(cases[std::size(cases) - 1].name);
    const std::string why =
        SqlFormat(kErrNotJournal, last.toStdString().c_str(), cases[std::size(cases) - 1].why.c_str());
    EXPECT_EQ(prompter->Texts(),
              std::vector<QString>{QString::fromLatin1(kDbOpenFailed).arg(QString::fromStdString(why))});
    EXPECT_EQ(next.windowTitle(), "Gorvane");
}

} // namespace
