// One entry printed to PDF at 600 dpi, judged by poppler: pdftotext finds
// the heading, the captions, the detail blocks and the pain levels where the
// regions put them; pdftoppm finds the region outlines; pdfinfo names the
// document after the subject.
#include <gtest/gtest.h>

#include <QFile>
#include <QPrinter>

#include "app/reports/EntryPrintout.h"
#include "app/store/JournalDb.h"
#include "tests/app/reports/print/PrintTestSupport.h"
#include "tests/support/JournalFixture.h"

using namespace printtest;
using namespace entry_print_texts;

namespace {

constexpr int kDpi = 600;
constexpr double kTolerance = 1.0; // points
double Pt(int pixels) {
    return pixels * 72.0 / kDpi;
}
int Px(double inches) {
    return static_cast<int>(inches * kDpi);
}

struct Paper {
    const char* name;
    QPageSize::PageSizeId id;
};

void SaveQuestion(CJournalDb& db, const CEntry& entry, const char* q, const char* a) {
    CEntryQuestions question;
    question.eid = entry.id;
    question.ts = entry.ts;
    question.q = q;
    question.a = a;
    ASSERT_EQ(db.SaveEntryQuestion(question), 1) << db.GetLastErrorText();
}

class EntryPrintoutTest : public ::testing::TestWithParam<Paper>, protected grvtest::Journal {
protected:
    void SetUp() override {
        OpenJournal();
        m_entry.ts = "2026-03-04 09:15:00";
        m_entry.sbj = "Knee 100%d";
        m_entry.entry = "Walked to the shop and back, then rested.";
        m_entry.wpl = 8;
        m_entry.lpl = 3;
        m_entry.apl = 5;
        m_entry.cpl = 6;
        ASSERT_EQ(m_db.SaveEntry(m_entry), 1) << m_db.GetLastErrorText();
    }

    void AddDetails() {
        CEntryMeds meds;
        meds.eid = m_entry.id;
        meds.ts = m_entry.ts;
        meds.mid = 1;
        meds.name = "Ibuprofen";
        meds.dosage = "200mg";
        meds.quantity = 2;
        meds.override = 0;
        meds.desc = "with food";
        ASSERT_EQ(m_db.SaveEntryMeds(meds), 1);
        for (const char* q : {"Does it swell?", "Ice or heat?"})
            SaveQuestion(m_db, m_entry, q, "Ask");
        CEntryMood mood;
        mood.eid = m_entry.id;
        mood.ts = m_entry.ts;
        mood.act = 4, mood.mood = 5, mood.walk = 6, mood.work = 7;
        mood.relat = 2, mood.sleep = 3, mood.life = 1, mood.concn = 9;
        ASSERT_EQ(m_db.SaveEntryMood(mood), 1);
        CEntrySideEff side;
        side.eid = m_entry.id;
        side.ts = m_entry.ts;
        side.mid = 0;
        side.nausea = side.vomit = side.constip = side.appet = side.tired = 1;
        side.itch = side.night = side.sweat = side.think = side.insomn = 2;
        ASSERT_EQ(m_db.SaveEntrySideEff(side), 1);
    }

    QString PrintOn(QPageSize::PageSizeId paper, const QString& name) {
        const QString pdf = TempPath(name + ".pdf");
        QPrinter printer(QPrinter::HighResolution);
        SetUpPdfPrinter(printer, pdf, paper);
        CEntryPrintout printout(&m_db, m_entry, "2026-03-04", "09:15:00");
        EXPECT_EQ(printout.Print(printer), 1);
        return pdf;
    }

