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

// The report text (lines ending CR LF) of a dictionary by short name; empty for an empty
// dictionary. Outlet temperature in °C, pressure in mbar. Figures that cannot be computed (molar
// mass 0 or below, no molar flow) are left out. Clears mixture.Valid when the pump's fluid as a
// whole (its molar flow over the total molar flow) lies above its ppm limit; changes nothing
// else of the mixture.
std::string MixtureReport(const TComponentDictionary& dictionary, TGasItem& mixture,
                          double temperatureC, double pressuremBar);

// "Machine recipe" and one line per instrument part of the segment, lines ending CR LF.
std::string MachineRecipe(const TGasItem& segment);

// Saturation vapour pressure of water in mbar at a temperature in °C (over ice at 0 °C and below).
double WaterVaporPressure(double temperatureC);

}  // namespace moirex
