// The guardian's pieces inside one process: how it reads the heartbeat, its stop on the emulator
// (confirmed by reading back; an instrument that is not the validated one is not commanded), its
// account, and the run's mark that the next start finds by any name of a port.

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <filesystem>
#include <memory>
#include <thread>
#include <tuple>

#include "config/ConfigFixture.h"
#include "core/Guardian.h"
#include "core/UnendedRun.h"
#include "devices/PortClaim.h"
#include "devices/SerialPortVogtlin.h"
#include "devices/UnitMFC.h"
#include "sim/Emulator.h"
#include "sim/QuickEmulator.h"
#include "support/DateTime.h"

namespace moirex {
namespace {

namespace fs = std::filesystem;
using sim::Instrument;

// The three ways a watch ends: the word, the socket's end, silence.
TEST(GuardianWatch, EndsOnTheWordOnTheSocketsEndAndOnSilence) {
    const struct {
        const char* name;
        const char* sent;  // written, one byte every 20 ms
        bool closeAfter;
        TWatchEnd end;
    } cases[] = {
        {"beats, then the word", "....E", false, TWatchEnd::weFinished},
        {"beats, then the end of the socket", "....", true, TWatchEnd::weDied},
        {"beats, then nothing", "....", false, TWatchEnd::weFroze},
        {"nothing at all", "", false, TWatchEnd::weFroze},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        int sv[2];
        ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM, 0, sv), 0);
        std::thread controller([&] {
            for (const char* p = c.sent; *p; ++p) {
                std::this_thread::sleep_for(std::chrono::milliseconds(20));
                (void)::send(sv[0], p, 1, MSG_NOSIGNAL);
            }
            if (c.closeAfter) ::close(sv[0]);
        });
        // Beats every 20 ms keep a 0.3 s guard time from running out.
        EXPECT_EQ(WatchController(sv[1], 0.3), c.end);
        controller.join();
        if (!c.closeAfter) ::close(sv[0]);
        ::close(sv[1]);
    }
}

TEST(GuardianAccount, SaysWhatWasConfirmedAndWhatNot) {
    const TDateTime when = EncodeDateTime(2026, 12, 10, 14, 2, 11, 0);
    TGuardianStop all;
    all.Pump = all.MfcA = all.MfcB = true;
    EXPECT_EQ(GuardianAccount(when, all),
              "Run ended without its stop procedure at 2026-12-10 14:02:11: the guardian stopped the pump "
              "(confirmed), MFC A (confirmed), MFC B (confirmed)");
    TGuardianStop noB = all;
    noB.MfcB = false;
    noB.NoteB = "set-point 0 refused";
    EXPECT_EQ(GuardianAccount(when, noB),
              "Run ended without its stop procedure at 2026-12-10 14:02:11: the guardian stopped the pump "
              "(confirmed), MFC A (confirmed); could not confirm MFC B (set-point 0 refused)");
    const TGuardianStop none;
    EXPECT_EQ(GuardianAccount(when, none),
              "Run ended without its stop procedure at 2026-12-10 14:02:11: the guardian could not confirm the "
              "pump, MFC A, MFC B");
}

class GuardianOnEmulator : public testing_config::HomeFolderTest {
protected:
    static sim::EmulatorOptions Options(const fs::path& home) {
        return testing_sim::QuickEmulator((home / "sim").string());
    }
    GuardianOnEmulator() : emulator(Options(home)) {
        run.Holder = "moirexctl run";
        run.PumpPort = emulator.PortPath(Instrument::Pump);
        run.PortA = emulator.PortPath(Instrument::MfcA);
        run.PortB = emulator.PortPath(Instrument::MfcB);
        run.SerialA = sim::DefaultControllerA().Serial;
        run.SerialB = sim::DefaultControllerB().Serial;
        run.StopRetrySeconds = 0;  // one pass
    }
    ~GuardianOnEmulator() override { emulator.Stop(); }

    // The instruments as a run leaves them: both controllers flowing, the pump dosing.
    void Flowing() {
        for (const auto& [port, address, flow] : {std::tuple{run.PortA, 1u, 0.01f}, std::tuple{run.PortB, 2u, 0.02f}}) {
            TVogtlinPort mfc;
            mfc.UseControllerSettings(port, 100);
            ASSERT_EQ(mfc.WriteF32(address, mfcreg::SetPoint, flow).Status, "");
        }
    }

    sim::Emulator emulator;
    TGuardianRun run;
};

TEST_F(GuardianOnEmulator, StopsEveryInstrumentConfirmed) {
    Flowing();
    const TGuardianStop stop = GuardianStop(run, SystemClock(), {});
    EXPECT_TRUE(stop.AllConfirmed()) << stop.NotePump << " / " << stop.NoteA << " / " << stop.NoteB;
    EXPECT_EQ(emulator.Mfc(Instrument::MfcA).SetPoint, 0.0f);
    EXPECT_EQ(emulator.Mfc(Instrument::MfcB).SetPoint, 0.0f);
    EXPECT_FALSE(emulator.Pump().Busy);
}

// A controller that is not the one validated for the run (a renumbered adapter) is not commanded;
// one that refuses its set-point is not confirmed. The others are stopped all the same.
TEST_F(GuardianOnEmulator, OtherInstrumentIsNotCommandedAndARefusalIsNotConfirmed) {
    Flowing();
    run.SerialB = run.SerialB + 88;
    emulator.SetRefuseSetPoint(Instrument::MfcA, true);
    const TGuardianStop stop = GuardianStop(run, SystemClock(), {});
    EXPECT_TRUE(stop.Pump);
    EXPECT_FALSE(stop.MfcA);
    EXPECT_NE(stop.NoteA.find("set-point 0 refused"), std::string::npos) << stop.NoteA;
    EXPECT_FALSE(stop.MfcB);
    EXPECT_NE(stop.NoteB.find("validated as " + std::to_string(run.SerialB) + ": not commanded"), std::string::npos)
        << stop.NoteB;
    EXPECT_GT(emulator.Mfc(Instrument::MfcB).SetPoint, 0.0f);
}

