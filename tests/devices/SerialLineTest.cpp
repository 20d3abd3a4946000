// The line owner of a claimed port: the exchanges of several threads one after the other, tickets
// and Stop's drop, the reopen after an unplug, the instrument checked again after it, the line
// kept unsettled after an answer that was cut short, and a second master that reaches nothing.

#include "devices/SerialLine.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <thread>
#include <vector>

#include "devices/InstrumentIdentity.h"
#include "devices/PortClaim.h"
#include "devices/PtyPeer.h"
#include "devices/SerialPortVogtlin.h"
#include "devices/UnitMFC.h"
#include "sim/Emulator.h"
#include "sim/QuickEmulator.h"

namespace moirex {
namespace {

namespace fs = std::filesystem;
using sim::Instrument;

TSerialResponse WriteSetPoint(const std::string& port, float flow) {
    TVogtlinPort p;
    p.UseControllerSettings(port);
    return p.WriteF32(1, mfcreg::SetPoint, flow);
}

class LineOwner : public ::testing::Test {
protected:
    LineOwner() {
        folder_ = fs::temp_directory_path() / ("moirex-line-test-" + std::to_string(::getpid()));
        fs::remove_all(folder_);
        ::setenv("MOIREX_CLAIM_FOLDER", (folder_ / "claims").c_str(), 1);
    }
    ~LineOwner() override {
        emulator_.reset();
        ::unsetenv("MOIREX_CLAIM_FOLDER");
        fs::remove_all(folder_);
    }
    sim::EmulatorOptions Options(uint32_t serialA = 21034711) const {
        sim::EmulatorOptions o = testing_sim::QuickEmulator((folder_ / "sim").string());
        o.ControllerA.Serial = serialA;
        return o;
    }
    sim::Emulator& Start(uint32_t serialA = 21034711) {
        emulator_.reset();
        emulator_ = std::make_unique<sim::Emulator>(Options(serialA));
        return *emulator_;
    }
    std::string PortA() const { return (folder_ / "sim" / "mfc-a").string(); }
    static TSerialResponse ReadFlow(const std::string& port) {
        TVogtlinPort p;
        p.UseControllerSettings(port);
        return p.ReadF32(1, mfcreg::Flow);
    }

