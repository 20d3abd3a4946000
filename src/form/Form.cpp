#include "form/Form.h"

namespace moirex {

TForm1::TForm1() {
    // Display-only fields take no input, so no key-release event comes from them.
    for (TControl* c : std::initializer_list<TControl*>{
             &RtDoubleEditDesignMixtureMolarMass, &RtDoubleEditDesigtnMixtureMOLperML,
             &RtDoubleEditDesignMixtureMGperStroke, &EditFluidName, &RtDoubleEditFluidDensity,
             &RtDoubleEditFluidMolarMass, &RtDoubleEditFluidMolPerGram,
             &RtDoubleEditSyringeGramsperStroke, &RtDoubleEditmolperstep, &RtDoubleEditmgperStep,
             &RtDoubleEditAchievableFluid}) {
        c->SetEnabled(false);
    }
    RtDoubleEditAchievableFluid.DisplayFormat = "0.00";
    // Computed figures of the fluid: read at a glance, to six significant digits (the values keep
    // their full precision).
    for (TRealEdit* shown : {&RtDoubleEditDesignMixtureMolarMass, &RtDoubleEditDesigtnMixtureMOLperML,
                             &RtDoubleEditDesignMixtureMGperStroke, &RtDoubleEditFluidDensity,
                             &RtDoubleEditFluidMolarMass, &RtDoubleEditFluidMolPerGram,
                             &RtDoubleEditSyringeGramsperStroke, &RtDoubleEditmolperstep, &RtDoubleEditmgperStep})
        shown->DisplayDigits = 6;

    // A disabled page can still be shown, but its controls take no input; a disabled window
    // (instrument work in progress) takes none at all.
    const std::initializer_list<TControl*> page0{
        &ButtonSetupFindPorts, &ListBoxPortPump, &ListBoxPortMFC1, &ListBoxPortMFC2,
        &ButtonSetupValidate,  &ListBox1,        &ListBox2,        &CheckBoxPump,
        &CheckBoxMFC,          &CheckBoxGas,     &MemoSetupFeedback};
    const std::initializer_list<TControl*> page1{
        &RtDoubleEditSyringeVolume, &RtDoubleEditCustomTemp, &RtDoubleEditCustomPressure,
        &RtIntegerEditFluidPPMLimit, &ComboBoxMix1, &ComboBoxMix2, &ComboBoxMix3, &ComboBoxMix4,
        &RtDoubleEdit1, &RtDoubleEdit2, &RtDoubleEdit3, &RtDoubleEdit4, &EditDesignedMixtureName,
        &RtDoubleEditDesignedMixtureDensity, &ButtonRestoreWater, &Memo2, &ButtonApplyPumpAndFluid};
    const std::initializer_list<TControl*> page2{
        &EditDebugCOMPort, &EditDebugCOMSend, &ButtonDebugCOMSend, &Button2, &MemoDebugCOM,
        &ButtonPumpFluidFast, &EditY1DemoName, &RtDoubleEditY1DemoMass, &RtDoubleEditY1DemoRange,
        &RtDoubleEditY1DemoTurndown, &EditY2DemoName, &RtDoubleEditY2DemoMass,
        &RtDoubleEditY2DemoRange, &RtDoubleEditY2DemoTurndown, &ButtonMFCAAir, &ButtonMFCAH2,
        &ButtonMFCAH2inAr99, &ButtonMFCBAir, &ButtonMFCBN2, &Button1};
    const std::initializer_list<TControl*> page3{
        &RzTrackBarY1, &RtIntegerEditY1Flow, &RzTrackBarY2, &RtIntegerEditY2Flow, &RzTrackBarFluid,
        &RtDoubleEditFluidFlow, &RtDoubleEditStepDuration, &EditStepComments, &ButtonAddStep,
        &ButtonSegmentDelete, &ButtonApply, &ButtonStop, &RzTabbedListBoxSteps, &Memo1};
    int page = 0;
    for (const auto& controls : {page0, page1, page2}) {
        for (TControl* c : controls)
            c->SetInputGate([this, page] { return enabled_ && PageControl1.PageEnabled(page); });
        ++page;
    }
    for (TControl* c : page3) c->SetInputGate([this] { return enabled_; });
    // The operator can take remote control back at any time, also while a run has the Setup
    // page locked.
    CheckBoxAllowRemoteControl.SetInputGate([this] { return enabled_; });
}

void TForm1::SetCaption(std::string caption) {
    caption_ = std::move(caption);
    Changed();
}

void TForm1::SetWidth(int width) {
    width_ = width;
    Changed();
}

void TForm1::SetEnabled(bool enabled, bool busyCursor) {
    enabled_ = enabled;
    busyCursor_ = busyCursor;
    Changed();
}

void TForm1::Changed() {
    for (auto& observer : observers_) observer();
}

}  // namespace moirex
