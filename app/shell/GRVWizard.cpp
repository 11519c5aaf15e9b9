#include "app/shell/GRVWizard.h"

#include <QEvent>
#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStackedWidget>
#include <QVBoxLayout>

#include "app/shell/BackupTexts.h"
#include "app/shell/FormTexts.h"
#include "app/shell/GRVDlg.h"
#include "app/shell/GRVDlgBkupRstr.h"
#include "app/shell/Profile.h"
#include "app/shell/Resource.h"
#include "app/shell/ShellTexts.h"
#include "app/shell/StringTable.h"
#include "app/store/JournalDb.h"
#include "platform/ui/Seams.h"

using namespace grv;
using platform::ui::GetPrompter;

namespace {

QString IdName(int id) {
    return QString::number(id);
}

QLabel* MakePageText(int id, QWidget* page) {
    auto* label = new QLabel(page);
    label->setObjectName(IdName(id));
    label->setWordWrap(true);
    label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    return label;
}

} // namespace

CGRVWizPage::CGRVWizPage(int templateId, CGRVFirstTimeWiz* sheet) : m_pSheet(sheet) {
    setProperty("template", templateId);
    // Pages are 280 x 130 dialog units.
    setMinimumSize(460, 220);
}

CGRVWizPgTxt::CGRVWizPgTxt(int stringId, int finalPage, CGRVFirstTimeWiz* sheet)
    : CGRVWizPage(IDD_WIZ_TEXT, sheet), m_bFinalPage(finalPage), m_nStringId(stringId) {
    auto* box = new QVBoxLayout(this);
    m_ctlText = MakePageText(IDC_WIZ_TEXT, this);
    box->addWidget(m_ctlText, 1);
}

void CGRVWizPgTxt::OnSetActive() {
    m_ctlText->setText(LoadResourceString(m_nStringId));
    if (!m_bFinalPage) {
        m_pSheet->SetWizardButtons(false, true);
        return;
    }
    m_pSheet->SetWizardButtons(true, false);
    const int result = m_pSheet->CreateDatabase(m_pSheet->m_strFolder, m_pSheet->m_strFileName);
    if (result == 1) {
        GetPrompter().Tell(this, QString::fromLatin1(kDbCreated), QString::fromLatin1(kWizardCreatedTitle));
        return;
    }
    // The page must not congratulate on a journal that does not exist.
    m_ctlText->setText(QString::fromLatin1(kWizardNotCreated).arg(m_pSheet->m_strError.trimmed()));
    GetPrompter().Tell(this, QString::fromLatin1(kWizardCreateFailed).arg(m_pSheet->m_strError),
                       QString::fromLatin1(kWizardCreateFailedTitle));
}

CGRVWizPgEdit::CGRVWizPgEdit(CGRVFirstTimeWiz* sheet) : CGRVWizPage(IDD_WIZ_EDIT, sheet) {
    auto* box = new QVBoxLayout(this);
    m_ctlText = MakePageText(IDC_WIZ_EDIT_TEXT, this);
    box->addWidget(m_ctlText, 1);
    m_ctlName = new QLineEdit(this);
    m_ctlName->setObjectName(IdName(IDC_WIZ_NAME));
    m_ctlName->installEventFilter(this);
    box->addWidget(m_ctlName);
}

void CGRVWizPgEdit::OnSetActive() {
    m_ctlText->setText(LoadResourceString(IDS_WIZ_NAME));
    m_pSheet->SetWizardButtons(true, true);
}

bool CGRVWizPgEdit::eventFilter(QObject* watched, QEvent* event) {
    if (watched == m_ctlName && event->type() == QEvent::FocusOut)
        OnKillFocusName();
    return CGRVWizPage::eventFilter(watched, event);
}

void CGRVWizPgEdit::OnKillFocusName() {
    QString name = m_ctlName->text();
    const qsizetype period = name.indexOf(QLatin1Char('.'));
    if (period >= 0) {
        GetPrompter().Tell(this, QString::fromLatin1(kWizardPeriod), QString::fromLatin1(kWizardPeriodTitle));
        name.truncate(period);
        m_ctlName->setText(name);
    }
    m_pSheet->m_strFileName = name;
}