// A pump of another type on the pump's port (an older pump plugged in its place) is asked what it
// is and nothing more.
TEST_F(GuardianOnEmulator, PumpOfAnotherTypeIsNotCommanded) {
    sim::EmulatorOptions o = Options(home / "older");
    o.PumpType = 75;
    sim::Emulator older(o);
    run.PumpPort = older.PortPath(Instrument::Pump);
    const uint64_t before = older.RequestsSeen(Instrument::Pump);
    const TGuardianStop stop = GuardianStop(run, SystemClock(), {});
    EXPECT_FALSE(stop.Pump);
    EXPECT_NE(stop.NotePump.find("is now type"), std::string::npos) << stop.NotePump;
    EXPECT_NE(stop.NotePump.find("validated as 50: not commanded"), std::string::npos) << stop.NotePump;
    EXPECT_EQ(older.RequestsSeen(Instrument::Pump), before + 1) << "only the type query";
    EXPECT_TRUE(stop.MfcA && stop.MfcB) << stop.NoteA << " / " << stop.NoteB;
    older.Stop();
}

// Whose port it is: one that another program holds is never commanded, whatever it does with it;
// one that the controller itself still holds (frozen, its claim not handed over) is waited for and
// taken once it is let go.
TEST_F(GuardianOnEmulator, PortOfAnotherProgramIsNeverCommandedTheControllersIsTakenWhenFree) {
    const struct {
        const char* name;
        bool heldByController;
        bool commanded;
    } cases[] = {
        {"another program holds MFC B", false, false},
        {"the frozen controller holds MFC B, then lets it go", true, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Flowing();
        auto holder = std::make_unique<TMixerClaim>(c.heldByController ? "moirexctl run" : "moirexctl mfc");
        ASSERT_EQ(holder->Claim({run.PortB}), "");
        // This process stands for the controller, or for a program that is not the controller.
        run.ControllerPid = c.heldByController ? ::getpid() : ::getpid() + 1;
        run.StopRetrySeconds = c.heldByController ? 5 : 0;
        std::thread lettingGo;
        if (c.heldByController)
            lettingGo = std::thread([&] {
                std::this_thread::sleep_for(std::chrono::milliseconds(300));
                holder.reset();
            });
        const TGuardianStop stop = GuardianStop(run, SystemClock(), {});
        if (lettingGo.joinable()) lettingGo.join();
        EXPECT_TRUE(stop.Pump && stop.MfcA) << stop.NotePump << " / " << stop.NoteA;
        EXPECT_EQ(stop.MfcB, c.commanded) << stop.NoteB;
        if (c.commanded) {
            EXPECT_EQ(emulator.Mfc(Instrument::MfcB).SetPoint, 0.0f);
        } else {
            EXPECT_EQ(emulator.Mfc(Instrument::MfcB).SetPoint, 0.02f);
            EXPECT_NE(stop.NoteB.find("is in use by moirexctl mfc (PID " + std::to_string(::getpid()) + ")"),
                      std::string::npos)
                << stop.NoteB;
            EXPECT_NE(stop.NoteB.find(": not commanded"), std::string::npos) << stop.NoteB;
        }
    }
}

// The run's mark: found by another name of one of its ports, not while its process still runs,
// gone once cleared; without the guardian's account it tells what the instruments were doing.
TEST_F(GuardianOnEmulator, MarkOfAnUnendedRunIsFoundByAnyNameOfItsPorts) {
    TUnendedRun mark;
    mark.Holder = "moirexctl run";
    mark.Pid = ::getpid();
    mark.Started = "2026-12-10 14:02:11";
    mark.PumpPort = run.PumpPort;
    mark.PortA = run.PortA;
    mark.PortB = run.PortB;
    std::string error;
    ASSERT_TRUE(MarkRunUnderWay(mark, error)) << error;
    const std::string device = fs::read_symlink(run.PortB).string();  // /dev/pts/N
    EXPECT_TRUE(UnendedRunsOn({device}).empty()) << "this process still runs: its run is no unended one";

    TUnendedRun dead = mark;
    dead.Pid = 999999999;  // no such process
    ASSERT_TRUE(WriteUnendedRun(dead));
    EXPECT_TRUE(UnendedRunsOn({"/dev/null"}).empty());
    const std::vector<TUnendedRun> found = UnendedRunsOn({device});
    ASSERT_EQ(found.size(), 1u);
    EXPECT_EQ(found[0].Started, "2026-12-10 14:02:11");

    Flowing();
    const TFoundInstruments seen = LookAtInstruments(found[0]);
    const std::vector<std::string> lines = UnendedRunLines(found[0], seen);
    ASSERT_GE(lines.size(), 2u);
    EXPECT_NE(lines[0].find("did not end, and no guardian could stop it"), std::string::npos) << lines[0];
    EXPECT_NE(lines[1].find("MFC A set-point 0.01 g/min (flowing), MFC B set-point 0.02 g/min (flowing)"),
              std::string::npos)
        << lines[1];

    ClearRunMark(found[0].Path);
    EXPECT_TRUE(UnendedRunsOn({device}).empty());
}

}  // namespace
}  // namespace moirex
