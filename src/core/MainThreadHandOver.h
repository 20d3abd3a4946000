#pragma once
// Running the MFC worker's hand-over routine on the main thread while the worker waits.
//
// The worker calls invokeAndWait(fn) once per pass; fn runs on the main thread, where it may read
// and write the mixer state, and invokeAndWait returns once fn has run. The main thread runs what
// is waiting with processPending(): the desktop program from its event loop, the command-line
// tool and the tests from their own 50 ms loop, and the stop procedure in between while it waits
// for the worker to stop (the worker's last hand-over comes after it has set its stopped flag, so
// the wait for the worker to end must keep calling processPending too).

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

namespace moirex {

class TMainThreadHandOver {
public:
    virtual ~TMainThreadHandOver() = default;

    // Worker side: runs fn on the main thread and returns once it has run. True when fn ran;
    // false when the hand-over was closed before fn could run (the process is ending). An
    // exception thrown by fn is rethrown here, in the worker. Called on the main thread itself,
    // fn simply runs at once.
    virtual bool invokeAndWait(std::function<void()> fn) = 0;

    // Main thread: runs every hand-over that is waiting now, in the order they were asked for.
    // Returns how many ran.
    virtual int processPending() = 0;
};

// The plain queue: invokeAndWait puts fn in a queue and waits; the main thread's own loop drains
// the queue with processPending. The main thread is the thread that created the object.
class TQueuedHandOver final : public TMainThreadHandOver {
public:
    // onArrival, when given, runs on the worker's thread each time a hand-over has been queued,
    // before the worker starts waiting: an event loop uses it to wake the main thread (the
    // desktop program writes to an eventfd that its loop watches). It must not block.
    explicit TQueuedHandOver(std::function<void()> onArrival = {});
    // Closes the hand-over first, so that no worker is left waiting.
    ~TQueuedHandOver() override;
    TQueuedHandOver(const TQueuedHandOver&) = delete;
    TQueuedHandOver& operator=(const TQueuedHandOver&) = delete;

    bool invokeAndWait(std::function<void()> fn) override;
    int processPending() override;

    // Main thread, when it will drain no more (process end): every waiting worker returns false
    // without its fn having run, and so does every later invokeAndWait.
    void Close();

    // Main thread: waits at most timeoutMs for a hand-over to arrive; true when one is waiting.
    // Lets a loop that has nothing else to do answer the worker at once instead of at its next
    // 50 ms turn.
    bool WaitForPending(int64_t timeoutMs);

    // Hand-overs waiting now (for tests and diagnostics).
    int PendingCount() const;

private:
    struct TRequest {
        std::function<void()> Fn;
        bool Done = false;
        bool Ran = false;
        std::exception_ptr Error;
    };

    const std::thread::id mainThread_;
    const std::function<void()> onArrival_;
    mutable std::mutex mutex_;
    std::condition_variable arrived_;   // main thread waits for requests
    std::condition_variable finished_;  // workers wait for their request to be done
    std::deque<std::shared_ptr<TRequest>> queue_;
    bool closed_ = false;
};

}  // namespace moirex
