#include "core/SegmentProgram.h"

#include <algorithm>
#include <array>
#include <cmath>

#include "config/SimulationMode.h"
#include "core/SegmentChecks.h"
#include "form/Dialogs.h"
#include "form/Form.h"
#include "model/FlowSetpoints.h"
#include "model/MixtureReport.h"
#include "support/TextFormat.h"

namespace moirex {

namespace {

void ReplaceAll(std::string& text, const std::string& from, const std::string& to) {
    for (size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
        text.replace(at, from.size(), to);
}

}  // namespace

std::string AddOrSaveSegment(TMixer& mixer) {
    TForm1& f = mixer.Form;
    // A flow still being typed is taken as entered.
    FinishFlowEntries(mixer);
    ApplysimulationValues(mixer);

    TGasItem segment;
    segment.Init();
    CreateMixture(mixer, segment);

    const double temperature = f.RtDoubleEditCustomTemp.Value();
    const double pressure = f.RtDoubleEditCustomPressure.Value();
    TComponentDictionary dictionary;
    CollectComponents(segment, dictionary);
    MixtureReport(dictionary, segment, temperature, pressure);

    if (segment.Components.empty() || !segment.Valid) {
        f.Memo1.SetText(f.Memo1.Text() + std::string(CRLF) + InvalidSegmentMessage);
        return InvalidSegmentMessage;
    }
    const TSegmentCheck check = CheckSegment(segment, MixtureFigures(dictionary, temperature, pressure),
                                             temperature, pressure);
    if (!check.Refusal.empty()) {
        f.Memo1.Add("");
        f.Memo1.Add(check.Refusal);
        return check.Refusal;
    }
    for (const std::string& question : check.Questions) {
        const std::string crlf(CRLF);
        if (mixer.Dlg.AskYesNo(question + crlf + crlf + "Add the segment anyway?", "Unusual segment"))
            continue;
        const std::string refusal = "Segment not added. " + question;
        f.Memo1.Add("");
        f.Memo1.Add(refusal);
        return refusal;
    }

    const int selected = f.RzTabbedListBoxSteps.ItemIndex();
    TListBox& list = f.RzTabbedListBoxSteps;
    if (selected >= 0 && static_cast<size_t>(selected) < mixer.StepProgram.size()) {
        mixer.StepProgram[static_cast<size_t>(selected)] = segment;
        ShowStepProgram(mixer);
    } else if (static_cast<size_t>(list.Count()) == mixer.StepProgram.size()) {
        // Appended: one row more, not the whole list again (a long program loads in linear time).
        mixer.StepProgram.push_back(segment);
        list.AddItem(StepProgramLine(segment, mixer.StepProgram.size()), 0);
    } else {
        mixer.StepProgram.push_back(segment);
        ShowStepProgram(mixer);
    }
    return {};
}

void ButtonAddStepClick(TMixer& mixer) { AddOrSaveSegment(mixer); }

void ButtonSegmentDeleteClick(TMixer& mixer) {
    TForm1& f = mixer.Form;
    if (mixer.StepProgram.empty() || mixer.MixerState == TMixerState::msOperating) {
        f.Memo1.Add("");
        f.Memo1.Add(DeleteRefusedMessage);
    } else {
        mixer.StepProgram.pop_back();
    }
    ShowStepProgram(mixer);
}

std::string StepProgramLine(const TGasItem& segment, size_t n) {
    const double hours = std::floor(segment.StepTime);
    std::string line = std::to_string(n) + "\t" + segment.StepName + "\t";
    line += FormatMask(hours, "0") + " h ";
    const std::string minutes = FormatMask((segment.StepTime - hours) * 60, "00");
    line += minutes + " min ";
    // A segment shorter than half a minute would read as no time at all: its seconds.
    if (hours == 0 && minutes == "00" && segment.StepTime > 0)
        line += FormatMask(segment.StepTime * 3600, "0.#") + " s ";
    line += "\t";

    std::string flows;
    const size_t count = std::min<size_t>(segment.Components.size(), 10);
    for (size_t k = 0; k < count; ++k) {
        const TGasItem& part = segment.Components[k];
        flows += std::to_string(part.InstrumentID) + ":" +
                 std::to_string(RoundHalfEven(double(part.Mass) * 1000000.0)) + " ";
    }
    ReplaceAll(flows, "0:", "A:");
    ReplaceAll(flows, "1:", "B:");
    ReplaceAll(flows, "2:", "C:");
    return line + flows;
}

void ShowStepProgram(TMixer& mixer) {
    std::vector<TListItem> lines;
    for (size_t k = 0; k < mixer.StepProgram.size(); ++k)
        lines.push_back({StepProgramLine(mixer.StepProgram[k], k + 1), 0});
    mixer.Form.RzTabbedListBoxSteps.SetItems(std::move(lines));
}

void RetrieveStep(TMixer& mixer) {
    TForm1& f = mixer.Form;
    const int selected = f.RzTabbedListBoxSteps.ItemIndex();
    if (selected < 0 || static_cast<size_t>(selected) >= mixer.StepProgram.size()) return;
    const TGasItem segment = mixer.StepProgram[static_cast<size_t>(selected)];

    std::array<double, 3> flows{0, 0, 0};  // gas A, gas B, fluid; µg/min
    const size_t count = std::min<size_t>(segment.Components.size(), 3);
    for (size_t k = 0; k < count; ++k) {
        const TGasItem& part = segment.Components[k];
        if (part.InstrumentID >= 0 && part.InstrumentID <= 2)
            flows[static_cast<size_t>(part.InstrumentID)] = double(part.Mass) * 1000000.0;
    }

    f.EditStepComments.SetText(segment.StepName);
    f.RtDoubleEditStepDuration.SetValue(segment.StepTime);
    f.RtIntegerEditY1Flow.SetValue(RoundHalfEven(flows[0]));
    f.RtIntegerEditY2Flow.SetValue(RoundHalfEven(flows[1]));
    f.RtDoubleEditFluidFlow.SetValue(double(RoundHalfEven(flows[2])));
    FluidFlowUpdate(mixer);
    UpdateTrackbars(mixer);
}

void ClearStepProgram(TMixer& mixer) {
    mixer.StepProgram.clear();
    mixer.Form.RzTabbedListBoxSteps.Clear();
}

void RzTabbedListBoxStepsClick(TMixer& mixer) { RetrieveStep(mixer); }

void RzTabbedListBoxStepsKeyUp(TMixer& mixer, int key) {
    if (key == keys::Escape) mixer.Form.RzTabbedListBoxSteps.SetItemIndex(-1);
    RetrieveStep(mixer);
}

void RtDoubleEditStepDurationKeyUp(TMixer& mixer) { FluidFlowUpdate(mixer); }

void BindSegmentProgramHandlers(TMixer& mixer) {
    TForm1& f = mixer.Form;
    TMixer* m = &mixer;
    f.ButtonAddStep.OnClick = [m](TControl&) { ButtonAddStepClick(*m); };
    f.ButtonSegmentDelete.OnClick = [m](TControl&) { ButtonSegmentDeleteClick(*m); };
    f.RzTabbedListBoxSteps.OnClick = [m](TControl&) { RzTabbedListBoxStepsClick(*m); };
    f.RzTabbedListBoxSteps.OnKeyUp = [m](TControl&, int key) { RzTabbedListBoxStepsKeyUp(*m, key); };
    f.RtDoubleEditStepDuration.OnKeyUp = [m](TControl&, int) { RtDoubleEditStepDurationKeyUp(*m); };
}

}  // namespace moirex
