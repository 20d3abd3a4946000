#include "devices/SerialPort.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <thread>
#include <vector>

#include "devices/PortClaim.h"
#include "devices/PortKey.h"
#include "devices/SerialLine.h"
#include "devices/ExchangeGate.h"
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

// What the process knows of one line's timing, whichever thread spoke on it last.
struct TLineState {
    SteadyTime::time_point LastByte{};        // the last byte received
    SteadyTime::time_point LastRequestEnd{};  // when the last request had left on the wire
    bool Unsettled = false;                   // the last exchange ended without its answer
};

std::mutex gLinesMutex;

std::map<std::string, TLineState>& Lines() {
    static std::map<std::string, TLineState> lines;
    return lines;
}

// One line, however it is named: a link (the emulator's, /dev/serial/by-id) and its target share
// their state, since they are one device.
std::string LineKey(const std::string& path) {
    if (const auto key = PortDeviceKey(path)) return key->Text();
    return path;
}

// A line left unsettled is also noted in a file of its own, so that the next program to use the
// port (moirexctl is one process a command) waits for the late answer too. The monotonic clock
// is the same for every process of the machine; the note holds the moment of the last noise.
std::string LineNoteFolder() {
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    if (runtime != nullptr && *runtime != '\0') return std::string(runtime) + "/moirex-lines";
    return "/tmp/moirex-lines-" + std::to_string(::getuid());
}

std::string LineNotePath(const std::string& key) {
    std::string name = key;
    for (char& c : name)
        if (c == '/') c = '_';
    return LineNoteFolder() + "/" + name;
}

// The folder of the notes, made when missing; usable only when it is this user's own folder (no
// link, nobody else's), so that no other user can plant or redirect a note.
bool LineNoteFolderReady(bool make) {
    const std::string folder = LineNoteFolder();
    if (make) ::mkdir(folder.c_str(), 0700);
    struct stat st{};
    return ::lstat(folder.c_str(), &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == ::getuid() &&
           (st.st_mode & 0077) == 0;
}

void ReadLineNote(const std::string& key, TLineState& line) {
    const int fd = ::open(LineNotePath(key).c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) return;
    char text[32] = {};
    const ssize_t n = ::read(fd, text, sizeof text - 1);
    ::close(fd);
    if (n <= 0 || !LineNoteFolderReady(false)) return;
    char* end = nullptr;
    const long long ns = std::strtoll(text, &end, 10);
    if (end == text) return;
    line.Unsettled = true;
    const SteadyTime::time_point noted{std::chrono::duration_cast<SteadyTime::duration>(std::chrono::nanoseconds(ns))};
    line.LastRequestEnd = std::max(line.LastRequestEnd, noted);
}

void WriteLineNote(const std::string& key, const TLineState& line) {
    const std::string path = LineNotePath(key);
    if (!line.Unsettled) {
        if (LineNoteFolderReady(false)) ::unlink(path.c_str());
        return;
    }
    if (!LineNoteFolderReady(true)) return;  // no note: this process still knows
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0) return;
    const auto last = std::max(line.LastByte, line.LastRequestEnd);
    const std::string text =
        std::to_string(std::chrono::duration_cast<std::chrono::nanoseconds>(last.time_since_epoch()).count()) + "\n";
    const ssize_t n = ::write(fd, text.data(), text.size());
    (void)n;
    ::close(fd);
}

TLineState LoadLine(const std::string& key) {
    TLineState line;
    {
        std::lock_guard lock(gLinesMutex);
        auto it = Lines().find(key);
        if (it != Lines().end()) line = it->second;
    }
    ReadLineNote(key, line);
    return line;
}

void StoreLine(const std::string& key, const TLineState& state) {
    {
        std::lock_guard lock(gLinesMutex);
        Lines()[key] = state;
    }
    WriteLineNote(key, state);
}

SteadyTime::duration FromMs(double ms) {
    return std::chrono::duration_cast<SteadyTime::duration>(std::chrono::duration<double, std::milli>(ms));
}

enum class TPollResult { Data, Timeout, HangUp };

