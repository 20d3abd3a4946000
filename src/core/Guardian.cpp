#include "core/Guardian.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <functional>
#include <optional>
#include <tuple>

#include "core/RunController.h"
#include "core/StopRetry.h"
#include "core/UnendedRun.h"
#include "devices/ExchangeGate.h"
#include "devices/InstrumentIdentity.h"
#include "devices/SerialPortVogtlin.h"
#include "devices/UnitMFC.h"
#include "support/Log.h"
#include "support/TextFormat.h"

namespace moirex {

namespace {

// A little longer than the run's 50 ms: the guardian has time, and a first answer after a freeze
// may come late.
constexpr uint32_t kMFCReadoutMs = 100;

// One exchange, tried again at once when it got no good answer (a busy moment of the line or of
// the controller), as the controller read-out tries its steps.
template <typename Exchange>
TSerialResponse Tried(Exchange exchange) {
    TSerialResponse r;
    for (int attempt = 0; attempt < kMFCStepTries; ++attempt) {
        r = exchange();
        if (r.Status.empty() || r.Status == kStatusPortInUse || r.Status == kStatusGuardianTookOver) break;
    }
    return r;
}

// Empty when the instrument on `port` answers as the one validated; otherwise why it is not
// commanded.
std::string IdentityNote(const TLineIdentity& identity, const std::string& port) {
    std::optional<std::string> found;
    for (int attempt = 0; attempt < kMFCStepTries && !found; ++attempt) found = identity.Ask(port);
    if (!found) return "no answer on " + port + " to the question which instrument it is";
    if (*found != identity.Expected)
        return "on " + port + " is now " + identity.Kind + " " + *found + ", validated as " + identity.Expected +
               ": not commanded";
    return {};
}

// Set-point 0, confirmed by reading it back, on the controller validated for the run.
bool ZeroConfirmed(const std::string& portName, uint32_t address, uint32_t serial, std::string& note) {
    TVogtlinPort port;
    port.UseControllerSettings(portName, kMFCReadoutMs);
    if (serial != 0) {
        note = IdentityNote(MFCIdentity("MFC", address, serial), portName);
        if (!note.empty()) return false;
    }
    const TSerialResponse w = Tried([&] { return port.WriteF32(address, mfcreg::SetPoint, 0.0f); });
    if (!w.Status.empty()) {
        note = "set-point 0 refused on " + portName + ": " + w.Status;
        return false;
    }
    const TSerialResponse r = Tried([&] { return port.ReadF32(address, mfcreg::SetPoint); });
    if (!r.Status.empty() || r.AsFloat != 0.0f) {
        note = r.Status.empty() ? "set-point reads back " + ShortestText(r.AsFloat) + " g/min" : "set-point not read back: " + r.Status;
        return false;
    }
    note.clear();
    return true;
}

// The pump at rest, confirmed by its answer, when it is the pump validated for the run.
bool PumpStopped(const std::string& portName, Clock& clock, const TPumpMessageSink& sink, std::string& note) {
    note = IdentityNote(PumpIdentity(), portName);
    if (!note.empty()) return false;
    TPSD4 pump(sink, clock);
    pump.PortTiming = RunPumpTiming;
    if (!pump.Connect(portName)) {
        note = "no answer on " + portName + ": " + pump.ConnectResponse().Status;
        return false;
    }
    if (!pump.Stop()) {
        note = "not at rest on " + portName;
        return false;
    }
    return true;
}

bool AppendLine(const std::string& path, const std::string& line) {
    if (path.empty()) return false;
    // Never created here: only a file the run wrote gets the line.
    const int fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0) return false;
    const std::string text = line + "\r\n";
    const bool ok = ::write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
    ::close(fd);
    return ok;
}

}  // namespace

