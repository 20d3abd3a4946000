#include "model/MixtureReport.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace moirex;

namespace {

std::string Join(const std::vector<std::string>& lines) {
    std::string text;
    for (const auto& l : lines) text += l + "\r\n";
    return text;
}

TGasItem Gas(TGasItems gas, float mass, int instrument) {
    TGasItem item;
    item.Init();
    MakeGasItem(gas, item, mass);
    item.InstrumentID = instrument;
    item.InstrumentPort = "SIM";
    return item;
}

// The pump's fluid as a segment carries it: pure water designed as one component, its
// components carrying the outlet conditions.
TGasItem WaterFluid(float mass, int32_t limit, float tempC = 20, float pressure = 1013.25f) {
    TGasItem water;
    water.Init();
    MakeGasItem(TGasItems::gH2O, water, mass);
    water.CustTempC = tempC;
    water.CustPressmBar = pressure;
    TGasItem fluid;
    fluid.Init();
    fluid.GasNameLong = "Water pure";
    fluid.GasNameMFC = "MIX_Water pure";
    fluid.MolarMass = 18.01528f;
    fluid.Fluid = true;
    fluid.FluidMaxPPM = limit;
    fluid.InstrumentID = 2;
    fluid.InstrumentPort = "SIM";
    fluid.Mass = mass;
    fluid.Components = {water};
    return fluid;
}

TGasItem Segment(std::vector<TGasItem> parts) {
    TGasItem segment;
    segment.Init();
    segment.StepName = "ID:1";
    segment.Components = std::move(parts);
    return segment;
}

struct Report {
    std::string text;
    bool valid;
};

Report ReportOf(const TGasItem& segment, double tempC = 21, double pressure = 1013.25) {
    TComponentDictionary dictionary;
    CollectComponents(segment, dictionary);
    TGasItem mixture = segment;
    std::string text = MixtureReport(dictionary, mixture, tempC, pressure);
    return {text, mixture.Valid};
}

std::vector<std::string> Keys(const TComponentDictionary& d) {
    std::vector<std::string> keys;
    for (const auto& [key, item] : d) keys.push_back(key);
    return keys;
}

bool Contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

size_t Occurrences(const std::string& text, const std::string& part) {
    size_t n = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
    return n;
}

const std::string ExceedingLine = "    Exceeding the fluid ppm limit  (";

}  // namespace

TEST(WaterVaporPressure, ReferenceValuesOverWaterAndIce) {
    struct Case {
        double t, mbar, tolerance;
    };
    const Case cases[] = {
        {0, 6.1129, 5e-5},      // ice branch at 0 °C itself
        {0.01, 6.1169, 5e-5},   // water branch just above
        {20, 23.3932, 5e-5},    {21, 24.8823, 5e-5},
        {100, 1014.17, 5e-3},   {-10, 2.5987, 5e-5},
    };
    for (const auto& c : cases) EXPECT_NEAR(WaterVaporPressure(c.t), c.mbar, c.tolerance) << c.t;
}

TEST(CollectComponents, LeavesInFirstMetOrderSummedByShortName) {
    // CO2 on A, air on B (nitrogen, oxygen), nitrogen again from a second air source, water from
    // the pump: one entry per short name, in the order first met, never a hash order.
    TGasItem segment = Segment({Gas(TGasItems::gCO2, 0.2f, 0), Gas(TGasItems::gAir, 1.0f, 1),
                                WaterFluid(0.001f, 1000000, 20, 1013.25f)});
    segment.Components.insert(segment.Components.begin() + 2, Gas(TGasItems::gN2, 0.5f, 1));
    TGasItem unnamed;
    unnamed.Init();
    unnamed.Mass = 3;
    segment.Components.push_back(unnamed);  // no short name: dropped

    TComponentDictionary d;
    CollectComponents(segment, d);
    EXPECT_EQ(Keys(d), (std::vector<std::string>{"CO2", "N2", "O2", "H2O"}));
    EXPECT_FLOAT_EQ(d.Find("N2")->Mass, 0.768160f + 0.5f);
    EXPECT_EQ(d.Find("N2")->GasNameLong, "Nitrogen");
    EXPECT_FLOAT_EQ(d.Find("N2")->MolarMass, 28.0134f);
    EXPECT_EQ(d.Find("N2")->CustTempC, 0);  // outlet conditions only for water
    EXPECT_EQ(d.Find("H2O")->CustTempC, 20);
    EXPECT_EQ(d.Find("H2O")->CustPressmBar, 1013.25f);
    EXPECT_FALSE(d.Find("H2O")->Fluid);  // a catalogue leaf of the fluid
    // The fluid is tallied apart from the gases.
    EXPECT_TRUE(d.HasFluid);
    EXPECT_EQ(d.FluidMaxPPM, 1000000);
    EXPECT_FLOAT_EQ(d.FluidMass("H2O"), 0.001f);
    EXPECT_EQ(d.FluidMass("N2"), 0);
    EXPECT_EQ(d.Find("MIX_Water pure"), nullptr);

    // A second pass over a new dictionary lists the same order.
    TComponentDictionary again;
    CollectComponents(segment, again);
    EXPECT_EQ(Keys(again), Keys(d));
}

