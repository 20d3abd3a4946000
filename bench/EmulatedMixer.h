#pragma once
// The emulated mixer brought up for a benchmark run as validation and gas selection bring real
// instruments up: the pump check, both controllers read out (MFC A at address 1 on N2, table 3;
// MFC B at address 2 on Ar, table 2), msReady, and the pump set up for water in a 12.5 µl syringe.

#include <cstdio>
#include <string>

#include "core/ProgramSegments.h"
#include "core/RunBringUp.h"
#include "sim/Emulator.h"
#include "state/MixerState.h"

// False, after printing what failed, when the instruments could not be brought up.
inline bool BringUpEmulatedMixer(moirex::TMixer& mixer, moirex::sim::Emulator& emu) {
    using moirex::sim::Instrument;
    const std::string pump = emu.PortPath(Instrument::Pump);
    auto quiet = [](const std::string&) {};
    if (!moirex::PumpFindInitHamilton(pump, quiet) ||
        !moirex::ValidateController(mixer.MFCADetails, emu.PortPath(Instrument::MfcA), 1, mixer.DynamicRangeCullA,
                                    false, quiet) ||
        !moirex::ValidateController(mixer.MFCBDetails, emu.PortPath(Instrument::MfcB), 2, mixer.DynamicRangeCullB,
                                    true, quiet) ||
        !moirex::SelectGas(mixer.MFCADetails, 3, "MFC A", quiet) ||
        !moirex::SelectGas(mixer.MFCBDetails, 2, "MFC B", quiet)) {
        std::printf("bring-up failed\n");
        return false;
    }
    mixer.PumpDetails.Port = pump;
    mixer.MixerState = moirex::TMixerState::msReady;
    std::string error;
    if (!moirex::SetUpWaterPump(mixer, 12.5, 1000000, pump, error)) {
        std::printf("pump set-up failed: %s\n", error.c_str());
        return false;
    }
    return true;
}
