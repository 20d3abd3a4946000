#include "devices/SerialPort.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <thread>
#include <vector>

#include "support/DateTime.h"
#include "support/Log.h"

namespace moirex {

namespace {

using SteadyTime = std::chrono::steady_clock;

// Read time-outs of the exchanges: a read ends this long after the last byte that arrived, when
// the requested count is reached, or after the constant plus the multiplier per requested byte.
constexpr int kReadIntervalTimeoutMs = 20;
constexpr int kReadTotalTimeoutMultiplierMs = 10;
constexpr int kReadTotalTimeoutConstantMs = 200;
constexpr int kWriteTotalTimeoutMultiplierMs = 10;
constexpr int kWriteTotalTimeoutConstantMs = 1000;

constexpr size_t kTextReadCount = 80;
constexpr size_t kByteReadCount = 256;

void LogOsFailure(const std::string& what, const std::string& port, int error) {
    SerialPortLogger().Send(what + " " + port + ": " + std::strerror(error));
}

// An open port; closed on every path out of an exchange. The exclusive-use marks are taken off
// before the close so that the next opener finds the line free.
class TPortHandle {
public:
    TPortHandle() = default;
    ~TPortHandle() { Close(); }
    TPortHandle(const TPortHandle&) = delete;
    TPortHandle& operator=(const TPortHandle&) = delete;

    // Opens the device for reading and writing without sharing it. False when the device does
    // not exist, cannot be opened, or another opener (this process or another) holds it.
    bool Open(const std::string& path) {
        fd_ = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        if (fd_ < 0) {
            LogOsFailure("Cannot open", path, errno);
            return false;
        }
        if (!::isatty(fd_)) {
            SerialPortLogger().Send("Cannot open " + path + ": not a serial device");
            Close();
            return false;
        }
        // The advisory lock is what stops a second opener, root included; TIOCEXCL keeps out
        // unprivileged programs that do not take the lock.
        if (::flock(fd_, LOCK_EX | LOCK_NB) != 0) {
            LogOsFailure("Cannot lock", path, errno);
            Close();
            return false;
        }
        locked_ = true;
        if (::ioctl(fd_, TIOCEXCL) == 0) exclusive_ = true;
        return true;
    }

    void Close() {
        if (fd_ < 0) return;
        if (exclusive_) ::ioctl(fd_, TIOCNXCL);
        if (locked_) ::flock(fd_, LOCK_UN);
        ::close(fd_);
        fd_ = -1;
        locked_ = exclusive_ = false;
    }

    int Fd() const { return fd_; }

private:
    int fd_ = -1;
    bool locked_ = false;
    bool exclusive_ = false;
};

int RemainingMs(SteadyTime::time_point deadline) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - SteadyTime::now()).count();
    return left < 0 ? 0 : static_cast<int>(left);
}

// Writes every byte within the write time-out. False on a failure or when the time-out passed.
bool WriteAll(int fd, const uint8_t* data, size_t size, const std::string& port) {
    const auto deadline = SteadyTime::now() + std::chrono::milliseconds(
                                                  kWriteTotalTimeoutConstantMs +
                                                  kWriteTotalTimeoutMultiplierMs * static_cast<int64_t>(size));
    size_t done = 0;
    while (done < size) {
        ssize_t n = ::write(fd, data + done, size - done);
        if (n > 0) {
            done += static_cast<size_t>(n);
            continue;
        }
        if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) {
            LogOsFailure("Cannot write to", port, errno);
            return false;
        }
        int left = RemainingMs(deadline);
        if (left == 0) {
            SerialPortLogger().Send("Write time-out on " + port);
            return false;
        }
        pollfd p{fd, POLLOUT, 0};
        if (::poll(&p, 1, left) < 0 && errno != EINTR) {
            LogOsFailure("Cannot write to", port, errno);
            return false;
        }
    }
    return true;
}

