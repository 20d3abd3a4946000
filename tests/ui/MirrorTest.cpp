// Every control kind mirrored both ways: operator input on the widget raises the control's event
// with the control already holding the new value; a change made by the logic shows in the widget.

#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSlider>
#include <QTreeWidget>
#include <string>
#include <vector>

#include "WindowFixture.h"
#include "ui/LedDisplay.h"
#include "ui/Mirror.h"

namespace moirex::testing_ui {
namespace {

TEST_F(WindowTest, ButtonClickRaisesTheClickAndFollowsCaptionAndEnabled) {
    int clicks = 0;
    form.ButtonSetupValidate.OnClick = [&](TControl&) { ++clicks; };
    auto* button = W<QPushButton>(form.ButtonSetupValidate);
    QTest::mouseClick(button, Qt::LeftButton);
    EXPECT_EQ(clicks, 1);

    form.ButtonSetupValidate.SetCaption("Validate && go");
    EXPECT_EQ(button->text(), "Validate && go");  // a push button shows "&&" as "&"
    form.ButtonSetupValidate.SetEnabled(false);
    EXPECT_FALSE(button->isEnabled());
    QTest::mouseClick(button, Qt::LeftButton);
    EXPECT_EQ(clicks, 1);
}

TEST_F(WindowTest, CaptionsShowADoubledAmpersandAsOne) {
    auto* tabs = window->PageControl1();
    EXPECT_EQ(tabs->tabText(1), "Pump && fluid details");
    EXPECT_EQ(ui::ShownCaption("Pump && fluid details"), "Pump & fluid details");
    EXPECT_EQ(ui::ShownCaption("&File"), "File");
    form.Label30.SetCaption("A && B");
    EXPECT_EQ(W<QLabel>(form.Label30)->text(), "A & B");
    form.GroupBoxY1.SetCaption("A-Component: Air");
    EXPECT_EQ(W<QGroupBox>(form.GroupBoxY1)->title(), "A-Component: Air");
}

TEST_F(WindowTest, CheckBoxTickedByHandAndByTheLogic) {
    auto* box = W<QCheckBox>(form.CheckBoxPump);
    QTest::mouseClick(box, Qt::LeftButton, {}, QPoint(5, box->height() / 2));
    EXPECT_TRUE(form.CheckBoxPump.Checked());
    form.CheckBoxPump.SetChecked(false);
    EXPECT_FALSE(box->isChecked());
}

TEST_F(WindowTest, TextFieldsTakeTypedTextBeforeTheKeyRelease) {
    ShowPage(3);
    struct Seen {
        std::string text;
        int key = -1;
    } seen;
    form.EditStepComments.OnKeyUp = [&](TControl& c, int key) {
        seen = {static_cast<TEdit&>(c).Text(), key};
    };
    auto* edit = W<QLineEdit>(form.EditStepComments);
    edit->setFocus();
    QTest::keyClicks(edit, "dry");
    EXPECT_EQ(form.EditStepComments.Text(), "dry");
    EXPECT_EQ(seen.text, "dry");
    EXPECT_EQ(seen.key, 'Y');
    QTest::keyClick(edit, Qt::Key_Escape);
    EXPECT_EQ(seen.key, keys::Escape);

    form.EditStepComments.SetText("from the logic");
    EXPECT_EQ(edit->text(), "from the logic");
}

TEST_F(WindowTest, NumberFieldsParseTypedValuesAndShowTheLogicsValue) {
    ShowPage(3);
    int64_t seenInt = -1;
    form.RtIntegerEditY1Flow.OnKeyUp = [&](TControl& c, int) { seenInt = static_cast<TIntegerEdit&>(c).Value(); };
    auto* flow = W<QLineEdit>(form.RtIntegerEditY1Flow);
    flow->setFocus();
    EXPECT_TRUE(form.RtIntegerEditY1Flow.Focused());
    flow->selectAll();
    QTest::keyClicks(flow, "151250");
    EXPECT_EQ(form.RtIntegerEditY1Flow.Value(), 151250);
    EXPECT_EQ(seenInt, 151250);
    // A corrected value written by the key-release handler shows at once.
    form.RtIntegerEditY1Flow.SetValue(150000);
    EXPECT_EQ(flow->text(), "150000");

    // A real field with limits: the typed value is held within them, and the field shows the held
    // value at once, never a text that is not its value; text that is no number is refused.
    form.RtDoubleEditFluidFlow.SetLimits(10, 500);
    auto* fluid = W<QLineEdit>(form.RtDoubleEditFluidFlow);
    fluid->setFocus();
    fluid->selectAll();
    QTest::keyClicks(fluid, "2.5e2");
    EXPECT_DOUBLE_EQ(form.RtDoubleEditFluidFlow.Value(), 250);
    EXPECT_EQ(fluid->text(), "2.5e2");  // no echo while typing
    fluid->selectAll();
    QTest::keyClicks(fluid, "2.5e3");
    EXPECT_DOUBLE_EQ(form.RtDoubleEditFluidFlow.Value(), 500);
    EXPECT_EQ(fluid->text(), "500");
    QTest::keyClick(fluid, Qt::Key_Return);
    EXPECT_EQ(fluid->text(), "500");
    fluid->selectAll();
    QTest::keyClicks(fluid, "abc");
    EXPECT_EQ(fluid->text(), "500");
    EXPECT_DOUBLE_EQ(form.RtDoubleEditFluidFlow.Value(), 500);
    flow->setFocus();
    EXPECT_FALSE(form.RtDoubleEditFluidFlow.Focused());
    EXPECT_EQ(fluid->text(), "500");

    // A display format is kept by the widget.
    form.RtDoubleEditAchievableFluid.SetValue(12.345);
    EXPECT_EQ(W<QLineEdit>(form.RtDoubleEditAchievableFluid)->text(), "12.35");
}

TEST_F(WindowTest, DisplayOnlyFieldsRaiseNoKeyRelease) {
    ShowPage(1);
    int keyUps = 0;
    form.RtDoubleEditFluidDensity.OnKeyUp = [&](TControl&, int) { ++keyUps; };
    auto* density = W<QLineEdit>(form.RtDoubleEditFluidDensity);
    EXPECT_FALSE(density->isEnabled());
    QTest::keyClicks(density, "5");
    EXPECT_EQ(keyUps, 0);
    EXPECT_DOUBLE_EQ(form.RtDoubleEditFluidDensity.Value(), 0.9970474111);
}

TEST_F(WindowTest, ListSelectionClickDoubleClickAndKeys) {
    form.ListBoxPortPump.SetItems({{"/dev/ttyUSB0", 0}, {"/dev/ttyUSB1", 0}, {"/dev/ttyUSB2", 0}});
    auto* list = W<QListWidget>(form.ListBoxPortPump);
    ASSERT_EQ(list->count(), 3);
    std::vector<std::string> events;
    form.ListBoxPortPump.OnClick = [&](TControl& c) {
        events.push_back("click " + static_cast<TListBox&>(c).SelectedText());
    };
    form.ListBoxPortPump.OnDblClick = [&](TControl&) { events.push_back("double"); };
    form.ListBoxPortPump.OnKeyUp = [&](TControl&, int key) { events.push_back("key " + std::to_string(key)); };

    const QPoint second = list->visualItemRect(list->item(1)).center();
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, second);
    EXPECT_EQ(form.ListBoxPortPump.ItemIndex(), 1);
    QTest::mouseDClick(list->viewport(), Qt::LeftButton, {}, second);
    QTest::keyClick(list, Qt::Key_Down);
    EXPECT_EQ(form.ListBoxPortPump.ItemIndex(), 2);
    const std::vector<std::string> expected{"click /dev/ttyUSB1", "double", "click /dev/ttyUSB2",
                                            "key 40"};
    EXPECT_EQ(events, expected);

