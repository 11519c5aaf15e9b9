#include <QPushButton>
#include <QTableWidget>
#include <QTest>
#include <tuple>

#include "JournalWindowSupport.h"
#include "app/shell/FormTexts.h"
#include "app/shell/GRVDlgFind.h"
#include "app/shell/Resource.h"
#include "app/store/JournalDb.h"

using namespace grv;
using platform::ui::Answer;

namespace {

class FindDialogTest : public JournalWindowTest {
protected:
    void SetUp() override {
        JournalWindowTest::SetUp();
        path = MakeJournal("find.grv", {{"2026-05-01 10:00:00", "Knee's ache", 6, 5, 2, 3},
                                        {"2026-05-03 10:00:00", "Back 5 hours", 7, 2, 1, 2},
                                        {"2026-05-02 10:00:00", "Walk", 8, 5, 3, 4}});
        db.SetFolder(dir.path().toStdString());
        db.SetFileName("find.grv");
        ASSERT_EQ(db.Open(0), 1);
        find.m_pDb = &db;
        find.setAttribute(Qt::WA_DontShowOnScreen);
    }

    QTableWidget* Results() { return find.findChild<QTableWidget*>(QString::number(IDC_FIND_RESULTS)); }
    QComboBox* Fields() { return find.findChild<QComboBox*>(QString::number(IDC_FIND_FIELD)); }
    void Click(int id) { QTest::mouseClick(find.findChild<QPushButton*>(QString::number(id)), Qt::LeftButton); }
    QStringList Column(int c) {
        QStringList texts;
        for (int r = 0; r < Results()->rowCount(); ++r)
            texts << Results()->item(r, c)->text();
        return texts;
    }
    void Search(const QString& field, const QString& text) {
        Fields()->setCurrentIndex(Fields()->findText(field));
        find.findChild<QLineEdit*>(QString::number(IDC_FIND_TEXT))->setText(text);
        Click(IDC_FIND_SEARCH);
    }
    void ClickRow(int row) {
        const QRect cell = Results()->visualRect(Results()->model()->index(row, 1));
        QTest::mouseClick(Results()->viewport(), Qt::LeftButton, {}, cell.center());
    }

    QString path;
    CJournalDb db;
    CGRVDlgFind find;
};

TEST_F(FindDialogTest, FieldsAreSortedWithAllEntriesChosen) {
    QStringList items;
    for (int i = 0; i < Fields()->count(); ++i)
        items << Fields()->itemText(i);
    EXPECT_EQ(items, QStringList({"All Entries", "AVG Pain", "Entry", "Subject", "Timestamp"}));
    EXPECT_EQ(Fields()->currentText(), "All Entries");
    EXPECT_EQ(find.windowTitle(), kFindTitle);
    QStringList headings;
    for (int c = 0; c < Results()->columnCount(); ++c)
        headings << Results()->horizontalHeaderItem(c)->text();
    EXPECT_EQ(headings, QStringList({"ID", "Timestamp", "Subject", "APL"}));
}

TEST_F(FindDialogTest, UnknownFieldsSearchTheSubject) {
    EXPECT_STREQ(CGRVDlgFind::ColumnOfField(""), "sbj");
    EXPECT_STREQ(CGRVDlgFind::ColumnOfField("Nothing"), "sbj");
}

TEST_F(FindDialogTest, SearchOnShowListsEveryEntryNewestFirst) {
    find.m_bSearchOnShow = 1;
    find.show();
    QStringList rows;
    for (int r = 0; r < Results()->rowCount(); ++r) {
        QStringList cells;
        for (int c = 0; c < Results()->columnCount(); ++c)
            cells << Results()->item(r, c)->text();
        rows << cells.join('|');
    }
    EXPECT_EQ(rows, QStringList({"2|2026-05-03 10:00:00|Back 5 hours|2", "3|2026-05-02 10:00:00|Walk|5",
                                 "1|2026-05-01 10:00:00|Knee's ache|5"}));
}

TEST_F(FindDialogTest, InitialFieldAndTextAreSearchedOnShow) {
    find.m_strInitField = "sub";
    find.m_strInitText = "knee";
    find.m_bSearchOnShow = 1;
    find.show();
    EXPECT_EQ(Fields()->currentText(), "Subject");
    EXPECT_EQ(Column(2), QStringList({"Knee's ache"}));
}

TEST_F(FindDialogTest, AveragePainSearchesTheAverageColumnNotTheSubject) {
    find.show();
    Search("AVG Pain", "5");
    // "Back 5 hours" has 5 in its subject only.
    EXPECT_EQ(Column(2), QStringList({"Walk", "Knee's ache"}));
    Search("Subject", "Knee's");
    EXPECT_EQ(Column(0), QStringList({"1"}));
    Search("Timestamp", "05-02");
    EXPECT_EQ(Column(0), QStringList({"3"}));
}

TEST_F(FindDialogTest, ClicksPickTheIdAndAClickBesideTheRowsSaysNoneWasPicked) {
    find.m_bSearchOnShow = 1;
    find.resize(640, 420);
    find.show();
    ClickRow(1);
    EXPECT_EQ(find.m_strSelectedId, "3");
    EXPECT_TRUE(prompter->Prompts().empty());
    const QRect last = Results()->visualRect(Results()->model()->index(2, 1));
    QTest::mouseClick(Results()->viewport(), Qt::LeftButton, {}, QPoint(last.center().x(), last.bottom() + 30));
    ASSERT_EQ(prompter->Texts(), std::vector<QString>({kFindNoneSelected}));
    // The answer stays the last id picked; a double click picks like a click.
    EXPECT_EQ(find.m_strSelectedId, "3");
    const QRect first = Results()->visualRect(Results()->model()->index(0, 1));
    QTest::mouseDClick(Results()->viewport(), Qt::LeftButton, {}, first.center());
    EXPECT_EQ(find.m_strSelectedId, "2");
    EXPECT_TRUE(find.isVisible());
}

TEST_F(FindDialogTest, SelectWithoutAPickEndsWithOkAndNoId) {
    find.show();
    Click(IDOK);
    EXPECT_EQ(find.result(), QDialog::Accepted);
    EXPECT_TRUE(find.m_strSelectedId.isEmpty());
}

TEST_F(FindDialogTest, DeleteAsksAndMarksTheEntryDeletedThenForgetsIt) {
    find.m_bSearchOnShow = 1;
    find.show();
    // Nothing picked: nothing touched.
    Click(IDC_FIND_DELETE);
    EXPECT_EQ(prompter->Texts(), std::vector<QString>({kFindDeleteWhich}));

    ClickRow(1);
    ASSERT_EQ(find.m_strSelectedId, "3");
    prompter->Clear();
    prompter->Queue(Answer::No);
    Click(IDC_FIND_DELETE);
    EXPECT_EQ(Sql(path, "SELECT del FROM entry WHERE id=3"), "0");
    ASSERT_EQ(prompter->Prompts().size(), 1u);
    const auto& asked = prompter->Prompts()[0];
    EXPECT_EQ(std::tie(asked.text, asked.title, asked.buttons, asked.icon),
              std::make_tuple(QString(kFindDeleteQuestion), QString(kFindDeleteTitle), platform::ui::Buttons::YesNo,
                              platform::ui::Icon::Question));

    prompter->Queue(Answer::Yes);
    Click(IDC_FIND_DELETE);
    EXPECT_EQ(Sql(path, "SELECT id,del FROM entry ORDER BY id"), "1|0\n2|0\n3|1");
    EXPECT_EQ(Column(0), QStringList({"2", "1"}));
    // Select now hands back no id of a deleted entry.
    EXPECT_TRUE(find.m_strSelectedId.isEmpty());
}

TEST_F(FindDialogTest, AFailedDeleteIsReported) {
    find.m_bSearchOnShow = 1;
    find.show();
    ClickRow(0);
    db.Close();
    prompter->Queue(Answer::Yes);
    Click(IDC_FIND_DELETE);
    EXPECT_EQ(prompter->Texts().back(), kFindDeleteFailed);
    EXPECT_EQ(find.m_strSelectedId, "2");
}

} // namespace

