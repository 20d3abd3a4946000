#pragma once
// The owner of one serial line in this process. While the process owns the mixer (TMixerClaim,
// PortClaim.h) each of its ports has one TSerialLine: it holds the port open and exclusive
// (flock and TIOCEXCL), runs on its own thread the jobs that the window, the worker thread and
// the run controller hand it, one after the other, and reopens the port after an unplug.
//
// A job is any piece of driver work (one read, a write and its read-back, a pump command, a
// whole controller read-out). Every TSerialPort exchange that a job makes on the line's port
// goes straight to the open port, and no exchange of another job comes between them. An
// exchange made on a line's port from any other thread is queued on the line as a job of its
// own and waited for, so blocking callers (the worker thread, moirexctl) need not know the line.
//
//     TLineTicket<TSerialResponse> write = LineOf(port)->Submit<TSerialResponse>([port, flow] {
//         TVogtlinPort p;
//         p.UseControllerSettings(port);
//         return p.WriteF32(2, mfcreg::SetPoint, flow);
//     });
//     ...  // a later tick
//     if (write.Ready()) Use(write.Result());
//
// Identity: once an instrument was validated on the line, ExpectIdentity says which one it was.
// After a reopen, and after an exchange that got no answer at all (an outage), the line asks the
// instrument who it is before the next job. Until it has answered as the validated one, the
// job's exchanges are not sent (kStatusNotVerified); when another instrument answers, no
// exchange is ever sent on the line again (IdentityRefusal() says why).

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <type_traits>
#include <vector>

#include "devices/PortKey.h"
#include "state/InstrumentRecords.h"

namespace moirex {

// Status of an exchange whose job was dropped before it began (Stop, the line closing).
inline constexpr const char* kStatusDropped = "Exchange dropped before it began";
// Status of an exchange not sent because the instrument has not yet answered as the validated
// one since the line came back.
inline constexpr const char* kStatusNotVerified = "Instrument not yet identified since the line came back, nothing sent";

namespace detail {

template <class T>
struct TTicketState {
    mutable std::mutex Mutex;
    std::condition_variable Done;
    bool Ready = false;
    bool Dropped = false;
    std::optional<T> Value;
};

// What a dropped job of each result type gives: a response that says so, false, or a value
// made from nothing.
template <class T>
T DroppedValue() {
    if constexpr (std::is_same_v<T, TSerialResponse>) {
        TSerialResponse r;
        r.Init();
        r.Status = kStatusDropped;
        return r;
    } else {
        return T{};
    }
}

}  // namespace detail

// The result of a job, shared by the submitter and the line's thread.
template <class T>
class TLineTicket {
public:
    TLineTicket() = default;
    explicit TLineTicket(std::shared_ptr<detail::TTicketState<T>> state) : state_(std::move(state)) {}

    bool Valid() const { return state_ != nullptr; }
    // Done or dropped: Result() does not wait.
    bool Ready() const {
        if (!state_) return false;
        std::lock_guard lock(state_->Mutex);
        return state_->Ready;
    }
    // Never run: dropped by DropPending or by the line closing before it began.
    bool Dropped() const {
        if (!state_) return false;
        std::lock_guard lock(state_->Mutex);
        return state_->Dropped;
    }
    // Waits at most `seconds`; true once ready.
    bool WaitFor(double seconds) const {
        if (!state_) return false;
        std::unique_lock lock(state_->Mutex);
        return state_->Done.wait_for(lock, std::chrono::duration<double>(seconds), [this] { return state_->Ready; });
    }
    void Wait() const {
        if (!state_) return;
        std::unique_lock lock(state_->Mutex);
        state_->Done.wait(lock, [this] { return state_->Ready; });
    }
    // The job's result (waits until ready); a dropped job's is DroppedValue.
    const T& Result() const {
        Wait();
        std::lock_guard lock(state_->Mutex);
        return *state_->Value;
    }

private:
    std::shared_ptr<detail::TTicketState<T>> state_;
};

// What instrument a line must lead to, and how to ask it.
struct TLineIdentity {
    std::string Name;      // "MFC A", "Pump"
    std::string Kind;      // what is compared, for the message: "serial", "type"
    std::string Expected;  // as validated
    // Asks the instrument (on the line's thread, through the usual drivers); nullopt when no
    // answer came.
    std::function<std::optional<std::string>(const std::string& port)> Ask;
};

// "MFC A on /dev/ttyUSB0 is now serial 21034799, validated as 21034711: the run stops"
std::string IdentityRefusalText(const TLineIdentity& identity, const std::string& port, const std::string& found);

class TSerialLine {
public:
    // Takes the port: opens it exclusively now (OpenFailure() says why not; the line then tries
    // again before each job) and starts the line's thread. `fd`, when not -1, is a descriptor of
    // the port already open and exclusive (inherited from the parent process).
    TSerialLine(std::string port, TPortKey key, int fd = -1);
    // Finishes the job under way, drops the others, closes the port.
    ~TSerialLine();
    TSerialLine(const TSerialLine&) = delete;
    TSerialLine& operator=(const TSerialLine&) = delete;

