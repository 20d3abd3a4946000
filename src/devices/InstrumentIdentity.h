#pragma once
// Which instrument a claimed line must lead to, once it was validated: a controller by its serial
// number, the pump by its type answer. The line owner (SerialLine.h) asks again after a reopen
// or an outage and, when another instrument answers, never commands the line again.
//
//     ExpectInstrument(port, MFCIdentity("MFC A", 1, details.Serial));  // after validation
//     ForgetInstrument(port);                                           // before re-validating

#include <cstdint>
#include <string>

#include "devices/SerialLine.h"

namespace moirex {

// The controller at `address`, asked for its serial number (register 30, two registers).
TLineIdentity MFCIdentity(const std::string& name, uint32_t address, uint32_t serial);
// The pump, asked for its type ("?26"): a pump of the current type ("50") is the one validated.
TLineIdentity PumpIdentity();

// On the line owner of `port` in this process, when there is one; nothing otherwise.
void ExpectInstrument(const std::string& port, TLineIdentity identity);
void ForgetInstrument(const std::string& port);

}  // namespace moirex
