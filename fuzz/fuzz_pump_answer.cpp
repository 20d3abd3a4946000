// The pump's answer and status decoding: what the text exchange hands over (trimmed text)
// decoded into the pump state, busy flag and status text.

#include <cstddef>
#include <cstdint>
#include <string>

#include "devices/PSD4_Interface.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    moirex::TSerialResponse r;
    r.Init();
    r.Response.assign(reinterpret_cast<const char*>(data), size);
    moirex::TPSD4 pump([](const std::string&) {});
    pump.SetStatus(r);
    const std::string text = pump.StatusAsString();
    if (text.rfind(pump.Busy ? "Busy, " : "Ready, ", 0) != 0) __builtin_trap();
    // Busy only on an answer that carries a known status character of the busy row.
    if (pump.Busy && !moirex::PumpAnswerHasStatus(r.Response) && r.Response.size() >= 3 &&
        r.Response.substr(0, 2) == "/0")
        __builtin_trap();
    if (moirex::EnumPumpStateName(pump.State).empty()) __builtin_trap();
    return 0;
}
