#include "form/Controls.h"
#include "form/Form.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "support/TextFormat.h"

namespace moirex {
namespace {

TEST(TrackBarTest, ProgramSetPositionIsClampedAndRaisesChange) {
    TTrackBar bar("RzTrackBarY1", 5);
    std::vector<int> seen;
    bar.OnChange = [&](TControl& sender) { seen.push_back(static_cast<TTrackBar&>(sender).Position()); };
    const struct {
        int set;
        int position;
    } cases[] = {{7, 7}, {0, 0}, {10, 10}, {11, 10}, {-1, 0}, {1000, 10}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.set);
        bar.SetPosition(c.set);
        EXPECT_EQ(bar.Position(), c.position);
        ASSERT_FALSE(seen.empty());
        EXPECT_EQ(seen.back(), c.position);  // the handler sees the clamped position
    }
    EXPECT_EQ(seen.size(), std::size(cases));
    EXPECT_EQ(bar.Max(), 10);
    EXPECT_EQ(TTrackBar("t", 42).Position(), 10);
}

TEST(RealEditTest, ValueOutsideTheLimitsIsReplacedByTheNearerLimit) {
    TRealEdit edit("RtDoubleEditFluidFlow", 0.0);
    edit.SetLimits(2.5, 250.0);
    const struct {
        double set;
        double value;
    } cases[] = {{100.0, 100.0}, {2.5, 2.5}, {250.0, 250.0}, {2.4999, 2.5},
                 {250.0001, 250.0}, {-1e9, 2.5}, {HUGE_VAL, 250.0}, {-HUGE_VAL, 2.5}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.set);
        edit.SetValue(c.set);
        EXPECT_EQ(edit.Value(), c.value);
    }
}

TEST(RealEditTest, NewLimitsPullTheCurrentValueInside) {
    TRealEdit edit("RtDoubleEditFluidFlow", 100.0);
    edit.SetLimits(0.0, 40.0);
    EXPECT_EQ(edit.Value(), 40.0);
    edit.SetLimits(50.0, 60.0);
    EXPECT_EQ(edit.Value(), 50.0);
    // Equal limits mean no limits at all.
    edit.SetLimits(0.0, 0.0);
    edit.SetValue(-7.0);
    EXPECT_EQ(edit.Value(), -7.0);
    // Only a lower limit.
    edit.SetLimits(1.0, HUGE_VAL);
    edit.SetValue(1e12);
    EXPECT_EQ(edit.Value(), 1e12);
    edit.SetValue(0.5);
    EXPECT_EQ(edit.Value(), 1.0);
    // Not a number never slips through the limits of a set-point field.
    edit.SetValue(std::nan(""));
    EXPECT_EQ(edit.Value(), 1.0);
}

TEST(RealEditTest, DisplayFormatShapesTheShownText) {
    TRealEdit edit("RtDoubleEditAchievableFluid", 12.345);
    edit.DisplayFormat = "0.00";
    EXPECT_EQ(edit.DisplayText(), FormatMask(12.345, "0.00"));
    edit.DisplayFormat.clear();
    EXPECT_EQ(edit.DisplayText(), FormatGeneral(12.345));
}

// The fluid's computed figures read to six significant digits; the value keeps all of them.
TEST(RealEditTest, DisplayDigitsRoundTheShownTextOnly) {
    TRealEdit edit("E", 2.30761291459203e-6);
    edit.DisplayDigits = 6;
    EXPECT_EQ(edit.DisplayText(), "2.30761E-6");
    EXPECT_EQ(edit.Value(), 2.30761291459203e-6);
    const struct {
        double value;
        const char* shown;
    } cases[] = {{18.01528111, "18.0153"}, {0.9970474111, "0.997047"}, {1.0, "1"}, {0, "0"}, {-123456789, "-123457000"}};
    for (const auto& c : cases) {
        edit.SetValue(c.value);
        EXPECT_EQ(edit.DisplayText(), c.shown) << c.value;
    }
    TForm1 form;
    EXPECT_EQ(form.RtDoubleEditFluidMolarMass.DisplayText(), "18.0153");
}

// Losing the focus ends the entry of a number field: its exit event, once per focus.
TEST(IntegerEditTest, LeavingTheFieldRaisesExit) {
    TIntegerEdit edit("E");
    int exits = 0;
    edit.OnExit = [&](TControl&) { ++exits; };
    edit.SetFocused(false);
    EXPECT_EQ(exits, 0);
    edit.SetFocused(true);
    edit.SetFocused(true);
    edit.SetFocused(false);
    edit.SetFocused(false);
    EXPECT_EQ(exits, 1);
    edit.SetFocused(true);
    edit.SetEnabled(false);
    edit.SetFocused(false);
    EXPECT_EQ(exits, 1);
}

TEST(IntegerEditTest, ValueIsHeldWithinItsLimits) {
    TIntegerEdit edit("RtIntegerEditFluidPPMLimit", 1000000, 0, 1000001);
    edit.SetValue(2000000);
    EXPECT_EQ(edit.Value(), 1000001);
    edit.SetValue(-5);
    EXPECT_EQ(edit.Value(), 0);
    TIntegerEdit free("RtIntegerEditY1Flow");
    free.SetValue(-123456789);
    EXPECT_EQ(free.Value(), -123456789);
}

