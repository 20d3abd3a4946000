#include "core/MainThreadHandOver.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "core/ThreadData.h"

namespace moirex {
namespace {

using namespace std::chrono_literals;

// The main thread's loop as the command-line tool runs it: drain, then a short pause.
template <typename Pred>
void PumpUntil(TQueuedHandOver& handOver, Pred done) {
    const auto deadline = std::chrono::steady_clock::now() + 10s;
    while (!done()) {
        handOver.processPending();
        handOver.WaitForPending(5);
        ASSERT_LT(std::chrono::steady_clock::now(), deadline) << "the worker never finished";
    }
    handOver.processPending();
}

TEST(QueuedHandOver, RunsEachHandOverOnTheMainThreadWhileTheWorkerWaits) {
    TQueuedHandOver handOver;
    const std::thread::id mainId = std::this_thread::get_id();
    std::vector<int> seenOnMain;  // touched on the main thread only
    bool allOnMain = true;
    std::vector<int> workerSaw;  // what the worker read back after each hand-over
    std::atomic<bool> finished{false};

    std::thread worker([&] {
        for (int i = 1; i <= 50; ++i) {
            int answer = 0;
            handOver.invokeAndWait([&, i] {
                allOnMain = allOnMain && std::this_thread::get_id() == mainId;
                seenOnMain.push_back(i);
                answer = i * 10;
            });
            workerSaw.push_back(answer);  // written by fn: visible once invokeAndWait returns
        }
        finished.store(true);
    });
    PumpUntil(handOver, [&] { return finished.load(); });
    worker.join();

    EXPECT_TRUE(allOnMain);
    ASSERT_EQ(seenOnMain.size(), 50u);
    for (int i = 0; i < 50; ++i) {
        EXPECT_EQ(seenOnMain[i], i + 1);
        EXPECT_EQ(workerSaw[i], (i + 1) * 10);
    }
}

// The stop procedure's pattern: ask the worker to stop through the record, poll its atomic
// stopped flag while draining, then keep draining until its last hand-over (which follows the
// flag) has run and the thread has ended.
TEST(QueuedHandOver, TheLastHandOverAfterStoppedStillRunsWhileTheStopWaits) {
    TQueuedHandOver handOver;
    TThreadData ThreadData;
    std::vector<std::string> memo;  // main thread only
    std::atomic<bool> Stopped{false};
    std::atomic<bool> bodyEnded{false};
    int handOvers = 0;

    std::thread worker([&] {
        bool ToStop = false;
        while (!ToStop) {
            handOver.invokeAndWait([&] {
                ++handOvers;
                ToStop = ThreadData.In_ToStop;
                ThreadData.Out_Stopped = Stopped.load();
                ThreadData.SomethingToTell = true;
            });
            std::this_thread::sleep_for(1ms);
        }
        Stopped.store(true);
        handOver.invokeAndWait([&] {
            ThreadData.Out_Stopped = Stopped.load();
            memo.push_back("MFC A: permanent stop");
        });
        bodyEnded.store(true);
    });

    PumpUntil(handOver, [&] { return handOvers >= 3; });
    ThreadData.In_ToStop = true;
    PumpUntil(handOver, [&] { return Stopped.load(); });
    PumpUntil(handOver, [&] { return bodyEnded.load(); });
    worker.join();

    EXPECT_TRUE(ThreadData.Out_Stopped);
    EXPECT_EQ(memo, std::vector<std::string>{"MFC A: permanent stop"});
    EXPECT_EQ(handOver.PendingCount(), 0);
}

TEST(QueuedHandOver, OnTheMainThreadItselfTheHandOverRunsAtOnce) {
    TQueuedHandOver handOver;
    bool ran = false;
    EXPECT_TRUE(handOver.invokeAndWait([&] { ran = true; }));
    EXPECT_TRUE(ran);
    EXPECT_EQ(handOver.processPending(), 0);
}

TEST(QueuedHandOver, AFailureInTheHandOverReachesTheWorker) {
    TQueuedHandOver handOver;
    std::atomic<bool> done{false};
    std::string caught;
    std::thread worker([&] {
        try {
            handOver.invokeAndWait([] { throw std::runtime_error("memo full"); });
        } catch (const std::runtime_error& e) {
            caught = e.what();
        }
        done.store(true);
    });
    PumpUntil(handOver, [&] { return done.load(); });
    worker.join();
    EXPECT_EQ(caught, "memo full");
}

TEST(QueuedHandOver, ClosingReleasesAWaitingWorkerWithoutRunningItsHandOver) {
    TQueuedHandOver handOver;
    std::atomic<int> result{-1};
    bool ran = false;
    std::thread worker([&] { result.store(handOver.invokeAndWait([&] { ran = true; }) ? 1 : 0); });
    ASSERT_TRUE(handOver.WaitForPending(10000));
    handOver.Close();
    worker.join();
    EXPECT_EQ(result.load(), 0);
    EXPECT_FALSE(ran);

    std::thread late([&] { result.store(handOver.invokeAndWait([&] { ran = true; }) ? 1 : 0); });
    late.join();
    EXPECT_EQ(result.load(), 0);
    EXPECT_FALSE(ran);
}

TEST(QueuedHandOver, WaitForPendingTimesOutWhenNobodyAsks) {
    TQueuedHandOver handOver;
    const auto t0 = std::chrono::steady_clock::now();
    EXPECT_FALSE(handOver.WaitForPending(20));
    EXPECT_GE(std::chrono::steady_clock::now() - t0, 15ms);
}

}  // namespace
}  // namespace moirex
