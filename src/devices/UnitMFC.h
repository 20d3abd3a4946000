#pragma once
// The mass flow controllers' register map and the two read-outs of a controller: its type,
// serial number and gas tables (ReadMFCDetails), and the switch to one gas table confirmed by
// reading it back (SetActiveLUT). Both block the calling thread until done; their waits go
// through the clock given (the process's clock unless a test hands in its own).
//
// Every exchange of both is checked: a step that fails is tried again a few times, and one that
// still fails ends the routine as a failure (never as an empty or zero value), with a text that
// names the step and why it failed, for the caller's feedback line.

#include <cstdint>
#include <string>

#include "state/InstrumentRecords.h"
#include "support/Clock.h"

namespace moirex {

// Registers of the controllers that the system touches.
namespace mfcreg {
inline constexpr uint32_t Flow = 0x0000;              // F32 measured flow
inline constexpr uint32_t Totalizer = 0x0004;         // F32 totalizer value
inline constexpr uint32_t SetPoint = 0x0006;          // F32 flow set-point
inline constexpr uint32_t Register12 = 0x000C;        // U16; above 0: register 52 is written
inline constexpr uint32_t SerialNumber = 0x001E;      // U32 serial number
inline constexpr uint32_t TypeText = 0x0023;          // S8 controller type, begins "GSC"
inline constexpr uint32_t Register52 = 0x0034;        // U16 written with 65535
inline constexpr uint32_t EndOfTableRead = 0x404F;    // U16 written with 0 after the table read
inline constexpr uint32_t ActiveTable = 0x4139;       // U8 number of the active gas table
inline constexpr uint32_t TableSelector = 0x5FFF;     // U8/U16 table the registers below describe
inline constexpr uint32_t RangeMax = 0x6020;          // F32
inline constexpr uint32_t NameCustom = 0x6022;        // S50
inline constexpr uint32_t NameShort = 0x6042;         // S8
inline constexpr uint32_t UnitType = 0x6046;          // S8
inline constexpr uint32_t DensityGPL = 0x604E;        // F32
inline constexpr uint32_t DynamicRange = 0x6122;      // U16
inline constexpr uint32_t TotalizerScaling = 0x6384;  // F32
inline constexpr uint32_t TotalizerUnit = 0x6386;     // S8
}  // namespace mfcreg

// Status of a SetActiveLUT asked for a table number outside 2..11; the controller is not touched.
inline constexpr const char* kStatusNoSuchTable = "Gas table number must lie between 2 and 11";

// How often a step of the read-out or of the gas switch is tried before it counts as failed.
inline constexpr int kMFCStepTries = 3;

// Needs ComPortName, ModBusAddress and DynamicRangeCull; fills Validated, Serial, ActiveLUT, LUT
// and LastResponse. Leaves the controller on gas table 2 with set-point 0. Validated only when
// the controller reported the expected type and every step after that succeeded; otherwise the
// gas tables are left at their initial values, ActiveLUT 0, and the result names the failed step
// (empty on success).
std::string ReadMFCDetails(TMFCDetails& details, Clock& clock = SystemClock());

// Needs ComPortName and ModBusAddress; sets ActionOK, on success ActiveLUT, and LastResponse.
// The result names the failed step, with the controller's exception when it refused (empty on
// success).
std::string SetActiveLUT(TMFCDetails& details, int32_t table, Clock& clock = SystemClock());

}  // namespace moirex
