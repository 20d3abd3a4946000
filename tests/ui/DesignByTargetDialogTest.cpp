// "Design by target..." on the design page of the desktop program: the button below "Add or Save
// Segment", the dialog's proposal for its fields, and "Apply" setting the three flows as typed.

#include <gtest/gtest.h>

#include <QApplication>
#include <QComboBox>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>
#include <cmath>
#include <filesystem>
#include <memory>

#include "form/Dialogs.h"
#include "model/DesignOnPage.h"
#include "support/FileLocations.h"
#include "support/TextFormat.h"
#include "ui/Application.h"
#include "ui/DesignByTargetDialog.h"

namespace moirex::testing_ui {
namespace {

namespace fs = std::filesystem;

class DesignByTargetDialogTest : public ::testing::Test {
protected:
    DesignByTargetDialogTest() {
        home = fs::temp_directory_path() / ("moirex-design-dialog-test-" + std::to_string(::getpid()));
        SetHomeFolder(home.string());
        dialogs.defaultAnswer = true;
        ui::TAppOptions options;
        options.ScriptedDialogs = &dialogs;
        app = std::make_unique<ui::TMoirexApp>(options);
        app->Window().show();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(&app->Window()));
    }
    ~DesignByTargetDialogTest() override {
        app.reset();
        std::error_code ec;
        fs::remove_all(home, ec);
    }

    template <typename Widget>
    static Widget* Child(QWidget* parent, const char* name) {
        auto* w = parent->findChild<Widget*>(name);
        EXPECT_NE(w, nullptr) << name;
        return w;
    }

    // The fields as the operator fills them.
    static void Fill(ui::TDesignByTargetDialog& dialog, const QString& total, const QString& component,
                     const QString& ppm, int fluidKind, const QString& fluidValue) {
        Child<QLineEdit>(&dialog, "DesignTotal")->setText(total);
        Child<QComboBox>(&dialog, "DesignTotalUnit")->setCurrentIndex(0);
        Child<QComboBox>(&dialog, "DesignComponent")->setCurrentText(component);
        Child<QLineEdit>(&dialog, "DesignComponentPpm")->setText(ppm);
        Child<QComboBox>(&dialog, "DesignFluidKind")->setCurrentIndex(fluidKind);
        Child<QLineEdit>(&dialog, "DesignFluidValue")->setText(fluidValue);
    }

