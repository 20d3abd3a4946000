#pragma once
// The mixture report: what the current set-points put into the outlet gas (components, mass
// flows, volumetric flows, concentrations, humidity of water), the per-instrument machine
// recipe, the water vapour pressure, and the component dictionaries these are built from.

#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "state/GasMixtures.h"

namespace moirex {

// Volume of one mole of an ideal gas at normal conditions (0 °C, 1013.25 mbar), litres.
inline constexpr double NormalMolarVolume_l = 22.414;

// A dictionary of composition records by text key. Entries are enumerated in the order their
// keys were first stored, so every pass over it lists the components in the same order: gas A's
// leaves, then gas B's, then the fluid's.
class TComponentDictionary {
public:
    using Entry = std::pair<std::string, TGasItem>;

    // nullptr when the key is not present.
    TGasItem* Find(const std::string& key);
    const TGasItem* Find(const std::string& key) const;
    // Adds the key at the end, or replaces the value of a present key in its place.
    void Store(const std::string& key, const TGasItem& item);
    void Clear();

    size_t Count() const { return entries_.size(); }
    bool Empty() const { return entries_.empty(); }
    const std::vector<Entry>& Entries() const { return entries_; }
    std::vector<Entry>::const_iterator begin() const { return entries_.begin(); }
    std::vector<Entry>::const_iterator end() const { return entries_.end(); }

    // The part of an entry's Mass (g/min) that comes from the pump's fluid, counted apart from
    // any gas of the same short name; 0 for a key that is not present.
    float FluidMass(const std::string& key) const;
    float FluidMassAt(size_t index) const { return fluidMass_.at(index); }
    // Adds to the fluid part of a stored key; a key that is not present is ignored.
    void AddFluidMass(const std::string& key, float mass);

    // Whether CollectComponents met the pump's fluid (a record whose Fluid is set), and the
    // operator's limit for the fluid's concentration (the lowest, should there be several).
    bool HasFluid = false;
    int32_t FluidMaxPPM = 0;

private:
    std::vector<Entry> entries_;
    std::vector<float> fluidMass_;  // parallel to entries_
};

// Sums the leaves of `item` (records without Components) by short name into `dictionary`:
// Mass added; GasNameMFC, GasNameLong, MolarMass, Fluid, FluidMaxPPM copied (for "H2O" also
// CustTempC and CustPressmBar). Leaves with an empty short name are dropped. Leaves below a
// record whose Fluid is set (the pump's fluid), or such a record itself when it has no
// components, also count into the fluid part of their entry.
void CollectComponents(const TGasItem& item, TComponentDictionary& dictionary);

// Stores each of the segment's Components under the decimal text of its InstrumentID
// ("0" gas A, "1" gas B, "2" fluid C); a later element with the same number replaces an earlier.
void ComponentsByInstrument(const TGasItem& segment, TComponentDictionary& dictionary);

// The figures of the report as numbers, computed as the report computes them (sums and molar
// flows in single precision), so that what a caller checks is what the report prints.
struct TMixtureFigureEntry {
    std::string Key;            // short name
    bool HasFraction = false;   // a molar flow and a mole fraction could be computed
    float MolarFlow = 0;        // mol/min
    double Ppm = 0;             // mole fraction × 10⁶
    // Water ("H2O") only: the humidity at the entry's own outlet conditions.
    bool HasSaturation = false;
    double SaturationPpm = 0;   // mole fraction of water at 100 % RH, × 10⁶
    bool HasHumidity = false;
    float Humidity = 0;         // RH in %
};

struct TMixtureFigures {
    float TotalMass = 0;        // M, g/min
    float TotalMolarFlow = 0;   // N, mol/min
    double Volume0_lpm = 0;     // l/min at 0 °C and 1013.25 mbar
    bool HasOutletVolume = false;
    double OutletVolume_mlpm = 0;  // ml/min at the outlet conditions
    std::vector<TMixtureFigureEntry> Entries;  // in the dictionary's order
    bool HasFluidPpm = false;   // the pump's fluid is present and there is a molar flow
    double FluidPpm = 0;        // the pump's fluid as a whole, mole fraction × 10⁶
    bool ExceedsFluidLimit = false;  // FluidPpm above the dictionary's FluidMaxPPM

    // nullptr when the key is not present.
    const TMixtureFigureEntry* Find(const std::string& key) const;
};

TMixtureFigures MixtureFigures(const TComponentDictionary& dictionary, double temperatureC, double pressuremBar);

// Millilitres per mole of gas at the outlet conditions, as the report's volumetric line counts.
double OutletMolarVolume_ml(double temperatureC, double pressuremBar);

// The report text (lines ending CR LF) of a dictionary by short name; empty for an empty
// dictionary. Outlet temperature in °C, pressure in mbar. Figures that cannot be computed (molar
// mass 0 or below, no molar flow) are left out. Clears mixture.Valid when the pump's fluid as a
// whole (its molar flow over the total molar flow) lies above its ppm limit; changes nothing
// else of the mixture.
std::string MixtureReport(const TComponentDictionary& dictionary, TGasItem& mixture,
                          double temperatureC, double pressuremBar);

// "Machine recipe" and one line per instrument part of the segment, lines ending CR LF: port,
// instrument number and gas in a column as wide as the longest of them (at least 21), a long port
// name shown by its end, so that the instruments can be told apart.
std::string MachineRecipe(const TGasItem& segment);

// Saturation vapour pressure of water in mbar at a temperature in °C (over ice at 0 °C and below).
double WaterVaporPressure(double temperatureC);

}  // namespace moirex