    const std::string& Port() const { return port_; }
    TPortKey Key() const;

    // Runs `job` on the line's thread after everything queued before it. `done`, when given, is
    // called on the line's thread once the ticket is ready (also when it was dropped): keep it
    // short and never let it wait.
    template <class T>
    TLineTicket<T> Submit(std::function<T()> job, std::function<void()> done = {}) {
        auto state = std::make_shared<detail::TTicketState<T>>();
        auto finish = [state, done](std::optional<T> value) {
            {
                std::lock_guard lock(state->Mutex);
                state->Dropped = !value.has_value();
                state->Value = value ? std::move(value) : std::optional<T>(detail::DroppedValue<T>());
                state->Ready = true;
            }
            state->Done.notify_all();
            if (done) done();
        };
        Enqueue([job = std::move(job), finish](bool run) {
            if (run)
                finish(job());
            else
                finish(std::nullopt);
        });
        return TLineTicket<T>(state);
    }

    // Drops every job queued and not yet begun (Stop): their tickets become Dropped. The job
    // under way finishes; it can look at StopRequested() between exchanges.
    void DropPending();
    // From DropPending() until the next Submit.
    bool StopRequested() const { return stopRequested_.load(); }

    // The port is open now (false after an unplug until it is reopened, or while it cannot be).
    bool IsOpen() const { return openNow_.load(); }
    // Why the last open failed; empty when it did not.
    std::string OpenFailure() const;
    // True when the last open failed because another opener holds the port.
    bool OpenRefusedBusy() const { return openBusy_.load(); }
    uint64_t Reopens() const { return reopens_.load(); }

    // The instrument the line must lead to (replaces any earlier one); ClearIdentity forgets it.
    void ExpectIdentity(TLineIdentity identity);
    void ClearIdentity();
    // Non-empty once another instrument answered: IdentityRefusalText; nothing is sent again.
    std::string IdentityRefusal() const;

    // Called when the line's port has come back as another device (a replugged adapter with a
    // new number, a restarted emulator): the claim takes that device too. Empty: go on; otherwise
    // the line stays closed and exchanges fail as on a port in use.
    std::function<std::string(const TPortKey& device)> OnNewDevice;

    // ---- For the transport, on the line's thread only ----
    // The line whose job runs on this thread; nullptr on any other thread.
    static TSerialLine* Current();
    // The open port, reopened first when it was lost; -1 when it cannot be opened.
    int AcquireFd();
    // The device went away under an exchange (read or write failed, hang-up): close the port.
    void MarkVanished();
    // An exchange got no answer at all: ask the instrument who it is before the next job.
    void NoteNoAnswer();
    // Why this job's exchanges must not be sent (identity); empty when they may.
    std::string ExchangeRefusal() const;
    // The descriptor, for handing the line to a child process (see TMixerClaim::InheritText).
    int FdForInheritance() const;

private:
    using TJob = std::function<void(bool run)>;
    void Enqueue(TJob job);
    void Loop();
    void CheckIdentity();
    bool OpenPort(bool first);
    void ClosePort();

    std::string port_;
    TPortKey key_;
    mutable std::mutex mutex_;  // queue_, quit_, key_, identity fields, openFailure_
    std::condition_variable wake_;
    std::deque<TJob> queue_;
    bool quit_ = false;
    std::atomic<bool> stopRequested_{false};

    std::atomic<int> fd_{-1};  // used on the line thread; read by FdForInheritance
    std::atomic<bool> openNow_{false};
    std::atomic<bool> openBusy_{false};
    std::atomic<uint64_t> reopens_{0};
    std::string openFailure_;

    std::optional<TLineIdentity> identity_;
    bool identityDue_ = false;
    bool unverified_ = false;  // this job: the instrument did not answer the identity question
    bool checking_ = false;    // line thread: the identity question is under way
    std::string identityRefusal_;

    std::thread thread_;
};

// The line owner of a port in this process (any name of the device), or nullptr.
std::shared_ptr<TSerialLine> LineOf(const std::string& port);
// Lines register and unregister here (TMixerClaim does it).
void RegisterLine(const std::shared_ptr<TSerialLine>& line);
void UnregisterLine(const TSerialLine* line);

}  // namespace moirex
