// The worker's hand-over on the Qt event loop: the routine runs on the main thread while the
// worker waits, from the event loop alone or from processPending; a failure reaches the worker;
// closing releases a waiting worker. Also run under ThreadSanitizer.

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTest>
#include <atomic>
#include <stdexcept>
#include <thread>
#include <vector>

#include "ui/QtHandOver.h"

namespace moirex::testing_ui {
namespace {

// Lets the event loop run until done or 5 s.
template <typename Done>
void LoopUntil(Done done) {
    QElapsedTimer t;
    t.start();
    while (!done() && t.elapsed() < 5000) QTest::qWait(5);
}

TEST(QtHandOver, RoutinesRunOnTheMainThreadInOrderFromTheEventLoop) {
    ui::TQtHandOver handOver;
    const auto mainThread = std::this_thread::get_id();
    std::vector<int> ran;  // main thread only
    bool onMain = true;
    std::atomic<bool> done{false};
    std::thread worker([&] {
        for (int i = 0; i < 50; ++i) {
            EXPECT_TRUE(handOver.invokeAndWait([&, i] {
                onMain = onMain && std::this_thread::get_id() == mainThread;
                ran.push_back(i);
            }));
        }
        done = true;
    });
    LoopUntil([&] { return done.load(); });
    worker.join();
    EXPECT_TRUE(onMain);
    ASSERT_EQ(ran.size(), 50u);
    for (int i = 0; i < 50; ++i) EXPECT_EQ(ran[static_cast<size_t>(i)], i);
}

TEST(QtHandOver, ProcessPendingServesAWaitingWorkerAndCountsIt) {
    ui::TQtHandOver handOver;
    int value = 0;
    std::thread worker([&] { handOver.invokeAndWait([&] { value = 42; }); });
    int ran = 0;
    QElapsedTimer t;
    t.start();
    while (ran == 0 && t.elapsed() < 5000) ran += handOver.processPending();
    worker.join();
    EXPECT_EQ(ran, 1);
    EXPECT_EQ(value, 42);
    // On the main thread itself the routine simply runs.
    EXPECT_TRUE(handOver.invokeAndWait([&] { value = 7; }));
    EXPECT_EQ(value, 7);
}

TEST(QtHandOver, AFailureOfTheRoutineReachesTheWorker) {
    ui::TQtHandOver handOver;
    std::atomic<bool> caught{false};
    std::thread worker([&] {
        try {
            handOver.invokeAndWait([] { throw std::runtime_error("hand-over failed"); });
        } catch (const std::runtime_error&) {
            caught = true;
        }
    });
    LoopUntil([&] { return caught.load(); });
    worker.join();
    EXPECT_TRUE(caught);
}

TEST(QtHandOver, CloseReleasesAWaitingWorkerWithoutRunningItsRoutine) {
    ui::TQtHandOver handOver;
    std::atomic<int> result{-1};
    bool ran = false;
    std::thread worker([&] { result = handOver.invokeAndWait([&] { ran = true; }) ? 1 : 0; });
    // Give the worker time to queue, without running the event loop.
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    handOver.Close();
    worker.join();
    EXPECT_EQ(result, 0);
    EXPECT_FALSE(ran);
}

}  // namespace
}  // namespace moirex::testing_ui
