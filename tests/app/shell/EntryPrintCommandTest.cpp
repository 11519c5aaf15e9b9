// File > Print and the toolbar's Print over a real journal: the entry in the
// form goes to a PDF named after its subject; without one the user is told.
#include <QDir>
#include <QFile>
#include <QPrintDialog>

#include "JournalWindowSupport.h"
#include "app/reports/EntryPrintout.h"
#include "app/reports/print/PrintJob.h"
#include "app/shell/Resource.h"
#include "app/shell/ShellTexts.h"
#include "tests/app/reports/print/PrintTestSupport.h"

using namespace grv;

namespace {

class EntryPrintCommandTest : public JournalWindowTest {
protected:
    void SetUp() override {
        JournalWindowTest::SetUp();
        printers->SetUp([](QPrinter& printer) {
            printer.setResolution(600);
            printer.setPageSize(QPageSize(QPageSize::A4));
        });
    }

    // The window over a new journal, its form holding a saved entry.
    void ShowASavedEntry(CGRVDlg& dlg) {
        ShowAndSettle(dlg);
        OpenThroughMenu(dlg, MakeJournal("j.grv", {}));
        SetPain(dlg, "8", "5", "2", "4");
        ASSERT_TRUE(dlg.OnCommand(ID_FILE_SAVE_ENTRY));
    }

