#include <gtest/gtest.h>

#include <QCheckBox>
#include <QPlainTextEdit>

#include "DetailTestSupport.h"
#include "app/shell/DetailResource.h"
#include "app/shell/DetailTexts.h"
#include "app/shell/GRVDlgActions.h"

using namespace grv;

namespace {

class ActionsDialogTest : public DetailTest {
protected:
    // The dialog as the main window opens it for a new action of entry eid.
    void OpenNew(CGRVDlgActions& dlg, int eid) {
        dlg.m_pDb = &m_db;
        dlg.m_strEntryId = QString::number(eid);
        dlg.show();
    }
    // ... and for changing a stored one.
    void OpenEdit(CGRVDlgActions& dlg, int eid, int actionId) {
        CEntryActions a;
        ASSERT_EQ(m_db.LoadEntryActions(std::to_string(actionId), a), 1);
        dlg.m_pDb = &m_db;
        dlg.m_strEntryId = QString::number(eid);
        dlg.m_bEdit = 1;
        dlg.m_action.id = a.id;
        dlg.m_action.plmod = a.plmod;
        dlg.m_action.durmin = a.durmin;
        dlg.m_strName = QString::fromStdString(a.name);
        dlg.m_strCategory = QString::fromStdString(a.cat);
        dlg.m_strReference = QString::fromStdString(a.ref);
        dlg.show();
    }
    static QComboBox* Names(QWidget* d) { return Ctl<QComboBox>(d, IDC_ACT_NAME); }
    static QComboBox* Categories(QWidget* d) { return Ctl<QComboBox>(d, IDC_ACT_CATEGORY); }
    static QSlider* Slider(QWidget* d) { return Ctl<QSlider>(d, IDC_ACT_PAIN_SLIDER); }
    static QLineEdit* Effect(QWidget* d) { return Ctl<QLineEdit>(d, IDC_ACT_PAIN_EFFECT); }
    static QLineEdit* Hours(QWidget* d) { return Ctl<QLineEdit>(d, IDC_ACT_HOURS); }
    static QLineEdit* Minutes(QWidget* d) { return Ctl<QLineEdit>(d, IDC_ACT_MINUTES); }
    // Slider, effect, hours and minutes as shown.
    static QString Shown(QWidget* d) {
        return QStringList{QString::number(Slider(d)->value()), Effect(d)->text(), Hours(d)->text(), Minutes(d)->text()}
            .join('|');
    }
};

TEST_F(ActionsDialogTest, OkWritesExactlyTheActionRow) {
    const int eid = AddEntry();
    CGRVDlgActions dlg;
    OpenNew(dlg, eid);
    EXPECT_EQ(dlg.windowTitle(), "Actions Effect on Pain");
    EXPECT_EQ(std::make_pair(Slider(&dlg)->minimum(), Slider(&dlg)->maximum()), std::make_pair(-10, 10));
    QTest::keyClicks(Names(&dlg)->lineEdit(), "Walk");
    QTest::keyClicks(Categories(&dlg)->lineEdit(), "Exercise");
    Drag(Slider(&dlg), -3);
    EXPECT_EQ(Effect(&dlg)->text(), "-3");
    Type(Hours(&dlg), "1");
    Type(Minutes(&dlg), "90");
    QTest::keyClicks(Ctl<QPlainTextEdit>(&dlg, IDC_ACT_REFERENCE), "Park, it's flat");
    Press(&dlg, IDOK);
    EXPECT_TRUE(EndedWith(dlg, IDOK));
    EXPECT_EQ(dlg.m_bContinue, 0);
    EXPECT_EQ(Cli("SELECT id,eid,name,cat,plmod,durmin,ref,del FROM entry_actions;"),
              "1|" + std::to_string(eid) + "|Walk|Exercise|-3|150|Park, it's flat|0\n");
    EXPECT_TRUE(prompter->Prompts().empty());
}

// The typed effect counts when the slider stands at 0, and only when the
// slider could show it: 15 was stored as it was typed. The sqlite3 shell
// reads what each OK left in the file.
TEST_F(ActionsDialogTest, PainEffectAndDurationFollowTheSliderAndTheEdits) {
    const int eid = AddEntry();
    struct Case {
        int slider; // 0: not moved
        const char* effect;
        const char* hours;
        const char* minutes;
        const char* row; // nullptr: refused, nothing stored
    } cases[] = {
        {0, "7", "", "", "7|0"},      // slider at 0: the typed number
        {-3, "7", "0", "45", "7|45"}, // the slider follows the typed number
        {10, "", "2", "", "10|120"},
        {0, "", "", "", "0|0"}, // nothing at all
        {0, "-4", "99999", "99999", "-4|6099939"},
        {0, "15", "", "", nullptr},
        {0, "-11", "", "", nullptr},
        {0, "-", "", "", nullptr},
        {0, "3 hours", "", "", nullptr},
        {0, "2.5", "", "", nullptr}, // a decimal: the message says whole numbers
        {5, "15", "", "", nullptr},  // off the scale: the slider goes to 0, the text is refused
    };
    int stored = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.effect) + " with the slider at " + std::to_string(c.slider));
        prompter->Clear();
        CGRVDlgActions dlg;
        OpenNew(dlg, eid);
        if (c.slider != 0)
            Drag(Slider(&dlg), c.slider);
        Type(Effect(&dlg), c.effect);
        EXPECT_EQ(Effect(&dlg)->text(), c.effect); // every key went in
        Type(Hours(&dlg), c.hours);
        Type(Minutes(&dlg), c.minutes);
        Press(&dlg, IDOK);
        if (!c.row) {
            EXPECT_TRUE(dlg.isVisible());
            EXPECT_EQ(Told(), QStringList{kPainEffectOutOfScale});
            EXPECT_TRUE(Told().at(0).contains("a whole number from -10 to 10"));
            EXPECT_EQ(Cli("SELECT count(*) FROM entry_actions;"), std::to_string(stored) + "\n");
            continue;
        }
        ++stored;
        EXPECT_TRUE(EndedWith(dlg, IDOK));
        EXPECT_EQ(Cli("SELECT (SELECT count(*) FROM entry_actions),plmod,durmin FROM entry_actions ORDER BY id DESC "
                      "LIMIT 1;"),
                  std::to_string(stored) + "|" + c.row + "\n");
    }
}