// One read of up to `count` bytes with the read time-outs. An empty result is no failure.
bool ReadWithTimeouts(int fd, size_t count, const TAnswerLength& answerLength, std::vector<uint8_t>& out,
                      const std::string& port) {
    out.clear();
    const auto deadline = SteadyTime::now() + std::chrono::milliseconds(
                                                  kReadTotalTimeoutConstantMs +
                                                  kReadTotalTimeoutMultiplierMs * static_cast<int64_t>(count));
    uint8_t buffer[kByteReadCount];
    while (out.size() < count) {
        // Never read past the end of a frame whose length is known; while it is not known yet,
        // read a byte at a time so that the next frame's bytes stay where they are.
        size_t limit = count;
        if (answerLength) {
            size_t wanted = answerLength(std::span<const uint8_t>(out.data(), out.size()));
            if (wanted > 0 && out.size() >= wanted) break;
            limit = wanted > 0 ? std::min(wanted, count) : out.size() + 1;
        }
        int wait = RemainingMs(deadline);
        if (!out.empty()) wait = std::min(wait, kReadIntervalTimeoutMs);
        if (wait == 0) break;
        pollfd p{fd, POLLIN, 0};
        int ready = ::poll(&p, 1, wait);
        if (ready < 0) {
            if (errno == EINTR) continue;
            LogOsFailure("Cannot read from", port, errno);
            return !out.empty();
        }
        if (ready == 0) break;  // the gap after the last byte, or the total time-out
        size_t room = std::min(limit - out.size(), sizeof buffer);
        ssize_t n = ::read(fd, buffer, room);
        if (n > 0) {
            out.insert(out.end(), buffer, buffer + n);
        } else if (n == 0 || (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)) {
            // A vanished device (an unplugged adapter, a closed emulator) reads as an error;
            // bytes it sent before it went are still the answer.
            LogOsFailure("Cannot read from", port, n == 0 ? EIO : errno);
            return !out.empty();
        }
    }
    return true;
}

bool BytesWaiting(int fd, int& count) {
    count = 0;
    return ::ioctl(fd, FIONREAD, &count) == 0;
}

void SleepMs(uint32_t ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

// Leading and trailing characters at or below the blank removed: the carriage return, line feed
// and end-of-text that end a pump answer, and any control characters before it.
std::string TrimControl(std::string_view text) {
    size_t begin = 0, end = text.size();
    while (begin < end && static_cast<unsigned char>(text[begin]) <= ' ') ++begin;
    while (end > begin && static_cast<unsigned char>(text[end - 1]) <= ' ') --end;
    return std::string(text.substr(begin, end - begin));
}

// The answer of a text exchange as text: bytes below 0x80 as they are, the others read in the
// Latin-1 code page, so that the text is always valid UTF-8.
std::string BytesAsText(const std::vector<uint8_t>& bytes) {
    std::string text;
    text.reserve(bytes.size());
    for (uint8_t b : bytes) {
        if (b < 0x80) {
            text.push_back(static_cast<char>(b));
        } else {
            text.push_back(static_cast<char>(0xC0 | (b >> 6)));
            text.push_back(static_cast<char>(0x80 | (b & 0x3F)));
        }
    }
    return text;
}

bool BaudConstant(int32_t baud, speed_t& speed) {
    struct Entry {
        int32_t baud;
        speed_t speed;
    };
    static constexpr Entry table[] = {
        {300, B300},     {600, B600},     {1200, B1200},     {2400, B2400},     {4800, B4800},
        {9600, B9600},   {19200, B19200}, {38400, B38400},   {57600, B57600},   {115200, B115200},
        {230400, B230400}, {460800, B460800}, {921600, B921600},
    };
    for (const auto& e : table) {
        if (e.baud == baud) {
            speed = e.speed;
            return true;
        }
    }
    return false;
}

}  // namespace

TSerialPort::TSerialPort(void* /*owner*/) {}

std::string TSerialPort::DevicePath(const std::string& name) {
    if (name.empty() || name.find('/') != std::string::npos) return name;
    return "/dev/" + name;
}

void TSerialPort::Trace(int point) {
    if (!fDebug) return;
    fDebugMSG += "Time  " + std::to_string(point) + ": " + FormatDateTime("hh:nn:ss.zzz", Now()) + "\r\n";
}

