#include "model/MixtureReport.h"

#include <algorithm>
#include <cmath>

#include "support/TextFormat.h"

namespace moirex {

namespace {

constexpr double MolarVolume_l = NormalMolarVolume_l;  // l/mol at 0 °C and 1013.25 mbar
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

const TMixtureFigureEntry* TMixtureFigures::Find(const std::string& key) const {
    for (const auto& entry : Entries)
        if (entry.Key == key) return &entry;
    return nullptr;
}

double OutletMolarVolume_ml(double temperatureC, double pressuremBar) {
    return MolarVolume_l / ZeroCelsius_K * (temperatureC + ZeroCelsius_K) * 1000 / (pressuremBar / NormalPressure_mBar);
}

TMixtureFigures MixtureFigures(const TComponentDictionary& dictionary, double temperatureC, double pressuremBar) {
    TMixtureFigures figures;
    float fluidMolarFlow = 0;  // the pump's fluid alone, mol/min
    for (size_t i = 0; i < dictionary.Count(); ++i) {
        const TGasItem& entry = dictionary.Entries()[i].second;
        figures.TotalMass += entry.Mass;
        float molarFlow = 0;
        if (MolarFlowOf(entry.Mass, entry.MolarMass, molarFlow)) figures.TotalMolarFlow += molarFlow;
        float fluidPart = 0;
        if (MolarFlowOf(dictionary.FluidMassAt(i), entry.MolarMass, fluidPart)) fluidMolarFlow += fluidPart;
    }
    const double v0 = figures.TotalMolarFlow * MolarVolume_l;
    figures.Volume0_lpm = v0;
    figures.OutletVolume_mlpm =
        v0 / ZeroCelsius_K * (temperatureC + ZeroCelsius_K) * 1000 / (pressuremBar / NormalPressure_mBar);
    figures.HasOutletVolume = std::isfinite(figures.OutletVolume_mlpm);

    const bool haveMolarFlow = figures.TotalMolarFlow > 0;
    for (const auto& [key, entry] : dictionary) {
        TMixtureFigureEntry f;
        f.Key = key;
        f.HasFraction = haveMolarFlow && MolarFlowOf(entry.Mass, entry.MolarMass, f.MolarFlow);
        const double fraction = f.HasFraction ? static_cast<double>(f.MolarFlow) / figures.TotalMolarFlow : 0;
        f.Ppm = fraction * 1e6;
        if (entry.GasNameMFC == "H2O") {
            const float saturation = static_cast<float>(WaterVaporPressure(entry.CustTempC));
            const float saturationFraction = static_cast<float>(static_cast<double>(saturation) / entry.CustPressmBar);
            f.HasSaturation = std::isfinite(saturationFraction) && entry.CustPressmBar > 0 && saturationFraction >= 0;
            f.SaturationPpm = static_cast<double>(saturationFraction) * 1e6;
            f.Humidity = static_cast<float>(fraction / saturationFraction * 100);
            f.HasHumidity = f.HasFraction && f.HasSaturation && saturationFraction > 0 && std::isfinite(f.Humidity);
        }
        figures.Entries.push_back(std::move(f));
    }

    // The limit applies to the pump's fluid as a whole, whatever its components are.
    if (dictionary.HasFluid && haveMolarFlow) {
        figures.HasFluidPpm = true;
        figures.FluidPpm = static_cast<double>(fluidMolarFlow) / figures.TotalMolarFlow * 1e6;
        figures.ExceedsFluidLimit = figures.FluidPpm > dictionary.FluidMaxPPM;
    }
    return figures;
}

std::string MixtureReport(const TComponentDictionary& dictionary, TGasItem& mixture, double temperatureC,
                          double pressuremBar) {
    if (dictionary.Empty()) return {};
    const TMixtureFigures figures = MixtureFigures(dictionary, temperatureC, pressuremBar);
    std::string text;
    AddLine(text, "Components");
    for (const auto& [key, entry] : dictionary)
        AddLine(text, "  " + FitLeft(entry.GasNameLong, 22) + " " + FormatMask(entry.MolarMass, "0.000") + " g/mol");
    AddLine(text, "");

    AddLine(text, "Mass flow");
    const float totalMass = figures.TotalMass;
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
    const double v0 = figures.Volume0_lpm;  // l/min at 0 °C
    auto volume = [](double ml) { return FitRight(FormatMask(ml, "0"), 6); };
    AddLine(text, "                mln/min: " + volume(v0 * 1000) + " (  0ºC, 1013.25 mBar)");
    AddLine(text, "                 ml/min: " + volume(v0 / ZeroCelsius_K * 323.15 * 1000) + " ( 50ºC, 1013.25 mBar)");
    AddLine(text, "                 ml/min: " + volume(v0 / ZeroCelsius_K * 373.15 * 1000) + " (100ºC, 1013.25 mBar)");
    AddLine(text, "                 ml/min: " + volume(v0 / ZeroCelsius_K * 423.15 * 1000) + " (150ºC, 1013.25 mBar)");
    AddLine(text, "                 ml/min: " +
                      (figures.HasOutletVolume ? volume(figures.OutletVolume_mlpm) : FitRight("", 6)) + " (" +
                      FitRight(FormatGeneral(temperatureC), 3) + "ºC, " + FitRight(FormatGeneral(pressuremBar), 7) +
                      " mBar)");
    AddLine(text, "");

    AddLine(text, "Concentration");
    for (size_t i = 0; i < dictionary.Count(); ++i) {
        const TGasItem& entry = dictionary.Entries()[i].second;
        const TMixtureFigureEntry& f = figures.Entries[i];
        if (f.HasFraction) {
            AddLine(text, "  " + FitLeft(entry.GasNameMFC, 13) + " mol/min: " + FormatMask(f.MolarFlow, "0.000 000") +
                              " (" + PpmFigure(f.Ppm) + " ppm)");
        }
        if (entry.GasNameMFC == "H2O") {
            const std::string stars = "             ******************************************* ";
            AddLine(text, stars);
            AddLine(text, "             *  " + std::string(" for ") + FormatGeneral(temperatureC) + "ºC, " +
                              FormatMask(entry.CustPressmBar, "0") + " mbar");
            AddLine(text, "             *      ppm @ 100% RH -> " +
                              (f.HasSaturation ? PpmFigure(f.SaturationPpm) : FitRight("", 9)) + " ppm");
            AddLine(text, "             *        Current ppm -> " + (f.HasFraction ? PpmFigure(f.Ppm) : FitRight("", 9)) +
                              " ppm");
            AddLine(text, "             *                 RH -> " +
                              FitRight(f.HasHumidity ? FormatMask(f.Humidity, "0.000") : std::string(), 9) + " %");
            AddLine(text, stars);
        }
    }

    if (figures.ExceedsFluidLimit) {
        mixture.Valid = false;
        AddLine(text, "    Exceeding the fluid ppm limit  (" + PpmFigure(dictionary.FluidMaxPPM) + " ppm)");
    }
    return text;
}

namespace {

size_t Characters(std::string_view text) {
    size_t n = 0;
    for (unsigned char c : text) n += (c & 0xC0) != 0x80;
    return n;
}

// Port, instrument number and gas of a recipe line. A port name longer than 20 characters (a
// by-id path) is shown by its end, where names of the same folder differ.
std::string RecipeLabel(const TGasItem& part) {
    constexpr int kPortShown = 20;
    const std::string& port = part.InstrumentPort;
    const std::string shown = Characters(port) > kPortShown ? "\u2026" + FitRight(port, kPortShown - 1) : port;
    return shown + ":" + std::to_string(part.InstrumentID) + ":" + part.GasNameLong;
}

}  // namespace

std::string MachineRecipe(const TGasItem& segment) {
    std::string text;
    AddLine(text, "Machine recipe");
    // The labels in one column at least 21 wide, none cut.
    size_t width = 21;
    for (const auto& part : segment.Components) width = std::max(width, Characters(RecipeLabel(part)));
    for (const auto& part : segment.Components) {
        std::string line = "  " + FitLeft(RecipeLabel(part), static_cast<int>(width)) +
                           FormatMask(part.Mass, "  0.000 000") + " g/min ";
        if (part.Pulsed < 1) line += "pulsed: " + FormatMask(static_cast<double>(part.Pulsed) * 100, "0.0") + " %";
        AddLine(text, line);
    }
    text += CRLF;
    return text;
}

}  // namespace moirex
