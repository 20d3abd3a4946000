#include "core/ProgramOpenSave.h"

#include <charconv>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <fstream>
#include <sstream>

#include "core/ProgramSegments.h"
#include "core/SegmentProgram.h"
#include "form/Dialogs.h"
#include "form/Form.h"
#include "model/FlowSetpoints.h"
#include "support/ReplaceFile.h"
#include "support/TextFormat.h"

namespace moirex {

namespace {

bool RunUnderWay(const TMixer& mixer) {
    return mixer.MixerState == TMixerState::msOperating || mixer.MixerState == TMixerState::msStopping;
}

// What the operator has in the segment editors, put back after the program's segments went
// through them.
struct TEditorValues {
    std::string Comment;
    double Hours;
    int64_t GasA, GasB;
    double Fluid;

    explicit TEditorValues(const TForm1& f)
        : Comment(f.EditStepComments.Text()),
          Hours(f.RtDoubleEditStepDuration.Value()),
          GasA(f.RtIntegerEditY1Flow.Value()),
          GasB(f.RtIntegerEditY2Flow.Value()),
          Fluid(f.RtDoubleEditFluidFlow.Value()) {}

    void Restore(TMixer& mixer) const {
        TForm1& f = mixer.Form;
        f.EditStepComments.SetText(Comment);
        f.RtDoubleEditStepDuration.SetValue(Hours);
        f.RtIntegerEditY1Flow.SetValue(GasA);
        FlowUpdateY1(mixer, false);
        f.RtIntegerEditY2Flow.SetValue(GasB);
        FlowUpdateY2(mixer, false);
        f.RtDoubleEditFluidFlow.SetValue(Fluid);
        FluidFlowUpdate(mixer);
    }
};

void Tell(TMixer& mixer, TProgramOpenOutcome& out, bool refused) {
    TMemo& memo = mixer.Form.Memo1;
    memo.Add("");
    for (const std::string& line : out.Lines) memo.Add(line);
    if (refused) {
        std::string text;
        for (const std::string& line : out.Lines) text += (text.empty() ? "" : std::string(CRLF)) + line;
        mixer.Dlg.ShowMessage(text);
    }
}

TProgramOpenOutcome Refuse(TMixer& mixer, const std::string& name, const std::vector<std::string>& faults) {
    TProgramOpenOutcome out;
    out.Lines.push_back("Program " + name + " not opened:");
    for (const std::string& f : faults) out.Lines.push_back("  " + f);
    out.Lines.push_back("The segment program is unchanged.");
    Tell(mixer, out, true);
    return out;
}

// A flow of a segment record (g/min, single precision) in µg/min, as the shortest decimal that
// reads back as the same single-precision value: 3000.29, not 3000.2900390625.
double SingleFlow_ugpm(float mass_gpm) {
    const std::string text = ShortestText(static_cast<float>(static_cast<double>(mass_gpm) * 1000000.0));
    double value = 0;
    std::from_chars(text.data(), text.data() + text.size(), value);
    return value;
}

TProgramOpenOutcome RefuseWhileRunning(TMixer& mixer) {
    TProgramOpenOutcome out;
    out.Lines.push_back(OpenRefusedWhileRunning);
    Tell(mixer, out, true);
    return out;
}

}  // namespace

bool OpenProgramRefused(TMixer& mixer) {
    if (!RunUnderWay(mixer)) return false;
    RefuseWhileRunning(mixer);
    return true;
}

TProgramOpenOutcome OpenProgramText(TMixer& mixer, std::string_view text, const std::string& name) {
    if (RunUnderWay(mixer)) return RefuseWhileRunning(mixer);
    const TProgramFileResult file = ParseProgramFile(text);
    if (!file.Ok()) return Refuse(mixer, name, file.Errors);

    TForm1& f = mixer.Form;
    const TEditorValues editors(f);
    const std::vector<TGasItem> before = mixer.StepProgram;
    const int selected = f.RzTabbedListBoxSteps.ItemIndex();

    mixer.StepProgram.clear();
    f.RzTabbedListBoxSteps.SetItemIndex(-1);  // every segment is appended, none saved over
    std::vector<std::string> refusals;
    std::vector<std::string> told;  // each correction, naming its segment and line
    std::vector<std::vector<std::string>> corrections;
    for (size_t i = 0; i < file.Segments.size(); ++i) {
        const TProgramSegment& s = file.Segments[i];
        const SegmentBuildOutcome built = AddProgramSegment(mixer, s);
        const std::string where =
            "segment " + std::to_string(i + 1) + " (line " + std::to_string(s.Line) + ", " + s.Name + "): ";
        if (!built.Added) refusals.push_back("line " + std::to_string(s.Line) + ": " + where + built.Refusal);
        for (const std::string& c : built.Corrections) told.push_back("  " + where + c);
        corrections.push_back(built.Corrections);
    }

    editors.Restore(mixer);
    if (!refusals.empty()) {
        mixer.StepProgram = before;
        ShowStepProgram(mixer);
        f.RzTabbedListBoxSteps.SetItemIndex(selected);
        return Refuse(mixer, name, refusals);
    }
    ShowStepProgram(mixer);

    TProgramOpenOutcome out;
    out.Opened = true;
    const size_t n = mixer.StepProgram.size();
    out.Lines.push_back("Program " + name + " opened: " + std::to_string(n) + (n == 1 ? " segment." : " segments."));
    out.Lines.insert(out.Lines.end(), told.begin(), told.end());
    out.Corrections = std::move(corrections);
    Tell(mixer, out, false);
    return out;
}

TProgramOpenOutcome OpenProgramFile(TMixer& mixer, const std::string& path) {
    if (RunUnderWay(mixer)) return OpenProgramText(mixer, "", path);
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        const int err = errno;
        return Refuse(mixer, path, {"cannot read it: " + std::string(std::strerror(err))});
    }
    std::ostringstream text;
    text << in.rdbuf();
    if (in.bad()) return Refuse(mixer, path, {"cannot read it"});
    return OpenProgramText(mixer, text.str(), path);
}

