#include "model/DesignByTarget.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>
#include <optional>

#include "model/MixtureReport.h"
#include "support/TextFormat.h"

namespace moirex {

namespace {

constexpr double PerMillion = 1e6;
constexpr int64_t OneGram_ugpm = 1000000;
// Each gas flow is proposed in whole µg/min: at most half of one away from the exact flow.
constexpr double HalfMicrogram_gpm = 0.5e-6;
// The report sums and divides in single precision: a relative error of a few 1e-7 at most.
constexpr double SinglePrecisionAllowance = 1e-6;
// Room for the rounding of a flow to whole µg/min at a range end: a flow that rounds onto the
// end is within the range.
constexpr double RoundingSlack_ugpm = 0.499;

const char* const LimitMaxA = "MFC A's maximum";
const char* const LimitMaxB = "MFC B's maximum";
const char* const LimitMinB = "MFC B's minimum";
const char* const LimitPumpMax = "the pump's maximum";
const char* const LimitPumpMin = "the pump's minimum";
const char* const LimitFluidPpm = "the fluid ppm limit";
const char* const LimitSaturation = "RH above 100 % at these conditions";
const char* const LimitPumpSteps = "the pump's steps";

std::string Ppm(double ppm) { return FormatMask(ppm, "# ### ##0.##") + " ppm"; }
std::string Ugpm(double ugpm) { return FormatMask(ugpm, "0.##") + " µg/min"; }

// One gram of a source, as the report counts it: moles, and of them the component's, water's and
// the pump's fluid's.
struct TPerGram {
    double Moles = 0;
    double Component = 0;
    double Water = 0;
    double Fluid = 0;
};

TPerGram PerGram(const TGasItem& unitPart, const std::string& key) {
    TPerGram g;
    if (unitPart.GasNameMFC.empty()) return g;
    TComponentDictionary dictionary;
    CollectComponents(unitPart, dictionary);
    double mass = 0;
    for (size_t i = 0; i < dictionary.Count(); ++i) {
        const auto& [name, entry] = dictionary.Entries()[i];
        mass += entry.Mass;
        if (!(entry.MolarMass > 0)) continue;
        const double moles = double(entry.Mass) / entry.MolarMass;
        g.Moles += moles;
        if (name == key) g.Component += moles;
        if (name == "H2O") g.Water += moles;
        g.Fluid += double(dictionary.FluidMassAt(i)) / entry.MolarMass;
    }
    if (mass > 0) {
        g.Moles /= mass;
        g.Component /= mass;
        g.Water /= mass;
        g.Fluid /= mass;
    }
    return g;
}

// The short name under which the report lists `name` (a short or long name), when gas A or gas B
// holds it; empty otherwise.
std::string ComponentKey(const TGasItem& a, const TGasItem& b, const std::string& name) {
    for (const TGasItem* gas : {&a, &b}) {
        TComponentDictionary dictionary;
        CollectComponents(*gas, dictionary);
        for (const auto& [key, entry] : dictionary)
            if (key == name || entry.GasNameLong == name) return key;
    }
    return {};
}

// Solves the n × n system (n ≤ 3, right-hand side in column n) by elimination with partial
// pivoting; nothing when it is singular for the scale of its coefficients.
std::optional<std::array<double, 3>> Solve(std::array<std::array<double, 4>, 3> m, size_t n) {
    double scale = 0;
    for (size_t i = 0; i < n; ++i)
        for (size_t j = 0; j < n; ++j) scale = std::max(scale, std::fabs(m[i][j]));
    if (!(scale > 0)) return std::nullopt;
    for (size_t col = 0; col < n; ++col) {
        size_t pivot = col;
        for (size_t row = col + 1; row < n; ++row)
            if (std::fabs(m[row][col]) > std::fabs(m[pivot][col])) pivot = row;
        if (!(std::fabs(m[pivot][col]) > scale * 1e-12)) return std::nullopt;
        std::swap(m[pivot], m[col]);
        for (size_t row = 0; row < n; ++row) {
            if (row == col) continue;
            const double f = m[row][col] / m[col][col];
            for (size_t k = col; k <= n; ++k) m[row][k] -= f * m[col][k];
        }
    }
    std::array<double, 3> x{};
    for (size_t i = 0; i < n; ++i) x[i] = m[i][n] / m[i][i];
    for (size_t i = 0; i < n; ++i)
        if (!std::isfinite(x[i])) return std::nullopt;
    return x;
}

// A bound of the scale set by one instrument's range: `Test` with the room of rounding to whole
// µg/min, `Hold` the scale that puts the instrument exactly on its range end.
struct TScaleBound {
    double Test = 0;
    double Hold = 0;
    std::string Name;
};

// How the gas flows were rounded to whole µg/min: each on its own, or one first and the other
// moved by OtherPerFirst µg/min per µg/min of the first to keep the component's balance.
struct TRounding {
    bool Compensated = false;
    bool FirstIsA = true;
    double OtherPerFirst = 0;
};

struct TProposal {
    int64_t A = 0;
    int64_t B = 0;
    double FluidWanted = 0;
    double FluidAchievable = 0;
    std::string Command;
};

struct TEvaluation {
    TGasItem Mixture;
    TMixtureFigures Figures;
};

TEvaluation Evaluate(const TDesignSources& s, const TProposal& p) {
    TEvaluation e;
    e.Mixture.Init();
    if (p.A > 0) e.Mixture.Components.push_back(GasPart(s.GasA, p.A));
    if (p.B > 0) e.Mixture.Components.push_back(GasPart(s.GasB, p.B));
    if (p.FluidAchievable > 0) e.Mixture.Components.push_back(FluidPart(s.Fluid, p.Command, p.FluidAchievable));
    std::erase_if(e.Mixture.Components, [](const TGasItem& part) { return part.GasNameMFC.empty(); });
    TComponentDictionary dictionary;
    CollectComponents(e.Mixture, dictionary);
    e.Figures = MixtureFigures(dictionary, s.TemperatureC, s.PressuremBar);
    return e;
}

// --- the scale

auto TightestUpper(const std::vector<TScaleBound>& v) {
    return std::min_element(v.begin(), v.end(), [](auto& x, auto& y) { return x.Hold < y.Hold; });
}

auto TightestLower(const std::vector<TScaleBound>& v) {
    return std::max_element(v.begin(), v.end(), [](auto& x, auto& y) { return x.Hold < y.Hold; });
}

struct TScaleChoice {
    double Scale = 0;
    std::string TotalLimit;          // the range end that holds the total, when one does
    std::string ConcentrationLimit;  // when no total fits every range
    bool Conflict = false;
};

// The asked scale held within every instrument's range. When no scale fits every range, the
// concentrations cannot be met: the flows are held within the maxima, and what then falls below a
// minimum is raised onto it later.
TScaleChoice ChooseScale(double wanted, const std::vector<TScaleBound>& upper, const std::vector<TScaleBound>& lower) {
    TScaleChoice c;
    c.Scale = wanted;
    const auto up = TightestUpper(upper);
    const auto down = TightestLower(lower);
    c.Conflict = up != upper.end() && down != lower.end() && down->Hold > up->Hold;
    if (c.Conflict) {
        c.ConcentrationLimit = down->Name + " against " + up->Name;
        c.Scale = up->Hold;
        c.TotalLimit = c.ConcentrationLimit;
        return c;
    }
    for (const auto& bound : upper)
        if (c.Scale > bound.Test) c.Scale = bound.Hold, c.TotalLimit = bound.Name;
    for (const auto& bound : lower)
        if (c.Scale < bound.Test) c.Scale = bound.Hold, c.TotalLimit = bound.Name;
    // A later bound may have moved the scale past an earlier one: take the tightest.
    if (up != upper.end() && c.Scale > up->Test) c.Scale = up->Hold, c.TotalLimit = up->Name;
    return c;
}

// The pump's command nearest to the fluid the scale needs (`fluidPerScale` g/min per unit), and the
// scale moved onto the fluid it doses, as long as the gases stay within their ranges; false when
// no command allowed that (the fluid then misses its share by the pump's step).
bool FollowPump(const TFluidSource& fluid, double fluidPerScale, double pumpMax, const std::vector<TScaleBound>& gasUpper,
                const std::vector<TScaleBound>& gasLower, bool conflict, double& scale, TProposal& p) {
    double aim = scale;
    for (int pass = 0; pass < (conflict ? 1 : 30); ++pass) {
        p.FluidWanted = std::min(double(RoundHalfEven(aim * fluidPerScale * PerMillion)), pumpMax);
        const TPumpSpeedDetails pump = PumpCommandFor(fluid, p.FluidWanted);
        p.Command = pump.Command;
        p.FluidAchievable = pump.AchievedDispense_ugpm;
        if (conflict) break;
        const double followed = p.FluidAchievable / (fluidPerScale * PerMillion);
        const auto gu = TightestUpper(gasUpper);
        const auto gl = TightestLower(gasLower);
        if (gu != gasUpper.end() && followed > gu->Test) {
            aim *= std::min(gu->Hold / followed, 1 - 1e-3);
            continue;
        }
        if (gl != gasLower.end() && followed < gl->Test) {
            aim *= std::max(gl->Hold / followed, 1 + 1e-3);
            continue;
        }
        scale = followed;
        return true;
    }
    return false;
}

// --- the rounding of the gas flows

// What the proposal is aimed at, to weigh two roundings against each other.
struct TAims {
    bool ByVolume = true;
    double Total = 0;  // ml/min or g/min
    std::string Key;
    double ComponentPpm = 0;
    TFluidTarget Fluid = TFluidTarget::ftNone;
    double FluidAim = 0;  // % RH or ppm
};

// How far the report's figures lie from the aims, counted in the report's own last digits; the
// total, asked "about", in a ten-thousandth of it at least. A fluid above its limit is out.
double DistanceFromAims(const TMixtureFigures& figures, const TAims& aims) {
    const double total = aims.ByVolume ? figures.OutletVolume_mlpm : figures.TotalMass;
    const double totalDigit = std::max(aims.ByVolume ? 1.0 : 1e-6, 1e-4 * aims.Total);
    double worst = std::fabs(total - aims.Total) / totalDigit;
    const TMixtureFigureEntry* entry = figures.Find(aims.Key);
    worst = std::max(worst, std::fabs((entry ? entry->Ppm : 0) - aims.ComponentPpm));
    if (aims.Fluid == TFluidTarget::ftRelativeHumidity) {
        const TMixtureFigureEntry* water = figures.Find("H2O");
        worst = std::max(worst, std::fabs((water ? water->Humidity : 0) - aims.FluidAim) / 0.001);
    } else if (aims.Fluid == TFluidTarget::ftFluidPpm) {
        worst = std::max(worst, std::fabs(figures.FluidPpm - aims.FluidAim));
    }
    return figures.ExceedsFluidLimit || !std::isfinite(worst) ? std::numeric_limits<double>::max() : worst;
}

// Rounded each on its own (as `p` comes), the gas whose half µg/min moves the component most (a
// trace from a small flow of its bottle) may move it by several ppm. Rounded one after the other,
// the second taking up the difference in the component's balance (`balance`: its coefficients of
// A and B), the component carries only the rounding of the flow that moves it least,
// while the total and the fluid move by a few µg/min of the diluent. Whichever puts the report's
// figures nearer the aims is kept in `p`.
TRounding ChooseRounding(const TDesignSources& s, const TAims& aims, const std::array<double, 2>& balance,
                         double exactA, double exactB, TProposal& p) {
    const auto within = [&](int64_t A, int64_t B) {
        const bool bNeeded = exactB >= 0.5;
        return A >= 0 && A <= LargestGasFlow_ugpm(s.GasA.Entry, false) && B >= 0 &&
               B <= LargestGasFlow_ugpm(s.GasB.Entry, true) && (!bNeeded || B >= SmallestGasFlowB_ugpm(s.GasB.Entry));
    };
    TRounding rounding;
    double best = DistanceFromAims(Evaluate(s, p).Figures, aims);
    const bool aFirst = std::fabs(balance[0]) >= std::fabs(balance[1]);
    for (const bool firstIsA : {aFirst, !aFirst}) {
        const double firstCoefficient = firstIsA ? balance[0] : balance[1];
        const double otherCoefficient = firstIsA ? balance[1] : balance[0];
        if (otherCoefficient == 0) continue;
        const double exactFirst = firstIsA ? exactA : exactB;
        const double exactOther = firstIsA ? exactB : exactA;
        const double otherPerFirst = -firstCoefficient / otherCoefficient;
        const int64_t first = std::max<int64_t>(0, RoundHalfEven(exactFirst));
        const double other = exactOther + otherPerFirst * (double(first) - exactFirst);
        if (!(other >= 0)) continue;
        TProposal candidate = p;
        candidate.A = firstIsA ? first : RoundHalfEven(other);
        candidate.B = firstIsA ? RoundHalfEven(other) : first;
        if (!within(candidate.A, candidate.B)) continue;
        const double distance = DistanceFromAims(Evaluate(s, candidate).Figures, aims);
        if (distance < best) {
            best = distance;
            p = candidate;
            rounding = {true, firstIsA, otherPerFirst};
        }
    }
    return rounding;
}

TDesignResult Refuse(std::string why) {
    TDesignResult r;
    r.Refusal = std::move(why);
    return r;
}

}  // namespace

bool TDesignResult::AllMet() const {
    if (Refused()) return false;
    return std::all_of(Targets.begin(), Targets.end(), [](const TTargetOutcome& t) { return t.Met(); });
}

TDesignResult DesignByTarget(const TDesignSources& s, const TDesignTarget& t) {
    // --- what is asked
    if (!std::isfinite(t.Total) || !(t.Total > 0)) return Refuse("the total flow must be above 0");
    if (!std::isfinite(t.ComponentPpm) || t.ComponentPpm < 0 || t.ComponentPpm > PerMillion)
        return Refuse("the concentration of " + t.Component + " lies within 0 .. 1 000 000 ppm");
    if (t.Fluid != TFluidTarget::ftNone && (!std::isfinite(t.FluidValue) || t.FluidValue < 0))
        return Refuse(t.Fluid == TFluidTarget::ftRelativeHumidity ? "the RH cannot be negative"
                                                                  : "the fluid's concentration cannot be negative");
    if (t.Fluid == TFluidTarget::ftFluidPpm && t.FluidValue > PerMillion)
        return Refuse("the fluid's concentration lies within 0 .. 1 000 000 ppm");

    const TGasItem unitA = GasPart(s.GasA, OneGram_ugpm);
    const TGasItem unitB = GasPart(s.GasB, OneGram_ugpm);
    if (unitA.GasNameMFC.empty())
        return Refuse("MFC A holds no gas the catalogue knows (\"" + s.GasA.Entry.NameShort + "\")");
    if (unitB.GasNameMFC.empty())
        return Refuse("MFC B holds no gas the catalogue knows (\"" + s.GasB.Entry.NameShort + "\")");
    const std::string key = ComponentKey(unitA, unitB, t.Component);
    if (key.empty())
        return Refuse(t.Component + " is not a component of gas A (" + unitA.GasNameLong + ") or gas B (" +
                      unitB.GasNameLong + ")");
    const TGasItem unitC = FluidPart(s.Fluid, {}, double(OneGram_ugpm));
    const TPerGram a = PerGram(unitA, key);
    const TPerGram b = PerGram(unitB, key);
    const TPerGram c = PerGram(unitC, key);
    if (!(a.Moles > 0) || !(b.Moles > 0)) return Refuse("gas A or gas B has no molar mass to count moles by");

    // --- the component's share of each bottle bounds its concentration
    const double X = t.ComponentPpm / PerMillion;
    const double shareA = a.Component / a.Moles;
    const double shareB = b.Component / b.Moles;
    const bool richerA = shareA >= shareB;
    const double maxShare = std::max(shareA, shareB);
    const double minShare = std::min(shareA, shareB);
    const std::string& richer = richerA ? unitA.GasNameLong : unitB.GasNameLong;
    const std::string& leaner = richerA ? unitB.GasNameLong : unitA.GasNameLong;
    const double tolerance = 1e-12;
    if (X > maxShare + tolerance)
        return Refuse(Ppm(t.ComponentPpm) + " of " + key + " lies above its share of the bottle: at most " +
                      Ppm(maxShare * PerMillion) + " in " + richer);
    if (X < minShare - tolerance)
        return Refuse(Ppm(t.ComponentPpm) + " of " + key + " lies below its share in both gases: at least " +
                      Ppm(minShare * PerMillion) + " in " + leaner);
    if (maxShare - minShare <= tolerance)
        return Refuse("gas A and gas B hold " + key + " in the same share (" + Ppm(maxShare * PerMillion) +
                      "), so its concentration cannot be chosen by the flows");

    // --- the fluid's mole fraction in the outlet
    TDesignResult result;
    std::string fluidLimit;
    double xw = 0;  // water, of the outlet
    double xf = 0;  // the pump's fluid as a whole, of the outlet
    float saturationFraction = 0;
    if (t.Fluid == TFluidTarget::ftRelativeHumidity) {
        if (!(c.Water > 0)) return Refuse("the pump's fluid holds no water, so it cannot set the RH; ask a fluid ppm");
        // The saturation as the report computes it, at the outlet values the fluid carries.
        const float saturation = static_cast<float>(WaterVaporPressure(s.Fluid.CustTempC));
        saturationFraction = static_cast<float>(static_cast<double>(saturation) / s.Fluid.CustPressmBar);
        if (!(saturationFraction > 0) || !std::isfinite(saturationFraction))
            return Refuse("no saturation of water can be computed at these outlet conditions");
        double rh = t.FluidValue;
        if (rh > 100) {
            rh = 100;
            fluidLimit = LimitSaturation;
        }
        xw = rh / 100 * saturationFraction;
        xf = xw * c.Fluid / c.Water;
    } else if (t.Fluid == TFluidTarget::ftFluidPpm) {
        xf = t.FluidValue / PerMillion;
    }
    if (xf * PerMillion > s.Fluid.FluidMaxPPM) {
        xf = s.Fluid.FluidMaxPPM / PerMillion;
        xw = xf * c.Water / c.Fluid;
        fluidLimit = LimitFluidPpm;
    }
    const double fluidAim = t.Fluid == TFluidTarget::ftRelativeHumidity ? xw / double(saturationFraction) * 100
                                                                         : xf * PerMillion;
    if (xf >= 1)
        return Refuse(t.Fluid == TFluidTarget::ftRelativeHumidity
                          ? "RH " + FormatGeneral(t.FluidValue) + " % at these conditions is water alone (saturation " +
                                Ppm(double(saturationFraction) * PerMillion) + "): no gas is left"
                          : "the fluid alone leaves no gas");

    // --- the ratio of the three flows at one unit of total (1 mol/min or 1 g/min)
    const bool byVolume = t.TotalUnit == TTotalFlowUnit::tuVolume_mlpm;
    std::array<std::array<double, 4>, 3> m{};
    m[0] = byVolume ? std::array<double, 4>{a.Moles, b.Moles, c.Moles, 1} : std::array<double, 4>{1, 1, 1, 1};
    m[1] = {a.Component - X * a.Moles, b.Component - X * b.Moles, c.Component - X * c.Moles, 0};
    if (t.Fluid == TFluidTarget::ftRelativeHumidity)
        m[2] = {a.Water - xw * a.Moles, b.Water - xw * b.Moles, c.Water - xw * c.Moles, 0};
    else if (t.Fluid == TFluidTarget::ftFluidPpm)
        m[2] = {a.Fluid - xf * a.Moles, b.Fluid - xf * b.Moles, c.Fluid - xf * c.Moles, 0};
    else
        m[2] = {0, 0, 1, 0};
    const auto solved = Solve(m, 3);
    if (!solved) return Refuse("these targets fix no single set of flows");
    std::array<double, 3> ratio = *solved;
    const double largest = std::max({std::fabs(ratio[0]), std::fabs(ratio[1]), std::fabs(ratio[2])});
    for (double& r : ratio)
        if (r < 0 && r > -largest * 1e-12) r = 0;
    if (ratio[0] < 0 || ratio[1] < 0)
        return Refuse(Ppm(t.ComponentPpm) + " of " + key +
                      " lies above its share of the bottle once the fluid dilutes the gases: at most " +
                      Ppm(maxShare * (1 - xf) * PerMillion) + " with " + richer);
    if (ratio[2] < 0) return Refuse("the gases alone already hold more water than the RH asked");

    // --- the scale: the asked total, within every instrument's range
    const double unitTotal = byVolume ? OutletMolarVolume_ml(s.TemperatureC, s.PressuremBar) : 1.0;
    if (!std::isfinite(unitTotal) || !(unitTotal > 0)) return Refuse("no volume can be computed at these outlet conditions");
    const double wantedScale = t.Total / unitTotal;

    std::vector<TScaleBound> upper, lower, gasUpper, gasLower;
    auto addUpper = [&](std::vector<TScaleBound>& to, double r, double end_ugpm, const char* name) {
        if (r > 0) to.push_back({(end_ugpm + RoundingSlack_ugpm) / (r * PerMillion), end_ugpm / (r * PerMillion), name});
    };
    auto addLower = [&](std::vector<TScaleBound>& to, double r, double end_ugpm, const char* name) {
        if (r > 0) to.push_back({(end_ugpm - RoundingSlack_ugpm) / (r * PerMillion), end_ugpm / (r * PerMillion), name});
    };
    addUpper(gasUpper, ratio[0], double(LargestGasFlow_ugpm(s.GasA.Entry, false)), LimitMaxA);
    addUpper(gasUpper, ratio[1], double(LargestGasFlow_ugpm(s.GasB.Entry, true)), LimitMaxB);
    // Gas B needed below half a µg/min is 0 by the rounding, which the page accepts at any minimum.
    if (wantedScale * ratio[1] * PerMillion >= 0.5)
        addLower(gasLower, ratio[1], double(SmallestGasFlowB_ugpm(s.GasB.Entry)), LimitMinB);
    upper = gasUpper;
    lower = gasLower;
    const double pumpMax = FluidFlowMaximum(s.Fluid);
    const double pumpMin = PumpCommandFor(s.Fluid, std::numeric_limits<double>::min()).AchievedDispense_ugpm;
    if (ratio[2] > 0) {
        upper.push_back({pumpMax / (ratio[2] * PerMillion), pumpMax / (ratio[2] * PerMillion), LimitPumpMax});
        lower.push_back({pumpMin / (ratio[2] * PerMillion), pumpMin / (ratio[2] * PerMillion), LimitPumpMin});
    }
    const TScaleChoice choice = ChooseScale(wantedScale, upper, lower);
    double scale = choice.Scale;
    const std::string& totalLimit = choice.TotalLimit;
    const std::string& concentrationLimit = choice.ConcentrationLimit;
    const bool conflict = choice.Conflict;

    // --- the pump doses in steps: the scale follows the command nearest to the fluid needed
    TProposal p;
    bool onPumpStep = true;
    if (ratio[2] > 0) {
        onPumpStep = FollowPump(s.Fluid, ratio[2], pumpMax, gasUpper, gasLower, conflict, scale, p);
        if (!onPumpStep && fluidLimit.empty()) fluidLimit = conflict ? concentrationLimit : LimitPumpSteps;
    }

    // --- the gases for the fluid actually dosed: the total and the component's concentration
    const double fluid_gpm = p.FluidAchievable / PerMillion;
    std::array<std::array<double, 4>, 3> g{};
    g[0] = byVolume ? std::array<double, 4>{a.Moles, b.Moles, scale - c.Moles * fluid_gpm, 0}
                    : std::array<double, 4>{1, 1, scale - fluid_gpm, 0};
    g[1] = {m[1][0], m[1][1], -m[1][2] * fluid_gpm, 0};
    const auto gases = Solve(g, 2);
    if (!gases) return Refuse("these targets fix no single set of flows");
    const double exactA = (*gases)[0] * PerMillion;  // µg/min
    const double exactB = (*gases)[1] * PerMillion;
    p.A = std::max<int64_t>(0, RoundHalfEven(exactA));
    p.B = std::max<int64_t>(0, RoundHalfEven(exactB));
    if (conflict && ratio[1] > 0) p.B = std::max(p.B, SmallestGasFlowB_ugpm(s.GasB.Entry));

    TRounding rounding;
    if (!conflict) {
        const TAims aims{byVolume, scale * unitTotal, key, t.ComponentPpm, t.Fluid, fluidAim};
        rounding = ChooseRounding(s, aims, {m[1][0], m[1][1]}, exactA, exactB, p);
    }

    result.ExactGasA_ugpm = exactA;
    result.ExactGasB_ugpm = exactB;

    // --- the page's own corrections
    std::string gasCorrection;
    const TGasFlowCorrection correctedA = CorrectGasFlow(s.GasA.Entry, p.A, false);
    if (correctedA.Limit != TFlowLimit::flNone) gasCorrection = LimitMaxA;
    const TGasFlowCorrection correctedB = CorrectGasFlow(s.GasB.Entry, p.B, true);
    if (correctedB.Limit == TFlowLimit::flAboveMaximum) gasCorrection = LimitMaxB;
    if (correctedB.Limit == TFlowLimit::flAtOrBelowMinimum) gasCorrection = LimitMinB;
    p.A = correctedA.Flow_ugpm;
    p.B = correctedB.Flow_ugpm;

    TEvaluation e = Evaluate(s, p);
    // A fluid asked at its limit may end a hair above it by the rounding: more gas brings it back.
    const TProposal rounded = p;
    for (int pass = 0; pass < 10 && e.Figures.ExceedsFluidLimit; ++pass) {
        const TProposal before = p;
        const int64_t roomA = LargestGasFlow_ugpm(s.GasA.Entry, false) - p.A;
        const int64_t roomB = LargestGasFlow_ugpm(s.GasB.Entry, true) - p.B;
        if (roomB > 0 && (p.B > 0 || roomA <= 0))
            ++p.B;
        else if (roomA > 0)
            ++p.A;
        if (p.A == before.A && p.B == before.B) break;
        e = Evaluate(s, p);
    }
    // Gas held at its range ends cannot dilute further: then less fluid, until the page accepts
    // the segment (it refuses one above the limit).
    for (int pass = 0; pass < 60 && e.Figures.ExceedsFluidLimit && p.FluidAchievable > 0; ++pass) {
        fluidLimit = LimitFluidPpm;
        const double factor = std::min(double(s.Fluid.FluidMaxPPM) / e.Figures.FluidPpm, 1.0) * (1 - 1e-3);
        p.FluidWanted = std::floor(p.FluidWanted * factor);
        const TPumpSpeedDetails pump = PumpCommandFor(s.Fluid, p.FluidWanted);
        p.Command = pump.Command;
        p.FluidAchievable = pump.AchievedDispense_ugpm;
        e = Evaluate(s, p);
    }
    if (e.Figures.ExceedsFluidLimit) fluidLimit = LimitFluidPpm;

    // --- what was achieved against what was asked
    const TMixtureFigures& f = e.Figures;
    const double N = f.TotalMolarFlow;
    // How far half a µg/min of rounding can move a figure whose derivatives by the flows of A and
    // B are da and db (per g/min, over N): each flow's own half, or with compensation the first
    // flow's half carried through the other's move, plus the other's own half.
    auto spread = [&](double da, double db) {
        if (!(N > 0)) return 0.0;
        // The µg/min added to keep the fluid within its limit count in full.
        const double added = (std::fabs(da) * double(p.A - rounded.A) + std::fabs(db) * double(p.B - rounded.B)) /
                             PerMillion / N;
        if (!rounding.Compensated) return HalfMicrogram_gpm * (std::fabs(da) + std::fabs(db)) / N + added;
        const double first = rounding.FirstIsA ? da : db;
        const double other = rounding.FirstIsA ? db : da;
        return HalfMicrogram_gpm * (std::fabs(first + rounding.OtherPerFirst * other) + std::fabs(other)) / N + added;
    };

    TTargetOutcome total;
    total.Name = "total flow";
    total.Unit = byVolume ? "ml/min" : "g/min";
    total.Asked = t.Total;
    total.Achieved = byVolume ? f.OutletVolume_mlpm : f.TotalMass;
    total.Bound = (byVolume ? unitTotal * N * spread(a.Moles, b.Moles) : N * spread(1, 1)) +
                  SinglePrecisionAllowance * std::fabs(total.Achieved);
    total.Limit = totalLimit.empty() ? gasCorrection : totalLimit;

    TTargetOutcome component;
    component.Name = key;
    component.Unit = "ppm";
    component.Asked = t.ComponentPpm;
    const TMixtureFigureEntry* entry = f.Find(key);
    component.Achieved = entry && entry->HasFraction ? entry->Ppm : 0;
    component.Bound = PerMillion * spread(m[1][0], m[1][1]) + SinglePrecisionAllowance * component.Achieved;
    component.Limit = !concentrationLimit.empty() ? concentrationLimit : gasCorrection;
    result.Targets.push_back(total);
    result.Targets.push_back(component);

    if (t.Fluid != TFluidTarget::ftNone) {
        TTargetOutcome fluid;
        fluid.Asked = t.FluidValue;
        if (t.Fluid == TFluidTarget::ftRelativeHumidity) {
            fluid.Name = "RH";
            fluid.Unit = "%";
            const TMixtureFigureEntry* water = f.Find("H2O");
            fluid.Achieved = water && water->HasHumidity ? water->Humidity : 0;
            fluid.Bound = 100 / double(saturationFraction) * spread(m[2][0], m[2][1]) +
                          SinglePrecisionAllowance * fluid.Achieved;
        } else {
            fluid.Name = "fluid";
            fluid.Unit = "ppm";
            fluid.Achieved = f.HasFluidPpm ? f.FluidPpm : 0;
            fluid.Bound = PerMillion * spread(m[2][0], m[2][1]) + SinglePrecisionAllowance * fluid.Achieved;
        }
        fluid.Limit = !fluidLimit.empty() ? fluidLimit : !concentrationLimit.empty() ? concentrationLimit : gasCorrection;
        result.Targets.push_back(fluid);
    }

    // A target that no limit explains must have been reached; should the page's figures say
    // otherwise, that is told as a failure, never passed over.
    const double aimedTotal = scale * unitTotal;
    for (TTargetOutcome& outcome : result.Targets) {
        if (!outcome.Met()) continue;
        const double aimed = &outcome == &result.Targets.front() ? aimedTotal : outcome.Asked;
        if (!(std::fabs(outcome.Achieved - aimed) <= outcome.Bound)) outcome.Limit = "not reached by the rounded flows";
    }

    // --- the proposal
    result.GasA_ugpm = p.A;
    result.GasB_ugpm = p.B;
    result.Fluid_ugpm = p.FluidWanted;
    result.FluidAchievable_ugpm = p.FluidAchievable;
    result.PumpCommand = p.FluidAchievable > 0 ? p.Command : std::string();
    for (const TGasItem& part : e.Mixture.Components)
        if (part.InstrumentID == 0) result.PulsedA = part.Pulsed;
    if (result.PulsedA < 1)
        result.Notes.push_back("gas A lies below MFC A's minimum of " + FormatMask(s.GasA.Entry.RangeMin, "0.### ###") +
                               " g/min: it is pulsed at " + FormatMask(double(result.PulsedA) * 100, "0.0") + " %");
    if (ratio[2] > 0 && onPumpStep) {
        const double exact = wantedScale * ratio[2] * PerMillion;
        if (totalLimit.empty() && std::fabs(p.FluidAchievable - exact) > 0)
            result.Notes.push_back("the pump's nearest command doses " + Ugpm(p.FluidAchievable) + " for the " +
                                   Ugpm(exact) + " the asked total needs; the gases follow it, so the total is " +
                                   FormatMask(total.Achieved, "0.###") + " " + total.Unit);
    }
    result.Mixture = std::move(e.Mixture);
    return result;
}

std::string DesignResultText(const TDesignResult& r) {
    std::string text;
    auto line = [&text](const std::string& l) {
        text += l;
        text += CRLF;
    };
    if (r.Refused()) {
        line("Cannot be met: " + r.Refusal);
        return text;
    }
    line("Flows");
    line("  gas A  " + std::to_string(r.GasA_ugpm) + " µg/min" +
         (r.PulsedA < 1 ? " (pulsed " + FormatMask(double(r.PulsedA) * 100, "0.0") + " %)" : std::string()));
    line("  gas B  " + std::to_string(r.GasB_ugpm) + " µg/min");
    if (r.FluidAchievable_ugpm > 0)
        line("  fluid  " + FormatGeneral(r.Fluid_ugpm) + " µg/min wanted, " + FormatMask(r.FluidAchievable_ugpm, "0.00") +
             " µg/min by \"" + r.PumpCommand + "\"");
    else
        line("  fluid  0 µg/min");
    line("");
    line("Targets                     asked        achieved   (rounding bound)");
    for (const auto& t : r.Targets) {
        line("  " + FitLeft(t.Name + " " + t.Unit, 18) + FitRight(FormatMask(t.Asked, "0.######"), 14) +
             FitRight(FormatMask(t.Achieved, "0.######"), 16) + "  (±" + FormatMask(t.Bound, "0.######") + ")" +
             (t.Met() ? std::string() : "  not met: " + t.Limit));
    }
    for (const auto& note : r.Notes) line("  Note: " + note);
    return text;
}

}  // namespace moirex
