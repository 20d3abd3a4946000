#include "core/FlowStatusTexts.h"

#include <gtest/gtest.h>

#include <cmath>

#include "form/Form.h"

namespace moirex {
namespace {

TGasItem Part(float mass, float pulsed = 1.0f) {
    TGasItem p;
    p.Init();
    p.Mass = mass;
    p.Pulsed = pulsed;
    return p;
}

// A reading the worker could not take (-1) reads "no reading" and is never judged against its
// wanted flow; the other panels keep their figures.
TEST(FlowStatusPanels, MissingReadingsReadNoReadingAndRaiseNoWarning) {
    struct Case {
        const char* name;
        TGasItem A, B;
        TFlowStatus fs;  // MFCA, SegmentAverage, MFCB, MovingAverage, MovingAverageMinutes
        const char* panel0;
        const char* panel3;
        const char* panel4;
    };
    const Case cases[] = {
        {"MFC A garbled", Part(0.01f), Part(0.02f), {-1, 0.01, 0.02, 0.01, 1},
         "Gas A flow: no reading of 0.010 000 g/min", "Gas B flow: 100.000 %", ""},
        {"MFC B silent", Part(0.01f), Part(0.0000627f), {0.01, 0.01, -1, 0.01, 1},
         "Gas A flow: 100 % of 0.010 000 g/min", "Gas B flow: no reading", ""},
        {"MFC B silent in a segment without gas B", Part(0.01f), Part(0), {0.01, 0.01, -1, 0.01, 1},
         "Gas A flow: 100 % of 0.010 000 g/min", "Gas B flow: no reading", ""},
        {"both silent, B's warning of its own reading only", Part(0.01f), Part(0.02f), {-1, 0.01, -1, 0.01, 1},
         "Gas A flow: no reading of 0.010 000 g/min", "Gas B flow: no reading", ""},
        {"A silent, B off target", Part(0.01f), Part(0.02f), {-1, 0.01, 0.01, 0.01, 1},
         "Gas A flow: no reading of 0.010 000 g/min", "Gas B flow: 50.000 %", " Flow B Warning"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const TFlowStatusPanels p = FlowStatusPanels(c.fs, c.A, c.B, 60);
        EXPECT_EQ(p.Panels[0], c.panel0);
        EXPECT_EQ(p.Panels[1], "Gas A 1.000 min average: 100 % of 0.010 000 g/min");
        EXPECT_EQ(p.Panels[2], "Gas A segment average flow: 0.010 000 g/min");
        EXPECT_EQ(p.Panels[3], c.panel3);
        EXPECT_EQ(p.Panels[4], c.panel4);
    }
}

// A pulsed segment on target after one that dosed nothing: the moving average still remembers the
// earlier segment. Gas A is judged by the segment's own average until the moving average spans
// this segment only, and not at all during the first span.
TEST(FlowStatusPanels, PulsedGasAIsJudgedByAnAverageOfThisSegmentOnly) {
    const TGasItem A = Part(0.001f, 0.4f);
    struct Case {
        double segmentMinutes;
        double segmentAverage, movingAverage;  // g/min, wanted 0.001
        bool warning;
    };
    const Case cases[] = {
        {1.0, 0.0030, 0.0002, false},  // first pulses: not judged yet
        {2.5, 0.0010, 0.0004, false},  // on target by its segment average; the moving average lags
        {2.5, 0.0012, 0.0010, true},   // 20 % over by its segment average
        {6.0, 0.0010, 0.0010, false},  // the moving average spans this segment only now
        {6.0, 0.0010, 0.0009, true},   // and is judged
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.segmentMinutes);
        const TFlowStatus fs{0, c.segmentAverage, 0, c.movingAverage, 2.0};
        const TFlowStatusPanels p = FlowStatusPanels(fs, A, Part(0), c.segmentMinutes);
        EXPECT_EQ(p.WarningA, c.warning);
        EXPECT_EQ(p.Panels[4], c.warning ? "Flow A Warning" : "");
    }
}

TEST(FlowStatusPanels, GraphGapsForMissingReadingsAndTheMarkOfARunsEnd) {
    EXPECT_TRUE(std::isnan(GraphValue(-1)));
    EXPECT_EQ(GraphValue(0), 0);
    EXPECT_EQ(GraphValue(-0.0001), -0.0001);  // a controller's noise around zero is a reading

    TForm1 form;
    EXPECT_FALSE(IsRunEnd(form, 0));
    form.RtDoubleVectorTime.Add(1);
    form.RtDoubleVector2GasAReal.Add(GraphValue(-1));  // A and B silent: still a run's point
    form.RtDoubleVectorGasBReal.Add(GraphValue(-1));
    form.RtDoubleVectorGasAAvg.Add(0.01);
    AddRunEnd(form, 2);
    EXPECT_FALSE(IsRunEnd(form, 0));
    EXPECT_TRUE(IsRunEnd(form, 1));
    EXPECT_EQ(form.RtDoubleVectorTime.Value(1), 2);
    EXPECT_FALSE(IsRunEnd(form, 2));
}

}  // namespace
}  // namespace moirex
