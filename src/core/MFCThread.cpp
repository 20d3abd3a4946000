#include "core/MFCThread.h"

#include <algorithm>
#include <cmath>
#include <exception>
#include <utility>

#include "core/Totalizer.h"
#include "devices/SerialPortVogtlin.h"
#include "support/DateTime.h"
#include "support/Log.h"
#include "support/TextFormat.h"

namespace moirex {

namespace {

// Read-out time-outs of the worker's ports: a set-point write waits a little longer for its answer.
constexpr uint32_t kReadoutMs = 50;
constexpr uint32_t kSetFlowReadoutMs = 75;
constexpr int64_t kPassPauseMs = 50;
constexpr int64_t kFailurePauseMs = 1000;
// While MFC B does not answer, its flow is asked for again after this long; gas A's passes go on.
constexpr double kMFCBRetrySeconds = 1.0;
constexpr int32_t kMFCBAddress = 2;

void Log(const std::string& line) { FormLogger().Send(line); }

}  // namespace

TMFCThread::TMFCThread(TThreadData& threadData, TFlowStatus& flowStatus,
                       TMainThreadHandOver& handOver, Clock& clock, int32_t maTickSize,
                       std::string gasBPort, std::function<void(const std::string&)> memoLog)
    : rules(maTickSize),
      GasBPort(std::move(gasBPort)),
      threadData_(threadData),
      flowStatus_(flowStatus),
      handOver_(handOver),
      clock_(clock),
      memoLog_(std::move(memoLog)) {}

TMFCThread::~TMFCThread() {
    ToStop.store(true);
    Join();
}

void TMFCThread::Start() {
    if (thread_.joinable()) return;
    thread_ = std::thread([this] { Run(); });
}

void TMFCThread::Join() {
    if (thread_.joinable() && thread_.get_id() != std::this_thread::get_id()) thread_.join();
}

bool TMFCThread::ReadTotalizer(double& Value) {
    MethodScope scope(FormLogger(), "Thread: ReadTotalizer");
    bool ok = false;
    {
        TVogtlinPort port;
        port.UseControllerSettings(MFCD.ComPortName, kReadoutMs);
        ok = ReadTotalizerValue(
            MFCD,
            [&](uint16_t reg) { return port.ReadF32(MFCD.ModBusAddress, reg); }, Value,
            [](const std::string& line) { Log(line); });
    }  // the port is freed before the time of the reading is taken
    return ok;
}

bool TMFCThread::ReadFlow(const std::string& Port, int32_t Addr, double& Flow) {
    TSerialResponse r;
    {
        TVogtlinPort port;
        port.UseControllerSettings(Port, kReadoutMs);
        r = port.ReadF32(static_cast<uint32_t>(Addr), MFCRegisterFlow);
    }
    return AcceptFlowReading(r, Flow);
}

bool TMFCThread::SetFlow(double Flow) {
    TSerialResponse r;
    {
        TVogtlinPort port;
        port.UseControllerSettings(MFCD.ComPortName, kSetFlowReadoutMs);
        r = port.WriteF32(MFCD.ModBusAddress, MFCRegisterSetPoint, static_cast<float>(Flow));
    }
    const bool ok = r.Status.empty();
    if (ok) MFCD.CurrentSetFlow = Flow;
    aMessage += SetFlowMemoLine(MFCD.MFCName, Flow, ok);
    return ok;
}

void TMFCThread::DataExchange() {
    // The readings were taken under the segment held until now: their averages are that
    // segment's, so they are made before a new segment is accepted.
    flowStatus_ = rules.Readings(MFCD.CurrentObservedFlow, GasBFlowObserved);
    threadData_.Out_NewReading = newReading_;
    newReading_ = false;
    if (threadData_.In_NewSegment) {
        // How long ago the segment began, on the segment clock, put on the worker's clock.
        double start = std::nan("");
        if (SegmentClock) {
            const double age = SegmentClock->MonotonicSeconds() - threadData_.In_SegmentStartSeconds;
            start = clock_.MonotonicSeconds() - std::max(0.0, age);
        }
        rules.AcceptMixture(threadData_.In_MixD, start);
        threadData_.In_NewSegment = false;
    }
    ToStop.store(threadData_.In_ToStop);
    threadData_.Out_Stopped = Stopped.load();
    if (!aMessage.empty()) {
        if (memoLog_) memoLog_(aMessage);
        aMessage.clear();
    }
    threadData_.SomethingToTell = true;
    if (OnHandOver) OnHandOver();
}

bool TMFCThread::HandOver() {
    if (handOverClosed_) return false;
    // News from before this hand-over comes with it; a nudge from now on means news after it.
    nudged_.store(false);
    if (!handOver_.invokeAndWait([this] { DataExchange(); })) {
        // Nobody serves the main thread any more: end the loop, MFC A still gets its zero.
        handOverClosed_ = true;
        ToStop.store(true);
        return false;
    }
    return true;
}

bool TMFCThread::Pause(int64_t ms) {
    constexpr int64_t kSliceMs = 10;
    for (int64_t slept = 0; slept < ms; slept += kSliceMs) {
        if (nudged_.load()) return true;
        clock_.SleepMs(std::min(kSliceMs, ms - slept));
    }
    return nudged_.load();
}

void TMFCThread::FailurePause() { Pause(kFailurePauseMs); }

void TMFCThread::Execute() {
    while (!ToStop.load()) {
        const int32_t i = rules.BeginPass();
        Stopped.store(false);
        HandOver();
        aMessage.clear();
        // A stop request that this hand-over brought ends the loop now: the rest of the pass
        // would only keep MFC A at its set-point longer.
        if (ToStop.load()) break;

        Log("Thread. Loop: " + std::to_string(i));
        Log("Reading MFC A Totalizer");
        if (!ReadTotalizer(TotalizerNow)) {
            // A controller that does not answer has no measured flow: the tick shows that it is
            // trying to reach it, instead of the last flow it read as if it were current.
            MFCD.CurrentObservedFlow = -1;
            // MFC B is not read in such a pass: its last flow must not stand for a reading now.
            GasBFlowObserved = -1;
            newReading_ = true;
            Log(CouldNotTalkToMFCA);
            aMessage = CouldNotTalkToMFCA;
            aMessage += CRLF;
            HandOver();
            FailurePause();
            continue;
        }
        const TTotalizerSample sample{TotalizerNow, clock_.MonotonicSeconds(), Now()};
        // News from the main thread (a stop, a new segment) is fetched before the next exchange:
        // the rest of this pass would only hold MFC A at its set-point longer.
        if (nudged_.load()) continue;

        // MFC B is only sampled here: a failed read shows its flow as -1, but gas A's control goes
        // on (an outage of B must not freeze MFC A at whatever it was last set to). While B stays
        // silent it is asked again once a second, so its time-outs do not slow A's passes.
        if (sample.Seconds >= nextMFCBRead_) {
            if (ReadFlow(GasBPort, kMFCBAddress, GasBFlowObserved)) {
                nextMFCBRead_ = 0;
                Log("Thread. Gas B flow read on port " + GasBPort + " Flow: " + FormatGeneral(GasBFlowObserved));
            } else {
                GasBFlowObserved = -1;
                nextMFCBRead_ = clock_.MonotonicSeconds() + kMFCBRetrySeconds;
                Log(CouldNotTalkToMFCB);
                aMessage += CouldNotTalkToMFCB;
                aMessage += CRLF;
            }
        }

        const TPassDecision d = rules.Pass(sample, MFCD.CurrentSetFlow, MFCD.CurrentObservedFlow);
        newReading_ = true;
        for (const std::string& line : d.Log) Log(line);
        if (d.SetPoint.Write) {
            const bool ok = SetFlow(d.SetPoint.Flow);
            const std::string& after = ok ? d.SetPoint.LogOnSuccess : d.SetPoint.LogOnFailure;
            if (!after.empty()) Log(after);
        }
        Pause(kPassPauseMs);
    }
}

void TMFCThread::Run() {
    try {
        Execute();
    } catch (const std::exception& e) {
        Log(std::string("Thread. Stopped by an error: ") + e.what());
        aMessage += std::string("Thread stopped by an error: ") + e.what();
        aMessage += CRLF;
    } catch (...) {
        Log("Thread. Stopped by an unknown error");
        aMessage += "Thread stopped by an unknown error";
        aMessage += CRLF;
    }
    // Whatever ended the loop, MFC A is told to stop before the worker reports that it has.
    try {
        SetFlow(TMFCPassRules::FinalSetPoint().Flow);
    } catch (...) {
        Log("Thread. Final zero set-point failed by an error");
    }
    Stopped.store(true);
    aMessage += PermanentStopMemoLine(Now());
    try {
        HandOver();
    } catch (...) {
        Log("Thread. Last hand-over failed by an error");
    }
    bodyEnded_.store(true);
}

}  // namespace moirex
