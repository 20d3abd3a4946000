#include "core/MFCPassRules.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <string>
#include <vector>

#include "support/DateTime.h"

namespace moirex {
namespace {

constexpr double kLowFlow = 0.003;

TGasItem GasA(const char* name, float mass, float pulsed) {
    TGasItem g;
    g.GasNameLong = name;
    g.Mass = mass;
    g.Pulsed = pulsed;
    return g;
}

TTotalizerSample Sample(double grams, double seconds) {
    // The date-time is only logged; any moment will do.
    return {grams, seconds, EncodeDateTime(2024, 3, 5, 14, 0, 0) + seconds / 86400.0};
}

bool Logged(const TPassDecision& d, const std::string& line) {
    return std::find(d.Log.begin(), d.Log.end(), line) != d.Log.end();
}

// One decision of the gas A control. flowSoFar < 0: the first pass of a segment (nothing
// delivered yet); otherwise the pass one minute after the segment start, with flowSoFar grams
// delivered in that minute (so the flow so far is flowSoFar g/min).
struct RuleCase {
    const char* what;
    TGasItem mix;
    double flowSoFar;
    double currentSetFlow;
    double observedFlow;
    TGasAMode mode;
    bool write;
    double flow;
};

class GasAControlRules : public ::testing::TestWithParam<RuleCase> {};

TEST_P(GasAControlRules, ChoosesTheSetPoint) {
    const RuleCase& c = GetParam();
    TMFCPassRules rules(358);
    rules.LowFlow = kLowFlow;
    rules.AcceptMixture(c.mix);
    rules.BeginPass();
    TPassDecision d = rules.Pass(Sample(10.0, 100.0), c.currentSetFlow, c.observedFlow);
    if (c.flowSoFar >= 0) {
        rules.BeginPass();
        d = rules.Pass(Sample(10.0 + c.flowSoFar, 160.0), c.currentSetFlow, c.observedFlow);
    }
    EXPECT_EQ(d.Mode, c.mode);
    EXPECT_EQ(d.SetPoint.Write, c.write);
    if (c.write) {
        EXPECT_DOUBLE_EQ(d.SetPoint.Flow, c.flow);
    }
}

INSTANTIATE_TEST_SUITE_P(
    EdgeCases, GasAControlRules,
    ::testing::Values(
        RuleCase{"first pass pulsed starts at the low flow", GasA("H2", 0.0005f, 0.05f), -1, 0, 0,
                 TGasAMode::gmPulsedBehind, true, kLowFlow},
        RuleCase{"low flow already set within 1e-6", GasA("H2", 0.0005f, 0.05f), -1,
                 kLowFlow + 0.0000009, 0, TGasAMode::gmPulsedBehind, false, 0},
        RuleCase{"low flow just outside 1e-6 is written again", GasA("H2", 0.0005f, 0.05f), -1,
                 kLowFlow + 0.0000011, 0, TGasAMode::gmPulsedBehind, true, kLowFlow},
        RuleCase{"exactly on target counts as ahead", GasA("H2", 0.5f, 0.5f), 0.5, kLowFlow, 0,
                 TGasAMode::gmPulsedAhead, true, 0},
        RuleCase{"ahead writes zero on every pass", GasA("H2", 0.5f, 0.5f), 0.6, 0, 0,
                 TGasAMode::gmPulsedAhead, true, 0},
        RuleCase{"just below target is behind", GasA("H2", 0.5f, 0.5f), 0.4999, 0, 0,
                 TGasAMode::gmPulsedBehind, true, kLowFlow},
        RuleCase{"Pulsed 0.999 is constant mode", GasA("H2", 0.01f, 0.999f), -1, 0, 0,
                 TGasAMode::gmConstant, true, static_cast<double>(0.01f)},
        RuleCase{"Pulsed 0.9989 is pulsed", GasA("H2", 0.01f, 0.9989f), -1, 0, 0,
                 TGasAMode::gmPulsedBehind, true, kLowFlow},
        RuleCase{"constant set-point within 1e-6 is not written again", GasA("H2", 0.01f, 1.0f), 0.01,
                 static_cast<double>(0.01f) + 0.0000009, 0.01, TGasAMode::gmConstant, false, 0},
        RuleCase{"constant set-point beyond 1e-6 is written", GasA("H2", 0.01f, 1.0f), 0.01,
                 static_cast<double>(0.01f) + 0.0000011, 0.01, TGasAMode::gmConstant, true,
                 static_cast<double>(0.01f)},
        RuleCase{"no gas A, flow 1e-7: nothing written", GasA("", 0.01f, 1.0f), -1, 0.01, 0.0000001,
                 TGasAMode::gmNoGasA, false, 0},
        RuleCase{"no gas A, flow 1.1e-7: zero written", GasA("", 0.01f, 1.0f), -1, 0.01, 0.00000011,
                 TGasAMode::gmNoGasA, true, 0},
        RuleCase{"a named gas with no flow is no gas A", GasA("H2", 0.0f, 0.5f), 0.1, 0.01, 0.02,
                 TGasAMode::gmNoGasA, true, 0},
        RuleCase{"no gas A and MFC A unread (-1): nothing written", GasA("", 0.0f, 1.0f), -1, 0.01,
                 -1, TGasAMode::gmNoGasA, false, 0}),
    [](const ::testing::TestParamInfo<RuleCase>& info) {
        std::string name = info.param.what;
        for (char& ch : name)
            if (!std::isalnum(static_cast<unsigned char>(ch))) ch = '_';
        return name;
    });

TEST(MFCPassRules, NamesTheWriteAndItsLogLines) {
    TMFCPassRules rules(358);
    rules.LowFlow = kLowFlow;
    rules.AcceptMixture(GasA("H2", 0.0005f, 0.05f));
    rules.BeginPass();
    TPassDecision d = rules.Pass(Sample(10, 0), 0, 0);
    EXPECT_TRUE(Logged(d, "Thread. Initialize segment"));
    EXPECT_TRUE(Logged(d, "Thread. We are in pulsed flow mode for gas A"));
    EXPECT_TRUE(Logged(d, "Thread. Pulsed: Lowest flow value      : 0.003 000"));
    EXPECT_TRUE(Logged(d, "Thread. Pulsed: We are behind in the flow"));
    EXPECT_EQ(d.Log.back(), "Thread. Pulsed: Try adjusting flow");
    EXPECT_EQ(d.SetPoint.LogOnSuccess, "Thread. Pulsed: MFC set to 0.003 flow");
    EXPECT_EQ(d.SetPoint.LogOnFailure, "Thread. Pulsed: Failed to set MFC flow");

    rules.AcceptMixture(GasA("H2", 0.01f, 1.0f));
    rules.BeginPass();
    d = rules.Pass(Sample(10, 1), kLowFlow, 0);
    EXPECT_EQ(d.Log.back(), "Thread. We are in constant flow mode for gas A");
    // The wanted flow is single precision; the text shows its widened digits.
    EXPECT_EQ(d.SetPoint.LogOnSuccess,
              "Thread. Constant flow: MFC permanently set to 0.00999999977648258 flow");
    EXPECT_EQ(d.SetPoint.LogOnFailure,
              "Thread. Constant flow: Failed to set MFC flow to 0.00999999977648258");

    rules.AcceptMixture(TGasItem{});
    rules.BeginPass();
    d = rules.Pass(Sample(10, 2), 0.01, 0.5);
    EXPECT_EQ(d.Log.back(), "Thread. Observed flow > 0.000 000 1, instruct 0-flow.");
    EXPECT_TRUE(Logged(d, "Thread. This mixture contains no gas for MFC a."));
    EXPECT_TRUE(d.SetPoint.LogOnSuccess.empty());
}

// A new segment is counted from the segment clock's change, not from the worker's first reading
// after it learnt of the segment: gas A delivered in between belongs to the new segment. The
// start is placed on the straight line between the readings around it (also two readings back),
// never before the earliest reading kept.
TEST(MFCPassRules, NewSegmentCountsFromItsStartOnTheSegmentClock) {
    struct Case {
        const char* what;
        double start;           // segment start handed over (seconds)
        double startGrams;      // totalizer taken as the segment's start
        double flowSoFar;       // g/min at the reading of 20 g at 110 s
    };
    const Case cases[] = {
        {"between the last two readings", 104, 14, 6.0 / 6 * 60},
        {"before the previous reading", 95, 7, 13.0 / 15 * 60},
        {"before every reading kept", 80, 4, 16.0 / 20 * 60},
        // From this reading on: no span yet, the shown average stays the previous segment's.
        {"not known", std::nan(""), 20, 6.0 / 10 * 60},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        TMFCPassRules rules(358);
        rules.LowFlow = kLowFlow;
        rules.AcceptMixture(GasA("H2", 1.0f, 1.0f));
        rules.BeginPass();
        rules.Pass(Sample(4, 90), 1, 1);  // the previous segment's last readings
        rules.BeginPass();
        rules.Pass(Sample(10, 100), 1, 1);
        rules.AcceptMixture(GasA("H2", 0.0005f, 0.05f), c.start);
        rules.BeginPass();
        const TPassDecision d = rules.Pass(Sample(20, 110), 1, 1);
        EXPECT_DOUBLE_EQ(rules.TotalizerStart(), c.startGrams);
        EXPECT_DOUBLE_EQ(rules.FlowRateSoFargpm(), c.flowSoFar);
        // 36 g/min or more so far against 0.0005 wanted: ahead, MFC A closed at once.
        if (!std::isnan(c.start)) {
            EXPECT_EQ(d.Mode, TGasAMode::gmPulsedAhead);
        }
    }
}

TEST(MFCPassRules, BeforeTheFirstSegmentNothingIsWrittenAndNoAverageIsInvented) {
    // The worker runs its first passes before the tick has handed gas A over.
    TMFCPassRules rules(358);
    rules.BeginPass();
    // A controller that has been on for a while: 500 g on its totalizer, the clock at one hour.
    TPassDecision d = rules.Pass(Sample(500, 3600), 0, 0);
    EXPECT_EQ(d.Mode, TGasAMode::gmNoGasA);
    EXPECT_FALSE(d.SetPoint.Write);
    EXPECT_EQ(rules.FlowRateSoFargpm(), 0);
}

// A constant 1.2 g/min, read every 10 s, with moving averages over 4 passes.
TEST(MFCPassRules, SegmentAndMovingAveragesFollowTheTotalizer) {
    TMFCPassRules rules(4);
    rules.AcceptMixture(GasA("H2", 1.2f, 1.0f));

    rules.BeginPass();
    TPassDecision d = rules.Pass(Sample(0.0, 0), 0, 1.2);
    EXPECT_TRUE(Logged(d, "Thread.           Moving average flow (g/m) : ?"));
    EXPECT_EQ(rules.MovingAverageFlow(), 0);

    rules.BeginPass();
    d = rules.Pass(Sample(0.2, 10), 1.2, 1.2);
    EXPECT_DOUBLE_EQ(rules.MovingAverageMass(), 0.05);
    EXPECT_DOUBLE_EQ(rules.TimeSoFarMovingAverage(), 2.5);
    EXPECT_NEAR(rules.MovingAverageFlow(), 1.2, 1e-12);
    EXPECT_NEAR(rules.FlowRateSoFargpm(), 1.2, 1e-12);
    EXPECT_TRUE(Logged(d, "Thread. Moving average observation size (s) : 10.000"));
    EXPECT_TRUE(Logged(d, "Thread.           Moving average flow (g/m) : 1.200 000"));
    EXPECT_TRUE(Logged(d, "Thread.           Totalizer time difference : 00:00:10:000"));

    rules.BeginPass();
    rules.Pass(Sample(0.4, 20), 1.2, 1.2);
    EXPECT_DOUBLE_EQ(rules.MovingAverageMass(), 0.0875);
    EXPECT_DOUBLE_EQ(rules.TimeSoFarMovingAverage(), 4.375);
    EXPECT_NEAR(rules.MovingAverageFlow(), 1.2, 1e-12);
    EXPECT_NEAR(rules.MovingAverageMinutes(), 4.375 / 60 * 4, 1e-12);

    // A new segment re-bases the totalizer; the segment average keeps its last value until time
    // has passed, and the moving averages go on undisturbed.
    rules.AcceptMixture(GasA("H2", 0.3f, 1.0f));
    rules.BeginPass();
    d = rules.Pass(Sample(0.6, 30), 1.2, 1.2);
    EXPECT_TRUE(Logged(d, "Thread. Initialize segment"));
    EXPECT_DOUBLE_EQ(rules.TotalizerStart(), 0.6);
    EXPECT_NEAR(rules.FlowRateSoFargpm(), 1.2, 1e-12);
    EXPECT_NEAR(rules.MovingAverageFlow(), 1.2, 1e-12);

    rules.BeginPass();
    rules.Pass(Sample(0.65, 40), 0.3, 0.3);
    EXPECT_NEAR(rules.FlowRateSoFargpm(), 0.3, 1e-12);

    const TFlowStatus s = rules.Readings(0.31, 0.0892);
    EXPECT_EQ(s.MFCA, 0.31);
    EXPECT_EQ(s.MFCB, 0.0892);
    EXPECT_EQ(s.SegmentAverage, rules.FlowRateSoFargpm());
    EXPECT_EQ(s.MovingAverage, rules.MovingAverageFlow());
    EXPECT_EQ(s.MovingAverageMinutes, rules.MovingAverageMinutes());
}

TEST(MFCPassRules, AFailedFirstReadingDoesNotPoisonTheMovingAverages) {
    TMFCPassRules rules(4);
    rules.BeginPass();  // pass 1: MFC A did not answer, so no Pass
    rules.BeginPass();
    rules.Pass(Sample(500, 3600), 0, 0);
    EXPECT_EQ(rules.MovingAverageMass(), 0);
    EXPECT_EQ(rules.TimeSoFarMovingAverage(), 0);
    rules.BeginPass();
    rules.Pass(Sample(500.2, 3610), 0, 0);
    EXPECT_NEAR(rules.MovingAverageFlow(), 1.2, 1e-9);
}

TEST(MFCPassRules, ElapsedTimeComesFromTheMonotonicClockNotTheDateTime) {
    TMFCPassRules rules(4);
    rules.AcceptMixture(GasA("H2", 0.5f, 0.5f));
    const TDateTime t0 = EncodeDateTime(2024, 10, 27, 2, 59, 30);
    rules.BeginPass();
    rules.Pass({10.0, 1000.0, t0}, 0, 0);
    // One minute later the wall clock has been put back an hour (end of summer time).
    rules.BeginPass();
    const TPassDecision d = rules.Pass({10.5, 1060.0, t0 + (60.0 - 3600.0) / 86400.0}, kLowFlow, 0);
    EXPECT_DOUBLE_EQ(rules.FlowRateSoFargpm(), 0.5);
    EXPECT_EQ(d.Mode, TGasAMode::gmPulsedAhead);
    EXPECT_DOUBLE_EQ(rules.TimeSoFarMovingAverage(), 15.0);
}

TEST(MFCPassRules, CountsPassesAndTheAverageWindow) {
    TMFCPassRules rules(2);
    EXPECT_EQ(rules.BeginPass(), 1);
    EXPECT_EQ(rules.MATickSizeInitial(), 1);
    rules.BeginPass();
    rules.BeginPass();
    EXPECT_EQ(rules.PassCount(), 3);
    EXPECT_EQ(rules.MATickSizeInitial(), 2);
    // A weight below one pass would divide by zero.
    EXPECT_EQ(TMFCPassRules(0).MATickSize(), 1);
    EXPECT_EQ(TMFCPassRules(-5).MATickSize(), 1);
}

TEST(MFCPassRules, MemoLinesAndTheFinalZero) {
    EXPECT_EQ(SetFlowMemoLine("MFC A", 0.003, true), " Thread: MFC A flow set to :0.003 g/min\r\n");
    EXPECT_EQ(SetFlowMemoLine("MFC A", 0, false), " Thread: Failed to set MFC A flow to :0 g/min\r\n");
    EXPECT_EQ(PermanentStopMemoLine(EncodeDateTime(2024, 3, 5, 14, 7, 9, 42)),
              "14:07:09:042 MFC A: permanent stop\r\n");
    const TSetPointWrite last = TMFCPassRules::FinalSetPoint();
    EXPECT_TRUE(last.Write);
    EXPECT_EQ(last.Flow, 0);
}

}  // namespace
}  // namespace moirex