// Waits for input on fd until `until`, to the microsecond. HangUp: the device went away (an
// unplugged adapter, a closed emulator).
TPollResult PollUntil(int fd, SteadyTime::time_point until) {
    for (;;) {
        auto left = until - SteadyTime::now();
        if (left < SteadyTime::duration::zero()) left = SteadyTime::duration::zero();
        const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(left).count();
        timespec ts{static_cast<time_t>(ns / 1000000000), static_cast<long>(ns % 1000000000)};
        pollfd p{fd, POLLIN, 0};
        const int ready = ::ppoll(&p, 1, &ts, nullptr);
        if (ready < 0 && errno == EINTR) continue;
        if (ready < 0) return TPollResult::HangUp;
        if (ready == 0) return TPollResult::Timeout;
        if (p.revents & POLLIN) return TPollResult::Data;
        return TPollResult::HangUp;  // POLLHUP, POLLERR or POLLNVAL without data
    }
}

// Reads and drops whatever is waiting; the number of bytes dropped.
size_t Discard(int fd) {
    size_t dropped = 0;
    uint8_t buffer[256];
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n <= 0) break;
        dropped += static_cast<size_t>(n);
    }
    return dropped;
}

// An open port; closed on every path out of an exchange that opened it itself.
class TPortHandle {
public:
    TPortHandle() = default;
    ~TPortHandle() { Close(); }
    TPortHandle(const TPortHandle&) = delete;
    TPortHandle& operator=(const TPortHandle&) = delete;

    bool Open(const std::string& path) {
        std::string why;
        bool busy = false;
        fd_ = TSerialPort::OpenExclusive(path, why, busy);
        return fd_ >= 0;
    }
    void Close() {
        if (fd_ >= 0) TSerialPort::CloseExclusive(fd_);
        fd_ = -1;
    }
    int Fd() const { return fd_; }

private:
    int fd_ = -1;
};

int RemainingMs(SteadyTime::time_point deadline) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - SteadyTime::now()).count();
    return left < 0 ? 0 : static_cast<int>(left);
}