TEST(ComponentsByInstrument, KeyedByInstrumentNumberLaterReplaces) {
    TGasItem segment = Segment({Gas(TGasItems::gAir, 1.0f, 0), WaterFluid(0.001f, 1000000)});
    TGasItem second = Gas(TGasItems::gCO2, 0.3f, 0);
    segment.Components.push_back(second);
    TComponentDictionary d;
    ComponentsByInstrument(segment, d);
    EXPECT_EQ(Keys(d), (std::vector<std::string>{"0", "2"}));
    EXPECT_EQ(d.Find("0")->GasNameMFC, "CO2");
    EXPECT_EQ(d.Find("2")->Components.size(), 1u);
    EXPECT_EQ(d.Find("1"), nullptr);
}

TEST(MixtureReport, EmptyDictionaryGivesNoTextAndKeepsValid) {
    TComponentDictionary d;
    TGasItem mixture;
    mixture.Init();
    EXPECT_EQ(MixtureReport(d, mixture, 21, 1013.25), "");
    EXPECT_TRUE(mixture.Valid);
}

TEST(MixtureReport, AirAloneOnControllerA) {
    const Report r = ReportOf(Segment({Gas(TGasItems::gAir, 1.0f, 0)}));
    EXPECT_EQ(r.text, Join({
                          "Components",
                          "  Nitrogen               28.013 g/mol",
                          "  Oxygen                 31.999 g/mol",
                          "",
                          "Mass flow",
                          "  N2           gram/min: 0.768 160 (76.82%)",
                          "  O2           gram/min: 0.231 840 (23.18%)",
                          "                         ---------",
                          "  Total        gram/min: 1.000 000",
                          "",
                          "Volumetric flow (assuming everything is in gas state)",
                          "                mln/min:    777 (  0ºC, 1013.25 mBar)",
                          "                 ml/min:    919 ( 50ºC, 1013.25 mBar)",
                          "                 ml/min:   1061 (100ºC, 1013.25 mBar)",
                          "                 ml/min:   1204 (150ºC, 1013.25 mBar)",
                          "                 ml/min:    837 ( 21ºC, 1013.25 mBar)",
                          "",
                          "Concentration",
                          "  N2            mol/min: 0.027 421 (  791 000 ppm)",
                          "  O2            mol/min: 0.007 245 (  209 000 ppm)",
                      }));
    EXPECT_TRUE(r.valid);
}

TEST(MixtureReport, OutletConditionsCutToTheirWidths) {
    const Report r = ReportOf(Segment({Gas(TGasItems::gAir, 1.0f, 0)}), 21.5, 1013.251);
    EXPECT_TRUE(Contains(r.text, " (1.5ºC, 013.251 mBar)\r\n")) << r.text;
}

TEST(MixtureReport, AllMassesZeroGiveZeroFiguresAndNoMolarLines) {
    const Report r = ReportOf(Segment({Gas(TGasItems::gAir, 0.0f, 0)}));
    EXPECT_TRUE(Contains(r.text, "Mass flow\r\n                         ---------\r\n  Total        gram/min: 0.000 000\r\n"))
        << r.text;
    EXPECT_TRUE(Contains(r.text, "                mln/min:      0 (  0ºC, 1013.25 mBar)\r\n"));
    EXPECT_TRUE(Contains(r.text, "                 ml/min:      0 ( 21ºC, 1013.25 mBar)\r\n"));
    EXPECT_FALSE(Contains(r.text, "mol/min"));
    EXPECT_TRUE(r.text.size() > 14 && r.text.substr(r.text.size() - 15) == "Concentration\r\n") << r.text;
}

