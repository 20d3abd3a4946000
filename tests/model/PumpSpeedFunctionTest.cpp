#include "model/PumpSpeedFunction.h"

#include <gtest/gtest.h>

#include "support/TextFormat.h"

#include <cstdio>
#include <string>
#include <vector>

using namespace moirex;

namespace {

// The default fluid: water, whose density is held in single precision as the pump fluid's is.
constexpr float WaterDensity = 0.997735f;

TPumpSpeedDetails Details(double wanted, double syringe = 12.5, double density = WaterDensity) {
    TPumpSpeedDetails d;  // all zero, as the set-points build it
    d.SyringeVolume_ul = syringe;
    d.FluidDensity = density;
    d.DesiredDispense_ugpm = wanted;
    return d;
}

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find("\r\n", start);
        if (end == std::string::npos) {
            lines.push_back(text.substr(start) + "<no CR LF>");
            break;
        }
        lines.push_back(text.substr(start, end - start));
        start = end + 2;
    }
    return lines;
}

struct TraceLine {
    int lo = 0, hi = 0;
    double errLo = 0, errHi = 0;
};

TraceLine ParseTrace(const std::string& line) {
    TraceLine t;
    char rest[8] = {};
    EXPECT_EQ(std::sscanf(line.c_str(), "BL:%d EL:%lf * BH:%d EH:%lf%7s", &t.lo, &t.errLo, &t.hi, &t.errHi, rest), 4)
        << line;
    return t;
}

}  // namespace

TEST(PumpSpeedFunction, InitSetsThePumpDefaultsAndKeepsTheCommand) {
    TPumpSpeedDetails d;
    d.Command = "gIV6000A24000OV5A0GR";
    d.Feedback = "old";
    d.AchievedDispense_ugpm = 3;
    d.Init();
    EXPECT_EQ(d.SyringeVolume_ul, 12.5);
    EXPECT_EQ(d.TotalSteps, 24000);
    EXPECT_EQ(d.FluidDensity, 1.0);
    EXPECT_EQ(d.DesiredDispense_ugpm, 0);
    EXPECT_EQ(d.AchievedDispense_ugpm, 0);
    EXPECT_EQ(d.MaxSpeed, 10000);
    EXPECT_EQ(d.RetractTime_s, 5.78);
    EXPECT_EQ(d.Info, TPumpSpeedInfo::psUndefined);
    EXPECT_EQ(d.PumpFrequency, 0);
    EXPECT_EQ(d.Feedback, "");
    EXPECT_EQ(d.Command, "gIV6000A24000OV5A0GR");
}

TEST(PumpSpeedFunction, ModelsGiveTheReferenceRatesAndHoldTheirArgumentsInRange) {
    const TPumpSpeedDetails d = Details(0);
    EXPECT_NEAR(ConstantVelocityDispense(d, 5), 622.5205, 5e-5);
    EXPECT_NEAR(ConstantVelocityDispense(d, 1000), 97563.19, 5e-3);
    EXPECT_NEAR(DynamicLoopDispense(d, 5), 638.7941, 5e-5);
    EXPECT_NEAR(DynamicLoopDispense(d, 1000), 29.8706, 5e-5);
    EXPECT_NEAR(DynamicLoopDispense(d, 30000), 1.03779, 5e-6);

    EXPECT_EQ(ConstantVelocityDispense(d, 0), ConstantVelocityDispense(d, 5));
    EXPECT_EQ(ConstantVelocityDispense(d, -7), ConstantVelocityDispense(d, 5));
    EXPECT_EQ(ConstantVelocityDispense(d, 6000), ConstantVelocityDispense(d, 1000));
    EXPECT_EQ(DynamicLoopDispense(d, 1), DynamicLoopDispense(d, 5));
    EXPECT_EQ(DynamicLoopDispense(d, 40000), DynamicLoopDispense(d, 30000));

    // Both rates scale with syringe volume times density.
    const TPumpSpeedDetails big = Details(0, 25, 2 * static_cast<double>(WaterDensity));
    EXPECT_NEAR(ConstantVelocityDispense(big, 77), 4 * ConstantVelocityDispense(d, 77), 1e-9);
    EXPECT_NEAR(DynamicLoopDispense(big, 77), 4 * DynamicLoopDispense(d, 77), 1e-9);
}

