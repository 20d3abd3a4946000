#include "model/MixtureReport.h"

#include <algorithm>
#include <cmath>

#include "support/TextFormat.h"

namespace moirex {

namespace {

constexpr double MolarVolume_l = 22.414;  // l/mol at 0 °C and 1013.25 mbar
constexpr double ZeroCelsius_K = 273.15;
constexpr double NormalPressure_mBar = 1013.25;

void AddLine(std::string& text, std::string_view line) {
    text += line;
    text += CRLF;
}

// Mole flow of one entry in mol/min, held in single precision; false when its molar mass does
// not allow one.
bool MolarFlowOf(float mass, float molarMass, float& molarFlow) {
    if (!(molarMass > 0)) return false;
    molarFlow = static_cast<float>(static_cast<double>(mass) / molarMass);
    return std::isfinite(molarFlow);
}

std::string PpmFigure(double ppm) { return FitRight(FormatMask(ppm, "# ### ###"), 9); }

void Collect(const TGasItem& item, TComponentDictionary& dictionary, bool fromFluid) {
    if (item.Fluid && !fromFluid) {
        // The pump's fluid: what lies below it is weighed against the operator's limit.
        dictionary.FluidMaxPPM =
            dictionary.HasFluid ? std::min(dictionary.FluidMaxPPM, item.FluidMaxPPM) : item.FluidMaxPPM;
        dictionary.HasFluid = true;
        fromFluid = true;
    }
    if (!item.Components.empty()) {
        for (const auto& component : item.Components) Collect(component, dictionary, fromFluid);
        return;
    }
    if (item.GasNameMFC.empty()) return;
    TGasItem entry;
    if (const TGasItem* present = dictionary.Find(item.GasNameMFC)) entry = *present;
    entry.Mass += item.Mass;
    entry.GasNameMFC = item.GasNameMFC;
    entry.GasNameLong = item.GasNameLong;
    entry.MolarMass = item.MolarMass;
    entry.Fluid = item.Fluid;
    entry.FluidMaxPPM = item.FluidMaxPPM;
    if (item.GasNameMFC == "H2O") {
        entry.CustTempC = item.CustTempC;
        entry.CustPressmBar = item.CustPressmBar;
    }
    dictionary.Store(item.GasNameMFC, entry);
    if (fromFluid) dictionary.AddFluidMass(item.GasNameMFC, item.Mass);
}

}  // namespace

TGasItem* TComponentDictionary::Find(const std::string& key) {
    for (auto& entry : entries_)
        if (entry.first == key) return &entry.second;
    return nullptr;
}

const TGasItem* TComponentDictionary::Find(const std::string& key) const {
    for (const auto& entry : entries_)
        if (entry.first == key) return &entry.second;
    return nullptr;
}

void TComponentDictionary::Store(const std::string& key, const TGasItem& item) {
    if (TGasItem* present = Find(key)) {
        *present = item;
        return;
    }
    entries_.emplace_back(key, item);
    fluidMass_.push_back(0);
}

void TComponentDictionary::Clear() {
    entries_.clear();
    fluidMass_.clear();
    HasFluid = false;
    FluidMaxPPM = 0;
}

float TComponentDictionary::FluidMass(const std::string& key) const {
    for (size_t i = 0; i < entries_.size(); ++i)
        if (entries_[i].first == key) return fluidMass_[i];
    return 0;
}

void TComponentDictionary::AddFluidMass(const std::string& key, float mass) {
    for (size_t i = 0; i < entries_.size(); ++i)
        if (entries_[i].first == key) {
            fluidMass_[i] += mass;
            return;
        }
}

void CollectComponents(const TGasItem& item, TComponentDictionary& dictionary) {
    Collect(item, dictionary, false);
}

void ComponentsByInstrument(const TGasItem& segment, TComponentDictionary& dictionary) {
    for (const auto& part : segment.Components) dictionary.Store(std::to_string(part.InstrumentID), part);
}

double WaterVaporPressure(double temperatureC) {
    const double t = temperatureC;
    if (t > 0) return std::exp(34.494 - 4924.99 / (t + 237.1)) / std::pow(t + 105, 1.57) / 100;
    return std::exp(43.494 - 6545.8 / (t + 278)) / std::pow(t + 868, 2) / 100;
}

std::string MixtureReport(const TComponentDictionary& dictionary, TGasItem& mixture, double temperatureC,
                          double pressuremBar) {
    if (dictionary.Empty()) return {};
    std::string text;
    AddLine(text, "Components");

    float totalMass = 0;       // M, g/min
    float totalMolarFlow = 0;  // N, mol/min
    float fluidMolarFlow = 0;  // the pump's fluid alone, mol/min
    for (size_t i = 0; i < dictionary.Count(); ++i) {
        const TGasItem& entry = dictionary.Entries()[i].second;
        AddLine(text, "  " + FitLeft(entry.GasNameLong, 22) + " " + FormatMask(entry.MolarMass, "0.000") + " g/mol");
        totalMass += entry.Mass;
        float molarFlow = 0;
        if (MolarFlowOf(entry.Mass, entry.MolarMass, molarFlow)) totalMolarFlow += molarFlow;
        float fluidPart = 0;
        if (MolarFlowOf(dictionary.FluidMassAt(i), entry.MolarMass, fluidPart)) fluidMolarFlow += fluidPart;
    }
    AddLine(text, "");

    AddLine(text, "Mass flow");
    if (totalMass > 0) {
        for (const auto& [key, entry] : dictionary) {
            AddLine(text, "  " + FitLeft(entry.GasNameMFC, 10) + "   gram/min: " + FormatMask(entry.Mass, "0.000 000") +
                              " (" + FormatMask(static_cast<double>(entry.Mass) / totalMass * 100, "0.00") + "%)");
        }
    }
    AddLine(text, "                         ---------");
    AddLine(text, "  Total        gram/min: " + FormatMask(totalMass, "0.000 000"));
    AddLine(text, "");

    AddLine(text, "Volumetric flow (assuming everything is in gas state)");
    const double v0 = totalMolarFlow * MolarVolume_l;  // l/min at 0 °C
    auto volume = [](double ml) { return FitRight(FormatMask(ml, "0"), 6); };
    AddLine(text, "                mln/min: " + volume(v0 * 1000) + " (  0ºC, 1013.25 mBar)");
    AddLine(text, "                 ml/min: " + volume(v0 / ZeroCelsius_K * 323.15 * 1000) + " ( 50ºC, 1013.25 mBar)");
    AddLine(text, "                 ml/min: " + volume(v0 / ZeroCelsius_K * 373.15 * 1000) + " (100ºC, 1013.25 mBar)");
    AddLine(text, "                 ml/min: " + volume(v0 / ZeroCelsius_K * 423.15 * 1000) + " (150ºC, 1013.25 mBar)");
    const double outlet =
        v0 / ZeroCelsius_K * (temperatureC + ZeroCelsius_K) * 1000 / (pressuremBar / NormalPressure_mBar);
    AddLine(text, "                 ml/min: " + (std::isfinite(outlet) ? volume(outlet) : FitRight("", 6)) + " (" +
                      FitRight(FormatGeneral(temperatureC), 3) + "ºC, " + FitRight(FormatGeneral(pressuremBar), 7) +
                      " mBar)");
    AddLine(text, "");

    AddLine(text, "Concentration");
    const bool haveMolarFlow = totalMolarFlow > 0;
    for (const auto& [key, entry] : dictionary) {
        float molarFlow = 0;
        const bool haveFraction = haveMolarFlow && MolarFlowOf(entry.Mass, entry.MolarMass, molarFlow);
        const double fraction = haveFraction ? static_cast<double>(molarFlow) / totalMolarFlow : 0;
        const double ppm = fraction * 1e6;
        if (haveFraction) {
            AddLine(text, "  " + FitLeft(entry.GasNameMFC, 13) + " mol/min: " + FormatMask(molarFlow, "0.000 000") +
                              " (" + PpmFigure(ppm) + " ppm)");
        }
        if (entry.GasNameMFC == "H2O") {
            const float saturation = static_cast<float>(WaterVaporPressure(entry.CustTempC));
            const float saturationFraction = static_cast<float>(static_cast<double>(saturation) / entry.CustPressmBar);
            const bool haveSaturation =
                std::isfinite(saturationFraction) && entry.CustPressmBar > 0 && saturationFraction >= 0;
            const float humidity = static_cast<float>(fraction / saturationFraction * 100);
            const bool haveHumidity = haveFraction && haveSaturation && saturationFraction > 0 && std::isfinite(humidity);
            const std::string stars = "             ******************************************* ";
            AddLine(text, stars);
            AddLine(text, "             *  " + std::string(" for ") + FormatGeneral(temperatureC) + "ºC, " +
                              FormatMask(entry.CustPressmBar, "0") + " mbar");
            AddLine(text, "             *      ppm @ 100% RH -> " +
                              (haveSaturation ? PpmFigure(static_cast<double>(saturationFraction) * 1e6) : FitRight("", 9)) +
                              " ppm");
            AddLine(text, "             *        Current ppm -> " + (haveFraction ? PpmFigure(ppm) : FitRight("", 9)) + " ppm");
            AddLine(text, "             *                 RH -> " +
                              FitRight(haveHumidity ? FormatMask(humidity, "0.000") : std::string(), 9) + " %");
            AddLine(text, stars);
        }
    }

    // The limit applies to the pump's fluid as a whole, whatever its components are.
    if (dictionary.HasFluid && haveMolarFlow) {
        const double fluidPpm = static_cast<double>(fluidMolarFlow) / totalMolarFlow * 1e6;
        if (fluidPpm > dictionary.FluidMaxPPM) {
            mixture.Valid = false;
            AddLine(text, "    Exceeding the fluid ppm limit  (" + PpmFigure(dictionary.FluidMaxPPM) + " ppm)");
        }
    }
    return text;
}

std::string MachineRecipe(const TGasItem& segment) {
    std::string text;
    AddLine(text, "Machine recipe");
    for (const auto& part : segment.Components) {
        std::string line = "  " +
                           FitLeft(part.InstrumentPort + ":" + std::to_string(part.InstrumentID) + ":" + part.GasNameLong, 21) +
                           FormatMask(part.Mass, "  0.000 000") + " g/min ";
        if (part.Pulsed < 1) line += "pulsed: " + FormatMask(static_cast<double>(part.Pulsed) * 100, "0.0") + " %";
        AddLine(text, line);
    }
    text += CRLF;
    return text;
}

}  // namespace moirex
