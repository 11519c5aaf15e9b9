#include <QPushButton>
#include <QTableWidget>
#include <QTest>

#include "JournalWindowSupport.h"
#include "app/shell/FormTexts.h"
#include "app/shell/GRVDlgFind.h"
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

    QTableWidget* Results() { return find.findChild<QTableWidget*>("1024"); }
    QComboBox* Fields() { return find.findChild<QComboBox*>("1013"); }
    QStringList Column(int c) {
        QStringList texts;
        for (int r = 0; r < Results()->rowCount(); ++r) texts << Results()->item(r, c)->text();
        return texts;
    }
    void Search(const QString& field, const QString& text) {
        Fields()->setCurrentIndex(Fields()->findText(field));
        find.findChild<QLineEdit*>("1022")->setText(text);
        QTest::mouseClick(find.findChild<QPushButton*>("1023"), Qt::LeftButton);
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
    for (int i = 0; i < Fields()->count(); ++i) items << Fields()->itemText(i);
    EXPECT_EQ(items, QStringList({"All Entries", "AVG Pain", "Entry", "Subject", "Timestamp"}));
    EXPECT_EQ(Fields()->currentText(), "All Entries");
    EXPECT_EQ(find.windowTitle(), kFindTitle);
    QStringList headings;
    for (int c = 0; c < Results()->columnCount(); ++c)
        headings << Results()->horizontalHeaderItem(c)->text();
    EXPECT_EQ(headings, QStringList({"ID", "Timestamp", "Subject", "APL"}));
}

TEST_F(FindDialogTest, FieldsSearchTheirOwnColumns) {
    struct Case {
        const char* field;
        const char* column;
    };
    const Case cases[] = {{"Timestamp", "ts"}, {"Subject", "sbj"},  {"Entry", "entry"},
                          {"AVG Pain", "apl"}, {"All Entries", "sbj"}, {"", "sbj"}};
    for (const Case& c : cases) EXPECT_STREQ(CGRVDlgFind::ColumnOfField(c.field), c.column) << c.field;
}

TEST_F(FindDialogTest, SearchOnShowListsEveryEntryNewestFirst) {
    find.m_bSearchOnShow = 1;
    find.show();
    EXPECT_EQ(Column(0), QStringList({"2", "3", "1"}));
    EXPECT_EQ(Column(1), QStringList({"2026-05-03 10:00:00", "2026-05-02 10:00:00",
                                      "2026-05-01 10:00:00"}));
    EXPECT_EQ(Column(2), QStringList({"Back 5 hours", "Walk", "Knee's ache"}));
    EXPECT_EQ(Column(3), QStringList({"2", "5", "5"}));
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
    QTest::mouseClick(find.findChild<QPushButton*>("1"), Qt::LeftButton);
    EXPECT_EQ(find.result(), QDialog::Accepted);
    EXPECT_TRUE(find.m_strSelectedId.isEmpty());
}

TEST_F(FindDialogTest, DeleteAsksAndMarksTheEntryDeletedThenForgetsIt) {
    find.m_bSearchOnShow = 1;
    find.show();
    // Nothing picked: nothing touched.
    QTest::mouseClick(find.findChild<QPushButton*>("3"), Qt::LeftButton);
    EXPECT_EQ(prompter->Texts(), std::vector<QString>({kFindDeleteWhich}));

    ClickRow(1);
    ASSERT_EQ(find.m_strSelectedId, "3");
    prompter->Clear();
    prompter->Queue(Answer::No);
    QTest::mouseClick(find.findChild<QPushButton*>("3"), Qt::LeftButton);
    EXPECT_EQ(Sql(path, "SELECT del FROM entry WHERE id=3"), "0");
    ASSERT_EQ(prompter->Prompts().size(), 1u);
    EXPECT_EQ(prompter->Prompts()[0].text, kFindDeleteQuestion);
    EXPECT_EQ(prompter->Prompts()[0].title, kFindDeleteTitle);
    EXPECT_EQ(prompter->Prompts()[0].buttons, platform::ui::Buttons::YesNo);
    EXPECT_EQ(prompter->Prompts()[0].icon, platform::ui::Icon::Question);

    prompter->Queue(Answer::Yes);
    QTest::mouseClick(find.findChild<QPushButton*>("3"), Qt::LeftButton);
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
    QTest::mouseClick(find.findChild<QPushButton*>("3"), Qt::LeftButton);
    EXPECT_EQ(prompter->Texts().back(), kFindDeleteFailed);
    EXPECT_EQ(find.m_strSelectedId, "2");
}

}  // namespace
