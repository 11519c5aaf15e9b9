#include <gtest/gtest.h>

#include <QComboBox>
#include <QLineEdit>
#include <QSlider>
#include <QTest>
#include <memory>

#include "app/shell/DetailResource.h"
#include "app/shell/DlgControls.h"

using namespace grv;

namespace {

std::unique_ptr<QComboBox> Combo(std::initializer_list<const char*> texts, bool editable = false) {
    auto combo = std::make_unique<QComboBox>();
    combo->setEditable(editable);
    for (const char* t : texts)
        combo->addItem(QString::fromLatin1(t));
    return combo;
}

TEST(DlgControls, SortedComboOrdersWithoutRegardToCaseAndKeepsItemData) {
    QComboBox combo;
    int data = 10;
    for (const char* t : {"walk", "Walking", "apple", "Banana", "Apple", "1 plan"})
        AddSortedString(&combo, QString::fromLatin1(t), data++);
    QStringList items;
    for (int i = 0; i < combo.count(); ++i)
        items << combo.itemText(i);
    // Equal texts keep the order they came in.
    EXPECT_EQ(items, (QStringList{"1 plan", "apple", "Apple", "Banana", "walk", "Walking"}));
    EXPECT_EQ(combo.itemData(combo.findText("Walking")).toInt(), 11);
    EXPECT_EQ(combo.itemData(combo.findText("1 plan")).toInt(), 15);
    AddSortedString(&combo, QStringLiteral("no data"));
    EXPECT_FALSE(combo.itemData(combo.findText("no data")).isValid());
}

TEST(DlgControls, PrefixSearchStartsAfterTheStartAndWrapsAround) {
    auto combo = Combo({"Walk", "Walking", "swim", "Walkabout"});
    struct Case {
        int start;
        const char* text;
        int prefix;
        int exact;
    } cases[] = {
        {0, "walk", 1, 0},  // item 0 is looked at last
        {-1, "walk", 0, 0}, // from the top
        {1, "WALK", 3, 0},  // after item 1, then wrapping
        {3, "walk", 0, 0},  // from the last item round to the top
        {0, "sw", 2, -1},   {0, "Walkabout", 3, 3},
        {0, "run", -1, -1}, {0, "", 1, -1}, // every text begins with the empty one
        {7, "swim", 2, 2},                  // a start beyond the list looks from the top
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.text) + " after " + std::to_string(c.start));
        EXPECT_EQ(FindStringPrefix(combo.get(), c.start, QString::fromLatin1(c.text)), c.prefix);
        EXPECT_EQ(FindStringExact(combo.get(), c.start, QString::fromLatin1(c.text)), c.exact);
    }
    QComboBox empty;
    EXPECT_EQ(FindStringPrefix(&empty, 0, QStringLiteral("a")), -1);
}

TEST(DlgControls, SettingAComboFromTextPrefersTheExactItem) {
    auto combo = Combo({"Walk", "Walking", "Aspirin (100 mg) Tablet", "Aspirin (100 mg) Tablet Extra"});
    struct Case {
        const char* text;
        int selected;
    } cases[] = {
        {"Walk", 0}, // a prefix search from item 0 would take "Walking"
        {"walking", 1},
        {"Wa", 1}, // no exact item: the combo's own prefix search
        {"Aspirin (100 mg) Tablet", 2},
        {"aspirin (100 mg) tablet extra", 3},
        {"Run", -1},
        {"", -1}, // nothing stored selects nothing
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        combo->setCurrentIndex(0);
        EXPECT_EQ(SelectComboText(combo.get(), QString::fromLatin1(c.text)), c.selected);
        EXPECT_EQ(combo->currentIndex(), c.selected);
    }
}

TEST(DlgControls, EditableComboKeepsAnUnlistedTextInItsEdit) {
    auto combo = Combo({"Walk", "Swim"}, true);
    EXPECT_EQ(SelectComboText(combo.get(), QStringLiteral("Cycling")), -1);
    EXPECT_EQ(combo->currentIndex(), -1);
    EXPECT_EQ(combo->currentText(), "Cycling");
    EXPECT_EQ(SelectComboText(combo.get(), QStringLiteral("swim")), 1);
    EXPECT_EQ(combo->currentText(), "Swim");
}

TEST(DlgControls, ComboDataSelection) {
    QComboBox combo;
    AddSortedString(&combo, QStringLiteral("b"), 7);
    AddSortedString(&combo, QStringLiteral("a"), 9);
    EXPECT_EQ(SelectComboData(&combo, 7), 1);
    EXPECT_EQ(SelectedComboData(&combo), 7);
    EXPECT_EQ(SelectComboData(&combo, 0), -1);
    EXPECT_EQ(SelectedComboData(&combo), -1);
}

TEST(DlgControls, DigitEditsTakeDigitsOnlyUpToTheirLimit) {
    struct Case {
        int maxLength;
        bool sign;
        const char* typed;
        const char* shown;
    } cases[] = {
        {0, false, "1a2-3 4", "1234"}, {2, false, "123", "12"}, {0, false, "-4", "4"},
        {0, true, "-4", "-4"},         {0, true, "4-", "4"},    {3, true, "-123", "-12"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.typed);
        QLineEdit edit;
        MakeDigitEdit(&edit, c.maxLength, c.sign);
        QTest::keyClicks(&edit, QString::fromLatin1(c.typed));
        EXPECT_EQ(edit.text(), QString::fromLatin1(c.shown));
    }
    // What the program writes is shown as it is.
    QLineEdit edit;
    MakeDigitEdit(&edit);
    edit.setText(QStringLiteral("-4"));
    EXPECT_EQ(edit.text(), "-4");
}

TEST(DlgControls, OnlyTheUsersSliderMovesRunTheScrollHandler) {
    QWidget owner;
    QSlider* slider = MakeScaleSlider(&owner, -10, 10, IDC_ACT_PAIN_SLIDER);
    EXPECT_EQ(slider->objectName(), ControlName(IDC_ACT_PAIN_SLIDER));
    EXPECT_EQ(slider->value(), 0);
    std::vector<int> seen;
    OnUserScroll(slider, &owner, [&seen](QSlider* s) { seen.push_back(s->sliderPosition()); });

    slider->setValue(5); // the program
    EXPECT_TRUE(seen.empty());
    QTest::keyClick(slider, Qt::Key_Right); // keyboard
    slider->setSliderPosition(-3);          // a drag
    EXPECT_EQ(slider->value(), -3);
    QTest::keyClick(slider, Qt::Key_Home);
    EXPECT_EQ(seen, (std::vector<int>{6, -3, -10}));
}

} // namespace
