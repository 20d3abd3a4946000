#pragma once
// A plain SECoP client connection: one TCP connection to a node, lines out, lines in with a
// time-out. For moirexctl remote and for checking a node from outside.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "remote/SecopNode.h"

namespace moirex::secop {

class TClient {
public:
    // Connects to the address (a name or a numeric address); Connected() and Error() tell how it went.
    explicit TClient(const TAddress& address);
    // Connects to the loopback address's `port`.
    explicit TClient(uint16_t port);
    ~TClient();
    TClient(const TClient&) = delete;
    TClient& operator=(const TClient&) = delete;

    bool Connected() const { return fd_ >= 0; }
    // Why the connection failed, or why reading ended ("the node closed the connection" ...).
    const std::string& Error() const { return error_; }
    void Close();

    // Sends the bytes as they are (add the line feed yourself for a partial line). False when the
    // connection is gone.
    bool SendRaw(const std::string& bytes);
    bool Send(const std::string& line) { return SendRaw(line + "\n"); }

    // The next line, without its CR LF or LF; none after `seconds` (below 0: no time-out), when
    // the node closed the connection (ClosedByNode) or sent a line longer than MaxLineBytes, or
    // when `Interrupted` (checked at least every 200 ms) says so.
    std::optional<std::string> ReadLine(double seconds = 5);
    // Reads lines until one satisfies `match`; that line, or none as ReadLine.
    std::optional<std::string> ReadUntil(const std::function<bool(const std::string&)>& match, double seconds = 5);
    // Send, then the next line.
    std::optional<std::string> Ask(const std::string& line, double seconds = 5);
    bool ClosedByNode() const { return closedByNode_; }

    std::function<bool()> Interrupted;
    static constexpr size_t MaxLineBytes = 64u << 20;

private:
    int fd_ = -1;
    bool closedByNode_ = false;
    std::string error_;
    std::string buffer_;
};

}  // namespace moirex::secop
