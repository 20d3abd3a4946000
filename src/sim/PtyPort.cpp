#include "sim/PtyPort.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <stdexcept>
#include <sys/inotify.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

namespace moirex::sim {

namespace {

std::string Reason(const std::string& what) {
    return what + ": " + std::strerror(errno);
}

void CloseFd(int& fd) {
    if (fd >= 0) ::close(fd);
    fd = -1;
}

}  // namespace

PtyPort::PtyPort(std::string linkPath) : link_(std::move(linkPath)) {}

PtyPort::~PtyPort() { Close(); }

void PtyPort::Open() {
    if (IsOpen()) return;
    int master = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (master < 0) throw std::runtime_error(Reason("cannot open a pseudo-terminal"));
    if (::grantpt(master) != 0 || ::unlockpt(master) != 0) {
        std::string reason = Reason("cannot unlock a pseudo-terminal");
        ::close(master);
        throw std::runtime_error(reason);
    }
    char name[128];
    if (::ptsname_r(master, name, sizeof name) != 0) {
        std::string reason = Reason("cannot name a pseudo-terminal");
        ::close(master);
        throw std::runtime_error(reason);
    }
    int slave = ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (slave < 0) {
        std::string reason = Reason(std::string("cannot open ") + name);
        ::close(master);
        throw std::runtime_error(reason);
    }
    // A raw 9600 baud line until a client sets its own mode; the mode stays with the line.
    termios t{};
    ::tcgetattr(slave, &t);
    ::cfmakeraw(&t);
    t.c_cflag |= CLOCAL | CREAD;
    ::cfsetispeed(&t, B9600);
    ::cfsetospeed(&t, B9600);
    ::tcsetattr(slave, TCSANOW, &t);

    int watch = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (watch < 0 || ::inotify_add_watch(watch, name, IN_OPEN | IN_CLOSE_WRITE | IN_CLOSE_NOWRITE) < 0) {
        std::string reason = Reason(std::string("cannot watch ") + name);
        if (watch >= 0) ::close(watch);
        ::close(slave);
        ::close(master);
        throw std::runtime_error(reason);
    }
    ::fcntl(master, F_SETFL, ::fcntl(master, F_GETFL) | O_NONBLOCK);

    ::unlink(link_.c_str());
    if (::symlink(name, link_.c_str()) != 0) {
        std::string reason = Reason("cannot make the link " + link_);
        ::close(watch);
        ::close(slave);
        ::close(master);
        throw std::runtime_error(reason);
    }
    master_ = master;
    slave_ = slave;
    watch_ = watch;
    device_ = name;
    openers_ = 0;
}

void PtyPort::Close() {
    if (!IsOpen()) return;
    char target[256];
    ssize_t n = ::readlink(link_.c_str(), target, sizeof target - 1);
    if (n > 0) {
        target[n] = '\0';
        if (device_ == target) ::unlink(link_.c_str());
    }
    CloseFd(watch_);
    CloseFd(slave_);
    CloseFd(master_);
    device_.clear();
    openers_ = 0;
}

void PtyPort::ServiceWatch() {
    if (watch_ < 0) return;
    alignas(inotify_event) char buffer[4096];
    for (;;) {
        ssize_t n = ::read(watch_, buffer, sizeof buffer);
        if (n <= 0) break;
        for (ssize_t at = 0; at < n;) {
            auto* e = reinterpret_cast<const inotify_event*>(buffer + at);
            if (e->mask & IN_OPEN) ++openers_;
            if (e->mask & (IN_CLOSE_WRITE | IN_CLOSE_NOWRITE)) {
                if (openers_ > 0) --openers_;
                if (openers_ == 0) {
                    // What the last close of a real port does: nobody holds it exclusively any
                    // more, and what nobody read is gone.
                    ::ioctl(slave_, TIOCNXCL);
                    ::tcflush(slave_, TCIFLUSH);
                }
            }
            if (e->mask & IN_Q_OVERFLOW) openers_ = 1;  // counts lost: assume someone listens
            at += static_cast<ssize_t>(sizeof(inotify_event) + e->len);
        }
    }
}

ssize_t PtyPort::WriteNow(const uint8_t* data, size_t size) {
    if (!IsOpen()) return -1;
    ServiceWatch();
    if (!ClientPresent()) {
        ::tcflush(slave_, TCIFLUSH);  // the answer falls on a closed port
        return -1;
    }
    const ssize_t n = ::write(master_, data, size);
    if (n < 0) return (errno == EAGAIN || errno == EINTR) ? 0 : -1;
    return n;
}

}  // namespace moirex::sim
