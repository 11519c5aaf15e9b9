// The main window's commands that open something and return: the About box,
// the help page, the reports dialog and the range commands.
#include <QUrl>

#include "app/reports/GRVDlgReports.h"
#include "app/shell/AboutDlg.h"
#include "app/shell/GRVDlg.h"
#include "app/shell/GRVDlgDateRange.h"
#include "app/shell/ShellTexts.h"
#include "platform/ui/UrlOpener.h"

using namespace grv;

void CGRVDlg::OnAbout() {
    CAboutDlg about;
    about.exec();
}

void CGRVDlg::OnHelpContents() {
    // A missing browser is the desktop's to report, not ours.
    platform::ui::GetUrlOpener().Open(QUrl(QString::fromLatin1(kHelpPageUrl)));
}

void CGRVDlg::OnReports() {
    CGRVDlgReports reports;
    reports.m_pDb = &m_db;
    SendUsageStat(QString::fromLatin1(kUsageReports));
    reports.exec();
}

void CGRVDlg::OnRangeKind0() {
    m_nRangeKind = 0;
}
void CGRVDlg::OnRangeKind2() {
    m_nRangeKind = 2;
}
void CGRVDlg::OnRangeKind3() {
    m_nRangeKind = 3;
}

void CGRVDlg::OnRangeKindDates() {
    m_nRangeKind = 1;
    CGRVDlgDateRange range;
    range.exec();
}
