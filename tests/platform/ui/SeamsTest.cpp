#include <gtest/gtest.h>

#include <QApplication>
#include <QDialogButtonBox>
#include <QFile>
#include <QFileDialog>
#include <QMessageBox>
#include <QPainter>
#include <QPrinter>
#include <QPushButton>
#include <QTimer>
#include <thread>

#include "platform/ui/Scripted.h"
#include "tests/support/TestSupport.h"

using namespace platform::ui;

namespace {

TEST(QtFilterFromPipes, ConvertsTheClassLibraryForm) {
    struct Case {
        const char* pipes;
        const char* qt;
    };
    const Case cases[] = {
        {"Gorvane DB (*.grv)|*.grv", "Gorvane DB (*.grv)"},
        {"Gorvane DB (*.grv)|*.grv||", "Gorvane DB (*.grv)"},
        {"Backup|*.grz|All files|*.*||", "Backup (*.grz);;All files (*.*)"},
        {"Text (*.txt;*.csv)|*.txt;*.csv|", "Text (*.txt;*.csv) (*.txt *.csv)"},
        {"Images|*.png; *.bmp|", "Images (*.png *.bmp)"},
        {"", ""},
        {"Dangling description", ""},
    };
    for (const Case& c : cases)
        EXPECT_EQ(QtFilterFromPipes(QString::fromUtf8(c.pipes)), QString::fromUtf8(c.qt)) << c.pipes;
}

TEST(ScopedSeams, InstallsAndRestoresNested) {
    Prompter* before = &GetPrompter();
    auto outer = std::make_shared<ScriptedPrompter>();
    auto sink = std::make_shared<RecordingUsageSink>();
    {
        ScopedSeams a({outer, nullptr, nullptr, sink});
        EXPECT_EQ(&GetPrompter(), outer.get());
        EXPECT_EQ(GetUsageSink(), sink);
        auto inner = std::make_shared<ScriptedPrompter>();
        {
            ScopedSeams b({inner, nullptr, nullptr, nullptr});
            EXPECT_EQ(&GetPrompter(), inner.get());
            EXPECT_EQ(GetUsageSink(), sink) << "a null member keeps the seam in force";
        }
        EXPECT_EQ(&GetPrompter(), outer.get());
    }
    EXPECT_EQ(&GetPrompter(), before);
    EXPECT_NE(GetUsageSink(), sink);
}

TEST(ScriptedPrompter, AnswersFromQueueThenTheHarmlessWayOut) {
    ScriptedPrompter p;
    p.Queue(Answer::Yes);
    EXPECT_TRUE(p.AskYesNo(nullptr, "Delete?", "Confirm"));
    EXPECT_FALSE(p.AskYesNo(nullptr, "Again?"));
    EXPECT_EQ(p.Ask(nullptr, {"", "x", Buttons::YesNoCancel, Icon::None, std::nullopt}), Answer::Cancel);
    EXPECT_EQ(p.Ask(nullptr, {"", "y", Buttons::OkCancel, Icon::None, std::nullopt}), Answer::Cancel);
    p.Tell(nullptr, "Saved.", "Gorvane", Icon::Information);
    EXPECT_EQ(p.Unscripted(), 4u);
    ASSERT_EQ(p.Prompts().size(), 5u);
    EXPECT_EQ(p.Prompts()[0].title, "Confirm");
    EXPECT_EQ(p.Prompts()[0].buttons, Buttons::YesNo);
    EXPECT_EQ(p.Prompts()[0].icon, Icon::Question);
    EXPECT_EQ(p.Prompts()[4].buttons, Buttons::Ok);
    EXPECT_EQ(p.Prompts()[4].icon, Icon::Information);
    EXPECT_EQ(p.Texts().back(), "Saved.");
}

TEST(ScriptedFileChooser, RecordsRequestsAndCancelsWhenEmpty) {
    ScriptedFileChooser f;
    f.Queue("/tmp/a.grv");
    FileRequest r{FileMode::Save, "Save", "/tmp/x.grv", "Gorvane DB (*.grv)|*.grv", "grv"};
    EXPECT_EQ(f.Choose(nullptr, r), "/tmp/a.grv");
    EXPECT_TRUE(f.Choose(nullptr, r).isEmpty());
    ASSERT_EQ(f.Requests().size(), 2u);
    EXPECT_EQ(f.Requests()[0].mode, FileMode::Save);
    EXPECT_EQ(f.Requests()[0].defaultSuffix, "grv");
}

TEST(ScriptedPrinterChooser, SendsTheJobToAPdfFile) {
    grvtest::TempDir dir;
    const QString pdf = QString::fromStdString(dir.File("out.pdf"));
    ScriptedPrinterChooser c;
    c.Queue(pdf);
    QPrinter printer;
    ASSERT_TRUE(c.Choose(nullptr, printer, {}));
    {
        QPainter painter(&printer);
        painter.drawText(100, 100, "Gorvane");
    }
    QFile f(pdf);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    EXPECT_EQ(f.read(5), QByteArray("%PDF-"));
    QPrinter second;
    EXPECT_FALSE(c.Choose(nullptr, second, {}));
    EXPECT_EQ(c.Calls(), 2u);
}

TEST(RecordingUsageSink, CollectsLabelsFromManyThreads) {
    RecordingUsageSink sink;
    std::vector<std::thread> threads;
    for (int t = 0; t < 8; ++t)
        threads.emplace_back([&sink, t] {
            for (int i = 0; i < 50; ++i)
                sink.Report("T" + std::to_string(t));
        });
    EXPECT_TRUE(sink.WaitFor(400, 5000));
    for (auto& th : threads)
        th.join();
    EXPECT_EQ(sink.Labels().size(), 400u);
    EXPECT_FALSE(sink.WaitFor(401, 10));
}

// The real prompter, answered by clicking its box once it is up.
Answer AskAndClick(const Prompt& prompt, QMessageBox::StandardButton click) {
    QTimer::singleShot(0, [click] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        ASSERT_NE(box, nullptr);
        if (click == QMessageBox::NoButton)
            box->reject();
        else
            box->button(click)->click();
    });
    QtPrompter prompter;
    return prompter.Ask(nullptr, prompt);
}

