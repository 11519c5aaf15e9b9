// The current entry's details from the main window: the toolbar launchers,
// the entries context menu, the offer after the current-pain edit's
// automatic save, the tray's quick pain score and deleting an entry.
#include <QComboBox>
#include <QCursor>
#include <QDateEdit>
#include <QEvent>
#include <QFocusEvent>
#include <QLineEdit>
#include <QTimeEdit>
#include <QTreeWidget>
#include <cmath>

#include "app/shell/DetailResource.h"
#include "app/shell/FormTexts.h"
#include "app/shell/GRVDlg.h"
#include "app/shell/GRVDlgActions.h"
#include "app/shell/GRVDlgDetEntList.h"
#include "app/shell/GRVDlgEntry.h"
#include "app/shell/GRVDlgMedCab.h"
#include "app/shell/GRVDlgMedEntry.h"
#include "app/shell/GRVDlgMood.h"
#include "app/shell/GRVDlgQnA.h"
#include "app/shell/GRVDlgRecCPL.h"
#include "app/shell/GRVDlgSideEffect.h"
#include "app/shell/LauncherTexts.h"
#include "app/shell/ShellTexts.h"
#include "app/store/JournalTypes.h"
#include "platform/ui/Seams.h"

using namespace grv;
using platform::ui::GetPrompter;

namespace {

// Calls the window's automatic save when the focus leaves the current-pain
// edit for another control of the window. A window losing the activation
// (a dialog opening over it, another program, a menu) is no leaving: the
// save would run in the middle of whatever took the focus.
class CurrentPainWatch : public QObject {
public:
    CurrentPainWatch(CGRVDlg* dlg, QObject* edit) : QObject(edit), m_dlg(dlg) {}

    // The watch among the edit's children (they are not all watches).
    static void RemoveFrom(QObject* edit) {
        for (QObject* child : edit->children())
            if (auto* watch = dynamic_cast<CurrentPainWatch*>(child))
                delete watch;
    }

    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::FocusOut) {
            const Qt::FocusReason reason = static_cast<QFocusEvent*>(event)->reason();
            if (reason != Qt::ActiveWindowFocusReason && reason != Qt::PopupFocusReason)
                m_dlg->OnCurrentPainKillFocus();
        }
        return QObject::eventFilter(watched, event);
    }

private:
    CGRVDlg* m_dlg;
};

QString EntryIdText(int id) {
    return QString::asprintf("%d", id);
}

QString Text(const std::string& s) {
    return QString::fromStdString(s);
}

void Tell(QWidget* parent, const char* text) {
    GetPrompter().Tell(parent, QString::fromLatin1(text), QString::fromLatin1(kTitleGorvane));
}

// The refusal of each kind when the entry is not stored yet.
const char* NeedSavedText(int type) {
    switch (type) {
    case kEntryTypeAction: return kNeedSavedForActions;
    case kEntryTypeJournal: return kNeedSavedForJournal;
    case kEntryTypeMedicine: return kNeedSavedForMeds;
    case kEntryTypeMood: return kNeedSavedForMood;
    case kEntryTypeQuestion: return kNeedSavedForQuestions;
    default: return kNeedSavedForSideEff;
    }
}

// A level of the summary, unless it is none (an entry stored without it).
int SummaryLevel(float value, int fallback) {
    const int level = static_cast<int>(value);
    return level >= 0 && level <= 10 ? level : fallback;
}

} // namespace

int CGRVDlg::TypeCodeFromName(const QString& name) {
    static const char* const kNames[] = {"Action", "Journal", "Medicine", "Mood", "Question", "Side Effects"};
    for (int i = 0; i < 6; ++i)
        if (name == QLatin1String(kNames[i]))
            return i + 1;
    return 0;
}

void CGRVDlg::WireDetails() {
    m_ctlCurrentPain->installEventFilter(new CurrentPainWatch(this, m_ctlCurrentPain));
    connect(m_ctlEntryList, &QTreeWidget::itemActivated, this, &CGRVDlg::OnEntryListActivate);
}