TEST(MixtureReport, WaterAtTwentyDegreesHalfSaturated) {
    // Water at a mole fraction of 11 543.65 ppm in nitrogen; saturation at 20 °C and 1013.25 mbar
    // is 23 087 ppm, so the outlet is at 50 % relative humidity.
    const double x = 0.01154365;
    TGasItem segment = Segment({Gas(TGasItems::gN2, static_cast<float>((1 - x) * 28.0134), 0),
                                WaterFluid(static_cast<float>(x * 18.01528), 1000000, 20, 1013.25f)});
    const Report r = ReportOf(segment, 20, 1013.25);
    const std::string tail = Join({
        "Concentration",
        "  N2            mol/min: 0.988 456 (  988 456 ppm)",
        "  H2O           mol/min: 0.011 544 (   11 544 ppm)",
        "             ******************************************* ",
        "             *   for 20ºC, 1013 mbar",
        "             *      ppm @ 100% RH ->    23 087 ppm",
        "             *        Current ppm ->    11 544 ppm",
        "             *                 RH ->    50.000 %",
        "             ******************************************* ",
    });
    ASSERT_GE(r.text.size(), tail.size());
    EXPECT_EQ(r.text.substr(r.text.size() - tail.size()), tail) << r.text;
    EXPECT_TRUE(r.valid);
}

TEST(MixtureReport, FluidLimitAppliesToTheDesignedFluidAsAWhole) {
    // Water designed as one component reaches the report as the catalogue leaf, whose own Fluid
    // flag is false; the limit must still refuse it.
    const double x = 0.01154365;
    auto segment = [&](int32_t limit) {
        return Segment({Gas(TGasItems::gN2, static_cast<float>((1 - x) * 28.0134), 0),
                        WaterFluid(static_cast<float>(x * 18.01528), limit, 20, 1013.25f)});
    };
    const Report over = ReportOf(segment(10000), 20, 1013.25);
    EXPECT_FALSE(over.valid);
    EXPECT_EQ(Occurrences(over.text, ExceedingLine), 1u);
    // Once, after the concentration lines and the humidity block.
    const std::string last = "             ******************************************* \r\n" + ExceedingLine +
                             "   10 000 ppm)\r\n";
    EXPECT_EQ(over.text.substr(over.text.size() - last.size()), last) << over.text;

    const Report under = ReportOf(segment(12000), 20, 1013.25);
    EXPECT_TRUE(under.valid);
    EXPECT_FALSE(Contains(under.text, ExceedingLine));

    // Pure water: 1 000 000 ppm, exactly at the default limit.
    const Report pure = ReportOf(Segment({WaterFluid(0.01f, 1000000)}));
    EXPECT_TRUE(pure.valid);
    EXPECT_FALSE(Contains(pure.text, ExceedingLine));
    const Report pureOver = ReportOf(Segment({WaterFluid(0.01f, 999999)}));
    EXPECT_FALSE(pureOver.valid);
    EXPECT_TRUE(Contains(pureOver.text, ExceedingLine + "  999 999 ppm)\r\n"));
}

TEST(MixtureReport, FluidCountedApartFromAGasOfTheSameName) {
    // Water vapour dosed as a gas on B and the same mass of water from the pump: the fluid is
    // exactly half of the molar flow. At the limit nothing happens; one ppm lower refuses.
    auto segment = [](int32_t limit) {
        return Segment({Gas(TGasItems::gH2O, 0.004f, 1), WaterFluid(0.004f, limit)});
    };
    const Report at = ReportOf(segment(500000));
    EXPECT_TRUE(at.valid);
    EXPECT_FALSE(Contains(at.text, ExceedingLine));
    EXPECT_TRUE(Contains(at.text, "  H2O          gram/min: 0.008 000 (100.00%)")) << at.text;

    const Report over = ReportOf(segment(499999));
    EXPECT_FALSE(over.valid);
    EXPECT_TRUE(Contains(over.text, ExceedingLine + "  499 999 ppm)\r\n"));
}

