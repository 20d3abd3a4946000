#pragma once
// Pseudo-terminal devices for the transport and driver tests: a pair whose slave side is the
// port under test, a scripted peer on the master side that answers each request frame as a test
// says, and a bridge joining two pairs so that two programs that both open a device path (the
// driver and a libmodbus slave) can talk.

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace moirex::testing {

using Bytes = std::vector<uint8_t>;

inline Bytes ToBytes(std::string_view text) { return Bytes(text.begin(), text.end()); }

class PtyPair {
public:
    PtyPair() {
        char name[128] = {};
        if (::openpty(&master_, &slave_, name, nullptr, nullptr) != 0) throw std::runtime_error("openpty failed");
        termios tio;
        ::tcgetattr(slave_, &tio);
        ::cfmakeraw(&tio);
        ::tcsetattr(slave_, TCSANOW, &tio);
        ::fcntl(master_, F_SETFL, ::fcntl(master_, F_GETFL) | O_NONBLOCK);
        path_ = name;
    }
    ~PtyPair() {
        CloseMaster();
        if (slave_ >= 0) ::close(slave_);
    }
    PtyPair(const PtyPair&) = delete;
    PtyPair& operator=(const PtyPair&) = delete;

    // The device the code under test opens. The pair keeps one descriptor of it open (without
    // the lock) so that the line stays up between exchanges.
    const std::string& Path() const { return path_; }
    int Master() const { return master_; }
    void CloseMaster() {
        if (master_ >= 0) ::close(master_);
        master_ = -1;
    }

private:
    int master_ = -1;
    int slave_ = -1;
    std::string path_;
};

// Reads one frame from fd: the bytes up to a gap of gapMs after the last one. Empty when nothing
// came within waitMs.
inline Bytes ReadFrame(int fd, int waitMs, int gapMs = 5) {
    Bytes frame;
    int wait = waitMs;
    for (;;) {
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, wait) <= 0) break;
        uint8_t buf[512];
        ssize_t n = ::read(fd, buf, sizeof buf);
        if (n <= 0) break;
        frame.insert(frame.end(), buf, buf + n);
        wait = gapMs;
    }
    return frame;
}

inline void WriteAllBytes(int fd, const Bytes& bytes) {
    size_t done = 0;
    while (done < bytes.size()) {
        ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n > 0) {
            done += static_cast<size_t>(n);
        } else {
            pollfd p{fd, POLLOUT, 0};
            ::poll(&p, 1, 10);
        }
    }
}

// Answers each request frame with what Reply returns (nothing: silence), after DelayMs.
class ScriptedPeer {
public:
    using Reply = std::function<Bytes(const Bytes& request)>;

    explicit ScriptedPeer(Reply reply = {}) : reply_(std::move(reply)) {
        thread_ = std::thread([this] { Run(); });
    }
    ~ScriptedPeer() {
        stop_ = true;
        thread_.join();
    }
    ScriptedPeer(const ScriptedPeer&) = delete;
    ScriptedPeer& operator=(const ScriptedPeer&) = delete;

    const std::string& Path() const { return pty_.Path(); }
    void SetReply(Reply reply) {
        std::lock_guard lock(mutex_);
        reply_ = std::move(reply);
    }
    std::vector<Bytes> Requests() const {
        std::lock_guard lock(mutex_);
        return requests_;
    }
    std::atomic<int> DelayMs{0};

private:
    void Run() {
        while (!stop_) {
            Bytes request = ReadFrame(pty_.Master(), 20);
            if (request.empty()) continue;
            Reply reply;
            {
                std::lock_guard lock(mutex_);
                requests_.push_back(request);
                reply = reply_;
            }
            if (!reply) continue;
            Bytes answer = reply(request);
            if (DelayMs > 0) std::this_thread::sleep_for(std::chrono::milliseconds(DelayMs.load()));
            if (!answer.empty()) WriteAllBytes(pty_.Master(), answer);
        }
    }

    PtyPair pty_;
    mutable std::mutex mutex_;
    Reply reply_;
    std::vector<Bytes> requests_;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

// Two pairs whose master sides are joined: bytes written to one device arrive on the other.
class PtyBridge {
public:
    PtyBridge() {
        thread_ = std::thread([this] { Run(); });
    }
    ~PtyBridge() {
        stop_ = true;
        thread_.join();
    }
    PtyBridge(const PtyBridge&) = delete;
    PtyBridge& operator=(const PtyBridge&) = delete;

    const std::string& PathA() const { return a_.Path(); }
    const std::string& PathB() const { return b_.Path(); }

private:
    void Run() {
        while (!stop_) {
            pollfd p[2] = {{a_.Master(), POLLIN, 0}, {b_.Master(), POLLIN, 0}};
            if (::poll(p, 2, 20) <= 0) continue;
            Pump(p[0], b_.Master());
            Pump(p[1], a_.Master());
        }
    }
    static void Pump(const pollfd& from, int to) {
        if (!(from.revents & POLLIN)) return;
        uint8_t buf[512];
        ssize_t n = ::read(from.fd, buf, sizeof buf);
        if (n > 0) WriteAllBytes(to, Bytes(buf, buf + n));
    }

    PtyPair a_, b_;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

}  // namespace moirex::testing
