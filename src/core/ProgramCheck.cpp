#include "core/ProgramCheck.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "core/SegmentProgram.h"
#include "form/Form.h"
#include "model/MixtureReport.h"
#include "support/TextFormat.h"

namespace moirex {

namespace {

constexpr double NaN = std::numeric_limits<double>::quiet_NaN();

TDoseCheck GasDose(const TGasItem& part, double hours) {
    TDoseCheck d;
    d.Present = true;
    d.Name = part.GasNameLong.empty() ? part.GasNameMFC : part.GasNameLong;
    d.Flow_gpm = part.Mass;
    d.Mass_g = double(part.Mass) * 60.0 * hours;
    d.NormalVolume_ml = part.MolarMass > 0 ? d.Mass_g / part.MolarMass * NormalMolarVolume_l * 1000.0 : NaN;
    return d;
}

TDoseCheck FluidDose(const TGasItem& part, double hours, const TPumpDetails& pump) {
    TDoseCheck d;
    d.Present = true;
    d.Name = part.GasNameLong.empty() ? part.GasNameMFC : part.GasNameLong;
    d.Flow_gpm = part.Mass;
    d.Mass_g = double(part.Mass) * 60.0 * hours;
    const double density = part.DensityFluid20C > 0 ? part.DensityFluid20C : pump.Fluid.DensityFluid20C;
    d.Volume_ml = density > 0 ? d.Mass_g / density : NaN;
    d.Strokes = pump.SYRINGE_VOLUMEul > 0 ? d.Volume_ml * 1000.0 / pump.SYRINGE_VOLUMEul : NaN;
    return d;
}

void AddTo(TDoseCheck& total, const TDoseCheck& d) {
    if (!d.Present) return;
    if (!total.Present) total.Name = d.Name;
    else if (total.Name != d.Name) total.Name.clear();  // more than one gas: no one name for the sum
    total.Present = true;
    total.Flow_gpm = std::max(total.Flow_gpm, d.Flow_gpm);
    total.Mass_g += d.Mass_g;
    total.NormalVolume_ml += d.NormalVolume_ml;
    total.Volume_ml += d.Volume_ml;
    total.Strokes += d.Strokes;
}

// Hours as h:mm:ss, rounded to the second.
std::string Duration(double hours) {
    if (!std::isfinite(hours) || hours < 0) return "?";
    const long long s = static_cast<long long>(std::llround(hours * 3600.0));
    return std::to_string(s / 3600) + ":" + FormatMask(double((s / 60) % 60), "00") + ":" + FormatMask(double(s % 60), "00");
}

std::string Figure(double v, const char* mask, const char* unit) {
    if (std::isnan(v)) return "?";
    return FormatMask(v, mask) + unit;
}

std::string NumberList(const std::vector<size_t>& numbers) {
    std::string t;
    for (size_t n : numbers) t += (t.empty() ? "" : ", ") + std::to_string(n);
    return t;
}

// One line per gas and for the fluid, short enough for the report pane: the flows themselves are
// in the segment list.
void DoseLines(std::vector<std::string>& lines, const TSegmentCheck& s, bool whole) {
    auto named = [](const char* what, const TDoseCheck& d) {
        return FitLeft(std::string(what) + (d.Name.empty() ? "" : " " + d.Name), 20);
    };
    for (const auto& [what, d] : {std::pair{"Gas A", &s.GasA}, std::pair{"Gas B", &s.GasB}}) {
        if (!d->Present) continue;
        std::string line = "  " + named(what, *d) + " " + Figure(d->Mass_g, "0.000 000", " g") + "   " +
                           (std::isnan(d->NormalVolume_ml) ? std::string("? mln (molar mass unknown)")
                                                           : FormatMask(d->NormalVolume_ml, "0.0") + " mln");
        if (!whole && d == &s.GasA && s.Pulsed < 1.0f) line += "   pulsed " + FormatMask(s.Pulsed * 100.0, "0.0") + " %";
        lines.push_back(line);
    }
    if (s.FluidC.Present) {
        const TDoseCheck& d = s.FluidC;
        lines.push_back("  " + named("Fluid C", d) + " " + Figure(d.Mass_g, "0.000 000", " g") + "   " +
                        Figure(d.Volume_ml * 1000.0, "0.0", " \u00B5l") + "   " + Figure(d.Strokes, "0.00", "") +
                        " syringe strokes");
        if (!whole && !s.PumpCommand.empty()) lines.push_back("  " + FitLeft("", 20) + " pump command " + s.PumpCommand);
    }
}

}  // namespace

TProgramCheck CheckProgram(const std::vector<TGasItem>& program, const TPumpDetails& pump, TDateTime start,
                           const std::vector<std::vector<std::string>>* corrections) {
    TProgramCheck check;
    check.Start = start;
    check.CorrectionsKnown = corrections != nullptr;
    check.Total.End = start;
    double hoursSoFar = 0;
    for (size_t i = 0; i < program.size(); ++i) {
        const TGasItem& segment = program[i];
        TSegmentCheck s;
        s.Number = i + 1;
        s.Name = segment.StepName;
        // A segment of no duration ends at the first tick: it adds no time and no flow.
        s.Hours = std::max(0.0, segment.StepTime);
        for (const TGasItem& part : segment.Components) {
            switch (part.InstrumentID) {
                case 0:
                    s.GasA = GasDose(part, s.Hours);
                    s.Pulsed = part.Pulsed;
                    break;
                case 1: s.GasB = GasDose(part, s.Hours); break;
                case 2:
                    s.FluidC = FluidDose(part, s.Hours, pump);
                    s.PumpCommand = part.PumpCommand;
                    break;
                default: break;
            }
        }
        if (corrections && i < corrections->size()) s.Corrections = (*corrections)[i];
        hoursSoFar += s.Hours;
        s.End = start + hoursSoFar / 24.0;

        check.Total.Hours += s.Hours;
        AddTo(check.Total.GasA, s.GasA);
        AddTo(check.Total.GasB, s.GasB);
        AddTo(check.Total.FluidC, s.FluidC);
        if (s.GasA.Present && s.Pulsed < 1.0f) check.PulsedSegments.push_back(s.Number);
        if (!s.Corrections.empty()) check.CorrectedSegments.push_back(s.Number);
        check.Segments.push_back(std::move(s));
    }
    check.Total.End = start + check.Total.Hours / 24.0;
    return check;
}

std::vector<std::string> ProgramCheckLines(const TProgramCheck& check) {
    std::vector<std::string> lines;
    lines.push_back("Check of the segment program if started now, " +
                    FormatDateTime("yyyy-mm-dd hh:mm:ss", check.Start));
    lines.push_back("Gases: mass, and volume at 0 \u00BAC, 1013.25 mBar. Fluid: mass, volume at 20 \u00BAC, strokes.");
    if (check.Segments.empty()) {
        lines.push_back("No segment program to check.");
        return lines;
    }
    for (const TSegmentCheck& s : check.Segments) {
        lines.push_back("");
        lines.push_back("Segment " + std::to_string(s.Number) + " \"" + s.Name + "\": " + Duration(s.Hours) +
                        ", ends " + FormatDateTime("yyyy-mm-dd hh:mm:ss", s.End));
        DoseLines(lines, s, false);
        for (const std::string& c : s.Corrections) lines.push_back("  Corrected: " + c);
    }
    const size_t n = check.Segments.size();
    lines.push_back("");
    lines.push_back("Whole program: " + std::to_string(n) + (n == 1 ? " segment, " : " segments, ") +
                    Duration(check.Total.Hours) + ", ends " + FormatDateTime("yyyy-mm-dd hh:mm:ss", check.Total.End));
    DoseLines(lines, check.Total, true);
    lines.push_back("  Gas A pulsed in segments: " +
                    (check.PulsedSegments.empty() ? std::string("none") : NumberList(check.PulsedSegments)));
    lines.push_back("  Flows corrected in segments: " +
                    (!check.CorrectionsKnown             ? std::string("not known (known for a program opened from a file)")
                     : check.CorrectedSegments.empty() ? std::string("none")
                                                       : NumberList(check.CorrectedSegments)));
    return lines;
}

namespace {

std::vector<std::string> Signature(const std::vector<TGasItem>& program) {
    std::vector<std::string> lines;
    for (size_t i = 0; i < program.size(); ++i) {
        std::string line = StepProgramLine(program[i], i + 1);
        for (const TGasItem& part : program[i].Components) line += "|" + part.PumpCommand;
        lines.push_back(std::move(line));
    }
    return lines;
}

}  // namespace

void TOpenedProgramCorrections::Remember(const std::vector<TGasItem>& program,
                                         const std::vector<std::vector<std::string>>& corrections) {
    signature_ = Signature(program);
    corrections_ = corrections;
    remembered_ = true;
}

const std::vector<std::vector<std::string>>* TOpenedProgramCorrections::For(const std::vector<TGasItem>& program) const {
    return remembered_ && Signature(program) == signature_ ? &corrections_ : nullptr;
}

void ShowProgramCheck(TMixer& mixer, TDateTime now, const std::vector<std::vector<std::string>>* corrections) {
    const TProgramCheck check = CheckProgram(mixer.StepProgram, mixer.PumpDetails, now, corrections);
    TMemo& memo = mixer.Form.Memo1;
    memo.Clear();
    for (const std::string& line : ProgramCheckLines(check)) memo.Add(line);
}

}  // namespace moirex
