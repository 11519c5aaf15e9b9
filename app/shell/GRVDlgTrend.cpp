// The main window's pain-trend strip chart and its commands.
#include <QFrame>
#include <QGroupBox>
#include <QVBoxLayout>
#include <vector>

#include "app/shell/FormTexts.h"
#include "app/shell/GRVDlg.h"
#include "app/shell/OScopeCtrl.h"

using namespace grv;

namespace {

constexpr int kTrendLowest = 0;
constexpr int kTrendWorst = 1;
constexpr int kTrendAverage = 2;
constexpr int kTrendCurrent = 3;

} // namespace

void CGRVDlg::CreateTrendChart() {
    auto* box = new QVBoxLayout(m_ctlTrendFrame);
    box->setContentsMargins(0, 0, 0, 0);
    m_wndGraph = new COScopeCtrl(m_ctlTrendFrame);
    m_wndGraph->setObjectName(QStringLiteral("trendChart"));
    box->addWidget(m_wndGraph);
    m_wndGraph->SetRange(0.0, 10.0, 1);
    m_wndGraph->SetYUnits(QString::fromLatin1(kTrendYUnits));
    m_wndGraph->SetXUnits(QString::fromLatin1(kTrendXUnits));
    m_wndGraph->SetGridColor(QColor(192, 192, 255));
    m_wndGraph->SetPlotColor(QColor(255, 0, 0));
    // Matches the group box's first title.
    m_nTrendMode = kTrendCurrent;
}

int CGRVDlg::RefreshTrend() {
    if (m_nTrendMode < kTrendLowest || m_nTrendMode > kTrendCurrent)
        m_nTrendMode = kTrendAverage;
    std::vector<int> values;
    // Without a journal there is nothing to ask, and the store's last error
    // is left for whoever reports it.
    // A failed query draws nothing rather than part of the journal.
    if (m_db.IsOpen() && !m_db.GetPainTrend(m_nTrendMode, values))
        values.clear();
    m_wndGraph->Reset();
    // Newest first from the store; the newest ends at the right edge.
    for (auto it = values.rbegin(); it != values.rend(); ++it)
        m_wndGraph->AppendPoint(static_cast<double>(*it));
    return 1;
}

void CGRVDlg::HideGraph() {
    if (m_ctlTrendGroup->isHidden())
        return;
    // The entries list takes the room the chart leaves.
    m_ctlTrendGroup->hide();
}

void CGRVDlg::ShowGraph() {
    if (!m_ctlTrendGroup->isHidden())
        return;
    m_ctlTrendGroup->show();
}

void CGRVDlg::OnToggleGraph() {
    if (m_ctlTrendGroup->isHidden())
        ShowGraph();
    else
        HideGraph();
}

void CGRVDlg::OnTrendCurrent() {
    m_nTrendMode = kTrendCurrent;
    m_ctlTrendGroup->setTitle(QString::fromLatin1(kTitleCurrentTrend));
    RefreshTrend();
}

void CGRVDlg::OnTrendAverage() {
    m_nTrendMode = kTrendAverage;
    m_ctlTrendGroup->setTitle(QString::fromLatin1(kTitleAverageTrend));
    RefreshTrend();
}

void CGRVDlg::OnTrendLowest() {
    m_nTrendMode = kTrendLowest;
    m_ctlTrendGroup->setTitle(QString::fromLatin1(kTitleLowestTrend));
    RefreshTrend();
}

void CGRVDlg::OnTrendWorst() {
    m_nTrendMode = kTrendWorst;
    m_ctlTrendGroup->setTitle(QString::fromLatin1(kTitleWorstTrend));
    RefreshTrend();
}
