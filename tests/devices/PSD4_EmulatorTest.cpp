// The syringe pump driver against the emulated pump: the type check of both pump types with the
// standby wait, the stop of a pump stuck busy, the error state, a short answer and silence.
// Driver and emulated pump share one fast-forward clock, so the pump's moves and the driver's
// time limits agree while the test takes a fraction of the real time.

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "devices/PSD4_Interface.h"
#include "sim/Emulator.h"
#include "support/Clock.h"

using namespace moirex;
using ::testing::ElementsAre;

namespace {

// Runs `Factor` times faster than real time; a wait of the driver counts in full but takes only
// a tenth of its length, at most 10 ms, of real time.
class FastForwardClock final : public Clock {
public:
    static constexpr double Factor = 10.0;

    double MonotonicSeconds() const override {
        const double real = std::chrono::duration<double>(std::chrono::steady_clock::now() - origin_).count();
        return real * Factor + offset_.load();
    }
    void SleepMs(int64_t ms) override {
        if (ms <= 0) return;
        const double realMs = std::min(static_cast<double>(ms) / Factor, 10.0);
        std::this_thread::sleep_for(std::chrono::duration<double, std::milli>(realMs));
        const double extra = (static_cast<double>(ms) - realMs * Factor) / 1000.0;
        double now = offset_.load();
        while (!offset_.compare_exchange_weak(now, now + extra)) {
        }
    }

private:
    std::chrono::steady_clock::time_point origin_ = std::chrono::steady_clock::now();
    std::atomic<double> offset_{0.0};
};

struct EmulatedPump : ::testing::Test {
    FastForwardClock clock;
    std::vector<std::string> messages;
    std::unique_ptr<sim::Emulator> emulator;
    std::string folder;

    void Start(int type) {
        folder = (std::filesystem::path(::testing::TempDir()) /
                  ("moirex-psd4-" + std::to_string(::getpid()) + "-" +
                   ::testing::UnitTest::GetInstance()->current_test_info()->name()))
                     .string();
        sim::EmulatorOptions options;
        options.RuntimeFolder = folder;
        options.Paced = false;
        options.PhysicsClock = &clock;
        options.Noise = false;
        options.PumpType = type;
        emulator = std::make_unique<sim::Emulator>(options);
    }

    void TearDown() override {
        emulator.reset();
        std::error_code ec;
        std::filesystem::remove_all(folder, ec);
    }

    std::string Port() const { return emulator->PortPath(sim::Instrument::Pump); }

    std::unique_ptr<TPSD4> MakePump() {
        auto pump = std::make_unique<TPSD4>(
            [this](const std::string& m) { messages.push_back(m); }, clock);
        pump->PortTiming = TPumpPortTiming{5, 150};
        return pump;
    }
};

}  // namespace

TEST_F(EmulatedPump, CurrentTypeIsInitialisedAndReportsStandby) {
    Start(50);
    auto pump = MakePump();
    TPumpFeedbackLines feedback;
    EXPECT_TRUE(pump->PumpFindInit(Port(), feedback));
    EXPECT_TRUE(pump->PumpOnStandby());
    ASSERT_EQ(feedback.Lines.size(), 8u);
    EXPECT_EQ(feedback.Lines[2], "Found pump on port :" + Port());
    EXPECT_EQ(feedback.Lines[4], " -> /1TZN2IV48000R");
    EXPECT_EQ(feedback.Lines[7], " -> Pump is OK and on standby.");
    EXPECT_TRUE(emulator->Pump().Initialised);
    EXPECT_FALSE(emulator->Pump().Busy);

    // The pump is now ready for the connect query and commands of the other tools.
    auto tool = MakePump();
    ASSERT_TRUE(tool->Connect(Port()));
    TSerialResponse r;
    EXPECT_TRUE(tool->SendCommand("Q", r, true));
    EXPECT_EQ(r.Status, "");
    EXPECT_EQ(tool->StatusAsString(), "Ready, No error");
    EXPECT_TRUE(messages.empty());
}

TEST_F(EmulatedPump, OlderTypeIsNotInitialised) {
    Start(75);
    auto pump = MakePump();
    TPumpFeedbackLines feedback;
    EXPECT_FALSE(pump->PumpFindInit(Port(), feedback));
    EXPECT_THAT(feedback.Lines,
                ElementsAre("", "Query port         :" + Port(), "Found pump on port :" + Port(),
                            "However, this is old type pump using in few prototypes.",
                            "Use older version of the software or have your Moirex upgraded."));
    EXPECT_FALSE(emulator->Pump().Initialised);
}

