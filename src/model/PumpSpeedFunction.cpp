#include "model/PumpSpeedFunction.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "support/TextFormat.h"

namespace moirex {

namespace {

constexpr int32_t StrokeSteps = 24000;
constexpr double StrokeOverhead_s = 1.668;
constexpr double ConstantVelocityCalibration = 1.000319;
constexpr double StepOverhead_ms = 0.44;
constexpr double LoopOverheadPerStroke_ms = 1039200;
constexpr int32_t SpeedMin = 5;
constexpr int32_t SpeedMax = 1000;
constexpr int32_t DelayMin = 5;
constexpr int32_t DelayMax = 30000;
constexpr int32_t DelaySearchMin = 1;
constexpr int MaxSpeedPasses = 25;
constexpr double WantedInTable_ugpm = 95000;

int32_t HalfRounded(int32_t sum) { return static_cast<int32_t>(RoundHalfEven(sum / 2.0)); }

std::string ConstantVelocityCommand(int32_t V) {
    return "gIV6000A24000OV" + std::to_string(V) + "A0GR";
}

std::string DynamicLoopCommand(int32_t M) {
    return "gIV6000A24000OV1000gD1M" + std::to_string(M) + "G24000GR";
}

void AppendTraceLine(std::string& feedback, int32_t lo, double errLo, int32_t hi, double errHi) {
    feedback += "BL:" + std::to_string(lo) + " EL:" + FormatGeneral(errLo) + " * BH:" +
                std::to_string(hi) + " EH:" + FormatGeneral(errHi);
    feedback += CRLF;
}

// Bisection on M; the modelled rate falls as M grows. The M computed last is not compared.
void DynamicLoopSearch(TPumpSpeedDetails& details) {
    const double wanted = details.DesiredDispense_ugpm;
    int32_t lo = DelaySearchMin;
    int32_t hi = DelayMax;
    int32_t M = HalfRounded(lo + hi);
    double rate = DynamicLoopDispense(details, M);
    double error = wanted - rate;
    double bestError = std::numeric_limits<double>::max();
    int32_t bestM = M;
    double bestRate = rate;
    while (hi - lo > 1) {
        if (std::fabs(error) < std::fabs(bestError)) {
            bestError = error;
            bestM = M;
            bestRate = rate;
        }
        if (error > 0)
            hi = M;
        else
            lo = M;
        M = HalfRounded(lo + hi);
        rate = DynamicLoopDispense(details, M);
        error = wanted - rate;
    }
    details.Command = DynamicLoopCommand(bestM);
    details.AchievedDispense_ugpm = bestRate;
}

// Bracket on V; the modelled rate rises with V. Each pass is traced in Feedback.
void ConstantVelocitySearch(TPumpSpeedDetails& details) {
    const double wanted = details.DesiredDispense_ugpm;
    int32_t lo = SpeedMin;
    int32_t hi = SpeedMax;
    double errLo = 0;
    double errHi = 0;
    int passes = 0;
    while (hi - lo > 1 && passes < MaxSpeedPasses) {
        ++passes;
        errLo = wanted - ConstantVelocityDispense(details, lo);
        errHi = wanted - ConstantVelocityDispense(details, hi);
        AppendTraceLine(details.Feedback, lo, errLo, hi, errHi);
        if (errLo < 0) {
            lo = HalfRounded(lo);
            if (lo <= SpeedMin) lo = SpeedMin;
        } else if (errHi > 0) {
            hi = 2 * hi;
            if (hi >= SpeedMax) hi = SpeedMax;
        } else {
            const int32_t mid = HalfRounded(lo + hi);
            if (std::fabs(errHi) > std::fabs(errLo))
                hi = mid;
            else
                lo = mid;
        }
        if (lo <= SpeedMin) lo = SpeedMin;
        if (hi >= SpeedMax) hi = SpeedMax;
    }
    // The closing line shows the final bracket with the errors of the last pass.
    AppendTraceLine(details.Feedback, lo, errLo, hi, errHi);
    errLo = wanted - ConstantVelocityDispense(details, lo);
    errHi = wanted - ConstantVelocityDispense(details, hi);
    const int32_t V = std::fabs(errHi) > std::fabs(errLo) ? lo : hi;
    details.Command = ConstantVelocityCommand(V);
    details.AchievedDispense_ugpm = ConstantVelocityDispense(details, V);
}

}  // namespace

void TPumpSpeedDetails::Init() {
    SyringeVolume_ul = 12.5;
    TotalSteps = StrokeSteps;
    FluidDensity = 1.0;
    DesiredDispense_ugpm = 0;
    AchievedDispense_ugpm = 0;
    MaxSpeed = 10000;
    RetractTime_s = 5.78;
    Info = TPumpSpeedInfo::psUndefined;
    PumpFrequency = 0;
    Feedback.clear();
}

double ConstantVelocityDispense(const TPumpSpeedDetails& details, int32_t V) {
    V = std::clamp(V, SpeedMin, SpeedMax);
    const double period_s =
        (static_cast<double>(StrokeSteps) / V / 4) * ConstantVelocityCalibration + StrokeOverhead_s;
    return 60 / period_s * details.SyringeVolume_ul * 1000 * details.FluidDensity;
}

double DynamicLoopDispense(const TPumpSpeedDetails& details, int32_t M) {
    M = std::clamp(M, DelayMin, DelayMax);
    const double period_s =
        ((M + StepOverhead_ms) * StrokeSteps + LoopOverheadPerStroke_ms) / 1000 + StrokeOverhead_s;
    return details.SyringeVolume_ul / (period_s / 60) * 1000 * details.FluidDensity;
}

namespace {

// The whole number between `prefix` and `suffix` of `command`, without sign or leading zero.
bool NumberBetween(std::string_view command, std::string_view prefix, std::string_view suffix, int32_t& n) {
    if (command.size() <= prefix.size() + suffix.size()) return false;
    if (command.substr(0, prefix.size()) != prefix) return false;
    if (command.substr(command.size() - suffix.size()) != suffix) return false;
    const std::string_view digits = command.substr(prefix.size(), command.size() - prefix.size() - suffix.size());
    if (digits.size() > 5 || digits[0] == '0') return false;
    n = 0;
    for (char c : digits) {
        if (c < '0' || c > '9') return false;
        n = n * 10 + (c - '0');
    }
    return true;
}

}  // namespace

bool PumpCommandDispense(const TPumpSpeedDetails& details, std::string_view command, double& rate) {
    if (command == "TR") {
        rate = 0;
        return true;
    }
    int32_t n = 0;
    if (NumberBetween(command, "gIV6000A24000OV", "A0GR", n) && n >= SpeedMin && n <= SpeedMax &&
        command == ConstantVelocityCommand(n)) {
        rate = ConstantVelocityDispense(details, n);
        return true;
    }
    if (NumberBetween(command, "gIV6000A24000OV1000gD1M", "G24000GR", n) && n >= DelaySearchMin && n <= DelayMax &&
        command == DynamicLoopCommand(n)) {
        rate = DynamicLoopDispense(details, n);
        return true;
    }
    return false;
}

bool CalculatePumpSpeed(TPumpSpeedDetails& details) {
    if (details.DesiredDispense_ugpm == 0) {
        details.AchievedDispense_ugpm = 0;
        details.Command = "TR";
        return true;
    }
    if (ConstantVelocityDispense(details, SpeedMin) < details.DesiredDispense_ugpm)
        ConstantVelocitySearch(details);
    else
        DynamicLoopSearch(details);
    return true;
}

std::vector<std::string> PumpTableLines(double syringeVolume_ul, double fluidDensity) {
    TPumpSpeedDetails details;
    details.SyringeVolume_ul = syringeVolume_ul;
    details.FluidDensity = fluidDensity;
    const std::string perMinute = " µg/min";

    std::vector<std::string> lines;
    lines.emplace_back();
    lines.push_back("                             Syringe volume : " + FormatGeneral(syringeVolume_ul) +
                    " µl");
    lines.push_back("Code                                   Name : flow");
    lines.push_back("@M30000       Dynamic loop minimum dispense : " +
                    FormatGeneral(DynamicLoopDispense(details, 30000)) + perMinute);
    lines.push_back("@M1000                Dynamic loop dispense : " +
                    FormatGeneral(DynamicLoopDispense(details, 1000)) + perMinute);
    lines.push_back("@M5           Dynamic loop maximum dispense : " +
                    FormatGeneral(DynamicLoopDispense(details, 5)) + perMinute);
    lines.push_back("@V5      Constant velocity minimum dispense : " +
                    FormatGeneral(ConstantVelocityDispense(details, 5)) + perMinute);
    lines.push_back("@V1000   Constant velocity maximum dispense : " +
                    FormatGeneral(ConstantVelocityDispense(details, 1000)) + perMinute);
    lines.emplace_back();
    // Speed 6000 moves the plunger a full stroke in 0.0556 min: the volume, not a mass.
    lines.push_back("@V6000        Theorethical maximum dispense : " +
                    FormatGeneral(syringeVolume_ul * 17.985611510791367) + perMinute);
    lines.push_back("@V6000 is not in use. For flows above @V1000, use larger syringe instead");

    details.DesiredDispense_ugpm = WantedInTable_ugpm;
    CalculatePumpSpeed(details);
    lines.emplace_back();
    const std::string& trace = details.Feedback;
    size_t start = 0;
    while (start < trace.size()) {
        size_t end = trace.find(CRLF, start);
        if (end == std::string::npos) end = trace.size();
        lines.push_back(trace.substr(start, end - start));
        start = end + CRLF.size();
    }
    lines.push_back("Pump desired flow: " + FormatGeneral(WantedInTable_ugpm) + perMinute);
    lines.push_back("Pump best match flow: " + FormatGeneral(details.AchievedDispense_ugpm) + perMinute +
                    " with command: " + details.Command);
    return lines;
}

std::string PumpTableText(double syringeVolume_ul, double fluidDensity) {
    std::string text;
    for (const auto& line : PumpTableLines(syringeVolume_ul, fluidDensity)) {
        text += line;
        text += CRLF;
    }
    return text;
}

}  // namespace moirex