void CGRVDlg::UnwireDetails() {
    if (!m_ctlCurrentPain)
        return;
    CurrentPainWatch::RemoveFrom(m_ctlCurrentPain);
}

bool CGRVDlg::CanAddDetails(int type) {
    if (!m_db.IsOpen()) {
        Tell(this, kNeedDbForDetails);
        return false;
    }
    if (m_entry.id < 1) {
        Tell(this, NeedSavedText(type));
        return false;
    }
    return true;
}

// ---- List activation and the automatic save ----

void CGRVDlg::OnEntryListActivate() {
    const QList<QTreeWidgetItem*> selected = m_ctlEntryList->selectedItems();
    if (selected.isEmpty())
        return;
    const int id = selected.first()->data(0, Qt::UserRole).toInt();
    if (m_db.LoadEntry(IdText(id), m_entry))
        ShowEntryInForm();
    OnContextMenu(QCursor::pos());
}

void CGRVDlg::OnCurrentPainKillFocus() {
    if (m_ctlTypeList->currentIndex() >= 0)
        m_nEntryType = TypeCodeFromName(m_ctlTypeList->currentText());
    // The entry stays new until a save succeeds, so its details are offered
    // once it is stored.
    if (!SaveFormEntry())
        return;
    RefreshEntryList();
    if (!m_bNewEntry)
        return;
    m_bNewEntry = 0;
    OfferTypeDetails();
}

int CGRVDlg::OfferTypeDetails() {
    if (!CanAddDetails(m_nEntryType))
        return 0;
    switch (m_nEntryType) {
    case kEntryTypeAction: OpenActionsDialog(0); break;
    case kEntryTypeJournal: OpenEntryTextDialog(1); break;
    case kEntryTypeMedicine: OpenMedicineDialog(0); break;
    case kEntryTypeMood: OpenMoodDialog(0); break;
    case kEntryTypeQuestion: OpenQuestionDialog(0); break;
    case kEntryTypeSideEffects: OpenSideEffectDialog(0); break;
    default: break;
    }
    RefreshEntryList();
    return 1;
}

// ---- The dialog openers ----

bool CGRVDlg::RunActionsDialog(int edit) {
    CGRVDlgActions dlg(this);
    dlg.m_pDb = &m_db;
    dlg.m_strEntryId = EntryIdText(m_entry.id);
    if (edit) {
        dlg.m_bEdit = 1;
        dlg.m_action = m_entryActions;
        dlg.m_strName = Text(m_entryActions.name);
        dlg.m_strCategory = Text(m_entryActions.cat);
        dlg.m_nPainEffect = m_entryActions.plmod;
        dlg.m_strPainEffect = QString::number(m_entryActions.plmod);
        dlg.m_strReference = Text(m_entryActions.ref);
    }
    if (dlg.exec() != IDOK)
        return false;
    if (edit)
        m_entryActions = dlg.m_action;
    return dlg.m_bContinue != 0;
}

int CGRVDlg::OpenActionsDialog(int edit) {
    while (RunActionsDialog(edit)) {
    }
    return 1;
}

int CGRVDlg::OpenEntryTextDialog(int edit) {
    CGRVDlgEntry dlg(this);
    dlg.m_pDb = &m_db;
    if (edit) {
        dlg.m_entry = m_entry;
        dlg.m_strSubject = Text(m_entry.sbj);
        dlg.m_strBody = Text(m_entry.entry);
    }
    // The next save of the form must not put the old texts back.
    if (dlg.exec() == IDOK && edit && dlg.m_entry.id == m_entry.id) {
        m_entry.sbj = dlg.m_entry.sbj;
        m_entry.entry = dlg.m_entry.entry;
    }
    return 1;
}

