#include "sim/Emulator.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <deque>
#include <fcntl.h>
#include <map>
#include <fstream>
#include <mutex>
#include <poll.h>
#include <sstream>
#include <sys/file.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

#include <nlohmann/json.hpp>

#include "devices/ModbusCrc.h"
#include "devices/PortList.h"
#include "sim/MfcModel.h"
#include "sim/PtyPort.h"
#include "sim/PumpModel.h"
#include "support/Clock.h"

namespace moirex::sim {

namespace {

constexpr Instrument kAll[] = {Instrument::MfcA, Instrument::MfcB, Instrument::Pump};
// The end of a Modbus frame: 3.5 characters of silence at 9600 baud, 11 bits a character.
constexpr auto kFrameGap = std::chrono::microseconds(4011);
constexpr size_t kMaxPending = 512;

std::string AnswerFaultName(AnswerFault f) {
    switch (f) {
        case AnswerFault::None: return "none";
        case AnswerFault::BadCrc: return "crc";
        case AnswerFault::Garble: return "garble";
        case AnswerFault::Short: return "short";
        case AnswerFault::Exception: return "exception";
        case AnswerFault::WrongAddress: return "address";
        case AnswerFault::Split: return "split";
    }
    return "?";
}

void MakeFolder(const std::string& folder) {
    // Parents first, like mkdir -p; the last part only for this user.
    for (size_t at = 1; at <= folder.size(); ++at) {
        if (at != folder.size() && folder[at] != '/') continue;
        std::string part = folder.substr(0, at);
        if (::mkdir(part.c_str(), at == folder.size() ? 0700 : 0755) != 0 && errno != EEXIST)
            throw std::runtime_error("cannot create the folder " + part + ": " + std::strerror(errno));
    }
    struct stat st{};
    if (::stat(folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode))
        throw std::runtime_error(folder + " is not a folder");
}

std::string Fixed(double v, int decimals) {
    char text[64];
    std::snprintf(text, sizeof text, "%.*f", decimals, v);
    return text;
}

}  // namespace

std::string_view InstrumentName(Instrument instrument) {
    switch (instrument) {
        case Instrument::MfcA: return "mfc-a";
        case Instrument::MfcB: return "mfc-b";
        case Instrument::Pump: return "pump";
    }
    return "?";
}

std::optional<Instrument> InstrumentFromName(std::string_view name) {
    for (Instrument i : kAll)
        if (InstrumentName(i) == name) return i;
    return std::nullopt;
}

struct Emulator::Impl {
    using TimePoint = std::chrono::steady_clock::time_point;

    // An answer on its way out: its bytes leave one at a time at the line rate (paced), from
    // Start on, without holding up the channel's thread.
    struct Outgoing {
        std::vector<uint8_t> Bytes;
        size_t Sent = 0;
        TimePoint Start;
    };

    struct Channel {
        Instrument Which{};
        int BitsPerByte = 11;
        mutable std::mutex Mutex;  // model, faults, plug state
        std::unique_ptr<MfcModel> Mfc;
        std::unique_ptr<PumpModel> Pump;
        std::unique_ptr<PtyPort> Port;
        std::string Device;
        bool Plugged = false;
        bool Silent = false;
        AnswerFault Fault = AnswerFault::None;
        int FaultCode = 0;
        bool FaultSticky = false;
        int DelayMs = 0;
        // Faults aimed at one request: by the number of the request on this line.
        uint64_t Seen = 0;
        std::map<uint64_t, ScheduledFault> Schedule;
        uint64_t TooEarly = 0;
        // Plug and unplug run on the channel's own thread, which owns the descriptors.
        enum class Request { None, Unplug, Plug } Pending = Request::None;
        std::string RequestError;
        std::condition_variable Done;
        int Wake[2] = {-1, -1};
        std::thread Thread;
        std::mt19937 Rng{7};
        // Channel thread only.
        std::deque<Outgoing> Out;
        TimePoint LineQuietAt{};  // paced: t3.5 after the last byte on the line, either way
    };

    EmulatorOptions Options;
    std::string Folder;
    int LockFd = -1;
    std::chrono::steady_clock::time_point Epoch = std::chrono::steady_clock::now();
    Channel Channels[3];
    std::atomic<bool> Stopping{false};
    bool Stopped = false;
    std::mutex StopMutex;
    std::condition_variable StopSignal;  // wakes delays and the status writer
    std::thread StatusThread;

    Channel& Of(Instrument i) { return Channels[static_cast<int>(i)]; }
    const Channel& Of(Instrument i) const { return Channels[static_cast<int>(i)]; }

    double Now() const {
        if (Options.PhysicsClock) return Options.PhysicsClock->MonotonicSeconds();
        std::chrono::duration<double> d = std::chrono::steady_clock::now() - Epoch;
        return d.count() * Options.TimeScale;
    }

    void WakeChannel(Channel& c) {
        char b = 1;
        ssize_t n = ::write(c.Wake[1], &b, 1);
        (void)n;
    }

