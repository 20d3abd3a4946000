#include "devices/SerialLine.h"

#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>

#include "devices/SerialPort.h"
#include "support/Log.h"

namespace moirex {

namespace {

thread_local TSerialLine* gCurrentLine = nullptr;

std::mutex gRegistryMutex;
std::vector<std::weak_ptr<TSerialLine>>& Registry() {
    static std::vector<std::weak_ptr<TSerialLine>> lines;
    return lines;
}
std::atomic<size_t> gRegistered{0};

}  // namespace

std::string IdentityRefusalText(const TLineIdentity& identity, const std::string& port, const std::string& found) {
    return identity.Name + " on " + port + " is now " + identity.Kind + " " + found + ", validated as " +
           identity.Expected + ": the run stops";
}

TSerialLine::TSerialLine(std::string port, TPortKey key, int fd) : port_(std::move(port)), key_(key) {
    if (fd >= 0) {
        fd_ = fd;
        openNow_ = true;
    } else {
        OpenPort(true);
    }
    thread_ = std::thread([this] { Loop(); });
}

TSerialLine::~TSerialLine() {
    {
        std::lock_guard lock(mutex_);
        quit_ = true;
    }
    wake_.notify_all();
    if (thread_.joinable()) thread_.join();
    ClosePort();
}

TPortKey TSerialLine::Key() const {
    std::lock_guard lock(mutex_);
    return key_;
}

std::string TSerialLine::OpenFailure() const {
    std::lock_guard lock(mutex_);
    return openFailure_;
}

void TSerialLine::Enqueue(TJob job) {
    bool refused = false;
    {
        std::lock_guard lock(mutex_);
        refused = quit_;
        if (!refused) {
            queue_.push_back(std::move(job));
            stopRequested_ = false;
        }
    }
    if (refused) {
        job(false);
        return;
    }
    wake_.notify_one();
}

void TSerialLine::DropPending() {
    std::deque<TJob> dropped;
    {
        std::lock_guard lock(mutex_);
        dropped.swap(queue_);
        stopRequested_ = true;
    }
    for (auto& job : dropped) job(false);
}

void TSerialLine::Loop() {
    for (;;) {
        TJob job;
        {
            std::unique_lock lock(mutex_);
            wake_.wait(lock, [this] { return quit_ || !queue_.empty(); });
            if (queue_.empty()) return;  // quit, nothing left
            if (quit_) {
                std::deque<TJob> dropped;
                dropped.swap(queue_);
                lock.unlock();
                for (auto& j : dropped) j(false);
                return;
            }
            job = std::move(queue_.front());
            queue_.pop_front();
        }
        gCurrentLine = this;
        CheckIdentity();
        job(true);
        gCurrentLine = nullptr;
    }
}

TSerialLine* TSerialLine::Current() { return gCurrentLine; }

bool TSerialLine::OpenPort(bool first) {
    std::string why;
    bool busy = false;
    const std::string path = TSerialPort::DevicePath(port_);
    const int fd = TSerialPort::OpenExclusive(path, why, busy);
    openBusy_ = busy;
    if (fd < 0) {
        std::lock_guard lock(mutex_);
        openFailure_ = why;
        return false;
    }
    // The port may have come back as another device (a replugged adapter with a new number, a
    // restarted emulator's new pseudo-terminal): the claim must hold that device too.
    struct stat st{};
    if (::fstat(fd, &st) == 0 && S_ISCHR(st.st_mode)) {
        TPortKey now;
        now.CharDevice = true;
        now.Rdev = static_cast<uint64_t>(st.st_rdev);
        now.Dev = static_cast<uint64_t>(st.st_dev);
        now.Ino = static_cast<uint64_t>(st.st_ino);
        TPortKey before = Key();
        if (!(now == before)) {
            const std::string refusal = OnNewDevice ? OnNewDevice(now) : std::string();
            if (!refusal.empty()) {
                TSerialPort::CloseExclusive(fd);
                std::lock_guard lock(mutex_);
                openFailure_ = refusal;
                openBusy_ = true;
                return false;
            }
            std::lock_guard lock(mutex_);
            key_ = now;
        }
    }
    fd_ = fd;
    openNow_ = true;
    {
        std::lock_guard lock(mutex_);
        openFailure_.clear();
        if (!first) identityDue_ = true;  // whatever answers now must say who it is
    }
    if (!first) {
        ++reopens_;
        SerialPortLogger().Send("Reopened " + port_);
    }
    return true;
}

void TSerialLine::ClosePort() {
    if (fd_ >= 0) TSerialPort::CloseExclusive(fd_);
    fd_ = -1;
    openNow_ = false;
}

int TSerialLine::AcquireFd() {
    // A device that hung up since the last exchange (unplugged, its emulator ended) is let go
    // and looked for again under its name at once.
    if (fd_ >= 0) {
        pollfd p{fd_, POLLIN, 0};
        if (::poll(&p, 1, 0) > 0 && (p.revents & (POLLHUP | POLLERR | POLLNVAL))) MarkVanished();
    }
    if (fd_ < 0 && OpenPort(false) && !checking_) CheckIdentity();
    return fd_;
}

void TSerialLine::MarkVanished() {
    if (fd_ < 0) return;
    SerialPortLogger().Send("Port " + port_ + " went away; it is reopened before the next exchange");
    ClosePort();
    std::lock_guard lock(mutex_);
    identityDue_ = true;
}

void TSerialLine::NoteNoAnswer() {
    std::lock_guard lock(mutex_);
    identityDue_ = true;
}

int TSerialLine::FdForInheritance() const { return fd_; }

void TSerialLine::ExpectIdentity(TLineIdentity identity) {
    std::lock_guard lock(mutex_);
    identity_ = std::move(identity);
    identityDue_ = false;
    identityRefusal_.clear();
}

void TSerialLine::ClearIdentity() {
    std::lock_guard lock(mutex_);
    identity_.reset();
    identityDue_ = false;
    identityRefusal_.clear();
}

std::string TSerialLine::IdentityRefusal() const {
    std::lock_guard lock(mutex_);
    return identityRefusal_;
}

std::string TSerialLine::ExchangeRefusal() const {
    std::lock_guard lock(mutex_);
    if (!identityRefusal_.empty()) return identityRefusal_;
    if (unverified_) return kStatusNotVerified;
    return {};
}

void TSerialLine::CheckIdentity() {
    std::optional<TLineIdentity> identity;
    {
        std::lock_guard lock(mutex_);
        unverified_ = false;
        if (!identity_ || !identityDue_ || !identityRefusal_.empty()) return;
        identity = identity_;
        identityDue_ = false;  // the question itself goes out unhindered
    }
    checking_ = true;
    const bool open = AcquireFd() >= 0;
    const std::optional<std::string> found = open && identity->Ask ? identity->Ask(port_) : std::nullopt;
    checking_ = false;
    std::lock_guard lock(mutex_);
    if (!found) {
        identityDue_ = true;
        unverified_ = true;
        return;
    }
    identityDue_ = false;  // an answer that came in the question's own exchange is no outage
    if (*found != identity->Expected) {
        identityRefusal_ = IdentityRefusalText(*identity, port_, *found);
        SerialPortLogger().Send(identityRefusal_);
        DefaultLogger().Send(identityRefusal_);
    }
}

std::shared_ptr<TSerialLine> LineOf(const std::string& port) {
    if (gRegistered.load() == 0) return nullptr;
    const auto key = PortDeviceKey(port);
    std::lock_guard lock(gRegistryMutex);
    // By device first; then by name: a port unplugged, or back as another device (a new
    // number), is still its owner's, who looks for it again under that name.
    std::shared_ptr<TSerialLine> byName;
    for (const auto& weak : Registry()) {
        auto line = weak.lock();
        if (!line) continue;
        if (key && line->Key() == *key) return line;
        if (!byName && line->Port() == port) byName = line;
    }
    return byName;
}

void RegisterLine(const std::shared_ptr<TSerialLine>& line) {
    std::lock_guard lock(gRegistryMutex);
    Registry().push_back(line);
    gRegistered = Registry().size();
}

void UnregisterLine(const TSerialLine* line) {
    std::lock_guard lock(gRegistryMutex);
    auto& r = Registry();
    r.erase(std::remove_if(r.begin(), r.end(),
                           [line](const std::weak_ptr<TSerialLine>& w) {
                               auto l = w.lock();
                               return !l || l.get() == line;
                           }),
            r.end());
    gRegistered = r.size();
}

}  // namespace moirex