bool CGRVDlg::RunMedicineDialog(int edit) {
    CGRVDlgMedEntry dlg(this);
    dlg.m_pDb = &m_db;
    dlg.m_strEntryId = EntryIdText(m_entry.id);
    if (edit) {
        dlg.m_meds = m_entryMeds;
        dlg.m_strDosage = Text(m_entryMeds.dosage);
        dlg.m_strQuantity = QString::number(m_entryMeds.quantity);
        dlg.m_strDesc = Text(m_entryMeds.desc);
        dlg.m_bOverride = m_entryMeds.override == 1 ? 1 : 0;
    }
    if (dlg.exec() != IDOK)
        return false;
    if (edit)
        m_entryMeds = dlg.m_meds;
    return dlg.m_bContinue != 0;
}

int CGRVDlg::OpenMedicineDialog(int edit) {
    while (RunMedicineDialog(edit)) {
    }
    return 1;
}

int CGRVDlg::OpenMoodDialog(int edit) {
    CGRVDlgMood dlg(this);
    dlg.m_pDb = &m_db;
    dlg.m_strEntryId = EntryIdText(m_entry.id);
    if (edit) {
        const CEntryMood& m = m_entryMood;
        dlg.m_mood = m;
        dlg.m_nGenActivity = m.act;
        dlg.m_nMood = m.mood;
        dlg.m_nNormalWork = m.work;
        dlg.m_nSleep = m.sleep;
        dlg.m_nEnjoyLife = m.life;
        dlg.m_nConcentrate = m.concn;
        dlg.m_nRelations = m.relat;
        dlg.m_nWalking = m.walk;
    }
    if (dlg.exec() == IDOK && edit)
        m_entryMood = dlg.m_mood;
    return 1;
}

int CGRVDlg::OpenQuestionDialog(int edit) {
    CGRVDlgQnA dlg(this);
    dlg.m_pDb = &m_db;
    dlg.m_strEntryId = EntryIdText(m_entry.id);
    if (edit) {
        dlg.m_question = m_entryQuestions;
        dlg.m_strQuestion = Text(m_entryQuestions.q);
        dlg.m_strAnswer = Text(m_entryQuestions.a);
        dlg.m_strReference = Text(m_entryQuestions.ref);
    }
    if (dlg.exec() != IDOK)
        return 1;
    // The dialog saves nothing itself: an edited question is updated, a new
    // one goes to the current entry.
    CEntryQuestions rec = dlg.m_question;
    if (rec.id < 1)
        rec.eid = m_entry.id;
    rec.q = dlg.m_strQuestion.toStdString();
    rec.a = dlg.m_strAnswer.toStdString();
    rec.ref = dlg.m_strReference.toStdString();
    if (rec.eid < 1)
        return 1;
    if (m_db.SaveEntryQuestion(rec)) {
        if (edit)
            m_entryQuestions = rec;
    } else {
        GetPrompter().Tell(this, Text(m_db.GetLastErrorText()), QString::fromLatin1(kTitleGorvane));
    }
    return 1;
}

int CGRVDlg::OpenSideEffectDialog(int edit) {
    CGRVDlgSideEffect dlg(this);
    dlg.m_pDb = &m_db;
    dlg.m_strEntryId = EntryIdText(m_entry.id);
    if (edit) {
        const CEntrySideEff& s = m_entrySideEff;
        dlg.m_sideEff = s;
        dlg.m_mid = s.mid < 1 ? 0 : s.mid;
        dlg.m_nNausea = s.nausea;
        dlg.m_nVomiting = s.vomit;
        dlg.m_nConstipation = s.constip;
        dlg.m_nAppetite = s.appet;
        dlg.m_nTired = s.tired;
        dlg.m_nItching = s.itch;
        dlg.m_nNightmares = s.night;
        dlg.m_nSweating = s.sweat;
        dlg.m_nThinking = s.think;
        dlg.m_nInsomnia = s.insomn;
    }
    if (dlg.exec() == IDOK && edit)
        m_entrySideEff = dlg.m_sideEff;
    return 1;
}

