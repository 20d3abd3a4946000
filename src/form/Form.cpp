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