bool TSerialPort::SetDCBState(int ComDevice) {
    if (ComDevice < 0) return false;
    speed_t speed;
    if (!BaudConstant(fBaudRate, speed)) {
        SerialPortLogger().Send("Baud rate not supported: " + std::to_string(fBaudRate));
        return false;
    }
    // Built from zeros: whatever the port was set to before does not matter.
    termios tio;
    std::memset(&tio, 0, sizeof tio);
    tio.c_cflag = CS8 | CREAD | CLOCAL | HUPCL;  // HUPCL: DTR drops again when the port closes
    switch (fStopBits) {
        case 0: break;
        case 1:  // one and a half: the nearest the line offers with 8 data bits is two
        case 2: tio.c_cflag |= CSTOPB; break;
        default: return false;
    }
    switch (fParity) {
        case 0: break;
        case 1: tio.c_cflag |= PARENB | PARODD; break;
        case 2: tio.c_cflag |= PARENB; break;
        case 3: tio.c_cflag |= PARENB | PARODD | CMSPAR; break;
        case 4: tio.c_cflag |= PARENB | CMSPAR; break;
        default: return false;
    }
    tio.c_iflag = IGNBRK;  // no parity check, no XON/XOFF, no character translation
    tio.c_oflag = 0;
    tio.c_lflag = 0;
    tio.c_cc[VSTART] = 0x11;
    tio.c_cc[VSTOP] = 0x13;
    tio.c_cc[VMIN] = 0;
    tio.c_cc[VTIME] = 0;
    if (::cfsetispeed(&tio, speed) != 0 || ::cfsetospeed(&tio, speed) != 0 ||
        ::tcsetattr(ComDevice, TCSANOW, &tio) != 0) {
        LogOsFailure("Line settings refused by", fPort, errno);
        return false;
    }
    // DTR and RTS raised while the port is open. A pseudo-terminal has no modem lines; that is
    // no refusal.
    int lines = TIOCM_DTR | TIOCM_RTS;
    if (::ioctl(ComDevice, TIOCMBIS, &lines) != 0 && errno != ENOTTY && errno != EINVAL) {
        LogOsFailure("Modem lines refused by", fPort, errno);
        return false;
    }
    return true;
}

bool TSerialPort::SetTimeOuts(int ComDevice) {
    if (ComDevice < 0) return false;
    // The read time-outs are kept by the reads themselves (poll); the driver is told to hand
    // back whatever has arrived at once.
    termios tio;
    if (::tcgetattr(ComDevice, &tio) != 0) {
        LogOsFailure("Time-outs refused by", fPort, errno);
        return false;
    }
    tio.c_cc[VMIN] = 0;
    tio.c_cc[VTIME] = 0;
    if (::tcsetattr(ComDevice, TCSANOW, &tio) != 0) {
        LogOsFailure("Time-outs refused by", fPort, errno);
        return false;
    }
    return true;
}

bool TSerialPort::SetBuffers(int ComDevice) {
    if (ComDevice < 0) return false;
    // The kernel's queues are at least 4096 bytes and cannot be sized. What the input queue still
    // holds from before the open (a late answer to an earlier exchange) is discarded, as a port
    // that was closed would never have received it. The output queue is left alone: it may still
    // carry the previous exchange's command (a pump command sent without waiting for its answer),
    // which must reach the instrument.
    if (::tcflush(ComDevice, TCIFLUSH) != 0) {
        LogOsFailure("Buffers refused by", fPort, errno);
        return false;
    }
    return true;
}

