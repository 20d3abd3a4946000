// The check before Start against a program whose doses are worked out by hand.

#include "core/ProgramCheck.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "form/Dialogs.h"
#include "form/Form.h"

namespace moirex {
namespace {

TGasItem Part(int id, float mass, const char* name, float molarMass) {
    TGasItem p;
    p.InstrumentID = id;
    p.Mass = mass;
    p.GasNameLong = name;
    p.GasNameMFC = name;
    p.MolarMass = molarMass;
    p.Pulsed = 1;
    return p;
}

TGasItem Segment(const char* name, double hours, std::vector<TGasItem> parts) {
    TGasItem s;
    s.StepName = name;
    s.StepTime = hours;
    s.Valid = true;
    s.Components = std::move(parts);
    return s;
}

// dry: 30 min of O2 1500 µg/min pulsed at 60 % and Ar 20000 µg/min; wet: 15 min of Ar 50000 µg/min
// and 3000 µg/min of a fluid of density 0.8 g/ml; blink: no duration.
std::vector<TGasItem> Program() {
    TGasItem a = Part(0, 0.0015f, "Oxygen", 31.9988f);
    a.Pulsed = 0.6f;
    TGasItem fluid = Part(2, 0.003f, "Ethanol mix", 40.0f);
    fluid.DensityFluid20C = 0.8f;
    fluid.PumpCommand = "gIV6000A24000OV24A0GR";
    return {Segment("dry", 0.5, {a, Part(1, 0.02f, "Argon", 39.948f)}),
            Segment("wet", 0.25, {Part(1, 0.05f, "Argon", 39.948f), fluid}),
            Segment("blink", 0, {Part(1, 0.05f, "Argon", 39.948f)})};
}

TPumpDetails Pump() {
    TPumpDetails pump;
    pump.SYRINGE_VOLUMEul = 12.5;
    return pump;
}

const TDateTime kStart = EncodeDateTime(2026, 12, 10, 9, 0, 0, 0);

// Relative closeness: the record's flows are single precision.
void ExpectClose(double actual, double expected) { EXPECT_NEAR(actual, expected, std::fabs(expected) * 1e-6) << expected; }

TEST(ProgramCheck, DosesOfEachSegmentAndTheWholeProgramAsWorkedOutByHand) {
    const std::vector<std::vector<std::string>> corrections = {{}, {"gas B 90000 µg/min corrected to 50000 µg/min"}};
    const TProgramCheck c = CheckProgram(Program(), Pump(), kStart, &corrections);
    ASSERT_EQ(c.Segments.size(), 3u);

    const TSegmentCheck& dry = c.Segments[0];
    ExpectClose(dry.GasA.Mass_g, 0.0015 * 60 * 0.5);                   // 0.045 g
    ExpectClose(dry.GasA.NormalVolume_ml, 0.045 / 31.9988 * 22414);     // 31.52 ml
    ExpectClose(dry.GasB.Mass_g, 0.6);
    ExpectClose(dry.GasB.NormalVolume_ml, 0.6 / 39.948 * 22414);        // 336.65 ml
    EXPECT_FALSE(dry.FluidC.Present);
    EXPECT_NEAR(dry.End, EncodeDateTime(2026, 12, 10, 9, 30, 0, 0), 1e-9);

    const TSegmentCheck& wet = c.Segments[1];
    EXPECT_FALSE(wet.GasA.Present);
    ExpectClose(wet.GasB.Mass_g, 0.75);
    ExpectClose(wet.FluidC.Mass_g, 0.045);
    ExpectClose(wet.FluidC.Volume_ml, 0.045 / 0.8);                     // 0.056 25 ml
    ExpectClose(wet.FluidC.Strokes, 56.25 / 12.5);                      // 4.5 strokes of 12.5 µl
    EXPECT_NEAR(wet.End, EncodeDateTime(2026, 12, 10, 9, 45, 0, 0), 1e-9);

    // A segment of no duration doses nothing.
    EXPECT_EQ(c.Segments[2].GasB.Mass_g, 0);

    EXPECT_DOUBLE_EQ(c.Total.Hours, 0.75);
    ExpectClose(c.Total.GasA.Mass_g, 0.045);
    ExpectClose(c.Total.GasB.Mass_g, 1.35);
    ExpectClose(c.Total.GasB.NormalVolume_ml, 1.35 / 39.948 * 22414);   // 757.46 ml
    ExpectClose(c.Total.FluidC.Volume_ml, 0.05625);
    ExpectClose(c.Total.FluidC.Strokes, 4.5);
    EXPECT_NEAR(c.Total.End, EncodeDateTime(2026, 12, 10, 9, 45, 0, 0), 1e-9);
    EXPECT_EQ(c.PulsedSegments, std::vector<size_t>{1});
    EXPECT_EQ(c.CorrectedSegments, std::vector<size_t>{2});

    const std::vector<std::string> lines = ProgramCheckLines(c);
    auto has = [&](const std::string& text) {
        return std::any_of(lines.begin(), lines.end(), [&](const std::string& l) { return l.find(text) != std::string::npos; });
    };
    for (const char* text : {"Segment 1 \"dry\": 0:30:00, ends 2026-12-10 09:30:00", "Gas A Oxygen         0.045 000 g   31.5 mln   pulsed 60.0 %",
                             "Fluid C Ethanol mix  0.045 000 g   56.2 µl   4.50 syringe strokes", "pump command gIV6000A24000OV24A0GR",
                             "  Corrected: gas B 90000 µg/min corrected to 50000 µg/min",
                             "Whole program: 3 segments, 0:45:00, ends 2026-12-10 09:45:00",
                             "Gas B Argon          1.350 000 g   757.5 mln", "Gas A pulsed in segments: 1",
                             "Flows corrected in segments: 2"})
        EXPECT_TRUE(has(text)) << text << "\n" << ::testing::PrintToString(lines);
}

TEST(ProgramCheck, WhatCannotBeWorkedOutIsSaidSo) {
    std::vector<TGasItem> program = Program();
    program[0].Components[0].MolarMass = 0;  // a gas the catalogue does not know
    TPumpDetails pump = Pump();
    pump.SYRINGE_VOLUMEul = 0;
    const std::vector<std::string> lines = ProgramCheckLines(CheckProgram(program, pump, kStart));
    auto has = [&](const std::string& text) {
        return std::any_of(lines.begin(), lines.end(), [&](const std::string& l) { return l.find(text) != std::string::npos; });
    };
    EXPECT_TRUE(has("? mln (molar mass unknown)"));
    EXPECT_TRUE(has("? syringe strokes"));
    EXPECT_TRUE(has("Flows corrected in segments: not known"));
    for (const std::string& l : lines) EXPECT_EQ(l.find("nan"), std::string::npos) << l;

    EXPECT_EQ(ProgramCheckLines(CheckProgram({}, pump, kStart)).back(), "No segment program to check.");
}

TEST(ProgramCheck, ShownInMemo1AndNothingElseChanges) {
    TForm1 form;
    ScriptedDialogs dialogs;
    TMixer mixer{form, dialogs};
    mixer.StepProgram = Program();
    mixer.PumpDetails = Pump();
    form.Memo1.Add("the mixture report");
    ShowProgramCheck(mixer, kStart);
    ASSERT_GT(form.Memo1.Count(), 3);
    EXPECT_EQ(form.Memo1.Line(0).rfind("Check of the segment program if started now, 2026-12-10 09:00:00", 0), 0u);
    EXPECT_EQ(mixer.StepProgram.size(), 3u);
    EXPECT_TRUE(dialogs.shown.empty());
}

TEST(ProgramCheck, CorrectionsOfAnOpenedProgramHoldUntilItIsEdited) {
    std::vector<TGasItem> program = Program();
    const std::vector<std::vector<std::string>> corrections = {{"x"}, {}, {}};
    TOpenedProgramCorrections opened;
    EXPECT_EQ(opened.For(program), nullptr);  // nothing opened yet
    opened.Remember(program, corrections);
    ASSERT_NE(opened.For(program), nullptr);
    EXPECT_EQ(*opened.For(program), corrections);

    std::vector<TGasItem> edited = program;
    edited[1].Components[0].Mass = 0.04f;  // another flow of gas B
    EXPECT_EQ(opened.For(edited), nullptr);
    edited = program;
    edited[1].Components[1].PumpCommand = "gIV6000A24000OV25A0GR";
    EXPECT_EQ(opened.For(edited), nullptr);
    edited = program;
    edited.pop_back();
    EXPECT_EQ(opened.For(edited), nullptr);
}

}  // namespace
}  // namespace moirex