TEST(MixtureReport, FluidWithoutComponentsComparedUnderItsOwnName) {
    TGasItem fluid = WaterFluid(0, 4000);
    fluid.Components.clear();
    fluid.GasNameMFC = "MIX_Test";
    fluid.GasNameLong = "Test";
    // 5 000 ppm of the fluid in nitrogen.
    const float nitrogenMol = 1.0f;
    fluid.Mass = static_cast<float>(nitrogenMol * 5000.0 / 995000.0 * 18.01528);
    const Report r = ReportOf(Segment({Gas(TGasItems::gN2, nitrogenMol * 28.0134f, 0), fluid}));
    EXPECT_FALSE(r.valid);
    EXPECT_TRUE(Contains(r.text, "  MIX_Test      mol/min: 0.005 025 (    5 000 ppm)\r\n")) << r.text;
    EXPECT_TRUE(Contains(r.text, ExceedingLine + "    4 000 ppm)\r\n")) << r.text;
}

TEST(MixtureReport, FiguresThatCannotBeComputedAreLeftOut) {
    // A demonstration gas with molar mass 0, and water with no flow at all.
    TGasItem demo;
    demo.Init();
    demo.GasNameMFC = "Demo";
    demo.GasNameLong = "Demo gas";
    demo.MolarMass = 0;
    demo.Mass = 0.1f;
    const Report zeroMolar = ReportOf(Segment({demo, Gas(TGasItems::gN2, 0.1f, 1)}));
    for (const char* bad : {"nan", "inf", "NaN", "INF"}) EXPECT_FALSE(Contains(zeroMolar.text, bad)) << zeroMolar.text;
    EXPECT_FALSE(Contains(zeroMolar.text, "  Demo          mol/min"));
    EXPECT_TRUE(Contains(zeroMolar.text, "  N2            mol/min: 0.003 570 (1 000 000 ppm)")) << zeroMolar.text;

    const Report dry = ReportOf(Segment({WaterFluid(0, 0)}), 20, 0);
    for (const char* bad : {"nan", "inf", "NaN", "INF"}) EXPECT_FALSE(Contains(dry.text, bad)) << dry.text;
    EXPECT_TRUE(dry.valid);  // no molar flow: no concentration to weigh against the limit
    EXPECT_TRUE(Contains(dry.text, "             *                 RH ->           %\r\n")) << dry.text;
    EXPECT_TRUE(Contains(dry.text, "                 ml/min:        ( 20ºC,       0 mBar)\r\n")) << dry.text;
}

TEST(MachineRecipe, OneLinePerInstrumentWithPulseRatio) {
    TGasItem a = Gas(TGasItems::gAir, 0.002f, 0);
    a.Pulsed = 0.4f;
    TGasItem b = Gas(TGasItems::gCO2, 0.25f, 1);
    b.InstrumentPort = "/dev/ttyUSB1";
    const std::string text = MachineRecipe(Segment({a, b, WaterFluid(0.0001f, 1000000)}));
    EXPECT_EQ(text, Join({
                        "Machine recipe",
                        "  SIM:0:Air bottled              0.002 000 g/min pulsed: 40.0 %",
                        "  /dev/ttyUSB1:1:Carbon dioxide  0.250 000 g/min ",
                        "  SIM:2:Water pure               0.000 100 g/min ",
                        "",
                    }));
    EXPECT_EQ(MachineRecipe(Segment({})), "Machine recipe\r\n\r\n");
}

TEST(MachineRecipe, InstrumentsOnLongPortNamesAreToldApartByTheirEnds) {
    TGasItem a = Gas(TGasItems::gN2, 0.01f, 0);
    a.InstrumentPort = "/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A10K3J2D-if00-port0";
    TGasItem b = Gas(TGasItems::gN2, 0.02f, 1);
    b.InstrumentPort = "/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A10K3J9Q-if00-port0";
    const std::string text = MachineRecipe(Segment({a, b}));
    EXPECT_EQ(text, Join({
                        "Machine recipe",
                        "  \u2026A10K3J2D-if00-port0:0:Nitrogen  0.010 000 g/min ",
                        "  \u2026A10K3J9Q-if00-port0:1:Nitrogen  0.020 000 g/min ",
                        "",
                    }));
}