CGRVWizPgEdtBut::CGRVWizPgEdtBut(CGRVFirstTimeWiz* sheet) : CGRVWizPage(IDD_WIZ_EDIT_BUTTON, sheet) {
    auto* box = new QVBoxLayout(this);
    m_ctlText = MakePageText(IDC_WIZ_BROWSE_TEXT, this);
    box->addWidget(m_ctlText, 1);
    m_btnBrowse = new QPushButton(this);
    m_btnBrowse->setObjectName(IdName(IDC_WIZ_BROWSE));
    m_btnBrowse->setAutoDefault(false);
    box->addWidget(m_btnBrowse);
    m_ctlPath = new QLineEdit(this);
    m_ctlPath->setObjectName(IdName(IDC_WIZ_NAME));
    m_ctlPath->setReadOnly(true);
    box->addWidget(m_ctlPath);
    connect(m_btnBrowse, &QPushButton::clicked, this, &CGRVWizPgEdtBut::OnBrowse);
}

void CGRVWizPgEdtBut::OnSetActive() {
    m_ctlText->setText(LoadResourceString(IDS_WIZ_FOLDER));
    m_pSheet->SetWizardButtons(true, true);
    m_btnBrowse->setText(QString::fromLatin1(kWizardBrowse));
    setWindowTitle(QString::fromLatin1(kWizardPage3Title));
}

void CGRVWizPgEdtBut::OnBrowse() {
    platform::ui::FileRequest request;
    request.mode = platform::ui::FileMode::Save;
    request.initialPath = platform::ui::ChooserStartFolder() + QLatin1Char('/') +
                          QString::fromLatin1(kWizardProposed).arg(m_pSheet->m_strFileName);
    request.filter = QString::fromLatin1(kDbFilter);
    request.defaultSuffix = QStringLiteral("grv");
    // The wizard only makes a new journal and refuses an existing file: a
    // question about replacing it would be answered for nothing.
    request.confirmOverwrite = false;
    const QString chosen = platform::ui::GetFileChooser().Choose(nullptr, request);
    if (chosen.isEmpty()) {
        GetPrompter().Tell(this, QString::fromLatin1(kDbOpenCancelled));
        return;
    }
    SplitPath(chosen, m_strFolder, m_strFileName);
    m_strFullPath = m_strFolder + m_strFileName;
    m_ctlPath->setText(m_strFullPath);
    m_pSheet->m_strFolder = m_strFolder;
    m_pSheet->m_strFileName = m_strFileName;
}

CGRVFirstTimeWiz::CGRVFirstTimeWiz(const QString& caption, QWidget* parent, int firstPage)
    : QDialog(parent), m_nFirstPage(firstPage) {
    setWindowTitle(caption);
    auto* top = new QVBoxLayout(this);
    m_pages = new QStackedWidget(this);
    m_pages->addWidget(new CGRVWizPgTxt(IDS_WIZ_WELCOME, 0, this));
    m_pages->addWidget(new CGRVWizPgEdit(this));
    m_pages->addWidget(new CGRVWizPgEdtBut(this));
    m_pages->addWidget(new CGRVWizPgTxt(IDS_WIZ_DONE, 1, this));
    top->addWidget(m_pages, 1);
    auto* rule = new QFrame(this);
    rule->setFrameShape(QFrame::HLine);
    rule->setFrameShadow(QFrame::Sunken);
    top->addWidget(rule);

    auto* buttons = new QHBoxLayout;
    auto makeButton = [&](int id, const QString& text) {
        auto* b = new QPushButton(text, this);
        b->setObjectName(IdName(id));
        b->setAutoDefault(false);
        buttons->addWidget(b);
        return b;
    };
    buttons->addStretch(1);
    m_btnBack = makeButton(ID_WIZBACK, QStringLiteral("< Back"));
    m_btnNext = makeButton(ID_WIZNEXT, QStringLiteral("Next >"));
    m_btnCancel = makeButton(IDCANCEL, QStringLiteral("Cancel"));
    m_btnHelp = makeButton(IDHELP, QStringLiteral("Help"));
    top->addLayout(buttons);

    connect(m_btnBack, &QPushButton::clicked, this, &CGRVFirstTimeWiz::OnBack);
    connect(m_btnNext, &QPushButton::clicked, this, &CGRVFirstTimeWiz::OnNext);
    connect(m_btnCancel, &QPushButton::clicked, this, &CGRVFirstTimeWiz::OnFinish);
    connect(m_btnHelp, &QPushButton::clicked, this, &CGRVFirstTimeWiz::OnFinish);
}

void CGRVFirstTimeWiz::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (m_bInitialised)
        return;
    m_bInitialised = true;
    OnInitDialog();
}