namespace {

// Enter in the Find text pressed the default Select button: the dialog
// closed and whichever row was picked before was loaded into the form. It
// runs the search, as the Search button does, for each field.
TEST_F(FindDialogTest, EnterInTheTextSearchesAsTheSearchButtonDoes) {
    const struct {
        const char* field;
        const char* text;
        const char* where; // the same search, as sqlite3 runs it
    } cases[] = {
        {"Subject", "knee", "sbj LIKE '%knee%'"},
        {"All Entries", "a", "sbj LIKE '%a%'"},
        {"AVG Pain", "5", "apl LIKE '%5%'"},
        {"Timestamp", "05-0", "ts LIKE '%05-0%'"},
    };
    CGRVDlg dlg;
    ShowAndSettle(dlg);
    OpenThroughMenu(dlg, path);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.field);
        QStringList listed;
        bool stayed = false;
        WhenModal([&](QWidget* w) {
            auto* shown = static_cast<CGRVDlgFind*>(w);
            auto* results = shown->findChild<QTableWidget*>(QString::number(IDC_FIND_RESULTS));
            // A row is picked first, as a user who searches again would have.
            const QRect cell = results->visualRect(results->model()->index(1, 1));
            QTest::mouseClick(results->viewport(), Qt::LeftButton, {}, cell.center());
            auto* fields = shown->findChild<QComboBox*>(QString::number(IDC_FIND_FIELD));
            fields->setCurrentIndex(fields->findText(c.field));
            auto* text = shown->findChild<QLineEdit*>(QString::number(IDC_FIND_TEXT));
            text->clear();
            QTest::keyClicks(text, c.text);
            QTest::keyClick(text, Qt::Key_Return);
            stayed = shown->isVisible();
            for (int r = 0; r < results->rowCount(); ++r)
                listed << results->item(r, 0)->text();
            shown->reject();
        });
        ASSERT_TRUE(dlg.OnCommand(ID_TB_FIND));
        EXPECT_TRUE(stayed);
        EXPECT_EQ(listed.join('\n'),
                  Sql(path, QString("SELECT id FROM entry WHERE del=0 AND %1 ORDER BY ts DESC").arg(c.where)));
        EXPECT_LT(dlg.m_entry.id, 1) << "no entry was loaded";
    }
}

} // namespace
