#pragma once
// MFC A's totalizer read by the worker, turned into grams, and the rule for a measured flow.
//
// The serial exchanges are handed in as a function, so the worker's ReadTotalizer is only: make
// the port, call ReadTotalizerValue with a function that reads one register through it, free the
// port, take the time of the reading. The same code runs against a test's canned answers.

#include <cstdint>
#include <functional>
#include <string>

#include "state/InstrumentRecords.h"

namespace moirex {

// Registers of the controller (MemoryAddress of the 4-byte float reads and writes).
inline constexpr uint16_t MFCRegisterFlow = 0;
inline constexpr uint16_t MFCRegisterTotalizer = 4;
inline constexpr uint16_t MFCRegisterSetPoint = 6;

// Reads one 4-byte float register of MFC A; Status empty on success, the value in AsFloat.
using TRegisterRead = std::function<TSerialResponse(uint16_t memoryAddress)>;
// One diagnostic line for the "Form" channel.
using TLogLine = std::function<void(const std::string& line)>;

// The totalizer reading in grams by the gas table entry's TotalizerUnit (exact text):
// "mln", "mln*", "mlnJ": x 0.001 x DensityGPL; "ln", "ln*", "lnJ": x DensityGPL;
// "kg", "kgJ": x 1000; any other unit (such as "g") unchanged. TotalizerScaling is not applied.
// Logs the conversion lines of the litre and kilogram units.
double TotalizerToGrams(double reading, const TLUTData& entry, const TLogLine& log);

// The worker's totalizer read of MFC A, everything but the port and the method scope
// "Thread: ReadTotalizer" that the caller opens around it:
//  - Value := 0; logs the active gas table;
//  - set-point register read: on failure logs "Thread: ReadTotalizer: Comms failed, status:" +
//    status and returns false at once; else logs it;
//  - measured flow read: MFCD.CurrentObservedFlow := the value, or -1 when the read failed;
//  - totalizer read, logged with unit and scaling, converted to grams into Value;
//  - true with "Totalizer:" + Value + " g" when the totalizer read succeeded, otherwise false with
//    "Failed to read and convert totalizer to grams".
// The caller takes the time of the reading (TotalizerNowTime) after the port is freed.
bool ReadTotalizerValue(TMFCDetails& MFCD, const TRegisterRead& read, double& Value,
                        const TLogLine& log);

// A measured-flow reading as the worker takes it: Flow := the value when the exchange succeeded,
// -1 otherwise; the reading counts only when Flow > -1, so a controller that answers exactly -1
// is treated like one that did not answer.
bool AcceptFlowReading(const TSerialResponse& response, double& Flow);

}  // namespace moirex
