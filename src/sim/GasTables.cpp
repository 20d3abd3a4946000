#include "sim/GasTables.h"

#include <fstream>
#include <set>
#include <stdexcept>

#include <nlohmann/json.hpp>

namespace moirex::sim {

namespace {

GasTable Table(int number, std::string shortName, std::string custom, float range, float density,
               uint16_t dynamicRange, std::string totalizerUnit) {
    GasTable t;
    t.Number = number;
    t.NameShort = std::move(shortName);
    t.NameCustom = std::move(custom);
    t.RangeMax = range;
    t.DensityGPL = density;
    t.DynamicRange = dynamicRange;
    t.TotalizerUnit = std::move(totalizerUnit);
    return t;
}

}  // namespace

// Ranges are 25 mln/min (A) and 50 mln/min (B) of each gas, in g/min.
ControllerConfig DefaultControllerA() {
    ControllerConfig c;
    c.Address = 1;
    c.Serial = 21034711;
    c.Tables = {
        Table(2, "O2", "Oxygen", 0.0358f, 1.429f, 120, "mln"),
        Table(3, "N2", "Nitrogen", 0.0313f, 1.2506f, 120, "ln"),
        Table(4, "MIX_087", "Hydrogen 5 in Argon", 0.0425f, 1.6993f, 100, "g"),
        Table(5, "SF6", "Sulphur hexafluoride", 0.1543f, 6.17f, 50, "ln"),
    };
    return c;
}

ControllerConfig DefaultControllerB() {
    ControllerConfig c;
    c.Address = 2;
    c.Serial = 21034712;
    c.Tables = {
        Table(2, "Ar", "Argon", 0.0892f, 1.784f, 100, "ln"),
        Table(3, "CO2", "Carbon dioxide", 0.0989f, 1.977f, 100, "mln"),
        Table(4, "MIX275", "Carbon monoxide 10 in CO2", 0.0952f, 1.9043f, 50, "g"),
    };
    return c;
}

void CheckController(const ControllerConfig& config, const std::string& what) {
    auto fail = [&](const std::string& text) { throw std::invalid_argument(what + ": " + text); };
    if (config.Address == 0) fail("address 0 is the broadcast address");
    if (config.TypeText.size() > 8) fail("type text longer than 8 characters");
    if (!(config.TimeConstant_s >= 0)) fail("time constant must not be negative");
    std::set<int> numbers;
    for (const GasTable& t : config.Tables) {
        std::string table = "table " + std::to_string(t.Number);
        if (t.Number < 2 || t.Number > 11) fail(table + ": numbers run from 2 to 11");
        if (!numbers.insert(t.Number).second) fail(table + " given twice");
        if (t.NameShort.empty()) fail(table + ": empty name (an empty name means no table)");
        if (t.NameShort.size() > 8) fail(table + ": name longer than 8 characters");
        if (t.NameCustom.size() > 50) fail(table + ": custom name longer than 50 characters");
        if (t.UnitType.size() > 8) fail(table + ": unit longer than 8 characters");
        if (t.TotalizerUnit.size() > 8) fail(table + ": totalizer unit longer than 8 characters");
        if (!(t.RangeMax > 0)) fail(table + ": range must be above 0");
        if (!(t.DensityGPL > 0)) fail(table + ": density must be above 0");
        if (t.DynamicRange == 0) fail(table + ": dynamic range must be above 0");
    }
    if (!config.Tables.empty() && !numbers.count(config.ActiveTable))
        fail("active table " + std::to_string(config.ActiveTable) + " does not exist");
}

namespace {

template <class T>
void Take(const nlohmann::json& j, const char* key, T& field) {
    if (j.contains(key)) field = j.at(key).get<T>();
}

void ReadController(const nlohmann::json& j, ControllerConfig& c) {
    if (!j.is_object()) throw std::runtime_error("a controller must be an object");
    int address = c.Address;
    Take(j, "address", address);
    if (address < 0 || address > 247) throw std::runtime_error("address must be 1 to 247");
    c.Address = static_cast<uint8_t>(address);
    Take(j, "type", c.TypeText);
    Take(j, "serial", c.Serial);
    Take(j, "register12", c.Register12);
    Take(j, "active", c.ActiveTable);
    Take(j, "timeConstant", c.TimeConstant_s);
    if (j.contains("tables")) {
        c.Tables.clear();
        for (const auto& jt : j.at("tables")) {
            GasTable t;
            Take(jt, "number", t.Number);
            Take(jt, "name", t.NameShort);
            Take(jt, "custom", t.NameCustom);
            Take(jt, "unit", t.UnitType);
            Take(jt, "range", t.RangeMax);
            Take(jt, "density", t.DensityGPL);
            Take(jt, "dynamicRange", t.DynamicRange);
            Take(jt, "totalizerUnit", t.TotalizerUnit);
            Take(jt, "totalizerScaling", t.TotalizerScaling);
            c.Tables.push_back(t);
        }
        if (!c.Tables.empty() && !j.contains("active")) c.ActiveTable = c.Tables.front().Number;
    }
}

}  // namespace

void LoadControllers(const std::string& path, ControllerConfig& a, ControllerConfig& b) {
    std::ifstream in(path);
    if (!in) throw std::runtime_error("cannot read the gas table file " + path);
    try {
        nlohmann::json j = nlohmann::json::parse(in);
        ControllerConfig na = a, nb = b;
        if (j.contains("mfc-a")) ReadController(j.at("mfc-a"), na);
        if (j.contains("mfc-b")) ReadController(j.at("mfc-b"), nb);
        CheckController(na, "mfc-a");
        CheckController(nb, "mfc-b");
        a = std::move(na);
        b = std::move(nb);
    } catch (const std::exception& e) {
        throw std::runtime_error("gas table file " + path + ": " + e.what());
    }
}

}  // namespace moirex::sim