TSerialResponse TSerialPort::Send2(const std::string& message, bool WaitForResponse) {
    TSerialResponse r;
    r.Init();
    const auto start = SteadyTime::now();
    r.SentMessage = message;

    TPortHandle port;
    const std::string path = DevicePath(fPort);
    if (!port.Open(path) || !SetDCBState(port.Fd())) {
        r.Status = kStatusPortInUse;
        return r;
    }
    if (!SetTimeOuts(port.Fd())) {
        r.Status = kStatusTimeoutsRefused;
        return r;
    }
    if (!SetBuffers(port.Fd())) {
        r.Status = kStatusBuffersRefused;
        return r;
    }
    TCodeSiteLogger& log = SerialPortLogger();
    log.Send("PortName: " + fPort);

    const auto* bytes = reinterpret_cast<const uint8_t*>(message.data());
    if (!WriteAll(port.Fd(), bytes, message.size(), path)) {
        r.Status = kStatusWriteFailed;
        return r;
    }
    r.SentMessage = message;
    log.Send("Bytes written: " + std::to_string(message.size()));
    log.Send("As string: " + TrimControl(message));
    std::string ordinals;
    for (uint8_t b : std::string_view(message)) ordinals += std::to_string(b) + " ";
    log.Send("As ordinals: " + ordinals);

    if (!WaitForResponse) {
        log.Send(kStatusNoReplyWanted);
        r.Status = kStatusNoReplyWanted;
        r.Response.clear();
        return r;
    }

    const auto deadline = SteadyTime::now() + std::chrono::milliseconds(fReadoutTimeoutMS);
    bool found = false;
    do {
        log.Send("Waiting for data or timeout");
        int waiting = 0;
        found = BytesWaiting(port.Fd(), waiting) && waiting > 0;
        SleepMs(fWindowsReadLoopTimeoutMS);
        if (SteadyTime::now() > deadline) {
            log.Send("Timeout");
            break;
        }
    } while (!found);

    if (!found) {
        r.Response.clear();
        r.Status = kStatusTextTimeout;
        log.Send(r.Status);
        return r;
    }
    std::vector<uint8_t> answer;
    if (!ReadWithTimeouts(port.Fd(), kTextReadCount, {}, answer, path)) {
        r.Status = kStatusReadFailed;
        log.Send(r.Status);
        return r;
    }
    r.Response = TrimControl(BytesAsText(answer));
    log.Send("Data read: " + r.Response);
    const double elapsedDays =
        std::chrono::duration<double>(SteadyTime::now() - start).count() / 86400.0;
    log.Send("Duration:" + FormatDateTime("ss:zzz", elapsedDays));
    return r;
}

TSerialResponse TSerialPort::SendData(const uint8_t* Data, uint32_t dataSize, bool WaitForResponse,
                                      const TAnswerLength& answerLength) {
    TSerialResponse r;
    r.Init();
    fDebugMSG.clear();
    Trace(1);
    r.Status = kStatusUnknownProblem;
    r.ResponseLength = 0;

    TPortHandle port;
    const std::string path = DevicePath(fPort);
    if (!port.Open(path)) {
        r.Status = kStatusPortInUse;
        return r;
    }
    Trace(2);
    if (!SetDCBState(port.Fd())) {
        r.Status = kStatusPortInUse;
        return r;
    }
    Trace(3);
    if (!SetTimeOuts(port.Fd())) {
        r.Status = kStatusTimeoutsRefused;
        return r;
    }
    Trace(4);
    if (!SetBuffers(port.Fd())) {
        r.Status = kStatusBuffersRefused;
        return r;
    }
    Trace(5);
    if (Data == nullptr && dataSize > 0) {
        r.Status = kStatusWriteFailed;
        return r;
    }
    if (!WriteAll(port.Fd(), Data, dataSize, path)) {
        r.Status = kStatusWriteFailed;
        return r;
    }
    Trace(6);
    if (!WaitForResponse) {
        r.Response.clear();
        r.Status.clear();
        return r;
    }

    SleepMs(fWindowsReadLoopTimeoutMS);
    Trace(7);
    const auto deadline = SteadyTime::now() + std::chrono::milliseconds(fReadoutTimeoutMS);
    bool found = false;
    while (SteadyTime::now() < deadline && !found) {
        int waiting = 0;
        found = BytesWaiting(port.Fd(), waiting) && waiting > 0;
        SleepMs(fWindowsReadLoopTimeoutMS);
    }
    Trace(8);
    if (!found) {
        r.Response.clear();
        r.Status = kStatusByteTimeout;
        return r;
    }
    std::vector<uint8_t> answer;
    if (!ReadWithTimeouts(port.Fd(), kByteReadCount, answerLength, answer, path)) {
        r.Status = kStatusReadFailed;
        return r;
    }
    std::copy(answer.begin(), answer.end(), r.rArray.begin());
    r.Response.assign(answer.begin(), answer.end());
    r.Status.clear();
    // 256 bytes do not fit the 8-bit count; such an answer is never a valid frame, so the count
    // is held at 255 rather than wrapping to 0 and reading as "no answer".
    r.ResponseLength = static_cast<uint8_t>(std::min<size_t>(answer.size(), 255));
    Trace(9);
    r.ValueOfFirstWord = answer.size() >= 5 ? answer[3] * 256 + answer[4] : 0;
    r.ValueOfSecondWord = answer.size() >= 7 ? answer[5] * 256 + answer[6] : 0;
    return r;
}

}  // namespace moirex
