// File > Print and the toolbar's Print: the entry in the form on one sheet.
#include <QPrinter>

#include "app/reports/EntryPrintout.h"
#include "app/reports/print/PrintJob.h"
#include "app/shell/GRVDlg.h"
#include "app/shell/ShellTexts.h"
#include "platform/ui/Seams.h"

void CGRVDlg::OnFilePrint() {
    if (m_entry.id < 1) {
        platform::ui::GetPrompter().Tell(this, QString::fromLatin1(entry_print_texts::kNoEntryLoaded),
                                         QString::fromLatin1(grv::kAppCaption));
        return;
    }
    CEntryPrintout printout(&m_db, m_entry, GetDateText(), GetTimeText());
    QPrinter printer(QPrinter::HighResolution);
    platform::ui::PrintRequest request;
    request.docName = printout.DocumentName();
    request.fileFolder =
        platform::ui::ChooserStartFolder({m_db.IsOpen() ? QString::fromStdString(m_db.GetFolder()) : QString()});
    if (!platform::ui::GetPrinterChooser().Choose(this, printer, request))
        return;
    UseSmallestMargins(&printer);
    QString failure;
    if (!printout.Print(printer, &failure)) {
        platform::ui::GetPrompter().Tell(this, PrintFailedMessage(failure), QString::fromLatin1(grv::kAppCaption));
    }
}
