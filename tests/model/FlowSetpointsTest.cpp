// The wanted flows of A, B and C as the operator sets them on the design page: edits, track bars,
// corrections to the controllers' ranges, the pump command and the mixture report in Memo1.

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>

#include "form/Dialogs.h"
#include "form/Form.h"
#include "model/FlowSetpoints.h"
#include "model/FluidDesigner.h"
#include "state/MixerState.h"
#include "support/Log.h"

using namespace moirex;

namespace {

class FlowSetpointsTest : public ::testing::Test {
protected:
    FlowSetpointsTest() {
        capture = std::make_shared<TLogCapture>();
        destination.AttachCapture(capture);
        FormLogger().SetDestination(&destination);

        // Validated controllers, water in a 12.5 µl syringe, as after start-up and validation.
        mixer.MixerState = TMixerState::msReady;
        TPumpDetails& pump = mixer.PumpDetails;
        pump.SYRINGE_VOLUMEul = 12.5;
        pump.SYRINGE_STEPS = 24000;
        pump.SYRINGE_MAXSPEED = 1000;
        pump.FLUID_MAX_PPM = 1000000;
        pump.Port = "SIM";
        FillComponentBoxes(mixer);
        ButtonRestoreWaterClick(mixer);
        AssignFluidMixtureToPump(mixer);
        BindFlowSetpointHandlers(mixer);
        SetFluidRange(mixer);
    }
    ~FlowSetpointsTest() override { FormLogger().SetDestination(nullptr); }

    static void SetController(TMFCDetails& d, const std::string& gas, float min, float max, uint32_t lut = 2) {
        d.Validated = true;
        d.ActiveLUT = lut;
        d.ComPortName = "SIM";
        d.LUT[2].NameShort = gas;
        d.LUT[2].NameOwn = gas;
        d.LUT[2].RangeMin = min;
        d.LUT[2].RangeMax = max;
    }

    // The operator types a value into a field that has the focus and releases the key.
    template <typename Field>
    static void Type(Field& field, double value) {
        field.SetFocused(true);
        field.SetValue(static_cast<decltype(field.Value())>(value));
        field.KeyUp();
        field.SetFocused(false);
    }

    // The operator drags a track bar.
    static void Drag(TTrackBar& bar, int position) {
        bar.SetFocused(true);
        bar.SetPosition(position);
        bar.SetFocused(false);
    }

    size_t LogCount(const std::string& text) const {
        const auto records = capture->Records();
        return static_cast<size_t>(std::count_if(records.begin(), records.end(),
                                                 [&](const TLogRecord& r) { return r.Text == text; }));
    }

