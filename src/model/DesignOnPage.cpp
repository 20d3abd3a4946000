#include "model/DesignOnPage.h"

#include "form/Form.h"
#include "model/FlowSetpoints.h"

namespace moirex {

namespace {

// Focus, value, key release, and the field left (which finishes the entry).
template <typename Edit, typename Value, typename KeyUp>
void TypeInto(TMixer& mixer, Edit& edit, Value value, KeyUp keyUp) {
    edit.SetFocused(true);
    edit.SetValue(value);
    keyUp(mixer);
    edit.SetFocused(false);
}

}  // namespace

TDesignSources DesignSourcesOf(const TMixer& mixer) {
    TDesignSources sources;
    sources.GasA = GasSourceA(mixer);
    sources.GasB = GasSourceB(mixer);
    sources.Fluid = FluidSourceOf(mixer);
    sources.TemperatureC = mixer.Form.RtDoubleEditCustomTemp.Value();
    sources.PressuremBar = mixer.Form.RtDoubleEditCustomPressure.Value();
    return sources;
}

bool ApplyDesign(TMixer& mixer, const TDesignResult& result) {
    if (result.Refused()) return false;
    TForm1& f = mixer.Form;
    // Typed as the operator would: not into editors that take no input (a run is going on).
    for (const TControl* edit : {static_cast<const TControl*>(&f.RtIntegerEditY1Flow), static_cast<const TControl*>(&f.RtIntegerEditY2Flow),
                                 static_cast<const TControl*>(&f.RtDoubleEditFluidFlow)})
        if (!edit->AcceptsInput()) return false;
    TypeInto(mixer, f.RtIntegerEditY1Flow, result.GasA_ugpm, [](TMixer& m) { RtIntegerEditY1FlowKeyUp(m, 0); });
    TypeInto(mixer, f.RtIntegerEditY2Flow, result.GasB_ugpm, [](TMixer& m) { RtIntegerEditY2FlowKeyUp(m, 0); });
    TypeInto(mixer, f.RtDoubleEditFluidFlow, result.Fluid_ugpm, RtDoubleEditFluidFlowKeyUp);
    return true;
}

}  // namespace moirex
