// The run controller and the MFC worker against the paced emulator (9600 baud, real time): a
// segment of gas A in constant mode and one in pulsed mode, each with gas B, run through Start,
// the 50 ms tick and the stop procedure as moirexctl run does. Prints the worker's pass period
// beside the wire time of its exchanges, the dosing error of gas A over each segment (mass the
// emulator delivered against the target), and the time of one operating tick once the instruments
// have accepted the segment.

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <unistd.h>
#include <string>
#include <vector>

#include "core/MainThreadHandOver.h"
#include "core/ProgramSegments.h"
#include "core/RunController.h"
#include "form/Dialogs.h"
#include "form/Form.h"
#include "sim/Emulator.h"
#include "support/Clock.h"
#include "support/FileLocations.h"

#include "EmulatedMixer.h"
#include "Figures.h"

namespace {

using moirex::sim::Instrument;

constexpr double kSegmentSeconds = 30;
// One byte on the controllers' line: 8N2 with start bit, 11 bits at 9600 baud.
constexpr double kMsPerByte = 11.0 * 1000.0 / 9600.0;
constexpr int kReadFrameBytes = 8 + 9;    // read of two registers: request and answer
constexpr int kWriteFrameBytes = 13 + 8;  // write of two registers: request and answer

struct SegmentFigures {
    std::vector<double> passMs;       // between hand-overs while the segment ran
    double requestsA = 0, requestsB = 0, passes = 0;
    std::vector<double> tickMs;       // operating ticks after the three instruments accepted
    double massSegment_g = 0;         // gas A delivered from Start to the end of the segment
    double massStop_g = 0;            // and during the stop procedure
    double target_g = 0;
    double seconds = 0;
    bool stopped = false;
    // From the program's end ("Tick:Stop") or from Stop to MFC A's zero set-point on the wire.
    double toZeroMs = -1;
    // From Stop to the tick that begins the stop procedure (its pump stop queued on the line).
    double stopBeginsMs = -1;
    double stopToPumpLineMs = -1;  // from Stop to the stop procedure's pump line in the feedback
};

// stopAfterSeconds > 0: Stop is pressed that long after Start, with the pump stuck busy from the
// start (its exchanges never end by themselves within the pump's five seconds).
SegmentFigures RunSegment(moirex::TMixer& mixer, moirex::sim::Emulator& emu, int64_t gasA_ugpm, int64_t gasB_ugpm,
                          double stopAfterSeconds = 0) {
    SegmentFigures fig;
    moirex::Clock& clock = moirex::SystemClock();
    mixer.StepProgram.clear();
    mixer.Form.RzTabbedListBoxSteps.Clear();
    moirex::TProgramSegment seg{"bench", kSegmentSeconds / 3600.0, gasA_ugpm, gasB_ugpm, 0, 0, ""};
    const moirex::SegmentBuildOutcome built = moirex::AddProgramSegment(mixer, seg);
    for (const auto& c : built.Corrections) std::printf("  correction: %s\n", c.c_str());
    if (!built.Added) {
        std::printf("  segment refused: %s\n", built.Refusal.c_str());
        return fig;
    }

    moirex::TQueuedHandOver handOver;
    moirex::TRunContext run(mixer, handOver, clock);
    bool segmentOver = false;
    double massAtStart = 0, massAtEnd = 0, startSeconds = 0, lastHandOver = -1, endSeconds = -1;
    uint64_t reqA0 = 0, reqB0 = 0;
    run.OnLogLine = [&](const moirex::TMemo&, const std::string& line) {
        if (!segmentOver && line.find("Tick:Stop") != std::string::npos) {
            segmentOver = true;
            endSeconds = clock.MonotonicSeconds();
            massAtEnd = emu.Mfc(Instrument::MfcA).MassDelivered_g;
            fig.seconds = clock.MonotonicSeconds() - startSeconds;
        }
    };
    run.OnLogLine = [&, logLine = run.OnLogLine](const moirex::TMemo& memo, const std::string& line) {
        logLine(memo, line);
        if (endSeconds >= 0 && fig.stopToPumpLineMs < 0 &&
            (line.find(" Pump stopped") != std::string::npos || line.find(" Failed to stop pump") != std::string::npos))
            fig.stopToPumpLineMs = (clock.MonotonicSeconds() - endSeconds) * 1000;
    };
    run.OnHandOver = [&](const moirex::THandOverReadings&) {
        const double now = clock.MonotonicSeconds();
        if (segmentOver || !run.ThreadData.StepMFCBSet) {
            lastHandOver = -1;
            return;
        }
        // From the second pass after MFC B took its set-point, the worker alone talks to the
        // controllers: count its frames and time its passes.
        if (lastHandOver < 0) {
            reqA0 = emu.Mfc(Instrument::MfcA).Requests;
            reqB0 = emu.Mfc(Instrument::MfcB).Requests;
            fig.passes = 0;
        } else {
            fig.passMs.push_back((now - lastHandOver) * 1000);
            fig.passes += 1;
            fig.requestsA = static_cast<double>(emu.Mfc(Instrument::MfcA).Requests - reqA0);
            fig.requestsB = static_cast<double>(emu.Mfc(Instrument::MfcB).Requests - reqB0);
        }
        lastHandOver = now;
    };

    mixer.TickReady = true;
    massAtStart = emu.Mfc(Instrument::MfcA).MassDelivered_g;
    startSeconds = clock.MonotonicSeconds();
    moirex::ButtonApplyClick(run);
    if (mixer.MixerState != moirex::TMixerState::msOperating) {
        std::printf("  the run did not start\n");
        return fig;
    }
    if (stopAfterSeconds > 0) emu.SetPumpStuckBusy(true);
    bool pressed = false;  // Stop was pressed just now
    auto watch = [&] {
        const double now = clock.MonotonicSeconds();
        if (endSeconds >= 0 && fig.toZeroMs < 0 && emu.Mfc(Instrument::MfcA).SetPoint == 0.0f)
            fig.toZeroMs = (now - endSeconds) * 1000;
        if (endSeconds >= 0 && fig.stopBeginsMs < 0 && moirex::StopProcedureRunning(run))
            fig.stopBeginsMs = (now - endSeconds) * 1000;
        if (stopAfterSeconds > 0 && !segmentOver && now - startSeconds >= stopAfterSeconds) {
            segmentOver = true;
            endSeconds = now;
            massAtEnd = emu.Mfc(Instrument::MfcA).MassDelivered_g;
            fig.seconds = now - startSeconds;
            moirex::ButtonStopClick(run);
            pressed = true;
        }
    };
    double nextTick = clock.MonotonicSeconds();
    while (true) {
        watch();
        pressed = false;
        handOver.processPending();
        const bool accepted = mixer.MixerState == moirex::TMixerState::msOperating && run.ThreadData.StepMFCASet &&
                              run.ThreadData.StepMFCBSet && run.ThreadData.StepPumpSet;
        const double t0 = clock.MonotonicSeconds();
        moirex::Timer1Timer(run);
        const double t1 = clock.MonotonicSeconds();
        if (accepted && mixer.MixerState == moirex::TMixerState::msOperating) fig.tickMs.push_back((t1 - t0) * 1000);
        if (!moirex::WorkerRunning(run) && (mixer.MixerState == moirex::TMixerState::msReady ||
                                            mixer.MixerState == moirex::TMixerState::msStopFailed))
            break;
        nextTick += 0.050;
        double now = clock.MonotonicSeconds();
        if (nextTick < now - 0.5) nextTick = now;
        while (now < nextTick) {
            if (handOver.WaitForPending(1)) handOver.processPending();
            watch();
            if (pressed) break;  // Stop was pressed: the next tick at once, as moirexctl run does
            now = clock.MonotonicSeconds();
        }
    }
    emu.SetPumpStuckBusy(false);
    fig.stopped = mixer.MixerState == moirex::TMixerState::msReady;
    // The flow decays after the zero set-point: let it settle before reading the stop's share.
    clock.SleepMs(3000);
    fig.massSegment_g = massAtEnd - massAtStart;
    fig.massStop_g = emu.Mfc(Instrument::MfcA).MassDelivered_g - massAtEnd;
    fig.target_g = static_cast<double>(gasA_ugpm) / 1e6 * fig.seconds / 60.0;
    return fig;
}

void Report(const char* mode, const SegmentFigures& f) {
    std::printf("%s mode:\n", mode);
    const Stats pass = Of(f.passMs);
    const double perPassA = f.passes > 0 ? f.requestsA / f.passes : 0;
    const double perPassB = f.passes > 0 ? f.requestsB / f.passes : 0;
    const double readsA = std::min(perPassA, 3.0), writesA = std::max(perPassA - 3.0, 0.0);
    const double wire = ((readsA + perPassB) * kReadFrameBytes + writesA * kWriteFrameBytes) * kMsPerByte;
    std::printf("  worker pass period   median %7.1f ms  worst %7.1f ms  mean %7.1f ms  (%zu passes)\n", pass.median,
                pass.worst, pass.mean, pass.n);
    std::printf("  wire time of a pass  %7.1f ms  (%.2f frames to MFC A, %.2f to MFC B per pass; + 50 ms pause)\n", wire,
                perPassA, perPassB);
    const double err = f.target_g > 0 ? (f.massSegment_g - f.target_g) / f.target_g * 100 : 0;
    std::printf("  gas A over the segment (%.1f s): delivered %.6f g, target %.6f g, error %+.2f %%\n", f.seconds,
                f.massSegment_g, f.target_g, err);
    std::printf("  gas A after the segment's end, during and after the stop: %.6f g (%+.2f %% of the target)\n",
                f.massStop_g, f.target_g > 0 ? f.massStop_g / f.target_g * 100 : 0);
    const Stats tick = Of(f.tickMs);
    std::printf("  operating tick (instruments accepted)  median %.3f ms  worst %.3f ms  (%zu ticks)\n", tick.median,
                tick.worst, tick.n);
    std::printf("  from %s to the stop procedure's first tick %.0f ms, to its pump line %.0f ms, to MFC A's zero set-point %.0f ms\n",
                f.stopBeginsMs >= 0 && f.seconds < kSegmentSeconds ? "Stop" : "the program's end", f.stopBeginsMs,
                f.stopToPumpLineMs, f.toZeroMs);
    std::printf("  stop confirmed: %s\n", f.stopped ? "yes" : "NO");
}

}  // namespace

