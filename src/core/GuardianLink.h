#pragma once
// The run controller's side of the guardian (moirex-guard): the guardian is started at Start,
// beaten on every tick, told when the stop procedure has ended, and listened to.
//
// The two talk over one socket pair. The controller writes "." on every tick and "E" once its stop
// procedure has ended; the guardian reads them. A socket that ends without "E" is the controller's
// death; no "." for longer than the guard time is a frozen controller. The guardian then writes
// "T" (before it touches any instrument: from then on this process's exchanges are barred, see
// devices/ExchangeGate.h), runs its stop, and writes its account as one line: "C" + text when it
// confirmed every stop, "F" + text otherwise. The controller, if it still lives, ends its run on
// that account without commanding the instruments again.
//
// A guardian that ends while the run goes on is started again once; when that fails too, the
// run goes on unguarded (the caller logs what Poll tells).

#include <sys/types.h>

#include <cstdint>
#include <string>
#include <vector>

namespace moirex {

// What the guardian is told of a run.
struct TGuardianRun {
    std::string Holder;  // the controlling program, for the records: "moirexctl run", "Moirex window"
    std::string PumpPort, PortA, PortB;
    uint32_t AddressA = 1, AddressB = 2;
    uint32_t SerialA = 0, SerialB = 0;  // serial numbers read at validation (0: not known)
    std::string DataFile, RecipeFile, LogFile;
    std::string NoteFile;  // the run's mark in the unended-run folder (core/UnendedRun.h)
    double GuardSeconds = 10;
    double StopRetrySeconds = 60;
    // The controlling process, and its claim of the ports handed to the guardian at its start
    // (TMixerClaim::InheritText; empty: none, the guardian claims the ports by name when it acts).
    int64_t ControllerPid = 0;
    std::string Inherit;
};

// The guardian's program: $MOIREX_GUARD_PROGRAM when set, else moirex-guard beside the running
// program, else in the sibling folder moirex-guard (the build tree); empty when none is there.
std::string GuardianProgramPath();

// The command line of a guardian for `run`, talking over descriptor `socketFd`.
std::vector<std::string> GuardianArguments(const std::string& program, const TGuardianRun& run, int socketFd);

class TGuardianLink {
public:
    TGuardianLink() = default;
    // Without Finish: the guardian sees the end of its socket and stops the instruments.
    ~TGuardianLink();
    TGuardianLink(const TGuardianLink&) = delete;
    TGuardianLink& operator=(const TGuardianLink&) = delete;

    // Starts a guardian for `run`; an earlier one is told that its run has ended. False, with the
    // reason, when no guardian could be started (the run then goes on unguarded).
    bool Start(const TGuardianRun& run, std::string& error);
    // The heartbeat: one "." at most every 50 ms (never waits; a full socket drops it).
    void Beat();
    // The stop procedure has ended: "E", and the guardian ends.
    void Finish();

    enum class TNews : uint8_t {
        gnNone,
        gnRestarted,   // the guardian had ended; a new one watches the run (Message says why)
        gnUnguarded,   // it ended again, or could not be started again: the run goes on unguarded
        gnTakingOver,  // the guardian has taken the instruments over (this process had frozen)
        gnTookOver,    // ... and has ended its stop: Account() holds its words
    };
    // Looks at the guardian (no wait). Each piece of news is told once.
    TNews Poll();
    const std::string& Message() const { return message_; }

    bool Running() const { return pid_ > 0; }
    bool TakingOver() const { return takingOver_; }
    // The guardian's account of its stop, once it has ended it; AllConfirmed: every stop confirmed.
    const std::string& Account() const { return account_; }
    bool AllConfirmed() const { return allConfirmed_; }
    pid_t Pid() const { return pid_; }

private:
    bool Launch(std::string& error);
    void Close();
    void Reap(double waitSeconds);

    TGuardianRun run_;
    int fd_ = -1;
    pid_t pid_ = -1;
    int restarts_ = 0;
    double lastBeat_ = -1;
    bool takingOver_ = false;
    bool tookOver_ = false;
    bool allConfirmed_ = false;
    std::string received_;
    std::string account_;
    std::string message_;
};

}  // namespace moirex
