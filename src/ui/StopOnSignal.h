#pragma once
// The signals that end a desktop program from outside — SIGTERM (a logout, `kill`), SIGHUP (the
// terminal that started it goes away), SIGINT (Ctrl-C in that terminal) — taken as the operator's
// Stop followed by closing the window. Without this the process would end at once, with gas A,
// gas B and the pump left at whatever they were doing. A run under way gets the stop procedure;
// the window closes only once the mixer is in a state that may be closed, so a stop that could
// not be confirmed keeps the window (and its message) open. A second signal changes nothing.

#include <QObject>
#include <QSocketNotifier>
#include <QTimer>
#include <initializer_list>
#include <memory>
#include <vector>

namespace moirex::ui {

class TMoirexApp;

class TStopOnSignal : public QObject {
public:
    // Installs the handlers of `handled` for the life of this object (one at a time per process).
    TStopOnSignal(TMoirexApp& app, std::initializer_list<int> handled);
    ~TStopOnSignal() override;
    TStopOnSignal(const TStopOnSignal&) = delete;
    TStopOnSignal& operator=(const TStopOnSignal&) = delete;

    // What a signal does, on the main thread.
    void Request(int signal);
    bool Requested() const { return requested_; }

private:
    void ReadSignals();
    void CloseWhenStopped();

    TMoirexApp& app_;
    std::vector<int> signals_;
    std::unique_ptr<QSocketNotifier> notifier_;
    QTimer closeTimer_;
    bool requested_ = false;
};

}  // namespace moirex::ui
