// The syringe pump driver against a scripted pump on a pseudo-terminal: connect, framing, the
// status decoding and its texts, the stop of a pump that stays busy, and the type check with its
// standby wait. The driver's own waits run on a test clock; the pump peer moves that clock on by
// the time a real exchange with the pump's port settings takes, so the time limits see realistic
// passes while the test runs in well under a second.

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <chrono>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "devices/PSD4_Interface.h"
#include "devices/SerialPort.h"
#include "support/Clock.h"

using namespace moirex;
using ::testing::ElementsAre;
using ::testing::ElementsAreArray;

namespace {

// The driver's clock in these tests: its waits count in full but take only a few real
// milliseconds, enough for the pump peer to take in a message that was sent without waiting
// before the next exchange opens the port again.
class TestClock final : public Clock {
public:
    double MonotonicSeconds() const override { return seconds_.load(); }
    void SleepMs(int64_t ms) override {
        std::this_thread::sleep_for(std::chrono::milliseconds(std::min<int64_t>(ms, 10)));
        Advance(static_cast<double>(ms) / 1000.0);
    }
    void Advance(double seconds) {
        double now = seconds_.load();
        while (!seconds_.compare_exchange_weak(now, now + seconds)) {
        }
    }

private:
    std::atomic<double> seconds_{0.0};
};

// A pump on the master side of a pseudo-terminal. Each frame (the bytes up to a carriage
// return, without it) is handed to the script, whose answer goes back with the pump's end of
// text, CR and LF; no answer means silence.
class ScriptedPump {
public:
    using Script = std::function<std::optional<std::string>(const std::string& frame)>;

    explicit ScriptedPump(Script script, TestClock* clock = nullptr, double exchangeSeconds = 0.333)
        : script_(std::move(script)), clock_(clock), exchangeSeconds_(exchangeSeconds) {
        master_ = ::posix_openpt(O_RDWR | O_NOCTTY);
        if (master_ < 0 || ::grantpt(master_) != 0 || ::unlockpt(master_) != 0) return;
        char name[128] = {};
        if (::ptsname_r(master_, name, sizeof name) != 0) return;
        path_ = name;
        thread_ = std::thread([this] { Run(); });
    }

    ~ScriptedPump() {
        stop_ = true;
        if (thread_.joinable()) thread_.join();
        if (master_ >= 0) ::close(master_);
    }

    const std::string& Path() const { return path_; }

    std::vector<std::string> Frames() const {
        std::lock_guard lock(mutex_);
        return frames_;
    }

    // The frames once at least `count` have come in (or after a second).
    std::vector<std::string> FramesAfter(size_t count) const {
        for (int i = 0; i < 1000 && Frames().size() < count; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        return Frames();
    }

private:
    void Run() {
        std::string pending;
        while (!stop_) {
            pollfd p{master_, POLLIN, 0};
            int n = ::poll(&p, 1, 5);
            if (n <= 0) continue;
            if (!(p.revents & POLLIN)) {
                // No opener on the device side: wait for the next exchange.
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
                continue;
            }
            char buf[256];
            ssize_t got = ::read(master_, buf, sizeof buf);
            if (got <= 0) {
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
                continue;
            }
            pending.append(buf, static_cast<size_t>(got));
            size_t cr;
            while ((cr = pending.find('\r')) != std::string::npos) {
                std::string frame = pending.substr(0, cr);
                pending.erase(0, cr + 1);
                {
                    std::lock_guard lock(mutex_);
                    frames_.push_back(frame);
                }
                if (clock_) clock_->Advance(exchangeSeconds_);
                if (auto answer = script_(frame)) {
                    std::string bytes = *answer + "\x03\r\n";
                    if (::write(master_, bytes.data(), bytes.size()) < 0) {
                        // The device side went away before the answer: lost, as on a real line.
                    }
                }
            }
        }
    }

    Script script_;
    TestClock* clock_;
    double exchangeSeconds_;
    int master_ = -1;
    std::string path_;
    std::thread thread_;
    std::atomic<bool> stop_{false};
    mutable std::mutex mutex_;
    std::vector<std::string> frames_;
};

// Quick port timing for the tests: 5 ms poll period, 150 ms for the first byte.
TPumpPortTiming FastTiming() { return TPumpPortTiming{5, 150}; }

// A pump that answers the connect query and gives `status` (the character after "/0") to
// everything else.
ScriptedPump::Script AnswersWith(char status) {
    return [status](const std::string& frame) -> std::optional<std::string> {
        if (frame == "/1?22") return std::string("/0`255");
        return std::string("/0") + status;
    };
}

struct PumpFixture : ::testing::Test {
    TestClock clock;
    std::vector<std::string> messages;

