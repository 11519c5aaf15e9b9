// The main window's About, Help, Reports and range commands.
#include <QApplication>
#include <QLabel>
#include <QTimer>

#include "ShellTestSupport.h"
#include "app/reports/GRVDlgReports.h"
#include "app/shell/AboutDlg.h"
#include "app/shell/GRVDlg.h"
#include "app/shell/GRVDlgDateRange.h"
#include "app/shell/Resource.h"
#include "app/shell/ShellTexts.h"
#include "platform/ui/UrlOpener.h"

using namespace grv;

namespace {

class ReportsCommandsTest : public ShellTest {
protected:
    // Runs the command; `act` sees the modal dialog it opens and ends it.
    template <class Dialog>
    void RunModal(CGRVDlg& dlg, int id, std::function<void(Dialog&)> act) {
        bool ran = false;
        QTimer::singleShot(0, [&] {
            auto* shown = qobject_cast<Dialog*>(QApplication::activeModalWidget());
            ASSERT_NE(shown, nullptr);
            ran = true;
            act(*shown);
            shown->reject();
        });
        ASSERT_TRUE(dlg.OnCommand(id));
        EXPECT_TRUE(ran);
    }

    std::shared_ptr<platform::ui::RecordingUrlOpener> opener =
        std::make_shared<platform::ui::RecordingUrlOpener>(false);
    platform::ui::ScopedUrlOpener scopedOpener{opener};
};

TEST_F(ReportsCommandsTest, HelpOpensTheHelpPageAndIgnoresFailure) {
    CGRVDlg dlg;
    ASSERT_TRUE(dlg.OnCommand(ID_HELP_CONTENTS));
    ASSERT_EQ(opener->Opened().size(), 1u);
    EXPECT_EQ(opener->Opened()[0], QUrl(QString::fromLatin1(grv::kHelpPageUrl)));
    EXPECT_TRUE(opener->Opened()[0].isValid());
    EXPECT_TRUE(prompter->Prompts().empty());
}

TEST_F(ReportsCommandsTest, AboutOpensTheAboutBoxWithTheVersion) {
    CGRVDlg dlg;
    RunModal<CAboutDlg>(dlg, ID_HELP_ABOUT, [](CAboutDlg& about) {
        EXPECT_EQ(about.VersionStatic()->text(), QStringLiteral("Version: " GRV_PROJECT_VERSION_QUAD));
    });
}

TEST_F(ReportsCommandsTest, ReportsLendsTheJournalAndReportsItsLabelFirst) {
    CGRVDlg dlg;
    RunModal<CGRVDlgReports>(dlg, ID_TOOLS_REPORTS, [&](CGRVDlgReports& reports) {
        EXPECT_EQ(reports.m_pDb, &dlg.Db());
        EXPECT_EQ(reports.windowTitle(), "Gorvane Reporting");
        // The label went out before the dialog was shown.
        EXPECT_TRUE(usage->WaitFor(1, 5000));
    });
    EXPECT_EQ(usage->Labels(), std::vector<std::string>{"Reports"});
}

TEST_F(ReportsCommandsTest, RangeCommandsSetTheKindAndOneAsksForDates) {
    CGRVDlg dlg;
    const std::pair<int, int> plain[] = {{ID_RANGE_KIND2, 2}, {ID_RANGE_KIND3, 3}, {ID_RANGE_KIND0, 0}};
    for (auto [id, kind] : plain) {
        ASSERT_TRUE(dlg.OnCommand(id));
        EXPECT_EQ(dlg.m_nRangeKind, kind);
    }
    RunModal<CGRVDlgDateRange>(dlg, ID_RANGE_KIND_DATES, [&](CGRVDlgDateRange& range) {
        EXPECT_EQ(range.windowTitle(), "Set Date Range");
        EXPECT_EQ(dlg.m_nRangeKind, 1);
    });
    EXPECT_TRUE(usage->Labels().empty());
}

} // namespace
