#pragma once
// A mixer in msReady on the instrument emulator (unpaced, no noise), with the run controller's
// context, the queued hand-over and a main-thread loop, for the run controller's and the
// end-to-end tests.

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <tuple>
#include <utility>
#include <vector>

#include "core/MainThreadHandOver.h"
#include "devices/PSD4_Interface.h"
#include "core/RunController.h"
#include "devices/UnitMFC.h"
#include "form/Controls.h"
#include "form/Dialogs.h"
#include "form/Form.h"
#include "sim/Emulator.h"
#include "sim/QuickEmulator.h"
#include "state/MixerState.h"
#include "support/Clock.h"

namespace moirex::testing_run {

namespace fs = std::filesystem;
using sim::Instrument;

inline TGasItem Component(int32_t instrument, const std::string& name, float mass, float pulsed = 1.0f,
                          const std::string& pumpCommand = {}) {
    TGasItem c;
    c.Init();
    c.InstrumentID = instrument;
    c.GasNameLong = name;
    c.GasNameMFC = name;
    c.Mass = mass;
    c.Pulsed = pulsed;
    c.PumpCommand = pumpCommand;
    return c;
}

// A segment of `hours` with the given components (a component of mass 0 is left out).
inline TGasItem Segment(double hours, float a, float pulsedA, float b, const std::string& pumpCommand) {
    TGasItem s;
    s.Init();
    s.GasNameLong = "segment";
    s.StepTime = hours;
    if (a > 0) s.Components.push_back(Component(0, "Oxygen", a, pulsedA));
    if (b > 0) s.Components.push_back(Component(1, "Argon", b));
    if (!pumpCommand.empty()) s.Components.push_back(Component(2, "Water", 0.001f, 1.0f, pumpCommand));
    return s;
}

inline int CountFiles(const fs::path& folder) {
    if (!fs::exists(folder)) return 0;
    return static_cast<int>(std::distance(fs::directory_iterator(folder), fs::directory_iterator()));
}

// The run controller on a window of its own, without instruments.
class RunControllerBase : public ::testing::Test {
protected:
    RunControllerBase()
        : userdata(fs::temp_directory_path() /
                   ("moirex-h9-userdata-" + std::to_string(::getpid()) + "-" + UniqueName())),
          ctx(mixer, handOver, clock) {
        ctx.UserdataFolder = userdata.string();
        ctx.WorkerClock = &workerClock;
        ctx.StopPollMaxMs = 20;
        ctx.OnHandOver = [this](const THandOverReadings& r) {
            ++handOvers;
            if (!r.NewReading) return;
            ++readings;
            segments.push_back(r.Segment);
        };
        ctx.OnLogLine = [this](const TMemo& memo, const std::string& line) {
            if (&memo == &form.MemoLog) log.push_back(line);
        };
        mixer.TickReady = true;
        mixer.MFCADetails.MFCName = "MFC A";
        mixer.MFCBDetails.MFCName = "MFC B";
    }
    ~RunControllerBase() override { fs::remove_all(userdata); }

    static std::string UniqueName() {
        static std::atomic<int> n{0};
        return std::to_string(n++);
    }

    // Lines of the run log that contain `text`.
    int Count(const std::string& text) const {
        return static_cast<int>(std::count_if(log.begin(), log.end(), [&](const std::string& l) {
            return l.find(text) != std::string::npos;
        }));
    }
    bool Logged(const std::string& text) const { return Count(text) > 0; }
    std::string LogText() const {
        std::string all;
        for (const auto& l : log) all += l + "\n";
        return all;
    }

    // The main thread's loop: hand-overs, then the timer, until `done` or `seconds` of real time.
    bool RunUntil(const std::function<bool()>& done, double seconds = 15, double advancePerTick = 0) {
        const auto deadline =
            std::chrono::steady_clock::now() + std::chrono::milliseconds(static_cast<int64_t>(seconds * 1000));
        auto last = std::chrono::steady_clock::now();
        while (!done()) {
            const auto now = std::chrono::steady_clock::now();
            if (now > deadline) return false;
            handOver.processPending();
            Timer1Timer(ctx);
            if (followRealTime) clock.Advance(std::chrono::duration<double>(now - last).count());
            last = now;
            clock.Advance(advancePerTick);
            handOver.WaitForPending(5);
        }
        return true;
    }

    // The segment clock follows real time in RunUntil (end-to-end runs).
    bool followRealTime = false;
    fs::path userdata;
    TForm1 form;
    ScriptedDialogs dlg;
    TMixer mixer{form, dlg};
    TQueuedHandOver handOver;
    ManualClock clock;
    SteadyClock workerClock;
    std::vector<std::string> log;
    int handOvers = 0;
    int readings = 0;  // hand-overs that carried a new reading: one run data row each
    std::vector<int32_t> segments;  // the segment of each new reading
    TRunContext ctx;
};

// The same on the emulator, instruments validated and the pump initialised: msReady.
class RunOnEmulator : public RunControllerBase {
protected:
    static sim::EmulatorOptions Options() {
        return testing_sim::QuickEmulator(
            (fs::temp_directory_path() / ("moirex-h9-emu-" + std::to_string(::getpid()) + "-" + UniqueName())).string(),
            20);
    }
    RunOnEmulator() : RunOnEmulator(Options()) {}
    explicit RunOnEmulator(sim::EmulatorOptions o) : options(std::move(o)), emulator(options) {
        ManualClock quick;
        for (auto [details, instrument, address] :
             {std::tuple{&mixer.MFCADetails, Instrument::MfcA, 1u},
              std::tuple{&mixer.MFCBDetails, Instrument::MfcB, 2u}}) {
            details->ComPortName = emulator.PortPath(instrument);
            details->ModBusAddress = address;
            details->DynamicRangeCull = 20;
            ReadMFCDetails(*details, quick);
        }
        mixer.PumpDetails.Port = emulator.PortPath(Instrument::Pump);
        ctx.PumpTiming = TPumpPortTiming{5, 150};
        {
            TPSD4 pump({}, quick);
            pump.PortTiming = ctx.PumpTiming;
            TSerialResponse r;
            pumpReady = pump.Connect(mixer.PumpDetails.Port) && pump.Stop() &&
                        pump.SendCommand("ZN1L20v1000c1000K88k640IOIR", r, true) && r.Status.empty();
        }
        const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (emulator.Pump().Busy && std::chrono::steady_clock::now() < until)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        mixer.MixerState = TMixerState::msReady;
    }
    void SetUp() override {
        ASSERT_TRUE(mixer.MFCADetails.Validated);
        ASSERT_TRUE(mixer.MFCBDetails.Validated);
        ASSERT_TRUE(pumpReady);
        ASSERT_FALSE(emulator.Pump().Busy);
    }
    ~RunOnEmulator() override {
        // The worker ends before the instruments do.
        if (WorkerRunning(ctx)) StopAndKillThread(ctx);
        emulator.Stop();
        fs::remove_all(options.RuntimeFolder);
    }

    bool Idle() const {
        return mixer.MixerState == TMixerState::msReady || mixer.MixerState == TMixerState::msStopFailed;
    }

    sim::EmulatorOptions options;
    sim::Emulator emulator;
    bool pumpReady = false;
};

}  // namespace moirex::testing_run
