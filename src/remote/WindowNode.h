#pragma once
// The window's SEC node: the address from the configuration file (section "Remote", key "SECoP
// address"; none: no node), the check box "Allow remote control" of the Setup page, and the
// status line that says so while it is on. The window calls Poll after every tick.

#include <memory>
#include <string>

#include "core/RunController.h"
#include "remote/DialogCapture.h"
#include "remote/MixerNode.h"

namespace moirex {

inline constexpr const char* RemoteSection = "Remote";
inline constexpr const char* SecopAddressKey = "SECoP address";

// The "SECoP address" of the window's configuration file, trimmed; empty, "none" or "off": no node.
std::string SecopAddressSetting();

// "[Remote] SECoP address=VALUE is refused (allowed: ...; REASON); no SECoP node is started"
std::string SecopAddressRefusal(const std::string& value, const std::string& reason);

class TWindowNode {
public:
    // Binds the check box; the node listens only after Start.
    TWindowNode(TRunContext& run, TDialogCapture& capture);
    TWindowNode(const TWindowNode&) = delete;
    TWindowNode& operator=(const TWindowNode&) = delete;

    // Listens on `addressText` ("127.0.0.1:10767"); empty, "none" or "off": no node (true). A
    // bad value, or an address that cannot be listened on, is told in a message, in
    // MemoSetupFeedback and in the log, and the window goes on without a node (false).
    bool Start(const std::string& addressText);
    // After every tick: the clients' requests, then what changed.
    void Poll() { node_.Poll(); }
    TMixerNode& Node() { return node_; }

private:
    void ShowRemoteControl();

    TRunContext& run_;
    TMixerNode node_;
    std::string listening_;  // the address listened on, for the status line
};

}  // namespace moirex
