// Does a run put gas A where it belongs? A program of four segments on the paced emulator (9600
// baud, real time, noise on) — constant 10 000 µg/min, pulsed 200 µg/min, no gas A, constant
// 5 000 µg/min, gas B 20 000 µg/min throughout, no fluid — run through Start, the 50 ms tick and
// the stop procedure as moirexctl run does. For each segment it prints the mass of gas A the
// emulator truly delivered within the segment's own span against its target, the mass that
// spilled past the segment's end (delivered after the segment clock moved on while MFC A still
// held the segment's set-point), and the delay from the segment change to MFC A's new set-point.
//
// Goals: error within ±0.5 % (constant) and ±2 % (pulsed), spill under 0.5 s worth of the
// earlier set-point, delay at most 0.5 s.
//
//   bench_dosing [--segment-s 180] [--pump-refuses] [--log]
// --pump-refuses makes the pump answer every command with an error, so that the tick retries
// the pump's exchanges on every pass of the program; --log prints the run log as it goes.

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <string>
#include <thread>
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

namespace {

using moirex::sim::Instrument;

struct Sample {
    double t = 0;         // monotonic seconds
    double setPoint = 0;  // g/min
    double mass = 0;      // g since the emulator started
};

// MFC A's true state every few milliseconds, for the moments its set-point changed.
class Sampler {
public:
    explicit Sampler(moirex::sim::Emulator& emu) : emu_(emu), thread_([this] { Loop(); }) {}
    ~Sampler() {
        stop_ = true;
        thread_.join();
    }
    std::vector<Sample> Samples() {
        std::lock_guard<std::mutex> lock(mutex_);
        return samples_;
    }

private:
    void Loop() {
        while (!stop_) {
            const moirex::sim::MfcState s = emu_.Mfc(Instrument::MfcA);
            {
                std::lock_guard<std::mutex> lock(mutex_);
                samples_.push_back({moirex::SystemClock().MonotonicSeconds(), s.SetPoint, s.MassDelivered_g});
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
    }
    moirex::sim::Emulator& emu_;
    std::atomic<bool> stop_{false};
    std::mutex mutex_;
    std::vector<Sample> samples_;
    std::thread thread_;
};

struct Boundary {
    double t = 0;     // when the segment clock moved on (Start for the first)
    double mass = 0;  // emulator's delivered mass then
};

// The first sample after `from` whose set-point is one the new segment asks for; null when none
// came before `until`.
template <typename Accept>
const Sample* NewSetPoint(const std::vector<Sample>& samples, double from, double until, Accept accept) {
    for (const Sample& s : samples) {
        if (s.t <= from) continue;
        if (s.t > until) break;
        if (accept(s.setPoint)) return &s;
    }
    return nullptr;
}

double SetPointAt(const std::vector<Sample>& samples, double t) {
    double sp = 0;
    for (const Sample& s : samples) {
        if (s.t > t) break;
        sp = s.setPoint;
    }
    return sp;
}

}  // namespace

int main(int argc, char** argv) {
    double segmentSeconds = 180;
    bool pumpRefuses = false;
    bool printLog = false;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--segment-s") == 0 && i + 1 < argc) segmentSeconds = std::atof(argv[++i]);
        else if (std::strcmp(argv[i], "--pump-refuses") == 0) pumpRefuses = true;
        else if (std::strcmp(argv[i], "--log") == 0) printLog = true;
        else {
            std::fprintf(stderr, "usage: bench_dosing [--segment-s 180] [--pump-refuses] [--log]\n");
            return 2;
        }
    }
    if (!(segmentSeconds > 0)) segmentSeconds = 180;

    TBenchMixer bench("dosing");
    moirex::sim::Emulator& emu = bench.emu;
    moirex::TMixer& mixer = bench.mixer;
    std::printf("Bringing the emulated instruments up (paced, 9600 baud, noise on) ...\n");
    if (!BringUpEmulatedMixer(mixer, emu)) return 1;

    struct Planned {
        const char* name;
        int64_t gasA_ugpm;
    };
    const std::vector<Planned> plan = {
        {"constant 10000", 10000}, {"pulsed 200", 200}, {"no gas A", 0}, {"constant 5000", 5000}};
    for (const Planned& p : plan) {
        const moirex::TProgramSegment seg{p.name, segmentSeconds / 3600.0, p.gasA_ugpm, 20000, 0, 0, ""};
        const moirex::SegmentBuildOutcome built = moirex::AddProgramSegment(mixer, seg);
        for (const auto& c : built.Corrections) std::printf("  correction: %s\n", c.c_str());
        if (!built.Added) {
            std::printf("  segment refused: %s\n", built.Refusal.c_str());
            return 1;
        }
    }
    const auto& table = mixer.MFCADetails.LUT[mixer.MFCADetails.ActiveLUT];
    std::printf("MFC A: %s, %.0f .. %.0f ug/min (LowFlow %.0f ug/min); 4 segments of %.0f s, gas B 20000 ug/min%s\n",
                table.NameOwn.c_str(), table.RangeMin * 1e6, table.RangeMax * 1e6, 3 * table.RangeMin * 1e6,
                segmentSeconds, pumpRefuses ? "; the pump refuses every command" : "");

    moirex::Clock& clock = moirex::SystemClock();
    moirex::TQueuedHandOver handOver;
    moirex::TRunContext run(mixer, handOver, clock);
    std::vector<Boundary> boundaries;
    const double t0 = clock.MonotonicSeconds();
    run.OnLogLine = [&](const moirex::TMemo&, const std::string& line) {
        if (printLog) std::printf("%9.3f %s\n", clock.MonotonicSeconds() - t0, line.c_str());
        if (line.find("Tick:Next Step") != std::string::npos || line.find("Tick:Stop") != std::string::npos)
            boundaries.push_back({clock.MonotonicSeconds(), emu.Mfc(Instrument::MfcA).MassDelivered_g});
    };

