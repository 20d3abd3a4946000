#pragma once
// The mixer as a SEC node: modules `mixer`, `gas_a`, `gas_b`, `fluid`, `program` and `outlet`,
// their parameters published from the main thread, and the remote commands executed there by
// the handlers the window's buttons use.
//
// The owner (the window, moirexctl serve) calls Poll from its main loop on every tick: Poll runs
// the requests the node has queued and publishes what changed since the last call. The worker's
// readings are published at each hand-over, as they arrive, each with its own time stamp. Socket
// I/O never happens here: the node's own thread does it.
//
// Remote control: reading is always allowed; load and start only while AllowRemoteControl is
// set (the operator's "Allow remote control"); stop always.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include <nlohmann/json.hpp>

#include "core/RunController.h"
#include "remote/DialogCapture.h"
#include "remote/SecopNode.h"

namespace moirex {

inline constexpr const char* RemoteControlOff =
    "Remote control is not allowed: the operator allows it with \"Allow remote control\" on the Setup page.";

class TMixerNode {
public:
    // run: the run context whose handlers the commands use. capture: sees the refusals the
    // handlers show. Nothing listens until Start.
    TMixerNode(TRunContext& run, TDialogCapture& capture, secop::TNodeLimits limits = {});
    ~TMixerNode();
    TMixerNode(const TMixerNode&) = delete;
    TMixerNode& operator=(const TMixerNode&) = delete;

    // Publishes every parameter, then listens. False with the reason when the address cannot be
    // bound.
    bool Start(const secop::TAddress& address, std::string& error);
    void Stop();
    bool Running() const { return node_.Running(); }
    uint16_t Port() const { return node_.Port(); }
    size_t ClientCount() const { return node_.ClientCount(); }

    // Main thread: the queued requests, then what changed.
    void Poll();

    // The operator's "Allow remote control".
    bool AllowRemoteControl = false;
    // The refusal of load and start while it is off: it says where remote control is allowed.
    std::string RemoteControlRefusal = RemoteControlOff;
    // Called on the node's thread when a request waits for Poll (to wake the owner's loop).
    void SetOnRequest(std::function<void()> wake) { node_.OnRequest = std::move(wake); }

    // The structure report of describe.
    static nlohmann::json Description();

private:
    void Execute(const secop::TRequest& request);
    std::string Start(std::string& failureClass);
    std::string StopProgram(std::string& failureClass);
    void PublishState(bool readings);
    void PublishSlow(double t);

    TRunContext& run_;
    TDialogCapture& capture_;
    secop::TNode node_;
    std::function<void(const THandOverReadings&)> previousHandOver_;
    int pollsSinceSlow_ = 1000;
    bool readingSeenA_ = false, readingSeenB_ = false;
};

}  // namespace moirex
