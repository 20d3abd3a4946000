// The run data file's text: the comment line naming the recipe, the header, the rows.

#include "core/RunDataFile.h"

#include <gtest/gtest.h>

#include <sys/resource.h>
#include <unistd.h>

#include <csignal>

#include <filesystem>
#include <fstream>
#include <string>

#include "support/Version.h"

namespace moirex {
namespace {

namespace fs = std::filesystem;

std::string ReadAll(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

TEST(RunDataFile, NamesItsRecipeAndHoldsOneRowPerReading) {
    const fs::path path = fs::temp_directory_path() / ("moirex-run-data-" + std::to_string(::getpid()) + ".csv");
    { std::ofstream(path) << "an older file of the same name\n"; }
    TFlowStatus f;
    f.MFCA = 0.01;
    f.SegmentAverage = 0.0099999998;
    f.MFCB = -1;
    f.MovingAverage = 1e-7;
    f.MovingAverageMinutes = 0.05;
    {
        TRunDataFile file;
        ASSERT_TRUE(file.Open(path.string(), "Recipe 2026-12-10 09.15.02.txt"));
        EXPECT_TRUE(file.Add(EncodeDateTime(2026, 12, 10, 9, 15, 3, 250), 0.8126, 1, f));
        // Each row reaches the file as it is added, before the file is closed.
        EXPECT_NE(ReadAll(path).find("0.813,1,"), std::string::npos);
        EXPECT_TRUE(file.Add(EncodeDateTime(2026, 12, 10, 9, 15, 3, 450), 1.0, 2, f));
    }
    // The time stamps carry the UTC offset in force then; a missing reading is an empty field.
    const std::string offset = Iso8601Local(EncodeDateTime(2026, 12, 10, 9, 15, 3, 250)).substr(23);
    ASSERT_EQ(offset.size(), 6u);
    EXPECT_EQ(ReadAll(path),
              "# Recipe: Recipe 2026-12-10 09.15.02.txt\r\n"
              "# Moirex version: " + std::string(ProjectVersion()) + "\r\n"
              "time,seconds [s],segment,MFCA [g/min],SegmentAverage [g/min],MFCB [g/min],MovingAverage [g/min],"
              "MovingAverageMinutes [min]\r\n"
              "2026-12-10T09:15:03.250" + offset + ",0.813,1,0.01,0.0099999998,,1e-07,0.05\r\n"
              "2026-12-10T09:15:03.450" + offset + ",1.000,2,0.01,0.0099999998,,1e-07,0.05\r\n");

    // A flow a little below zero (a controller's zero drift) is a reading, not a missing one.
    TFlowStatus drift;
    drift.MFCA = -1;
    drift.MFCB = -0.0002;
    EXPECT_EQ(RunDataRow(EncodeDateTime(2026, 12, 10, 9, 15, 3, 250), 1, 0, drift),
              "2026-12-10T09:15:03.250" + offset + ",1.000,,,0,-2e-04,0,0");

    // The set-up's comment lines follow the version's, each a line of its own.
    TRunDataFile described;
    ASSERT_TRUE(described.Open(path.string(), "Recipe.txt", {"Pump: port /dev/pts/3", "Fluid: two\nlines"}));
    described.Close();
    EXPECT_EQ(ReadAll(path), "# Recipe: Recipe.txt\r\n# Moirex version: " + std::string(ProjectVersion()) +
                                 "\r\n# Pump: port /dev/pts/3\r\n# Fluid: two lines\r\n" + std::string(RunDataHeader) +
                                 "\r\n");

    // A recipe path that would split the comment line into cells is quoted.
    TRunDataFile other;
    ASSERT_TRUE(other.Open(path.string(), "/data/run 1, \"wet\"/Recipe.txt"));
    other.Close();
    EXPECT_EQ(ReadAll(path).substr(0, 45), "# Recipe: \"/data/run 1, \"\"wet\"\"/Recipe.txt\"\r\n");
    fs::remove(path);
}

TEST(RunDataFile, FirstFailedWriteIsToldOnceThenRowsAreDropped) {
    if (!fs::exists("/dev/full")) GTEST_SKIP() << "no /dev/full";
    TRunDataFile file;
    EXPECT_FALSE(file.Open("/dev/full", "Recipe.txt"));  // the header does not fit
    EXPECT_TRUE(file.Failed());
    EXPECT_EQ(file.FailureText(),
              "Run data file \"/dev/full\" could not be written (No space left on device). The run goes on without it.");
    EXPECT_TRUE(file.Add(0, 1, 1, TFlowStatus{}));  // already told

    TRunDataFile none;
    EXPECT_FALSE(none.Open("/nonexistent/folder/run.csv", "Recipe.txt"));
    EXPECT_NE(none.FailureText().find("No such file or directory"), std::string::npos);
    EXPECT_TRUE(none.Add(0, 1, 1, TFlowStatus{}));
}

// A disk that fills up in the middle of a row: the row is taken back, the file ends on a whole row.
TEST(RunDataFile, ARowThatDoesNotFitIsTakenBackWhole) {
    const fs::path path = fs::temp_directory_path() / ("moirex-run-data-cut-" + std::to_string(::getpid()) + ".csv");
    TFlowStatus f;
    f.MFCA = 0.01;
    const std::string row = RunDataRow(EncodeDateTime(2026, 12, 10, 9, 15, 3, 250), 1, 1, f) + "\r\n";
    const std::string head = "# Recipe: Recipe.txt\r\n# Moirex version: " + std::string(ProjectVersion()) + "\r\n" +
                             std::string(RunDataHeader) + "\r\n";
    TRunDataFile file;
    bool opened = false, first = false, second = true;
    {
        rlimit old{};
        getrlimit(RLIMIT_FSIZE, &old);
        const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
        rlimit r = old;
        r.rlim_cur = head.size() + row.size() + row.size() / 2;  // room for one and a half rows
        setrlimit(RLIMIT_FSIZE, &r);
        opened = file.Open(path.string(), "Recipe.txt");
        first = file.Add(EncodeDateTime(2026, 12, 10, 9, 15, 3, 250), 1, 1, f);
        second = file.Add(EncodeDateTime(2026, 12, 10, 9, 15, 3, 250), 1, 1, f);
        setrlimit(RLIMIT_FSIZE, &old);
        std::signal(SIGXFSZ, oldHandler);
    }
    file.Close();
    EXPECT_TRUE(opened);
    EXPECT_TRUE(first);
    EXPECT_FALSE(second);
    EXPECT_TRUE(file.Failed());
    EXPECT_EQ(ReadAll(path), head + row);
    fs::remove(path);
}

TEST(RunDataFile, NameFollowsTheRecipeFilesPattern) {
    EXPECT_EQ(RunDataFileName(EncodeDateTime(2024, 3, 5, 14, 7, 9, 0)), "Run 2024-03-05 14.07.09.csv");
}

}  // namespace
}  // namespace moirex
