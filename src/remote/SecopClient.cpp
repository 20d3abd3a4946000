#include "remote/SecopClient.h"

#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>

namespace moirex::secop {

TClient::TClient(const TAddress& a) {
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    if (const int rc = getaddrinfo(a.Host.c_str(), std::to_string(a.Port).c_str(), &hints, &found); rc != 0) {
        error_ = a.Text() + ": " + gai_strerror(rc);
        return;
    }
    for (addrinfo* i = found; i && fd_ < 0; i = i->ai_next) {
        fd_ = socket(i->ai_family, i->ai_socktype | SOCK_CLOEXEC, i->ai_protocol);
        if (fd_ < 0) {
            error_ = a.Text() + ": " + std::strerror(errno);
        } else if (connect(fd_, i->ai_addr, i->ai_addrlen) != 0) {
            error_ = a.Text() + ": " + std::strerror(errno);
            close(fd_);
            fd_ = -1;
        }
    }
    freeaddrinfo(found);
    if (fd_ >= 0) error_.clear();
}

TClient::TClient(uint16_t port) : TClient(TAddress{"127.0.0.1", port}) {}

TClient::~TClient() { Close(); }

void TClient::Close() {
    if (fd_ >= 0) close(fd_);
    fd_ = -1;
}

bool TClient::SendRaw(const std::string& bytes) {
    if (fd_ < 0) return false;
    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = send(fd_, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            error_ = "the node closed the connection";
            return false;
        }
        done += static_cast<size_t>(n);
    }
    return true;
}

std::optional<std::string> TClient::ReadLine(double seconds) {
    using namespace std::chrono;
    const auto deadline = steady_clock::now() + duration_cast<steady_clock::duration>(duration<double>(seconds));
    while (true) {
        if (const size_t end = buffer_.find('\n'); end != std::string::npos) {
            std::string line = buffer_.substr(0, end);
            buffer_.erase(0, end + 1);
            if (!line.empty() && line.back() == '\r') line.pop_back();
            return line;
        }
        if (fd_ < 0) return std::nullopt;
        if (Interrupted && Interrupted()) return std::nullopt;
        // Polls at least once, also when the time is up already (a line that waits is taken).
        int wait = Interrupted ? 200 : -1;
        if (seconds >= 0) {
            const auto left = std::max<int64_t>(0, duration_cast<milliseconds>(deadline - steady_clock::now()).count());
            wait = static_cast<int>(wait < 0 ? left : std::min<int64_t>(left, wait));
        }
        pollfd p{fd_, POLLIN, 0};
        if (poll(&p, 1, wait) <= 0) {
            if (seconds >= 0 && steady_clock::now() >= deadline) return std::nullopt;
            continue;
        }
        char chunk[65536];
        const ssize_t n = recv(fd_, chunk, sizeof chunk, 0);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            closedByNode_ = true;
            error_ = "the node closed the connection";
            Close();
            return std::nullopt;
        }
        buffer_.append(chunk, static_cast<size_t>(n));
        if (buffer_.size() > MaxLineBytes && buffer_.find('\n') == std::string::npos) {
            error_ = "the node sent a line of more than " + std::to_string(MaxLineBytes) + " bytes";
            buffer_.clear();
            Close();
            return std::nullopt;
        }
    }
}

std::optional<std::string> TClient::ReadUntil(const std::function<bool(const std::string&)>& match, double seconds) {
    using namespace std::chrono;
    const auto deadline = steady_clock::now() + duration_cast<steady_clock::duration>(duration<double>(seconds));
    while (true) {
        double left = -1;
        if (seconds >= 0) {
            left = duration<double>(deadline - steady_clock::now()).count();
            if (left <= 0) return std::nullopt;
        }
        auto line = ReadLine(left);
        if (!line) return std::nullopt;
        if (match(*line)) return line;
    }
}

std::optional<std::string> TClient::Ask(const std::string& line, double seconds) {
    if (!Send(line)) return std::nullopt;
    return ReadLine(seconds);
}

}  // namespace moirex::secop