TEST(PumpSpeedFunction, WantedRatesGiveTheTabledCommandsRatesAndTraces) {
    struct Case {
        double wanted;
        const char* command;
        double achieved;
        double tolerance;
        int traceLines;
    };
    const Case cases[] = {
        {0, "TR", 0, 0, 0},
        {0.5, "gIV6000A24000OV1000gD1M29999G24000GR", 1.037826, 5e-7, 0},
        {10, "gIV6000A24000OV1000gD1M3074G24000GR", 10.00036, 5e-6, 0},
        {100, "gIV6000A24000OV1000gD1M268G24000GR", 99.99445, 5e-6, 0},
        {622, "gIV6000A24000OV1000gD1M6G24000GR", 625.9693, 5e-5, 0},
        {623, "gIV6000A24000OV5A0GR", 622.5205, 5e-5, 10},
        {1000, "gIV6000A24000OV8A0GR", 995.2042, 5e-5, 13},
        {95000, "gIV6000A24000OV967A0GR", 95025.57, 5e-3, 11},
        {97564, "gIV6000A24000OV1000A0GR", 97563.19, 5e-3, 26},
        {5e6, "gIV6000A24000OV1000A0GR", 97563.19, 5e-3, 26},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.wanted);
        TPumpSpeedDetails d = Details(c.wanted);
        EXPECT_TRUE(CalculatePumpSpeed(d));
        EXPECT_EQ(d.Command, c.command);
        EXPECT_NEAR(d.AchievedDispense_ugpm, c.achieved, c.tolerance);
        EXPECT_EQ(Lines(d.Feedback).size(), static_cast<size_t>(c.traceLines)) << d.Feedback;
        // The achieved rate is the model's rate of the command chosen.
        EXPECT_EQ(d.Info, TPumpSpeedInfo::psUndefined);
    }
}

TEST(PumpSpeedFunction, EveryChosenCommandReadsBackToItsModelledRate) {
    // The wanted rates of the table above, and the edges of both searches.
    for (double wanted : {0.0, 0.5, 10.0, 100.0, 622.0, 623.0, 1000.0, 95000.0, 200000.0}) {
        TPumpSpeedDetails d = Details(wanted);
        CalculatePumpSpeed(d);
        double rate = -1;
        ASSERT_TRUE(PumpCommandDispense(d, d.Command, rate)) << d.Command;
        EXPECT_EQ(rate, d.AchievedDispense_ugpm) << d.Command;
    }
    const TPumpSpeedDetails d = Details(0);
    double rate = 7;
    EXPECT_TRUE(PumpCommandDispense(d, "gIV6000A24000OV1000gD1M1G24000GR", rate));  // the search's lowest M
    EXPECT_EQ(rate, DynamicLoopDispense(d, 5));
    for (const char* other : {"", "T", "R", "gIV6000A24000OV5A0G", "gIV6000A24000OV+5A0GR", "gIV6000A24000OVA0GR",
                              "gIV6000A24000OV99999999999A0GR", "gIV6000A24000OV1000gD1M5G2400GR"}) {
        rate = 7;
        EXPECT_FALSE(PumpCommandDispense(d, other, rate)) << other;
        EXPECT_EQ(rate, 7) << other;
    }
}

TEST(PumpSpeedFunction, TraceOfOneThousandShowsTheBracketNarrowing) {
    TPumpSpeedDetails d = Details(1000);
    d.Feedback = "earlier\r\n";  // the trace is appended, not replacing
    CalculatePumpSpeed(d);
    auto lines = Lines(d.Feedback);
    ASSERT_EQ(lines.size(), 14u) << d.Feedback;
    EXPECT_EQ(lines[0], "earlier");
    lines.erase(lines.begin());

    const std::pair<int, int> bounds[] = {{5, 1000}, {5, 502}, {5, 254}, {5, 130}, {5, 68}, {5, 36}, {5, 20},
                                          {5, 12},   {5, 8},   {5, 16},  {5, 10},  {8, 10}, {8, 9}};
    std::vector<TraceLine> trace;
    for (size_t i = 0; i < lines.size(); ++i) {
        trace.push_back(ParseTrace(lines[i]));
        EXPECT_EQ(trace[i].lo, bounds[i].first) << lines[i];
        EXPECT_EQ(trace[i].hi, bounds[i].second) << lines[i];
    }
    EXPECT_NEAR(trace[0].errLo, 377.4795, 5e-5);
    // The closing line repeats the errors of the last pass, with the final bracket.
    EXPECT_EQ(trace[12].errLo, trace[11].errLo);
    EXPECT_EQ(trace[12].errHi, trace[11].errHi);
    EXPECT_EQ(d.Command, "gIV6000A24000OV8A0GR");
}

