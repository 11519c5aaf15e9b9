#include <QFocusEvent>
#include <QGroupBox>
#include <cstdlib>

#include "JournalWindowSupport.h"
#include "app/shell/FormTexts.h"
#include "app/shell/OScopeCtrl.h"
#include "app/shell/Resource.h"

using namespace grv;

namespace {

const QRgb kRed = qRgb(255, 0, 0);

class TrendWindowTest : public JournalWindowTest {
protected:
    void SetUp() override {
        JournalWindowTest::SetUp();
        // Oldest to newest: current 1, 5, 9; worst always 2; lowest 7.
        path = MakeJournal("trend.grv", {{"2026-02-01 08:00:00", "a", 2, 3, 7, 1},
                                         {"2026-02-03 08:00:00", "c", 2, 3, 7, 9},
                                         {"2026-02-02 08:00:00", "b", 2, 3, 7, 5}});
        ShowAndSettle(dlg);
        OpenThroughMenu(dlg, path);
    }

    COScopeCtrl* Chart() { return dlg.TrendChart(); }
    QGroupBox* TrendGroup() { return Child<QGroupBox>(dlg, IDC_TREND_GROUP); }
    // The top and bottom red rows of column x of the chart; -1 when none.
    std::pair<int, int> RedSpan(int x) {
        const QImage img = Chart()->Composite();
        int top = -1, bottom = -1;
        for (int y = 0; y < img.height(); ++y)
            if (img.pixel(x, y) == kRed) {
                if (top < 0)
                    top = y;
                bottom = y;
            }
        return {top, bottom};
    }
    int NewestX() { return Chart()->PlotRect().left() + Chart()->PlotRect().width() - 2; }

    QString path;
    CGRVDlg dlg;
};

TEST_F(TrendWindowTest, OldestToNewestLeftToRightInThePlotColour) {
    EXPECT_EQ(dlg.m_nTrendMode, 3);
    EXPECT_EQ(TrendGroup()->title(), kTitleCurrentTrend);
    const int shift = Chart()->Shift();
    // Newest (9) at the right edge, then 5, then the oldest (1) further left.
    EXPECT_NEAR(RedSpan(NewestX()).first, Chart()->ValueToY(9), 1);
    EXPECT_NEAR(RedSpan(NewestX() - shift).second, Chart()->ValueToY(5), 2);
    EXPECT_NEAR(RedSpan(NewestX() - 2 * shift - 3).second, Chart()->ValueToY(1), 1);
    // Nothing left of the three values.
    EXPECT_EQ(RedSpan(NewestX() - 3 * shift - 4).first, -1);
}

TEST_F(TrendWindowTest, EachKindShowsItsOwnColumn) {
    struct Case {
        int command;
        int mode;
        const char* title;
        int newest; // the newest entry's level of that kind
    };
    const Case cases[] = {
        {ID_TREND_WORST, 1, kTitleWorstTrend, 2},
        {ID_TREND_LOWEST, 0, kTitleLowestTrend, 7},
        {ID_TREND_AVERAGE, 2, kTitleAverageTrend, 3},
        {ID_TREND_CURRENT, 3, kTitleCurrentTrend, 9},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.title);
        ASSERT_TRUE(dlg.OnCommand(c.command));
        EXPECT_EQ(dlg.m_nTrendMode, c.mode);
        EXPECT_EQ(TrendGroup()->title(), c.title);
        const auto [top, bottom] = RedSpan(NewestX());
        EXPECT_NEAR(top, Chart()->ValueToY(c.newest), 1);
        EXPECT_NEAR(bottom, Chart()->ValueToY(c.newest), 1);
    }
}

TEST_F(TrendWindowTest, AnUnknownModeFallsBackToAverage) {
    dlg.m_nTrendMode = 7;
    EXPECT_EQ(dlg.RefreshTrend(), 1);
    EXPECT_EQ(dlg.m_nTrendMode, 2);
    EXPECT_NEAR(RedSpan(NewestX()).first, Chart()->ValueToY(3), 1);
}

TEST_F(TrendWindowTest, HideShowAndToggleGiveTheListTheChartsRoom) {
    QTreeWidget* list = List(dlg);
    const int shown = list->height();
    ASSERT_TRUE(dlg.OnCommand(ID_GRAPH_HIDE));
    QCoreApplication::processEvents();
    EXPECT_TRUE(TrendGroup()->isHidden());
    const int hidden = list->height();
    EXPECT_GT(hidden, shown + 60);
    ASSERT_TRUE(dlg.OnCommand(ID_GRAPH_HIDE));
    QCoreApplication::processEvents();
    EXPECT_EQ(list->height(), hidden);
    ASSERT_TRUE(dlg.OnCommand(ID_GRAPH_SHOW));
    ASSERT_TRUE(dlg.OnCommand(ID_GRAPH_SHOW));
    QCoreApplication::processEvents();
    EXPECT_FALSE(TrendGroup()->isHidden());
    EXPECT_EQ(list->height(), shown);
    for (bool hiddenAfter : {true, false, true, false}) {
        ASSERT_TRUE(dlg.OnCommand(ID_TB_TOGGLE_GRAPH));
        EXPECT_EQ(TrendGroup()->isHidden(), hiddenAfter);
    }
}

// The automatic save on leaving "right NOW" (and the toolbar's save before a
// detail dialog) stored the entry, but the chart missed it until a later Save.
TEST_F(TrendWindowTest, EveryRoadThatSavesAnEntryPutsItOnTheChart) {
    // The dialog offered after an automatic save is cancelled.
    const auto kCancel = [](QWidget* m) { static_cast<QDialog*>(m)->reject(); };
    struct Road {
        const char* name;
        int level;
        std::function<void()> save;
    };
    const Road roads[] = {
        {"Save Entry", 0, [this] { ASSERT_TRUE(dlg.OnCommand(ID_FILE_SAVE_ENTRY)); }},
        {"leaving right NOW", 1,
         [this, kCancel] {
             WhenModal(kCancel);
             QFocusEvent out(QEvent::FocusOut, Qt::TabFocusReason);
             QCoreApplication::sendEvent(Edit(dlg, IDC_CURRENT_PAIN), &out);
         }},
        {"toolbar with AutoSaveEntry", 8,
         [this, kCancel] {
             WhenModal(kCancel);
             dlg.m_prefs.autoSaveEntry = 1;
             ASSERT_TRUE(dlg.OnCommand(ID_TB_MOOD));
         }},
    };
    int day = 4;
    for (const Road& road : roads) {
        SCOPED_TRACE(road.name);
        ASSERT_TRUE(dlg.OnCommand(ID_FILE_NEW_ENTRY));
        SetFormTime(dlg, QDateTime(QDate(2026, 2, day++), QTime(8, 0, 0)));
        SetPain(dlg, "5", "5", "5", QByteArray::number(road.level).constData());
        road.save();
        EXPECT_EQ(Sql(path, "SELECT cpl FROM entry ORDER BY id DESC LIMIT 1"), QString::number(road.level));
        // The newest segment ends at the right edge on the new level.
        const auto [top, bottom] = RedSpan(NewestX());
        const int y = Chart()->ValueToY(road.level);
        EXPECT_TRUE(std::abs(top - y) <= 1 || std::abs(bottom - y) <= 1) << top << ".." << bottom;
    }
}

} // namespace
