// The refusals a new user meets when a backup or a journal cannot be used,
// as real message boxes over the window they come from: the wrong password
// of a restore and the damaged journal of Database Open. Each box's text is
// judged whole; with GRV_SHELL_SCREENSHOTS set, the picture is also saved
// there as a PNG (docs/screenshots holds the ones in the repository).
#include <QApplication>
#include <QDateTimeEdit>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QMessageBox>
#include <QPainter>
#include <QPushButton>
#include <QTimer>
#include <functional>

#include "ShellTestSupport.h"
#include "app/reports/GRVDlgReports.h"
#include "app/reports/print/PrintJob.h"
#include "app/shell/BackupTexts.h"
#include "app/shell/FormTexts.h"
#include "app/shell/GRVDlg.h"
#include "app/shell/GRVDlgBkupRstr.h"
#include "app/shell/Resource.h"
#include "app/store/StoreTexts.h"

using namespace grv;

namespace {

constexpr int kFrame = 2;
constexpr QSize kWindowSize(900, 640);

class MessageScreenshotTest : public ShellTest {
protected:
    void SetUp() override {
        ShellTest::SetUp();
        boxes.setInterval(10);
        QObject::connect(&boxes, &QTimer::timeout, [this] { TakeBox(); });
    }
    QString Path(const QString& name) const { return tmp.filePath(name); }

    // The next message box: its text, and the picture of it over behind().
    void WatchBoxes(std::function<QWidget*()> behind) {
        behindOf = std::move(behind);
        boxes.start();
    }
    void TakeBox() {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (!box || !box->isVisible())
            return;
        boxes.stop();
        texts << box->text();
        const QPixmap back = behindOf()->grab();
        const QPixmap front = box->grab();
        QImage shot(back.size().expandedTo(front.size() + QSize(4 * kFrame, 4 * kFrame)), QImage::Format_RGB32);
        shot.fill(Qt::darkGray);
        QPainter p(&shot);
        p.drawPixmap(0, 0, back);
        const QPoint at((shot.width() - front.width()) / 2, (shot.height() - front.height()) / 2);
        p.fillRect(QRect(at, front.size()).adjusted(-kFrame, -kFrame, kFrame, kFrame), Qt::black);
        p.drawPixmap(at, front);
        p.end();
        picture = shot;
        box->button(QMessageBox::Ok)->click();
    }
    // Saves the picture where GRV_SHELL_SCREENSHOTS names, when it does.
    void Save(const QString& name) const {
        const QString folder = qEnvironmentVariable("GRV_SHELL_SCREENSHOTS");
        if (!folder.isEmpty()) {
            EXPECT_TRUE(picture.save(QDir(folder).filePath(name), "PNG"));
        }
    }

    grvtest::QtTempDir tmp;
    platform::ui::ScopedSeams real{{std::make_shared<platform::ui::QtPrompter>(), files, nullptr, usage}};
    QTimer boxes;
    std::function<QWidget*()> behindOf;
    QStringList texts;
    QImage picture;
};

TEST_F(MessageScreenshotTest, WrongPasswordRefusal) {
    ASSERT_TRUE(QFile::copy(QStringLiteral(GRV_TEST_DATA_DIR "/shell/zip-deflated.grz"), Path("week1.grz")));
    CGRVDlg win;
    win.resize(kWindowSize);
    win.show();
    QWidget* restore = nullptr;
    WatchBoxes([&] { return restore; });
    QTimer::singleShot(0, [&] {
        auto* d = qobject_cast<CGRVDlgBkupRstr*>(QApplication::activeModalWidget());
        ASSERT_TRUE(d);
        restore = d;
        d->findChild<QLineEdit*>(QString::number(IDC_BR_SOURCE))->setText(Path("week1.grz"));
        d->findChild<QLineEdit*>(QString::number(IDC_BR_TARGET))->setText(Path("pain.grv"));
        d->findChild<QLineEdit*>(QString::number(IDC_BR_PASSWORD))->setText("not the password");
        d->findChild<QPushButton*>(QString::number(IDC_BR_ACTION))->click();
        d->reject();
    });
    ASSERT_TRUE(win.OnCommand(ID_DATABASE_RESTORE));
    EXPECT_EQ(texts, QStringList{QString::fromLatin1(kWrongPassword)});
    EXPECT_FALSE(picture.isNull());
    EXPECT_FALSE(QFile::exists(Path("pain.grv")));
    Save("restore-wrong-password.png");
}

TEST_F(MessageScreenshotTest, DamagedJournalRefusal) {
    QFile fixture(QStringLiteral(GRV_TEST_DATA_DIR "/shell/journal.grv"));
    ASSERT_TRUE(fixture.open(QIODevice::ReadOnly));
    QByteArray damaged = fixture.readAll();
    // The entry table's page (3): its cells point past the page's end.
    damaged.replace(2 * 4096 + 8, 8, QByteArray(8, '\xff'));
    QFile out(Path("pain.grv"));
    ASSERT_TRUE(out.open(QIODevice::WriteOnly));
    ASSERT_EQ(out.write(damaged), damaged.size());
    out.close();

    CGRVDlg win;
    win.resize(kWindowSize);
    win.show();
    WatchBoxes([&] { return &win; });
    files->Queue(Path("pain.grv"));
    ASSERT_TRUE(win.OnCommand(ID_DATABASE_OPEN));
    const QString reason =
        QString::asprintf(kErrCantReadJournal, Path("pain.grv").toUtf8().constData(), kReasonDamaged);
    EXPECT_EQ(texts, QStringList{QString::fromLatin1(kDbOpenFailed).arg(reason)});
    EXPECT_FALSE(picture.isNull());
    Save("damaged-journal.png");
}

// An export typed as the open journal's own name: refused with its reason,
// the journal as it was (Qt's question about replacing an existing file was
// the only word, and the journal became the report).
TEST_F(MessageScreenshotTest, ExportOntoTheOpenJournalRefusal) {
    ASSERT_TRUE(QFile::copy(QStringLiteral(GRV_TEST_DATA_DIR "/shell/journal.grv"), Path("pain.grv")));
    QFile::setPermissions(Path("pain.grv"), QFile::ReadOwner | QFile::WriteOwner);
    const std::string journal = grvtest::ReadFile(Path("pain.grv").toStdString());
    CGRVDlg win;
    files->Queue(Path("pain.grv"));
    ASSERT_TRUE(win.OnCommand(ID_DATABASE_OPEN));
    CGRVDlgReports reports;
    reports.m_pDb = &win.Db();
    reports.resize(kWindowSize);
    reports.show();
    reports.FromPicker()->setDateTime(QDateTime(QDate(2026, 3, 1), QTime(0, 0)));
    reports.ToPicker()->setDateTime(QDateTime(QDate(2026, 3, 31), QTime(0, 0)));
    ASSERT_TRUE(reports.RunReport());
    WatchBoxes([&] { return &reports; });
    files->Queue(Path("pain.grv"));
    reports.OnBnClickedExport();
    EXPECT_EQ(texts, QStringList{QString::fromLatin1(print_texts::kOntoItsJournal).arg(Path("pain.grv"))});
    EXPECT_TRUE(grvtest::ReadFile(Path("pain.grv").toStdString()) == journal);
    Save("export-onto-journal.png");
}

} // namespace