TProgramSegment ProgramFileSegment(const TGasItem& segment) {
    TProgramSegment s;
    s.Name = segment.StepName;
    s.Hours = segment.StepTime;
    for (const TGasItem& part : segment.Components) {
        switch (part.InstrumentID) {
            case 0: s.GasA_ugpm = RoundHalfEven(double(part.Mass) * 1000000.0); break;
            case 1: s.GasB_ugpm = RoundHalfEven(double(part.Mass) * 1000000.0); break;
            case 2:
                s.Fluid_ugpm = SingleFlow_ugpm(part.Mass);
                s.PumpCommand = part.PumpCommand;
                break;
            default: break;
        }
    }
    return s;
}

std::string ProgramFileText(const TMixer& mixer, TDateTime now) {
    std::vector<TProgramSegment> segments;
    for (const TGasItem& s : mixer.StepProgram) segments.push_back(ProgramFileSegment(s));
    const TForm1& f = mixer.Form;
    const TPumpDetails& pump = mixer.PumpDetails;
    return FormatProgramFile(segments, {
                                           "Moirex segment program, saved " + FormatDateTime("yyyy-mm-dd hh:mm:ss", now),
                                           f.GroupBoxY1.Caption(),
                                           f.GroupBoxY2.Caption(),
                                           f.GroupBoxX.Caption(),
                                           "Syringe " + FormatGeneral(pump.SYRINGE_VOLUMEul) + " \u00B5l, fluid density " +
                                               ShortestText(pump.Fluid.DensityFluid20C) + " g/ml",
                                       });
}

bool SaveProgramFile(TMixer& mixer, const std::string& path, TDateTime now) {
    if (mixer.StepProgram.empty()) {
        mixer.Dlg.ShowMessage(NothingToSave);
        return false;
    }
    std::string error;
    if (!ReplaceFileContents(path, ProgramFileText(mixer, now), error)) {
        mixer.Dlg.ShowError("Could not write file \"" + path + "\". " + error);
        return false;
    }
    const size_t n = mixer.StepProgram.size();
    mixer.Form.Memo1.Add("");
    mixer.Form.Memo1.Add("Program saved to " + path + ": " + std::to_string(n) + (n == 1 ? " segment." : " segments."));
    return true;
}

}  // namespace moirex