TEST_F(ActionsDialogTest, TypedNameIsNotCompletedToALongerOne) {
    const int eid = AddEntry();
    AddAction(eid, "Walking", "Exercise");
    CGRVDlgActions dlg;
    OpenNew(dlg, eid);
    dlg.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&dlg));
    Names(&dlg)->setFocus();
    QTest::keyClicks(Names(&dlg)->lineEdit(), "Walk");
    Categories(&dlg)->setFocus();
    QTest::keyClicks(Categories(&dlg)->lineEdit(), "Exer");
    Press(&dlg, IDOK);
    EXPECT_EQ(Cli("SELECT name,cat FROM entry_actions ORDER BY id;"), "Walking|Exercise\nWalk|Exer\n");
}

TEST_F(ActionsDialogTest, CancelWritesNothing) {
    const int eid = AddEntry();
    CGRVDlgActions dlg;
    OpenNew(dlg, eid);
    QTest::keyClicks(Names(&dlg)->lineEdit(), "Walk");
    Drag(Slider(&dlg), 4);
    Press(&dlg, IDCANCEL);
    EXPECT_TRUE(EndedWith(dlg, IDCANCEL));
    EXPECT_EQ(Cli("SELECT count(*) FROM entry_actions;"), "0\n");
}

TEST_F(ActionsDialogTest, EditingShowsTheStoredActionAndUpdatesItsRow) {
    const int eid = AddEntry();
    AddAction(eid, "Walking", "Exercise", 2, 30);
    const int id = AddAction(eid, "Walk", "Exercise", -4, 135);
    CGRVDlgActions dlg;
    OpenEdit(dlg, eid, id);
    EXPECT_EQ(Shown(&dlg), "-4|-4|2|15");
    // "Walk" stays "Walk" beside its "Walking" sibling.
    EXPECT_EQ(Names(&dlg)->currentText(), "Walk");
    EXPECT_EQ(Categories(&dlg)->currentText(), "Exercise");
    Type(Minutes(&dlg), "20");
    Press(&dlg, IDOK);
    EXPECT_EQ(Cli("SELECT id,name,cat,plmod,durmin FROM entry_actions ORDER BY id;"),
              "1|Walking|Exercise|2|30\n2|Walk|Exercise|-4|140\n");
}

