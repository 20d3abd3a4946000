// The MFC worker on its own thread against the emulated controllers, its hand-overs served by a
// main-thread loop as the run controller serves them.

#include "core/MFCThread.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "core/MFCPassRules.h"
#include "devices/UnitMFC.h"
#include "sim/Emulator.h"
#include "sim/QuickEmulator.h"

namespace moirex {
namespace {

namespace fs = std::filesystem;
using sim::Instrument;

class MFCThreadTest : public ::testing::Test {
protected:
    static sim::EmulatorOptions Options() {
        return testing_sim::QuickEmulator(
            (fs::temp_directory_path() / ("moirex-h9-worker-" + std::to_string(::getpid()))).string(), 20);
    }
    MFCThreadTest() : options(Options()), emulator(options) {
        details.ComPortName = emulator.PortPath(Instrument::MfcA);
        details.ModBusAddress = 1;
        details.DynamicRangeCull = 20;
        details.MFCName = "MFC A";
        ManualClock quick;
        ReadMFCDetails(details, quick);
    }
    ~MFCThreadTest() override {
        if (worker) {
            threadData.In_ToStop = true;
            Serve([&] { return worker->BodyEnded(); });
            worker.reset();
        }
        emulator.Stop();
        fs::remove_all(options.RuntimeFolder);
    }

    // The worker's clock runs no faster than its exchanges: the pauses pass at once.
    void StartWorker(Clock& clock) {
        worker = std::make_unique<TMFCThread>(threadData, flowStatus, handOver, clock, 358,
                                              emulator.PortPath(Instrument::MfcB),
                                              [this](const std::string& m) { memo.push_back(m); });
        worker->OnHandOver = [this] {
            ++handOvers;
            stoppedAtHandOver.push_back(threadData.Out_Stopped);
        };
        worker->MFCD = details;
        worker->rules.LowFlow = 3.0 * details.LUT[details.ActiveLUT].RangeMin;
        worker->Start();
    }

    bool Serve(const std::function<bool()>& done, double seconds = 10) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(int64_t(seconds * 1000));
        while (!done()) {
            if (std::chrono::steady_clock::now() > deadline) return false;
            handOver.processPending();
            handOver.WaitForPending(5);
        }
        handOver.processPending();
        return true;
    }
    int MemoCount(const std::string& text) const {
        int n = 0;
        for (const auto& m : memo)
            for (size_t at = m.find(text); at != std::string::npos; at = m.find(text, at + 1)) ++n;
        return n;
    }