    form.ListBoxPortPump.SetItemIndex(0);
    EXPECT_EQ(list->currentRow(), 0);
    form.ListBoxPortPump.SetItemIndex(-1);
    EXPECT_TRUE(list->selectedItems().isEmpty());
    form.ListBoxPortPump.Clear();
    EXPECT_EQ(list->count(), 0);
}

TEST_F(WindowTest, DropDownRaisesChangeOnlyForTheOperatorsChoice) {
    ShowPage(1);
    form.ComboBoxMix1.SetItems({{"gH2O", 0}, {"gC2H6O", 0}});
    int changes = 0;
    form.ComboBoxMix1.OnChange = [&](TControl&) { ++changes; };
    auto* combo = W<QComboBox>(form.ComboBoxMix1);
    form.ComboBoxMix1.SetItemIndex(1);
    EXPECT_EQ(combo->currentIndex(), 1);
    EXPECT_EQ(changes, 0);
    combo->setFocus();
    QTest::keyClick(combo, Qt::Key_Up);
    EXPECT_EQ(form.ComboBoxMix1.ItemIndex(), 0);
    EXPECT_EQ(changes, 1);
}

TEST_F(WindowTest, TabbedListPlacesColumnsFromTheContents) {
    ShowPage(3);
    form.RzTabbedListBoxSteps.SetItems({{"1\t0.75 h\tA 100", 0}, {"2\t10.5 h\tA 2000000 B 5", 0}});
    auto* list = W<QTreeWidget>(form.RzTabbedListBoxSteps);
    ASSERT_EQ(list->topLevelItemCount(), 2);
    EXPECT_EQ(list->columnCount(), 3);
    EXPECT_EQ(list->topLevelItem(1)->text(2), "A 2000000 B 5");
    // Each column is at least as wide as its widest cell.
    const QFontMetrics metrics(list->font());
    EXPECT_GE(list->columnWidth(2), metrics.horizontalAdvance("A 2000000 B 5"));
    EXPECT_LT(list->columnWidth(0), list->columnWidth(2));

    int clicks = 0;
    int lastKey = 0;
    form.RzTabbedListBoxSteps.OnClick = [&](TControl&) { ++clicks; };
    form.RzTabbedListBoxSteps.OnKeyUp = [&](TControl&, int key) { lastKey = key; };
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {},
                      list->visualItemRect(list->topLevelItem(1)).center());
    EXPECT_EQ(form.RzTabbedListBoxSteps.ItemIndex(), 1);
    EXPECT_EQ(clicks, 1);
    QTest::keyClick(list, Qt::Key_Escape);
    EXPECT_EQ(lastKey, keys::Escape);
    form.RzTabbedListBoxSteps.SetItemIndex(-1);
    EXPECT_EQ(list->currentItem(), nullptr);
}

