#pragma once
// The guardian's work (the program moirex-guard): watch the controlling process through its
// socket (core/GuardianLink.h); when it dies or freezes, stop the instruments in the order of the
// stop procedure — the pump first, then MFC A's and MFC B's set-points to 0 — each confirmed:
// the pump by its answer at rest, a controller by reading its set-point back as 0, each after
// checking that it is still the instrument validated for the run (the pump by its type, a
// controller by its serial number). It works on the controller's claim of the ports, handed to it
// at its start (PortClaim.h), and never on a port that another program holds. What could not be confirmed is tried
// again every second for the run's stop-retry time, as `moirexctl run` repeats its stop procedure
// (core/StopRetry.h).
// Then it records what it did: a last comment line in the run data file, a line appended to the
// recipe file, the log file when logging is on, and the run's mark (core/UnendedRun.h) that the
// next start tells.
//
// While the controller beats, the guardian opens no port and sends nothing.

#include <memory>
#include <string>

#include "core/GuardianLink.h"
#include "devices/PSD4_Interface.h"
#include "devices/PortClaim.h"
#include "support/Clock.h"
#include "support/DateTime.h"

namespace moirex {

enum class TWatchEnd : uint8_t {
    weFinished,  // the controller said its stop procedure has ended
    weDied,      // its socket ended without that word
    weFroze,     // no heartbeat for longer than the guard time
};

// Reads the heartbeat on `fd` until one of the three ends.
TWatchEnd WatchController(int fd, double guardSeconds, Clock& clock = SystemClock());

// What the guardian's stop has confirmed; a note per instrument says why one was not.
struct TGuardianStop {
    bool Pump = false, MfcA = false, MfcB = false;
    std::string NotePump, NoteA, NoteB;
    // The last pass found a port still open in another process (a frozen controller in the middle
    // of an exchange): tried again within a quarter of a second, not after the retry period.
    bool PortBusy = false;
    bool AllConfirmed() const { return Pump && MfcA && MfcB; }
};

// Whether the guardian may command `port`: empty when it holds the port already (the run's claim
// it took over) or has claimed it now; otherwise why not. A port that another program than the
// controller holds is never commanded ("... is in use by moirexctl mfc (PID 812) since 14:02:11:
// not commanded"); one that the frozen controller still holds open is tried again (`busy`).
std::string TakeRunPort(TMixerClaim& claim, const std::string& port, int64_t controllerPid, bool& busy);

// One pass of the stop order over what is not confirmed yet, on the ports of `claim` (each port
// taken with TakeRunPort first; an instrument that does not answer as the one validated is not
// commanded). `sink` gets the pump driver's messages and a line for each stop not confirmed yet.
void GuardianStopPass(const TGuardianRun& run, TMixerClaim& claim, TGuardianStop& stop, Clock& clock,
                      const TPumpMessageSink& sink);
// The guardian's claim of the run's ports: the controller's, handed over in run.Inherit and taken
// over in the guardian's name; without it (or when it cannot be taken over: a port that came back
// as another device since) an empty one, and each port is claimed by name when it is free.
std::unique_ptr<TMixerClaim> GuardianClaim(const TGuardianRun& run, const TPumpMessageSink& sink);
// GuardianClaim, then the pass, repeated every second (a busy port sooner) for
// run.StopRetrySeconds until everything is confirmed.
TGuardianStop GuardianStop(const TGuardianRun& run, Clock& clock, const TPumpMessageSink& sink);

// "Run ended without its stop procedure at yyyy-mm-dd hh:mm:ss: the guardian stopped the pump
// (confirmed), MFC A (confirmed), MFC B (confirmed)", or "...; could not confirm MFC B (why)".
std::string GuardianAccount(TDateTime when, const TGuardianStop& stop);
// Why it acted: "moirexctl run (PID 4711) ended without its stop procedure" / "... gave no sign of
// life for 10 s".
std::string GuardianCause(const TGuardianRun& run, int64_t pid, TWatchEnd end);

// The records of the account (each one that cannot be written is skipped).
void WriteGuardianRecords(const TGuardianRun& run, int64_t pid, const std::string& cause, const std::string& account);

}  // namespace moirex
