// Design by target: the flows proposed for a wanted outlet, typed into the design page, read back
// from the page's own mixture report; the limits that stop a target and the refusals.

#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <string>
#include <vector>

#include "form/Dialogs.h"
#include "form/Form.h"
#include "model/DesignOnPage.h"
#include "model/FlowSetpoints.h"
#include "model/FluidDesigner.h"
#include "model/MixtureReport.h"
#include "state/MixerState.h"
#include "support/TextFormat.h"

using namespace moirex;

namespace {

constexpr float Open = 1000;  // g/min: a controller range that limits nothing

struct Page {
    TForm1 form;
    ScriptedDialogs dialogs;
    TMixer mixer{form, dialogs};

    // Validated controllers, water in a 12.5 µl syringe, the outlet conditions, as after start-up,
    // validation and gas selection.
    Page(const std::string& gasA, float minA, float maxA, const std::string& gasB, float minB, float maxB,
         double temperatureC, double pressuremBar, int32_t ppmLimit = 1000000) {
        mixer.MixerState = TMixerState::msReady;
        TPumpDetails& pump = mixer.PumpDetails;
        pump.SYRINGE_VOLUMEul = 12.5;
        pump.SYRINGE_STEPS = 24000;
        pump.SYRINGE_MAXSPEED = 1000;
        pump.Port = "SIM";
        form.RtIntegerEditFluidPPMLimit.SetValue(ppmLimit);  // "Apply and save" takes the limit from here
        FillComponentBoxes(mixer);
        ButtonRestoreWaterClick(mixer);
        AssignFluidMixtureToPump(mixer);
        BindFlowSetpointHandlers(mixer);
        SetFluidRange(mixer);
        form.RtDoubleEditCustomTemp.SetValue(temperatureC);
        form.RtDoubleEditCustomPressure.SetValue(pressuremBar);
        SetController(mixer.MFCADetails, gasA, minA, maxA);
        SetController(mixer.MFCBDetails, gasB, minB, maxB);
    }

    static void SetController(TMFCDetails& d, const std::string& gas, float min, float max) {
        d.Validated = true;
        d.ActiveLUT = 2;
        d.ComPortName = "SIM";
        d.LUT[2].NameShort = gas;
        d.LUT[2].NameOwn = gas;
        d.LUT[2].RangeMin = min;
        d.LUT[2].RangeMax = max;
    }

    TDesignResult Design(const TDesignTarget& target) const { return DesignByTarget(DesignSourcesOf(mixer), target); }

