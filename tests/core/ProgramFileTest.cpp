#include "core/ProgramFile.h"

#include <gtest/gtest.h>

#include <string>

namespace moirex {
namespace {

TEST(ProgramFile, ReadsSegmentsSkippingCommentsAndNamingUnnamedOnes) {
    const auto r = ParseProgramFile(
        "\xEF\xBB\xBF# demo\r\n"
        " name , hours,gas_a_ugpm,gas_b_ugpm,fluid_ugpm\r\n"
        "\r\n"
        "Flush,0.25,0,20000,0\r\n"
        "# a pulsed one\r\n"
        " ,0.5,1500,20000,3000.5\r\n"
        ",0,0,0,0");
    ASSERT_TRUE(r.Ok()) << r.Errors.front();
    ASSERT_EQ(r.Segments.size(), 3u);
    EXPECT_EQ(r.Segments[0].Name, "Flush");
    EXPECT_EQ(r.Segments[0].Line, 4u);
    EXPECT_DOUBLE_EQ(r.Segments[0].Hours, 0.25);
    EXPECT_EQ(r.Segments[0].GasB_ugpm, 20000);
    // Unnamed segments are numbered by their place in the program, not by their line.
    EXPECT_EQ(r.Segments[1].Name, "ID:2");
    EXPECT_EQ(r.Segments[1].GasA_ugpm, 1500);
    EXPECT_DOUBLE_EQ(r.Segments[1].Fluid_ugpm, 3000.5);
    EXPECT_EQ(r.Segments[2].Name, "ID:3");
    EXPECT_EQ(r.Segments[2].Line, 7u);
}

TEST(ProgramFile, RefusesEveryBadLineWithItsNumberAndKeepsNoSegment) {
    struct Case {
        const char* line;
        const char* expected;  // part of the error of line 3
    } cases[] = {
        {"a,1,2,3", "expected 5 fields"},
        {"a,1,2,3,4,5", "expected 5 fields"},
        {"a,1,5", "expected 5 fields"},
        {"a,1;5,0,0,0", "hours \"1;5\" is not a number"},
        {"a,0,5,0,0", ""},  // control: a good line
        {"a,-0.5,0,0,0", "hours \"-0.5\" cannot be negative"},
        {"a,nan,0,0,0", "hours \"nan\" is not a number"},
        {"a,1,1500.5,0,0", "gas_a_ugpm \"1500.5\" is not a whole number"},
        {"a,1,0,-1,0", "gas_b_ugpm \"-1\" cannot be negative"},
        {"a,1,0,,0", "gas_b_ugpm \"\" is not a whole number"},
        {"a,1,0,0,1e999", "fluid_ugpm \"1e999\" is not a number"},
        {"a,1,0,0,-3", "fluid_ugpm \"-3\" cannot be negative"},
        {"a,1,0,99999999999999,0", "beyond any controller's range"},
        {"a\tb,1,0,0,0", "may not hold a TAB"},
        {"a\"b,1,0,0,0", "put the whole field in double quotes"},
        {"\"a,1,0,0,0", "never closed"},
        {"\"a\"b,1,0,0,0", "text after its closing double quote"},
        {"\"a,b\" ,1,0,0,0", ""},
        {"a,1e300,0,0,0", "hours \"1e300\" is more than 100000"},
        {"a,100000,0,0,0", ""},
        {"a,1,0,0,1e13", "fluid_ugpm \"1e13\" is beyond any pump's range"},
    };
    // The first form of the file, without the pump command, as files written before it still are.
    for (const Case& c : cases) {
        const std::string text =
            std::string("# x\n") + std::string(ProgramFileHeaderWithoutCommand) + "\n" + c.line + "\nok,1,0,0,0\n";
        const auto r = ParseProgramFile(text);
        if (std::string(c.expected).empty()) {
            EXPECT_TRUE(r.Ok()) << c.line;
            continue;
        }
        ASSERT_EQ(r.Errors.size(), 1u) << c.line;
        EXPECT_EQ(r.Errors[0].rfind("line 3: ", 0), 0u) << r.Errors[0];
        EXPECT_NE(r.Errors[0].find(c.expected), std::string::npos) << r.Errors[0];
        EXPECT_TRUE(r.Segments.empty()) << c.line;
    }
}

// A name of megabytes and more segments than any program has are refused with their line number.
TEST(ProgramFile, AbsurdSizesAreRefusedWithTheirLine) {
    const std::string header = std::string(ProgramFileHeaderWithoutCommand) + "\n";
    const auto longName = ParseProgramFile(header + "ok,1,0,0,0\n" + std::string(50 << 20, 'x') + ",1,0,0,0\n");
    ASSERT_EQ(longName.Errors.size(), 1u);
    EXPECT_EQ(longName.Errors[0], "line 3: name of 52428800 bytes is longer than 1000");
    EXPECT_TRUE(ParseProgramFile(header + std::string(ProgramNameMaxBytes, 'x') + ",1,0,0,0\n").Ok());

    std::string many = header;
    for (size_t i = 0; i <= ProgramSegmentsMax; ++i) many += "s,1,0,0,0\n";
    const auto tooMany = ParseProgramFile(many);
    ASSERT_EQ(tooMany.Errors.size(), 1u);
    EXPECT_EQ(tooMany.Errors[0], "line " + std::to_string(ProgramSegmentsMax + 2) + ": more than 100000 segments");
    EXPECT_TRUE(tooMany.Segments.empty());
}

TEST(ProgramFile, PumpCommandColumn) {
    const std::string header = std::string(ProgramFileHeader) + "\n";
    const auto r = ParseProgramFile(header +
                                    "a,1,0,0,0,TR\n"
                                    "b,1,0,0,1000,gIV6000A24000OV8A0GR\n"
                                    "c,1,0,0,10,gIV6000A24000OV1000gD1M3074G24000GR\n"
                                    "d,1,0,0,10,\n");
    ASSERT_TRUE(r.Ok()) << r.Errors.front();
    EXPECT_EQ(r.Segments[0].PumpCommand, "TR");
    EXPECT_EQ(r.Segments[1].PumpCommand, "gIV6000A24000OV8A0GR");
    EXPECT_EQ(r.Segments[2].PumpCommand, "gIV6000A24000OV1000gD1M3074G24000GR");
    EXPECT_EQ(r.Segments[3].PumpCommand, "");

    // Only commands the pump speed function makes are taken from a file: nothing else is sent.
    for (const char* bad : {"ZR", "gIV6000A24000OV4A0GR", "gIV6000A24000OV1001A0GR", "gIV6000A24000OV08A0GR",
                            "gIV6000A24000OV1000gD1M0G24000GR", "gIV6000A24000OV1000gD1M30001G24000GR",
                            "gIV6000A24000OV8A0GRT", "TR ;"}) {
        const auto bad_r = ParseProgramFile(header + "a,1,0,0,10," + bad + "\n");
        ASSERT_EQ(bad_r.Errors.size(), 1u) << bad;
        EXPECT_NE(bad_r.Errors[0].find("is not a command this program chooses"), std::string::npos) << bad_r.Errors[0];
    }
    // Six fields are needed under the six-column header, five under the old one.
    EXPECT_NE(ParseProgramFile(header + "a,1,0,0,0\n").Errors.at(0).find("expected 6 fields"), std::string::npos);
    EXPECT_NE(ParseProgramFile(std::string(ProgramFileHeaderWithoutCommand) + "\na,1,0,0,0,TR\n")
                  .Errors.at(0)
                  .find("expected 5 fields"),
              std::string::npos);
}

TEST(ProgramFile, ReportsAllFaultsOfAllLines) {
    const auto r = ParseProgramFile(std::string(ProgramFileHeaderWithoutCommand) + "\nx,-1,a,0,0\ny,1,0,0,0\nz,1,0,0\n");
    ASSERT_EQ(r.Errors.size(), 3u);
    EXPECT_EQ(r.Errors[0].rfind("line 2: hours", 0), 0u);
    EXPECT_EQ(r.Errors[1].rfind("line 2: gas_a_ugpm", 0), 0u);
    EXPECT_EQ(r.Errors[2].rfind("line 4: expected 5 fields", 0), 0u);
}

TEST(ProgramFile, HeaderAndEmptyProgram) {
    EXPECT_EQ(ParseProgramFile("").Errors.at(0), "the file holds no header line \"" + std::string(ProgramFileHeader) + "\"");
    EXPECT_EQ(ParseProgramFile("# only\n\n").Errors.size(), 1u);
    EXPECT_EQ(ParseProgramFile(std::string(ProgramFileHeader) + "\n# nothing\n").Errors.at(0), "the file holds no segment");
    EXPECT_FALSE(ParseProgramFile("name,hours,gas_a_ugpm,gas_b_ugpm,fluid_ugpm,pump\na,1,0,0,0,TR\n").Ok());
    // A segment line where the header belongs.
    const auto r = ParseProgramFile("a,1,0,0,0\n");
    ASSERT_FALSE(r.Ok());
    EXPECT_EQ(r.Errors[0].rfind("line 1: expected the header line", 0), 0u);
    // Columns in another order are not taken for the header.
    EXPECT_FALSE(ParseProgramFile("name,hours,gas_b_ugpm,gas_a_ugpm,fluid_ugpm\na,1,0,0,0\n").Ok());
}

TEST(ProgramFile, WrittenTextReadsBackToTheSameProgram) {
    std::vector<TProgramSegment> program = {
        {"Flush, \"dry\"", 0.1 + 0.2, 0, 20000, 0, 0, "TR"},
        {"ID:2", 1.0 / 3.0, 1500, 0, 3000.25, 0, "gIV6000A24000OV24A0GR"},
        {" blank ends ", 1, 1, 0, 0, 0, ""},
        {"tab\there", 1, 1, 0, 0, 0, ""},
        {"#3 not a comment", 1, 1, 0, 0, 0, ""},
    };
    const std::string text = FormatProgramFile(program, {"saved by a test", "two\nlines"});
    EXPECT_EQ(text.rfind("# saved by a test\n# two lines\n" + std::string(ProgramFileHeader) + "\n", 0), 0u) << text;
    const auto r = ParseProgramFile(text);
    ASSERT_TRUE(r.Ok()) << r.Errors.front();
    ASSERT_EQ(r.Segments.size(), 5u);
    EXPECT_EQ(r.Segments[0].Name, "Flush, \"dry\"");
    EXPECT_EQ(r.Segments[0].PumpCommand, "TR");
    EXPECT_EQ(r.Segments[1].PumpCommand, "gIV6000A24000OV24A0GR");
    EXPECT_EQ(r.Segments[2].Name, " blank ends ");
    EXPECT_EQ(r.Segments[3].Name, "tab here");  // a TAB would split the segment list's columns
    EXPECT_EQ(r.Segments[4].Name, "#3 not a comment");
    EXPECT_EQ(r.Segments[0].Hours, program[0].Hours);
    EXPECT_EQ(r.Segments[1].Name, "ID:2");
    EXPECT_EQ(r.Segments[1].Hours, program[1].Hours);
    EXPECT_EQ(r.Segments[1].GasA_ugpm, 1500);
    EXPECT_EQ(r.Segments[1].Fluid_ugpm, 3000.25);
}

TEST(ProgramFile, UnreadableFileIsOneError) {
    const auto r = ReadProgramFile("/nonexistent/program.csv");
    ASSERT_EQ(r.Errors.size(), 1u);
    EXPECT_NE(r.Errors[0].find("cannot read \"/nonexistent/program.csv\""), std::string::npos);
}

}  // namespace
}  // namespace moirex