// Writes every byte within the write time-out. False on a failure or when the time-out passed;
// `vanished` when the device went away under it.
bool WriteAll(int fd, const uint8_t* data, size_t size, const std::string& port, bool& vanished) {
    vanished = false;
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
            vanished = errno == EIO || errno == ENXIO || errno == ENODEV;
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

// How a read knows that the answer is whole.
struct TAnswerEnd {
    TAnswerLength Length;   // Modbus: the length, judged from what came so far
    char EndCharacter = 0;  // text: the character that ends an answer (0: none)
    // Modbus: bytes that follow a whole answer this closely (the longest gap allowed inside a
    // frame) are the same frame, an over-long answer, and are taken with it.
    SteadyTime::duration AfterComplete{};
};

// What one read brought.
struct TReadOutcome {
    bool Complete = false;  // the answer reached its end (always false without an end rule)
    bool Vanished = false;  // the device went away under the read
    SteadyTime::time_point LastByte{};
};

bool AnswerComplete(const TAnswerEnd& end, const std::vector<uint8_t>& out) {
    if (out.empty()) return false;
    if (end.Length) {
        const size_t wanted = end.Length(std::span<const uint8_t>(out.data(), out.size()));
        return wanted > 0 && out.size() >= wanted;
    }
    if (end.EndCharacter != 0) return out.back() == static_cast<uint8_t>(end.EndCharacter);
    return false;
}

// Waits for the first byte of an answer until `firstByte`, then reads up to `count` bytes. The
// read ends as soon as the answer is whole (AfterComplete later for a Modbus frame), 20 ms after
// the last byte when it is not, or after 200 ms plus 10 ms per requested byte in all. An empty
// result is no failure (nothing came); false when the read failed before any byte came.
bool ReadAnswer(int fd, size_t count, const TAnswerEnd& end, SteadyTime::time_point firstByte,
                std::vector<uint8_t>& out, TReadOutcome& outcome, const std::string& port) {
    out.clear();
    outcome = {};
    SteadyTime::time_point total{};
    uint8_t buffer[kByteReadCount];
    while (out.size() < count) {
        SteadyTime::time_point until;
        if (out.empty()) {
            until = firstByte;
        } else if (outcome.Complete) {
            if (end.AfterComplete <= SteadyTime::duration::zero()) break;
            until = std::min(total, outcome.LastByte + end.AfterComplete);
        } else {
            until = std::min(total, outcome.LastByte + std::chrono::milliseconds(kReadIntervalTimeoutMs));
        }
        const TPollResult polled = PollUntil(fd, until);
        if (polled == TPollResult::Timeout) break;  // no answer, the gap after the last byte, or the total
        if (polled == TPollResult::HangUp) {
            outcome.Vanished = true;
            LogOsFailure("Cannot read from", port, EIO);
            return !out.empty();
        }
        const size_t room = std::min(count - out.size(), sizeof buffer);
        const ssize_t n = ::read(fd, buffer, room);
        if (n > 0) {
            if (out.empty())
                total = SteadyTime::now() + std::chrono::milliseconds(kReadTotalTimeoutConstantMs +
                                                                      kReadTotalTimeoutMultiplierMs *
                                                                          static_cast<int64_t>(count));
            out.insert(out.end(), buffer, buffer + n);
            outcome.LastByte = SteadyTime::now();
            outcome.Complete = AnswerComplete(end, out);
        } else if (n == 0 || (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)) {
            // A vanished device (an unplugged adapter, a closed emulator) reads as an error;
            // bytes it sent before it went are still the answer.
            outcome.Vanished = true;
            LogOsFailure("Cannot read from", port, n == 0 ? EIO : errno);
            return !out.empty();
        }
    }
    outcome.Complete = AnswerComplete(end, out);
    return true;
}

bool BytesWaiting(int fd, int& count) {
    count = 0;
    return ::ioctl(fd, FIONREAD, &count) == 0;
}

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

double TSerialPort::CharacterTimeMs() const {
    // Start bit, 8 data bits, the parity bit, and one or two stop bits (one and a half is sent
    // as two).
    const int bits = 1 + 8 + (fParity != 0 ? 1 : 0) + (fStopBits == 0 ? 1 : 2);
    const double baud = fBaudRate > 0 ? fBaudRate : 9600;
    return 1000.0 * bits / baud;
}

void TSerialPort::LineNeedsQuiet() const {
    const std::string key = LineKey(DevicePath(fPort));
    TLineState line = LoadLine(key);
    line.Unsettled = true;
    StoreLine(key, line);
}

int TSerialPort::OpenExclusive(const std::string& path, std::string& why, bool& busy) {
    busy = false;
    why.clear();
    const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        busy = errno == EBUSY;  // TIOCEXCL of another opener
        why = "Cannot open " + path + ": " + std::strerror(errno);
    } else if (!::isatty(fd)) {
        why = "Cannot open " + path + ": not a serial device";
    } else if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        // The advisory lock is what stops a second opener, root included; TIOCEXCL keeps out
        // unprivileged programs that do not take the lock.
        busy = errno == EWOULDBLOCK;
        why = "Cannot lock " + path + ": " + std::strerror(errno);
    } else {
        ::ioctl(fd, TIOCEXCL);
        return fd;
    }
    if (fd >= 0) ::close(fd);
    if (busy) {
        // Another master of the mixer says who it is in its claim.
        const auto holder = ClaimOf(path);
        if (holder && holder->Alive && holder->Pid != ::getpid()) why = ClaimRefusalText(path, *holder);
    }
    SerialPortLogger().Send(why);
    return -1;
}

void TSerialPort::CloseExclusive(int fd) {
    if (fd < 0) return;
    // The exclusive-use marks are taken off before the close so that the next opener finds the
    // line free.
    ::ioctl(fd, TIOCNXCL);
    ::flock(fd, LOCK_UN);
    ::close(fd);
}

bool TSerialPort::SettleLine(int fd, const std::string& key, bool& vanished) {
    vanished = false;
    TLineState line = LoadLine(key);
    const auto quiet = std::chrono::milliseconds(fQuietLineMS);
    const auto gap = FromMs(FrameGapMs());
    auto now = SteadyTime::now();
    // Bytes that came since the last exchange (or while the port was closed): something spoke
    // on the line, when is unknown.
    int waiting = 0;
    bool unsettled = line.Unsettled;
    auto lastNoise = std::max(line.LastByte, line.LastRequestEnd);
    if (BytesWaiting(fd, waiting) && waiting > 0) {
        Discard(fd);
        unsettled = true;
        lastNoise = line.LastByte = now;
    }
    // A line that keeps talking is not waited for without end.
    const auto giveUp = now + 4 * quiet + std::chrono::seconds(1);
    size_t dropped = 0;
    for (;;) {
        const auto until = unsettled ? std::max(lastNoise + quiet, line.LastByte + gap) : line.LastByte + gap;
        const TPollResult polled = PollUntil(fd, until);
        if (polled == TPollResult::Timeout) break;
        if (polled == TPollResult::HangUp) {
            vanished = true;
            return false;
        }
        dropped += Discard(fd);
        now = SteadyTime::now();
        line.LastByte = lastNoise = now;
        unsettled = true;
        if (now > giveUp) {
            line.Unsettled = true;
            StoreLine(key, line);
            SerialPortLogger().Send("Line " + fPort + " does not fall quiet; " + std::to_string(dropped) +
                                    " bytes thrown away");
            return false;
        }
    }
    if (dropped > 0)
        SerialPortLogger().Send("Late bytes thrown away before the request on " + fPort + ": " +
                                std::to_string(dropped));
    line.Unsettled = false;
    StoreLine(key, line);
    return true;
}