TEST_F(EmulatedPump, StopOfAPumpStuckBusy) {
    Start(50);
    emulator->SetPumpStuckBusy(true);
    auto pump = MakePump();
    ASSERT_TRUE(pump->Connect(Port()));
    const double start = clock.MonotonicSeconds();
    EXPECT_FALSE(pump->Stop());
    const double took = clock.MonotonicSeconds() - start;
    EXPECT_GT(took, 5.0);
    EXPECT_LT(took, 7.0);
    EXPECT_TRUE(pump->Busy);
    EXPECT_EQ(pump->StatusAsString().rfind("Busy, ", 0), 0u) << pump->StatusAsString();

    // Once the pump moves again the same stop succeeds.
    emulator->SetPumpStuckBusy(false);
    auto again = MakePump();
    ASSERT_TRUE(again->Connect(Port()));
    EXPECT_TRUE(again->Stop());
    EXPECT_TRUE(messages.empty());
}

// The stop procedure and each new segment stop a pump that is running a dosing loop, which goes
// on until it is told to stop.
TEST_F(EmulatedPump, StopOfAPumpRunningADosingLoop) {
    Start(50);
    {
        auto pump = MakePump();
        TPumpFeedbackLines feedback;
        ASSERT_TRUE(pump->PumpFindInit(Port(), feedback));
        ASSERT_TRUE(pump->PumpOnStandby());
    }
    auto dosing = MakePump();
    ASSERT_TRUE(dosing->Connect(Port()));
    TSerialResponse r;
    ASSERT_TRUE(dosing->SendCommand("gIV6000A24000OV100A0GR", r, true));
    EXPECT_EQ(r.Status, "");
    ASSERT_TRUE(emulator->Pump().Busy);

    auto stopper = MakePump();
    ASSERT_TRUE(stopper->Connect(Port()));
    EXPECT_TRUE(stopper->Busy);
    EXPECT_TRUE(stopper->Stop());
    EXPECT_EQ(stopper->StatusAsString(), "Ready, No error");
    EXPECT_FALSE(emulator->Pump().Busy);
    EXPECT_TRUE(messages.empty());
}

// One mistyped command leaves the pump reporting "invalid command" until a valid one; the next
// tool still reaches it and can send that command.
TEST_F(EmulatedPump, InvalidCommandDoesNotLockTheToolsOut) {
    Start(50);
    {
        auto pump = MakePump();
        TPumpFeedbackLines feedback;
        ASSERT_TRUE(pump->PumpFindInit(Port(), feedback));
        ASSERT_TRUE(pump->PumpOnStandby());
    }
    auto typo = MakePump();
    ASSERT_TRUE(typo->Connect(Port()));
    TSerialResponse r;
    EXPECT_TRUE(typo->SendCommand("XQZ", r, true));
    EXPECT_EQ(typo->State, EnumPumpState::ps_Invalid_command__Occurs_when_an_unrecognized_command_is_used);

    auto tool = MakePump();
    ASSERT_TRUE(tool->Connect(Port()));
    EXPECT_FALSE(tool->Stop()) << "the stop reports the error truthfully";
    EXPECT_TRUE(tool->SendCommand("IR", r, true));
    EXPECT_EQ(tool->State, EnumPumpState::ps_No_error) << r.Response;
    EXPECT_TRUE(tool->Stop());
    EXPECT_EQ(tool->StatusAsString(), "Ready, No error");
}

TEST_F(EmulatedPump, ErrorStateAndShortAnswerAndSilence) {
    Start(50);
    emulator->SetPumpError(9);  // syringe overload
    auto pump = MakePump();
    ASSERT_TRUE(pump->Connect(Port())) << "a pump reporting an error is still there";
    TSerialResponse r;
    EXPECT_TRUE(pump->SendCommand("Q", r, true));
    EXPECT_EQ(pump->State,
              EnumPumpState::ps_Syringe_overload__Occurs_when_the_syringe_encounters_excessive_back_pressure)
        << r.Response;
    EXPECT_FALSE(pump->Stop());
    emulator->ClearFaults(sim::Instrument::Pump);

    // A short answer: a failed exchange, reported to the caller, busy and state as last reported.
    const EnumPumpState before = pump->State;
    emulator->InjectAnswerFault(sim::Instrument::Pump, sim::AnswerFault::Short);
    pump->Busy = true;
    EXPECT_FALSE(pump->SendCommand("Q", r, true));
    EXPECT_EQ(r.Status, kPumpNoStatus + r.Response + "\"");
    EXPECT_THAT(messages, ElementsAre("Set pump states failed. Used string: " + r.Response));
    EXPECT_LT(r.Response.size(), 3u);
    EXPECT_TRUE(pump->Busy);
    EXPECT_EQ(pump->State, before);

    emulator->SetSilent(sim::Instrument::Pump, true);
    auto silent = MakePump();
    EXPECT_FALSE(silent->Connect(Port()));
    EXPECT_EQ(silent->ConnectResponse().Status, "Timeout while waiting for response, exiting");
}