TWatchEnd WatchController(int fd, double guardSeconds, Clock& clock) {
    double last = clock.MonotonicSeconds();
    while (true) {
        const double left = guardSeconds - (clock.MonotonicSeconds() - last);
        if (left <= 0) return TWatchEnd::weFroze;
        pollfd p{fd, POLLIN, 0};
        const int n = ::poll(&p, 1, static_cast<int>(left * 1000) + 1);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return TWatchEnd::weDied;
        if (n == 0) continue;
        char buf[256];
        const ssize_t got = ::read(fd, buf, sizeof buf);
        if (got < 0 && (errno == EINTR || errno == EAGAIN)) continue;
        if (got <= 0) return TWatchEnd::weDied;
        for (ssize_t i = 0; i < got; ++i)
            if (buf[i] == 'E') return TWatchEnd::weFinished;
        last = clock.MonotonicSeconds();
    }
}

std::string TakeRunPort(TMixerClaim& claim, const std::string& port, int64_t controllerPid, bool& busy) {
    busy = false;
    if (claim.Holds(port)) return {};
    // Another program's claim stands: it masters this port now, whatever it does with it.
    if (const std::optional<TClaimRecord> holder = ClaimOf(port);
        holder && holder->Alive && holder->Pid != controllerPid)
        return ClaimRefusalText(port, *holder) + ": not commanded";
    const std::string refused = claim.Claim({port});
    // Refused now, the port is still the controller's: frozen with it open, or just ending.
    busy = !refused.empty();
    return refused;
}

void GuardianStopPass(const TGuardianRun& run, TMixerClaim& claim, TGuardianStop& stop, Clock& clock,
                      const TPumpMessageSink& sink) {
    stop.PortBusy = false;
    // Each instrument on a port the guardian holds, when it is not confirmed yet.
    auto step = [&](bool& done, const std::string& port, std::string& note, const std::function<bool()>& act) {
        if (done) return;
        bool busy = false;
        note = TakeRunPort(claim, port, run.ControllerPid, busy);
        if (note.empty()) done = act();
        stop.PortBusy = stop.PortBusy || busy || note.find(kStatusPortInUse) != std::string::npos;
    };
    // The pump first, so that no fluid is dosed into a stream that no longer carries it away.
    step(stop.Pump, run.PumpPort, stop.NotePump, [&] { return PumpStopped(run.PumpPort, clock, sink, stop.NotePump); });
    step(stop.MfcA, run.PortA, stop.NoteA, [&] { return ZeroConfirmed(run.PortA, run.AddressA, run.SerialA, stop.NoteA); });
    step(stop.MfcB, run.PortB, stop.NoteB, [&] { return ZeroConfirmed(run.PortB, run.AddressB, run.SerialB, stop.NoteB); });
    if (sink) {
        for (const auto& [ok, name, note] : {std::tuple{stop.Pump, "the pump", &stop.NotePump},
                                             std::tuple{stop.MfcA, "MFC A", &stop.NoteA},
                                             std::tuple{stop.MfcB, "MFC B", &stop.NoteB}})
            if (!ok) sink(std::string(name) + " not confirmed yet: " + *note);
    }
}

std::unique_ptr<TMixerClaim> GuardianClaim(const TGuardianRun& run, const TPumpMessageSink& sink) {
    std::unique_ptr<TMixerClaim> claim;
    if (!run.Inherit.empty()) {
        std::string error;
        claim = TMixerClaim::Adopt(run.Inherit, "moirex-guard", error);
        if (!claim && sink) sink("The run's claim could not be taken over (" + error + "): each port is claimed when it is free");
    }
    if (!claim) claim = std::make_unique<TMixerClaim>("moirex-guard");
    // From here on the claims name the guardian (moirexctl status, a refused program's message).
    claim->TakeOver();
    claim->SetRunState("the guardian stops the instruments");
    return claim;
}

