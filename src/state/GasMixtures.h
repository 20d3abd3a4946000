#pragma once
// The one composition record of the mixer (TGasItem) and the catalogue of known gases and fluids.
// A record describes a catalogue gas, a bottled mixture, a fluid component, a designed fluid, the
// pump's fluid, one instrument's share of a segment, or a whole segment; records nest through
// Components and copy by value.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace moirex {

// The ordinal is also the item index of the fluid designer's component boxes.
enum class TGasItems : uint8_t {
    gUndefined = 0,
    gAir = 1,
    gAr = 2,
    gCO = 3,
    gCO2 = 4,
    gCH4 = 5,
    gC2H6O = 6,
    gCH4O = 7,
    gH2 = 8,
    gH2O = 9,
    gHe = 10,
    gO2 = 11,
    gN2 = 12,
    gH2Ar95 = 13,
    gH2Ar99 = 14,
    gCOCO290 = 15,
};
inline constexpr int GasItemsCount = 16;

struct TGasItem {
    std::string StepName;
    double StepTime = 0;  // hours
    std::string GasNameMFC;
    std::string GasNameLong;
    int32_t InstrumentID = 0;  // 0 MFC A, 1 MFC B, 2 syringe pump
    std::string InstrumentPort;
    std::string PumpCommand;
    float MolarMass = 0;        // g/mol
    float PartialPressure = 0;  // mole fraction within the parent mixture
    float Mass = 0;             // g/min (designer components: grams, relative)
    float MixtureMass = 0;      // g as entered in the fluid designer
    float DensityFluid20C = 0;  // g/ml
    float MolPerML = 0;         // mol/ml
    float MGperStroke = 0;      // mg
    float Pulsed = 0;           // duty fraction of gas A; 1.0 = continuous
    bool Fluid = false;
    int32_t FluidMaxPPM = 0;
    bool Valid = false;
    float CustTempC = 0;      // °C
    float CustPressmBar = 0;  // mbar
    std::vector<TGasItem> Components;

    // Resets names, numbers and Components; keeps MixtureMass, DensityFluid20C, MolPerML and
    // MGperStroke.
    void Init();
    // Recipe text of a fluid mixture, lines ending CR LF; reads the clock for "Description saved".
    std::string FluidMixtureAsString() const;
};

// Fills `item` from the catalogue for `gas` with the given mass flow (g/min).
void MakeGasItem(TGasItems gas, TGasItem& item, float mass);
// Maps a gas name as a controller or the operator writes it; gUndefined when not recognised.
TGasItems GasItemsFromName(std::string_view name);
// Sets each component's Mass to its mass share of `mass`.
void SplitMixtureMass(TGasItem& mixture, float mass);

// Identifier text of a member ("gH2O"), and back: case-insensitive for ASCII letters; no member
// for text that names none, for empty text and for text of 256 characters or more.
std::string GasItemsToString(TGasItems gas);
std::optional<TGasItems> GasItemsFromString(std::string_view text);

}  // namespace moirex