    fs::path home;
    ScriptedDialogs dialogs;
    std::unique_ptr<ui::TMoirexApp> app;
};

TEST_F(DesignByTargetDialogTest, ButtonSitsBelowAddOrSaveSegment) {
    auto* button = Child<QPushButton>(&app->Window(), "ButtonDesignByTarget");
    ASSERT_NE(button, nullptr);
    EXPECT_EQ(button->text(), "Design by target...");
    auto* addStep = Child<QPushButton>(&app->Window(), app->Form.ButtonAddStep.Name.c_str());
    ASSERT_NE(addStep, nullptr);
    EXPECT_EQ(button->parentWidget(), addStep->parentWidget());
}

// The simulation's demonstration gases (O2 on MFC A, Ar on MFC B) and water: "5 % O2 in argon at
// 40 % RH, 40 ml/min" proposed, applied, and shown by the page as for typed flows.
TEST_F(DesignByTargetDialogTest, ApplySetsTheProposedFlowsOnTheDesignPage) {
    ui::TDesignByTargetDialog dialog(app->Mixer(), &app->Window());
    auto* apply = Child<QPushButton>(&dialog, "DesignApply");
    auto* result = Child<QPlainTextEdit>(&dialog, "DesignResult");
    EXPECT_FALSE(apply->isEnabled());
    EXPECT_TRUE(Child<QComboBox>(&dialog, "DesignComponent")->findText("O2") >= 0);

    Fill(dialog, "40", "O2", "50000", 1, "40");
    dialog.Calculate();
    EXPECT_TRUE(apply->isEnabled()) << result->toPlainText().toStdString();
    EXPECT_TRUE(result->toPlainText().contains("Targets"));

    // A field changed after the calculation: the shown proposal no longer answers the fields.
    Child<QLineEdit>(&dialog, "DesignComponentPpm")->setText("40000");
    Q_EMIT Child<QLineEdit>(&dialog, "DesignComponentPpm")->textEdited("40000");
    EXPECT_FALSE(apply->isEnabled());
    Child<QLineEdit>(&dialog, "DesignComponentPpm")->setText("50000");
    dialog.Calculate();
    ASSERT_TRUE(apply->isEnabled());

    // What the model proposes for the same fields is what the page gets.
    TDesignTarget target;
    target.Total = 40;
    target.Component = "O2";
    target.ComponentPpm = 50000;
    target.Fluid = TFluidTarget::ftRelativeHumidity;
    target.FluidValue = 40;
    const TDesignResult expected = DesignByTarget(DesignSourcesOf(app->Mixer()), target);
    ASSERT_TRUE(expected.AllMet());

    dialog.Apply();
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
    const TForm1& f = app->Form;
    EXPECT_EQ(f.RtIntegerEditY1Flow.Value(), expected.GasA_ugpm);
    EXPECT_EQ(f.RtIntegerEditY2Flow.Value(), expected.GasB_ugpm);
    EXPECT_EQ(f.RtDoubleEditFluidFlow.Value(), expected.Fluid_ugpm);
    EXPECT_EQ(f.Label30.Caption(), expected.PumpCommand);
    // The page's report shows the RH the model read back, and that lies within its bound of 40 %.
    const TTargetOutcome& rh = expected.Targets[2];
    EXPECT_NEAR(rh.Achieved, 40, rh.Bound);
    EXPECT_LT(rh.Bound, 0.01);
    EXPECT_NE(f.Memo1.Text().find("RH -> " + FitRight(FormatMask(rh.Achieved, "0.000"), 9) + " %"), std::string::npos)
        << f.Memo1.Text();
    // O2 flows some 2600 µg/min here: whole µg/min put it within 10 ppm of 50 000.
    EXPECT_LT(std::fabs(expected.Targets[1].Achieved - 50000), expected.Targets[1].Bound);
    EXPECT_LT(expected.Targets[1].Bound, 10);
    EXPECT_NE(f.Memo1.Text().find("  O2            mol/min: "), std::string::npos) << f.Memo1.Text();
    QApplication::processEvents();
    auto* editA = Child<QLineEdit>(&app->Window(), f.RtIntegerEditY1Flow.Name.c_str());
    ASSERT_NE(editA, nullptr);
    EXPECT_EQ(editA->text().toStdString(), std::to_string(expected.GasA_ugpm));
}

TEST_F(DesignByTargetDialogTest, RefusedOrUnreadableTargetsCannotBeApplied) {
    ui::TDesignByTargetDialog dialog(app->Mixer(), &app->Window());
    auto* apply = Child<QPushButton>(&dialog, "DesignApply");
    auto* result = Child<QPlainTextEdit>(&dialog, "DesignResult");
    const int64_t before = app->Form.RtIntegerEditY1Flow.Value();

    Fill(dialog, "40", "O2", "2000000", 0, "0");
    dialog.Calculate();
    EXPECT_FALSE(apply->isEnabled());
    EXPECT_TRUE(result->toPlainText().startsWith("Cannot be met")) << result->toPlainText().toStdString();

    Fill(dialog, "forty", "O2", "500", 0, "0");
    dialog.Calculate();
    EXPECT_FALSE(apply->isEnabled());
    EXPECT_TRUE(result->toPlainText().contains("not a number"));
    dialog.Apply();
    EXPECT_EQ(app->Form.RtIntegerEditY1Flow.Value(), before);
}

}  // namespace
}  // namespace moirex::testing_ui