double TSerialPort::FrameContinuationMs() const {
    // t1.5, the longest silence allowed inside a frame (750 us above 19200 baud). It counts from
    // when this thread took the last byte, which is after it arrived.
    return std::max(1.5 * CharacterTimeMs(), fBaudRate > 19200 ? 0.75 : 0.0);
}

std::shared_ptr<TSerialLine> TSerialPort::OtherThreadsLine() const {
    auto line = LineOf(fPort);
    if (line && line.get() == TSerialLine::Current()) return nullptr;
    return line;
}

TSerialLine* TSerialPort::ThisThreadsLine() const {
    TSerialLine* current = TSerialLine::Current();
    if (current == nullptr) return nullptr;
    auto line = LineOf(fPort);
    return line.get() == current ? current : nullptr;
}

// The port one exchange runs on: the line owner's open port when this thread is the owner's
// (reopened, and the instrument asked who it is, when it was lost), else the port opened for this
// exchange alone and closed with `Own`.
struct TSerialPort::TExchangePort {
    TSerialLine* Line = nullptr;
    std::string Path;
    TPortHandle Own;
    int Fd = -1;
    std::string Key;
};

std::string TSerialPort::PrepareExchange(TExchangePort& port, bool traced) {
    port.Line = ThisThreadsLine();
    port.Path = DevicePath(fPort);
    if (port.Line) {
        port.Fd = port.Line->AcquireFd();
        port.Key = port.Line->Key().Text();
        // Another instrument behind the line, or one that has not said who it is.
        if (std::string refusal = port.Line->ExchangeRefusal(); !refusal.empty()) return refusal;
    } else if (port.Own.Open(port.Path)) {
        port.Fd = port.Own.Fd();
        port.Key = LineKey(port.Path);
    }
    if (port.Fd < 0) return kStatusPortInUse;
    if (traced) Trace(2);
    if (!SetDCBState(port.Fd)) return kStatusPortInUse;
    if (traced) Trace(3);
    if (!SetTimeOuts(port.Fd)) return kStatusTimeoutsRefused;
    if (traced) Trace(4);
    bool vanished = false;
    if (!SettleLine(port.Fd, port.Key, vanished)) {
        if (vanished && port.Line) port.Line->MarkVanished();
        return vanished ? kStatusPortInUse : kStatusLineNotQuiet;
    }
    if (!SetBuffers(port.Fd)) return kStatusBuffersRefused;
    return {};
}

