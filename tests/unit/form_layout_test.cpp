// The layout arithmetic of the program's windows: scaling from 96 DPI and
// making room for texts wider than their controls.
#include "tools/form_layout.h"

#include <gtest/gtest.h>

#include <string>

namespace tolmar::layout {

void PrintTo(const Rect& r, std::ostream* os) { *os << r.x << "," << r.y << " " << r.w << "x" << r.h; }
void PrintTo(const Size& s, std::ostream* os) { *os << s.w << "x" << s.h; }

namespace {

TEST(FormLayout, ScalesValuesRoundingToTheNearestPixel) {
    struct Case {
        int value, dpi, expected;
    };
    const Case cases[] = {
        {183, 96, 183},  {183, 144, 275},                 // 274.5 rounds up
        {107, 144, 161}, {13, 120, 16},                   // 16.25
        {56, 120, 70},   {21, 144, 32},                   // 31.5
        {0, 192, 0},     {386, 192, 772}, {-5, 144, -8},  // halves away from zero, as MulDiv
        {73, 72, 55},                                     // below 96 DPI too
    };
    for (const Case& c : cases) EXPECT_EQ(Scale(c.value, c.dpi), c.expected) << c.value << " at " << c.dpi;
}

TEST(FormLayout, ScalesEdgesSoThatNeighboursStillTouch) {
    // The progress window's text panel and status panel meet at 73.
    const Rect text{0, 0, 73, 89}, status{73, 0, 110, 89};
    for (const int dpi : {96, 120, 144, 168, 192}) {
        const Rect a = Scale(text, dpi), b = Scale(status, dpi);
        EXPECT_EQ(a.right(), b.x) << dpi;
        EXPECT_EQ(b.right(), Scale(183, dpi)) << dpi;
        EXPECT_EQ(a.bottom(), Scale(89, dpi)) << dpi;
    }
    EXPECT_EQ(Scale(Rect{5, 3, 63, 83}, 144), (Rect{8, 5, 94, 124}));  // 7.5, 4.5, 102, 129
    EXPECT_EQ(Scale(Size{386, 434}, 144), (Size{579, 651}));
}

// A small form: two labels in a column with a field beside each, a button
// right of the fields, a group box across all of it and a button under it.
constexpr int kLabelA = 1, kLabelB = 2, kFieldA = 3, kFieldB = 4, kButton = 5, kGroup = 6, kBottom = 7;
Form SmallForm(int labelAText, int labelBText, int buttonText = 60) {
    return {{300, 200},
            {
                {kLabelA, {10, 10, 50, 13}, labelAText},
                {kLabelB, {10, 40, 50, 13}, labelBText},
                {kFieldA, {64, 8, 150, 21}, 0},
                {kFieldB, {64, 38, 150, 21}, 0},
                {kButton, {220, 8, 70, 25}, buttonText, true},
                {kGroup, {4, 0, 292, 70}, 0},
                {kBottom, {10, 170, 70, 25}, 40, true},  // reaches across the labels' edge
            }};
}

TEST(FormLayout, MakesRoomForTextsWiderThanTheirControls) {
    struct Case {
        const char* what;
        Form form;
        Size client;
        Rect labelA, labelB, fieldA, fieldB, button, group, bottom;
    };
    const Rect labelA{10, 10, 50, 13}, labelB{10, 40, 50, 13}, fieldA{64, 8, 150, 21}, fieldB{64, 38, 150, 21},
        button{220, 8, 70, 25}, group{4, 0, 292, 70}, bottom{10, 170, 70, 25};
    // One case a row.
    // clang-format off
    const Case cases[] = {
        {"every text fits: nothing moves", SmallForm(50, 30), {300, 200}, labelA, labelB, fieldA, fieldB, button,
         group, bottom},
        {"one label 9 too wide: its column widens, the fields and the button move, the group and the window widen",
         SmallForm(40, 59), {309, 200}, {10, 10, 59, 13}, {10, 40, 59, 13}, {73, 8, 150, 21}, {73, 38, 150, 21},
         {229, 8, 70, 25}, {4, 0, 301, 70}, bottom},
        {"both labels too wide: the wider one decides", SmallForm(57, 62), {312, 200}, {10, 10, 62, 13},
         {10, 40, 62, 13}, {76, 8, 150, 21}, {76, 38, 150, 21}, {232, 8, 70, 25}, {4, 0, 304, 70}, bottom},
        {"a label and the button too wide: each makes its own room", SmallForm(55, 0, 80), {315, 200},
         {10, 10, 55, 13}, {10, 40, 55, 13}, {69, 8, 150, 21}, {69, 38, 150, 21}, {225, 8, 80, 25}, {4, 0, 307, 70},
         bottom},
    };
    // clang-format on
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const Form out = MakeRoom(c.form);
        EXPECT_EQ(out.client, c.client);
        EXPECT_EQ(Find(out, kLabelA)->rect, c.labelA);
        EXPECT_EQ(Find(out, kLabelB)->rect, c.labelB);
        EXPECT_EQ(Find(out, kFieldA)->rect, c.fieldA);
        EXPECT_EQ(Find(out, kFieldB)->rect, c.fieldB);
        EXPECT_EQ(Find(out, kButton)->rect, c.button);
        EXPECT_EQ(Find(out, kGroup)->rect, c.group);
        EXPECT_EQ(Find(out, kBottom)->rect, c.bottom);
        for (const Item& item : out.items) EXPECT_GE(item.rect.w, item.textWidth) << "item " << item.id;
    }
}

TEST(FormLayout, TwoColumnsOfLabelsKeepTheirFieldsInOneColumn) {
    // As the test form: labels at the top (16..76) and in the group below
    // (24..80), all fields at 80.
    Form form{{386, 200},
              {
                  {1, {16, 19, 60, 13}, 77},  // "Last msg:" 17 too wide
                  {2, {80, 16, 201, 21}, 0},
                  {3, {24, 103, 56, 13}, 91},  // "Alla fnamn:" 35 too wide
                  {4, {80, 100, 289, 21}, 0},
                  {5, {8, 80, 369, 100}, 0},  // the group box
              }};
    const Form out = MakeRoom(form);
    EXPECT_EQ(Find(out, 1)->rect, (Rect{16, 19, 77, 13}));
    EXPECT_EQ(Find(out, 3)->rect, (Rect{24, 103, 91, 13}));
    EXPECT_EQ(Find(out, 2)->rect.x, Find(out, 4)->rect.x) << "the fields stay aligned";
    EXPECT_EQ(Find(out, 4)->rect.x, 24 + 91 + 0);
    EXPECT_EQ(Find(out, 5)->rect, (Rect{8, 80, 369 + 35, 100}));
    EXPECT_EQ(out.client, (Size{386 + 35, 200}));
}

TEST(FormLayout, AWrappingTextTakesTheLinesItNeedsFromTheControlUnderIt) {
    struct Case {
        int textHeight;
        Rect text, under;
    };
    // As the progress window's status text over its animation.
    const Case cases[] = {
        {13, {74, 1, 108, 13}, {74, 14, 108, 74}},  // one line: nothing moves
        {0, {74, 1, 108, 13}, {74, 14, 108, 74}},   // not measured
        {26, {74, 1, 108, 26}, {74, 27, 108, 61}},  // two lines
        {200, {74, 1, 108, 87}, {74, 88, 108, 0}},  // never more than the control under it has
    };
    for (const Case& c : cases) {
        Form form{{183, 107},
                  {{1, {74, 1, 108, 13}, 0, false, 2, c.textHeight}, {2, {74, 14, 108, 74}}, {3, {0, 89, 183, 18}}}};
        const Form out = MakeRoom(form);
        EXPECT_EQ(Find(out, 1)->rect, c.text) << c.textHeight;
        EXPECT_EQ(Find(out, 2)->rect, c.under) << c.textHeight;
        EXPECT_EQ(Find(out, 3)->rect, (Rect{0, 89, 183, 18})) << c.textHeight;
        EXPECT_EQ(out.client, (Size{183, 107})) << c.textHeight;
    }
}

// The progress window's searching text in its panel: a text that needs more
// lines than the panel shows grows the window down, the panels beside it
// with it, and the progress bar under them moves down.
TEST(FormLayout, ATextThatGrowsDownGrowsTheFormAndWhatReachesAcross) {
    struct Case {
        int textHeight;
        Rect text, panel, status, bar;
        Size client;
    } cases[] = {
        {78, {5, 3, 63, 83}, {0, 0, 73, 89}, {73, 0, 110, 89}, {0, 89, 183, 18}, {183, 107}},   // fits
        {0, {5, 3, 63, 83}, {0, 0, 73, 89}, {73, 0, 110, 89}, {0, 89, 183, 18}, {183, 107}},    // not measured
        {104, {5, 3, 63, 104}, {0, 0, 73, 110}, {73, 0, 110, 110}, {0, 110, 183, 18}, {183, 128}},
    };
    for (const Case& c : cases) {
        Item text{1, {5, 3, 63, 83}, 0, false, 0, c.textHeight, true};
        const Form form{{183, 107}, {text, {2, {0, 0, 73, 89}}, {3, {73, 0, 110, 89}}, {4, {0, 89, 183, 18}}}};
        const Form out = MakeRoom(form);
        EXPECT_EQ(Find(out, 1)->rect, c.text) << c.textHeight;
        EXPECT_EQ(Find(out, 2)->rect, c.panel) << c.textHeight;
        EXPECT_EQ(Find(out, 3)->rect, c.status) << c.textHeight;
        EXPECT_EQ(Find(out, 4)->rect, c.bar) << c.textHeight;
        EXPECT_EQ(out.client, c.client) << c.textHeight;
    }
}

TEST(FormLayout, ScalingAFormScalesEveryPlaceAndKeepsTheMeasuredWidths) {
    const Form out = Scale(SmallForm(40, 59), 144);
    EXPECT_EQ(out.client, (Size{450, 300}));
    EXPECT_EQ(Find(out, kLabelB)->rect, (Rect{15, 60, 75, 20}));
    EXPECT_EQ(Find(out, kLabelB)->textWidth, 59);
    EXPECT_EQ(Find(out, 99), nullptr);
}

}  // namespace
}  // namespace tolmar::layout