    std::shared_ptr<platform::ui::ScriptedPrinterChooser> printers =
        std::make_shared<platform::ui::ScriptedPrinterChooser>();
    platform::ui::ScopedSeams printerSeam{{nullptr, nullptr, printers, nullptr}};
};

TEST_F(EntryPrintCommandTest, NoEntryLoadedIsToldAndAsksForNoPrinter) {
    CGRVDlg dlg;
    ShowAndSettle(dlg);
    OpenThroughMenu(dlg, MakeJournal("j.grv", {}));
    prompter->Clear();
    for (int id : {ID_FILE_PRINT, ID_TB_PRINT}) {
        ASSERT_TRUE(dlg.OnCommand(id)) << id;
        ASSERT_EQ(prompter->Prompts().size(), 1u) << id;
        EXPECT_EQ(prompter->Prompts()[0].text, QString(entry_print_texts::kNoEntryLoaded));
        EXPECT_EQ(prompter->Prompts()[0].title, "Gorvane");
        prompter->Clear();
    }
    EXPECT_EQ(printers->Calls(), 0u);
}

TEST_F(EntryPrintCommandTest, BothCommandsPrintTheFormsEntryOnOneSheet) {
    CGRVDlg dlg;
    ShowAndSettle(dlg);
    OpenThroughMenu(dlg, MakeJournal("j.grv", {}));
    SetFormTime(dlg, QDateTime(QDate(2026, 3, 7), QTime(9, 5, 3)));
    SetPain(dlg, "8", "5", "2", "4");
    ASSERT_TRUE(dlg.OnCommand(ID_FILE_SAVE_ENTRY));
    ASSERT_GT(dlg.m_entry.id, 0);
    const QString subject = QString::fromStdString(dlg.m_entry.sbj);
    prompter->Clear();

    int n = 0;
    for (int id : {ID_FILE_PRINT, ID_TB_PRINT}) {
        const QString pdf = PathOf(QString("entry-%1.pdf").arg(n++));
        printers->Queue(pdf);
        ASSERT_TRUE(dlg.OnCommand(id)) << id;
        EXPECT_EQ(printtest::PdfInfo(pdf, "Pages"), "1");
        EXPECT_EQ(printtest::PdfInfo(pdf, "Title"), "Gorvane - " + subject);
        const std::vector<printtest::PdfWord> words = printtest::PdfWords(pdf, 1);
        printtest::PdfWord w;
        EXPECT_TRUE(printtest::FindLine(words, "Entry for the 2026-03-07 entered at 09:05:03", &w));
        for (const char* caption : entry_print_texts::kCaptions)
            EXPECT_TRUE(printtest::FindLine(words, caption, &w)) << caption;
        EXPECT_TRUE(printtest::FindLine(words, "Pain Level at its Worst:", &w));
        // No details: their sections show only their captions.
        for (const char* detail : {"Items to ask your Doctor/Practitioner.", "How does the Pain", "Appetite:"})
            EXPECT_FALSE(printtest::FindLine(words, detail, &w)) << detail;
    }
    // The dialog offers a PDF file, since many desktops have no printer.
    ASSERT_EQ(printers->Requests().size(), 2u);
    for (const platform::ui::PrintRequest& r : printers->Requests()) {
        EXPECT_EQ(r.docName, "Gorvane - " + subject);
        EXPECT_TRUE(r.printToFile);
        EXPECT_EQ(r.fileFolder, dir.path()) << "the journal's folder, like the other choosers";
        EXPECT_FALSE(r.pageRange || r.selection);
    }
    EXPECT_TRUE(prompter->Prompts().empty());
    // Cancel in the printer dialog prints nothing and says nothing.
    printers->Queue("");
    ASSERT_TRUE(dlg.OnCommand(ID_FILE_PRINT));
    EXPECT_TRUE(prompter->Prompts().empty());
}

// The print dialog the user really meets proposed its PDF file in the home
// folder; it proposes one named after the entry in the journal's folder.
TEST_F(EntryPrintCommandTest, RealPrintDialogProposesThePdfInTheJournalsFolder) {
    CGRVDlg dlg;
    ShowAndSettle(dlg);
    ASSERT_TRUE(QDir().mkpath(PathOf("journals")));
    OpenThroughMenu(dlg, MakeJournal("journals/j.grv", {}));
    SetPain(dlg, "8", "5", "2", "4");
    ASSERT_TRUE(dlg.OnCommand(ID_FILE_SAVE_ENTRY));
    platform::ui::ScopedSeams real({nullptr, nullptr, std::make_shared<platform::ui::QtPrinterChooser>(), nullptr});
    QString proposed;
    bool shown = false;
    QTimer::singleShot(0, [&] {
        auto* print = qobject_cast<QPrintDialog*>(QApplication::activeModalWidget());
        ASSERT_NE(print, nullptr);
        shown = true;
        if (auto* file = print->findChild<QLineEdit*>(QStringLiteral("filename")))
            proposed = file->text();
        print->reject();
    });
    prompter->Clear();
    ASSERT_TRUE(dlg.OnCommand(ID_FILE_PRINT));
    EXPECT_TRUE(shown);
    EXPECT_EQ(proposed, PathOf("journals/Gorvane - Journal.pdf"));
    EXPECT_TRUE(prompter->Prompts().empty());
}

TEST_F(EntryPrintCommandTest, PrintingThatCannotStartSaysWhy) {
    CGRVDlg dlg;
    ASSERT_NO_FATAL_FAILURE(ShowASavedEntry(dlg));
    const QString unwritable = PathOf("no-such-folder/entry.pdf");
    struct Case {
        const char* name;
        std::function<void(QPrinter&)> setUp;
        QString reason;
    } cases[] = {
        {"pdf in a missing folder", [](QPrinter&) {},
         QString(print_texts::kFileNotWritable).arg(unwritable, "No such file or directory")},
        {"no printer installed",
         [](QPrinter& p) {
             p.setOutputFileName({});
             p.setOutputFormat(QPrinter::NativeFormat);
             p.setPrinterName({});
         },
         QString(print_texts::kNoPrinter)},
    };
    for (const Case& c : cases) {
        prompter->Clear();
        printers->SetUp(c.setUp);
        printers->Queue(unwritable);
        ASSERT_TRUE(dlg.OnCommand(ID_FILE_PRINT)) << c.name;
        ASSERT_EQ(prompter->Prompts().size(), 1u) << c.name;
        EXPECT_EQ(prompter->Prompts()[0].text, PrintFailedMessage(c.reason)) << c.name;
        EXPECT_EQ(prompter->Prompts()[0].title, "Gorvane") << c.name;
        EXPECT_FALSE(QFileInfo::exists(unwritable)) << c.name;
    }
}

// Printing to a PDF on a full disk said nothing and left a 0-byte file. It
// says the disk is full and leaves no file; the disk is a small tmpfs,
// filled before the print.
TEST_F(EntryPrintCommandTest, PrintOntoAFullDiskSaysTheDiskIsFull) {
    CGRVDlg dlg;
    ASSERT_NO_FATAL_FAILURE(ShowASavedEntry(dlg));
    const QString disk = PathOf("small-disk");
    ASSERT_TRUE(QDir().mkpath(disk));
    // Only root runs this test (tests/run-common.sh leaves it out for others).
    ASSERT_EQ(RunProgram("mount", {"-t", "tmpfs", "-o", "size=64k", "tmpfs", disk}), 0) << "cannot mount a tmpfs";
    struct Unmount {
        QString disk;
        ~Unmount() { RunProgram("umount", {disk}); }
    } unmount{disk};
    QFile filler(disk + "/filler");
    ASSERT_TRUE(filler.open(QIODevice::WriteOnly));
    ASSERT_LT(filler.write(QByteArray(128 * 1024, 'f')), 128 * 1024) << "the disk is full now";
    filler.close();
    const QString pdf = disk + "/entry.pdf";
    prompter->Clear();
    printers->Queue(pdf);
    ASSERT_TRUE(dlg.OnCommand(ID_FILE_PRINT));
    ASSERT_EQ(prompter->Prompts().size(), 1u);
    EXPECT_EQ(prompter->Prompts()[0].text, PrintFailedMessage(QString(print_texts::kFileDiskFull).arg(pdf)));
    EXPECT_EQ(QDir(disk).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot), QStringList{"filler"});
    // With room, the same print is a whole PDF.
    filler.remove();
    prompter->Clear();
    printers->Queue(pdf);
    ASSERT_TRUE(dlg.OnCommand(ID_FILE_PRINT));
    EXPECT_TRUE(prompter->Prompts().empty());
    QByteArray info;
    EXPECT_EQ(RunProgram("pdfinfo", {pdf}, &info), 0) << info.toStdString();
}

} // namespace
