#include "state/GasMixtures.h"

#include <array>

#include "support/DateTime.h"
#include "support/TextFormat.h"

namespace moirex {

namespace {

struct TCatalogueEntry {
    TGasItems Gas;
    const char* Identifier;
    const char* NameMFC;
    const char* NameLong;
    float MolarMass;  // g/mol; mixtures compute theirs from their components
    float Density;    // g/ml at 20 °C
    // Bottled mixtures: two components and their mole fractions.
    TGasItems First = TGasItems::gUndefined;
    float FirstFraction = 0;
    TGasItems Second = TGasItems::gUndefined;
    float SecondFraction = 0;
};

// In the order of the enumeration: the ordinal is the index.
const std::array<TCatalogueEntry, GasItemsCount> kCatalogue = {{
    {TGasItems::gUndefined, "gUndefined", "", "", -1.0f, 1.0f},
    {TGasItems::gAir, "gAir", "Air", "Air bottled", 0.0f, 1.0f, TGasItems::gN2, 0.791f, TGasItems::gO2, 0.209f},
    {TGasItems::gAr, "gAr", "Ar", "Argon", 39.948f, 1.0f},
    {TGasItems::gCO, "gCO", "CO", "Carbon monoxide", 28.0134f, 1.0f},
    {TGasItems::gCO2, "gCO2", "CO2", "Carbon dioxide", 44.0095f, 1.0f},
    {TGasItems::gCH4, "gCH4", "CH4", "Methane", 16.043f, 1.0f},
    {TGasItems::gC2H6O, "gC2H6O", "C2H6O", "Ethanol", 46.069f, 0.7893f},
    {TGasItems::gCH4O, "gCH4O", "CH4O", "Methanol", 32.04f, 0.792f},
    {TGasItems::gH2, "gH2", "H2", "Hydrogen", 2.01588f, 1.0f},
    {TGasItems::gH2O, "gH2O", "H2O", "Water pure", 18.01528f, 0.997735f},
    {TGasItems::gHe, "gHe", "He", "Helium", 4.002602f, 1.0f},
    {TGasItems::gO2, "gO2", "O2", "Oxygen", 31.9988f, 1.0f},
    {TGasItems::gN2, "gN2", "N2", "Nitrogen", 28.0134f, 1.0f},
    {TGasItems::gH2Ar95, "gH2Ar95", "H2Ar95", "5% H2 in Ar", 0.0f, 1.0f, TGasItems::gH2, 0.05f, TGasItems::gAr, 0.95f},
    {TGasItems::gH2Ar99, "gH2Ar99", "H2Ar99", "1% H2 in Ar", 0.0f, 1.0f, TGasItems::gH2, 0.01f, TGasItems::gAr, 0.99f},
    {TGasItems::gCOCO290, "gCOCO290", "COCO290", "10% CO in CO2", 0.0f, 1.0f, TGasItems::gCO, 0.1f, TGasItems::gCO2, 0.9f},
}};

const TCatalogueEntry* Entry(TGasItems gas) {
    const auto index = static_cast<size_t>(gas);
    return index < kCatalogue.size() ? &kCatalogue[index] : nullptr;
}

bool BeginsWith(std::string_view name, std::string_view text) { return name.substr(0, text.size()) == text; }

TGasItem Component(TGasItems gas, float fraction) {
    TGasItem item;
    item.Init();
    MakeGasItem(gas, item, 0.0f);
    item.PartialPressure = fraction;
    return item;
}

char LowerAscii(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

}  // namespace

void TGasItem::Init() {
    StepName.clear();
    StepTime = 0;
    GasNameMFC.clear();
    GasNameLong.clear();
    InstrumentID = 0;
    InstrumentPort.clear();
    PumpCommand.clear();
    MolarMass = 1.0f;
    PartialPressure = 1.0f;
    Mass = 0;
    Pulsed = 1.0f;
    Fluid = false;
    FluidMaxPPM = 1000000;
    Valid = true;
    CustTempC = 0;
    CustPressmBar = 0;
    Components.clear();
}

std::string TGasItem::FluidMixtureAsString() const {
    std::string text;
    auto line = [&text](const std::string& s) {
        text += s;
        text += CRLF;
    };
    line("Mixture recipe: " + GasNameLong);
    line("Description saved: " + FormatDateTime("yyyy-mm-dd hh:mm:ss", Now()));
    line("Given density g/ml@20\u00BAC: " + FormatGeneral(DensityFluid20C));
    line("Components:");
    line("  Name - mass");
    for (const TGasItem& c : Components) line("  " + c.GasNameLong + " - " + FormatGeneral(c.MixtureMass));
    return text;
}

void MakeGasItem(TGasItems gas, TGasItem& item, float mass) {
    item.Fluid = false;
    item.StepName.clear();
    item.StepTime = 0;
    item.GasNameMFC.clear();
    item.GasNameLong.clear();
    item.MolarMass = -1.0f;
    item.PartialPressure = -1.0f;
    item.Mass = mass;
    item.DensityFluid20C = 1.0f;

    const TCatalogueEntry* e = Entry(gas);
    if (e == nullptr || gas == TGasItems::gUndefined) return;
    item.GasNameMFC = e->NameMFC;
    item.GasNameLong = e->NameLong;
    item.DensityFluid20C = e->Density;
    if (e->First == TGasItems::gUndefined) {
        item.MolarMass = e->MolarMass;
        return;
    }
    TGasItem first = Component(e->First, e->FirstFraction);
    TGasItem second = Component(e->Second, e->SecondFraction);
    const double molarMass = static_cast<double>(e->FirstFraction) * first.MolarMass +
                             static_cast<double>(e->SecondFraction) * second.MolarMass;
    item.Components = {std::move(first), std::move(second)};
    SplitMixtureMass(item, mass);
    item.MolarMass = static_cast<float>(molarMass);
}

TGasItems GasItemsFromName(std::string_view name) {
    using G = TGasItems;
    if (name == "Argon" || BeginsWith(name, "Ar")) return G::gAr;
    if (BeginsWith(name, "MIX_087")) return G::gH2Ar95;
    if (BeginsWith(name, "MIX275")) return G::gCOCO290;
    if (name == "Carbon dioxide" || BeginsWith(name, "CO2")) return G::gCO2;
    if (name == "Carbon monoxide" || BeginsWith(name, "CO")) return G::gCO;
    if (BeginsWith(name, "Water") || BeginsWith(name, "H2O")) return G::gH2O;
    if (name == "Hydrogen" || BeginsWith(name, "H2")) return G::gH2;
    if (name.size() > 3 && (name == "Methanol" || BeginsWith(name, "CH4O"))) return G::gCH4O;
    if (name == "Methane" || BeginsWith(name, "CH4")) return G::gCH4;
    if (name == "Helium" || BeginsWith(name, "He")) return G::gHe;
    if (name == "Oxygen" || BeginsWith(name, "O2")) return G::gO2;
    if (name == "Nitrogen" || BeginsWith(name, "N2")) return G::gN2;
    if (BeginsWith(name, "Air")) return G::gAir;
    if (name == "C2H6O" || name == "Ethanol") return G::gC2H6O;
    return G::gUndefined;
}

void SplitMixtureMass(TGasItem& mixture, float mass) {
    // The products are formed in double and the sum is held in single precision, step by step:
    // this gives the published mass fractions (1% H2 in Ar: 0.000509 to 0.999491).
    float sum = 0;
    for (const TGasItem& c : mixture.Components) {
        sum = static_cast<float>(static_cast<double>(sum) + static_cast<double>(c.MolarMass) * c.PartialPressure);
    }
    for (TGasItem& c : mixture.Components) {
        // Components without any weight have no share to give: every part gets 0 rather than a
        // division by zero that would put "nan" into flows and reports.
        c.Mass = sum == 0 ? 0.0f
                          : static_cast<float>(static_cast<double>(mass) * c.MolarMass * c.PartialPressure / sum);
    }
}

std::string GasItemsToString(TGasItems gas) {
    const TCatalogueEntry* e = Entry(gas);
    return e != nullptr ? e->Identifier : std::string();
}

std::optional<TGasItems> GasItemsFromString(std::string_view text) {
    if (text.empty() || text.size() >= 256) return std::nullopt;
    for (const TCatalogueEntry& e : kCatalogue) {
        const std::string_view id = e.Identifier;
        if (id.size() != text.size()) continue;
        bool same = true;
        for (size_t i = 0; i < id.size() && same; ++i) same = LowerAscii(id[i]) == LowerAscii(text[i]);
        if (same) return e.Gas;
    }
    return std::nullopt;
}

}  // namespace moirex
