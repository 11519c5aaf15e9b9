#include "app/shell/GRVDlgEntry.h"

#include <QDialogButtonBox>
#include <QGroupBox>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "app/shell/DetailResource.h"
#include "app/shell/DlgControls.h"
#include "app/shell/Resource.h"
#include "app/store/JournalDb.h"

using namespace grv;

CGRVDlgEntry::CGRVDlgEntry(QWidget* parent) : CDialogBase(parent) {
    setWindowTitle(QStringLiteral("Entry Dialog"));
    auto* top = new QVBoxLayout(this);
    auto* subjectBox = new QGroupBox(QStringLiteral("Subject"), this);
    m_ctlSubject = new QLineEdit(subjectBox);
    m_ctlSubject->setObjectName(ControlName(IDC_ENTRY_SUBJECT));
    (new QVBoxLayout(subjectBox))->addWidget(m_ctlSubject);
    top->addWidget(subjectBox);
    auto* bodyBox = new QGroupBox(QStringLiteral("Body"), this);
    m_ctlBody = new QPlainTextEdit(bodyBox);
    m_ctlBody->setObjectName(ControlName(IDC_ENTRY_BODY));
    (new QVBoxLayout(bodyBox))->addWidget(m_ctlBody);
    top->addWidget(bodyBox, 1);
    auto* buttons = MakeOkCancel(this);
    connect(buttons, &QDialogButtonBox::accepted, this, &CGRVDlgEntry::OnBnClickedOk);
    connect(buttons, &QDialogButtonBox::rejected, this, &CGRVDlgEntry::OnBnClickedCancel);
    top->addWidget(buttons);
    resize(460, 320);
}

void CGRVDlgEntry::DoDataExchange(bool save) {
    if (save) {
        m_strSubject = m_ctlSubject->text();
        m_strBody = m_ctlBody->toPlainText();
    } else {
        m_ctlSubject->setText(m_strSubject);
        m_ctlBody->setPlainText(m_strBody);
    }
}

void CGRVDlgEntry::OnShowWindow() {
    DoDataExchange(false);
    DoDataExchange(true);
}

void CGRVDlgEntry::OnBnClickedOk() {
    DoDataExchange(true);
    m_entry.sbj = m_strSubject.toStdString();
    m_entry.entry = m_strBody.toStdString();
    DoDataExchange(false);
    SaveAndEnd(m_pDb, m_entry, &CJournalDb::SaveEntry);
}

void CGRVDlgEntry::OnBnClickedCancel() {
    done(IDCANCEL);
}