void CGRVFirstTimeWiz::OnInitDialog() {
    setWindowTitle(QString::fromLatin1(kWizardTitle));
    m_btnCancel->setText(QString::fromLatin1(kWizardFinish));
    m_btnHelp->setText(QString::fromLatin1(kWizardClose));
    SetActivePage(m_nFirstPage);
}

void CGRVFirstTimeWiz::OnFinish() {
    done(0);
}

void CGRVFirstTimeWiz::SetWizardButtons(bool back, bool next) {
    m_btnBack->setEnabled(back);
    m_btnNext->setEnabled(next);
}

CGRVWizPage* CGRVFirstTimeWiz::GetPage(int index) const {
    return static_cast<CGRVWizPage*>(m_pages->widget(index));
}

int CGRVFirstTimeWiz::GetActiveIndex() const {
    return m_pages->currentIndex();
}

void CGRVFirstTimeWiz::SetActivePage(int index) {
    if (index < 0 || index >= m_pages->count())
        return;
    m_pages->setCurrentIndex(index);
    GetPage(index)->OnSetActive();
}

void CGRVFirstTimeWiz::OnBack() {
    if (!m_btnBack->isEnabled())
        return;
    GetPage(GetActiveIndex())->OnLeave();
    SetActivePage(GetActiveIndex() - 1);
}

void CGRVFirstTimeWiz::OnNext() {
    if (!m_btnNext->isEnabled())
        return;
    GetPage(GetActiveIndex())->OnLeave();
    SetActivePage(GetActiveIndex() + 1);
}

namespace {

QString WithoutTrailingSeparator(QString folder) {
    while (folder.size() > 1 && folder.endsWith(QLatin1Char('/')))
        folder.chop(1);
    return folder;
}

} // namespace

QString CGRVFirstTimeWiz::StoreFolder() const {
    return WithoutTrailingSeparator(m_strFolder);
}

bool CGRVFirstTimeWiz::HasCreated() const {
    return m_pDb && m_pDb->IsOpen() && !m_strCreatedPath.isEmpty() &&
           IsSameFile(m_strCreatedPath, QString::fromStdString(m_pDb->GetFullPath()));
}

int CGRVFirstTimeWiz::CreateDatabase(const QString& folder, const QString& fileName) {
    if (folder.isEmpty()) {
        m_strError = QString::fromLatin1(kWizardFolderEmpty);
        return -2;
    }
    if (fileName.isEmpty()) {
        m_strError = QString::fromLatin1(kWizardFileEmpty);
        return -2;
    }
    // Back to this page and on again: the journal made last time is open
    // already, and creating it again would be refused.
    const bool again = HasCreated() && IsSameFile(m_strCreatedPath, folder + fileName);
    if (!again) {
        m_pDb->SetFolder(WithoutTrailingSeparator(folder).toStdString());
        m_pDb->SetFileName(fileName.toStdString());
        if (!m_pDb->Open(1)) {
            m_strError = QString::fromStdString(m_pDb->GetLastErrorText());
            m_strCreatedPath.clear();
            return -1;
        }
        m_strCreatedPath = QString::fromStdString(m_pDb->GetFullPath());
    }
    WriteProfileString(kSectionMru, kLastFile, QString::fromStdString(m_pDb->GetFileName()));
    WriteProfileString(kSectionMru, kLastPath, QString::fromStdString(m_pDb->GetFolder()));
    m_strTitle = QString::fromLatin1(kCaptionWithFile).arg(QString::fromStdString(m_pDb->GetFileName()));
    return 1;
}

bool CGRVDlg::RunFirstTimeWizard(QString& fileName, QString& folder) {
    // The wizard can be turned on again while a journal is open; a creation
    // that fails must not leave the window without it.
    const bool hadJournal = Db().IsOpen();
    const std::string oldFolder = Db().GetFolder();
    const std::string oldFile = Db().GetFileName();
    CGRVFirstTimeWiz wiz(QString::fromLatin1(kWizardCaption), this);
    wiz.m_pDb = &Db();
    if (wiz.exec() == 0 && wiz.HasCreated()) {
        // The window opens what the wizard made as it opens any journal, so
        // the wizard's connection goes first: one connection at a time.
        Db().Close();
        fileName = wiz.m_strFileName;
        folder = wiz.StoreFolder();
        return true;
    }
    if (hadJournal && !Db().IsOpen()) {
        Db().SetFolder(oldFolder);
        Db().SetFileName(oldFile);
        Db().Open(0);
    }
    return false;
}
