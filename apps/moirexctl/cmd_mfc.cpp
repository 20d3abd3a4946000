// moirexctl mfc ...: one register of a mass flow controller read or written, the controller's
// read-out as validation shows it, and the switch to one of its gas tables.

#include <charconv>
#include <cmath>
#include <iostream>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "Command.h"
#include "devices/SerialPortVogtlin.h"
#include "devices/UnitMFC.h"
#include "state/InstrumentRecords.h"
#include "support/TextFormat.h"

namespace moirexctl {
namespace {

using moirex::TMFCDetails;
using moirex::TSerialResponse;
using moirex::TVogtlinPort;

uint32_t Address(const std::string& text) {
    const int64_t a = Args::ToInteger("ADDR", text);
    if (a < 1 || a > 247) throw UsageError("ADDR must be a Modbus slave address from 1 to 247: " + text);
    return static_cast<uint32_t>(a);
}

uint32_t Register(const std::string& text) {
    const int64_t r = Args::ToInteger("REGISTER", text, true);
    if (r < 0 || r > 0xFFFF) throw UsageError("REGISTER must lie between 0 and 65535 (0xFFFF): " + text);
    return static_cast<uint32_t>(r);
}

std::string Type(const std::string& text, const std::vector<std::string>& allowed) {
    for (const std::string& t : allowed)
        if (t == text) return t;
    std::string list;
    for (const std::string& t : allowed) list += (list.empty() ? "" : ", ") + t;
    throw UsageError("TYPE must be one of " + list + ": " + text);
}

int Failed(const TSerialResponse& r) {
    std::cerr << r.Status << std::endl;
    return ExitFailed;
}

int RunRead(const std::vector<std::string>& argv) {
    Args args(argv, {{"--raw", false}});
    args.ExpectPositionals(4, 4);
    const auto& p = args.Positionals();
    const uint32_t address = Address(p[1]);
    const uint32_t reg = Register(p[2]);
    const std::string type = Type(p[3], {"u8", "u16", "u32", "f32", "s8", "s50"});

    if (!ClaimPorts({p[0]})) return ExitFailed;
    TVogtlinPort port;
    port.UseControllerSettings(p[0]);
    TSerialResponse r;
    if (type == "u8") r = port.ReadU8(address, reg);
    else if (type == "u16") r = port.ReadU16(address, reg);
    else if (type == "u32") r = port.ReadU32(address, reg);
    else if (type == "f32") r = port.ReadF32(address, reg);
    else if (type == "s8") r = port.ReadS8(address, reg);
    else r = port.ReadS50(address, reg);
    if (!r.Status.empty()) {
        // What came back helps to see why it was refused.
        if (args.Flag("--raw") && !r.AsHex.empty()) std::cerr << r.AsHex << std::endl;
        return Failed(r);
    }

    if (type == "f32") std::cout << moirex::FormatGeneral(r.AsFloat) << "\n";
    else if (type == "s8" || type == "s50") std::cout << r.AsString << "\n";
    else std::cout << r.AsInteger << "\n";
    if (args.Flag("--raw")) std::cout << r.AsHex << "\n";
    std::cout.flush();
    return ExitOk;
}

int RunWrite(const std::vector<std::string>& argv) {
    Args args(argv, {});
    args.ExpectPositionals(5, 5);
    const auto& p = args.Positionals();
    const uint32_t address = Address(p[1]);
    const uint32_t reg = Register(p[2]);
    const std::string type = Type(p[3], {"u8", "u16", "f32", "s50"});
    const std::string& value = p[4];

    if (!ClaimPorts({p[0]})) return ExitFailed;
    TVogtlinPort port;
    port.UseControllerSettings(p[0]);
    TSerialResponse r;
    if (type == "u8" || type == "u16") {
        const int64_t v = Args::ToInteger("VALUE", value, true);
        if (v < 0 || v > 0xFFFF) throw UsageError("VALUE must lie between 0 and 65535 for " + type + ": " + value);
        r = type == "u8" ? port.WriteU8(address, reg, static_cast<uint16_t>(v))
                         : port.WriteU16(address, reg, static_cast<uint32_t>(v));
    } else if (type == "f32") {
        const double v = Args::ToReal("VALUE", value);
        if (!std::isfinite(v) || std::fabs(v) > 3.4e38) throw UsageError("VALUE is no finite single-precision number: " + value);
        r = port.WriteF32(address, reg, static_cast<float>(v));
    } else {
        if (value.size() > 50) throw UsageError("VALUE has more than 50 characters for s50");
        r = port.WriteS50(address, reg, value);
    }
    if (!r.Status.empty()) return Failed(r);
    return ExitOk;
}

// The shortest decimal text of a single-precision number, read back as a double, so that the JSON
// shows 0.1 rather than the widened 0.10000000149011612.
double Shortest(float value) {
    if (!std::isfinite(value)) return 0.0;
    char buffer[32];
    auto [end, ec] = std::to_chars(buffer, buffer + sizeof buffer, value);
    if (ec != std::errc()) return value;
    double out = value;
    std::from_chars(buffer, end, out);
    return out;
}

nlohmann::json DetailsJson(const TMFCDetails& d) {
    nlohmann::json j;
    j["Validated"] = d.Validated;
    j["Serial"] = d.Serial;
    j["ActiveLUT"] = d.ActiveLUT;
    nlohmann::json tables = nlohmann::json::array();
    for (uint32_t k = moirex::TLUT::First; k <= moirex::TLUT::Last; ++k) {
        const moirex::TLUTData& t = d.LUT[k];
        if (t.NameShort.empty()) break;
        tables.push_back({
            {"LUTNumber", t.LUTNumber},
            {"NameShort", t.NameShort},
            {"NameCustom", t.NameCustom},
            {"NameOwn", t.NameOwn},
            {"AtomicMass", Shortest(t.AtomicMass)},
            {"DensityGPL", Shortest(t.DensityGPL)},
            {"UnitType", t.UnitType},
            {"RangeMax", Shortest(t.RangeMax)},
            {"RangeDynamic", t.RangeDynamic},
            {"RangeMin", Shortest(t.RangeMin)},
            {"Totalizer1", Shortest(t.Totalizer1)},
            {"TotalizerUnit", t.TotalizerUnit},
            {"TotalizerScaling", Shortest(t.TotalizerScaling)},
        });
    }
    j["LUT"] = tables;
    return j;
}

// The lines validation writes to the setup feedback for one controller. Controller B (address 2)
// repeats the unit line after the minimum, as the Setup page does.
void PrintFeedback(const TMFCDetails& d, const std::string& failedStep) {
    std::cout << "Query port : " << d.ComPortName << " Addr:" << d.ModBusAddress << "\n";
    if (!d.Validated) {
        if (failedStep.rfind("type read", 0) == 0 || failedStep.empty())
            std::cout << " -> Nothing found on this port\n";
        else
            std::cout << " -> MFC found\n -> Read-out failed: " << failedStep << "\n";
        return;
    }
    std::cout << " -> MFC found\n"
              << " -> Serial: " << d.Serial << "\n"
              << " -> Gases listed\n";
    for (uint32_t k = moirex::TLUT::First; k <= moirex::TLUT::Last; ++k) {
        const moirex::TLUTData& t = d.LUT[k];
        if (t.NameShort.empty()) break;
        std::cout << " -> Gas         : " << t.NameShort << "\n"
                  << " -> Unit        : " << t.UnitType << "\n"
                  << " -> Max         : " << moirex::FormatMask(t.RangeMax, "0.000 000") << "\n"
                  << " -> Min         : " << moirex::FormatMask(t.RangeMin, "0.000 000") << "\n";
        if (d.ModBusAddress == 2) std::cout << " -> Unit        : " << t.UnitType << "\n";
        std::cout << " -> Tot unit    : " << t.TotalizerUnit << "\n"
                  << "----------------------------\n";
    }
}

int RunInfo(const std::vector<std::string>& argv) {
    Args args(argv, {{"--cull", true}, {"--json", false}});
    args.ExpectPositionals(2, 2);
    const auto& p = args.Positionals();
    TMFCDetails d;
    d.ComPortName = p[0];
    d.ModBusAddress = Address(p[1]);
    const int64_t cull = args.Integer("--cull", 20);
    if (cull < 0 || cull > 65535) throw UsageError("--cull must lie between 0 and 65535");
    d.DynamicRangeCull = static_cast<int32_t>(cull);

    if (!ClaimPorts({d.ComPortName})) return ExitFailed;
    const std::string failedStep = moirex::ReadMFCDetails(d);
    if (args.Flag("--json")) std::cout << DetailsJson(d).dump(2) << "\n";
    else PrintFeedback(d, failedStep);
    std::cout.flush();
    if (!d.Validated) {
        std::cerr << (failedStep.empty() ? d.LastResponse.Status : failedStep) << std::endl;
        return ExitFailed;
    }
    return ExitOk;
}

int RunSetGas(const std::vector<std::string>& argv) {
    Args args(argv, {});
    args.ExpectPositionals(3, 3);
    const auto& p = args.Positionals();
    TMFCDetails d;
    d.ComPortName = p[0];
    d.ModBusAddress = Address(p[1]);
    const int64_t table = Args::ToInteger("TABLE", p[2]);
    if (!moirex::TLUT::InRange(table)) throw UsageError("TABLE must be a gas table number from 2 to 11: " + p[2]);

    if (!ClaimPorts({d.ComPortName})) return ExitFailed;
    const std::string failedStep = moirex::SetActiveLUT(d, static_cast<int32_t>(table));
    if (!d.ActionOK) {
        std::cerr << "Failed to set active gas table " << table << ": " << failedStep << std::endl;
        return ExitFailed;
    }
    std::cout << "Active gas table: " << d.ActiveLUT << std::endl;
    return ExitOk;
}

const CommandRegistrar readCommand({
    "mfc read",
    "read one register of a mass flow controller",
    "Usage: moirexctl mfc read PORT ADDR REGISTER TYPE [--raw]\n"
    "  PORT      device path, or a name under /dev (ttyUSB0)\n"
    "  ADDR      Modbus slave address (1 MFC A, 2 MFC B)\n"
    "  REGISTER  register number, decimal or 0x hexadecimal\n"
    "  TYPE      u8, u16, u32 (integer), f32 (float), s8, s50 (text)\n"
    "  --raw     also print the answer's bytes in hexadecimal\n"
    "Exit status 0 on success, 1 when the controller refuses or does not answer.\n",
    RunRead,
});

const CommandRegistrar writeCommand({
    "mfc write",
    "write one register of a mass flow controller",
    "Usage: moirexctl mfc write PORT ADDR REGISTER TYPE VALUE\n"
    "  TYPE      u8 (function 6), u16, f32, s50 (function 16)\n"
    "The write counts as done only when the controller's answer confirms it.\n"
    "Exit status 0 on success, 1 when the controller refuses or does not answer.\n",
    RunWrite,
});

const CommandRegistrar infoCommand({
    "mfc info",
    "read a controller's type, serial number and gas tables",
    "Usage: moirexctl mfc info PORT ADDR [--cull N] [--json]\n"
    "  --cull N  units taken off each table's dynamic range (default 20)\n"
    "  --json    Validated, Serial, ActiveLUT and the filled gas tables as JSON\n"
    "Leaves the controller on gas table 2 with set-point 0.\n"
    "Exit status 0 when the controller was found and read whole, 1 otherwise (the step that\n"
    "failed is named).\n",
    RunInfo,
});

const CommandRegistrar setGasCommand({
    "mfc set-gas",
    "switch a controller to one of its gas tables",
    "Usage: moirexctl mfc set-gas PORT ADDR TABLE\n"
    "  TABLE     gas table number, 2 to 11; confirmed by reading it back\n"
    "Exit status 0 when confirmed, 1 otherwise.\n",
    RunSetGas,
});

}  // namespace
}  // namespace moirexctl