// ---- The entries context menu ----

void CGRVDlg::OnEditEntryText() {
    if (!CanAddDetails(kEntryTypeJournal))
        return;
    OpenEntryTextDialog(1);
    RefreshEntryList();
}

void CGRVDlg::OnDetailsJournal() {
    OnEditEntryText();
}

void CGRVDlg::EditDetailsOfType(int type) {
    if (!CanAddDetails(type))
        return;
    const auto open = [this, type](int edit) {
        switch (type) {
        case kEntryTypeAction: OpenActionsDialog(edit); break;
        case kEntryTypeMedicine: OpenMedicineDialog(edit); break;
        case kEntryTypeQuestion: OpenQuestionDialog(edit); break;
        default: OpenSideEffectDialog(edit); break;
        }
    };
    if (m_db.CountDetails(m_entry.id, type) < 1) {
        open(0);
    } else {
        CGRVDlgDetEntList list(this);
        list.m_pDb = &m_db;
        list.m_nEntryId = m_entry.id;
        list.m_nType = type;
        if (list.exec() == IDOK) {
            const std::string id = list.m_strSelectedId.toStdString();
            if (list.m_nAnswer == kDetailAnswerAdd) {
                open(0);
            } else if (list.m_nAnswer == kDetailAnswerEdit) {
                int loaded = 0;
                switch (type) {
                case kEntryTypeAction: loaded = m_db.LoadEntryActions(id, m_entryActions); break;
                case kEntryTypeMedicine: loaded = m_db.LoadEntryMeds(id, m_entryMeds); break;
                case kEntryTypeQuestion: loaded = m_db.LoadEntryQuestionText(id, m_entryQuestions); break;
                default: loaded = m_db.LoadEntrySideEffText(id, m_entrySideEff); break;
                }
                if (loaded)
                    open(1);
            }
        }
    }
    RefreshEntryList();
}

void CGRVDlg::OnDetailsActions() {
    EditDetailsOfType(kEntryTypeAction);
}
void CGRVDlg::OnDetailsMedicines() {
    EditDetailsOfType(kEntryTypeMedicine);
}
void CGRVDlg::OnDetailsQuestions() {
    EditDetailsOfType(kEntryTypeQuestion);
}
void CGRVDlg::OnDetailsSideEffects() {
    EditDetailsOfType(kEntryTypeSideEffects);
}

void CGRVDlg::OnDetailsMood() {
    if (!CanAddDetails(kEntryTypeMood))
        return;
    const int moodId = m_db.LoadEntryMoodByEntry(m_entry.id);
    if (moodId >= 1 && m_db.LoadEntryMood(moodId, m_entryMood))
        OpenMoodDialog(1);
    else
        OpenMoodDialog(0);
    RefreshEntryList();
}

// ---- The toolbar ----

bool CGRVDlg::ToolbarGuard(int type) {
    if (!m_db.IsOpen()) {
        Tell(this, kNeedDbForDetails);
        return false;
    }
    if (m_prefs.autoSaveEntry && SaveFormEntry())
        RefreshEntryList();
    return CanAddDetails(type);
}

void CGRVDlg::OnActionDetails() {
    bool again = true;
    while (again && ToolbarGuard(kEntryTypeAction)) {
        SendUsageStat(QString::fromLatin1(kUsageToolbarActions));
        again = RunActionsDialog(0);
        RefreshDetails();
    }
}

void CGRVDlg::OnMedicineDetails() {
    bool again = true;
    while (again && ToolbarGuard(kEntryTypeMedicine)) {
        SendUsageStat(QString::fromLatin1(kUsageToolbarMeds));
        again = RunMedicineDialog(0);
        RefreshDetails();
    }
}

void CGRVDlg::OnMoodDetails() {
    if (!ToolbarGuard(kEntryTypeMood))
        return;
    SendUsageStat(QString::fromLatin1(kUsageToolbarMood));
    OpenMoodDialog(0);
    RefreshDetails();
}

