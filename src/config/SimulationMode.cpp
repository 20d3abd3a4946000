#include "config/SimulationMode.h"

#include <algorithm>
#include <limits>
#include <string>

#include "form/Form.h"
#include "model/FlowSetpoints.h"
#include "support/TextFormat.h"

namespace moirex {

namespace {

// Fills gas table 2 of one controller; true when the controller's gas or range changed.
bool ApplyDemoController(TMFCDetails& details, const TEdit& name, const TRealEdit& mass,
                         const TRealEdit& range, const TRealEdit& turndown) {
    const TLUTData before = details.LUT[2];
    const bool wasActive = details.Validated && details.ActiveLUT == 2;

    details.Validated = true;
    details.ActiveLUT = 2;
    TLUTData& entry = details.LUT[2];
    entry.LUTNumber = 2;
    entry.NameShort = name.Text();
    entry.NameCustom = name.Text();
    entry.NameOwn = name.Text();
    entry.AtomicMass = static_cast<float>(mass.Value());
    entry.UnitType = "g/min";
    entry.RangeMax = static_cast<float>(range.Value());
    // The table field is unsigned, as the controller's is: a turndown of 0 or below is stored
    // as it comes and wraps, and only the minimum below is protected from it.
    const double ratio = std::clamp(turndown.Value(), double(std::numeric_limits<int32_t>::min()),
                                    double(std::numeric_limits<uint32_t>::max()));
    entry.RangeDynamic = static_cast<uint32_t>(RoundHalfEven(ratio));
    if (turndown.Value() > 0) entry.RangeMin = static_cast<float>(range.Value() / turndown.Value());
    entry.Totalizer1 = 0;

    return !wasActive || before.NameOwn != entry.NameOwn || before.NameShort != entry.NameShort ||
           before.AtomicMass != entry.AtomicMass || before.RangeMax != entry.RangeMax ||
           before.RangeMin != entry.RangeMin;
}

}  // namespace

void ApplysimulationValues(TMixer& mixer) {
    if (mixer.MixerState != TMixerState::msSimulation) return;
    TForm1& f = mixer.Form;
    const bool changedA = ApplyDemoController(mixer.MFCADetails, f.EditY1DemoName, f.RtDoubleEditY1DemoMass,
                                              f.RtDoubleEditY1DemoRange, f.RtDoubleEditY1DemoTurndown);
    const bool changedB = ApplyDemoController(mixer.MFCBDetails, f.EditY2DemoName, f.RtDoubleEditY2DemoMass,
                                              f.RtDoubleEditY2DemoRange, f.RtDoubleEditY2DemoTurndown);
    // A new gas or range places the wanted flow by the track bar; values applied again unchanged
    // (as every "Add or Save Segment" does) keep the flow the operator typed.
    FlowUpdateY1(mixer, changedA);
    FlowUpdateY2(mixer, changedB);
}

void EditY1DemoNameKeyUp(TMixer& mixer) { ApplysimulationValues(mixer); }

void ButtonMFCAAirClick(TMixer& mixer, const TControl& sender) {
    // Demonstration gases are for simulation: once real gases are confirmed, a caption changed
    // here would name a gas never connected, and the recipe copies the captions.
    if (mixer.MixerState != TMixerState::msSimulation) return;
    TForm1& f = mixer.Form;
    struct Row {
        const char* button;
        TGroupBox& group;
        const char* caption;
        TEdit& name;
        const char* gas;
        TRealEdit& mass;
        double molarMass;
    };
    const Row rows[] = {
        {"ButtonMFCAAir", f.GroupBoxY1, "A-Component: Air", f.EditY1DemoName, "Air", f.RtDoubleEditY1DemoMass, 28.9647},
        {"ButtonMFCAH2", f.GroupBoxY1, "A-Component: H2", f.EditY1DemoName, "H2", f.RtDoubleEditY1DemoMass, 2.01588},
        {"ButtonMFCAH2inAr99", f.GroupBoxY1, "A-Component: H2Ar99", f.EditY1DemoName, "H2Ar99",
         f.RtDoubleEditY1DemoMass, 39.55869847},
        {"ButtonMFCBAir", f.GroupBoxY2, "B-Component: Air", f.EditY2DemoName, "Air", f.RtDoubleEditY2DemoMass, 28.9647},
        {"ButtonMFCBN2", f.GroupBoxY2, "B-Component: N2", f.EditY2DemoName, "N2", f.RtDoubleEditY2DemoMass, 28.0134},
    };
    for (const Row& row : rows) {
        if (sender.Name != row.button) continue;
        row.group.SetCaption(row.caption);
        row.name.SetText(row.gas);
        row.mass.SetValue(row.molarMass);
        return;
    }
}

void BindSimulationModeHandlers(TMixer& mixer) {
    TForm1& f = mixer.Form;
    TMixer* m = &mixer;
    auto keyUp = [m](TControl&, int) { EditY1DemoNameKeyUp(*m); };
    f.EditY1DemoName.OnKeyUp = keyUp;
    f.RtDoubleEditY1DemoMass.OnKeyUp = keyUp;
    f.RtDoubleEditY1DemoRange.OnKeyUp = keyUp;
    f.RtDoubleEditY1DemoTurndown.OnKeyUp = keyUp;
    f.EditY2DemoName.OnKeyUp = keyUp;
    f.RtDoubleEditY2DemoMass.OnKeyUp = keyUp;
    f.RtDoubleEditY2DemoRange.OnKeyUp = keyUp;
    f.RtDoubleEditY2DemoTurndown.OnKeyUp = keyUp;
    auto click = [m](TControl& sender) { ButtonMFCAAirClick(*m, sender); };
    for (TButton* b : {&f.ButtonMFCAAir, &f.ButtonMFCAH2, &f.ButtonMFCAH2inAr99, &f.ButtonMFCBAir, &f.ButtonMFCBN2})
        b->OnClick = click;
}

}  // namespace moirex