TEST_F(ActionsDialogTest, NameListFollowsTheChosenCategory) {
    const int eid = AddEntry();
    AddAction(eid, "Walk", "Exercise");
    AddAction(eid, "Walk", "Exercise");
    AddAction(eid, "swim", "exercise");
    AddAction(eid, "Nap", "Rest");
    AddAction(eid, "Read", "a_c");
    AddAction(eid, "Sing", "abc");
    AddAction(eid, "Run", "Exercise");
    Cli("UPDATE entry_actions SET del=1 WHERE id=7;");
    CGRVDlgActions dlg;
    OpenNew(dlg, eid);
    // Before any category: every name of every undeleted action, repeats too.
    EXPECT_EQ(Items(Names(&dlg)), (QStringList{"Nap", "Read", "Sing", "swim", "Walk", "Walk"}));
    EXPECT_EQ(Items(Categories(&dlg)), (QStringList{"a_c", "abc", "Exercise", "exercise", "Rest"}));
    EXPECT_EQ(Names(&dlg)->currentText(), "");
    QTest::keyClicks(Names(&dlg)->lineEdit(), "typed");
    Choose(Categories(&dlg), "Exercise");
    // Each name once; the category matches without regard to case.
    EXPECT_EQ(Items(Names(&dlg)), (QStringList{"swim", "Walk"}));
    EXPECT_EQ(Names(&dlg)->currentText(), "") << "the typed name is cleared";
    // A category's own underscore is no wildcard.
    Choose(Categories(&dlg), "a_c");
    EXPECT_EQ(Items(Names(&dlg)), (QStringList{"Read"}));
}

TEST_F(ActionsDialogTest, CategoryWithAnApostropheWorksEndToEnd) {
    const int eid = AddEntry();
    {
        CGRVDlgActions dlg;
        OpenNew(dlg, eid);
        QTest::keyClicks(Names(&dlg)->lineEdit(), "Tea");
        QTest::keyClicks(Categories(&dlg)->lineEdit(), "St. John's Wort");
        Press(&dlg, IDOK);
    }
    EXPECT_EQ(Cli("SELECT name,cat FROM entry_actions;"), "Tea|St. John's Wort\n");
    {
        CGRVDlgActions dlg;
        OpenNew(dlg, eid);
        ASSERT_EQ(Items(Categories(&dlg)), QStringList{"St. John's Wort"});
        Choose(Categories(&dlg), "St. John's Wort");
        EXPECT_EQ(Items(Names(&dlg)), QStringList{"Tea"});
        Choose(Names(&dlg), "Tea");
        Press(&dlg, IDOK);
    }
    EXPECT_EQ(Cli("SELECT name,cat FROM entry_actions;"), "Tea|St. John's Wort\nTea|St. John's Wort\n");
    {
        CGRVDlgActions dlg;
        OpenEdit(dlg, eid, 1);
        EXPECT_EQ(Categories(&dlg)->currentText(), "St. John's Wort");
        EXPECT_EQ(Categories(&dlg)->currentIndex(), 0);
        Categories(&dlg)->setEditText("St. John's Wort tea");
        Press(&dlg, IDOK);
    }
    EXPECT_EQ(Cli("SELECT id,cat FROM entry_actions ORDER BY id;"), "1|St. John's Wort tea\n2|St. John's Wort\n");
}

TEST_F(ActionsDialogTest, ContinueAsksTheCallerToReopen) {
    const int eid = AddEntry();
    CGRVDlgActions dlg;
    OpenNew(dlg, eid);
    Ctl<QCheckBox>(&dlg, IDC_ACT_CONTINUE)->setChecked(true);
    Press(&dlg, IDOK);
    EXPECT_EQ(dlg.m_bContinue, 1);
    EXPECT_EQ(Cli("SELECT count(*) FROM entry_actions;"), "1\n");
}

TEST_F(ActionsDialogTest, WithNoJournalOpenNothingIsSavedAndTheUserIsTold) {
    m_db.Close();
    CGRVDlgActions dlg;
    OpenNew(dlg, 1);
    QTest::keyClicks(Names(&dlg)->lineEdit(), "Walk");
    Press(&dlg, IDOK);
    EXPECT_TRUE(EndedWith(dlg, IDOK));
    EXPECT_EQ(Told(), (QStringList{kNeedOpenDb, kNeedOpenDb}));
    EXPECT_EQ(Cli("SELECT count(*) FROM entry_actions;"), "0\n");
}

} // namespace
