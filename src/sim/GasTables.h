#pragma once
// What an emulated mass flow controller holds: its identity and its gas tables (numbers 2 to 11),
// with the defaults of the two controllers and a JSON file format for other tables.

#include <cstdint>
#include <string>
#include <vector>

namespace moirex::sim {

struct GasTable {
    int Number = 2;                 // 2 .. 11
    std::string NameShort;          // register 0x6042, at most 8 characters
    std::string NameCustom;         // register 0x6022, at most 50 characters
    std::string UnitType = "g/min";  // register 0x6046, the unit of flow, set-point and range
    float RangeMax = 0;             // register 0x6020, full scale in g/min
    float DensityGPL = 0;           // register 0x604E, grams per normal litre
    uint16_t DynamicRange = 100;    // register 0x6122: full scale / lowest controllable flow
    std::string TotalizerUnit = "ln";  // register 0x6386: "ln", "mln" or "g"
    float TotalizerScaling = 1.0f;  // register 0x6384, reported only
};

struct ControllerConfig {
    uint8_t Address = 1;
    std::string TypeText = "GSC-B4SA";  // register 35, 8 characters
    uint32_t Serial = 0;                // registers 30-31
    uint16_t Register12 = 1;
    int ActiveTable = 2;                // register 0x4139 at power-up
    float TimeConstant_s = 0.4f;        // first-order lag of the flow behind the set-point
    std::vector<GasTable> Tables;
};

// Controller A (address 1): O2, N2, the 5 % H2 in Ar mixture and SF6, which the catalogue does
// not know. Controller B (address 2): Ar, CO2 and the 10 % CO in CO2 mixture.
ControllerConfig DefaultControllerA();
ControllerConfig DefaultControllerB();

// Reads a JSON file of the form
//   { "mfc-a": { "address": 1, "type": "GSC-B4SA", "serial": 1234, "register12": 1,
//                "active": 2, "timeConstant": 0.4,
//                "tables": [ { "number": 2, "name": "N2", "custom": "Nitrogen", "unit": "g/min",
//                              "range": 0.0313, "density": 1.2506, "dynamicRange": 120,
//                              "totalizerUnit": "ln", "totalizerScaling": 1.0 }, ... ] },
//     "mfc-b": { ... } }
// A controller missing from the file keeps the config passed in; missing fields keep their
// defaults. Throws std::runtime_error naming the file and the fault.
void LoadControllers(const std::string& path, ControllerConfig& a, ControllerConfig& b);

// Throws std::invalid_argument when a table number is outside 2..11 or repeated, a name is too
// long, a range, density or dynamic range is not positive, or the address is 0.
void CheckController(const ControllerConfig& config, const std::string& what);

}  // namespace moirex::sim
