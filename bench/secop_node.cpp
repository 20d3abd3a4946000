// The SEC node's cost to the mixer's main loop, as `moirexctl serve` runs it: a run on the paced
// emulator (9600 baud, real time), the loop of hand-overs, the 50 ms tick and the node's Poll, in
// three phases: no client; eight activated clients that read every update; the eight and hostile
// clients besides — four that activate and never read, two that send bad JSON, unknown names and
// lines over 64 KiB without pause, and one that connects and closes as fast as it can. Prints,
// for each phase, the time the tick and the node's Poll take, how late the ticks begin, a reading
// client's round trip for "read gas_a:value" and the updates each reading client received.

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "core/MainThreadHandOver.h"
#include "core/ProgramSegments.h"
#include "core/RunController.h"
#include "form/Dialogs.h"
#include "form/Form.h"
#include "remote/DialogCapture.h"
#include "remote/MixerNode.h"
#include "remote/SecopClient.h"
#include "sim/Emulator.h"
#include "support/Clock.h"
#include "support/FileLocations.h"

#include "EmulatedMixer.h"
#include "Figures.h"

namespace {

constexpr double kPhaseSeconds = 20;

double MsSince(std::chrono::steady_clock::time_point t) {
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t).count();
}

// The clients of one phase, each on its own thread until Stop.
class Clients {
public:
    Clients(uint16_t port, bool readers, bool hostile) : port_(port) {
        if (readers)
            for (int i = 0; i < 8; ++i) threads_.emplace_back([this, i] { Reader(i == 0); });
        if (!hostile) return;
        for (int i = 0; i < 4; ++i) threads_.emplace_back([this] { Sleeper(); });
        for (int i = 0; i < 2; ++i) threads_.emplace_back([this] { Garbage(); });
        threads_.emplace_back([this] { Flood(); });
    }
    ~Clients() { Stop(); }
    void Stop() {
        stop_ = true;
        for (auto& t : threads_)
            if (t.joinable()) t.join();
    }
    std::vector<double> RoundTripMs() {
        std::lock_guard lock(mutex_);
        return roundTrips_;
    }
    size_t Updates() const { return updates_; }
    size_t Connects() const { return connects_; }
    size_t Refused() const { return refused_; }

private:
    // Activated: reads every update; the first also asks for gas A's flow every 100 ms.
    void Reader(bool asks) {
        moirex::secop::TClient c(port_);
        if (!c.Connected() || !c.Ask("activate")) return;
        auto lastAsk = std::chrono::steady_clock::now();
        while (!stop_) {
            if (asks && MsSince(lastAsk) >= 100) {
                lastAsk = std::chrono::steady_clock::now();
                if (!c.Send("read gas_a:value")) return;
                const auto reply = c.ReadUntil([](const std::string& l) { return l.rfind("reply gas_a:value", 0) == 0; }, 5);
                if (!reply) return;
                std::lock_guard lock(mutex_);
                roundTrips_.push_back(MsSince(lastAsk));
                continue;
            }
            if (const auto line = c.ReadLine(0.02); line && line->rfind("update ", 0) == 0) ++updates_;
        }
    }
    // Activated, never reads: its queue fills until the node lets it go.
    void Sleeper() {
        moirex::secop::TClient c(port_);
        c.Send("activate");
        while (!stop_) std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    // Bad requests without pause; reads what comes back, connects again when dropped.
    void Garbage() {
        const std::string longLine = "read " + std::string(70 * 1024, 'x') + "\n";
        auto c = std::make_unique<moirex::secop::TClient>(port_);
        while (!stop_) {
            if (!c->SendRaw("{not json\nread nosuch:value\nchange mixer:value 7\n" + longLine)) {
                c = std::make_unique<moirex::secop::TClient>(port_);
                continue;
            }
            while (c->ReadLine(0)) {
            }
        }
    }
    // Connects and closes at once, as fast as it can.
    void Flood() {
        while (!stop_) {
            moirex::secop::TClient c(port_);
            ++connects_;
            if (!c.Connected()) ++refused_;
        }
    }

    uint16_t port_;
    std::atomic<bool> stop_{false};
    std::atomic<size_t> updates_{0}, connects_{0}, refused_{0};
    std::mutex mutex_;
    std::vector<double> roundTrips_;
    std::vector<std::thread> threads_;
};

struct LoopFigures {
    std::vector<double> tickMs, pollMs, lateMs;
};

// Runs the serve loop for `seconds`, timing the tick, the node's Poll and each tick's lateness.
LoopFigures Serve(moirex::TRunContext& run, moirex::TQueuedHandOver& handOver, moirex::TMixerNode& node,
                  double seconds) {
    LoopFigures f;
    moirex::Clock& clock = moirex::SystemClock();
    const double end = clock.MonotonicSeconds() + seconds;
    double nextTick = clock.MonotonicSeconds();
    while (clock.MonotonicSeconds() < end) {
        f.lateMs.push_back((clock.MonotonicSeconds() - nextTick) * 1000);
        handOver.processPending();
        const double t0 = clock.MonotonicSeconds();
        moirex::Timer1Timer(run);
        const double t1 = clock.MonotonicSeconds();
        node.Poll();
        const double t2 = clock.MonotonicSeconds();
        f.tickMs.push_back((t1 - t0) * 1000);
        f.pollMs.push_back((t2 - t1) * 1000);
        AwaitNextTick(handOver, clock, nextTick);
    }
    return f;
}

void Report(const char* phase, const LoopFigures& f, Clients* clients, size_t readers) {
    const Stats tick = Of(f.tickMs), poll = Of(f.pollMs), late = Of(f.lateMs);
    std::printf("%s:\n", phase);
    std::printf("  tick            median %7.3f ms  p99 %7.3f ms  worst %7.3f ms  (%zu ticks)\n", tick.median, tick.p99,
                tick.worst, tick.n);
    std::printf("  node Poll       median %7.3f ms  p99 %7.3f ms  worst %7.3f ms\n", poll.median, poll.p99, poll.worst);
    std::printf("  tick begins late median %6.3f ms  p99 %7.3f ms  worst %7.3f ms\n", late.median, late.p99, late.worst);
    if (!clients) return;
    const Stats rt = Of(clients->RoundTripMs());
    std::printf("  read gas_a:value round trip  median %.3f ms  p99 %.3f ms  worst %.3f ms  (%zu)\n", rt.median, rt.p99,
                rt.worst, rt.n);
    std::printf("  updates received per reading client: %.0f\n",
                readers ? static_cast<double>(clients->Updates()) / static_cast<double>(readers) : 0.0);
    if (clients->Connects())
        std::printf("  flood: %zu connects, %zu refused\n", clients->Connects(), clients->Refused());
}

}  // namespace

