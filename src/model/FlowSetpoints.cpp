#include "model/FlowSetpoints.h"

#include <algorithm>
#include <cmath>
#include <string>

#include "form/Form.h"
#include "model/MixtureParts.h"
#include "model/MixtureReport.h"
#include "model/PumpSpeedFunction.h"
#include "support/Log.h"
#include "support/TextFormat.h"

namespace moirex {

namespace {

// The controls and the controller of one gas; A and B differ only in these and in two rules.
struct TGasControls {
    TMFCDetails& Details;
    TIntegerEdit& Flow;
    TTrackBar& Bar;
    TLabel& FlowLabel;
    TLabel& Correction;
    TGroupBox& Group;
    const char* Caption;   // "A-component:"
    const char* LimitLog;  // "MFC A Too large flow in textbox. Limit is "
    const char* MFCName;   // "MFC A"
    bool IsGasB;
};

TGasControls GasA(TMixer& m) {
    TForm1& f = m.Form;
    return {m.MFCADetails, f.RtIntegerEditY1Flow, f.RzTrackBarY1, f.Label10, f.LabelY1Correction, f.GroupBoxY1,
            "A-component:", "MFC A Too large flow in textbox. Limit is ", "MFC A", false};
}

TGasControls GasB(TMixer& m) {
    TForm1& f = m.Form;
    return {m.MFCBDetails, f.RtIntegerEditY2Flow, f.RzTrackBarY2, f.Label45, f.LabelY2Correction, f.GroupBoxY2,
            "B-component:", "MFC B Too large flow in textbox. Limit is ", "MFC B", true};
}

// What a flow being typed will become once entered; empty when it stays as typed.
std::string CorrectionText(const TGasControls& g, const TLUTData& entry, int64_t typed,
                           const TGasFlowCorrection& corrected) {
    if (corrected.Flow_ugpm == typed) return {};
    switch (corrected.Limit) {
        case TFlowLimit::flNone:
            return {};
        case TFlowLimit::flAtOrBelowMinimum:
            return "Becomes 0 when entered: at or below " + std::string(g.MFCName) + "'s minimum, " +
                   std::to_string(RoundHalfEven(double(entry.RangeMin) * 1e6)) + " \u00B5g/min";
        case TFlowLimit::flAboveMaximum:
            return "Becomes " + std::to_string(corrected.Flow_ugpm) + " when entered: " + g.MFCName +
                   "'s maximum";
    }
    return {};
}

void SetCorrection(const TGasControls& g, const std::string& text) {
    if (g.Correction.Caption() != text) g.Correction.SetCaption(text);
}

// Sets a track bar's position. Its change event runs the update again; that nested pass finds
// the position already in place and sets nothing, as the widget raises no change for an unmoved
// bar — so the passes end.
void MoveTrackBar(TTrackBar& bar, double position) {
    const int64_t p = std::clamp<int64_t>(RoundHalfEven(position), 0, bar.Max());
    if (p != bar.Position()) bar.SetPosition(static_cast<int>(p));
}

// entryFinished: the operator has finished typing the flow (Enter, left the field, added the
// segment). While the flow is being typed the range rules wait, so that they do not fight the
// digits (the first digit of 60000 is below gas B's minimum); meanwhile the correction label says
// what they will make of it.
void FlowUpdate(TMixer& m, const TGasControls& g, bool UpdateFromCode, bool entryFinished = false) {
    if (!HasActiveGasTable(g.Details)) {
        g.Group.SetCaption(g.Caption);
        SetCorrection(g, {});
        if (g.Flow.Value() != 0) g.Flow.SetValue(0);
        return;
    }
    const TLUTData& entry = g.Details.LUT[g.Details.ActiveLUT];
    g.Group.SetCaption(std::string(g.Caption) + " " + entry.NameOwn);

    const double Max = entry.RangeMax;
    const double Min = entry.RangeMin;
    int64_t v = g.Flow.Value();

    // Gas B cannot be dosed below its controller's minimum; gas A can, by pulsing.
    const TGasFlowCorrection corrected = CorrectGasFlow(entry, v, g.IsGasB);
    const bool typing = g.Flow.Focused() && !entryFinished;
    if (typing) {
        SetCorrection(g, CorrectionText(g, entry, v, corrected));
    } else {
        SetCorrection(g, {});
        if (corrected.Limit == TFlowLimit::flAboveMaximum) FormLogger().Send(g.LimitLog + FormatGeneral(Max));
        v = corrected.Flow_ugpm;
    }

    const double span = Max * 1e6 - Min * 1e6;
    if (span != 0) {
        if (g.Flow.Focused() || entryFinished) {
            if (v != g.Flow.Value()) g.Flow.SetValue(v);
            MoveTrackBar(g.Bar, (double(v) - Min * 1e6) / span * 10);
        } else if (g.Bar.Focused() || UpdateFromCode) {
            v = RoundHalfEven(g.Bar.Position() / 10.0 * span + Min * 1e6);
        }
    }
    if (v != g.Flow.Value()) g.Flow.SetValue(v);

    g.FlowLabel.SetCaption(FormatMask(double(v) / 1e6, " = 0.### ### ### g/min"));
    g.Details.CurrentMaxFlow = Max;
    g.Details.CurrentDesiredFlow = double(v) / 1e6;
    ShowMixture2(m);
}

void PlaceGasTrackBar(const TGasControls& g) {
    if (!HasActiveGasTable(g.Details)) return;
    const TLUTData& entry = g.Details.LUT[g.Details.ActiveLUT];
    const double Max = entry.RangeMax;
    const double Min = entry.RangeMin;
    const double span = Max * 1e6 - Min * 1e6;
    if (span == 0) return;
    MoveTrackBar(g.Bar, (double(g.Flow.Value()) - Min * 1e6) / span * 10);
}

TGasSource GasSource(const TMixer& m, const TMFCDetails& details, const TEdit& demoName,
                     const TRealEdit& demoMass, int32_t instrumentID) {
    TGasSource source;
    source.Entry = details.LUT[details.ActiveLUT];
    source.Gas = GasItemsFromName(source.Entry.NameShort);
    source.Demo = m.MixerState == TMixerState::msSimulation;
    if (source.Demo) {
        source.DemoName = demoName.Text();
        source.DemoMolarMass = static_cast<float>(demoMass.Value());
    }
    source.InstrumentID = instrumentID;
    source.Port = details.ComPortName;
    return source;
}

}  // namespace

TGasSource GasSourceA(const TMixer& mixer) {
    const TForm1& f = mixer.Form;
    return GasSource(mixer, mixer.MFCADetails, f.EditY1DemoName, f.RtDoubleEditY1DemoMass, 0);
}

TGasSource GasSourceB(const TMixer& mixer) {
    const TForm1& f = mixer.Form;
    return GasSource(mixer, mixer.MFCBDetails, f.EditY2DemoName, f.RtDoubleEditY2DemoMass, 1);
}

TFluidSource FluidSourceOf(const TMixer& mixer) {
    const TForm1& f = mixer.Form;
    const TPumpDetails& pump = mixer.PumpDetails;
    TFluidSource source;
    source.Fluid = pump.Fluid;
    source.Port = pump.Port;
    source.FluidMaxPPM = pump.FLUID_MAX_PPM;
    source.SyringeVolume_ul = pump.SYRINGE_VOLUMEul;
    source.CustTempC = static_cast<float>(f.RtDoubleEditCustomTemp.Value());
    source.CustPressmBar = static_cast<float>(f.RtDoubleEditCustomPressure.Value());
    return source;
}

bool HasActiveGasTable(const TMFCDetails& details) {
    return details.Validated && details.ActiveLUT >= TLUT::First && TLUT::InRange(details.ActiveLUT);
}

void FlowUpdateY1(TMixer& mixer, bool UpdateFromCode) { FlowUpdate(mixer, GasA(mixer), UpdateFromCode); }

void FlowUpdateY2(TMixer& mixer, bool UpdateFromCode) { FlowUpdate(mixer, GasB(mixer), UpdateFromCode); }

void FinishFlowEntryY1(TMixer& mixer) { FlowUpdate(mixer, GasA(mixer), false, true); }

void FinishFlowEntryY2(TMixer& mixer) { FlowUpdate(mixer, GasB(mixer), false, true); }

void FinishFlowEntries(TMixer& mixer) {
    FinishFlowEntryY1(mixer);
    FinishFlowEntryY2(mixer);
}

void SetFluidRange(TMixer& mixer) {
    TForm1& f = mixer.Form;
    f.RtDoubleEditFluidFlow.SetLimits(0, FluidFlowMaximum(FluidSourceOf(mixer)));
}

void FluidFlowUpdate(TMixer& mixer) {
    TForm1& f = mixer.Form;

    const double d = f.RtDoubleEditStepDuration.Value();
    const double hours = std::trunc(d);
    f.Label31.SetCaption(FormatMask(hours, "00") + ":" + FormatMask(double(RoundHalfEven((d - hours) * 60)), "00"));

    SetFluidRange(mixer);

    TRealEdit& flow = f.RtDoubleEditFluidFlow;
    const double editMax = flow.MaxValue();
    if (flow.Focused()) {
        if (editMax > 0) MoveTrackBar(f.RzTrackBarFluid, f.RzTrackBarFluid.Max() * (flow.Value() / editMax));
    } else if (f.RzTrackBarFluid.Focused()) {
        flow.SetValue(double(RoundHalfEven(f.RzTrackBarFluid.Position() / 10.0 * editMax)));
    }

    const TPumpSpeedDetails details = PumpCommandFor(FluidSourceOf(mixer), flow.Value());

    f.Label30.SetCaption(details.Command);
    f.RtDoubleEditAchievableFluid.SetValue(details.AchievedDispense_ugpm);
    f.MemoPump.Add(details.Command);

    ShowMixture2(mixer);
}

void UpdateTrackbars(TMixer& mixer) {
    TForm1& f = mixer.Form;
    PlaceGasTrackBar(GasA(mixer));
    PlaceGasTrackBar(GasB(mixer));
    const double editMax = f.RtDoubleEditFluidFlow.MaxValue();
    if (editMax > 0)
        MoveTrackBar(f.RzTrackBarFluid, f.RtDoubleEditFluidFlow.Value() / editMax * f.RzTrackBarFluid.Max());
}

void CreateMixture(TMixer& mixer, TGasItem& mixture) {
    TForm1& f = mixer.Form;
    TGasItem a, b, c;
    a.Init();
    b.Init();
    c.Init();
    mixture.Init();

    if (f.RtIntegerEditY1Flow.Value() > 0) a = GasPart(GasSourceA(mixer), f.RtIntegerEditY1Flow.Value());
    if (f.RtIntegerEditY2Flow.Value() > 0) b = GasPart(GasSourceB(mixer), f.RtIntegerEditY2Flow.Value());
    const double achievable = f.RtDoubleEditAchievableFluid.Value();
    if (achievable > 0) c = FluidPart(FluidSourceOf(mixer), f.Label30.Caption(), achievable);

    std::vector<TGasItem> present;
    for (TGasItem* part : {&a, &b, &c})
        if (!part->GasNameMFC.empty()) present.push_back(std::move(*part));
    if (present.empty()) {
        f.Memo1.Clear();
        return;
    }
    const std::string& comment = f.EditStepComments.Text();
    mixture.StepName = !comment.empty() ? comment : "ID:" + std::to_string(mixer.StepProgram.size() + 1);
    mixture.StepTime = f.RtDoubleEditStepDuration.Value();
    mixture.Components = std::move(present);
}

void ShowMixture2(TMixer& mixer, TGasItem& mixture) {
    TForm1& f = mixer.Form;
    mixture.Init();
    CreateMixture(mixer, mixture);
    if (mixture.Components.empty()) return;
    f.Memo1.Clear();
    f.Memo1.SetText(MachineRecipe(mixture));
    TComponentDictionary dictionary;
    CollectComponents(mixture, dictionary);
    f.Memo1.SetText(f.Memo1.Text() + MixtureReport(dictionary, mixture, f.RtDoubleEditCustomTemp.Value(),
                                                   f.RtDoubleEditCustomPressure.Value()));
}

void ShowMixture2(TMixer& mixer) {
    TGasItem mixture;
    ShowMixture2(mixer, mixture);
}

void RtDoubleEditCustomTempKeyUp(TMixer& mixer) {
    TForm1& f = mixer.Form;
    const double t = f.RtDoubleEditCustomTemp.Value();
    f.Memo2.Add("H2O Vapor pressure @ " + FormatGeneral(t) + "\u00BAC = " + FormatGeneral(WaterVaporPressure(t)) +
                " mBar");
    ShowMixture2(mixer);
}

void RtIntegerEditY1FlowKeyUp(TMixer& mixer, int key) {
    if (key == keys::Enter)
        FinishFlowEntryY1(mixer);
    else
        FlowUpdateY1(mixer, false);
}
void RzTrackBarY1Change(TMixer& mixer) { FlowUpdateY1(mixer, false); }
void RtIntegerEditY2FlowKeyUp(TMixer& mixer, int key) {
    if (key == keys::Enter)
        FinishFlowEntryY2(mixer);
    else
        FlowUpdateY2(mixer, false);
}
void RzTrackBarY2Change(TMixer& mixer) { FlowUpdateY2(mixer, false); }
void RtDoubleEditFluidFlowKeyUp(TMixer& mixer) { FluidFlowUpdate(mixer); }
void RzTrackBarFluidChange(TMixer& mixer) { FluidFlowUpdate(mixer); }

void BindFlowSetpointHandlers(TMixer& mixer) {
    TForm1& f = mixer.Form;
    TMixer* m = &mixer;
    f.RtIntegerEditY1Flow.OnKeyUp = [m](TControl&, int key) { RtIntegerEditY1FlowKeyUp(*m, key); };
    f.RtIntegerEditY1Flow.OnExit = [m](TControl&) { FinishFlowEntryY1(*m); };
    f.RzTrackBarY1.OnChange = [m](TControl&) { RzTrackBarY1Change(*m); };
    f.RtIntegerEditY2Flow.OnKeyUp = [m](TControl&, int key) { RtIntegerEditY2FlowKeyUp(*m, key); };
    f.RtIntegerEditY2Flow.OnExit = [m](TControl&) { FinishFlowEntryY2(*m); };
    f.RzTrackBarY2.OnChange = [m](TControl&) { RzTrackBarY2Change(*m); };
    f.RtDoubleEditFluidFlow.OnKeyUp = [m](TControl&, int) { RtDoubleEditFluidFlowKeyUp(*m); };
    f.RtDoubleEditAchievableFluid.OnKeyUp = [m](TControl&, int) { RtDoubleEditFluidFlowKeyUp(*m); };
    f.RzTrackBarFluid.OnChange = [m](TControl&) { RzTrackBarFluidChange(*m); };
    f.RtDoubleEditCustomTemp.OnKeyUp = [m](TControl&, int) { RtDoubleEditCustomTempKeyUp(*m); };
    f.RtDoubleEditCustomPressure.OnKeyUp = [m](TControl&, int) { RtDoubleEditCustomTempKeyUp(*m); };
}

}  // namespace moirex
