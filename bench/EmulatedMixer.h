#pragma once
// The emulated mixer brought up for a benchmark run as validation and gas selection bring real
// instruments up: the pump check, both controllers read out (MFC A at address 1 on N2, table 3;
// MFC B at address 2 on Ar, table 2), msReady, and the pump set up for water in a 12.5 µl syringe.

#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <system_error>

#include "core/MainThreadHandOver.h"
#include "core/ProgramSegments.h"
#include "core/RunBringUp.h"
#include "form/Dialogs.h"
#include "form/Form.h"
#include "sim/Emulator.h"
#include "state/MixerState.h"
#include "support/Clock.h"
#include "support/FileLocations.h"

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

// The 50 ms tick's pace as moirexctl keeps it: the hand-overs are served until the next tick is
// due; a loop that fell more than half a second behind starts its pace afresh.
inline void AwaitNextTick(moirex::TQueuedHandOver& handOver, moirex::Clock& clock, double& nextTick) {
    nextTick += 0.050;
    double now = clock.MonotonicSeconds();
    if (nextTick < now - 0.5) nextTick = now;
    while (now < nextTick) {
        if (handOver.WaitForPending(static_cast<int64_t>((nextTick - now) * 1000) + 1)) handOver.processPending();
        now = clock.MonotonicSeconds();
    }
}

// A benchmark's mixer: a work folder of its own (the home folder of the run's files and the
// emulator's links), the paced emulator with its noise, and the window's state; the folder is
// removed at the end.
class TBenchMixer {
public:
    explicit TBenchMixer(const std::string& name) : work_(MakeWork(name)), emu(Options(work_)) {}
    ~TBenchMixer() {
        emu.Stop();
        std::error_code ec;
        std::filesystem::remove_all(work_, ec);
    }
    TBenchMixer(const TBenchMixer&) = delete;
    TBenchMixer& operator=(const TBenchMixer&) = delete;

private:
    static std::filesystem::path MakeWork(const std::string& name) {
        const auto work = std::filesystem::temp_directory_path() / ("moirex-bench-" + name + "-" + std::to_string(::getpid()));
        std::filesystem::create_directories(work);
        moirex::SetHomeFolder((work / "home").string());
        return work;
    }
    static moirex::sim::EmulatorOptions Options(const std::filesystem::path& work) {
        moirex::sim::EmulatorOptions o;
        o.RuntimeFolder = (work / "ports").string();
        o.Paced = true;
        o.Noise = true;
        return o;
    }
    std::filesystem::path work_;

public:
    moirex::sim::Emulator emu;
    moirex::TForm1 form;
    moirex::ScriptedDialogs dialogs;
    moirex::TMixer mixer{form, dialogs};
};