    Sampler sampler(emu);
    mixer.TickReady = true;
    boundaries.push_back({clock.MonotonicSeconds(), emu.Mfc(Instrument::MfcA).MassDelivered_g});
    moirex::ButtonApplyClick(run);
    if (mixer.MixerState != moirex::TMixerState::msOperating) {
        std::printf("the run did not start\n");
        return 1;
    }
    if (pumpRefuses) emu.SetPumpError(9);
    double nextTick = clock.MonotonicSeconds();
    while (true) {
        handOver.processPending();
        moirex::Timer1Timer(run);
        if (!moirex::WorkerRunning(run) && (mixer.MixerState == moirex::TMixerState::msReady ||
                                            mixer.MixerState == moirex::TMixerState::msStopFailed))
            break;
        AwaitNextTick(handOver, clock, nextTick);
    }
    const bool stopped = mixer.MixerState == moirex::TMixerState::msReady;
    if (pumpRefuses) emu.SetPumpError(0);
    clock.SleepMs(2000);  // the flow's decay after the last zero set-point
    const std::vector<Sample> samples = sampler.Samples();

    if (boundaries.size() != plan.size() + 1) {
        std::printf("the program did not run to its end (%zu segment changes seen)\n", boundaries.size() - 1);
        return 1;
    }
    std::printf("\n%-16s %8s %12s %12s %9s %12s %12s\n", "segment", "span s", "target ug", "delivered ug",
                "error %", "spill ug", "0.5 s of ug");
    bool withinGoals = stopped;
    // The set-points segment j may begin with (j = the number of segments: the program's end):
    // its constant flow; the low flow or zero when pulsed; zero without gas A.
    const double lowFlow = 3 * static_cast<double>(table.RangeMin);
    auto accepts = [&](size_t j) {
        return [&, j](double sp) {
            const double wanted = j < plan.size() ? static_cast<double>(plan[j].gasA_ugpm) / 1e6 : 0.0;
            if (wanted <= 0) return sp == 0;
            if (wanted < table.RangeMin) return sp == 0 || std::fabs(sp - lowFlow) < 1e-4 * lowFlow;
            return std::fabs(sp - wanted) < 1e-4 * wanted;
        };
    };
    for (size_t i = 0; i < plan.size(); ++i) {
        const Boundary& b0 = boundaries[i];
        const Boundary& b1 = boundaries[i + 1];
        const double span = b1.t - b0.t;
        const double target_ug = static_cast<double>(plan[i].gasA_ugpm) * span / 60.0;
        const double delivered_ug = (b1.mass - b0.mass) * 1e6;
        // The spill: delivered after this segment's end until MFC A got the next one's set-point.
        const double heldAtEnd = SetPointAt(samples, b1.t);
        const double nextEnd = i + 2 < boundaries.size() ? boundaries[i + 2].t : b1.t + 30;
        const Sample* change = NewSetPoint(samples, b1.t, nextEnd, accepts(i + 1));
        const double spill_ug = change ? (change->mass - b1.mass) * 1e6 : NAN;
        // Half a second of the segment's flow: its wanted flow (or, held at its end, a higher one).
        const double allowance_ug = std::max(heldAtEnd * 1e6, static_cast<double>(plan[i].gasA_ugpm)) * 0.5 / 60.0;
        char error[32];
        if (plan[i].gasA_ugpm > 0) {
            const double e = (delivered_ug - target_ug) / target_ug * 100;
            std::snprintf(error, sizeof error, "%+9.2f", e);
            const double goal = plan[i].gasA_ugpm >= table.RangeMin * 1e6 ? 0.5 : 2.0;
            if (std::fabs(e) > goal) withinGoals = false;
        } else {
            std::snprintf(error, sizeof error, "%9s", "-");
        }
        // A tenth of a microgram more is let pass: the decay of a pulse that ended just before.
        if (!(spill_ug <= allowance_ug + 0.1)) withinGoals = false;
        std::printf("%-16s %8.1f %12.1f %12.1f %s %12.1f %12.1f", plan[i].name, span, target_ug, delivered_ug, error,
                    spill_ug, allowance_ug);
        std::printf("\n");
    }
    std::printf("\nDelay from each segment change to MFC A's new set-point:\n");
    for (size_t i = 0; i < boundaries.size(); ++i) {
        const double until = i + 1 < boundaries.size() ? boundaries[i + 1].t : boundaries[i].t + 30;
        const Sample* change = NewSetPoint(samples, boundaries[i].t, until, accepts(i));
        const char* what = i == 0 ? "Start" : i == boundaries.size() - 1 ? "program end" : "segment change";
        const double before = SetPointAt(samples, boundaries[i].t) * 1e6;
        if (change) {
            const double delay = change->t - boundaries[i].t;
            if (delay > 0.5) withinGoals = false;
            std::printf("  %-15s %zu: %8.0f -> %8.0f ug/min after %.3f s\n", what, i, before, change->setPoint * 1e6,
                        delay);
        } else {
            withinGoals = false;
            std::printf("  %-15s %zu: %8.0f ug/min held, the new set-point never came\n", what, i, before);
        }
    }
    std::printf("\nstop confirmed: %s; %s\n", stopped ? "yes" : "NO",
                withinGoals ? "every figure within its goal" : "some figure OUTSIDE its goal");

    return stopped ? 0 : 1;
}
