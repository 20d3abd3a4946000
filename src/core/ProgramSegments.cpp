#include "core/ProgramSegments.h"

#include <algorithm>
#include <cmath>

#include "form/Dialogs.h"
#include "form/Form.h"
#include "model/FlowSetpoints.h"
#include "model/FluidDesigner.h"
#include "model/PumpSpeedFunction.h"
#include "core/SegmentProgram.h"
#include "support/TextFormat.h"

namespace moirex {

namespace {

// The fluid of the designer becomes the pump's, as "Apply and save" makes it, without the save.
bool ApplyPumpFluid(moirex::TMixer& mixer, std::string& error) {
    moirex::ScriptedDialogs* scripted = dynamic_cast<moirex::ScriptedDialogs*>(&mixer.Dlg);
    const size_t shownBefore = scripted ? scripted->shown.size() : 0;
    if (!moirex::AssignFluidMixtureToPump(mixer)) {
        error.clear();
        if (scripted)
            for (size_t i = shownBefore; i < scripted->shown.size(); ++i)
                error += (error.empty() ? "" : "; ") + scripted->shown[i].text;
        if (error.empty()) error = "the pump's fluid could not be applied";
        return false;
    }
    // "Apply and save" names the applied fluid in the C group; the recipe file reads it there.
    mixer.Form.GroupBoxX.SetCaption("C-component: " + mixer.PumpDetails.Fluid.GasNameLong);
    moirex::SetFluidRange(mixer);
    return true;
}

}  // namespace

bool SetUpWaterPump(moirex::TMixer& mixer, double syringe_ul, int64_t ppmLimit, const std::string& port,
                    std::string& error) {
    moirex::TPumpDetails& pump = mixer.PumpDetails;
    pump.SYRINGE_VOLUMEul = syringe_ul;
    pump.SYRINGE_STEPS = 24000;
    pump.SYRINGE_MAXSPEED = 1000;
    pump.FLUID_MAX_PPM = static_cast<int32_t>(ppmLimit);
    pump.Port = port;
    mixer.Form.RtDoubleEditSyringeVolume.SetValue(syringe_ul);
    mixer.Form.RtIntegerEditFluidPPMLimit.SetValue(ppmLimit);
    moirex::FillComponentBoxes(mixer);
    moirex::ButtonRestoreWaterClick(mixer);
    return ApplyPumpFluid(mixer, error);
}

bool SetUpConfiguredPump(moirex::TMixer& mixer, std::optional<double> syringe_ul, const std::string& port,
                         std::string& used, std::string& error) {
    moirex::TForm1& f = mixer.Form;
    // The designer still holds the fluid the configuration file applied; so do the fields.
    if (syringe_ul) f.RtDoubleEditSyringeVolume.SetValue(*syringe_ul);
    mixer.PumpDetails.Port = port;
    if (!ApplyPumpFluid(mixer, error)) return false;
    const moirex::TPumpDetails& pump = mixer.PumpDetails;
    used = "syringe " + moirex::FormatGeneral(pump.SYRINGE_VOLUMEul) + " \xC2\xB5l" +
           (syringe_ul ? " (--syringe-ul)" : " (configuration file)") + ", " + std::to_string(pump.SYRINGE_STEPS) +
           " steps; fluid " + pump.Fluid.GasNameLong + ", " + moirex::FormatGeneral(pump.Fluid.DensityFluid20C) +
           " g/ml, " + moirex::FormatGeneral(pump.Fluid.MolarMass) + " g/mol; fluid limit " +
           std::to_string(pump.FLUID_MAX_PPM) + " ppm; outlet " + moirex::FormatGeneral(f.RtDoubleEditCustomTemp.Value()) +
           " \xC2\xB0" "C, " + moirex::FormatGeneral(f.RtDoubleEditCustomPressure.Value()) +
           " mbar (configuration file)";
    return true;
}

namespace {

std::string Ugpm(double v) { return moirex::FormatGeneral(v) + " µg/min"; }

// A flow written to a file from its single-precision record reads back within a few parts in
// ten million.
bool SameFlow(double a, double b) { return std::fabs(a - b) <= 1e-6 * std::max(std::fabs(a), std::fabs(b)) + 1e-9; }

}  // namespace

SegmentBuildOutcome AddProgramSegment(moirex::TMixer& mixer, const moirex::TProgramSegment& segment) {
    SegmentBuildOutcome out;
    moirex::TForm1& form = mixer.Form;
    const size_t before = mixer.StepProgram.size();

    form.EditStepComments.SetText(segment.Name);
    form.RtDoubleEditStepDuration.SetValue(segment.Hours);

    // Gas A: above the controller's maximum it is held at the maximum (rounded down).
    form.RtIntegerEditY1Flow.SetValue(segment.GasA_ugpm);
    moirex::FlowUpdateY1(mixer, false);
    const int64_t a = form.RtIntegerEditY1Flow.Value();
    if (a != segment.GasA_ugpm) {
        const auto& e = mixer.MFCADetails.LUT[mixer.MFCADetails.ActiveLUT];
        out.Corrections.push_back("gas A " + Ugpm(static_cast<double>(segment.GasA_ugpm)) + " corrected to " +
                                  Ugpm(static_cast<double>(a)) + ": MFC A's maximum for " + e.NameOwn + " is " +
                                  moirex::FormatGeneral(e.RangeMax) + " g/min");
    }

    // Gas B: also set to 0 when at or below the controller's minimum, which it cannot hold.
    form.RtIntegerEditY2Flow.SetValue(segment.GasB_ugpm);
    moirex::FlowUpdateY2(mixer, false);
    const int64_t b = form.RtIntegerEditY2Flow.Value();
    if (b != segment.GasB_ugpm) {
        const auto& e = mixer.MFCBDetails.LUT[mixer.MFCBDetails.ActiveLUT];
        const std::string why = b == 0 ? "MFC B cannot hold a flow at or below its minimum for " + e.NameOwn + " of " +
                                             moirex::FormatGeneral(e.RangeMin) + " g/min"
                                       : "MFC B's maximum for " + e.NameOwn + " is " +
                                             moirex::FormatGeneral(e.RangeMax) + " g/min";
        out.Corrections.push_back("gas B " + Ugpm(static_cast<double>(segment.GasB_ugpm)) + " corrected to " +
                                  Ugpm(static_cast<double>(b)) + ": " + why);
    }

    // Fluid: held within the pump's range; the pump command's achievable flow is what is dosed.
    form.RtDoubleEditFluidFlow.SetValue(segment.Fluid_ugpm);
    moirex::FluidFlowUpdate(mixer);
    const double wanted = form.RtDoubleEditFluidFlow.Value();
    if (wanted != segment.Fluid_ugpm)
        out.Corrections.push_back("fluid " + Ugpm(segment.Fluid_ugpm) + " corrected to " + Ugpm(wanted) +
                                  ": the pump's range for this syringe and fluid ends there");
    // A saved program names the pump command chosen when it was saved: kept while it still doses
    // the saved flow with this syringe and fluid, so the segment runs as it ran before.
    bool keptCommand = false;
    if (!segment.PumpCommand.empty()) {
        TPumpSpeedDetails details;
        details.SyringeVolume_ul = mixer.PumpDetails.SYRINGE_VOLUMEul;
        details.FluidDensity = mixer.PumpDetails.Fluid.DensityFluid20C;
        double rate = 0;
        const bool known = PumpCommandDispense(details, segment.PumpCommand, rate);
        if (known && wanted == segment.Fluid_ugpm && SameFlow(rate, wanted)) {
            form.Label30.SetCaption(segment.PumpCommand);
            form.RtDoubleEditAchievableFluid.SetValue(rate);
            keptCommand = true;
        } else if (form.Label30.Caption() != segment.PumpCommand) {
            out.Corrections.push_back(
                "pump command \"" + segment.PumpCommand + "\" " +
                (known ? "doses " + Ugpm(rate) + " with this syringe and fluid, not " + Ugpm(segment.Fluid_ugpm)
                       : "is not one this program chooses") +
                ": the command is chosen anew");
        }
    }
    const double achieved = form.RtDoubleEditAchievableFluid.Value();
    if (!keptCommand && wanted > 0 && achieved != wanted)
        out.Corrections.push_back("fluid " + Ugpm(wanted) + " dosed as " + Ugpm(achieved) + " by pump command \"" +
                                  form.Label30.Caption() + "\"");

    form.Memo1.Clear();
    const std::string refusal = moirex::AddOrSaveSegment(mixer);
    out.Added = mixer.StepProgram.size() == before + 1;
    if (!out.Added) {
        if (!refusal.empty() && refusal != moirex::InvalidSegmentMessage)
            out.Refusal = refusal;
        else if (a == 0 && b == 0 && achieved <= 0)
            out.Refusal = "no flow is left to dose (a segment needs gas A, gas B or fluid above 0)";
        else
            out.Refusal = "the fluid's concentration lies above the upper limit of " +
                          std::to_string(mixer.PumpDetails.FLUID_MAX_PPM) + " ppm";
    }
    return out;
}

}  // namespace moirex
