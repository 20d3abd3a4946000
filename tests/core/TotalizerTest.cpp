#include "core/Totalizer.h"

#include <gtest/gtest.h>

#include <cctype>
#include <cmath>
#include <limits>
#include <map>
#include <string>
#include <vector>

namespace moirex {
namespace {

TSerialResponse Answer(float value) {
    TSerialResponse r;
    r.Init();
    r.AsFloat = value;
    return r;
}

TSerialResponse NoAnswer(const std::string& status) {
    TSerialResponse r;
    r.Init();
    r.Status = status;
    return r;
}

struct UnitCase {
    const char* unit;
    double reading;
    double grams;
    std::vector<std::string> lines;
};

class TotalizerUnits : public ::testing::TestWithParam<UnitCase> {};

TEST_P(TotalizerUnits, ConvertsToGramsAndLogsTheConversion) {
    const UnitCase& c = GetParam();
    TLUTData entry;
    entry.TotalizerUnit = c.unit;
    entry.DensityGPL = 1.25f;
    entry.TotalizerScaling = 1000.0f;  // logged only, never applied
    std::vector<std::string> lines;
    const double grams = TotalizerToGrams(c.reading, entry, [&](const std::string& l) { lines.push_back(l); });
    EXPECT_DOUBLE_EQ(grams, c.grams);
    EXPECT_EQ(lines, c.lines);
}

const std::vector<std::string> kLitreLines = {" MFC A: Totalizer unit LN needs conversion ",
                                              " MFC A: grams per liter    : 1.250 000 000",
                                              " MFC A: Tot. in grams      : 2.500 000 000"};
const std::vector<std::string> kKiloLines = {" MFC A: Totalizer unit KG needs conversion ",
                                             " IF YOU ARE SEEING THIS CONTACT TARVEL ",
                                             " MFC A: Tot. in grams      : 2000"};

INSTANTIATE_TEST_SUITE_P(
    EveryUnit, TotalizerUnits,
    ::testing::Values(UnitCase{"ln", 2, 2.5, kLitreLines}, UnitCase{"ln*", 2, 2.5, kLitreLines},
                      UnitCase{"lnJ", 2, 2.5, kLitreLines}, UnitCase{"mln", 2, 0.0025, {}},
                      UnitCase{"mln*", 2, 0.0025, {}}, UnitCase{"mlnJ", 2, 0.0025, {}},
                      UnitCase{"kg", 2, 2000, kKiloLines}, UnitCase{"kgJ", 2, 2000, kKiloLines},
                      UnitCase{"g", 2, 2, {}},
                      // The comparison is exact: other spellings are taken as grams.
                      UnitCase{"LN", 2, 2, {}}, UnitCase{"ln ", 2, 2, {}}, UnitCase{"", 2, 2, {}}),
    // Test names show the unit, so a failure says which conversion broke.
    [](const ::testing::TestParamInfo<UnitCase>& info) {
        std::string name = std::to_string(info.index) + "_";
        for (const char* c = info.param.unit; *c; ++c)
            name += std::isalnum(static_cast<unsigned char>(*c)) ? *c : '_';
        return name;
    });

// MFC A with gas table 3 in litres; the fake controller answers register by register.
class ReadTotalizerTest : public ::testing::Test {
protected:
    ReadTotalizerTest() {
        mfc.ActiveLUT = 3;
        mfc.LUT[3].UnitType = "ln/min";
        mfc.LUT[3].TotalizerUnit = "ln";
        mfc.LUT[3].DensityGPL = 1.25f;
        mfc.LUT[3].TotalizerScaling = 1.0f;
        answers[MFCRegisterSetPoint] = Answer(0.5f);
        answers[MFCRegisterFlow] = Answer(0.25f);
        answers[MFCRegisterTotalizer] = Answer(2.0f);
    }

    bool Read() {
        return ReadTotalizerValue(
            mfc,
            [&](uint16_t reg) {
                asked.push_back(reg);
                return answers.at(reg);
            },
            value, [&](const std::string& l) { lines.push_back(l); });
    }

