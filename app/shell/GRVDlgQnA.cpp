#include "app/shell/GRVDlgQnA.h"

#include <QDialogButtonBox>
#include <QGroupBox>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "app/shell/DetailResource.h"
#include "app/shell/DlgControls.h"
#include "app/shell/Resource.h"

using namespace grv;

namespace {

template <typename Edit>
Edit* Boxed(QWidget* parent, QVBoxLayout* top, const char* title, int id, int stretch) {
    auto* box = new QGroupBox(QString::fromLatin1(title), parent);
    auto* edit = new Edit(box);
    edit->setObjectName(ControlName(id));
    (new QVBoxLayout(box))->addWidget(edit);
    top->addWidget(box, stretch);
    return edit;
}

} // namespace

CGRVDlgQnA::CGRVDlgQnA(QWidget* parent) : CDialogBase(parent) {
    setWindowTitle(QStringLiteral("Questions I want to ask Next Appointment"));
    auto* top = new QVBoxLayout(this);
    m_ctlQuestion = Boxed<QPlainTextEdit>(this, top, "Question to Ask?", IDC_QNA_QUESTION, 1);
    m_ctlAnswer = Boxed<QPlainTextEdit>(this, top, "Answer", IDC_QNA_ANSWER, 1);
    m_ctlReference = Boxed<QLineEdit>(this, top, "Reference", IDC_QNA_REFERENCE, 0);
    auto* buttons = MakeOkCancel(this);
    connect(buttons, &QDialogButtonBox::accepted, this, &CGRVDlgQnA::OnBnClickedOk);
    connect(buttons, &QDialogButtonBox::rejected, this, &CGRVDlgQnA::reject);
    top->addWidget(buttons);
    resize(630, 350);
}

int CGRVDlgQnA::OnInitDialog() {
    DoDataExchange(false);
    return 1;
}

void CGRVDlgQnA::DoDataExchange(bool save) {
    if (save) {
        m_strQuestion = m_ctlQuestion->toPlainText();
        m_strAnswer = m_ctlAnswer->toPlainText();
        m_strReference = m_ctlReference->text();
    } else {
        m_ctlQuestion->setPlainText(m_strQuestion);
        m_ctlAnswer->setPlainText(m_strAnswer);
        m_ctlReference->setText(m_strReference);
    }
}

void CGRVDlgQnA::OnBnClickedOk() {
    DoDataExchange(true);
    m_question.eid = TextToInt(m_strEntryId);
    m_question.q = m_strQuestion.toStdString();
    m_question.a = m_strAnswer.toStdString();
    m_question.ref = m_strReference.toStdString();
    DoDataExchange(false);
    done(IDOK);
}

void CGRVDlgQnA::reject() {
    done(IDCANCEL);
}
