#include "devices/InstrumentIdentity.h"

#include "devices/PSD4_Interface.h"
#include "devices/SerialPortVogtlin.h"
#include "devices/UnitMFC.h"

namespace moirex {

TLineIdentity MFCIdentity(const std::string& name, uint32_t address, uint32_t serial) {
    TLineIdentity identity;
    identity.Name = name;
    identity.Kind = "serial";
    identity.Expected = std::to_string(serial);
    identity.Ask = [address](const std::string& port) -> std::optional<std::string> {
        TVogtlinPort p;
        p.UseControllerSettings(port);
        const TSerialResponse r = p.ReadU32(address, mfcreg::SerialNumber);
        if (!r.Status.empty()) return std::nullopt;
        return std::to_string(static_cast<uint32_t>(r.AsInteger));
    };
    return identity;
}

TLineIdentity PumpIdentity() {
    TLineIdentity identity;
    identity.Name = "Pump";
    identity.Kind = "type";
    identity.Expected = "50";
    identity.Ask = [](const std::string& port) -> std::optional<std::string> {
        TSerialPort p;
        p.SetPort(port);
        p.SetBaudRate(9600);
        const TSerialResponse r = p.Send2("/1?26\r", true);
        if (!PumpAnswerHasStatus(r.Response)) return std::nullopt;
        const std::string type = r.Response.substr(3);
        // An answer of the older type (75) is another pump, whatever else it holds.
        if (type.find("75") == std::string::npos && type.find("50") != std::string::npos) return std::string("50");
        return type.empty() ? std::string("(none)") : type;
    };
    return identity;
}

void ExpectInstrument(const std::string& port, TLineIdentity identity) {
    if (auto line = LineOf(port)) line->ExpectIdentity(std::move(identity));
}

void ForgetInstrument(const std::string& port) {
    if (auto line = LineOf(port)) line->ClearIdentity();
}

}  // namespace moirex