TGuardianStop GuardianStop(const TGuardianRun& run, Clock& clock, const TPumpMessageSink& sink) {
    const std::unique_ptr<TMixerClaim> claim = GuardianClaim(run, sink);
    TGuardianStop stop;
    // Every second rather than moirexctl's 5 s: the guardian has nothing else to do, and a
    // controller frozen in an exchange frees its port only when it wakes.
    TStopRetry retry(1, run.StopRetrySeconds);
    GuardianStopPass(run, *claim, stop, clock, sink);
    while (!stop.AllConfirmed()) {
        const double now = clock.MonotonicSeconds();
        retry.Failed(now);
        const TStopRetry::TStep step = retry.Next(now);
        if (step == TStopRetry::TStep::srGiveUp) break;
        if (step == TStopRetry::TStep::srRepeat) {
            GuardianStopPass(run, *claim, stop, clock, sink);
        } else if (stop.PortBusy) {
            clock.SleepMs(250);
            GuardianStopPass(run, *claim, stop, clock, sink);
        } else {
            clock.SleepMs(100);
        }
    }
    return stop;
}

std::string GuardianAccount(TDateTime when, const TGuardianStop& stop) {
    std::string confirmed, unconfirmed;
    auto add = [](std::string& list, const std::string& item) { list += (list.empty() ? "" : ", ") + item; };
    for (const auto& [ok, name, note] : {std::tuple{stop.Pump, "the pump", &stop.NotePump},
                                         std::tuple{stop.MfcA, "MFC A", &stop.NoteA},
                                         std::tuple{stop.MfcB, "MFC B", &stop.NoteB}}) {
        if (ok)
            add(confirmed, std::string(name) + " (confirmed)");
        else
            add(unconfirmed, std::string(name) + (note->empty() ? "" : " (" + *note + ")"));
    }
    std::string text = "Run ended without its stop procedure at " + FormatDateTime("yyyy-mm-dd hh:nn:ss", when) +
                       ": the guardian ";
    if (!confirmed.empty()) text += "stopped " + confirmed;
    if (!unconfirmed.empty()) text += (confirmed.empty() ? "" : "; ") + std::string("could not confirm ") + unconfirmed;
    return text;
}

std::string GuardianCause(const TGuardianRun& run, int64_t pid, TWatchEnd end) {
    const std::string who = (run.Holder.empty() ? std::string("the controlling program") : run.Holder) + " (PID " +
                            std::to_string(pid) + ")";
    if (end == TWatchEnd::weFroze)
        return who + " gave no sign of life for " + ShortestText(run.GuardSeconds) + " s";
    return who + " ended without its stop procedure";
}

void WriteGuardianRecords(const TGuardianRun& run, int64_t pid, const std::string& cause, const std::string& account) {
    AppendLine(run.DataFile, "# " + account);
    AppendLine(run.RecipeFile, account);

    if (!run.LogFile.empty()) {
        const std::filesystem::path log(run.LogFile);
        TCodeSiteDestination destination;
        destination.LogFile.Active = true;
        destination.LogFile.FilePath = log.parent_path().string();
        destination.LogFile.FileName = log.filename().string();
        for (const std::string& text : {"Guardian: " + cause, "Guardian: " + account})
            destination.Write(TLogRecord{TLogRecord::TKind::lkMessage, "Guardian", text});
        destination.Flush();
    }

    TUnendedRun mark;
    if (run.NoteFile.empty()) return;
    if (!ReadUnendedRun(run.NoteFile, mark)) {
        // The controller's mark is missing: the guardian's account stands on its own.
        mark.Holder = run.Holder;
        mark.Pid = pid;
        mark.Boot = BootId();
        mark.PumpPort = run.PumpPort;
        mark.PortA = run.PortA;
        mark.PortB = run.PortB;
        mark.DataFile = run.DataFile;
        mark.RecipeFile = run.RecipeFile;
    }
    mark.Path = run.NoteFile;
    mark.Cause = cause;
    mark.Account = account;
    WriteUnendedRun(mark);
}

}  // namespace moirex
