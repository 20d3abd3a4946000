#pragma once
// A SEC node over TCP (SECoP 1.0): a listening socket and its clients served by one thread of
// their own, so that no client can ever hold up the thread that owns the mixer.
//
// The owning thread (the window's or moirexctl serve's main thread) tells the node what its
// parameters hold (Publish) and executes the requests that change something (TakeRequests, then
// Reply). Everything else — identification, describe, activate and the updates, read, ping, and
// every error reply about the message itself — is answered here from the published values,
// without the owner.
//
// Limits that keep a client from breaking the node: a bounded number of clients (others are
// closed at once), a bounded line (a longer one is refused and skipped), a bounded output queue
// per client (a client that reads nothing is dropped), and one request per client waiting for the
// owner: its further lines wait (in the kernel once the line buffer is full) until that one is
// answered, so every client gets its replies in the order of its requests.

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include <nlohmann/json.hpp>

#include "remote/SecopMessage.h"

namespace moirex::secop {

// Where the node listens: a host (numeric IPv4 or IPv6 address, or a name) and a TCP port.
struct TAddress {
    std::string Host = "127.0.0.1";
    uint16_t Port = 10767;
    std::string Text() const;
};

// "HOST:PORT", "[IPv6]:PORT", or ":PORT" and "PORT" for the loopback address. Port 0 asks the
// system for a free port (tests). False with a reason in `error` when the text is none of these.
bool ParseAddress(std::string_view text, TAddress& address, std::string& error);

// Seconds since 1970-01-01 00:00 UTC: the time stamps of SECoP's data reports.
double UnixTimeNow();

struct TNodeLimits {
    size_t MaxClients = 32;
    size_t MaxLineBytes = 65536;
    size_t MaxQueuedBytes = 4u << 20;  // per client
};

// A change or do request for the owner; the node has checked that its module and accessible
// exist and may be changed (change) or called (do).
struct TRequest {
    uint64_t Client = 0;
    TMessage Message;
};

class TNode {
public:
    // description: the structure report of describe. Its modules and their accessibles tell what
    // exists, which parameters are read-only and which accessibles are commands.
    explicit TNode(nlohmann::json description, TNodeLimits limits = {});
    ~TNode();
    TNode(const TNode&) = delete;
    TNode& operator=(const TNode&) = delete;

    // Binds and listens, then serves on the node's own thread. False with the reason when the
    // address cannot be bound.
    bool Start(const TAddress& address, std::string& error);
    // Closes every connection and the listening socket; the thread has ended when it returns.
    void Stop();
    bool Running() const { return thread_.joinable(); }
    // The port listened on (the system's choice for port 0).
    uint16_t Port() const { return port_; }

    // ---- The owner's side (any one thread; never blocks on a client) ----
    // The parameter holds `value` since `t`. An update goes to every client that has activated
    // the module when the value differs from the one published before, or always when `always`
    // (a new reading of the same value).
    void Publish(const std::string& module, const std::string& parameter, const nlohmann::json& value, double t,
                 bool always = false);
    // The change and do requests received since the last call, oldest first.
    std::vector<TRequest> TakeRequests();
    // Sends the reply (a whole message with its line feed) to a request taken from TakeRequests.
    // A client that has gone meanwhile is ignored.
    void Reply(uint64_t client, const std::string& message);
    // Called on the node's thread each time a request was queued (to wake the owner's loop).
    // Set before Start.
    std::function<void()> OnRequest;

    size_t ClientCount() const;

private:
    struct TClient {
        int Fd = -1;
        std::string In;
        std::string Out;
        bool Discarding = false;   // skipping the rest of an over-long line
        bool AllActive = false;
        std::set<std::string> ActiveModules;
        bool Pending = false;      // a request waits for the owner's reply
        bool Eof = false;          // it sends no more; closed once its replies are out
        bool Dead = false;         // to be closed by the node's thread
    };

    void Serve();
    void Wake();
    void AcceptAll();
    // Works through the client's complete lines until one waits for the owner.
    void HandleInput(uint64_t id, TClient& c);
    void HandleLine(uint64_t id, TClient& c, std::string_view line);
    void Activate(TClient& c, const TMessage& m);
    void Queue(TClient& c, const std::string& message);
    void CloseClient(uint64_t id);
    void ReapHungUp();
    bool HasModule(const std::string& module) const;
    const nlohmann::json* Accessible(const std::string& module, const std::string& name) const;

    nlohmann::json description_;
    std::string describing_;  // the whole describing message
    // Module and parameter names in the description's order, for the initial updates.
    std::vector<std::pair<std::string, std::vector<std::string>>> parameters_;
    TNodeLimits limits_;

    mutable std::mutex mutex_;  // guards everything below except the descriptors of the thread
    std::map<std::string, nlohmann::json> values_;  // "module:parameter" → data report
    std::map<uint64_t, TClient> clients_;
    std::vector<TRequest> requests_;
    uint64_t nextClient_ = 1;

    int listenFd_ = -1;
    int wakeFd_ = -1;
    uint16_t port_ = 0;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

}  // namespace moirex::secop
