#include "support/TextFormat.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace moirex {
namespace {

struct TGeneralCase {
    double Value;
    const char* Text;
};

TEST(FormatGeneral, WritesShortestTextOfFifteenDigits) {
    const TGeneralCase cases[] = {
        {0.0, "0"},
        {-0.0, "0"},
        {18.0, "18"},
        {12.5, "12.5"},
        {1013.25, "1013.25"},
        {-0.5, "-0.5"},
        {0.1, "0.1"},
        {1.0 / 3.0, "0.333333333333333"},
        {2.0 / 3.0, "0.666666666666667"},
        // A single-precision value shows its widened digits.
        {static_cast<double>(0.7893f), "0.78930002450943"},
        {static_cast<double>(0.9970474f), "0.997047424316406"},
        // Fixed notation from 0.00001 up to 15 integer digits, scientific beyond.
        {0.00001, "0.00001"},
        {0.0000123, "0.0000123"},
        {0.000009, "9E-6"},
        {2.30761e-6, "2.30761E-6"},
        {-2.30761e-6, "-2.30761E-6"},
        {1e-300, "1E-300"},
        {999999999999999.0, "999999999999999"},
        {1e15, "1E15"},
        {1.5e20, "1.5E20"},
        {123456789012345678.0, "1.23456789012346E17"},
        // Rounding to 15 digits can carry into a new integer digit.
        {9999999999999999.0, "1E16"},
        {0.99999999999999999, "1"},
    };
    for (const auto& c : cases) EXPECT_EQ(FormatGeneral(c.Value), c.Text) << c.Value;
}

TEST(FormatGeneral, ShowsQuestionMarkForValuesThatAreNoNumbers) {
    EXPECT_EQ(FormatGeneral(std::numeric_limits<double>::quiet_NaN()), "?");
    EXPECT_EQ(FormatGeneral(std::numeric_limits<double>::infinity()), "?");
    EXPECT_EQ(FormatGeneral(-std::numeric_limits<double>::infinity()), "?");
}

struct TMaskCase {
    double Value;
    const char* Mask;
    const char* Text;
};

TEST(FormatMask, FollowsTheMasksOfTheOperatorTexts) {
    const TMaskCase cases[] = {
        // Blanks between digit places appear only once a digit stands before them.
        {23087, "# ### ###", "23 087"},
        {1000000, "# ### ###", "1 000 000"},
        {4000, "# ### ###", "4 000"},
        {999, "# ### ###", "999"},
        {23086.6, "# ### ###", "23 087"},
        {1234567890, "# ### ###", "1234 567 890"},  // digits beyond the places go in front
        {-23087, "# ### ###", "-23 087"},
        {0, "# ### ###", "0"},  // a zero is never a blank column
        {0.4, "# ### ###", "0"},
        // Blanks in the fraction follow the digit places.
        {0.76816, "0.000 000", "0.768 160"},
        {1.0, "0.000 000", "1.000 000"},
        {0.0000004, "0.000 000", "0.000 000"},
        {0.0000005, "0.000 000", "0.000 001"},
        {-0.0000004, "0.000 000", "0.000 000"},  // no "-" before a zero
        {-0.76816, "0.000 000", "-0.768 160"},
        {12.3456789, "0.000 000 000", "12.345 678 900"},
        {0.5, "  0.000 000", "  0.500 000"},
        // Optional fraction places drop their trailing zeros, the blanks before them and, with
        // no digit left, the separator.
        {0.0005, " = 0.### ### ### g/min", " = 0.000 5 g/min"},
        {0.000123456, " = 0.### ### ### g/min", " = 0.000 123 456 g/min"},
        {0.0123, " = 0.### ### ### g/min", " = 0.012 3 g/min"},
        {1.0, " = 0.### ### ### g/min", " = 1 g/min"},
        {0.0, " = 0.### ### ### g/min", " = 0 g/min"},
        {0.0000000004, " = 0.### ### ### g/min", " = 0 g/min"},
        {-0.25, " = 0.### ### ### g/min", " = -0.25 g/min"},
        // Plain masks.
        {76.82, "0.00", "76.82"},
        {23.18, "0.00", "23.18"},
        {0.75, "0.00", "0.75"},
        {50.0, "0.000", "50.000"},
        {777.1, "0", "777"},
        {59.94, "00", "60"},
        {1.0, "00", "01"},
        {5, "##", "5"},
        {12.34, "0.0", "12.3"},
        {0.0, "0.0", "0.0"},
        // Halves away from zero, also where the binary value lies just below the half.
        {0.5, "0", "1"},
        {1.5, "0", "2"},
        {2.5, "0", "3"},
        {-0.5, "0", "-1"},
        {-2.5, "0", "-3"},
        {0.125, "0.00", "0.13"},
        {2.675, "0.00", "2.68"},
        {-2.675, "0.00", "-2.68"},
        {0.9999996, "0.000 000", "1.000 000"},
        {99.95, "0.0", "100.0"},
        {static_cast<double>(0.7893f), "0.000 000", "0.789 300"},
        // Masks without integer places still show the whole number.
        {1.5, ".00", "1.50"},
        {0.5, ".00", ".50"},
        {0.5, "#.##", ".5"},
        {0.0, "#.##", "0"},
        {-0.5, "#.##", "-.5"},
        // A mask without digit places is copied.
        {5, "abc", "abc"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(FormatMask(c.Value, c.Mask), c.Text) << c.Value << " with \"" << c.Mask << "\"";
    }
}

TEST(FormatMask, ShowsQuestionMarkInsteadOfANumberThatIsNone) {
    EXPECT_EQ(FormatMask(std::nan(""), " = 0.### ### ### g/min"), " = ? g/min");
    EXPECT_EQ(FormatMask(std::numeric_limits<double>::infinity(), "0.000 000"), "?");
}

TEST(FormatMask, WritesLargeValuesInFull) {
    EXPECT_EQ(FormatMask(1e20, "0"), "100000000000000000000");
    EXPECT_EQ(FormatMask(1e20, "0.00"), "100000000000000000000.00");
}

TEST(RoundHalfEven, RoundsHalvesToTheEvenNeighbour) {
    const struct {
        double Value;
        int64_t Result;
    } cases[] = {
        {0.5, 0},     {1.5, 2},      {2.5, 2},    {3.5, 4},        {-0.5, 0},         {-1.5, -2},
        {-2.5, -2},   {502.5, 502},  {36.5, 36},  {12.5, 12},      {8.5, 8},          {0.49999, 0},
        {0.50001, 1}, {1000000, 1000000},          {768160.4, 768160}, {-3.7, -4},
    };
    for (const auto& c : cases) EXPECT_EQ(RoundHalfEven(c.Value), c.Result) << c.Value;
}

TEST(RoundHalfEven, HoldsValuesOutOfRange) {
    EXPECT_EQ(RoundHalfEven(std::nan("")), 0);
    EXPECT_EQ(RoundHalfEven(1e300), std::numeric_limits<int64_t>::max());
    EXPECT_EQ(RoundHalfEven(-1e300), std::numeric_limits<int64_t>::min());
}

TEST(ParseReal, AcceptsNumbersWithPointOnly) {
    const struct {
        const char* Text;
        bool Ok;
        double Value;
    } cases[] = {
        {"12.5", true, 12.5},      {"1013.25", true, 1013.25}, {"18", true, 18},
        {"-0.5", true, -0.5},      {"+3", true, 3},            {" 21 ", true, 21},
        {".5", true, 0.5},         {"5.", true, 5},            {"2.30761E-6", true, 2.30761e-6},
        {"1e3", true, 1000},       {"0.997047424316406", true, 0.997047424316406},
        {"12,5", false, 0},        {"", false, 0},             {"   ", false, 0},
        {"abc", false, 0},         {"1.2.3", false, 0},        {"nan", false, 0},
        {"inf", false, 0},         {"-", false, 0},            {"+-1", false, 0},
        {"1e999", false, 0},       {"0x10", false, 0},         {"1 2", false, 0},
        {"?", false, 0},
    };
    for (const auto& c : cases) {
        double v = -99;
        EXPECT_EQ(ParseReal(c.Text, v), c.Ok) << '"' << c.Text << '"';
        if (c.Ok) EXPECT_DOUBLE_EQ(v, c.Value) << '"' << c.Text << '"';
        else EXPECT_EQ(v, -99) << "value changed by a failed parse of \"" << c.Text << '"';
    }
}

TEST(ParseInteger, ReadsDecimalAndHexadecimal) {
    const struct {
        const char* Text;
        bool Hex;
        bool Ok;
        int64_t Value;
    } cases[] = {
        {"24000", false, true, 24000},
        {"-10", false, true, -10},
        {"+7", false, true, 7},
        {" 42 ", false, true, 42},
        {"0x10", true, true, 16},
        {"0XfF", true, true, 255},
        {"0x10", false, false, 0},
        {"0x", true, false, 0},  // two characters only: not hexadecimal, not decimal
        {"0xG", true, false, 0},
        {"12.5", false, false, 0},
        {"1e3", false, false, 0},
        {"", false, false, 0},
        {"abc", true, false, 0},
        {"99999999999999999999", false, false, 0},
        {"0x7FFFFFFFFFFFFFFF", true, true, std::numeric_limits<int64_t>::max()},
        {"0x8000000000000000", true, false, 0},
        {"007", false, true, 7},
    };
    for (const auto& c : cases) {
        int64_t v = -99;
        EXPECT_EQ(ParseInteger(c.Text, v, c.Hex), c.Ok) << '"' << c.Text << '"';
        EXPECT_EQ(v, c.Ok ? c.Value : -99) << '"' << c.Text << '"';
    }
}

TEST(FitText, CutsAndPadsCountingCharacters) {
    EXPECT_EQ(FitLeft("Nitrogen", 10), "Nitrogen  ");
    EXPECT_EQ(FitLeft("Carbon monoxide", 6), "Carbon");
    EXPECT_EQ(FitLeft("", 3), "   ");
    EXPECT_EQ(FitRight("777", 6), "   777");
    EXPECT_EQ(FitRight("21.5", 3), "1.5");
    EXPECT_EQ(FitRight("1013.251", 7), "013.251");
    EXPECT_EQ(FitRight("4 000", 9), "    4 000");
    EXPECT_EQ(FitLeft("abc", 0), "");
    EXPECT_EQ(FitRight("abc", -1), "");
    // "º" is two bytes in UTF-8 but one character on the screen.
    EXPECT_EQ(FitRight("20\u00BAC", 6), "  20\u00BAC");
    EXPECT_EQ(FitLeft("\u00BAC", 4), "\u00BAC  ");
    EXPECT_EQ(FitLeft("\u00BACx", 1), "\u00BA");
    EXPECT_EQ(FitRight("x\u00BAC", 2), "\u00BAC");
    // A byte that is no valid UTF-8 counts as one character.
    EXPECT_EQ(FitLeft("\xBA" "C", 3), "\xBA" "C ");
}

TEST(Trim, RemovesBlanksTabsAndLineEnds) {
    EXPECT_EQ(Trim("  a b \t\r\n"), "a b");
    EXPECT_EQ(Trim(" \t "), "");
    EXPECT_EQ(Trim("x"), "x");
}

}  // namespace
}  // namespace moirex
