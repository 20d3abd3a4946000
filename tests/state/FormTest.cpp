#include "form/Form.h"

#include <gtest/gtest.h>

namespace moirex {
namespace {

// While a run has pages 0, 1 and 2 disabled, their controls can be seen but take no input;
// the design page stays usable, and a disabled window takes nothing at all.
TEST(FormTest, DisabledPagesAndWindowIgnoreTheOperator) {
    TForm1 form;
    int portClicks = 0, applyClicks = 0, stopClicks = 0, demoKeys = 0;
    form.ListBoxPortPump.OnClick = [&](TControl&) { ++portClicks; };
    form.ButtonApplyPumpAndFluid.OnClick = [&](TControl&) { ++applyClicks; };
    form.EditY1DemoName.OnKeyUp = [&](TControl&, int) { ++demoKeys; };
    form.ButtonStop.OnClick = [&](TControl&) { ++stopClicks; };

    for (int page = 0; page <= 2; ++page) form.PageControl1.SetPageEnabled(page, false);
    form.ListBoxPortPump.Click();
    form.ButtonApplyPumpAndFluid.Click();
    form.EditY1DemoName.KeyUp();
    form.ButtonStop.Click();
    EXPECT_EQ(portClicks + applyClicks + demoKeys, 0);
    EXPECT_EQ(stopClicks, 1);

    // The program's own click still runs on a disabled page.
    form.ButtonApplyPumpAndFluid.PerformClick();
    EXPECT_EQ(applyClicks, 1);

    for (int page = 0; page <= 2; ++page) form.PageControl1.SetPageEnabled(page, true);
    form.ListBoxPortPump.Click();
    EXPECT_EQ(portClicks, 1);

    form.SetEnabled(false, true);
    form.ButtonStop.Click();
    form.ListBoxPortPump.Click();
    EXPECT_EQ(stopClicks, 1);
    EXPECT_EQ(portClicks, 1);
}

TEST(FormTest, DisplayOnlyFieldsAreDisabled) {
    TForm1 form;
    EXPECT_FALSE(form.EditFluidName.Enabled());
    EXPECT_FALSE(form.RtDoubleEditAchievableFluid.Enabled());
    EXPECT_EQ(form.RtDoubleEditAchievableFluid.DisplayText(), "0.00");
    EXPECT_TRUE(form.RtDoubleEditFluidFlow.Enabled());
}

}  // namespace
}  // namespace moirex
