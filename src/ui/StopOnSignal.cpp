#include "ui/StopOnSignal.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>

#include "core/RunController.h"
#include "state/MixerState.h"
#include "ui/Application.h"

namespace moirex::ui {

namespace {

// The write end of the pipe the handler writes the signal's number into; the handler may do
// nothing but that (it runs between any two instructions of either thread).
int signalPipe[2] = {-1, -1};

void OnSignal(int signal) {
    const int saved = errno;
    const unsigned char number = static_cast<unsigned char>(signal);
    [[maybe_unused]] ssize_t written = ::write(signalPipe[1], &number, 1);
    errno = saved;
}

std::string SignalName(int signal) {
    const char* abbrev = sigabbrev_np(signal);
    return abbrev ? std::string("SIG") + abbrev : "signal " + std::to_string(signal);
}

}  // namespace

TStopOnSignal::TStopOnSignal(TMoirexApp& app, std::initializer_list<int> handled)
    : app_(app), signals_(handled) {
    if (::pipe2(signalPipe, O_CLOEXEC | O_NONBLOCK) != 0) {
        signalPipe[0] = signalPipe[1] = -1;
        return;  // the signals keep their default action
    }
    notifier_ = std::make_unique<QSocketNotifier>(signalPipe[0], QSocketNotifier::Read);
    QObject::connect(notifier_.get(), &QSocketNotifier::activated, this, [this] { ReadSignals(); });
    struct sigaction action {};
    action.sa_handler = OnSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int s : signals_) ::sigaction(s, &action, nullptr);
    closeTimer_.setInterval(100);
    QObject::connect(&closeTimer_, &QTimer::timeout, this, [this] { CloseWhenStopped(); });
}

TStopOnSignal::~TStopOnSignal() {
    for (int s : signals_) ::signal(s, SIG_DFL);
    notifier_.reset();
    for (int& fd : signalPipe) {
        if (fd >= 0) ::close(fd);
        fd = -1;
    }
}

void TStopOnSignal::ReadSignals() {
    unsigned char number = 0;
    while (::read(signalPipe[0], &number, 1) == 1) Request(number);
}

void TStopOnSignal::Request(int signal) {
    TMixer& mixer = app_.Mixer();
    LogOld(app_.Form.MemoLog, SignalName(signal) + " received: stop and close");
    if (requested_) return;
    requested_ = true;
    // Stop refuses outside a run with a message box nobody may be there to answer; only a run
    // under way needs the stop procedure.
    if (mixer.MixerState == TMixerState::msOperating) ButtonStopClick(app_.Run());
    closeTimer_.start();
    CloseWhenStopped();
}

void TStopOnSignal::CloseWhenStopped() {
    const TMixerState state = app_.Mixer().MixerState;
    const bool closable = state == TMixerState::msSimulation || state == TMixerState::msReady;
    if (!closable || WorkerRunning(app_.Run())) return;
    closeTimer_.stop();
    app_.Window().close();
}

}  // namespace moirex::ui
