#include "model/FluidDesigner.h"

#include <array>
#include <string>

#include "form/Dialogs.h"
#include "form/Form.h"
#include "support/TextFormat.h"

namespace moirex {

namespace {

std::array<TComboBox*, 4> ComponentBoxes(TForm1& f) {
    return {&f.ComboBoxMix1, &f.ComboBoxMix2, &f.ComboBoxMix3, &f.ComboBoxMix4};
}

std::array<TRealEdit*, 4> MassFields(TForm1& f) {
    return {&f.RtDoubleEdit1, &f.RtDoubleEdit2, &f.RtDoubleEdit3, &f.RtDoubleEdit4};
}

}  // namespace

void FillComponentBoxes(TMixer& mixer) {
    std::vector<TListItem> names;
    for (int ordinal = 0; ordinal < GasItemsCount; ++ordinal) {
        TGasItem entry;
        entry.Init();
        MakeGasItem(static_cast<TGasItems>(ordinal), entry, 0);
        names.push_back({entry.GasNameLong, ordinal});
    }
    for (TComboBox* box : ComponentBoxes(mixer.Form)) box->SetItems(names);
}

void FluidMixtureCalculation(TMixer& mixer) {
    TForm1& f = mixer.Form;
    f.Memo2.Clear();

    TGasItem& design = mixer.DesignedMixture;
    design.Init();
    design.Fluid = true;
    design.GasNameLong = f.EditDesignedMixtureName.Text();
    design.MolarMass = 0;
    design.PartialPressure = 0;
    design.Mass = 0;
    design.Components.clear();

    const auto boxes = ComponentBoxes(f);
    const auto masses = MassFields(f);
    for (size_t k = 0; k < boxes.size(); ++k) {
        const double mass = masses[k]->Value();
        if (!(mass > 0) || boxes[k]->ItemIndex() <= 0) continue;
        TGasItem component;
        component.Init();
        MakeGasItem(GasItemsFromName(boxes[k]->SelectedText()), component, 0);
        component.Mass = static_cast<float>(mass);
        component.MixtureMass = static_cast<float>(mass);
        design.Components.push_back(component);
    }

    f.Memo2.Add(FitLeft(design.GasNameLong, 20));
    f.Memo2.Add("  " + FitLeft("Component", 20) + " " + FitLeft("Moles", 8) + "  " +
                FitLeft("Molar fraction", 15) + "  " + FitLeft("Mass", 5));

    std::vector<double> moles;
    double total = 0;
    for (const TGasItem& c : design.Components) {
        // An unmatched substance carries molar mass -1 and so negative moles; only a molar mass
        // of exactly 0 leaves the component without moles.
        const double n = c.MolarMass != 0 ? double(c.Mass) / double(c.MolarMass) : 0.0;
        moles.push_back(n);
        total += n;
    }

    double molarMass = 0;
    for (size_t k = 0; k < design.Components.size(); ++k) {
        TGasItem& c = design.Components[k];
        const bool hasFraction = total != 0;
        const double fraction = hasFraction ? moles[k] / total : 0.0;
        f.Memo2.Add("  " + FitLeft(c.GasNameLong, 20) + " " + FitLeft(FormatMask(moles[k], "0.000"), 9) +
                    " " + FitLeft(hasFraction ? FormatMask(fraction, "0.000 000") : std::string(), 10) +
                    "       " + FitLeft(FormatMask(c.Mass, "0.000"), 10));
        c.PartialPressure = static_cast<float>(fraction);
        molarMass += double(c.PartialPressure) * double(c.MolarMass);
    }

    f.Memo2.Add("");
    f.Memo2.Add("  Mixture molar mass : " + FormatGeneral(molarMass));
    f.RtDoubleEditDesignMixtureMolarMass.SetValue(molarMass);

    RtDoubleEditDesignedMixtureDensityKeyUp(mixer);
}

void RtDoubleEditDesignedMixtureDensityKeyUp(TMixer& mixer) {
    TForm1& f = mixer.Form;
    const double density = f.RtDoubleEditDesignedMixtureDensity.Value();
    const double molarMass = f.RtDoubleEditDesignMixtureMolarMass.Value();
    if (molarMass > 0) f.RtDoubleEditDesigtnMixtureMOLperML.SetValue(density / molarMass);
    // The syringe of the fluid applied last, not the one in the syringe field.
    f.RtDoubleEditDesignMixtureMGperStroke.SetValue(mixer.PumpDetails.SYRINGE_VOLUMEul / 1000.0 * density *
                                                    1000.0);
}

bool AssignFluidMixtureToPump(TMixer& mixer) {
    TForm1& f = mixer.Form;
    TPumpDetails& pump = mixer.PumpDetails;

    // The fluid's moles are its mass over this molar mass: a fluid without a positive one must
    // never reach the pump, and a refused assignment leaves the fluid applied before untouched.
    const double molarMass = f.RtDoubleEditDesignMixtureMolarMass.Value();
    if (!(molarMass > 0)) {
        mixer.Dlg.ShowError(FluidMolarMassError);
        return false;
    }

    pump.Fluid = mixer.DesignedMixture;
    pump.Fluid.GasNameLong = f.EditDesignedMixtureName.Text();
    pump.Fluid.DensityFluid20C = static_cast<float>(f.RtDoubleEditDesignedMixtureDensity.Value());
    pump.Fluid.MolarMass = static_cast<float>(molarMass);
    pump.SYRINGE_VOLUMEul = f.RtDoubleEditSyringeVolume.Value();
    pump.Fluid.MolPerML = static_cast<float>(f.RtDoubleEditDesigtnMixtureMOLperML.Value());
    pump.FLUID_MAX_PPM = static_cast<int32_t>(f.RtIntegerEditFluidPPMLimit.Value());
    pump.SYRINGE_SIZEmg = pump.SYRINGE_VOLUMEul / 1000.0 * double(pump.Fluid.DensityFluid20C) * 1000.0;
    // A syringe without steps has no per-step quantities (and must not show an infinite one).
    if (pump.SYRINGE_STEPS > 0) {
        pump.SYRINGE_GramsPerStep = pump.SYRINGE_SIZEmg / pump.SYRINGE_STEPS;
        pump.SYRINGE_MolsPerStep = double(pump.Fluid.MolPerML) / pump.SYRINGE_STEPS;
    } else {
        pump.SYRINGE_GramsPerStep = 0;
        pump.SYRINGE_MolsPerStep = 0;
    }

    f.EditFluidName.SetText(pump.Fluid.GasNameLong);
    f.RtDoubleEditFluidDensity.SetValue(pump.Fluid.DensityFluid20C);
    f.RtDoubleEditFluidMolPerGram.SetValue(pump.Fluid.MolPerML);
    f.RtDoubleEditFluidMolarMass.SetValue(pump.Fluid.MolarMass);
    f.RtDoubleEditSyringeGramsperStroke.SetValue(pump.SYRINGE_SIZEmg);
    f.RtDoubleEditmgperStep.SetValue(pump.SYRINGE_GramsPerStep);
    f.RtDoubleEditmolperstep.SetValue(pump.SYRINGE_MolsPerStep);
    return true;
}

void ButtonRestoreWaterClick(TMixer& mixer) {
    TForm1& f = mixer.Form;
    TGasItem water;
    water.Init();
    MakeGasItem(TGasItems::gH2O, water, 0);

    f.EditDesignedMixtureName.SetText("Water pure");
    // Selections set here do not raise the boxes' change handler.
    f.ComboBoxMix1.SetItemIndex(static_cast<int>(TGasItems::gH2O));
    f.ComboBoxMix2.SetItemIndex(-1);
    f.ComboBoxMix3.SetItemIndex(-1);
    f.ComboBoxMix4.SetItemIndex(-1);
    f.RtDoubleEdit1.SetValue(1000);
    f.RtDoubleEdit2.SetValue(0);
    f.RtDoubleEdit3.SetValue(0);
    f.RtDoubleEdit4.SetValue(0);
    f.RtDoubleEditDesignedMixtureDensity.SetValue(water.DensityFluid20C);
    FluidMixtureCalculation(mixer);
}

void ComboBoxMix1Change(TMixer& mixer) {
    mixer.Form.EditDesignedMixtureName.SetText("Designed mixture");
    FluidMixtureCalculation(mixer);
}

void RtDoubleEdit1KeyUp(TMixer& mixer) { FluidMixtureCalculation(mixer); }

void BindFluidDesignerHandlers(TMixer& mixer) {
    TForm1& f = mixer.Form;
    TMixer* m = &mixer;
    for (TComboBox* box : ComponentBoxes(f)) box->OnChange = [m](TControl&) { ComboBoxMix1Change(*m); };
    for (TRealEdit* field : MassFields(f)) field->OnKeyUp = [m](TControl&, int) { RtDoubleEdit1KeyUp(*m); };
    f.RtDoubleEditDesignedMixtureDensity.OnKeyUp = [m](TControl&, int) {
        RtDoubleEditDesignedMixtureDensityKeyUp(*m);
    };
    f.ButtonRestoreWater.OnClick = [m](TControl&) { ButtonRestoreWaterClick(*m); };
}

}  // namespace moirex