int main() {
    TBenchMixer bench("run");
    moirex::sim::Emulator& emu = bench.emu;
    moirex::TMixer& mixer = bench.mixer;
    std::printf("Bringing the emulated instruments up (paced, 9600 baud) ...\n");
    if (!BringUpEmulatedMixer(mixer, emu)) return 1;
    const auto& n2 = mixer.MFCADetails.LUT[mixer.MFCADetails.ActiveLUT];
    std::printf("MFC A on %s, range %.6f .. %.6f g/min; segments of %.0f s with gas B 20000 ug/min\n",
                n2.NameOwn.c_str(), n2.RangeMin, n2.RangeMax, kSegmentSeconds);

    const SegmentFigures constant = RunSegment(mixer, emu, 10000, 20000);
    Report("Constant (gas A 10000 ug/min)", constant);
    const SegmentFigures pulsed = RunSegment(mixer, emu, 200, 20000);
    Report("Pulsed (gas A 200 ug/min)", pulsed);
    const SegmentFigures stuck = RunSegment(mixer, emu, 10000, 20000, 8);
    Report("Stop after 8 s, the pump stuck busy (constant, gas A 10000 ug/min)", stuck);

    return constant.stopped && pulsed.stopped ? 0 : 1;  // the stuck pump's stop is not confirmed
}
