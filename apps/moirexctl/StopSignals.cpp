#include "StopSignals.h"

#include <atomic>
#include <csignal>

namespace moirexctl {

namespace {

std::atomic<int> gSignals{0};
std::atomic<int> gFirstSignal{0};  // its number gives the exit status of a stop on a signal

extern "C" void OnStopSignal(int signal) {
    int none = 0;
    gFirstSignal.compare_exchange_strong(none, signal);
    gSignals.fetch_add(1);
}

}  // namespace

void InstallStopSignals() {
    struct sigaction sa {};
    sa.sa_handler = OnStopSignal;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = 0;  // no restart: a wait for the typed answer ends at the signal
    sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGTERM, &sa, nullptr);
    // A closed terminal is a stop as well, not an end that leaves the gases flowing.
    sigaction(SIGHUP, &sa, nullptr);
    std::signal(SIGPIPE, SIG_IGN);
}

int StopSignalCount() { return gSignals.load(); }
int FirstStopSignal() { return gFirstSignal.load(); }

}  // namespace moirexctl
