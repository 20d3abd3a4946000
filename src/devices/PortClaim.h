#pragma once
// One master per mixer. A process that drives the mixer (the window from a successful Validate
// until it closes or its ports change, moirexctl setup and run, every moirexctl command that
// talks to an instrument, moirexctl serve, the guardian) claims the mixer's ports first. The
// claim is, per device:
//   - a lock on a lock file in a folder shared by every user of the machine (lab instruments
//     are shared across accounts), named for the device's key (PortKey.h), so that two names of
//     one device are one claim; the file holds who claimed it, since when, and the run's state;
//   - the port itself, held open and exclusive by its line owner (SerialLine.h).
// Both are kernel objects tied to the process: when it ends, even by kill -9, the claim is gone.
// Any other process that tries a claimed port is refused at once, touching nothing, with a text
// that names the holder: "/dev/serial/by-id/... is in use by moirexctl run (PID 4711) since
// 14:02:11".
//
// The lock is an open-file-description lock (fcntl F_OFD_SETLK): like flock it is released
// when the last descriptor of it closes and is inherited by a child process, and besides it can
// be tested without being taken (F_OFD_GETLK), so that moirexctl status never gets in the way of
// a claim.
//
//     TMixerClaim claim("moirexctl run");
//     if (std::string refused = claim.Claim({pumpPort, mfcAPort, mfcBPort}); !refused.empty())
//         return Fail(refused);
//     ...  // every exchange on these ports now goes through their line owners

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "devices/PortKey.h"
#include "support/DateTime.h"

namespace moirex {

class TSerialLine;

// What a claim says about its holder.
struct TClaimRecord {
    std::string Port;        // the name the holder claimed the port by
    std::string Key;         // TPortKey::Text() of the device
    std::string Holder;      // "moirexctl run", "Moirex window", "moirex-guard" ...
    int64_t Pid = 0;
    std::string User;        // login name of the holder
    TDateTime Since = 0;     // when it was claimed
    std::string RunState;    // empty outside a run
    bool Alive = false;      // the lock is held now; false: a record left by an ended holder
};

// "<port> is in use by <holder> (PID <pid>) since hh:nn:ss" (with the date when not today).
std::string ClaimRefusalText(const std::string& port, const TClaimRecord& holder);

class TMixerClaim {
public:
    explicit TMixerClaim(std::string holderName);
    ~TMixerClaim();
    TMixerClaim(const TMixerClaim&) = delete;
    TMixerClaim& operator=(const TMixerClaim&) = delete;

    // Claims every port, all or none: first the lock of every device, then every port opened by
    // its line owner. Empty on success; otherwise the refusal (the holder's text, or why a port
    // is held by another program) and nothing of this call is kept, nothing was sent. Ports this
    // object holds already stay held; empty names are skipped; two names of one device count
    // once. A name that leads to no device is not claimed (its exchanges fail as on any missing
    // port).
    std::string Claim(const std::vector<std::string>& ports);
    // Holds exactly `ports`: releases the others, claims the new ones (the port selection
    // changed). On a refusal the claim is as it was.
    std::string ClaimOnly(const std::vector<std::string>& ports);
    // Every port closed and every lock given up.
    void Release();

    bool Holds(const std::string& port) const;  // by device
    std::vector<std::string> Ports() const;
    const std::string& HolderName() const { return holder_; }
    void SetHolderName(std::string name) { holder_ = std::move(name); }
    // The line owner of a claimed port, or nullptr.
    std::shared_ptr<TSerialLine> Line(const std::string& port) const;

    // Written beside the claim for moirexctl status; empty outside a run.
    void SetRunState(const std::string& state);

    // ---- Handing the claim to a child process (the guardian) ----
    // Makes the lock and port descriptors inheritable (close-on-exec off) and returns the text
    // that names them, to be given to the child (argument or environment): the kernel keeps the
    // locks and ports for as long as any process holds them, so the claim outlives this process
    // in the child. Call it just before the fork.
    std::string InheritText();
    // In the child: the claim over the inherited descriptors, each checked (a lock file of the
    // claim folder, the port it names leading to the same device). nullptr with `error` set when
    // the text does not describe inherited descriptors. The records still name the parent.
    static std::unique_ptr<TMixerClaim> Adopt(const std::string& inheritText, std::string holderName,
                                              std::string& error);
    // Rewrites the records in this process's name, PID and time (the child takes over once the
    // parent is gone).
    void TakeOver();

private:
    struct TPortClaim;
    std::string ClaimDevice(const std::string& port, const TPortKey& key, TPortClaim& out);
    void WriteRecord(TPortClaim& claim);

    std::string holder_;
    TDateTime since_ = 0;
    std::string runState_;
    std::vector<std::unique_ptr<TPortClaim>> claims_;
};

// The claim of this process's mixer (a process masters one mixer): the window's Validate, the
// moirexctl commands. Lives until the process ends.
TMixerClaim& ProcessMixerClaim();
// The name this process is known by in its claims: "moirexctl run", "Moirex window" ... Set it
// before the first claim; by default the program's name ("Moirex window" for moirex).
void SetProcessHolderName(std::string name);
std::string ProcessHolderName();

// The holder of one port (Alive tells whether the claim stands); nullopt when no claim was ever
// recorded for the device the name leads to.
std::optional<TClaimRecord> ClaimOf(const std::string& port);
// Every standing claim of the machine, sorted by port name.
std::vector<TClaimRecord> CurrentClaims();
// The folder of the lock files: $MOIREX_CLAIM_FOLDER when set, else /run/lock/moirex (made
// world-writable and sticky, like /run/lock itself), else /tmp/moirex-claims.
std::string ClaimFolder();

}  // namespace moirex