int main() {
    TBenchMixer bench("secop");
    moirex::sim::Emulator& emu = bench.emu;
    moirex::TMixer& mixer = bench.mixer;
    std::printf("Bringing the emulated instruments up (paced, 9600 baud) ...\n");
    if (!BringUpEmulatedMixer(mixer, emu)) return 1;
    moirex::TProgramSegment seg{"bench", 4 * kPhaseSeconds / 3600.0, 10000, 20000, 0, 0, ""};
    if (!moirex::AddProgramSegment(mixer, seg).Added) {
        std::printf("segment refused\n");
        return 1;
    }

    moirex::TQueuedHandOver handOver;
    moirex::TRunContext run(mixer, handOver, moirex::SystemClock());
    moirex::TScriptedCapture capture(bench.dialogs);
    moirex::TMixerNode node(run, capture);
    moirex::secop::TAddress address;
    address.Port = 0;
    std::string error;
    if (!node.Start(address, error)) {
        std::printf("node: %s\n", error.c_str());
        return 1;
    }
    mixer.TickReady = true;
    moirex::ButtonApplyClick(run);
    if (mixer.MixerState != moirex::TMixerState::msOperating) {
        std::printf("the run did not start\n");
        return 1;
    }
    // The instruments take their set-points before the figures begin.
    Serve(run, handOver, node, 3);

    const LoopFigures quiet = Serve(run, handOver, node, kPhaseSeconds);
    Report("No client", quiet, nullptr, 0);
    {
        Clients readers(node.Port(), true, false);
        const LoopFigures f = Serve(run, handOver, node, kPhaseSeconds);
        readers.Stop();
        Report("Eight activated clients reading every update", f, &readers, 8);
    }
    {
        Clients hostile(node.Port(), true, true);
        const LoopFigures f = Serve(run, handOver, node, kPhaseSeconds);
        hostile.Stop();
        Report("The eight and hostile clients (4 never read, 2 send garbage, 1 connect flood)", f, &hostile, 8);
    }

    moirex::ButtonStopClick(run);
    const double until = moirex::SystemClock().MonotonicSeconds() + 30;
    while (moirex::SystemClock().MonotonicSeconds() < until &&
           (moirex::WorkerRunning(run) || mixer.MixerState == moirex::TMixerState::msStopping))
        Serve(run, handOver, node, 0.2);
    const bool stopped = mixer.MixerState == moirex::TMixerState::msReady;
    std::printf("stop confirmed: %s\n", stopped ? "yes" : "NO");
    node.Stop();
    return stopped ? 0 : 1;
}
