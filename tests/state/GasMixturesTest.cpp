#include "state/GasMixtures.h"

#include <gtest/gtest.h>

#include <string>

#include "support/TextFormat.h"

namespace moirex {
namespace {

using G = TGasItems;

TGasItem Made(G gas, float mass) {
    TGasItem item;
    item.Init();
    MakeGasItem(gas, item, mass);
    return item;
}

TEST(GasItem, InitResetsAllButTheFluidConstants) {
    TGasItem item;
    item.StepName = "ID:1";
    item.StepTime = 2;
    item.GasNameMFC = "H2O";
    item.GasNameLong = "Water pure";
    item.InstrumentID = 2;
    item.InstrumentPort = "/dev/ttyUSB0";
    item.PumpCommand = "V100D10R";
    item.MolarMass = 18;
    item.PartialPressure = 0.5f;
    item.Mass = 3;
    item.MixtureMass = 4;
    item.DensityFluid20C = 0.8f;
    item.MolPerML = 0.05f;
    item.MGperStroke = 7;
    item.Pulsed = 0.2f;
    item.Fluid = true;
    item.FluidMaxPPM = 5;
    item.Valid = false;
    item.CustTempC = 21;
    item.CustPressmBar = 1013;
    item.Components.resize(2);
    item.Init();

    EXPECT_EQ(item.StepName, "");
    EXPECT_EQ(item.StepTime, 0);
    EXPECT_EQ(item.GasNameMFC, "");
    EXPECT_EQ(item.GasNameLong, "");
    EXPECT_EQ(item.InstrumentID, 0);
    EXPECT_EQ(item.InstrumentPort, "");
    EXPECT_EQ(item.PumpCommand, "");
    EXPECT_EQ(item.MolarMass, 1.0f);
    EXPECT_EQ(item.PartialPressure, 1.0f);
    EXPECT_EQ(item.Mass, 0);
    EXPECT_EQ(item.Pulsed, 1.0f);
    EXPECT_FALSE(item.Fluid);
    EXPECT_EQ(item.FluidMaxPPM, 1000000);
    EXPECT_TRUE(item.Valid);
    EXPECT_EQ(item.CustTempC, 0);
    EXPECT_EQ(item.CustPressmBar, 0);
    EXPECT_TRUE(item.Components.empty());
    // Kept as they are.
    EXPECT_EQ(item.MixtureMass, 4);
    EXPECT_EQ(item.DensityFluid20C, 0.8f);
    EXPECT_EQ(item.MolPerML, 0.05f);
    EXPECT_EQ(item.MGperStroke, 7);
}

TEST(GasItem, CopiesAreIndependent) {
    TGasItem segment;
    segment.Init();
    segment.Components.push_back(Made(G::gAir, 1.0f));
    TGasItem copy = segment;
    copy.Components[0].Components[0].Mass = 5;
    copy.Components[0].GasNameLong = "changed";
    EXPECT_NEAR(segment.Components[0].Components[0].Mass, 0.768160f, 1e-6f);
    EXPECT_EQ(segment.Components[0].GasNameLong, "Air bottled");
}

TEST(MakeGasItem, FillsTheSingleGasesFromTheCatalogue) {
    const struct {
        G Gas;
        const char* Short;
        const char* Long;
        float MolarMass;
        float Density;
    } cases[] = {
        {G::gAr, "Ar", "Argon", 39.948f, 1.0f},
        {G::gCO, "CO", "Carbon monoxide", 28.0134f, 1.0f},
        {G::gCO2, "CO2", "Carbon dioxide", 44.0095f, 1.0f},
        {G::gCH4, "CH4", "Methane", 16.043f, 1.0f},
        {G::gC2H6O, "C2H6O", "Ethanol", 46.069f, 0.7893f},
        {G::gCH4O, "CH4O", "Methanol", 32.04f, 0.792f},
        {G::gH2, "H2", "Hydrogen", 2.01588f, 1.0f},
        {G::gH2O, "H2O", "Water pure", 18.01528f, 0.997735f},
        {G::gHe, "He", "Helium", 4.002602f, 1.0f},
        {G::gO2, "O2", "Oxygen", 31.9988f, 1.0f},
        {G::gN2, "N2", "Nitrogen", 28.0134f, 1.0f},
    };
    for (const auto& c : cases) {
        TGasItem item;
        item.Init();
        item.StepName = "old";
        item.Fluid = true;
        item.InstrumentID = 1;
        MakeGasItem(c.Gas, item, 0.25f);
        EXPECT_EQ(item.GasNameMFC, c.Short);
        EXPECT_EQ(item.GasNameLong, c.Long);
        EXPECT_EQ(item.MolarMass, c.MolarMass) << c.Long;
        EXPECT_EQ(item.DensityFluid20C, c.Density) << c.Long;
        EXPECT_EQ(item.PartialPressure, -1.0f);
        EXPECT_EQ(item.Mass, 0.25f);
        EXPECT_EQ(item.StepName, "");
        EXPECT_FALSE(item.Fluid);
        EXPECT_EQ(item.InstrumentID, 1);  // not a catalogue field
        EXPECT_TRUE(item.Components.empty());
    }
    EXPECT_EQ(FormatGeneral(Made(G::gC2H6O, 0).DensityFluid20C), "0.78930002450943");
}

TEST(MakeGasItem, UndefinedGivesEmptyNamesAndNoMolarMass) {
    const TGasItem item = Made(G::gUndefined, 0.5f);
    EXPECT_EQ(item.GasNameMFC, "");
    EXPECT_EQ(item.GasNameLong, "");
    EXPECT_EQ(item.MolarMass, -1.0f);
    EXPECT_EQ(item.PartialPressure, -1.0f);
    EXPECT_EQ(item.DensityFluid20C, 1.0f);
    EXPECT_EQ(item.Mass, 0.5f);
}

TEST(MakeGasItem, BottledMixturesSplitTheirMassByWeight) {
    const struct {
        G Gas;
        const char* Short;
        const char* Long;
        const char* MolarMass;  // as the mixture report shows it ("0.000")
        float MolarMassValue;
        G First, Second;
        float FirstFraction, SecondFraction;
        const char* FirstMass;
        const char* SecondMass;
    } cases[] = {
        {G::gAir, "Air", "Air bottled", "28.846", 28.84635f, G::gN2, G::gO2, 0.791f, 0.209f, "0.768 160", "0.231 840"},
        {G::gH2Ar95, "H2Ar95", "5% H2 in Ar", "38.051", 38.0514f, G::gH2, G::gAr, 0.05f, 0.95f, "0.002 649", "0.997 351"},
        {G::gH2Ar99, "H2Ar99", "1% H2 in Ar", "39.569", 39.56868f, G::gH2, G::gAr, 0.01f, 0.99f, "0.000 509", "0.999 491"},
        {G::gCOCO290, "COCO290", "10% CO in CO2", "42.410", 42.40989f, G::gCO, G::gCO2, 0.1f, 0.9f, "0.066 054", "0.933 946"},
    };
    for (const auto& c : cases) {
        const TGasItem m = Made(c.Gas, 1.0f);
        EXPECT_EQ(m.GasNameMFC, c.Short);
        EXPECT_EQ(m.GasNameLong, c.Long);
        EXPECT_EQ(FormatMask(m.MolarMass, "0.000"), c.MolarMass);
        EXPECT_NEAR(m.MolarMass, c.MolarMassValue, 2e-5f) << c.Long;
        EXPECT_EQ(m.PartialPressure, -1.0f);
        EXPECT_EQ(m.Mass, 1.0f);
        ASSERT_EQ(m.Components.size(), 2u);
        const TGasItem& a = m.Components[0];
        const TGasItem& b = m.Components[1];
        EXPECT_EQ(a.GasNameMFC, Made(c.First, 0).GasNameMFC);
        EXPECT_EQ(b.GasNameMFC, Made(c.Second, 0).GasNameMFC);
        EXPECT_EQ(a.PartialPressure, c.FirstFraction);
        EXPECT_EQ(b.PartialPressure, c.SecondFraction);
        EXPECT_EQ(FormatMask(a.Mass, "0.000 000"), c.FirstMass) << c.Long;
        EXPECT_EQ(FormatMask(b.Mass, "0.000 000"), c.SecondMass) << c.Long;
        EXPECT_TRUE(a.Components.empty());

        const TGasItem zero = Made(c.Gas, 0.0f);
        EXPECT_EQ(zero.Components[0].Mass, 0.0f);
        EXPECT_EQ(zero.Components[1].Mass, 0.0f);
        EXPECT_EQ(zero.MolarMass, m.MolarMass);
    }
}

TEST(SplitMixtureMass, GivesEachComponentItsMassShare) {
    TGasItem air = Made(G::gAir, 1.0f);
    SplitMixtureMass(air, 2.0f);
    EXPECT_NEAR(air.Components[0].Mass, 2 * 0.768160f, 2e-6f);
    EXPECT_NEAR(air.Components[1].Mass, 2 * 0.231840f, 2e-6f);
    EXPECT_EQ(air.Mass, 1.0f);  // the mixture's own flow is the caller's
    // Components without any weight get no share instead of "nan".
    TGasItem none;
    none.Init();
    none.Components.resize(2);
    none.Components[0].MolarMass = 0;
    none.Components[1].MolarMass = 0;
    SplitMixtureMass(none, 1.0f);
    EXPECT_EQ(none.Components[0].Mass, 0.0f);
    EXPECT_EQ(none.Components[1].Mass, 0.0f);
    TGasItem empty;
    SplitMixtureMass(empty, 1.0f);
    EXPECT_TRUE(empty.Components.empty());
}

TEST(GasItemsFromName, TriesTheRulesInOrder) {
    const struct {
        const char* Name;
        G Gas;
    } cases[] = {
        {"Argon", G::gAr},          {"Ar", G::gAr},
        {"Ar 4.6", G::gAr},         {"MIX_087", G::gH2Ar95},
        {"MIX_0871", G::gH2Ar95},   {"MIX_08", G::gUndefined},
        {"MIX275", G::gCOCO290},    {"CO2", G::gCO2},
        {"Carbon dioxide", G::gCO2}, {"COS", G::gCO},
        {"CO", G::gCO},             {"Carbon monoxide", G::gCO},
        {"H2O", G::gH2O},           {"Water vapour", G::gH2O},
        {"Water pure", G::gH2O},    {"H2Ar", G::gH2},
        {"H2", G::gH2},             {"Hydrogen", G::gH2},
        {"CH4", G::gCH4},           {"CH4O", G::gCH4O},
        {"Methanol", G::gCH4O},     {"Methane", G::gCH4},
        {"Helium", G::gHe},         {"Hexane", G::gHe},
        {"O2", G::gO2},             {"Oxygen", G::gO2},
        {"N2O", G::gN2},            {"Nitrogen", G::gN2},
        {"Air bottled", G::gAir},   {"Air", G::gAir},
        {"air", G::gUndefined},     {"C2H6O", G::gC2H6O},
        {"Ethanol", G::gC2H6O},     {"Ethanol 96%", G::gUndefined},
        {"5% H2 in Ar", G::gUndefined}, {"1% H2 in Ar", G::gUndefined},
        {"10% CO in CO2", G::gUndefined}, {"", G::gUndefined},
        {"A", G::gUndefined},       {"argon", G::gUndefined},
        {"H2Ar99", G::gH2},  // no name yields 1% H2 in Ar
    };
    for (const auto& c : cases) {
        EXPECT_EQ(static_cast<int>(GasItemsFromName(c.Name)), static_cast<int>(c.Gas)) << '"' << c.Name << '"';
    }
}

TEST(GasItemsText, ConvertsIdentifiersBothWays) {
    for (int i = 0; i < GasItemsCount; ++i) {
        const G gas = static_cast<G>(i);
        const std::string id = GasItemsToString(gas);
        ASSERT_FALSE(id.empty());
        EXPECT_EQ(GasItemsFromString(id), gas) << id;
    }
    EXPECT_EQ(GasItemsToString(G::gH2O), "gH2O");
    EXPECT_EQ(GasItemsToString(G::gUndefined), "gUndefined");
    EXPECT_EQ(GasItemsToString(G::gCOCO290), "gCOCO290");
    EXPECT_EQ(GasItemsFromString("gh2o"), G::gH2O);
    EXPECT_EQ(GasItemsFromString("GCOCO290"), G::gCOCO290);
    EXPECT_EQ(GasItemsFromString("h2o"), std::nullopt);
    EXPECT_EQ(GasItemsFromString(""), std::nullopt);
    EXPECT_EQ(GasItemsFromString(" gH2O"), std::nullopt);
    EXPECT_EQ(GasItemsFromString("9"), std::nullopt);
    EXPECT_EQ(GasItemsFromString(std::string(256, 'g')), std::nullopt);
    EXPECT_EQ(GasItemsToString(static_cast<G>(200)), "");
}

TEST(FluidMixtureAsString, WritesTheRecipeOfTheFluid) {
    TGasItem fluid;
    fluid.Init();
    fluid.GasNameLong = "Ethanol in water";
    fluid.DensityFluid20C = 0.7893f;
    TGasItem ethanol = Made(G::gC2H6O, 0);
    ethanol.MixtureMass = 2.5f;
    TGasItem water = Made(G::gH2O, 0);
    water.MixtureMass = 0.1f;
    fluid.Components = {ethanol, water};

    const std::string text = fluid.FluidMixtureAsString();
    const std::string head = "Mixture recipe: Ethanol in water\r\nDescription saved: ";
    ASSERT_EQ(text.substr(0, head.size()), head);
    const std::string stamp = text.substr(head.size(), 19);  // yyyy-mm-dd hh:mm:ss
    EXPECT_EQ(stamp[4], '-');
    EXPECT_EQ(stamp[10], ' ');
    EXPECT_EQ(stamp[13], ':');
    EXPECT_EQ(text.substr(head.size() + 19),
              "\r\nGiven density g/ml@20\xC2\xBA"
              "C: 0.78930002450943\r\n"
              "Components:\r\n"
              "  Name - mass\r\n"
              "  Ethanol - 2.5\r\n"
              "  Water pure - 0.100000001490116\r\n");

    TGasItem bare;
    bare.Init();
    bare.DensityFluid20C = 1;
    const std::string t = bare.FluidMixtureAsString();
    const std::string tail = "Given density g/ml@20\u00BAC: 1\r\nComponents:\r\n  Name - mass\r\n";
    EXPECT_EQ(t.substr(t.size() - tail.size()), tail);
}

}  // namespace
}  // namespace moirex