void CGRVDlg::OnSideEffectDetails() {
    if (!ToolbarGuard(kEntryTypeSideEffects))
        return;
    SendUsageStat(QString::fromLatin1(kUsageToolbarSideEff));
    OpenSideEffectDialog(0);
    RefreshDetails();
}

void CGRVDlg::OnQuestionDetails() {
    if (CanAddDetails(kEntryTypeQuestion)) {
        SendUsageStat(QString::fromLatin1(kUsageToolbarQuestion));
        OpenQuestionDialog(0);
    }
    RefreshDetails();
}

void CGRVDlg::OnToolbarMedicineCabinet() {
    SendUsageStat(QString::fromLatin1(kUsageToolbarMedsCab));
    OnMedicineCabinet();
}

void CGRVDlg::OnMedicineCabinet() {
    if (!m_db.IsOpen()) {
        Tell(this, kNeedDbForDetails);
        return;
    }
    SendUsageStat(QString::fromLatin1(kUsageToolsMedsCab));
    CGRVDlgMedCab dlg(this);
    dlg.m_pDb = &m_db;
    dlg.exec();
}

// ---- The tray's quick pain score ----

void CGRVDlg::OnNewPainScore() {
    if (!m_db.IsOpen())
        Tell(this, kNeedDbForDetails);
    SendUsageStat(QString::fromLatin1(kUsageTrayNewPainScore));
    CGRVDlgRecCPL dlg(this);
    if (dlg.exec() != IDOK)
        return;

    const QDateTime now = QDateTime::currentDateTime();
    {
        const QSignalBlocker quiet(m_ctlDate);
        m_ctlDate->setDate(now.date());
    }
    m_ctlTime->setTime(now.time());
    const std::string ts = FormTimestamp();

    // A journal without entries has no summary: the score stands for all four.
    const int pain = dlg.m_nPain;
    int worst = pain, lowest = pain, average = pain;
    float maxWorst = 0, minLowest = 0, avgCurrent = 0;
    if (m_db.GetPainSummary(maxWorst, minLowest, avgCurrent)) {
        worst = SummaryLevel(maxWorst, pain);
        lowest = SummaryLevel(minLowest, pain);
        average = SummaryLevel(std::round(avgCurrent), pain);
    }

    m_entry.Reset();
    m_entry.id = -1;
    m_entry.ts = ts;
    m_entry.cpl = pain;
    m_entry.lpl = lowest;
    m_entry.apl = average;
    m_entry.wpl = worst;
    m_entry.sbj = dlg.m_strDescription.isEmpty() ? std::string(kQuickPainSubject) : dlg.m_strDescription.toStdString();
    m_entry.entry = kQuickPainBody;

    if (!m_db.IsOpen()) {
        Tell(this, kNeedDbForSave);
        return;
    }
    if (!m_db.SaveEntry(m_entry)) {
        GetPrompter().Tell(this, Text(m_db.GetLastErrorText()), QString::fromLatin1(kTitleGorvane));
        return;
    }
    RefreshEntryList();
    RefreshTrend();
    ClearForm(1);
}

// ---- Delete ----

void CGRVDlg::OnDeleteEntry() {
    if (!m_db.IsOpen()) {
        Tell(this, kNeedDbForDetails);
        return;
    }
    if (m_entry.id < 1) {
        Tell(this, kNeedSavedForDelete);
        return;
    }
    const QString question = QString::fromLatin1(kAskDeleteEntry).arg(m_entry.id);
    if (!GetPrompter().AskYesNo(this, question, QString::fromLatin1(kTitleGorvane)))
        return;
    if (!m_db.DeleteEntry(m_entry.id)) {
        GetPrompter().Tell(this, Text(m_db.GetLastErrorText()), QString::fromLatin1(kTitleGorvane));
        return;
    }
    Tell(this, kEntryDeleted);
    RefreshEntryList();
    RefreshTrend();
    ClearForm(1);
}