TSerialResponse TSerialPort::Send2(const std::string& message, bool WaitForResponse) {
    // The line's owner runs the exchange, after what the other threads have queued.
    if (auto owner = OtherThreadsLine())
        return owner->Submit<TSerialResponse>([this, &message, WaitForResponse] {
                        return Send2(message, WaitForResponse);
                    }).Result();

    TSerialResponse r;
    r.Init();
    const auto start = SteadyTime::now();
    r.SentMessage = message;
    if (ExchangesBarred()) {
        r.Status = kStatusGuardianTookOver;
        return r;
    }

    TExchangePort port;
    if (std::string refusal = PrepareExchange(port, false); !refusal.empty()) {
        r.Status = refusal;
        return r;
    }
    const int fd = port.Fd;
    const std::string& key = port.Key;
    const std::string& path = port.Path;
    TSerialLine* line = port.Line;
    // Looked at again right before the request goes out: a process that froze while it waited
    // for a quiet line must not send it once the guardian has taken over.
    if (ExchangesBarred()) {
        r.Status = kStatusGuardianTookOver;
        return r;
    }
    TCodeSiteLogger& log = SerialPortLogger();
    log.Send("PortName: " + fPort);

    TLineState state = LoadLine(key);
    const auto writeStart = SteadyTime::now();
    const auto* bytes = reinterpret_cast<const uint8_t*>(message.data());
    bool vanished = false;
    const bool written = WriteAll(fd, bytes, message.size(), path, vanished);
    state.LastRequestEnd = writeStart + FromMs(WireTimeMs(message.size()));
    // Until its answer is read, whatever the device says next is no answer to a later request.
    state.Unsettled = true;
    StoreLine(key, state);
    if (!written) {
        if (vanished && line) line->MarkVanished();
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

    // The device cannot answer before the request has crossed the line; its answer is taken at
    // its line feed, the last of the characters that end it.
    log.Send("Waiting for data or timeout");
    const auto firstByte = state.LastRequestEnd + std::chrono::milliseconds(fReadoutTimeoutMS);
    TAnswerEnd end;
    end.EndCharacter = '\n';
    std::vector<uint8_t> answer;
    TReadOutcome outcome;
    const bool read = ReadAnswer(fd, kTextReadCount, end, firstByte, answer, outcome, path);
    if (outcome.Vanished && line) line->MarkVanished();
    if (!answer.empty()) state.LastByte = outcome.LastByte;
    state.Unsettled = !read || answer.empty();
    StoreLine(key, state);
    if (read && answer.empty()) {
        if (line) line->NoteNoAnswer();
        log.Send("Timeout");
        r.Response.clear();
        r.Status = kStatusTextTimeout;
        log.Send(r.Status);
        return r;
    }
    if (!read) {
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
    if (auto owner = OtherThreadsLine())
        return owner->Submit<TSerialResponse>([this, Data, dataSize, WaitForResponse, &answerLength] {
                        return SendData(Data, dataSize, WaitForResponse, answerLength);
                    }).Result();

    TSerialResponse r;
    r.Init();
    fDebugMSG.clear();
    Trace(1);
    r.Status = kStatusUnknownProblem;
    r.ResponseLength = 0;
    if (ExchangesBarred()) {
        r.Status = kStatusGuardianTookOver;
        return r;
    }

    TExchangePort port;
    if (std::string refusal = PrepareExchange(port, true); !refusal.empty()) {
        r.Status = refusal;
        return r;
    }
    const int fd = port.Fd;
    const std::string& key = port.Key;
    const std::string& path = port.Path;
    TSerialLine* line = port.Line;
    Trace(5);
    if (Data == nullptr && dataSize > 0) {
        r.Status = kStatusWriteFailed;
        return r;
    }
    // Looked at again right before the request goes out: a process that froze while it waited
    // for a quiet line must not send it once the guardian has taken over.
    if (ExchangesBarred()) {
        r.Status = kStatusGuardianTookOver;
        return r;
    }
    TLineState state = LoadLine(key);
    const auto writeStart = SteadyTime::now();
    bool vanished = false;
    const bool written = WriteAll(fd, Data, dataSize, path, vanished);
    state.LastRequestEnd = writeStart + FromMs(WireTimeMs(dataSize));
    state.Unsettled = true;  // until the answer has been read
    StoreLine(key, state);
    if (!written) {
        if (vanished && line) line->MarkVanished();
        r.Status = kStatusWriteFailed;
        return r;
    }
    Trace(6);
    if (!WaitForResponse) {
        r.Response.clear();
        r.Status.clear();
        return r;
    }

    Trace(7);
    // The answer window opens when the request has crossed the line and the device has seen the
    // t3.5 that ends it; a long request at 9600 baud takes tens of milliseconds on the wire. The
    // answer is taken as soon as it is whole by its length; without a length, 20 ms after its
    // last byte.
    const auto firstByte = state.LastRequestEnd + FromMs(FrameGapMs()) + std::chrono::milliseconds(fReadoutTimeoutMS);
    TAnswerEnd end;
    end.Length = answerLength;
    end.AfterComplete = FromMs(FrameContinuationMs());
    std::vector<uint8_t> answer;
    TReadOutcome outcome;
    const bool read = ReadAnswer(fd, kByteReadCount, end, firstByte, answer, outcome, path);
    Trace(8);
    if (outcome.Vanished && line) line->MarkVanished();
    if (!answer.empty()) state.LastByte = outcome.LastByte;
    state.Unsettled = !read || answer.empty() || (answerLength && !outcome.Complete);
    StoreLine(key, state);
    if (read && answer.empty()) {
        if (line) line->NoteNoAnswer();
        r.Response.clear();
        r.Status = kStatusByteTimeout;
        return r;
    }
    if (!read) {
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
