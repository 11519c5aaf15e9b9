// Print regions: placing them on the page, sub-regions, borders and
// captions, and regions that do not fit (the entry sheet on small paper is
// judged on its PDF in EntryPrintoutTest).
#include <gtest/gtest.h>

#include "PrintTestSupport.h"
#include "app/reports/print/Page.h"
#include "app/reports/print/PrintRegion.h"

using namespace printtest;

namespace {

TEST(PrintRegionCreate, PlacedCutAndFilled) {
    RecordedPage p; // page 4800 x 6300 units
    CPrintRegion* r = p.page.CreateRegion(600, 450, 6300, 4800, print::kFillGray);
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(r->m_nTop, 600);
    EXPECT_EQ(r->m_nLeft, 450);
    EXPECT_EQ(r->m_nContentRow, 601);
    EXPECT_EQ(r->m_nContentColumn, 451);
    const Call fill = CallsOf(p.calls, Call::Fill).at(0);
    EXPECT_EQ(fill.state.fillCode, print::kFillGray);
    EXPECT_EQ(Area(fill.state), (Sides{450, 600, 4800, 6300}));
    EXPECT_EQ(p.page.State().fillCode, 0);

    // Within the page but past a margin: cut to the margin.
    p.page.SetRightMargin(4000);
    p.page.SetBottomMargin(5000);
    CPrintRegion* cut = p.page.CreateRegion(100, 100, 6000, 4500, 0);
    ASSERT_NE(cut, nullptr);
    EXPECT_EQ(cut->m_nRight, 4000);
    EXPECT_EQ(cut->m_nBottom, 5000);
}

TEST(PrintRegionCreate, RegionsThatDoNotFitAreNotMade) {
    RecordedPage p;
    const struct {
        const char* name;
        int top, left, bottom, right;
    } cases[] = {
        {"above the page", -1, 0, 100, 100},      {"left of the page", 0, -5, 100, 100},
        {"wider than the page", 0, 0, 100, 4801}, {"taller than the page", 0, 0, 6301, 100},
        {"upside down", 500, 0, 400, 100},        {"empty", 500, 100, 500, 200},
    };
    for (const auto& c : cases)
        EXPECT_EQ(p.page.CreateRegion(c.top, c.left, c.bottom, c.right, 0), nullptr) << c.name;
    // Wholly below a bottom margin: nothing would be left after the cut.
    p.page.SetBottomMargin(3000);
    EXPECT_EQ(p.page.CreateRegion(4000, 0, 5000, 100, 0), nullptr);
    EXPECT_TRUE(CallsOf(p.calls, Call::Fill).empty());
}

TEST(PrintRegionCreate, SubRegionsFollowTheirParent) {
    RecordedPage p;
    EXPECT_EQ(p.page.CreateSubRegion(nullptr, 0, 0, 10, 10, 0), nullptr);
    CPrintRegion* parent = p.page.CreateRegion(1.0, 0.75, 10.0, 7.5, print::kFillLightGray);
    ASSERT_NE(parent, nullptr);
    parent->m_nContentRow = 800; // as if below a caption
    CPrintRegion* a = p.page.CreateRegionScaled(parent, 0.25, 0.1, 4.6, 3.4, 0);
    CPrintRegion* b = p.page.CreateRegionScaled(parent, 4.7, 0.1, 8.5, 3.4, print::kFillBlack);
    ASSERT_NE(a, nullptr);
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(a->m_nTop, 800 + 150);
    EXPECT_EQ(a->m_nLeft, 451 + 60);
    EXPECT_EQ(a->m_nFill, print::kFillLightGray); // fill 0 takes the parent's
    EXPECT_EQ(b->m_nFill, print::kFillBlack);
    EXPECT_NEAR(b->m_nTop - a->m_nBottom, 60, 1); // 0.1 inch apart
    // Cut to the parent's right and bottom; beyond them nothing is made.
    CPrintRegion* wide = p.page.CreateSubRegion(parent, 0, 0, 100, 9000, 0);
    ASSERT_NE(wide, nullptr);
    EXPECT_EQ(wide->m_nRight, parent->m_nRight);
    EXPECT_EQ(p.page.CreateSubRegion(parent, 5300, 0, 9000, 100, 0), nullptr);
}

TEST(PrintRegionTitle, FramedCaptionIsMeasuredTextPlusTen) {
    RecordedPage p;
    CPrintRegion* r = p.page.CreateRegion(600, 450, 6000, 4500, 0);
    ASSERT_NE(r, nullptr);
    r->SetTitle("Entry for the 2026-12-06 entered at 10:00:00", 10, 0x91, 0);
    const Call measured = CallsOf(p.calls, Call::Measure).at(0);
    const Call drawn = p.Outputs().at(0);
    const int captionBottom = measured.state.lastRect.bottom + 10;
    EXPECT_EQ(drawn.state.flags, 0x91 | 0x200 | 0x800);
    EXPECT_EQ(Area(drawn.state), (Sides{450, 600, 4500, captionBottom}));
    EXPECT_EQ(drawn.factor, 1.0);
    EXPECT_EQ(r->m_nContentRow, captionBottom + 1);
    EXPECT_GT(captionBottom, 600 + 10);
    EXPECT_EQ(p.page.State().flags, print::kDefaultFlags);
    EXPECT_EQ(p.page.SavedStates(), 0u);
}

TEST(PrintRegionTitle, PlainCaptionIsTwoLinesHigh) {
    RecordedPage p;
    CPrintRegion* r = p.page.CreateRegion(600, 450, 6000, 4500, 0);
    ASSERT_NE(r, nullptr);
    r->SetTitle("Mood", 12, 0x1, print::kFillBlack);
    EXPECT_TRUE(CallsOf(p.calls, Call::Measure).empty());
    EXPECT_EQ(p.Outputs().at(0).state.bottom, 600 + 200); // 2 x 12 / 72 inches
    EXPECT_EQ(p.Outputs().at(0).state.fillCode, print::kFillBlack);
    EXPECT_EQ(r->m_nContentRow, 801);
}

TEST(PrintRegionBorder, BoxOverTheOuterRectangle) {
    RecordedPage p;
    CPrintRegion* r = p.page.CreateRegion(600, 450, 6000, 4500, 0);
    ASSERT_NE(r, nullptr);
    r->DrawBorder();
    const Call box = CallsOf(p.calls, Call::Box).at(0);
    EXPECT_EQ(box.penWidth, 1);
    EXPECT_EQ(Area(box.state), (Sides{450, 600, 4500, 6000}));
    EXPECT_EQ(box.state.fillCode, 0);
}

} // namespace