    void Run(Channel& c);
    // `frameStart`: when the first byte of `pending` came; moved on past each frame served.
    // `tooEarly`: the first frame of `pending` began before the line had been quiet for t3.5.
    void Serve(Channel& c, std::vector<uint8_t>& pending, bool gapPassed, TimePoint& frameStart, bool& tooEarly);
    // Takes one request off the line: counted, and the fault aimed at it (if any) handed out.
    // False when the request goes unanswered (silent, or no frame of its own).
    bool TakeRequest(Channel& c, bool& tooEarly, ScheduledFault& aimed);
    // `arrival`: when the request would have been fully received on a real line.
    void Answer(Channel& c, std::vector<uint8_t> answer, TimePoint arrival, const ScheduledFault& aimed);
    // Hands over the bytes that are due; the time the next one is due (max() when none).
    TimePoint SendDue(Channel& c);
    std::chrono::nanoseconds ByteTime(const Channel& c) const {
        return std::chrono::nanoseconds(static_cast<int64_t>(c.BitsPerByte * 1e9 / 9600));
    }
    TimePoint Arrival(const Channel& c, TimePoint& frameStart, size_t bytes) const {
        if (!Options.Paced) return frameStart;
        frameStart += ByteTime(c) * static_cast<int64_t>(bytes);
        return frameStart;
    }
    void SpoilMfc(Channel& c, std::vector<uint8_t>& answer, AnswerFault fault, int code);
    void SpoilPump(Channel& c, std::vector<uint8_t>& answer, AnswerFault fault);
    void Request(Instrument i, Channel::Request r);
    void WriteStatus();
    nlohmann::json Json(Instrument i) const;
    MfcState MfcOf(Instrument i) const;
    PumpState PumpOf() const;
};

void Emulator::Impl::Request(Instrument i, Channel::Request r) {
    Channel& c = Of(i);
    std::unique_lock lock(c.Mutex);
    if (Stopped || Stopping) return;
    c.Pending = r;
    c.RequestError.clear();
    WakeChannel(c);
    c.Done.wait(lock, [&] { return c.Pending == Channel::Request::None; });
    if (!c.RequestError.empty()) throw std::runtime_error(c.RequestError);
}

void Emulator::Impl::Run(Channel& c) {
    using clock = std::chrono::steady_clock;
    std::vector<uint8_t> pending;
    clock::time_point lastByte = clock::now();
    clock::time_point frameStart = lastByte;
    bool tooEarly = false;
    while (!Stopping) {
        {
            std::lock_guard lock(c.Mutex);
            if (c.Pending == Channel::Request::Unplug) {
                c.Port->Close();
                c.Plugged = false;
                c.Device.clear();
                pending.clear();
                c.Out.clear();
            } else if (c.Pending == Channel::Request::Plug && !c.Plugged) {
                try {
                    c.Port->Open();
                    c.Plugged = true;
                    c.Device = c.Port->Device();
                } catch (const std::exception& e) {
                    c.RequestError = e.what();
                }
            }
            if (c.Pending != Channel::Request::None) {
                c.Pending = Channel::Request::None;
                c.Done.notify_all();
            }
        }
        pollfd fds[3] = {{c.Wake[0], POLLIN, 0}, {-1, POLLIN, 0}, {-1, POLLIN, 0}};
        if (c.Port->IsOpen()) {
            fds[1].fd = c.Port->MasterFd();
            fds[2].fd = c.Port->WatchFd();
        }
        // Sleep until a frame's gap has passed, the next answer byte is due, or something comes.
        clock::time_point wake = clock::now() + std::chrono::milliseconds(500);
        if (!pending.empty()) wake = std::min(wake, lastByte + kFrameGap);
        if (!c.Out.empty()) {
            const Outgoing& o = c.Out.front();
            wake = std::min(wake, Options.Paced ? o.Start + ByteTime(c) * static_cast<int64_t>(o.Sent + 1) : o.Start);
        }
        const auto ns = std::max<int64_t>(0, std::chrono::duration_cast<std::chrono::nanoseconds>(wake - clock::now()).count());
        timespec ts{static_cast<time_t>(ns / 1000000000), static_cast<long>(ns % 1000000000)};
        int n = ::ppoll(fds, 3, &ts, nullptr);
        if (n < 0 && errno != EINTR) break;
        if (fds[0].revents & POLLIN) {
            char drain[64];
            while (::read(c.Wake[0], drain, sizeof drain) > 0) {
            }
        }
        if (!c.Port->IsOpen()) {
            pending.clear();
            c.Out.clear();
            continue;
        }
        if (fds[2].revents & POLLIN) c.Port->ServiceWatch();
        if (fds[1].revents & POLLIN) {
            uint8_t buffer[512];
            ssize_t got = ::read(c.Port->MasterFd(), buffer, sizeof buffer);
            if (got > 0) {
                // The emulated line delivers the bytes no faster than the line rate: a frame
                // that came in at once has its first byte now.
                lastByte = clock::now();
                if (pending.empty() || frameStart < lastByte - std::chrono::seconds(1)) {
                    frameStart = lastByte;
                    // A slave that is still talking, or whose line has not been quiet for t3.5,
                    // does not hear the start of a new frame: what follows is no request.
                    const bool talking =
                        !c.Out.empty() && (c.Out.front().Sent > 0 || c.Out.front().Start <= frameStart);
                    tooEarly = Options.Paced && c.Mfc && (talking || frameStart < c.LineQuietAt);
                }
                pending.insert(pending.end(), buffer, buffer + got);
            }
        }
        if (!pending.empty()) Serve(c, pending, clock::now() - lastByte >= kFrameGap, frameStart, tooEarly);
        if (pending.size() > kMaxPending) pending.clear();
        SendDue(c);
    }
}

bool Emulator::Impl::TakeRequest(Channel& c, bool& tooEarly, ScheduledFault& aimed) {
    std::lock_guard lock(c.Mutex);
    const uint64_t number = ++c.Seen;
    aimed = {};
    if (auto it = c.Schedule.find(number); it != c.Schedule.end()) {
        aimed = it->second;
        c.Schedule.erase(it);
    }
    if (tooEarly) {
        tooEarly = false;
        ++c.TooEarly;
        return false;
    }
    return !c.Silent && !aimed.Silent;
}

void Emulator::Impl::Serve(Channel& c, std::vector<uint8_t>& pending, bool gapPassed, TimePoint& frameStart,
                           bool& tooEarly) {
    ScheduledFault aimed;
    if (c.Mfc) {
        for (;;) {
            int need = MfcModel::ExpectedRequestLength(pending);
            if (need > 0 && pending.size() >= static_cast<size_t>(need)) {
                std::vector<uint8_t> frame(pending.begin(), pending.begin() + need);
                if (!ModbusCrcValid(frame) && !gapPassed) return;  // maybe out of step: wait for the gap
                pending.erase(pending.begin(), pending.begin() + need);
                TimePoint arrival = Arrival(c, frameStart, frame.size());
                if (!TakeRequest(c, tooEarly, aimed)) continue;
                std::vector<uint8_t> answer;
                {
                    std::lock_guard lock(c.Mutex);
                    answer = c.Mfc->Handle(frame, Now());
                }
                Answer(c, std::move(answer), arrival, aimed);
                continue;
            }
            if (gapPassed) {
                // The line went quiet: what is there is one frame (a function of unknown length,
                // or the rest of a broken one).
                TimePoint arrival = Arrival(c, frameStart, pending.size());
                std::vector<uint8_t> frame;
                frame.swap(pending);
                if (!TakeRequest(c, tooEarly, aimed)) return;
                std::vector<uint8_t> answer;
                {
                    std::lock_guard lock(c.Mutex);
                    answer = c.Mfc->Handle(frame, Now());
                }
                Answer(c, std::move(answer), arrival, aimed);
            }
            return;
        }
    }
    for (;;) {
        auto cr = std::find(pending.begin(), pending.end(), '\r');
        if (cr == pending.end()) return;
        std::string line(pending.begin(), cr);
        pending.erase(pending.begin(), cr + 1);
        TimePoint arrival = Arrival(c, frameStart, line.size() + 1);
        if (!TakeRequest(c, tooEarly, aimed)) continue;
        std::vector<uint8_t> answer;
        {
            std::lock_guard lock(c.Mutex);
            if (auto text = c.Pump->Handle(line, Now())) answer.assign(text->begin(), text->end());
        }
        Answer(c, std::move(answer), arrival, aimed);
    }
}

void Emulator::Impl::SpoilMfc(Channel& c, std::vector<uint8_t>& a, AnswerFault fault, int code) {
    uint8_t address = c.Mfc->Config().Address;
    switch (fault) {
        case AnswerFault::None:
            break;
        case AnswerFault::BadCrc:
            a[a.size() - 1] ^= 0x5A;
            a[a.size() - 2] ^= 0xA5;
            break;
        case AnswerFault::Garble: {
            std::uniform_int_distribution<int> byte(0, 255);
            for (uint8_t& b : a) b = static_cast<uint8_t>(byte(c.Rng));
            if (ModbusCrcValid(a)) a.back() ^= 0xFF;
            break;
        }
        case AnswerFault::Short:
            a.resize(std::max<size_t>(1, a.size() / 2));
            break;
        case AnswerFault::Exception: {
            std::vector<uint8_t> e{address, static_cast<uint8_t>(a[1] | 0x80), static_cast<uint8_t>(code)};
            AppendModbusCrc(e);
            a = e;
            break;
        }
        case AnswerFault::WrongAddress:
            a.resize(a.size() - 2);
            a[0] = static_cast<uint8_t>(address >= 247 ? 1 : address + 1);
            AppendModbusCrc(a);
            break;
        case AnswerFault::Split:  // Answer() splits it
            break;
    }
}

void Emulator::Impl::SpoilPump(Channel& c, std::vector<uint8_t>& a, AnswerFault fault) {
    switch (fault) {
        case AnswerFault::None:
        case AnswerFault::Exception:
        case AnswerFault::WrongAddress:
        case AnswerFault::Split:  // Answer() splits it
            break;
        case AnswerFault::BadCrc:
        case AnswerFault::Garble: {
            std::uniform_int_distribution<int> printable(0x21, 0x7E);
            for (size_t i = 0; i + 3 < a.size(); ++i) a[i] = static_cast<uint8_t>(printable(c.Rng));
            break;
        }
        case AnswerFault::Short:
            a = {'/', '0', 0x03, '\r', '\n'};
            break;
    }
}

void Emulator::Impl::Answer(Channel& c, std::vector<uint8_t> answer, TimePoint arrival, const ScheduledFault& aimed) {
    if (answer.empty()) return;
    int delay;
    int tailLateMs = -1;  // the split answer's tail: this much after its head
    {
        std::lock_guard lock(c.Mutex);
        AnswerFault fault = c.Fault;
        int code = c.FaultCode;
        if (fault != AnswerFault::None) {
            if (!c.FaultSticky) c.Fault = AnswerFault::None;
        } else {
            fault = aimed.Fault;
            code = aimed.Code;
        }
        if (fault == AnswerFault::Split) {
            tailLateMs = code;
        } else if (fault != AnswerFault::None) {
            if (c.Mfc) SpoilMfc(c, answer, fault, code);
            else SpoilPump(c, answer, fault);
        }
        delay = c.DelayMs + aimed.DelayMs;
    }
    // Before the last byte of the request has crossed the line no answer can begin; a controller
    // then keeps t3.5 of silence and takes its processing time.
    TimePoint start = Options.Paced ? arrival : std::chrono::steady_clock::now();
    if (Options.Paced && c.Mfc)
        start += std::chrono::duration_cast<std::chrono::nanoseconds>(kFrameGap) +
                 std::chrono::milliseconds(Options.ProcessingMs);
    start += std::chrono::milliseconds(delay);
    if (!c.Out.empty()) {
        const Outgoing& last = c.Out.back();
        const TimePoint lastEnd =
            Options.Paced ? last.Start + ByteTime(c) * static_cast<int64_t>(last.Bytes.size()) : last.Start;
        start = std::max(start, lastEnd);
    }
    if (tailLateMs >= 0 && answer.size() > 1) {
        std::vector<uint8_t> tail(answer.begin() + static_cast<std::ptrdiff_t>(answer.size() / 2), answer.end());
        answer.resize(answer.size() / 2);
        const TimePoint headEnd =
            Options.Paced ? start + ByteTime(c) * static_cast<int64_t>(answer.size()) : start;
        c.Out.push_back({std::move(answer), 0, start});
        c.Out.push_back({std::move(tail), 0, headEnd + std::chrono::milliseconds(tailLateMs)});
        return;
    }
    c.Out.push_back({std::move(answer), 0, start});
}

Emulator::Impl::TimePoint Emulator::Impl::SendDue(Channel& c) {
    using clock = std::chrono::steady_clock;
    while (!c.Out.empty()) {
        Outgoing& o = c.Out.front();
        const TimePoint now = clock::now();
        size_t due = o.Bytes.size();
        if (Options.Paced) {
            // A byte is handed over when its last bit would have arrived; after a late wake-up
            // the bytes that are due leave together, keeping the line rate.
            if (now < o.Start) return o.Start + ByteTime(c);
            due = std::min<size_t>(o.Bytes.size(), static_cast<size_t>((now - o.Start) / ByteTime(c)));
            if (due <= o.Sent) return o.Start + ByteTime(c) * static_cast<int64_t>(o.Sent + 1);
        } else if (now < o.Start) {
            return o.Start;
        }
        const ssize_t n = c.Port->WriteNow(o.Bytes.data() + o.Sent, due - o.Sent);
        if (n < 0) {
            c.Out.pop_front();  // nobody listens: the answer is lost on the line
            continue;
        }
        o.Sent += static_cast<size_t>(n);
        c.LineQuietAt = now + kFrameGap;
        if (o.Sent < o.Bytes.size()) return now + std::chrono::milliseconds(1);
        c.Out.pop_front();
    }
    return TimePoint::max();
}

MfcState Emulator::Impl::MfcOf(Instrument i) const {
    const Channel& c = Of(i);
    std::lock_guard lock(c.Mutex);
    c.Mfc->Advance(Now());
    MfcState s;
    s.Plugged = c.Plugged;
    s.Device = c.Device;
    s.SetPoint = c.Mfc->SetPoint();
    s.Flow = c.Mfc->Flow();
    s.MassDelivered_g = c.Mfc->MassDelivered_g();
    s.Totalizer = c.Mfc->Totalizer();
    s.ActiveTable = c.Mfc->ActiveTable();
    s.SelectedTable = c.Mfc->SelectedTable();
    if (const GasTable* t = c.Mfc->Table(s.ActiveTable)) {
        s.TotalizerUnit = t->TotalizerUnit;
        s.Gas = t->NameShort;
    }
    s.Requests = c.Mfc->Requests();
    s.TooEarly = c.TooEarly;
    return s;
}

PumpState Emulator::Impl::PumpOf() const {
    const Channel& c = Of(Instrument::Pump);
    std::lock_guard lock(c.Mutex);
    c.Pump->Advance(Now());
    PumpState s;
    s.Plugged = c.Plugged;
    s.Device = c.Device;
    s.Initialised = c.Pump->Initialised();
    s.Busy = c.Pump->Busy();
    s.ErrorCode = c.Pump->ErrorCode();
    s.StatusChar = c.Pump->StatusChar();
    s.Command = c.Pump->Command();
    s.VolumeDispensed_ul = c.Pump->VolumeDispensed_ul();
    s.Position = c.Pump->Position();
    s.Valve = c.Pump->Valve();
    s.Requests = c.Pump->Requests();
    return s;
}

nlohmann::json Emulator::Impl::Json(Instrument i) const {
    nlohmann::json j;
    const Channel& c = Of(i);
    {
        std::lock_guard lock(c.Mutex);
        j["link"] = c.Port->LinkPath();
        j["silent"] = c.Silent;
        j["fault"] = AnswerFaultName(c.Fault);
        j["delay_ms"] = c.DelayMs;
    }
    if (i == Instrument::Pump) {
        PumpState s = PumpOf();
        j["plugged"] = s.Plugged;
        j["device"] = s.Device;
        j["initialised"] = s.Initialised;
        j["busy"] = s.Busy;
        j["error"] = s.ErrorCode;
        j["status"] = std::string(1, s.StatusChar);
        j["state"] = !s.Initialised ? "not initialised" : s.Busy ? "busy" : s.ErrorCode ? "error" : "ready";
        j["command"] = s.Command;
        j["volume_dispensed_ul"] = s.VolumeDispensed_ul;
        j["position"] = s.Position;
        j["valve"] = std::string(1, s.Valve);
        std::lock_guard lock(c.Mutex);
        j["stuck_busy"] = c.Pump->StuckBusy;
    } else {
        MfcState s = MfcOf(i);
        j["plugged"] = s.Plugged;
        j["device"] = s.Device;
        j["address"] = Of(i).Mfc->Config().Address;
        j["setpoint_gpm"] = s.SetPoint;
        j["flow_gpm"] = s.Flow;
        j["mass_delivered_g"] = s.MassDelivered_g;
        j["totalizer"] = s.Totalizer;
        j["totalizer_unit"] = s.TotalizerUnit;
        j["active_table"] = s.ActiveTable;
        j["gas"] = s.Gas;
        j["requests"] = s.Requests;
        j["too_early"] = s.TooEarly;  // requests that began before the line had been quiet for t3.5
        std::lock_guard lock(c.Mutex);
        j["refuse_setpoint"] = c.Mfc->RefuseSetPoint;
    }
    return j;
}

void Emulator::Impl::WriteStatus() {
    const std::string& path = Options.StatusFile;
    std::string temp = path + ".tmp";
    nlohmann::json j;
    j["time_s"] = Now();
    for (Instrument i : kAll) j[std::string(InstrumentName(i))] = Json(i);
    {
        std::ofstream out(temp, std::ios::trunc);
        out << j.dump(2) << '\n';
        if (!out) return;
    }
    std::rename(temp.c_str(), path.c_str());
}

Emulator::Emulator(EmulatorOptions options) : impl_(std::make_unique<Impl>()) {
    Impl& m = *impl_;
    if (!(options.TimeScale > 0)) throw std::invalid_argument("the time scale must be above 0");
    if (options.PumpType != 50 && options.PumpType != 75) throw std::invalid_argument("the pump type is 50 or 75");
    if (!(options.SyringeVolume_ul > 0)) throw std::invalid_argument("the syringe volume must be above 0");
    CheckController(options.ControllerA, "mfc-a");
    CheckController(options.ControllerB, "mfc-b");
    m.Options = std::move(options);
    m.Folder = m.Options.RuntimeFolder.empty() ? SimRuntimeFolder() : m.Options.RuntimeFolder;
    while (m.Folder.size() > 1 && m.Folder.back() == '/') m.Folder.pop_back();
    MakeFolder(m.Folder);

    // One emulator per folder: a second one would take over the first one's links.
    std::string lockPath = m.Folder + "/.moirex-sim.lock";
    m.LockFd = ::open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (m.LockFd < 0) throw std::runtime_error("cannot open " + lockPath + ": " + std::strerror(errno));
    if (::flock(m.LockFd, LOCK_EX | LOCK_NB) != 0) {
        ::close(m.LockFd);
        m.LockFd = -1;
        throw std::runtime_error("another moirex-sim is running with the folder " + m.Folder);
    }

    uint32_t seed = m.Options.Seed;
    for (Instrument i : kAll) {
        Impl::Channel& c = m.Of(i);
        c.Which = i;
        c.Port = std::make_unique<PtyPort>(m.Folder + "/" + std::string(InstrumentName(i)));
        c.Rng.seed(seed + 100 + static_cast<uint32_t>(i));
        if (i == Instrument::Pump) {
            c.BitsPerByte = 10;
            c.Pump = std::make_unique<PumpModel>(m.Options.PumpType, m.Options.SyringeVolume_ul);
        } else {
            c.BitsPerByte = 11;
            const ControllerConfig& cfg = i == Instrument::MfcA ? m.Options.ControllerA : m.Options.ControllerB;
            c.Mfc = std::make_unique<MfcModel>(cfg, m.Options.Noise, seed + static_cast<uint32_t>(i));
            c.Mfc->Advance(m.Now());
        }
    }
    m.Of(Instrument::Pump).Pump->Advance(m.Now());
    try {
        for (Instrument i : kAll) {
            Impl::Channel& c = m.Of(i);
            if (::pipe2(c.Wake, O_NONBLOCK | O_CLOEXEC) != 0)
                throw std::runtime_error(std::string("cannot make a pipe: ") + std::strerror(errno));
            c.Port->Open();
            c.Plugged = true;
            c.Device = c.Port->Device();
        }
    } catch (...) {
        Stop();
        throw;
    }
    for (Impl::Channel& c : m.Channels) c.Thread = std::thread([&m, &c] { m.Run(c); });
    if (!m.Options.StatusFile.empty()) {
        m.WriteStatus();
        m.StatusThread = std::thread([&m] {
            std::unique_lock lock(m.StopMutex);
            while (!m.Stopping) {
                lock.unlock();
                m.WriteStatus();
                lock.lock();
                m.StopSignal.wait_for(lock, std::chrono::milliseconds(100), [&] { return m.Stopping.load(); });
            }
        });
    }
}

Emulator::~Emulator() { Stop(); }

void Emulator::Stop() {
    Impl& m = *impl_;
    {
        std::lock_guard lock(m.StopMutex);
        if (m.Stopped) return;
        m.Stopping = true;
        m.Stopped = true;
    }
    m.StopSignal.notify_all();
    for (Impl::Channel& c : m.Channels) {
        {
            std::lock_guard lock(c.Mutex);
            c.Pending = Impl::Channel::Request::None;
            c.Done.notify_all();
        }
        if (c.Wake[1] >= 0) m.WakeChannel(c);
    }
    for (Impl::Channel& c : m.Channels)
        if (c.Thread.joinable()) c.Thread.join();
    if (m.StatusThread.joinable()) m.StatusThread.join();
    for (Impl::Channel& c : m.Channels) {
        std::lock_guard lock(c.Mutex);
        if (c.Port) c.Port->Close();
        c.Plugged = false;
        c.Device.clear();
        for (int& fd : c.Wake) {
            if (fd >= 0) ::close(fd);
            fd = -1;
        }
    }
    if (!m.Options.StatusFile.empty() && m.Of(Instrument::Pump).Pump) m.WriteStatus();  // the final state, unplugged
    if (m.LockFd >= 0) {
        ::unlink((m.Folder + "/.moirex-sim.lock").c_str());
        ::close(m.LockFd);
        m.LockFd = -1;
    }
}

std::string Emulator::RuntimeFolder() const { return impl_->Folder; }

std::string Emulator::PortPath(Instrument instrument) const {
    return impl_->Folder + "/" + std::string(InstrumentName(instrument));
}

void Emulator::SetSilent(Instrument instrument, bool on) {
    auto& c = impl_->Of(instrument);
    std::lock_guard lock(c.Mutex);
    c.Silent = on;
}

void Emulator::InjectAnswerFault(Instrument instrument, AnswerFault fault, int code, bool sticky) {
    if (instrument == Instrument::Pump && (fault == AnswerFault::Exception || fault == AnswerFault::WrongAddress))
        throw std::invalid_argument("the pump has no Modbus answers to spoil that way");
    if (fault == AnswerFault::Exception && (code < 1 || code > 255))
        throw std::invalid_argument("an exception code is 1 to 255");
    auto& c = impl_->Of(instrument);
    std::lock_guard lock(c.Mutex);
    c.Fault = fault;
    c.FaultCode = code;
    c.FaultSticky = sticky && fault != AnswerFault::None;
}

void Emulator::SetDelayMs(Instrument instrument, int ms) {
    if (ms < 0 || ms > 60000) throw std::invalid_argument("a delay is 0 to 60000 ms");
    auto& c = impl_->Of(instrument);
    std::lock_guard lock(c.Mutex);
    c.DelayMs = ms;
}

void Emulator::ClearFaults(Instrument instrument) {
    auto& c = impl_->Of(instrument);
    std::lock_guard lock(c.Mutex);
    c.Silent = false;
    c.Fault = AnswerFault::None;
    c.FaultSticky = false;
    c.DelayMs = 0;
    c.Schedule.clear();
    if (c.Mfc) c.Mfc->RefuseSetPoint = false;
    if (c.Pump) {
        c.Pump->StuckBusy = false;
        c.Pump->SetInjectedError(0);
    }
}

void Emulator::Unplug(Instrument instrument) { impl_->Request(instrument, Impl::Channel::Request::Unplug); }

void Emulator::Plug(Instrument instrument) { impl_->Request(instrument, Impl::Channel::Request::Plug); }

void Emulator::SetRefuseSetPoint(Instrument instrument, bool on) {
    if (instrument == Instrument::Pump) throw std::invalid_argument("the pump has no set-point");
    auto& c = impl_->Of(instrument);
    std::lock_guard lock(c.Mutex);
    c.Mfc->RefuseSetPoint = on;
}

void Emulator::SetPumpStuckBusy(bool on) {
    auto& c = impl_->Of(Instrument::Pump);
    std::lock_guard lock(c.Mutex);
    c.Pump->Advance(impl_->Now());
    c.Pump->StuckBusy = on;
}

void Emulator::SetPumpError(int code) {
    if (code < 0 || code > 15) throw std::invalid_argument("a pump error code is 0 to 15");
    auto& c = impl_->Of(Instrument::Pump);
    std::lock_guard lock(c.Mutex);
    c.Pump->SetInjectedError(code);
}

void Emulator::ScheduleFault(Instrument instrument, uint64_t nth, ScheduledFault fault) {
    if (nth < 1) throw std::invalid_argument("the request to aim at is counted from 1 (the next one)");
    if (instrument == Instrument::Pump &&
        (fault.Fault == AnswerFault::Exception || fault.Fault == AnswerFault::WrongAddress))
        throw std::invalid_argument("the pump has no Modbus answers to spoil that way");
    if (fault.Fault == AnswerFault::Exception && (fault.Code < 1 || fault.Code > 255))
        throw std::invalid_argument("an exception code is 1 to 255");
    if (fault.DelayMs < 0 || fault.DelayMs > 60000) throw std::invalid_argument("a delay is 0 to 60000 ms");
    auto& c = impl_->Of(instrument);
    std::lock_guard lock(c.Mutex);
    c.Schedule[c.Seen + nth] = fault;
}

uint64_t Emulator::RequestsSeen(Instrument instrument) const {
    const auto& c = impl_->Of(instrument);
    std::lock_guard lock(c.Mutex);
    return c.Seen;
}

MfcState Emulator::Mfc(Instrument instrument) const {
    if (instrument == Instrument::Pump) throw std::invalid_argument("the pump is no mass flow controller");
    return impl_->MfcOf(instrument);
}

PumpState Emulator::Pump() const { return impl_->PumpOf(); }

std::string Emulator::StatusJson() const {
    nlohmann::json j;
    j["time_s"] = impl_->Now();
    for (Instrument i : kAll) j[std::string(InstrumentName(i))] = impl_->Json(i);
    return j.dump(2);
}

std::string Emulator::CommandHelp() {
    return "Fault commands, one a line (INST is mfc-a, mfc-b or pump):\n"
           "  INST silent on|off          no answers at all\n"
           "  INST crc [on|off]           wrong CRC on the next answer (on: every answer)\n"
           "  INST garble [on|off]        scrambled next answer\n"
           "  INST short [on|off]         next answer cut short\n"
           "  INST split MS               next answer split, its tail MS milliseconds late\n"
           "  INST delay MS               every answer MS milliseconds late (0: on time)\n"
           "  INST unplug | plug          the port vanishes / comes back\n"
           "  INST clear                  every fault of the instrument off\n"
           "  INST at N FAULT             FAULT on the N-th request from now only (1: the next);\n"
           "                              FAULT: silent, crc, garble, short, split MS, delay MS,\n"
           "                              exception N or address (controllers)\n"
           "  mfc-X exception N [on|off]  exception answer with code N\n"
           "  mfc-X address [on|off]      next answer from another slave address\n"
           "  mfc-X refuse-setpoint on|off  set-point writes answered with exception 04\n"
           "  pump busy on|off            pump stuck busy\n"
           "  pump error N                pump reports error N (0 clears; initialising clears)\n"
           "  status                      true state of every instrument\n"
           "  help                        this text\n"
           "  quit                        end the emulator\n";
}

std::string Emulator::Command(std::string_view lineView) {
    std::istringstream in{std::string(lineView)};
    std::vector<std::string> words;
    for (std::string w; in >> w;) words.push_back(w);
    if (words.empty()) return "";
    auto bad = [&](const std::string& why) -> std::invalid_argument {
        return std::invalid_argument(why + " (type help for the commands)");
    };
    if (words[0] == "help" && words.size() == 1) return CommandHelp();
    if (words[0] == "status" && words.size() == 1) {
        std::string out;
        for (Instrument i : {Instrument::MfcA, Instrument::MfcB}) {
            MfcState s = Mfc(i);
            out += std::string(InstrumentName(i)) + ": " + (s.Plugged ? s.Device : std::string("unplugged")) +
                   ", table " + std::to_string(s.ActiveTable) + " " + s.Gas + ", set-point " +
                   Fixed(s.SetPoint, 6) + " g/min, flow " + Fixed(s.Flow, 6) + " g/min, delivered " +
                   Fixed(s.MassDelivered_g, 6) + " g, totalizer " + Fixed(s.Totalizer, 6) + " " +
                   s.TotalizerUnit + "\n";
        }
        PumpState p = Pump();
        out += std::string("pump: ") + (p.Plugged ? p.Device : std::string("unplugged")) + ", " +
               (p.Initialised ? "initialised" : "not initialised") + ", " + (p.Busy ? "busy" : "ready") +
               ", status '" + std::string(1, p.StatusChar) + "', error " + std::to_string(p.ErrorCode) +
               ", valve " + std::string(1, p.Valve) + ", plunger " + std::to_string(p.Position) +
               ", dispensed " + Fixed(p.VolumeDispensed_ul, 4) + " ul, command \"" + p.Command + "\"\n";
        return out;
    }
    auto which = InstrumentFromName(words[0]);
    if (!which) throw bad("unknown instrument or command \"" + words[0] + "\"");
    Instrument i = *which;
    std::string name(InstrumentName(i));
    if (words.size() < 2) throw bad("what should " + name + " do?");
    const std::string& verb = words[1];
    auto onOff = [&](size_t at, bool fallback, bool allowMissing) -> bool {
        if (words.size() <= at) {
            if (allowMissing) return fallback;
            throw bad(verb + " needs on or off");
        }
        if (words.size() > at + 1) throw bad("too many words");
        if (words[at] == "on") return true;
        if (words[at] == "off") return false;
        throw bad(verb + " takes on or off, not \"" + words[at] + "\"");
    };
    auto number = [&](size_t at, long lo, long hi) -> int {
        if (words.size() <= at) throw bad(verb + " needs a number");
        char* end = nullptr;
        long v = std::strtol(words[at].c_str(), &end, 10);
        if (words[at].empty() || *end != '\0' || v < lo || v > hi)
            throw bad(verb + " needs a number from " + std::to_string(lo) + " to " + std::to_string(hi));
        return static_cast<int>(v);
    };
    bool isMfc = i != Instrument::Pump;
    if (verb == "at") {
        const int nth = number(2, 1, 1000000);
        if (words.size() < 4) throw bad("at N needs a fault: silent, crc, garble, short, delay MS, exception N, address");
        const std::string& kind = words[3];
        ScheduledFault f;
        size_t used = 4;
        if (kind == "silent") f.Silent = true;
        else if (kind == "crc") f.Fault = AnswerFault::BadCrc;
        else if (kind == "garble") f.Fault = AnswerFault::Garble;
        else if (kind == "short") f.Fault = AnswerFault::Short;
        else if (isMfc && kind == "address") f.Fault = AnswerFault::WrongAddress;
        else if (isMfc && kind == "exception") {
            f.Fault = AnswerFault::Exception;
            f.Code = number(4, 1, 255);
            used = 5;
        } else if (kind == "delay") {
            f.DelayMs = number(4, 0, 60000);
            used = 5;
        } else if (kind == "split") {
            f.Fault = AnswerFault::Split;
            f.Code = number(4, 0, 60000);
            used = 5;
        } else {
            throw bad("unknown fault \"" + kind + "\" for " + name);
        }
        if (words.size() > used) throw bad("too many words");
        ScheduleFault(i, static_cast<uint64_t>(nth), f);
        std::string what;
        for (size_t w = 3; w < used; ++w) what += (w > 3 ? " " : "") + words[w];
        return name + ": " + what + " on request " + std::to_string(nth) + " from now\n";
    }
    if (verb == "silent") {
        bool on = onOff(2, true, false);
        SetSilent(i, on);
        return name + ": silent " + (on ? "on" : "off") + "\n";
    }
    if (verb == "crc" || verb == "garble" || verb == "short" || (isMfc && verb == "address")) {
        AnswerFault f = verb == "crc" ? AnswerFault::BadCrc
                      : verb == "garble" ? AnswerFault::Garble
                      : verb == "short" ? AnswerFault::Short
                                        : AnswerFault::WrongAddress;
        bool sticky = false;
        if (words.size() > 2) {
            sticky = onOff(2, false, false);
            if (!sticky) {
                InjectAnswerFault(i, AnswerFault::None);
                return name + ": " + verb + " off\n";
            }
        }
        InjectAnswerFault(i, f, 0, sticky);
        return name + ": " + verb + (sticky ? " on every answer\n" : " on the next answer\n");
    }
    if (isMfc && verb == "exception") {
        if (words.size() == 3 && words[2] == "off") {
            InjectAnswerFault(i, AnswerFault::None);
            return name + ": exception off\n";
        }
        int code = number(2, 1, 255);
        bool sticky = words.size() > 3 ? onOff(3, false, false) : false;
        InjectAnswerFault(i, AnswerFault::Exception, code, sticky);
        return name + ": exception " + std::to_string(code) + (sticky ? " on every answer\n" : " on the next answer\n");
    }
    if (verb == "split") {
        const int ms = number(2, 0, 60000);
        if (words.size() > 3) throw bad("too many words");
        InjectAnswerFault(i, AnswerFault::Split, ms);
        return name + ": next answer split, its tail " + std::to_string(ms) + " ms late\n";
    }
    if (verb == "delay") {
        int ms = number(2, 0, 60000);
        if (words.size() > 3) throw bad("too many words");
        SetDelayMs(i, ms);
        return name + ": answers " + std::to_string(ms) + " ms late\n";
    }
    if (verb == "unplug" || verb == "plug") {
        if (words.size() > 2) throw bad("too many words");
        if (verb == "unplug") {
            Unplug(i);
            return name + ": unplugged\n";
        }
        Plug(i);
        return name + ": plugged in at " + (isMfc ? Mfc(i).Device : Pump().Device) + "\n";
    }
    if (verb == "clear" && words.size() == 2) {
        ClearFaults(i);
        return name + ": faults cleared\n";
    }
    if (isMfc && verb == "refuse-setpoint") {
        bool on = onOff(2, true, false);
        SetRefuseSetPoint(i, on);
        return name + ": refuse-setpoint " + (on ? "on" : "off") + "\n";
    }
    if (!isMfc && verb == "busy") {
        bool on = onOff(2, true, false);
        SetPumpStuckBusy(on);
        return name + ": stuck busy " + (on ? "on" : "off") + "\n";
    }
    if (!isMfc && verb == "error") {
        int code = number(2, 0, 15);
        if (words.size() > 3) throw bad("too many words");
        SetPumpError(code);
        return code ? name + ": error " + std::to_string(code) + "\n" : name + ": error cleared\n";
    }
    throw bad("unknown command \"" + verb + "\" for " + name);
}

}  // namespace moirex::sim