    CEntry m_entry;
};

// The outer block and its sections in page pixels (half-inch margins on a
// printer without margins leave the origin at the paper's corner).
constexpr int kOuterTop = 600, kOuterLeft = 450, kOuterBottom = 6000, kOuterRight = 4500;

TEST_P(EntryPrintoutTest, EverythingStandsInItsSection) {
    AddDetails();
    const QString pdf = PrintOn(GetParam().id, QString("entry-%1").arg(GetParam().name));
    EXPECT_EQ(PdfInfo(pdf, "Pages").toInt(), 1);
    EXPECT_EQ(PdfInfo(pdf, "Title"), "Gorvane - Knee 100%d");
    const std::vector<PdfWord> words = PdfWords(pdf, 1);
    const int right = qRound(QPageSize(GetParam().id).sizePoints().width() / 72.0 * kDpi) - 300;

    // Heading: product and subject (printed as written), centred.
    PdfWord product, subject;
    ASSERT_TRUE(FindLine(words, "Gorvane", &product));
    ASSERT_TRUE(FindLine(words, "Knee 100%d", &subject));
    EXPECT_NEAR((product.xMin + product.xMax) / 2, Pt(right) / 2, kTolerance);
    EXPECT_NEAR((subject.xMin + subject.xMax) / 2, Pt(right) / 2, kTolerance);
    EXPECT_NEAR(product.yMin, 0.0, 2.0);
    EXPECT_GT(subject.yMin, product.yMax - 2.0);
    EXPECT_NEAR((product.yMax - product.yMin) / (subject.yMax - subject.yMin), 20.0 / 14.0, 0.05);

    // The outline of the block and the caption's frame, found on the paper.
    const int cropX = 400, cropY = 550;
    const PdfCrop page(pdf, 1, kDpi, cropX, cropY, 4200, 5500);
    ASSERT_FALSE(page.IsNull());
    EXPECT_TRUE(page.DarkNear(2000, kOuterTop));
    EXPECT_TRUE(page.DarkNear(2000, kOuterBottom));
    EXPECT_TRUE(page.DarkNear(kOuterLeft, 3000));
    EXPECT_TRUE(page.DarkNear(kOuterRight, 3000));
    EXPECT_FALSE(page.Dark(kOuterLeft - 10, 3000));
    const int captionLine = page.FirstDarkBelow(700, kOuterTop + 3, 400);
    ASSERT_GT(captionLine, kOuterTop + 20);
    const int content = captionLine + 2; // one below the caption's bottom edge

    PdfWord caption;
    ASSERT_TRUE(FindLine(words, "Entry for the 2026-03-04 entered at 09:15:00", &caption));
    EXPECT_NEAR((caption.xMin + caption.xMax) / 2, Pt(kOuterLeft + kOuterRight) / 2, kTolerance);
    EXPECT_GT(caption.yMin, Pt(kOuterTop));
    EXPECT_LT(caption.yMax, Pt(captionLine));

    // Sections: inches inside the block, right edges cut to the block's.
    struct Expect {
        const char* caption;
        double top, left, bottom, right;
    } sections[] = {{"Journal Entry", 0.25, 0.1, 4.6, 3.4}, {"Medicines Used", 4.7, 0.1, 8.5, 3.4},
                    {"Pain Levels", 0.25, 3.6, 1.7, 6.9},   {"Questions", 1.8, 3.6, 5.6, 6.9},
                    {"Mood", 5.7, 3.6, 8.5, 5.2},           {"Side Effects", 5.7, 5.4, 8.5, 6.9}};
    int textLeft[6] = {};
    int textTop[6] = {};
    for (int s = 0; s < 6; ++s) {
        const Expect& e = sections[s];
        SCOPED_TRACE(e.caption);
        const int top = content + Px(e.top), bottom = content + Px(e.bottom);
        const int left = kOuterLeft + 1 + Px(e.left);
        const int rightEdge = std::min(kOuterLeft + 1 + Px(e.right), kOuterRight);
        const int mid = (left + rightEdge) / 2;
        EXPECT_TRUE(page.DarkNear(left + 30, top));
        EXPECT_TRUE(page.DarkNear(left + 30, bottom));
        EXPECT_TRUE(page.DarkNear(left, (top + bottom) / 2));
        EXPECT_TRUE(page.DarkNear(rightEdge, (top + bottom) / 2));
        const int sectionCaption = page.FirstDarkBelow(left + 30, top + 3, 400);
        ASSERT_GT(sectionCaption, top + 20);
        PdfWord w;
        ASSERT_TRUE(FindLine(words, e.caption, &w, Pt(content)));
        EXPECT_NEAR((w.xMin + w.xMax) / 2, Pt(mid), kTolerance);
        EXPECT_GT(w.yMin, Pt(top));
        EXPECT_LT(w.yMax, Pt(sectionCaption));
        textLeft[s] = left + 1 + Px(0.1);
        textTop[s] = sectionCaption + 2 + Px(0.1);
    }

    // Contents: 0.1 inch into each section, below its caption.
    auto expectAt = [&](const QString& line, int s, double minY = -1e9) {
        PdfWord w;
        EXPECT_TRUE(FindLine(words, line, &w, minY)) << line.toStdString();
        EXPECT_NEAR(w.xMin, Pt(textLeft[s]), kTolerance) << line.toStdString();
        return w;
    };
    const PdfWord journal = expectAt("Walked to the shop and back, then rested.", 0);
    EXPECT_NEAR(journal.yMin, Pt(textTop[0]), 2.0);
    const PdfWord med = expectAt("Ibuprofen (2) 200mg - 0", 1);
    EXPECT_NEAR(med.yMin, Pt(textTop[1]), 2.0);
    expectAt("with food", 1);

    const PdfWord note = expectAt("*Average pain level is overall.", 2);
    EXPECT_NEAR(note.yMin, Pt(textTop[2]), 2.0);
    double y = note.yMin;
    const std::pair<const char*, const char*> levels[] = {
        {kWorst, "8"}, {kLeast, "3"}, {kAverage, "5"}, {kCurrent, "6"}};
    for (const auto& [label, value] : levels) {
        const PdfWord w = expectAt(label, 2, y + 1);
        EXPECT_NEAR(w.yMin - y, note.yMax - note.yMin, 1.5) << label; // the next line
        PdfWord v;
        EXPECT_TRUE(FindLine(words, value, &v, w.yMin - 0.5)) << label;
        EXPECT_NEAR(v.yMin, w.yMin, 0.5) << label;
        EXPECT_GT(v.xMin, w.xMax) << label;
        y = w.yMin;
    }

    // The question block: its introduction, then each question on its own line.
    const PdfWord intro = expectAt("Items to ask your Doctor/Practitioner.", 3);
    EXPECT_NEAR(intro.yMin, Pt(textTop[3]), 2.0);
    PdfWord q1, q2;
    ASSERT_TRUE(FindLine(words, "Q:Does it swell?", &q1));
    ASSERT_TRUE(FindLine(words, "Q:Ice or heat?", &q2));
    EXPECT_NEAR(q1.yMin - intro.yMin, intro.yMax - intro.yMin, 1.5);
    EXPECT_GT(q2.yMin, q1.yMax);
    EXPECT_GT(q1.xMin, Pt(textLeft[3]));
    EXPECT_LT(q1.xMin, Pt(textLeft[3]) + 30);

    // Mood and side effects: word-wrapped within their narrow sections.
    EXPECT_NEAR(expectAt("How does the Pain", 4).yMin, Pt(textTop[4]), 2.0);
    expectAt("Concentration:", 4);
    expectAt("Appetite:", 5);
    expectAt("Vomitting:", 5);
}

INSTANTIATE_TEST_SUITE_P(Papers, EntryPrintoutTest,
                         ::testing::Values(Paper{"A4", QPageSize::A4}, Paper{"Letter", QPageSize::Letter}),
                         [](const auto& info) { return std::string(info.param.name); });

class EntryPrintoutPaperTest : public EntryPrintoutTest {};

// Paper too small for the block keeps the heading; larger paper holds it.
TEST_P(EntryPrintoutPaperTest, AnyPaperSizePrintsWithoutFault) {
    const struct {
        QPageSize::PageSizeId id;
        const char* name;
        bool block;
    } papers[] = {{QPageSize::A6, "A6", false},
                  {QPageSize::A5, "A5", false},
                  {QPageSize::Legal, "Legal", true},
                  {QPageSize::Tabloid, "Tabloid", true}};
    for (const auto& p : papers) {
        SCOPED_TRACE(p.name);
        const QString pdf = PrintOn(p.id, QString("paper-%1").arg(p.name));
        EXPECT_EQ(PdfInfo(pdf, "Pages").toInt(), 1);
        const std::vector<PdfWord> words = PdfWords(pdf, 1);
        PdfWord w;
        EXPECT_TRUE(FindLine(words, "Knee 100%d", &w));
        EXPECT_EQ(FindLine(words, "Journal Entry", &w), p.block);
        EXPECT_EQ(FindLine(words, "Entry for the 2026-03-04 entered at 09:15:00", &w), p.block);
    }
}

INSTANTIATE_TEST_SUITE_P(Sizes, EntryPrintoutPaperTest, ::testing::Values(Paper{"any", QPageSize::A4}),
                         [](const auto& info) { return std::string(info.param.name); });

// The question block's lines are judged on the printed page above.
TEST(EntryPrintoutName, SubjectWrittenInCp1252NamesTheDocumentAsItReads) {
    CEntry entry;
    entry.sbj = "Caf\xe9 %s";
    EXPECT_EQ(CEntryPrintout(nullptr, entry, "", "").DocumentName(), QString::fromUtf8("Gorvane - Caf\xc3\xa9 %s"));
}

} // namespace