    sim::EmulatorOptions options;
    sim::Emulator emulator;
    TMFCDetails details;
    TThreadData threadData;
    TFlowStatus flowStatus;
    TQueuedHandOver handOver;
    std::unique_ptr<TMFCThread> worker;
    std::vector<std::string> memo;
    std::vector<bool> stoppedAtHandOver;
    int handOvers = 0;
};

TEST_F(MFCThreadTest, ConstantModeWritesOnceAndTheStopEndsWithZeroAndALastHandOver) {
    SteadyClock clock;
    StartWorker(clock);
    TGasItem a;
    a.Init();
    a.GasNameLong = "Oxygen";
    a.Mass = 0.01f;
    threadData.In_MixD = a;
    threadData.In_NewSegment = true;
    ASSERT_TRUE(Serve([&] { return handOvers >= 8; }));
    EXPECT_FALSE(threadData.In_NewSegment);
    EXPECT_EQ(MemoCount(" Thread: MFC A flow set to :"), 1);
    EXPECT_FLOAT_EQ(emulator.Mfc(Instrument::MfcA).SetPoint, 0.01f);
    EXPECT_GT(flowStatus.MFCA, 0);
    EXPECT_GE(flowStatus.MFCB, 0);
    EXPECT_FALSE(worker->Stopped.load());

    threadData.In_ToStop = true;
    ASSERT_TRUE(Serve([&] { return worker->BodyEnded(); }));
    EXPECT_TRUE(worker->Stopped.load());
    EXPECT_TRUE(threadData.Out_Stopped);  // the last hand-over came after Stopped
    ASSERT_FALSE(stoppedAtHandOver.empty());
    EXPECT_TRUE(stoppedAtHandOver.back());
    EXPECT_EQ(emulator.Mfc(Instrument::MfcA).SetPoint, 0.0f);
    ASSERT_FALSE(memo.empty());
    EXPECT_NE(memo.back().find(" MFC A: permanent stop"), std::string::npos);
    EXPECT_NE(memo.back().find(" Thread: MFC A flow set to :0 g/min"), std::string::npos);
}

// An outage of MFC B must not freeze gas A: the worker goes on pulsing MFC A between the low
// flow and zero, shows B's flow as -1 and asks B again only once a second. MFC A itself not
// answering does pause the pass, and a stop during that pause still zeroes MFC A.
TEST_F(MFCThreadTest, MFCBOutageKeepsPulsingGasAAndAStopDuringAPauseStillZeroesMFCA) {
    ManualClock clock;
    StartWorker(clock);
    const double lowFlow = 3.0 * details.LUT[details.ActiveLUT].RangeMin;
    TGasItem a;
    a.Init();
    a.GasNameLong = "Oxygen";
    a.Mass = static_cast<float>(0.4 * lowFlow);
    a.Pulsed = 0.4f;
    emulator.Unplug(Instrument::MfcB);
    threadData.In_MixD = a;
    threadData.In_NewSegment = true;

    std::set<float> setPoints;
    ASSERT_TRUE(Serve([&] {
        setPoints.insert(emulator.Mfc(Instrument::MfcA).SetPoint);
        return setPoints.count(0.0f) && setPoints.count(static_cast<float>(lowFlow)) && clock.MonotonicSeconds() > 3;
    })) << ::testing::PrintToString(setPoints);
    EXPECT_EQ(flowStatus.MFCB, -1);
    EXPECT_GT(flowStatus.MFCA, -1);
    const int bLines = MemoCount(CouldNotTalkToMFCB);
    EXPECT_GE(bLines, 1);
    EXPECT_LE(bLines, static_cast<int>(clock.MonotonicSeconds()) + 1);  // once a second, not every pass

    emulator.Plug(Instrument::MfcB);
    ASSERT_TRUE(Serve([&] { return flowStatus.MFCB >= 0; }));

    const int aLines = MemoCount(CouldNotTalkToMFCA);  // a loaded machine may miss a read-out
    emulator.Unplug(Instrument::MfcA);
    ASSERT_TRUE(Serve([&] { return MemoCount(CouldNotTalkToMFCA) > aLines && flowStatus.MFCA == -1; }));
    emulator.Plug(Instrument::MfcA);
    threadData.In_ToStop = true;
    ASSERT_TRUE(Serve([&] { return worker->BodyEnded(); }));
    EXPECT_EQ(emulator.Mfc(Instrument::MfcA).SetPoint, 0.0f);
    EXPECT_NE(memo.back().find(" MFC A: permanent stop"), std::string::npos);
}

// News during the pause after MFC A did not answer (here the stop request) ends the pause: the
// worker does not sit out the rest of the second before it learns of it.
TEST_F(MFCThreadTest, NudgeEndsThePauseAfterMFCAFailed) {
    SteadyClock clock;
    emulator.Unplug(Instrument::MfcA);
    StartWorker(clock);
    ASSERT_TRUE(Serve([&] { return MemoCount(CouldNotTalkToMFCA) >= 1; }));
    // The pause has begun with the memo line's hand-over; ask for the stop in its first tenth.
    const auto asked = std::chrono::steady_clock::now();
    threadData.In_ToStop = true;
    worker->Nudge();
    ASSERT_TRUE(Serve([&] { return worker->BodyEnded(); }));
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - asked).count();
    EXPECT_LT(seconds, 0.6);  // without the nudge: the rest of the second, and a failed pass more
    EXPECT_TRUE(worker->Stopped.load());
}

}  // namespace
}  // namespace moirex