    fs::path folder_;
    std::unique_ptr<sim::Emulator> emulator_;
};

// The tick's set-point write and the worker's reads on one controller, at once: each waits for
// the other on the line instead of colliding at the port ("port in use").
TEST_F(LineOwner, ExchangesOfTwoThreadsNeverCollide) {
    Start();
    TMixerClaim claim("test");
    ASSERT_EQ(claim.Claim({PortA()}), "");
    std::atomic<int> failures{0};
    auto reader = [&] {
        for (int i = 0; i < 40; ++i)
            if (!ReadFlow(PortA()).Status.empty()) ++failures;
    };
    auto writer = [&] {
        for (int i = 0; i < 40; ++i)
            if (!WriteSetPoint(PortA(), 0.01f * static_cast<float>(i % 3)).Status.empty()) ++failures;
    };
    std::thread a(reader), b(writer), c(reader);
    a.join();
    b.join();
    c.join();
    EXPECT_EQ(failures.load(), 0);
    EXPECT_EQ(emulator_->RequestsSeen(Instrument::MfcA), 120u);
}

// The tick's way: a job handed over, its result taken later; Stop drops what has not begun.
TEST_F(LineOwner, TicketsAndStopsDropOfWhatHasNotBegun) {
    Start();
    TMixerClaim claim("test");
    ASSERT_EQ(claim.Claim({PortA()}), "");
    auto line = LineOf(PortA());
    ASSERT_NE(line, nullptr);
    std::atomic<bool> release{false}, started{false};
    std::atomic<int> done{0};
    const std::string port = PortA();
    auto slow = line->Submit<TSerialResponse>(
        [&release, &started, port] {
            started = true;
            while (!release) std::this_thread::sleep_for(std::chrono::milliseconds(1));
            return ReadFlow(port);
        },
        [&done] { ++done; });
    while (!started) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    std::vector<TLineTicket<TSerialResponse>> queued;
    for (int i = 0; i < 3; ++i)
        queued.push_back(line->Submit<TSerialResponse>([port] { return WriteSetPoint(port, 0.05f); }, [&done] { ++done; }));
    EXPECT_FALSE(slow.Ready());
    line->DropPending();
    EXPECT_TRUE(line->StopRequested());
    for (auto& t : queued) {
        ASSERT_TRUE(t.Ready());
        EXPECT_TRUE(t.Dropped());
        EXPECT_EQ(t.Result().Status, kStatusDropped);
    }
    release = true;
    ASSERT_TRUE(slow.WaitFor(5));
    EXPECT_FALSE(slow.Dropped());
    EXPECT_EQ(slow.Result().Status, "");
    // The done call comes on the line's thread right after the result is set: wait for it.
    for (int i = 0; i < 5000 && done.load() < 4; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    EXPECT_EQ(done.load(), 4);
    EXPECT_EQ(emulator_->Mfc(Instrument::MfcA).SetPoint, 0.0f) << "a dropped write reached the controller";
    // The next job is served as usual.
    EXPECT_EQ(line->Submit<TSerialResponse>([port] { return ReadFlow(port); }).Result().Status, "");
    EXPECT_FALSE(line->StopRequested());
}

// An unplugged adapter, plugged in again: the owner reopens the port (under its new device) and
// goes on once the controller has said it is the one validated.
TEST_F(LineOwner, ReopensAfterAnUnplugAndChecksTheInstrument) {
    sim::Emulator& emulator = Start();
    TMixerClaim claim("test");
    ASSERT_EQ(claim.Claim({PortA()}), "");
    ExpectInstrument(PortA(), MFCIdentity("MFC A", 1, 21034711));
    ASSERT_EQ(ReadFlow(PortA()).Status, "");
    emulator.Unplug(Instrument::MfcA);
    EXPECT_NE(ReadFlow(PortA()).Status, "");
    emulator.Plug(Instrument::MfcA);
    const uint64_t before = emulator.RequestsSeen(Instrument::MfcA);
    EXPECT_EQ(ReadFlow(PortA()).Status, "");
    EXPECT_EQ(emulator.RequestsSeen(Instrument::MfcA), before + 2) << "the serial number first, then the read";
    auto line = LineOf(PortA());
    ASSERT_NE(line, nullptr);
    EXPECT_EQ(line->Reopens(), 1u);
    EXPECT_TRUE(line->IsOpen());
    EXPECT_EQ(line->IdentityRefusal(), "");
    // The new pseudo-terminal is claimed too: no one else gets it.
    TMixerClaim other("moirexctl mfc info");
    EXPECT_NE(other.Claim({emulator.Mfc(Instrument::MfcA).Device}), "");
}

// The emulator killed during a run, its port name later leading to other instruments: the
// controller there is asked its serial number and never commanded.
TEST_F(LineOwner, ReplacedInstrumentIsNeverCommanded) {
    Start(21034711);
    TMixerClaim claim("moirexctl run");
    ASSERT_EQ(claim.Claim({PortA()}), "");
    ExpectInstrument(PortA(), MFCIdentity("MFC A", 1, 21034711));
    ASSERT_EQ(WriteSetPoint(PortA(), 0.02f).Status, "");

    sim::Emulator& other = Start(21034799);  // another program's instruments behind the same name
    const TSerialResponse w = WriteSetPoint(PortA(), 0.03f);
    EXPECT_NE(w.Status, "");
    auto line = LineOf(PortA());
    ASSERT_NE(line, nullptr);
    const std::string expected =
        "MFC A on " + PortA() + " is now serial 21034799, validated as 21034711: the run stops";
    EXPECT_EQ(line->IdentityRefusal(), expected);
    EXPECT_EQ(WriteSetPoint(PortA(), 0.0f).Status, expected) << "nothing is sent once refused";
    EXPECT_EQ(ReadFlow(PortA()).Status, kStatusNoResult);
    EXPECT_EQ(other.RequestsSeen(Instrument::MfcA), 1u) << "only the serial number was asked";
    EXPECT_EQ(other.Mfc(Instrument::MfcA).SetPoint, 0.0f);
}

// An answer cut in two, its tail late: the read that got the head fails, and the tail must not
// be taken for (part of) the next answer: the line is left unsettled and falls quiet first.
TEST_F(LineOwner, LineIsNotLeftSettledAfterAShortAnswer) {
    sim::Emulator& emulator = Start();
    TMixerClaim claim("test");
    ASSERT_EQ(claim.Claim({PortA()}), "");
    ASSERT_EQ(WriteSetPoint(PortA(), 0.0f).Status, "");
    for (int tailMs : {30, 120}) {
        SCOPED_TRACE(tailMs);
        sim::ScheduledFault split;
        split.Fault = sim::AnswerFault::Split;
        split.Code = tailMs;
        emulator.ScheduleFault(Instrument::MfcA, 1, split);
        EXPECT_EQ(ReadFlow(PortA()).Status, kStatusWrongAmount);
        for (int i = 0; i < 3; ++i) {
            const TSerialResponse r = ReadFlow(PortA());
            EXPECT_EQ(r.Status, "") << "read " << i << " after the split answer";
            EXPECT_EQ(r.AsFloat, 0.0f);
        }
    }
}

// A second master while a run owns the ports: another process (this test program again, running
// SecondProcess only) is refused at once by every way it tries, and not one request reaches the
// instruments (the emulator counts them).
TEST_F(LineOwner, SecondProcessReachesNothing) {
    sim::Emulator& emulator = Start();
    const std::string pump = (folder_ / "sim" / "pump").string();
    const std::string mfcB = (folder_ / "sim" / "mfc-b").string();
    TMixerClaim run("moirexctl run");
    ASSERT_EQ(run.Claim({pump, PortA(), mfcB}), "");
    const uint64_t a = emulator.RequestsSeen(Instrument::MfcA), b = emulator.RequestsSeen(Instrument::MfcB),
                   p = emulator.RequestsSeen(Instrument::Pump);

    int report[2];
    ASSERT_EQ(::pipe(report), 0);
    std::vector<std::string> env;
    for (char** e = environ; *e != nullptr; ++e) env.emplace_back(*e);
    env.push_back("MOIREX_TEST_PORTS=" + pump + "," + emulator.Mfc(Instrument::MfcA).Device + "," + mfcB);
    env.push_back("MOIREX_TEST_REPORT=" + std::to_string(report[1]));
    std::vector<char*> envp;
    for (auto& e : env) envp.push_back(e.data());
    envp.push_back(nullptr);
    std::string exe = fs::read_symlink("/proc/self/exe").string();
    std::string filter = "--gtest_filter=SecondProcess.TriesThePortsOfARun";
    char* argv[] = {exe.data(), filter.data(), nullptr};
    const int quiet = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        if (quiet >= 0) ::dup2(quiet, STDOUT_FILENO);
        ::execve(exe.c_str(), argv, envp.data());
        ::_exit(127);
    }
    if (quiet >= 0) ::close(quiet);
    ::close(report[1]);
    std::string said;
    char buffer[512];
    for (ssize_t n; (n = ::read(report[0], buffer, sizeof buffer)) > 0;) said.append(buffer, static_cast<size_t>(n));
    ::close(report[0]);
    int status = 0;
    ::waitpid(child, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << said;
    EXPECT_NE(said.find(" is in use by moirexctl run (PID " + std::to_string(::getpid()) + ") since "),
              std::string::npos)
        << said;
    EXPECT_EQ(emulator.RequestsSeen(Instrument::MfcA), a);
    EXPECT_EQ(emulator.RequestsSeen(Instrument::MfcB), b);
    EXPECT_EQ(emulator.RequestsSeen(Instrument::Pump), p);
}

// The second process's half of SecondProcessReachesNothing; skipped unless started by it.
TEST(SecondProcess, TriesThePortsOfARun) {
    const char* ports = std::getenv("MOIREX_TEST_PORTS");
    const char* report = std::getenv("MOIREX_TEST_REPORT");
    if (ports == nullptr || report == nullptr) GTEST_SKIP() << "runs as the child of SecondProcessReachesNothing";
    std::vector<std::string> names;
    std::stringstream in(ports);
    for (std::string name; std::getline(in, name, ',');) names.push_back(name);
    ASSERT_EQ(names.size(), 3u);
    const int out = std::atoi(report);
    // The claim first, as every master takes it...
    const std::string refusal = ProcessMixerClaim().Claim(names);
    (void)!::write(out, refusal.data(), refusal.size());
    EXPECT_FALSE(refusal.empty());
    // ...and the drivers without one: the ports are held open and exclusive by the run.
    TMFCDetails details;
    details.ComPortName = names[1];
    details.ModBusAddress = 1;
    ReadMFCDetails(details);
    EXPECT_FALSE(details.Validated);
    EXPECT_EQ(WriteSetPoint(names[2], 0.5f).Status, kStatusPortInUse);
    TSerialPort pump;
    pump.SetPort(names[0]);
    EXPECT_EQ(pump.Send2("/1?22\r", true).Status, kStatusPortInUse);
    ::close(out);
}

}  // namespace
}  // namespace moirex