    TMFCDetails mfc;
    std::map<uint16_t, TSerialResponse> answers;
    std::vector<uint16_t> asked;
    std::vector<std::string> lines;
    double value = 99;
};

TEST_F(ReadTotalizerTest, ReadsSetPointFlowAndTotalizerAndLogsEveryStep) {
    ASSERT_TRUE(Read());
    EXPECT_DOUBLE_EQ(value, 2.5);
    EXPECT_DOUBLE_EQ(mfc.CurrentObservedFlow, 0.25);
    EXPECT_EQ(asked, (std::vector<uint16_t>{6, 0, 4}));
    const std::vector<std::string> expected = {
        " MFC A: Active lut         : 3",
        " MFC A: Current setpoint   : 0.500 000 000",
        " MFC A: Current flow       : 0.250 000 000",
        " MFC A: Flow unit          : ln/min",
        " MFC A: Totalizer 0 value  : 2.000 000 000",
        " MFC A: Totalizer unit     : ln",
        " MFC A: Totalizer scaling  : 1.000 000 000",
        " MFC A: Totalizer unit LN needs conversion ",
        " MFC A: grams per liter    : 1.250 000 000",
        " MFC A: Tot. in grams      : 2.500 000 000",
        "Totalizer:2.5 g",
    };
    EXPECT_EQ(lines, expected);
}

TEST_F(ReadTotalizerTest, AFailedSetPointReadEndsTheReadingAtOnce) {
    answers[MFCRegisterSetPoint] = NoAnswer("Timeout");
    mfc.CurrentObservedFlow = 0.3;
    EXPECT_FALSE(Read());
    EXPECT_EQ(value, 0);
    EXPECT_EQ(asked, (std::vector<uint16_t>{6}));
    EXPECT_DOUBLE_EQ(mfc.CurrentObservedFlow, 0.3);
    EXPECT_EQ(lines, (std::vector<std::string>{" MFC A: Active lut         : 3",
                                               "Thread: ReadTotalizer: Comms failed, status:Timeout"}));
}

TEST_F(ReadTotalizerTest, AFailedFlowReadOnlyMarksTheFlowUnknown) {
    answers[MFCRegisterFlow] = NoAnswer("CRC error");
    EXPECT_TRUE(Read());
    EXPECT_DOUBLE_EQ(mfc.CurrentObservedFlow, -1);
    EXPECT_DOUBLE_EQ(value, 2.5);
}

TEST_F(ReadTotalizerTest, AFailedTotalizerReadFails) {
    answers[MFCRegisterTotalizer] = NoAnswer("Timeout");
    EXPECT_FALSE(Read());
    EXPECT_EQ(lines.back(), "Failed to read and convert totalizer to grams");
}

TEST_F(ReadTotalizerTest, ATotalizerThatIsNoNumberCountsAsFailed) {
    answers[MFCRegisterTotalizer] = Answer(std::numeric_limits<float>::quiet_NaN());
    EXPECT_FALSE(Read());
    EXPECT_EQ(lines.back(), "Failed to read and convert totalizer to grams");
}

TEST_F(ReadTotalizerTest, AGasTableOutsideTwoToElevenReadsAsGrams) {
    mfc.ActiveLUT = 0;
    EXPECT_TRUE(Read());
    EXPECT_DOUBLE_EQ(value, 2.0);
    EXPECT_EQ(lines[3], " MFC A: Flow unit          : ");
}

TEST(AcceptFlowReading, MinusOneFromTheControllerIsAFailedRead) {
    struct Case {
        TSerialResponse response;
        bool accepted;
        double flow;
    };
    const Case cases[] = {
        {Answer(-1.0f), false, -1.0},  {Answer(-0.999f), true, static_cast<double>(-0.999f)},
        {Answer(0.0f), true, 0.0},     {Answer(0.0892f), true, static_cast<double>(0.0892f)},
        {Answer(-2.0f), false, -2.0},  {NoAnswer("Timeout"), false, -1.0},
    };
    for (const Case& c : cases) {
        double flow = 123;
        EXPECT_EQ(AcceptFlowReading(c.response, flow), c.accepted) << c.response.AsFloat;
        EXPECT_DOUBLE_EQ(flow, c.flow);
    }
    double flow = 0;
    EXPECT_FALSE(AcceptFlowReading(Answer(std::numeric_limits<float>::quiet_NaN()), flow));
}

}  // namespace
}  // namespace moirex
