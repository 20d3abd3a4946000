#pragma once
// Where the run controller and the Setup page hand their instrument work, so that the main thread
// never waits for an instrument: a job runs off the main thread, one at a time per port, after
// every job handed over for that port before it; its result is looked at on a later tick or event
// (TExchangeTicket), and the main thread goes on serving Stop, the worker's hand-overs and the
// operator's clicks meanwhile.
//
// A job that makes several exchanges (the pump's terminate-then-query loop, a retry) can be told
// to give up between them (Abandon): the stop procedure does that to whatever the tick left under
// way, and drops what has not begun yet.

#include <atomic>
#include <condition_variable>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

namespace moirex {

class TExchangeExecutor {
public:
    virtual ~TExchangeExecutor() = default;
    // Runs `job` off the calling thread, after every job posted for the same port before it.
    // When the job is dropped before it began (DropPending, the executor's end), `dropped` runs
    // instead, on whatever thread drops it. Neither may throw.
    virtual void Post(const std::string& port, std::function<void()> job, std::function<void()> dropped) = 0;
    // Drops every job of `port` that has not begun.
    virtual void DropPending(const std::string& port) = 0;
};

// One plain thread per port, made with the port's first job; jobs of one port run in order.
class TPortThreads final : public TExchangeExecutor {
public:
    TPortThreads() = default;
    // Drops what has not begun and waits for the jobs under way.
    ~TPortThreads() override;
    TPortThreads(const TPortThreads&) = delete;
    TPortThreads& operator=(const TPortThreads&) = delete;

    void Post(const std::string& port, std::function<void()> job, std::function<void()> dropped) override;
    void DropPending(const std::string& port) override;

private:
    struct TJob {
        std::function<void()> Run;
        std::function<void()> Dropped;
    };
    struct TLine {
        std::deque<TJob> Queue;
        std::thread Thread;
    };
    void Serve(TLine& line);

    std::mutex mutex_;
    std::condition_variable wake_;
    bool ending_ = false;
    std::map<std::string, std::unique_ptr<TLine>> lines_;
};

// Runs every job at once on the calling thread: for tests that follow the tick's exchanges one
// tick at a time.
class TInlineExchanges final : public TExchangeExecutor {
public:
    void Post(const std::string&, std::function<void()> job, std::function<void()>) override { job(); }
    void DropPending(const std::string&) override {}
};

// The outcome of one job, shared between the thread that asked for it and the one that runs it.
template <class T>
class TExchangeTicket {
public:
    TExchangeTicket() = default;

    bool Valid() const { return state_ != nullptr; }
    // Done or dropped: Result() will not change any more.
    bool Ready() const { return state_ && state_->Ready.load(std::memory_order_acquire); }
    // Never ran (dropped before it began).
    bool Dropped() const { return state_ && state_->WasDropped.load(std::memory_order_acquire); }
    // Precondition: Ready() and not Dropped().
    const T& Result() const { return state_->Value; }
    // Asks the job to give up between its exchanges; it may still finish the one under way.
    void Abandon() const {
        if (state_) state_->Abandoned.store(true);
    }
    // Forgets the job: its result, whenever it comes, is not looked at.
    void Reset() { state_.reset(); }

    // What the job itself looks at between its exchanges.
    const std::atomic<bool>* AbandonFlag() const { return state_ ? &state_->Abandoned : nullptr; }

private:
    template <class U, class Job>
    friend TExchangeTicket<U> SubmitExchange(TExchangeExecutor&, const std::string&, Job, std::function<void()>);
    struct TState {
        std::atomic<bool> Ready{false};
        std::atomic<bool> WasDropped{false};
        std::atomic<bool> Abandoned{false};
        T Value{};
    };
    std::shared_ptr<TState> state_;
};

// Hands `job` to the executor for `port`. The job gets the ticket's abandon flag
// (const std::atomic<bool>&) and returns the result. `done`, when given, runs on the job's
// thread once the result is set (or the job was dropped): to wake a loop; it must not block.
// Capture by value: the job may outlive the caller's frame.
template <class T, class Job>
TExchangeTicket<T> SubmitExchange(TExchangeExecutor& executor, const std::string& port, Job job,
                                  std::function<void()> done = {}) {
    TExchangeTicket<T> ticket;
    ticket.state_ = std::make_shared<typename TExchangeTicket<T>::TState>();
    auto state = ticket.state_;
    executor.Post(
        port,
        [state, job = std::move(job), done]() mutable {
            try {
                state->Value = job(static_cast<const std::atomic<bool>&>(state->Abandoned));
            } catch (...) {
                // A job that fails by an exception leaves its default result (a failure).
            }
            state->Ready.store(true, std::memory_order_release);
            if (done) done();
        },
        [state, done] {
            state->WasDropped.store(true, std::memory_order_release);
            state->Ready.store(true, std::memory_order_release);
            if (done) done();
        });
    return ticket;
}

}  // namespace moirex