    TForm1 form;
    ScriptedDialogs dialogs;
    TMixer mixer{form, dialogs};
    TCodeSiteDestination destination;
    std::shared_ptr<TLogCapture> capture;
};

TEST_F(FlowSetpointsTest, GasSelectionPlacesTheFlowByTheTrackBar) {
    SetController(mixer.MFCADetails, "N2", 0.0025f, 0.3f);
    FlowUpdateY1(mixer, true);
    EXPECT_EQ(form.RtIntegerEditY1Flow.Value(), 151250);
    EXPECT_EQ(form.GroupBoxY1.Caption(), "A-component: N2");
    EXPECT_EQ(mixer.MFCADetails.CurrentMaxFlow, double(0.3f));
    EXPECT_DOUBLE_EQ(mixer.MFCADetails.CurrentDesiredFlow, 0.15125);

    // Without a gas or range change the typed flow stays where it is.
    form.RtIntegerEditY1Flow.SetValue(1234);
    FlowUpdateY1(mixer, false);
    EXPECT_EQ(form.RtIntegerEditY1Flow.Value(), 1234);
}

TEST_F(FlowSetpointsTest, TooLargeFlowIsCorrectedToTheMaximumAndLogged) {
    SetController(mixer.MFCADetails, "N2", 0.0025f, 0.3f);
    Type(form.RtIntegerEditY1Flow, 400000);
    EXPECT_EQ(form.RtIntegerEditY1Flow.Value(), 300000);
    EXPECT_EQ(form.RzTrackBarY1.Position(), 10);
    EXPECT_EQ(LogCount("MFC A Too large flow in textbox. Limit is 0.300000011920929"), 1u);
    // The report of the corrected flow: 0.3 g/min of nitrogen.
    EXPECT_NE(form.Memo1.Text().find("SIM:0:Nitrogen         0.300 000 g/min"), std::string::npos)
        << form.Memo1.Text();

    // The bar dragged by the operator sets the flow; the nested change pass leaves it there.
    Drag(form.RzTrackBarY1, 5);
    EXPECT_EQ(form.RtIntegerEditY1Flow.Value(), 151250);
    EXPECT_EQ(form.RzTrackBarY1.Position(), 5);
}

TEST_F(FlowSetpointsTest, SinglePrecisionMaximumRoundsDownForAAndToNearestForB) {
    SetController(mixer.MFCADetails, "O2", 0.0003f, 0.0358f);
    SetController(mixer.MFCBDetails, "Ar", 0.0003f, 0.0358f);
    Type(form.RtIntegerEditY1Flow, 40000);
    Type(form.RtIntegerEditY2Flow, 40000);
    EXPECT_EQ(form.RtIntegerEditY1Flow.Value(), 35799);
    EXPECT_EQ(form.RtIntegerEditY2Flow.Value(), 35800);

    // 35800 still lies above B's single-precision maximum: every later update logs again.
    const std::string logB = "MFC B Too large flow in textbox. Limit is 0.0357999987900257";
    const size_t afterTyping = LogCount(logB);
    EXPECT_GE(afterTyping, 1u);
    FlowUpdateY2(mixer, false);
    EXPECT_EQ(LogCount(logB), afterTyping + 1);
    EXPECT_EQ(LogCount("MFC A Too large flow in textbox. Limit is 0.0357999987900257"), 1u);
}

TEST_F(FlowSetpointsTest, BelowTheMinimumGasBStopsAndGasAPulses) {
    SetController(mixer.MFCADetails, "N2", 0.005f, 0.3f);
    SetController(mixer.MFCBDetails, "Ar", 0.005f, 0.3f);
    Type(form.RtIntegerEditY1Flow, 2000);
    Type(form.RtIntegerEditY2Flow, 2000);
    EXPECT_EQ(form.RtIntegerEditY1Flow.Value(), 2000);
    EXPECT_EQ(form.RtIntegerEditY2Flow.Value(), 0);

    TGasItem mixture;
    mixture.Init();
    CreateMixture(mixer, mixture);
    ASSERT_EQ(mixture.Components.size(), 1u);
    EXPECT_EQ(mixture.Components[0].InstrumentID, 0);
    EXPECT_NEAR(mixture.Components[0].Pulsed, 0.4f, 1e-6);
    EXPECT_NE(form.Memo1.Text().find("pulsed: 40.0 %"), std::string::npos) << form.Memo1.Text();
}

// Typed digit by digit, a flow passes through values the controller's range would change (the
// first digit of 60000 lies below gas B's minimum): the range rules wait until the entry is
// finished — Enter, or the field left — and the label under the field says meanwhile what they
// will make of it.
TEST_F(FlowSetpointsTest, FlowsAreTypedDigitByDigitAndTheRangeAppliesOnceEntered) {
    SetController(mixer.MFCADetails, "N2", 0.0025f, 0.3f);
    SetController(mixer.MFCBDetails, "Ar", 0.005f, 0.1f);
    TIntegerEdit& b = form.RtIntegerEditY2Flow;
    const std::string belowB = "Becomes 0 when entered: at or below MFC B's minimum, 5000 \u00B5g/min";

    b.SetFocused(true);
    for (int64_t typed : {6, 60, 600, 6000, 60000}) {
        SCOPED_TRACE(typed);
        b.SetValue(typed);
        b.KeyUp('0');
        EXPECT_EQ(b.Value(), typed);
        EXPECT_EQ(form.LabelY2Correction.Caption(), typed <= 5000 ? belowB : "");
    }
    EXPECT_EQ(form.Label45.Caption(), " = 0.06 g/min");
    b.KeyUp(keys::Enter);
    EXPECT_EQ(b.Value(), 60000);

    struct Case {
        const char* name;
        TIntegerEdit* field;
        int64_t typed;
        bool byEnter;  // otherwise the field is left
        const char* meanwhile;
        int64_t entered;
        int position;
    };
    const Case cases[] = {
        {"B below its minimum, Enter", &b, 2000, true, belowB.c_str(), 0, 0},
        {"B below its minimum, left", &b, 3000, false, belowB.c_str(), 0, 0},
        {"B above its maximum", &b, 150000, false, "Becomes 100000 when entered: MFC B's maximum", 100000, 10},
        {"A above its maximum", &form.RtIntegerEditY1Flow, 400000, true,
         "Becomes 300000 when entered: MFC A's maximum", 300000, 10},
        {"A below its minimum stays, pulsed", &form.RtIntegerEditY1Flow, 2000, false, "", 2000, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TLabel& correction = c.field == &b ? form.LabelY2Correction : form.LabelY1Correction;
        TTrackBar& bar = c.field == &b ? form.RzTrackBarY2 : form.RzTrackBarY1;
        c.field->SetFocused(true);
        c.field->SetValue(c.typed);
        c.field->KeyUp('0');
        EXPECT_EQ(c.field->Value(), c.typed);
        EXPECT_EQ(correction.Caption(), c.meanwhile);
        if (c.byEnter) c.field->KeyUp(keys::Enter);
        c.field->SetFocused(false);
        EXPECT_EQ(c.field->Value(), c.entered);
        EXPECT_EQ(bar.Position(), c.position);
        EXPECT_EQ(correction.Caption(), "");
    }
}

TEST_F(FlowSetpointsTest, ControllerWithoutActiveGasTableForcesZeroAndKeepsTheReport) {
    struct Case {
        const char* what;
        bool validated;
        uint32_t lut;
    } cases[] = {{"not validated", false, 2}, {"no gas table chosen", true, 1}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        SetController(mixer.MFCADetails, "N2", 0.0025f, 0.3f, c.lut);
        mixer.MFCADetails.Validated = c.validated;
        form.Memo1.SetText("previous report");
        Type(form.RtIntegerEditY1Flow, 5000);
        EXPECT_EQ(form.GroupBoxY1.Caption(), "A-component:");
        EXPECT_EQ(form.RtIntegerEditY1Flow.Value(), 0);
        EXPECT_EQ(form.Memo1.Text(), "previous report\r\n");
    }
}

TEST_F(FlowSetpointsTest, DurationShowsAsHoursAndMinutes) {
    const struct {
        double hours;
        const char* shown;
    } cases[] = {{0.75, "00:45"}, {1.999, "01:60"}, {2.5, "02:30"}};
    for (const auto& c : cases) {
        Type(form.RtDoubleEditStepDuration, c.hours);
        form.RtDoubleEditFluidFlow.KeyUp();  // the duration shares the fluid flow's key-up
        EXPECT_EQ(form.Label31.Caption(), c.shown) << c.hours;
    }
}

TEST_F(FlowSetpointsTest, FluidFlowChoosesThePumpCommandAndEntersTheMixtureAtItsAchievableRate) {
    SetController(mixer.MFCADetails, "N2", 0.0025f, 0.3f);
    Type(form.RtIntegerEditY1Flow, 100000);

    // The fluid's range is that of V1000 for this syringe and fluid.
    EXPECT_EQ(form.RtDoubleEditFluidFlow.MinValue(), 0);
    EXPECT_NEAR(form.RtDoubleEditFluidFlow.MaxValue(), 97563.19, 0.01);

    Type(form.RtDoubleEditFluidFlow, 1000);
    EXPECT_EQ(form.Label30.Caption(), "gIV6000A24000OV8A0GR");
    EXPECT_NEAR(form.RtDoubleEditAchievableFluid.Value(), 995.2042, 1e-4);
    EXPECT_EQ(form.RtDoubleEditAchievableFluid.DisplayText(), "995.20");
    EXPECT_EQ(form.MemoPump.Lines().back(), "gIV6000A24000OV8A0GR");
    EXPECT_EQ(form.RzTrackBarFluid.Position(), 0);

    TGasItem mixture;
    mixture.Init();
    CreateMixture(mixer, mixture);
    ASSERT_EQ(mixture.Components.size(), 2u);
    const TGasItem& fluid = mixture.Components[1];
    EXPECT_EQ(fluid.GasNameMFC, "MIX_Water pure");
    EXPECT_EQ(fluid.InstrumentID, 2);
    EXPECT_EQ(fluid.InstrumentPort, "SIM");
    EXPECT_EQ(fluid.PumpCommand, "gIV6000A24000OV8A0GR");
    EXPECT_NEAR(fluid.Mass, 995.2042e-6, 1e-10);
    ASSERT_EQ(fluid.Components.size(), 1u);
    EXPECT_FLOAT_EQ(fluid.Components[0].Mass, fluid.Mass);  // the designer's 1000 g rescaled
    EXPECT_EQ(fluid.Components[0].CustTempC, 21.0f);
    EXPECT_EQ(mixture.StepName, "ID:1");
    EXPECT_EQ(mixture.StepTime, 0.75);

    // Dragging the fluid's bar halfway asks for half the range, rounded to a whole µg/min.
    Drag(form.RzTrackBarFluid, 5);
    EXPECT_EQ(form.RtDoubleEditFluidFlow.Value(), 48782);

    // A wanted flow beyond the pump's range is held at it.
    Type(form.RtDoubleEditFluidFlow, 200000);
    EXPECT_NEAR(form.RtDoubleEditFluidFlow.Value(), 97563.19, 0.01);
    EXPECT_EQ(form.RzTrackBarFluid.Position(), 10);

    // No fluid: "TR" and nothing of the fluid in the mixture.
    Type(form.RtDoubleEditFluidFlow, 0);
    EXPECT_EQ(form.Label30.Caption(), "TR");
    EXPECT_EQ(form.RtDoubleEditAchievableFluid.Value(), 0);
    mixture.Init();
    CreateMixture(mixer, mixture);
    ASSERT_EQ(mixture.Components.size(), 1u);
    EXPECT_EQ(mixture.Components[0].InstrumentID, 0);
}

TEST_F(FlowSetpointsTest, UnrecognisedGasIsLeftOutAndNoPartEmptiesMemo1) {
    SetController(mixer.MFCADetails, "Xenon", 0.0025f, 0.3f);
    form.Memo1.SetText("previous report");
    Type(form.RtIntegerEditY1Flow, 5000);
    EXPECT_EQ(form.RtIntegerEditY1Flow.Value(), 5000);
    EXPECT_EQ(form.Memo1.Count(), 0);

    TGasItem mixture;
    mixture.Init();
    CreateMixture(mixer, mixture);
    EXPECT_TRUE(mixture.Components.empty());
}

TEST_F(FlowSetpointsTest, OutletConditionsAddTheVapourPressureAndRefreshTheReport) {
    SetController(mixer.MFCADetails, "N2", 0.0025f, 0.3f);
    Type(form.RtIntegerEditY1Flow, 100000);
    Type(form.RtDoubleEditCustomTemp, 20);
    EXPECT_EQ(form.Memo2.Lines().back().rfind("H2O Vapor pressure @ 20\u00BAC = 23.39", 0), 0u)
        << form.Memo2.Lines().back();
    EXPECT_TRUE(form.Memo2.Lines().back().ends_with(" mBar"));
    EXPECT_NE(form.Memo1.Text().find(" 20\u00BAC, 1013.25 mBar)"), std::string::npos) << form.Memo1.Text();

    Type(form.RtDoubleEditCustomPressure, 500);
    EXPECT_NE(form.Memo1.Text().find(" 20\u00BAC,     500 mBar)"), std::string::npos) << form.Memo1.Text();
}

}  // namespace