TEST(QtPrompter, MapsTheButtonsPressed) {
    const Prompt yesNo{"Quit the Program", "Are you sure?", Buttons::YesNo, Icon::Question, std::nullopt};
    EXPECT_EQ(AskAndClick(yesNo, QMessageBox::Yes), Answer::Yes);
    EXPECT_EQ(AskAndClick(yesNo, QMessageBox::No), Answer::No);
    const Prompt three{"", "Save?", Buttons::YesNoCancel, Icon::Warning, std::nullopt};
    EXPECT_EQ(AskAndClick(three, QMessageBox::Cancel), Answer::Cancel);
    EXPECT_EQ(AskAndClick({"", "Done", Buttons::Ok, Icon::None, std::nullopt}, QMessageBox::Ok), Answer::Ok);
}

TEST(QtFileChooser, ReturnsTheAcceptedPathAndEmptyOnCancel) {
    grvtest::TempDir dir;
    QtFileChooser chooser;
    const FileRequest save{FileMode::Save, "Save Journal", QString::fromStdString(dir.Path()),
                           "Gorvane DB (*.grv)|*.grv|", "grv"};
    QTimer::singleShot(0, [] {
        auto* d = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
        ASSERT_NE(d, nullptr);
        EXPECT_EQ(d->nameFilters(), QStringList{"Gorvane DB (*.grv)"});
        d->selectFile("journal");
        QMetaObject::invokeMethod(d, "accept");
    });
    EXPECT_EQ(chooser.Choose(nullptr, save), QString::fromStdString(dir.File("journal.grv")));
    QTimer::singleShot(0, [] {
        auto* d = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
        ASSERT_NE(d, nullptr);
        d->reject();
    });
    EXPECT_TRUE(chooser.Choose(nullptr, save).isEmpty());
}

} // namespace