TEST(PumpSpeedFunction, NoSyringeOrNegativeRateStillEndsWithACommand) {
    // A volume of 0 makes every rate 0: the search runs all 25 passes and settles on V1000.
    TPumpSpeedDetails empty = Details(500, 0);
    CalculatePumpSpeed(empty);
    EXPECT_EQ(empty.Command, "gIV6000A24000OV1000A0GR");
    EXPECT_EQ(empty.AchievedDispense_ugpm, 0);
    EXPECT_EQ(Lines(empty.Feedback).size(), 26u);

    TPumpSpeedDetails negative = Details(-5);
    CalculatePumpSpeed(negative);
    EXPECT_EQ(negative.Command, "gIV6000A24000OV1000gD1M29999G24000GR");
    EXPECT_EQ(negative.Feedback, "");
}

TEST(PumpSpeedFunction, PumpTableForTheDefaultSyringeAndWater) {
    const std::string text = PumpTableText(12.5, WaterDensity);
    const auto lines = Lines(text);
    ASSERT_EQ(lines.size(), 12u + 11u + 2u) << text;
    EXPECT_EQ(lines[0], "");
    EXPECT_EQ(lines[1], "                             Syringe volume : 12.5 µl");
    EXPECT_EQ(lines[2], "Code                                   Name : flow");

    struct Figure {
        size_t line;
        const char* label;
        double value;
        double tolerance;
    };
    const Figure figures[] = {
        {3, "@M30000       Dynamic loop minimum dispense : ", 1.03779, 5e-6},
        {4, "@M1000                Dynamic loop dispense : ", 29.8706, 5e-5},
        {5, "@M5           Dynamic loop maximum dispense : ", 638.7941, 5e-5},
        {6, "@V5      Constant velocity minimum dispense : ", 622.5205, 5e-5},
        {7, "@V1000   Constant velocity maximum dispense : ", 97563.19, 5e-3},
        {9, "@V6000        Theorethical maximum dispense : ", 224.82, 5e-3},
    };
    const TPumpSpeedDetails d = Details(0);
    for (const auto& f : figures) {
        const std::string& line = lines[f.line];
        ASSERT_EQ(line.rfind(f.label, 0), 0u) << line;
        const std::string unit = " µg/min";
        ASSERT_GT(line.size(), unit.size());
        EXPECT_EQ(line.substr(line.size() - unit.size()), unit) << line;
        const std::string number = line.substr(std::string(f.label).size(),
                                               line.size() - unit.size() - std::string(f.label).size());
        EXPECT_NEAR(std::stod(number), f.value, f.tolerance) << line;
    }
    // Figures in the general format: the model's full precision, not a rounded figure.
    EXPECT_EQ(lines[7], "@V1000   Constant velocity maximum dispense : " +
                            FormatGeneral(ConstantVelocityDispense(d, 1000)) + " µg/min");
    EXPECT_EQ(lines[8], "");
    EXPECT_EQ(lines[10], "@V6000 is not in use. For flows above @V1000, use larger syringe instead");
    EXPECT_EQ(lines[11], "");

    TPumpSpeedDetails search = Details(95000);
    CalculatePumpSpeed(search);
    const auto trace = Lines(search.Feedback);
    ASSERT_EQ(trace.size(), 11u);
    for (size_t i = 0; i < trace.size(); ++i) EXPECT_EQ(lines[12 + i], trace[i]);
    EXPECT_EQ(lines[23], "Pump desired flow: 95000 µg/min");
    EXPECT_EQ(lines[24], "Pump best match flow: " + FormatGeneral(search.AchievedDispense_ugpm) +
                             " µg/min with command: gIV6000A24000OV967A0GR");
    EXPECT_NEAR(search.AchievedDispense_ugpm, 95025.57, 5e-3);

    EXPECT_EQ(PumpTableLines(12.5, WaterDensity), lines);
}
