#pragma once
// The worker's hand-over on the Qt event loop. The worker queues its routine and blocks until the
// main thread has run it; the queue wakes the event loop through an eventfd watched by a socket
// notifier, so the routine runs as soon as the loop is free, as a blocking queued call would. All
// data shared between the threads sits behind the queue's std::mutex, which ThreadSanitizer sees;
// no Qt object is touched from the worker's thread.

#include <QSocketNotifier>
#include <memory>

#include "core/MainThreadHandOver.h"

namespace moirex::ui {

class TQtHandOver final : public TMainThreadHandOver {
public:
    // On the main thread, once the application object exists.
    TQtHandOver();
    // Closes the queue first, so that no worker is left waiting.
    ~TQtHandOver() override;
    TQtHandOver(const TQtHandOver&) = delete;
    TQtHandOver& operator=(const TQtHandOver&) = delete;

    bool invokeAndWait(std::function<void()> fn) override;
    // Runs what is waiting, and nothing else of the event loop: no handler runs inside another.
    int processPending() override;

    // Process end: every waiting and later invokeAndWait returns false without running.
    void Close();

private:
    void Drain();
    int wakeFd_ = -1;
    std::unique_ptr<TQueuedHandOver> queue_;
    std::unique_ptr<QSocketNotifier> notifier_;
    int ran_ = 0;  // main thread only
};

}  // namespace moirex::ui
