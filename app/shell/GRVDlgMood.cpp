#include "app/shell/GRVDlgMood.h"

#include <QDialogButtonBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSlider>
#include <QVBoxLayout>

#include "app/shell/DetailResource.h"
#include "app/shell/DetailTexts.h"
#include "app/shell/DlgControls.h"
#include "app/shell/Resource.h"
#include "app/store/JournalDb.h"
#include "platform/ui/Seams.h"

using namespace grv;

const CGRVDlgMood::Row CGRVDlgMood::kRowTable[kRows] = {
    {"General Activity", &CGRVDlgMood::m_nGenActivity, &CEntryMood::act},
    {"Mood", &CGRVDlgMood::m_nMood, &CEntryMood::mood},
    {"Normal Work", &CGRVDlgMood::m_nNormalWork, &CEntryMood::work},
    {"Sleep", &CGRVDlgMood::m_nSleep, &CEntryMood::sleep},
    {"Enjoyment of Life", &CGRVDlgMood::m_nEnjoyLife, &CEntryMood::life},
    {"Ability to Concentrate", &CGRVDlgMood::m_nConcentrate, &CEntryMood::concn},
    {"Relations with Other People", &CGRVDlgMood::m_nRelations, &CEntryMood::relat},
    {"Walking", &CGRVDlgMood::m_nWalking, &CEntryMood::walk},
};

CGRVDlgMood::CGRVDlgMood(QWidget* parent) : CDialogBase(parent) {
    setWindowTitle(QStringLiteral("How is Pain Interfering with..."));
    auto* top = new QVBoxLayout(this);
    auto* help = new QGroupBox(QStringLiteral("Instructions"), this);
    auto* helpText = new QLabel(QString::fromLatin1(kMoodInstructions), help);
    helpText->setWordWrap(true);
    (new QVBoxLayout(help))->addWidget(helpText);
    top->addWidget(help);
    auto* rows = new QWidget(this);
    auto* grid = new QGridLayout(rows);
    for (int i = 0; i < kRows; ++i) {
        m_rows.Add(grid, kRowTable[i].label, IDC_MOOD_EDIT_FIRST + i, IDC_MOOD_SLIDER_FIRST + i, true);
        OnUserScroll(m_rows.Slider(i), this, [this](QSlider* s) { OnHScroll(s); });
    }
    top->addWidget(rows);
    auto* buttons = MakeOkCancel(this);
    connect(buttons, &QDialogButtonBox::accepted, this, &CGRVDlgMood::OnBnClickedOk);
    connect(buttons, &QDialogButtonBox::rejected, this, &CGRVDlgMood::reject);
    top->addWidget(buttons);
}

std::vector<int*> CGRVDlgMood::Scales() {
    std::vector<int*> scales;
    for (const Row& row : kRowTable)
        scales.push_back(&(this->*row.scale));
    return scales;
}

void CGRVDlgMood::DoDataExchange(bool save) {
    m_rows.Exchange(save, Scales());
}

int CGRVDlgMood::OnInitDialog() {
    if (!m_pDb || !m_pDb->IsOpen())
        TellNoJournal();
    DoDataExchange(false);
    for (int i = 0; i < m_rows.Count(); ++i)
        m_rows.Slider(i)->setRange(0, 10);
    DoDataExchange(true);
    return 1;
}

void CGRVDlgMood::OnShowWindow() {
    m_rows.Show(Scales());
}

void CGRVDlgMood::OnHScroll(QSlider* slider) {
    m_rows.ShowPosition(slider);
}

void CGRVDlgMood::OnBnClickedOk() {
    // A typed rating off the scale is refused: nothing is stored and the
    // dialog stays, the row's edit ready for the correction.
    const int bad = m_rows.Settle(Scales());
    if (bad >= 0) {
        platform::ui::GetPrompter().Tell(
            this, QString::fromLatin1(kRatingOutOfScale).arg(QString::fromLatin1(kRowTable[bad].label)));
        return;
    }
    m_mood.eid = TextToInt(m_strEntryId);
    for (const Row& row : kRowTable)
        m_mood.*row.field = this->*row.scale;
    DoDataExchange(false);
    SaveAndEnd(m_pDb, m_mood, &CJournalDb::SaveEntryMood);
}

void CGRVDlgMood::reject() {
    done(IDCANCEL);
}
