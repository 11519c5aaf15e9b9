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

CGRVDlgMood::CGRVDlgMood(QWidget* parent) : QDialog(parent) {
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
        const RatingRow r = AddRatingRow(grid, i, kRowTable[i].label, IDC_MOOD_EDIT_FIRST + i,
                                         IDC_MOOD_SLIDER_FIRST + i, true);
        m_ctlEdits[i] = r.edit;
        m_ctlSliders[i] = r.slider;
        OnUserScroll(r.slider, this, [this](QSlider* s) { OnHScroll(s); });
    }
    top->addWidget(rows);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    buttons->button(QDialogButtonBox::Ok)->setObjectName(ControlName(IDOK));
    buttons->button(QDialogButtonBox::Cancel)->setObjectName(ControlName(IDCANCEL));
    connect(buttons, &QDialogButtonBox::accepted, this, &CGRVDlgMood::OnBnClickedOk);
    connect(buttons, &QDialogButtonBox::rejected, this, &CGRVDlgMood::reject);
    top->addWidget(buttons);
}

void CGRVDlgMood::setVisible(bool visible) {
    if (visible && !m_bInitialised) {
        m_bInitialised = true;
        OnInitDialog();
    }
    QDialog::setVisible(visible);
    if (visible) OnShowWindow();
}

void CGRVDlgMood::DoDataExchange(bool save) {
    for (int i = 0; i < kRows; ++i) {
        int& scale = this->*kRowTable[i].scale;
        if (save) {
            scale = m_ctlSliders[i]->value();
            m_strEdits[i] = m_ctlEdits[i]->text();
        } else {
            m_ctlSliders[i]->setValue(scale);
            m_ctlEdits[i]->setText(m_strEdits[i]);
        }
    }
}

int CGRVDlgMood::OnInitDialog() {
    if (!m_pDb || !m_pDb->IsOpen())
        platform::ui::GetPrompter().Tell(this, QString::fromLatin1(kNeedOpenDb));
    DoDataExchange(false);
    for (QSlider* slider : m_ctlSliders) slider->setRange(0, 10);
    DoDataExchange(true);
    return 1;
}

void CGRVDlgMood::OnShowWindow() {
    for (int i = 0; i < kRows; ++i) m_strEdits[i] = QString::number(this->*kRowTable[i].scale);
    DoDataExchange(false);
    DoDataExchange(true);
}

void CGRVDlgMood::OnHScroll(QSlider* slider) {
    for (int i = 0; i < kRows; ++i) {
        if (m_ctlSliders[i] == slider) {
            m_ctlEdits[i]->setText(QString::number(slider->sliderPosition()));
            return;
        }
    }
}

void CGRVDlgMood::OnBnClickedOk() {
    DoDataExchange(true);
    m_mood.eid = TextToInt(m_strEntryId);
    for (int i = 0; i < kRows; ++i) {
        int& scale = this->*kRowTable[i].scale;
        scale = RatingValue(scale, m_strEdits[i]);
        m_mood.*kRowTable[i].field = scale;
    }
    DoDataExchange(false);
    if (m_pDb && m_pDb->IsOpen())
        m_pDb->SaveEntryMood(m_mood);
    else
        platform::ui::GetPrompter().Tell(this, QString::fromLatin1(kNeedOpenDb));
    done(IDOK);
}

void CGRVDlgMood::reject() { done(IDCANCEL); }
