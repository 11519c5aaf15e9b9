// The date range dialog's presets, reset and OK, and the About box's version.
#include <QCalendarWidget>
#include <QComboBox>
#include <QCoreApplication>
#include <QLabel>
#include <QMenu>
#include <tuple>

#include "ShellTestSupport.h"
#include "app/shell/AboutDlg.h"
#include "app/shell/GRVDlgDateRange.h"
#include "app/shell/Resource.h"

namespace {

class DateRangeTest : public ShellTest {
protected:
    void SetUp() override {
        ShellTest::SetUp();
        dlg.SetClock([this] { return now; });
    }
    void Choose(const char* preset) {
        QComboBox* combo = dlg.PresetCombo();
        const int at = combo->findText(QString::fromLatin1(preset));
        ASSERT_GE(at, 0) << preset;
        combo->setCurrentIndex(at);
    }

    // Start and end as the calendars show them and as the dialog answers them.
    std::tuple<QDate, QDate, QDate, QDate> Shown() {
        return {dlg.StartCalendar()->selectedDate(), dlg.EndCalendar()->selectedDate(),
                QDateTime::fromSecsSinceEpoch(dlg.m_tStart).date(), QDateTime::fromSecsSinceEpoch(dlg.m_tEnd).date()};
    }

    QDateTime now{QDate(2026, 3, 10), QTime(14, 30, 5)};
    CGRVDlgDateRange dlg;
};

TEST_F(DateRangeTest, PresetsAreListedSortedWithNothingChosen) {
    QStringList items;
    for (int i = 0; i < dlg.PresetCombo()->count(); ++i)
        items << dlg.PresetCombo()->itemText(i);
    EXPECT_EQ(items, (QStringList{"Last 14 Days", "Last 180 Days", "Last 28 Days", "Last 60 Days", "Last 7 Days",
                                  "Last 90 Days", "Last Year"}));
    EXPECT_EQ(dlg.PresetCombo()->currentIndex(), -1);
    EXPECT_EQ(std::tie(dlg.m_tStart, dlg.m_tEnd, dlg.m_tThird), std::make_tuple(0, 0, 0));
    EXPECT_EQ(dlg.windowTitle(), "Set Date Range");
}

TEST_F(DateRangeTest, PresetsSelectTheirSpanEndingToday) {
    struct Case {
        const char* preset;
        QDate today;
        QDate start;
    } cases[] = {
        {"Last 7 Days", QDate(2026, 3, 10), QDate(2026, 3, 3)},
        {"Last 14 Days", QDate(2026, 3, 10), QDate(2026, 2, 24)},
        {"Last 28 Days", QDate(2026, 3, 10), QDate(2026, 2, 10)},
        {"Last 60 Days", QDate(2026, 3, 10), QDate(2026, 1, 9)},
        {"Last 90 Days", QDate(2026, 3, 10), QDate(2025, 12, 10)},
        {"Last 180 Days", QDate(2026, 3, 10), QDate(2025, 9, 11)},
        // A year is 365 days: 31 December 2026 goes back to 31 December 2025.
        {"Last Year", QDate(2026, 12, 31), QDate(2025, 12, 31)},
        {"Last Year", QDate(2024, 12, 31), QDate(2024, 1, 1)}, // 2024 has 366 days
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.preset);
        now = QDateTime(c.today, QTime(9, 15, 0));
        dlg.PresetCombo()->setCurrentIndex(-1);
        Choose(c.preset);
        EXPECT_EQ(Shown(), std::make_tuple(c.start, c.today, c.start, c.today));
    }
}

TEST_F(DateRangeTest, ResetSelectsTodayOnBothCalendars) {
    Choose("Last 90 Days");
    now = now.addDays(2);
    dlg.OnReset();
    EXPECT_EQ(Shown(), std::make_tuple(now.date(), now.date(), now.date(), now.date()));
    EXPECT_EQ(std::tie(dlg.m_tStart, dlg.m_tEnd), std::make_tuple(now.toSecsSinceEpoch(), now.toSecsSinceEpoch()));
}

TEST_F(DateRangeTest, OkTakesTheCalendarsDaysEvenWhenReversed) {
    dlg.StartCalendar()->setSelectedDate(QDate(2026, 4, 2));
    dlg.EndCalendar()->setSelectedDate(QDate(2026, 3, 1));
    dlg.OnOK();
    EXPECT_EQ(dlg.result(), QDialog::Accepted);
    EXPECT_EQ(dlg.m_tStart, QDate(2026, 4, 2).startOfDay().toSecsSinceEpoch());
    EXPECT_EQ(dlg.m_tEnd, QDate(2026, 3, 1).startOfDay().toSecsSinceEpoch());
}

TEST_F(DateRangeTest, CalendarMenuShowsOnlyOverACalendarAndChangesNothing) {
    dlg.show();
    QCoreApplication::processEvents();
    QMenu* menu = dlg.CalendarMenu();
    ASSERT_NE(menu, nullptr);
    EXPECT_EQ(menu->actions().size(), 7); // three submenus, separator, All, separator, Reset

    dlg.OnContextMenu(&dlg, dlg.mapToGlobal(QPoint(-50, -50)));
    EXPECT_FALSE(menu->isVisible());
    QCalendarWidget* start = dlg.StartCalendar();
    dlg.OnContextMenu(&dlg, start->mapToGlobal(start->rect().center()));
    EXPECT_TRUE(menu->isVisible());
    menu->hide();

    const QDate before = dlg.StartCalendar()->selectedDate();
    for (QAction* a : menu->actions()) {
        if (a->menu()) {
            for (QAction* inner : a->menu()->actions())
                inner->trigger();
        } else {
            a->trigger();
        }
    }
    EXPECT_EQ(dlg.StartCalendar()->selectedDate(), before);
    EXPECT_EQ(dlg.m_tStart, 0);
}

TEST_F(ShellTest, AboutBoxShowsTheBuildsVersion) {
    CAboutDlg about;
    EXPECT_EQ(about.windowTitle(), "About GRV");
    EXPECT_EQ(about.VersionStatic()->objectName(), QString::number(grv::IDC_ABOUT_VERSION));
    EXPECT_EQ(about.VersionStatic()->text(), QStringLiteral("Version: " GRV_PROJECT_VERSION_QUAD));
}

} // namespace