TEST_F(WindowTest, TextPaneAppendsLinesAndTakesAWholeText) {
    auto* log = W<QPlainTextEdit>(form.MemoLog);
    form.MemoLog.Add("one");
    form.MemoLog.Add("two");
    EXPECT_EQ(log->toPlainText(), "one\ntwo");
    form.MemoLog.SetText("a\r\nb\r\nc");
    EXPECT_EQ(log->toPlainText(), "a\nb\nc");
    form.MemoLog.Add("d");
    EXPECT_EQ(log->toPlainText(), "a\nb\nc\nd");
    form.MemoLog.Clear();
    EXPECT_EQ(log->toPlainText(), "");
    EXPECT_EQ(log->font().family(), "Liberation Mono");
}

TEST_F(WindowTest, TrackBarMovedByTheOperatorAndByTheLogic) {
    ShowPage(3);
    std::vector<int> seen;
    form.RzTrackBarY1.OnChange = [&](TControl& c) { seen.push_back(static_cast<TTrackBar&>(c).Position()); };
    auto* slider = W<QSlider>(form.RzTrackBarY1);
    EXPECT_EQ(slider->value(), 5);
    slider->setFocus();
    EXPECT_TRUE(form.RzTrackBarY1.Focused());
    QTest::keyClick(slider, Qt::Key_Right);
    EXPECT_EQ(form.RzTrackBarY1.Position(), 6);
    form.RzTrackBarY1.SetPosition(2);  // the program's set raises the change once, as the widget's would
    EXPECT_EQ(slider->value(), 2);
    EXPECT_EQ(seen, (std::vector<int>{6, 2}));
}

TEST_F(WindowTest, StatusBarPanelsAndScrollingDisplay) {
    ShowPage(3);
    form.StatusBar1.SetPanel(4, "Pump not answering");
    auto* panel = Find<QLabel>(window.get(), "StatusBar1.Panel4");
    EXPECT_EQ(panel->text(), "Pump not answering");
    EXPECT_EQ(panel->width(), 250);

    auto* display = W<ui::TLedDisplayWidget>(form.RzLEDDisplay1);
    form.RzLEDDisplay1.SetCaption("Simulation");
    EXPECT_EQ(display->Text(), "Simulation");
    EXPECT_EQ(display->height(), 59);
    const int before = display->Offset();
    QTest::qWait(4 * ui::TLedDisplayWidget::StepMs);
    EXPECT_GT(display->Offset(), before);
    // Hidden with its page, it stops.
    ShowPage(0);
    EXPECT_FALSE(display->Scrolling());
    const int hidden = display->Offset();
    QTest::qWait(3 * ui::TLedDisplayWidget::StepMs);
    EXPECT_EQ(display->Offset(), hidden);
}

TEST_F(WindowTest, PagesFollowTheOperatorAndTheLogic) {
    auto* tabs = window->PageControl1();
    form.PageControl1.SetActivePageIndex(4);
    EXPECT_EQ(tabs->currentIndex(), 4);
    tabs->setCurrentIndex(2);  // as a click on the tab does
    EXPECT_EQ(form.PageControl1.ActivePageIndex(), 2);
}

}  // namespace
}  // namespace moirex::testing_ui