// Every kind of input event, with a counter behind each.
TEST(ControlEventsTest, DisabledControlsRaiseNoEvents) {
    int events = 0;
    auto notify = [&](TControl&) { ++events; };
    auto key = [&](TControl&, int) { ++events; };

    TButton button("ButtonApply");
    button.OnClick = notify;
    TEdit edit("EditStepComments");
    edit.OnKeyUp = key;
    TIntegerEdit integer("RtIntegerEditY1Flow");
    integer.OnKeyUp = key;
    TRealEdit real("RtDoubleEditStepDuration");
    real.OnKeyUp = key;
    TListBox list("ListBoxPortPump");
    list.AddItem("/dev/ttyUSB0");
    list.OnClick = notify;
    list.OnDblClick = notify;
    list.OnKeyUp = key;
    TComboBox combo("ComboBoxMix1");
    combo.AddItem("gH2O");
    combo.OnChange = notify;

    auto fireAll = [&] {
        button.Click();
        edit.KeyUp(keys::Enter);
        integer.KeyUp(keys::Enter);
        real.KeyUp(keys::Enter);
        list.Click();
        list.DblClick();
        list.KeyUp(keys::Escape);
        combo.Choose(0);
    };
    fireAll();
    EXPECT_EQ(events, 8);

    std::vector<TControl*> all{&button, &edit, &integer, &real, &list, &combo};
    for (TControl* c : all) c->SetEnabled(false);
    events = 0;
    combo.SetItemIndex(-1);
    fireAll();
    EXPECT_EQ(events, 0);
    EXPECT_EQ(combo.ItemIndex(), -1);  // a disabled drop-down takes no choice either
}

// Controls on a disabled page, or in a disabled window, take no input although they are
// enabled themselves; the program's own click still runs.
TEST(ControlEventsTest, DisabledPageOrWindowBlocksTheOperatorButNotTheProgram) {
    TPageControl pages("PageControl1", {"Setup", "Pump && fluid details"});
    bool windowEnabled = true;
    auto gate = [&] { return windowEnabled && pages.PageEnabled(0); };
    int events = 0;
    TListBox ports("ListBoxPortPump");
    ports.AddItem("/dev/ttyUSB0");
    ports.OnClick = [&](TControl&) { ++events; };
    ports.SetInputGate(gate);
    TButton validate("ButtonSetupValidate");
    validate.OnClick = [&](TControl&) { ++events; };
    validate.SetInputGate(gate);

    pages.SetPageEnabled(0, false);
    ports.Click();
    validate.Click();
    EXPECT_EQ(events, 0);
    EXPECT_TRUE(ports.Enabled());
    EXPECT_FALSE(ports.AcceptsInput());

    pages.SetPageEnabled(0, true);
    windowEnabled = false;
    validate.Click();
    EXPECT_EQ(events, 0);
    validate.PerformClick();
    EXPECT_EQ(events, 1);

    windowEnabled = true;
    ports.Click();
    validate.Click();
    EXPECT_EQ(events, 3);
    validate.SetEnabled(false);
    validate.PerformClick();
    EXPECT_EQ(events, 4);
}

TEST(ListBoxTest, SelectionOutsideTheItemsSelectsNone) {
    TListBox list("ListBox1");
    list.AddItem("O2", 2);
    list.AddItem("Ar", 3);
    const struct {
        int index;
        int selected;
        const char* text;
    } cases[] = {{0, 0, "O2"}, {1, 1, "Ar"}, {2, -1, ""}, {-1, -1, ""}, {-2, -1, ""}, {99, -1, ""}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.index);
        list.SetItemIndex(1);
        list.SetItemIndex(c.index);
        EXPECT_EQ(list.ItemIndex(), c.selected);
        EXPECT_EQ(list.SelectedText(), c.text);
    }
    // Replacing or clearing the items leaves no selection behind.
    list.SetItemIndex(1);
    list.SetItems({{"N2", 4}});
    EXPECT_EQ(list.ItemIndex(), -1);
    list.SetItemIndex(0);
    list.Clear();
    EXPECT_EQ(list.ItemIndex(), -1);
    EXPECT_EQ(list.SelectedText(), "");
}

TEST(ComboBoxTest, ChoiceOutsideTheItemsLeavesNoSelectionAndOnlyTheOperatorRaisesChange) {
    TComboBox combo("ComboBoxMix2");
    combo.AddItem("gH2O");
    int changes = 0;
    combo.OnChange = [&](TControl&) { ++changes; };
    combo.SetItemIndex(0);
    EXPECT_EQ(changes, 0);
    combo.Choose(5);
    EXPECT_EQ(combo.ItemIndex(), -1);
    EXPECT_EQ(changes, 1);
}

TEST(MemoTest, TextJoinsLinesWithCRLFAndSplitsAnyLineEnd) {
    const std::string crlf(CRLF);
    TMemo memo("Memo1");
    memo.Add("first");
    memo.Add("");
    memo.Add("third");
    EXPECT_EQ(memo.Text(), "first" + crlf + crlf + "third" + crlf);

    const struct {
        const char* text;
        std::vector<std::string> lines;
    } cases[] = {
        {"a\r\nb\r\n", {"a", "b"}},
        {"a\nb", {"a", "b"}},
        {"a\rb\r", {"a", "b"}},
        {"a\r\n\r\nb", {"a", "", "b"}},
        {"", {}},
        {"\r\n", {""}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        memo.SetText(c.text);
        EXPECT_EQ(memo.Lines(), c.lines);
    }
    // Text written and read back is the same text.
    memo.SetText("x" + crlf + "y" + crlf);
    EXPECT_EQ(memo.Text(), "x" + crlf + "y" + crlf);
}

}  // namespace
}  // namespace moirex