    // The proposal applied as typed, and the figures of the mixture the page then reports.
    TMixtureFigures ApplyAndReadBack(const TDesignResult& result, TGasItem& mixture) {
        EXPECT_TRUE(ApplyDesign(mixer, result));
        ShowMixture2(mixer, mixture);
        TComponentDictionary dictionary;
        CollectComponents(mixture, dictionary);
        return MixtureFigures(dictionary, form.RtDoubleEditCustomTemp.Value(), form.RtDoubleEditCustomPressure.Value());
    }
};

TDesignTarget Target(TTotalFlowUnit unit, double total, const std::string& component, double ppm,
                     TFluidTarget fluid = TFluidTarget::ftNone, double fluidValue = 0) {
    TDesignTarget t;
    t.TotalUnit = unit;
    t.Total = total;
    t.Component = component;
    t.ComponentPpm = ppm;
    t.Fluid = fluid;
    t.FluidValue = fluidValue;
    return t;
}

constexpr auto ml = TTotalFlowUnit::tuVolume_mlpm;
constexpr auto gpm = TTotalFlowUnit::tuMass_gpm;
constexpr auto RH = TFluidTarget::ftRelativeHumidity;
constexpr auto FluidPpm = TFluidTarget::ftFluidPpm;

const TTargetOutcome& Outcome(const TDesignResult& r, const std::string& name) {
    for (const auto& t : r.Targets)
        if (t.Name == name) return t;
    static const TTargetOutcome none;
    ADD_FAILURE() << "no target " << name;
    return none;
}

struct Reachable {
    const char* what;
    const char* gasA;
    const char* gasB;
    double temperatureC, pressuremBar;
    TDesignTarget target;
    double componentBound;  // ppm
};

// Targets within every range: the flows typed into the page give back each concentration to
// within the bound the rounding of whole µg/min allows, and the total follows the pump's step.
TEST(DesignByTargetTest, ProposedFlowsReadBackInThePagesReport) {
    // The last column is the bound on the component's ppm that the rounding allows here: half a
    // µg/min of the gas that carries the component, over the total — large for a trace of a pure
    // gas (13 µg/min of Ar), small for a component diluted in its bottle.
    const std::vector<Reachable> cases = {
        {"pure gases", "N2", "Ar", 21, 1013.25, Target(ml, 500, "N2", 1000), 0.9},
        {"pure gases by mass, trace of the main gas", "Ar", "N2", 21, 1013.25, Target(gpm, 0.75, "Ar", 12.5), 0.5},
        {"air diluted in nitrogen", "Air", "N2", 21, 1013.25, Target(gpm, 2, "O2", 100000), 0.2},
        {"bottled 5% H2 in Ar, long name", "MIX_087", "Ar", 20, 1013.25, Target(ml, 1000, "Hydrogen", 500, RH, 50),
         0.02},
        {"water at 5 °C", "MIX_087", "Ar", 5, 1013.25, Target(ml, 1000, "H2", 500, RH, 10), 0.02},
        {"water at 35 °C, 900 mbar", "MIX_087", "Ar", 35, 900, Target(ml, 800, "H2", 2000, RH, 80), 0.03},
        {"water at 60 °C", "N2", "Ar", 60, 1013.25, Target(ml, 600, "N2", 300000, RH, 95), 1.1},
        {"water below 0 °C", "N2", "Ar", -5, 1013.25, Target(ml, 1000, "N2", 10000, RH, 40), 0.45},
        {"bottled 10% CO in CO2 with water", "MIX275", "CO2", 35, 900, Target(ml, 200, "CO", 1000, RH, 30), 0.2},
        {"fluid ppm by mass", "Air", "N2", 21, 1013.25, Target(gpm, 2, "O2", 100000, FluidPpm, 2000), 0.2},
        {"fluid ppm by volume", "MIX_087", "Ar", 21, 1013.25, Target(ml, 1000, "H2", 100, FluidPpm, 500), 0.02},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Page page(c.gasA, 0, Open, c.gasB, 0, Open, c.temperatureC, c.pressuremBar);
        const TDesignResult r = page.Design(c.target);
        ASSERT_FALSE(r.Refused()) << r.Refusal;
        EXPECT_TRUE(r.AllMet());
        TGasItem mixture;
        const TMixtureFigures f = page.ApplyAndReadBack(r, mixture);

        // The page kept the flows as typed and reports exactly what the solver read back.
        EXPECT_EQ(page.form.RtIntegerEditY1Flow.Value(), r.GasA_ugpm);
        EXPECT_EQ(page.form.RtIntegerEditY2Flow.Value(), r.GasB_ugpm);
        EXPECT_EQ(page.form.RtDoubleEditAchievableFluid.Value(), r.FluidAchievable_ugpm);
        EXPECT_TRUE(mixture.Valid);

        const TTargetOutcome& component = r.Targets[1];
        const TMixtureFigureEntry* entry = f.Find(component.Name);
        ASSERT_NE(entry, nullptr);
        EXPECT_NEAR(entry->Ppm, c.target.ComponentPpm, component.Bound);
        EXPECT_LT(component.Bound, c.componentBound);

        if (c.target.Fluid == RH) {
            const TTargetOutcome& rh = Outcome(r, "RH");
            const TMixtureFigureEntry* water = f.Find("H2O");
            ASSERT_NE(water, nullptr);
            ASSERT_TRUE(water->HasHumidity);
            EXPECT_NEAR(water->Humidity, c.target.FluidValue, rh.Bound);
            EXPECT_LT(rh.Bound, 1e-2);
        } else if (c.target.Fluid == FluidPpm) {
            ASSERT_TRUE(f.HasFluidPpm);
            EXPECT_NEAR(f.FluidPpm, c.target.FluidValue, Outcome(r, "fluid").Bound);
        }

        const TTargetOutcome& total = r.Targets[0];
        const double achievedTotal = c.target.TotalUnit == ml ? f.OutletVolume_mlpm : f.TotalMass;
        EXPECT_DOUBLE_EQ(achievedTotal, total.Achieved);
        if (r.Fluid_ugpm == 0) {
            EXPECT_NEAR(achievedTotal, c.target.Total, total.Bound);
        } else {
            // The gases follow the fluid the pump's command doses: the total moves by the same
            // factor as the fluid from the (whole µg/min) flow it needed.
            const double pumpFactor = r.FluidAchievable_ugpm / r.Fluid_ugpm;
            EXPECT_NEAR(achievedTotal / c.target.Total, pumpFactor, 0.5 / r.Fluid_ugpm + 1e-5);
        }
    }
}

TEST(DesignByTargetTest, NoHumidityAsksForNoFluid) {
    Page page("MIX_087", 0, Open, "Ar", 0, Open, 20, 1013.25);
    const TDesignResult r = page.Design(Target(ml, 1000, "H2", 500, RH, 0));
    ASSERT_FALSE(r.Refused()) << r.Refusal;
    EXPECT_TRUE(r.AllMet());
    EXPECT_EQ(r.Fluid_ugpm, 0);
    EXPECT_EQ(r.FluidAchievable_ugpm, 0);
    TGasItem mixture;
    const TMixtureFigures f = page.ApplyAndReadBack(r, mixture);
    EXPECT_EQ(page.form.Label30.Caption(), "TR");
    EXPECT_EQ(f.Find("H2O"), nullptr);
    ASSERT_EQ(mixture.Components.size(), 2u);
    EXPECT_NEAR(f.OutletVolume_mlpm, 1000, r.Targets[0].Bound);
}

struct Limited {
    const char* what;
    const char* gasA;
    float minA, maxA;
    const char* gasB;
    float minB, maxB;
    int32_t ppmLimit;
    TDesignTarget target;
    const char* stoppedTarget;
    const char* limit;
};

// A target beyond a range: the nearest flows the page accepts, the limit named on the target it
// stops, and the other targets still met.
TEST(DesignByTargetTest, TargetsBeyondTheRangesNameTheirLimit) {
    const TDesignTarget h2 = Target(ml, 1000, "H2", 500, RH, 50);
    const std::vector<Limited> cases = {
        {"MFC A too small", "MIX_087", 0, 0.01f, "Ar", 0, Open, 1000000, Target(ml, 1000, "H2", 500), "total flow",
         "MFC A's maximum"},
        {"MFC B too small", "MIX_087", 0, Open, "Ar", 0, 1, 1000000, h2, "total flow", "MFC B's maximum"},
        {"MFC B's minimum above the need", "MIX_087", 0, Open, "Ar", 2, 3, 1000000, Target(ml, 1000, "H2", 500),
         "total flow", "MFC B's minimum"},
        {"water beyond the pump", "MIX_087", 0, Open, "Ar", 0, Open, 1000000, Target(ml, 100000, "H2", 500, RH, 50),
         "total flow", "the pump's maximum"},
        {"water below the pump", "Air", 0, Open, "N2", 0, Open, 1000000,
         Target(gpm, 2, "O2", 100000, FluidPpm, 0.5), "total flow", "the pump's minimum"},
        {"fluid above its ppm limit", "MIX_087", 0, Open, "Ar", 0, Open, 5000, h2, "RH", "the fluid ppm limit"},
        {"RH above saturation", "MIX_087", 0, Open, "Ar", 0, Open, 1000000, Target(ml, 1000, "H2", 500, RH, 120), "RH",
         "RH above 100 % at these conditions"},
        {"no total fits both controllers", "MIX_087", 0, 0.01f, "Ar", 1.5f, 3, 1000000, Target(ml, 1000, "H2", 500),
         "H2", "MFC B's minimum against MFC A's maximum"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Page page(c.gasA, c.minA, c.maxA, c.gasB, c.minB, c.maxB, 20, 1013.25, c.ppmLimit);
        const TDesignResult r = page.Design(c.target);
        ASSERT_FALSE(r.Refused()) << r.Refusal;
        EXPECT_FALSE(r.AllMet());
        EXPECT_EQ(Outcome(r, c.stoppedTarget).Limit, c.limit);

        // What the page shows is what the solver reported, and the page accepts the flows as they are.
        TGasItem mixture;
        const TMixtureFigures f = page.ApplyAndReadBack(r, mixture);
        EXPECT_EQ(page.form.RtIntegerEditY1Flow.Value(), r.GasA_ugpm);
        EXPECT_EQ(page.form.RtIntegerEditY2Flow.Value(), r.GasB_ugpm);
        EXPECT_TRUE(mixture.Valid);  // never a segment the page would refuse
        const TTargetOutcome& total = r.Targets[0];
        EXPECT_DOUBLE_EQ(c.target.TotalUnit == ml ? f.OutletVolume_mlpm : f.TotalMass, total.Achieved);
        // A limit on the total leaves the concentrations met.
        if (std::string(c.stoppedTarget) == "total flow") {
            for (size_t i = 1; i < r.Targets.size(); ++i) {
                EXPECT_TRUE(r.Targets[i].Met()) << r.Targets[i].Name << ": " << r.Targets[i].Limit;
                EXPECT_NEAR(r.Targets[i].Achieved, r.Targets[i].Asked, r.Targets[i].Bound);
            }
        }
    }
}

TEST(DesignByTargetTest, LimitedTargetsGetTheLimitsValue) {
    {
        SCOPED_TRACE("RH held at saturation");
        Page page("MIX_087", 0, Open, "Ar", 0, Open, 20, 1013.25);
        const TDesignResult r = page.Design(Target(ml, 1000, "H2", 500, RH, 120));
        EXPECT_NEAR(Outcome(r, "RH").Achieved, 100, Outcome(r, "RH").Bound);
    }
    {
        SCOPED_TRACE("fluid held at its ppm limit");
        Page page("MIX_087", 0, Open, "Ar", 0, Open, 20, 1013.25, 5000);
        const TDesignResult r = page.Design(Target(ml, 1000, "H2", 500, RH, 50));
        TGasItem mixture;
        const TMixtureFigures f = page.ApplyAndReadBack(r, mixture);
        EXPECT_LE(f.FluidPpm, 5000);
        EXPECT_GT(f.FluidPpm, 4999.9);
    }
    {
        SCOPED_TRACE("no total fits: each gas on its nearest range end");
        Page page("N2", 0.000313f, 0.0313f, "MIX275", 0.0031733334f, 0.0952f, 25, 1013.25);
        const TDesignResult r = page.Design(Target(ml, 40, "CO", 2000, RH, 30));
        const int64_t maxA = LargestGasFlow_ugpm(page.mixer.MFCADetails.LUT[2], false);
        EXPECT_LE(r.GasA_ugpm, maxA);
        EXPECT_GE(r.GasA_ugpm, maxA * 0.995);  // at the maximum, but for the pump's step
        EXPECT_EQ(r.GasB_ugpm, SmallestGasFlowB_ugpm(page.mixer.MFCBDetails.LUT[2]));
        EXPECT_GT(Outcome(r, "CO").Achieved, 2000);  // dosed, not dropped: B is not left at 0
        for (const auto& t : r.Targets) EXPECT_EQ(t.Limit, "MFC B's minimum against MFC A's maximum") << t.Name;
    }
    {
        SCOPED_TRACE("MFC B at its maximum");
        Page page("MIX_087", 0, Open, "Ar", 0, 1, 20, 1013.25);
        const TDesignResult r = page.Design(Target(ml, 1000, "H2", 500, RH, 50));
        EXPECT_LE(r.GasB_ugpm, 1000000);
        EXPECT_GT(r.GasB_ugpm, 990000);  // the pump's step below the end at most
    }
}

// A fluid asked exactly at the operator's limit must not end a hair above it by the rounding of
// the gas flows, or "Add or Save Segment" would refuse the proposal.
TEST(DesignByTargetTest, FluidAskedAtItsLimitStaysAddable) {
    for (double ppm : {2000.0, 11111.0, 777.0}) {
        SCOPED_TRACE(ppm);
        Page page("Air", 0, Open, "N2", 0, Open, 21, 1013.25, static_cast<int32_t>(ppm));
        const TDesignResult r = page.Design(Target(ml, 250, "O2", 20000, FluidPpm, ppm));
        ASSERT_FALSE(r.Refused()) << r.Refusal;
        EXPECT_TRUE(r.AllMet()) << Outcome(r, "fluid").Limit;
        TGasItem mixture;
        const TMixtureFigures f = page.ApplyAndReadBack(r, mixture);
        EXPECT_TRUE(mixture.Valid);
        EXPECT_LE(f.FluidPpm, ppm);
    }
}

// With the gases held at their range ends the pump's nearest command may still dose too much for
// the limit: then less fluid, never a proposal the page refuses.
TEST(DesignByTargetTest, FluidAtItsLimitWithTheGasesAtTheirEnds) {
    Page page("O2", 0.00671056f, 0.141009f, "Ar", 0.00207238f, 2.42007f, 57.4749, 1950.79, 24105);
    const TDesignResult r = page.Design(Target(gpm, 3.39344, "Ar", 629.885, RH, 36.8024));
    ASSERT_FALSE(r.Refused()) << r.Refusal;
    EXPECT_EQ(Outcome(r, "RH").Limit, "the fluid ppm limit");
    TGasItem mixture;
    const TMixtureFigures f = page.ApplyAndReadBack(r, mixture);
    EXPECT_TRUE(mixture.Valid);
    EXPECT_LE(f.FluidPpm, 24105);
    EXPECT_GT(f.FluidPpm, 20000);  // less fluid, not none
}

// The controllers' range ends are part of the range: a target whose flow lies exactly on an end is
// met there, and a little more is held at the end with the limit named.
TEST(DesignByTargetTest, TargetExactlyAtARangeEnd) {
    // The flows of an unbounded design, then MFC A's maximum and MFC B's minimum set onto them.
    Page open("MIX_087", 0, Open, "Ar", 0, Open, 21, 1013.25);
    const TDesignTarget target = Target(ml, 1000, "H2", 500);
    const TDesignResult free = open.Design(target);
    ASSERT_TRUE(free.AllMet());

    {
        SCOPED_TRACE("gas A at MFC A's maximum");
        const float maxA = static_cast<float>(free.ExactGasA_ugpm / 1e6);
        Page page("MIX_087", 0, maxA, "Ar", 0, Open, 21, 1013.25);
        const int64_t end = LargestGasFlow_ugpm(page.mixer.MFCADetails.LUT[2], false);
        TDesignTarget atEnd = target;
        atEnd.Total = target.Total * double(end) / free.ExactGasA_ugpm;
        const TDesignResult r = page.Design(atEnd);
        EXPECT_TRUE(r.AllMet()) << r.Targets[0].Limit;
        EXPECT_EQ(r.GasA_ugpm, end);

        TDesignTarget beyond = target;
        beyond.Total = atEnd.Total * 1.01;
        const TDesignResult held = page.Design(beyond);
        EXPECT_EQ(held.GasA_ugpm, end);
        EXPECT_EQ(held.Targets[0].Limit, "MFC A's maximum");
        EXPECT_TRUE(held.Targets[1].Met());
    }
    {
        SCOPED_TRACE("gas B at MFC B's minimum");
        const float minB = static_cast<float>((free.ExactGasB_ugpm - 1) / 1e6);
        Page page("MIX_087", 0, Open, "Ar", minB, Open, 21, 1013.25);
        const int64_t end = SmallestGasFlowB_ugpm(page.mixer.MFCBDetails.LUT[2]);
        TDesignTarget atEnd = target;
        atEnd.Total = target.Total * double(end) / free.ExactGasB_ugpm;
        const TDesignResult r = page.Design(atEnd);
        EXPECT_TRUE(r.AllMet()) << r.Targets[0].Limit;
        // On the end, or a few µg/min above it where gas B takes up gas A's rounding.
        EXPECT_GE(r.GasB_ugpm, end);
        EXPECT_LE(r.GasB_ugpm, end + 100);
        TGasItem mixture;
        page.ApplyAndReadBack(r, mixture);
        EXPECT_EQ(page.form.RtIntegerEditY2Flow.Value(), r.GasB_ugpm);  // the page doses it, not 0

        TDesignTarget below = target;
        below.Total = atEnd.Total * 0.99;
        const TDesignResult held = page.Design(below);
        EXPECT_GE(held.GasB_ugpm, end);
        EXPECT_LE(held.GasB_ugpm, end + 100);
        EXPECT_EQ(held.Targets[0].Limit, "MFC B's minimum");
        EXPECT_TRUE(held.Targets[1].Met());
    }
}

struct Refused {
    const char* what;
    const char* gasA;
    const char* gasB;
    double temperatureC;
    TDesignTarget target;
    const char* reason;  // the start of the refusal
};

TEST(DesignByTargetTest, UnreachableConcentrationsAreRefusedWithTheReason) {
    const std::vector<Refused> cases = {
        {"above the bottle's share", "MIX_087", "Ar", 20, Target(ml, 1000, "H2", 60000),
         "60 000 ppm of H2 lies above its share of the bottle: at most 50 000 ppm in 5% H2 in Ar"},
        {"the bottle's share itself, diluted by water", "MIX_087", "Ar", 20, Target(ml, 1000, "H2", 50000, RH, 50),
         "50 000 ppm of H2 lies above its share of the bottle once the fluid dilutes the gases"},
        {"below the share in both gases", "Air", "N2", 20, Target(gpm, 2, "N2", 100000),
         "100 000 ppm of N2 lies below its share in both gases"},
        {"not in either gas", "N2", "Ar", 20, Target(ml, 1000, "O2", 5), "O2 is not a component of gas A"},
        {"the same share in both gases", "N2", "N2", 20, Target(ml, 1000, "N2", 1000000),
         "gas A and gas B hold N2 in the same share"},
        {"RH beyond water alone", "MIX_087", "Ar", 120, Target(ml, 1000, "H2", 500, RH, 60),
         "RH 60 % at these conditions is water alone"},
        {"a gas the catalogue does not know", "SF6", "Ar", 20, Target(ml, 1000, "Ar", 5), "MFC A holds no gas"},
        {"no total", "N2", "Ar", 20, Target(ml, 0, "N2", 5), "the total flow must be above 0"},
        {"ppm out of range", "N2", "Ar", 20, Target(ml, 10, "N2", 1e6 + 1), "the concentration of N2 lies within"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Page page(c.gasA, 0, Open, c.gasB, 0, Open, c.temperatureC, 1013.25);
        const TDesignResult r = page.Design(c.target);
        ASSERT_TRUE(r.Refused());
        EXPECT_EQ(r.Refusal.rfind(c.reason, 0), 0u) << r.Refusal;
        EXPECT_FALSE(r.AllMet());
        // A refused proposal changes nothing on the page.
        page.form.RtIntegerEditY1Flow.SetValue(1234);
        EXPECT_FALSE(ApplyDesign(page.mixer, r));
        EXPECT_EQ(page.form.RtIntegerEditY1Flow.Value(), 1234);
    }
}

// At exactly the bottle's share gas B is not needed: the proposal is gas A alone.
TEST(DesignByTargetTest, ConcentrationOfTheBottleItselfNeedsNoDilution) {
    Page page("MIX_087", 0, Open, "Ar", 0, Open, 21, 1013.25);
    const TDesignResult r = page.Design(Target(ml, 1000, "H2", 50000));
    ASSERT_FALSE(r.Refused()) << r.Refusal;
    EXPECT_TRUE(r.AllMet());
    EXPECT_EQ(r.GasB_ugpm, 0);
    EXPECT_GT(r.GasA_ugpm, 0);
}

}  // namespace

namespace {

// "Apply" types the flows as the operator would: the track bars follow and Memo1 shows the
// report; while the page takes no input (a run is going on), nothing is typed.
TEST(DesignByTargetTest, ApplyTypesTheFlowsIntoTheEditors) {
    Page page("MIX_087", 0.0025f, 0.3f, "Ar", 0.02f, 2, 20, 1013.25);
    const TDesignResult r = page.Design(Target(ml, 1000, "H2", 500, RH, 50));
    ASSERT_TRUE(r.AllMet());

    page.form.RtIntegerEditY2Flow.SetEnabled(false);
    EXPECT_FALSE(ApplyDesign(page.mixer, r));
    EXPECT_EQ(page.form.RtIntegerEditY1Flow.Value(), 0);
    EXPECT_EQ(page.form.RtDoubleEditFluidFlow.Value(), 0);

    page.form.RtIntegerEditY2Flow.SetEnabled(true);
    ASSERT_TRUE(ApplyDesign(page.mixer, r));
    EXPECT_EQ(page.form.RzTrackBarY2.Position(),
              RoundHalfEven((double(r.GasB_ugpm) - 20000.0) / (2e6 - 20000.0) * 10));
    EXPECT_EQ(page.form.Label30.Caption(), r.PumpCommand);
    EXPECT_NE(page.form.Memo1.Text().find("RH ->    50.000 %"), std::string::npos) << page.form.Memo1.Text();
    EXPECT_NE(page.form.Memo1.Text().find("(      500 ppm)"), std::string::npos);
    for (const auto* edit : {&page.form.RtIntegerEditY1Flow, &page.form.RtIntegerEditY2Flow})
        EXPECT_FALSE(edit->Focused());
}

}  // namespace

namespace {

// A fluid without water (ethanol, as the designer makes it): its ppm can be asked, an RH cannot.
TEST(DesignByTargetTest, FluidWithoutWater) {
    Page page("N2", 0, Open, "Ar", 0, Open, 21, 1013.25);
    TDesignSources sources = DesignSourcesOf(page.mixer);
    TGasItem ethanol;
    ethanol.Init();
    MakeGasItem(TGasItems::gC2H6O, ethanol, 1.0f);
    TGasItem& fluid = sources.Fluid.Fluid;
    fluid.GasNameLong = "Ethanol dry";
    fluid.Components = {ethanol};
    fluid.MolarMass = ethanol.MolarMass;
    fluid.DensityFluid20C = ethanol.DensityFluid20C;

    const TDesignResult rh = DesignByTarget(sources, Target(ml, 1000, "N2", 10000, RH, 50));
    ASSERT_TRUE(rh.Refused());
    EXPECT_EQ(rh.Refusal.rfind("the pump's fluid holds no water", 0), 0u) << rh.Refusal;

    const TDesignResult r = DesignByTarget(sources, Target(ml, 1000, "N2", 10000, FluidPpm, 3000));
    ASSERT_FALSE(r.Refused()) << r.Refusal;
    EXPECT_TRUE(r.AllMet());
    const TTargetOutcome& f = Outcome(r, "fluid");
    EXPECT_NEAR(f.Achieved, 3000, f.Bound);
    TComponentDictionary dictionary;
    CollectComponents(r.Mixture, dictionary);
    const TMixtureFigures figures = MixtureFigures(dictionary, 21, 1013.25);
    ASSERT_NE(figures.Find("C2H6O"), nullptr);
    EXPECT_NEAR(figures.Find("C2H6O")->Ppm, 3000, f.Bound);
    EXPECT_NEAR(figures.Find("N2")->Ppm, 10000, Outcome(r, "N2").Bound);
}

}  // namespace

namespace {

// Targets drawn at random over the catalogue's gases, ranges, outlet conditions and limits: each is
// refused with a reason, or its proposal is one the page keeps and accepts, with every target met
// within its bound or named with the limit that stops it.
TEST(DesignByTargetTest, AnyTargetGivesAnAcceptableProposalOrAReason) {
    struct Gas {
        const char* name;
        std::vector<const char*> components;
    };
    const std::vector<Gas> gasesA = {{"MIX_087", {"H2", "Ar"}}, {"Air", {"O2", "N2"}}, {"N2", {"N2"}},
                                     {"O2", {"O2"}},            {"H2", {"H2"}},          {"CO2", {"CO2"}}};
    const std::vector<Gas> gasesB = {{"Ar", {"Ar"}}, {"N2", {"N2"}}, {"CO2", {"CO2"}}, {"MIX275", {"CO", "CO2"}}, {"He", {"He"}}};
    std::mt19937 random(20261210);
    auto uniform = [&](double lo, double hi) { return std::uniform_real_distribution<double>(lo, hi)(random); };
    auto pick = [&](size_t n) { return std::uniform_int_distribution<size_t>(0, n - 1)(random); };
    size_t refused = 0, limited = 0;
    for (int i = 0; i < 200; ++i) {
        const Gas& a = gasesA[pick(gasesA.size())];
        const Gas& b = gasesB[pick(gasesB.size())];
        std::vector<const char*> components = a.components;
        components.insert(components.end(), b.components.begin(), b.components.end());
        const bool rangedA = uniform(0, 1) < 0.5, rangedB = uniform(0, 1) < 0.5;
        const float minA = rangedA ? float(uniform(0, 0.01)) : 0, maxA = rangedA ? float(uniform(0.02, 3)) : Open;
        const float minB = rangedB ? float(uniform(0, 0.01)) : 0, maxB = rangedB ? float(uniform(0.02, 3)) : Open;
        const int32_t limit = uniform(0, 1) < 0.3 ? int32_t(uniform(100, 50000)) : 1000000;
        Page page(a.name, minA, maxA, b.name, minB, maxB, uniform(-20, 90), uniform(500, 2000), limit);
        const bool byVolume = uniform(0, 1) < 0.5;
        const double r = uniform(0, 1);
        const TDesignTarget target =
            Target(byVolume ? ml : gpm, byVolume ? std::pow(10, uniform(0, 4)) : std::pow(10, uniform(-3, 1)),
                   components[pick(components.size())], std::pow(10, uniform(-1, 6)),
                   r < 0.4 ? RH : r < 0.7 ? FluidPpm : TFluidTarget::ftNone,
                   r < 0.4 ? uniform(0, 110) : std::pow(10, uniform(-1, 5)));
        SCOPED_TRACE(testing::Message() << "case " << i << ": " << a.name << " " << minA << ".." << maxA << ", "
                                        << b.name << " " << minB << ".." << maxB << ", " << target.Component
                                        << " " << target.ComponentPpm << " ppm, total " << target.Total
                                        << ", fluid " << target.FluidValue << ", limit " << limit);
        const TDesignResult result = page.Design(target);
        if (result.Refused()) {
            ++refused;
            EXPECT_FALSE(result.Refusal.empty());
            continue;
        }
        TGasItem mixture;
        page.ApplyAndReadBack(result, mixture);
        EXPECT_EQ(page.form.RtIntegerEditY1Flow.Value(), result.GasA_ugpm);
        EXPECT_EQ(page.form.RtIntegerEditY2Flow.Value(), result.GasB_ugpm);
        EXPECT_EQ(page.form.RtDoubleEditAchievableFluid.Value(), result.FluidAchievable_ugpm);
        EXPECT_TRUE(mixture.Valid);
        for (const auto& t : result.Targets) {
            EXPECT_NE(t.Limit, "not reached by the rounded flows") << t.Name;
            if (t.Met() && &t != &result.Targets.front()) {
                EXPECT_NEAR(t.Achieved, t.Asked, t.Bound) << t.Name;
            }
            if (!t.Met()) ++limited;
        }
    }
    // The draw reaches all three outcomes.
    EXPECT_GT(refused, 10u);
    EXPECT_GT(limited, 10u);
}

}  // namespace