    std::unique_ptr<TPSD4> MakePump() {
        auto pump = std::make_unique<TPSD4>(
            [this](const std::string& m) { messages.push_back(m); }, clock);
        pump->PortTiming = FastTiming();
        return pump;
    }
};

TSerialResponse WithResponse(const std::string& text) {
    TSerialResponse r;
    r.Init();
    r.Response = text;
    return r;
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// Status character decoding and the state texts

TEST(PSD4Status, EveryStatusCharacterOfBothRows) {
    struct Case {
        char ready;
        char busy;
        EnumPumpState state;
    };
    const Case cases[] = {
        {'`', '@', EnumPumpState::ps_No_error},
        {'a', 'A', EnumPumpState::ps_Initialization_error__Occurs_when_a_syringe_or_valve_error_happens_during_initialization},
        {'b', 'B', EnumPumpState::ps_Invalid_command__Occurs_when_an_unrecognized_command_is_used},
        {'c', 'C', EnumPumpState::ps_Invalid_operand__Occurs_when_and_invalid_parameter_is_given_with_a_command},
        {'d', 'D', EnumPumpState::ps_Invalid_command_sequence__Occurs_when_the_command_communication_protocol_is_incorrect},
        {'f', 'F', EnumPumpState::ps_EEPROM_failure__Occurs_when_the_EEPROM_is_faulty},
        {'g', 'G', EnumPumpState::ps_Syringe_not_initialized__Occurs_when_the_syringefails_to_initialize},
        {'i', 'I', EnumPumpState::ps_Syringe_overload__Occurs_when_the_syringe_encounters_excessive_back_pressure},
        {'j', 'J', EnumPumpState::ps_Valve_overload__Occurs_when_the_valve_drive_encounters_excessive_back_pressure},
        {'k', 'K', EnumPumpState::ps_Syringe_move_not_allowed__When_the_valve_is_in_the_bypass_or_throughput_position_syringe_move_commands_are_not_allowed},
        {'o', 'O', EnumPumpState::ps_Pump_is_busy__Occurs_when_the_command_buffer_is_full},
    };
    for (const auto& c : cases) {
        for (bool busy : {false, true}) {
            TPSD4 pump;
            pump.State = EnumPumpState::ps_Connected;
            pump.Busy = !busy;
            pump.SetStatus(WithResponse(std::string("/0") + (busy ? c.busy : c.ready) + "data"));
            EXPECT_EQ(pump.State, c.state) << (busy ? c.busy : c.ready);
            EXPECT_EQ(pump.Busy, busy) << (busy ? c.busy : c.ready);
        }
    }
}

TEST(PSD4Status, CharacterOutsideTheTableKeepsStateAndIsNotBusy) {
    for (char c : std::string("EHLMNehlmn?Z")) {
        TPSD4 pump;
        pump.State = EnumPumpState::ps_Syringe_overload__Occurs_when_the_syringe_encounters_excessive_back_pressure;
        pump.Busy = true;
        pump.SetStatus(WithResponse(std::string("/0") + c));
        EXPECT_EQ(pump.State, EnumPumpState::ps_Syringe_overload__Occurs_when_the_syringe_encounters_excessive_back_pressure) << c;
        EXPECT_FALSE(pump.Busy) << c;
    }
}

TEST(PSD4Status, StatusAsStringForEveryState) {
    const std::pair<EnumPumpState, const char*> texts[] = {
        {EnumPumpState::ps_Undefined, "Undefined"},
        {EnumPumpState::ps_Connected, "Connected"},
        {EnumPumpState::ps_Initialized, "Initialized"},
        {EnumPumpState::ps_No_error, "No error"},
        {EnumPumpState::ps_Initialization_error__Occurs_when_a_syringe_or_valve_error_happens_during_initialization,
         "Initialization error - Occurs when a syringe or valve error happens during initialization"},
        {EnumPumpState::ps_Invalid_command__Occurs_when_an_unrecognized_command_is_used,
         "Invalid command - Occurs when an unrecognized command is used"},
        {EnumPumpState::ps_Invalid_operand__Occurs_when_and_invalid_parameter_is_given_with_a_command,
         "Invalid operand - Occurs when and invalid parameter is given with a command"},
        {EnumPumpState::ps_Invalid_command_sequence__Occurs_when_the_command_communication_protocol_is_incorrect,
         "Invalid command sequence - Occurs when the command communication protocol is incorrect"},
        {EnumPumpState::ps_EEPROM_failure__Occurs_when_the_EEPROM_is_faulty,
         "EEPROM failure - Occurs when the EEPROM is faulty"},
        {EnumPumpState::ps_Syringe_not_initialized__Occurs_when_the_syringefails_to_initialize,
         "Syringe not initialized - Occurs when the syringefails to initialize"},
        {EnumPumpState::ps_Syringe_overload__Occurs_when_the_syringe_encounters_excessive_back_pressure,
         "Syringe overload - Occurs when the syringe encounters excessive back pressure"},
        {EnumPumpState::ps_Valve_overload__Occurs_when_the_valve_drive_encounters_excessive_back_pressure,
         "Valve overload - Occurs when the valve drive encounters excessive back pressure"},
        {EnumPumpState::ps_Syringe_move_not_allowed__When_the_valve_is_in_the_bypass_or_throughput_position_syringe_move_commands_are_not_allowed,
         "Syringe move not allowed - When the valve is in the bypass or throughput position syringe move commands are not allowed"},
        {EnumPumpState::ps_Pump_is_busy__Occurs_when_the_command_buffer_is_full,
         "Pump is busy - Occurs when the command buffer is full"},
    };
    for (const auto& [state, text] : texts) {
        TPSD4 pump;
        pump.State = state;
        EXPECT_EQ(pump.StatusAsString(), std::string("Ready, ") + text);
        pump.Busy = true;
        EXPECT_EQ(pump.StatusAsString(), std::string("Busy, ") + text);
    }
}

TEST(PSD4Status, FreshObject) {
    TPSD4 pump;
    EXPECT_EQ(pump.pAddressASCII, u'1');
    EXPECT_EQ(pump.DataInterface, EnumInterfaceType::it_ASCII);
    EXPECT_EQ(pump.State, EnumPumpState::ps_Undefined);
    EXPECT_FALSE(pump.Busy);
    EXPECT_EQ(pump.LastCommand, "");
    EXPECT_EQ(pump.COM(), nullptr);
    EXPECT_EQ(pump.StatusAsString(), "Ready, Undefined");
}

// An answer too short to carry a status character is handed to the caller's sink, never shown
// by the driver; nothing is claimed about the pump: busy and state stay as last reported.
TEST(PSD4Status, ShortAnswerGoesToTheSink) {
    for (const std::string answer : {"", "/", "/0"}) {
        std::vector<std::string> messages;
        TPSD4 pump([&](const std::string& m) { messages.push_back(m); });
        pump.State = EnumPumpState::ps_Valve_overload__Occurs_when_the_valve_drive_encounters_excessive_back_pressure;
        pump.Busy = true;
        pump.SetStatus(WithResponse(answer));
        EXPECT_THAT(messages, ElementsAre("Set pump states failed. Used string: " + answer));
        EXPECT_TRUE(pump.Busy);
        EXPECT_EQ(pump.State, EnumPumpState::ps_Valve_overload__Occurs_when_the_valve_drive_encounters_excessive_back_pressure);
    }
    TPSD4 withoutSink;  // the message then only goes to the log channel
    withoutSink.Busy = true;
    withoutSink.SetStatus(WithResponse(""));
    EXPECT_TRUE(withoutSink.Busy);
}

// ---------------------------------------------------------------------------------------------
// Connect and SendCommand

// A pump busy with a dosing loop answers the connect query with its busy character, one that
// refused an earlier command with its error character; either must connect all the same, or
// nothing could stop it or clear the error.
TEST_F(PumpFixture, ConnectAcceptsEveryKnownStatusCharacter) {
    struct Case {
        const char* answer;
        bool connected;
        bool busy;
    };
    for (const auto& c : {Case{"/0`255", true, false}, Case{"/0@255", true, true},
                          Case{"/0i255", true, false}, Case{"/0O255", true, true},
                          Case{"/0E255", false, false}, Case{"/0`25", false, false},
                          Case{"/0`2550", false, false}, Case{"/1`255", false, false},
                          Case{"/0b", false, false}}) {
        const std::string answer = c.answer;
        ScriptedPump peer([&](const std::string&) { return answer; });
        auto pump = MakePump();
        EXPECT_EQ(pump->Connect(peer.Path()), c.connected) << answer;
        EXPECT_EQ(pump->State, c.connected ? EnumPumpState::ps_Connected : EnumPumpState::ps_Undefined);
        EXPECT_EQ(pump->Busy, c.busy) << answer;
        EXPECT_THAT(peer.Frames(), ElementsAre("/1?22"));
        ASSERT_NE(pump->COM(), nullptr);
        EXPECT_EQ(pump->COM()->Port(), peer.Path());
    }
}

TEST_F(PumpFixture, ConnectFailsWhenNothingAnswers) {
    ScriptedPump silent([](const std::string&) { return std::nullopt; });
    auto pump = MakePump();
    EXPECT_FALSE(pump->Connect(silent.Path()));
    EXPECT_EQ(pump->State, EnumPumpState::ps_Undefined);
    EXPECT_EQ(pump->ConnectResponse().Status, "Timeout while waiting for response, exiting");

    auto absent = MakePump();
    EXPECT_FALSE(absent->Connect("/dev/moirex-no-such-port"));
    EXPECT_EQ(absent->ConnectResponse().Status, "Failed to setup Com port, port in use");

    // After a failed connect every command is refused without touching the line.
    TSerialResponse r;
    EXPECT_FALSE(pump->SendCommand("Q", r, true));
    EXPECT_EQ(r.Status, "Pump state undefined, cannot send command: /1Q\r");
    EXPECT_EQ(r.Response, "");
    EXPECT_THAT(silent.Frames(), ElementsAre("/1?22"));
    EXPECT_EQ(pump->LastCommand, "");
    EXPECT_TRUE(messages.empty());
}

TEST_F(PumpFixture, SendCommandFramesDecodesAndReports) {
    ScriptedPump peer([](const std::string& frame) -> std::optional<std::string> {
        if (frame == "/1?22") return std::string("/0`255");
        if (frame == "/1ZR") return std::string("/0@");
        if (frame == "/1?") return std::string("/0i1234");
        if (frame == "/1A0R") return std::string("/0");
        if (frame == "/1A1R") return std::string("/0E");
        if (frame == "/1A2R") return std::string("x0`");
        return std::nullopt;
    });
    auto pump = MakePump();
    ASSERT_TRUE(pump->Connect(peer.Path()));

    TSerialResponse r;
    EXPECT_TRUE(pump->SendCommand("ZR", r, true));
    EXPECT_EQ(r.Status, "");
    EXPECT_EQ(r.SentMessage, "/1ZR\r");
    EXPECT_EQ(r.Response, "/0@");
    EXPECT_EQ(pump->StatusAsString(), "Busy, No error");
    EXPECT_EQ(pump->LastCommand, "ZR");

    EXPECT_TRUE(pump->SendCommand("?", r, true));
    EXPECT_EQ(r.Response, "/0i1234");
    EXPECT_EQ(pump->StatusAsString(),
              "Ready, Syringe overload - Occurs when the syringe encounters excessive back pressure");

    // No answer although one was wanted: a failed exchange, the time-out in Status, the short
    // answer in the sink, and the state as it was.
    EXPECT_FALSE(pump->SendCommand("XYZ", r, true));
    EXPECT_EQ(r.Status, "Timeout while waiting for response, exiting");
    EXPECT_THAT(messages, ElementsAre("Set pump states failed. Used string: "));
    EXPECT_EQ(pump->State, EnumPumpState::ps_Syringe_overload__Occurs_when_the_syringe_encounters_excessive_back_pressure);
    EXPECT_EQ(pump->LastCommand, "XYZ");

    // Without an answer wanted the result is false and the state is not touched.
    EXPECT_FALSE(pump->SendCommand("TR", r, false));
    EXPECT_EQ(r.Status, "Exit read/write without waiting for reply");
    EXPECT_EQ(pump->LastCommand, "XYZ");
    EXPECT_THAT(peer.FramesAfter(5), ElementsAre("/1?22", "/1ZR", "/1?", "/1XYZ", "/1TR"));

    // Answers without a known status character say nothing of what the pump did with the
    // command: failed exchanges, never accepted commands.
    pump->Busy = true;
    for (const std::string command : {"A0R", "A2R", "A1R"}) {
        SCOPED_TRACE(command);
        EXPECT_FALSE(pump->SendCommand(command, r, true));
        EXPECT_EQ(r.Status, kPumpNoStatus + r.Response + "\"");
        EXPECT_EQ(pump->Busy, command != "A1R");  // only a pump answer with an unknown status clears it
        EXPECT_EQ(pump->State,
                  EnumPumpState::ps_Syringe_overload__Occurs_when_the_syringe_encounters_excessive_back_pressure);
    }
}

// ---------------------------------------------------------------------------------------------
// Stop

TEST_F(PumpFixture, StopOfAPumpThatComesToRest) {
    int queries = 0;
    ScriptedPump peer(
        [&](const std::string& frame) -> std::optional<std::string> {
            if (frame == "/1?22") return std::string("/0`255");
            if (frame == "/1T") return std::string("/0@");
            return std::string(++queries < 3 ? "/0@" : "/0`");
        },
        &clock);
    auto pump = MakePump();
    ASSERT_TRUE(pump->Connect(peer.Path()));
    EXPECT_TRUE(pump->Stop());
    EXPECT_THAT(peer.Frames(), ElementsAre("/1?22", "/1T", "/1Q", "/1Q", "/1Q"));
    EXPECT_EQ(pump->StatusAsString(), "Ready, No error");
}

TEST_F(PumpFixture, StopOfAPumpStuckBusyGivesUpAfterFiveSeconds) {
    ScriptedPump peer(AnswersWith('@'), &clock);
    auto pump = MakePump();
    ASSERT_TRUE(pump->Connect(peer.Path()));
    const double start = clock.MonotonicSeconds();
    EXPECT_FALSE(pump->Stop());
    const double took = clock.MonotonicSeconds() - start;
    EXPECT_GT(took, 5.0);
    EXPECT_LT(took, 5.0 + 0.5);  // one pass beyond the limit at most
    EXPECT_TRUE(pump->Busy);
    auto frames = peer.Frames();
    ASSERT_GE(frames.size(), 3u);
    EXPECT_EQ(frames[1], "/1T");
    // A pass is a 100 ms wait and one exchange of about a third of a second: about ten queries.
    const auto queries = std::count(frames.begin(), frames.end(), "/1Q");
    EXPECT_GE(queries, 10);
    EXPECT_LE(queries, 12);
}

TEST_F(PumpFixture, StopFailsWhenThePumpEndsInAnErrorOrIsAbsent) {
    ScriptedPump overloaded(AnswersWith('j'), &clock);
    auto pump = MakePump();
    ASSERT_TRUE(pump->Connect(overloaded.Path()));
    EXPECT_FALSE(pump->Stop());
    EXPECT_THAT(overloaded.Frames(), ElementsAre("/1?22", "/1T"));

    auto absent = MakePump();
    EXPECT_FALSE(absent->Connect("/dev/moirex-no-such-port"));
    EXPECT_FALSE(absent->Stop());
    EXPECT_TRUE(messages.empty());
}

// A pump that falls silent, before or after it answered the terminate command busy, may still
// be moving: the stop tries for its 5 s and fails, and the caller hears of every lost answer. A
// single lost answer is tried again.
TEST_F(PumpFixture, StopOfAPumpThatFallsSilent) {
    struct Case {
        const char* name;
        int answered;  // answers after the connect query before silence
        bool stopped;
        const char* resend;  // what the stop sends after the silence
    };
    for (const Case c : {Case{"silent at once", 0, false, "/1T"}, Case{"busy, then silent", 1, false, "/1Q"},
                         Case{"busy, one answer lost, then at rest", -1, true, "/1Q"}}) {
        SCOPED_TRACE(c.name);
        messages.clear();
        int answers = 0;
        ScriptedPump peer([&](const std::string& frame) -> std::optional<std::string> {
            if (frame == "/1?22") return std::string("/0`255");
            ++answers;
            if (c.answered >= 0 && answers > c.answered) return std::nullopt;
            if (c.answered < 0 && answers == 2) return std::nullopt;
            return std::string(answers < 3 ? "/0@" : "/0`");
        }, &clock);
        auto pump = MakePump();
        ASSERT_TRUE(pump->Connect(peer.Path()));
        const double start = clock.MonotonicSeconds();
        EXPECT_EQ(pump->Stop(), c.stopped);
        const auto frames = peer.Frames();
        ASSERT_GE(frames.size(), 3u);
        EXPECT_EQ(frames[2], c.resend);
        if (!c.stopped) {
            EXPECT_GT(clock.MonotonicSeconds() - start, 5.0);
            EXPECT_GE(messages.size(), 3u);
        }
    }
}

// ---------------------------------------------------------------------------------------------
// Pump type check and re-initialisation

namespace {

// A pump of the given type that reports standby after `busyQueries` busy status queries
// (never, when negative).
ScriptedPump::Script PumpOfType(std::string type, int busyQueries,
                                std::shared_ptr<std::atomic<int>> queries) {
    return [type, busyQueries, queries](const std::string& frame) -> std::optional<std::string> {
        if (frame.empty()) return std::string("/0b");
        if (frame == "/1TIR") return std::string("/0@");
        if (frame == "/1?26") return "/0`" + type;
        if (frame == "/1TZN2IV48000R") return std::string("/0@");
        if (frame == "/1Q") {
            ++*queries;
            bool busy = busyQueries < 0 || *queries <= busyQueries;
            return std::string(busy ? "/0@" : "/0`");
        }
        return std::string("/0b");
    };
}

}  // namespace

TEST_F(PumpFixture, PumpFindInitCurrentTypeReachesStandby) {
    auto queries = std::make_shared<std::atomic<int>>(0);
    ScriptedPump peer(PumpOfType("50", 2, queries), &clock);
    auto pump = MakePump();
    TPumpFeedbackLines feedback;
    EXPECT_TRUE(pump->PumpFindInit(peer.Path(), feedback));
    EXPECT_TRUE(pump->PumpOnStandby());
    const std::string port = peer.Path();
    // Three queries: 0.333 + 0.5 s each on top of the initialisation exchange -> "3 s".
    EXPECT_THAT(feedback.Lines,
                ElementsAre("", "Query port         :" + port, "Found pump on port :" + port,
                            "Initializing correct settings...", " -> /1TZN2IV48000R",
                            " -> Wait until pump is silent. Timeout in 50 seconds", " -> Elapsed: 3 s",
                            " -> Pump is OK and on standby."));
    EXPECT_THAT(peer.Frames(), ElementsAre("", "/1TIR", "/1?26", "/1TZN2IV48000R", "/1Q", "/1Q", "/1Q"));
    EXPECT_EQ(pump->State, EnumPumpState::ps_Undefined);  // the pump object's own link is not used
}

TEST_F(PumpFixture, PumpFindInitNeverReadyWaitsFiftySecondsAndStillSucceeds) {
    auto queries = std::make_shared<std::atomic<int>>(0);
    ScriptedPump peer(PumpOfType("PSD/4 50", -1, queries), &clock, 2.0);
    auto pump = MakePump();
    TPumpFeedbackLines feedback;
    const double start = clock.MonotonicSeconds();
    EXPECT_TRUE(pump->PumpFindInit(peer.Path(), feedback));
    EXPECT_FALSE(pump->PumpOnStandby());
    EXPECT_GE(clock.MonotonicSeconds() - start, 50.0);
    ASSERT_GE(feedback.Lines.size(), 2u);
    EXPECT_EQ(feedback.Lines.back(),
              " -> Pump failed to report standby and error free within timeout period.");
    // The elapsed line was replaced pass by pass and ends a little beyond the limit.
    const std::string elapsed = feedback.Lines[feedback.Lines.size() - 2];
    int seconds = 0;
    ASSERT_EQ(std::sscanf(elapsed.c_str(), " -> Elapsed: %d s", &seconds), 1) << elapsed;
    EXPECT_EQ(elapsed, " -> Elapsed: " + std::to_string(seconds) + " s");
    EXPECT_GE(seconds, 50);
    EXPECT_LE(seconds, 53);
    // Each pass: a 2 s exchange (as the peer models a slow answer here) and the 500 ms wait.
    EXPECT_GE(queries->load(), 19);
    EXPECT_LE(queries->load(), 21);
}

TEST_F(PumpFixture, PumpFindInitOlderTypeIsRefused) {
    // "75" wins even when "50" is in the answer as well.
    for (const std::string type : {"75", "7550", "50 75"}) {
        auto queries = std::make_shared<std::atomic<int>>(0);
        ScriptedPump peer(PumpOfType(type, 0, queries), &clock);
        auto pump = MakePump();
        TPumpFeedbackLines feedback;
        EXPECT_FALSE(pump->PumpFindInit(peer.Path(), feedback)) << type;
        const std::string port = peer.Path();
        EXPECT_THAT(feedback.Lines,
                    ElementsAre("", "Query port         :" + port, "Found pump on port :" + port,
                                "However, this is old type pump using in few prototypes.",
                                "Use older version of the software or have your Moirex upgraded."));
        EXPECT_THAT(peer.Frames(), ElementsAre("", "/1TIR", "/1?26")) << "not initialised";
    }
}

TEST_F(PumpFixture, PumpFindInitWithoutPump) {
    ScriptedPump silent([](const std::string&) { return std::nullopt; });
    auto pump = MakePump();
    TPumpFeedbackLines feedback;
    EXPECT_FALSE(pump->PumpFindInit(silent.Path(), feedback));
    EXPECT_FALSE(pump->PumpOnStandby());
    const std::string port = silent.Path();
    EXPECT_THAT(feedback.Lines,
                ElementsAre("", "Query port         :" + port, "Send data          :/1?26\r",
                            "Comm Status        :Timeout while waiting for response, exiting",
                            "Comm Response      :\"\" -> No pump found on this port, or a problem with "
                            "the port. Read manual about drivers. Turn the Moirex off and few seconds "
                            "later on, and try again."));

    TPumpFeedbackLines absent;
    EXPECT_FALSE(pump->PumpFindInit("/dev/moirex-no-such-port", absent));
    ASSERT_EQ(absent.Lines.size(), 5u);
    EXPECT_EQ(absent.Lines[3], "Comm Status        :Failed to setup Com port, port in use");
}
