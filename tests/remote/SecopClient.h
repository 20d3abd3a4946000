#pragma once
// A small SECoP client for the tests: one TCP connection, lines out, lines in with a time-out.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

namespace moirex::testing_remote {

class SecopClient {
public:
    explicit SecopClient(uint16_t port) {
        fd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(port);
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        connected_ = connect(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
    }
    ~SecopClient() { Close(); }
    SecopClient(const SecopClient&) = delete;
    SecopClient& operator=(const SecopClient&) = delete;

    bool Connected() const { return connected_; }
    void Close() {
        if (fd_ >= 0) close(fd_);
        fd_ = -1;
    }
    // Sends the bytes as they are (add the line feed yourself for a partial line).
    bool SendRaw(const std::string& bytes) {
        size_t done = 0;
        while (done < bytes.size()) {
            const ssize_t n = send(fd_, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
            if (n <= 0) return false;
            done += static_cast<size_t>(n);
        }
        return true;
    }
    bool Send(const std::string& line) { return SendRaw(line + "\n"); }

    // The next line (without its line feed); none after `seconds` or when the node closed.
    std::optional<std::string> ReadLine(double seconds = 5) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
        while (true) {
            const size_t end = buffer_.find('\n');
            if (end != std::string::npos) {
                std::string line = buffer_.substr(0, end);
                buffer_.erase(0, end + 1);
                return line;
            }
            if (fd_ < 0) return std::nullopt;
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
            pollfd p{fd_, POLLIN, 0};
            if (poll(&p, 1, static_cast<int>(std::max<int64_t>(0, left.count()))) <= 0) {
                if (left.count() <= 0) return std::nullopt;
                continue;
            }
            char chunk[65536];
            const ssize_t n = recv(fd_, chunk, sizeof chunk, 0);
            if (n <= 0) {
                closedByNode_ = true;
                return std::nullopt;
            }
            buffer_.append(chunk, static_cast<size_t>(n));
        }
    }
    // Reads lines until one satisfies `match`; that line, or none after `seconds`.
    std::optional<std::string> ReadUntil(const std::function<bool(const std::string&)>& match, double seconds = 5) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
        while (true) {
            const double left = std::chrono::duration<double>(deadline - std::chrono::steady_clock::now()).count();
            if (left <= 0) return std::nullopt;
            auto line = ReadLine(left);
            if (!line) return std::nullopt;
            if (match(*line)) return line;
        }
    }
    std::optional<std::string> Ask(const std::string& line, double seconds = 5) {
        if (!Send(line)) return std::nullopt;
        return ReadLine(seconds);
    }
    bool ClosedByNode() const { return closedByNode_; }

private:
    int fd_ = -1;
    bool connected_ = false;
    bool closedByNode_ = false;
    std::string buffer_;
};

inline bool StartsWith(const std::string& s, const std::string& prefix) { return s.rfind(prefix, 0) == 0; }

}  // namespace moirex::testing_remote
