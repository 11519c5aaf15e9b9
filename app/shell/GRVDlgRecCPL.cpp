#include "app/shell/GRVDlgRecCPL.h"

#include <QDialogButtonBox>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSlider>
#include <QVBoxLayout>

#include "app/shell/DetailResource.h"
#include "app/shell/DetailTexts.h"
#include "app/shell/DlgControls.h"
#include "app/shell/Resource.h"
#include "platform/ui/Seams.h"

using namespace grv;

CGRVDlgRecCPL::CGRVDlgRecCPL(QWidget* parent) : CDialogBase(parent) {
    setWindowTitle(QStringLiteral("Record Current Pain Level"));
    auto* top = new QVBoxLayout(this);
    auto* row = new QHBoxLayout;
    auto* numberBox = new QGroupBox(QStringLiteral("Enter Number"), this);
    m_ctlPain = new QLineEdit(numberBox);
    m_ctlPain->setObjectName(ControlName(IDC_CPL_NUMBER));
    m_ctlPain->setAlignment(Qt::AlignCenter);
    // Every key goes in: "-1" or "12" is refused on OK, never cut to "1".
    (new QVBoxLayout(numberBox))->addWidget(m_ctlPain);
    row->addWidget(numberBox);
    row->addWidget(new QLabel(QStringLiteral("OR"), this));
    auto* sliderBox = new QGroupBox(QStringLiteral("Move Slider to Mark Pain Level"), this);
    m_ctlSlider = MakeScaleSlider(sliderBox, 0, 10, IDC_CPL_SLIDER);
    (new QVBoxLayout(sliderBox))->addWidget(m_ctlSlider);
    row->addWidget(sliderBox, 1);
    top->addLayout(row);
    auto* descBox = new QGroupBox(QStringLiteral("One Line Description"), this);
    m_ctlDescription = new QLineEdit(descBox);
    m_ctlDescription->setObjectName(ControlName(IDC_CPL_DESCRIPTION));
    (new QVBoxLayout(descBox))->addWidget(m_ctlDescription);
    top->addWidget(descBox);
    auto* buttons = MakeOkCancel(this);
    connect(buttons, &QDialogButtonBox::accepted, this, &CGRVDlgRecCPL::OnBnClickedOk);
    connect(buttons, &QDialogButtonBox::rejected, this, &CGRVDlgRecCPL::reject);
    top->addWidget(buttons);
    OnUserScroll(m_ctlSlider, this, [this](QSlider* s) { OnHScroll(s); });
    SliderFollowsEdit(m_ctlPain, m_ctlSlider);
}

void CGRVDlgRecCPL::DoDataExchange(bool save) {
    if (save) {
        m_strPain = m_ctlPain->text();
        m_strDescription = m_ctlDescription->text();
    } else {
        m_ctlPain->setText(m_strPain);
        m_ctlDescription->setText(m_strDescription);
    }
}

int CGRVDlgRecCPL::OnInitDialog() {
    DoDataExchange(false);
    m_ctlSlider->setRange(0, 10);
    return 1;
}

void CGRVDlgRecCPL::OnHScroll(QSlider* slider) {
    if (slider == m_ctlSlider)
        m_ctlPain->setText(QString::number(slider->sliderPosition()));
}

void CGRVDlgRecCPL::OnBnClickedOk() {
    DoDataExchange(true);
    const std::optional<int> value =
        m_strPain.isEmpty() ? std::optional<int>(m_ctlSlider->value()) : ScaleNumber(m_strPain, m_nMin, m_nMax);
    if (!value || *value < m_nMin || *value > m_nMax) {
        platform::ui::GetPrompter().Tell(this, QString::fromLatin1(kInvalidPainScore).arg(m_nMin).arg(m_nMax));
        return;
    }
    m_nPain = *value;
    done(IDOK);
}

void CGRVDlgRecCPL::reject() {
    done(IDCANCEL);
}
