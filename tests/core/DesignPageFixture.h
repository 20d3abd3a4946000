#pragma once
// A window after start-up in simulation: pump defaults with water in a 12.5 µl syringe, the demo
// gases applied, the first set-points computed, every handler of the design pages bound.

#include <gtest/gtest.h>

#include "config/SimulationMode.h"
#include "core/BindDesignHandlers.h"
#include "form/Dialogs.h"
#include "form/Form.h"
#include "model/FlowSetpoints.h"
#include "model/FluidDesigner.h"
#include "state/MixerState.h"

namespace moirex::testing {

class DesignPageTest : public ::testing::Test {
protected:
    DesignPageTest() {
        TPumpDetails& pump = mixer.PumpDetails;
        pump.SYRINGE_VOLUMEul = 12.5;
        pump.SYRINGE_STEPS = 24000;
        pump.SYRINGE_MAXSPEED = 1000;
        pump.FLUID_MAX_PPM = 1000000;
        FillComponentBoxes(mixer);
        BindDesignHandlers(mixer);
        form.ButtonRestoreWater.Click();
        AssignFluidMixtureToPump(mixer);
        ApplysimulationValues(mixer);
        SetFluidRange(mixer);
        FluidFlowUpdate(mixer);
        FlowUpdateY1(mixer, false);
        FlowUpdateY2(mixer, false);
        mixer.MFCADetails.ComPortName = "SIM";
        mixer.MFCBDetails.ComPortName = "SIM";
        mixer.PumpDetails.Port = "SIM";
    }

    // The operator types a value into a field that has the focus and releases the key.
    template <typename Field>
    static void Type(Field& field, double value) {
        field.SetFocused(true);
        field.SetValue(static_cast<decltype(field.Value())>(value));
        field.KeyUp();
        field.SetFocused(false);
    }

    void SetFlows(int64_t a, int64_t b, double fluid) {
        Type(form.RtIntegerEditY1Flow, double(a));
        Type(form.RtIntegerEditY2Flow, double(b));
        Type(form.RtDoubleEditFluidFlow, fluid);
    }

    TForm1 form;
    ScriptedDialogs dialogs;
    TMixer mixer{form, dialogs};
};

}  // namespace moirex::testing
