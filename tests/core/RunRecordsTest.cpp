#include "config/RunRecords.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <unistd.h>

#include "form/Dialogs.h"
#include "form/Form.h"
#include "support/FileLocations.h"
#include "support/Version.h"

namespace moirex {
namespace {

namespace fs = std::filesystem;

std::string ReadAll(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

std::vector<std::string> SplitCrLf(const std::string& text) {
    std::vector<std::string> lines;
    size_t from = 0;
    for (size_t at; (at = text.find("\r\n", from)) != std::string::npos; from = at + 2)
        lines.push_back(text.substr(from, at - from));
    EXPECT_EQ(from, text.size()) << "text after the last CR LF";
    return lines;
}

class RunRecordsTest : public ::testing::Test {
protected:
    RunRecordsTest() {
        root = fs::path(::testing::TempDir()) /
               ("moirex-recipes-" + std::to_string(::getpid()) + "-" +
                ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(root);
        form.GroupBoxY1.SetCaption("A-component: Hydrogen");
        form.GroupBoxY2.SetCaption("B-component: Argon");
        form.GroupBoxX.SetCaption("C-component: Water");
        form.RzTabbedListBoxSteps.AddItem("ID:1\t0.75\t500\t1 000\t2 000");
        form.RzTabbedListBoxSteps.AddItem("dry\t0.5\t0\t1 000\t0");
        pump.Fluid.GasNameLong = "Water";
        pump.Fluid.DensityFluid20C = 0.5f;
        TGasItem water;
        water.GasNameLong = "Water";
        water.MixtureMass = 100;
        pump.Fluid.Components.push_back(water);
    }
    ~RunRecordsTest() override { fs::remove_all(root); }

    TForm1 form;
    TPumpDetails pump;
    ScriptedDialogs dialogs;
    fs::path root;
    const TDateTime when = EncodeDateTime(2024, 3, 5, 14, 7, 9);
};

TEST_F(RunRecordsTest, TheRecipeDescribesTheInputsTheSegmentsAndTheFluid) {
    const std::vector<std::string> lines = SplitCrLf(Recipe(form, pump, when));
    const std::vector<std::string> head = {
        "Description of step program and fluid composition",
        "Saved: 2024-03-05 14:07:09",
        "Inputs: ",
        "  A-component: Hydrogen",
        "  B-component: Argon",
        "  C-component: Water",
        "Segments in \u00B5g: ",
        "  ID:1\t0.75\t500\t1 000\t2 000",
        "  dry\t0.5\t0\t1 000\t0",
        "",
        "Mixture recipe: Water",
    };
    ASSERT_EQ(lines.size(), head.size() + 6);
    EXPECT_EQ(std::vector<std::string>(lines.begin(), lines.begin() + head.size()), head);
    EXPECT_EQ(lines[11].rfind("Description saved: ", 0), 0u);
    EXPECT_EQ(lines[12], "Given density g/ml@20\u00BAC: 0.5");
    EXPECT_EQ(lines[13], "Components:");
    EXPECT_EQ(lines[14], "  Name - mass");
    EXPECT_EQ(lines[15], "  Water - 100");
    EXPECT_EQ(lines[16], "Moirex version: " + std::string(ProjectVersion()));
}

TEST_F(RunRecordsTest, AnEmptySegmentListGoesStraightToTheEmptyLine) {
    form.RzTabbedListBoxSteps.Clear();
    const std::vector<std::string> lines = SplitCrLf(Recipe(form, pump, when));
    EXPECT_EQ(lines[6], "Segments in \u00B5g: ");
    EXPECT_EQ(lines[7], "");
    EXPECT_EQ(lines[8], "Mixture recipe: Water");
}

TEST_F(RunRecordsTest, EveryPressWritesAFileNamedByItsSecondAndTheSameSecondReplacesIt) {
    EXPECT_EQ(RecipeFileName(when), "Recipe 2024-03-05 14.07.09.txt");
    const fs::path folder = root / "deep" / "Userdata";  // missing parents are created

    ASSERT_TRUE(WriteRecipeFile(form, pump, dialogs, folder.string(), when));
    const fs::path file = folder / "Recipe 2024-03-05 14.07.09.txt";
    ASSERT_TRUE(fs::exists(file));
    const std::string first = ReadAll(file);
    // The file holds the recipe text as it is; only "Description saved" has its own clock.
    std::vector<std::string> written = SplitCrLf(first);
    std::vector<std::string> expected = SplitCrLf(Recipe(form, pump, when));
    ASSERT_EQ(written.size(), expected.size());
    written.erase(written.begin() + 11);
    expected.erase(expected.begin() + 11);
    EXPECT_EQ(written, expected);
    EXPECT_EQ(first.rfind("Description of step program", 0), 0u) << "no byte-order mark";
    EXPECT_EQ(first.substr(first.size() - 2), "\r\n");

    // A second press in the same second, after a segment was added: one file, the new text.
    form.RzTabbedListBoxSteps.AddItem("third\t1\t0\t0\t0");
    ASSERT_TRUE(WriteRecipeFile(form, pump, dialogs, folder.string(), when));
    EXPECT_NE(ReadAll(file).find("  third\t1\t0\t0\t0\r\n"), std::string::npos);

    ASSERT_TRUE(WriteRecipeFile(form, pump, dialogs, folder.string(), when + 1.0 / 86400));
    EXPECT_TRUE(fs::exists(folder / "Recipe 2024-03-05 14.07.10.txt"));
    EXPECT_EQ(std::distance(fs::directory_iterator(folder), fs::directory_iterator()), 2);
    EXPECT_TRUE(dialogs.shown.empty());
}

TEST_F(RunRecordsTest, StartWritesIntoTheMixersUserdataFolder) {
    SetHomeFolder(root.string());
    const bool written = WriteRecipeFile(form, pump, dialogs);
    const std::string userdata = UserdataFolder();
    SetHomeFolder("");
    ASSERT_TRUE(written);
    EXPECT_EQ(fs::path(userdata).filename(), "Userdata");
    ASSERT_TRUE(fs::is_directory(userdata));
    ASSERT_EQ(std::distance(fs::directory_iterator(userdata), fs::directory_iterator()), 1);
    const fs::path file = fs::directory_iterator(userdata)->path();
    EXPECT_EQ(file.filename().string().rfind("Recipe ", 0), 0u);
    EXPECT_EQ(file.extension(), ".txt");
}

TEST_F(RunRecordsTest, AFolderThatCannotBeCreatedIsReportedAndNothingIsWritten) {
    fs::create_directories(root);
    std::ofstream(root / "plain-file") << "not a folder";
    const fs::path folder = root / "plain-file" / "Userdata";

    EXPECT_FALSE(WriteRecipeFile(form, pump, dialogs, folder.string(), when));
    ASSERT_EQ(dialogs.shown.size(), 1u);
    EXPECT_EQ(dialogs.shown[0].kind, ScriptedDialogs::Entry::Message);
    EXPECT_EQ(dialogs.shown[0].text,
              "Could not create folder " + folder.string() +
                  "\r\n\r\nThe recipe will not be saved.\r\n\r\n"
                  "Windows may prevent programs creating folders in certain locations on the "
                  "computer.\r\nTry running at anopther location\r\n"
                  "Check ti file or folder is not locked or used by another process\r\n"
                  "Try running the software with administrator rights");
}

TEST_F(RunRecordsTest, AFileThatCannotBeCreatedShowsTheFileCreationError) {
    const fs::path folder = root / "Userdata";
    // Something that is not a file already holds the recipe's name (works as root, too).
    fs::create_directories(folder / "Recipe 2024-03-05 14.07.09.txt");

    EXPECT_FALSE(WriteRecipeFile(form, pump, dialogs, folder.string(), when));
    ASSERT_EQ(dialogs.shown.size(), 1u);
    EXPECT_EQ(dialogs.shown[0].kind, ScriptedDialogs::Entry::Error);
    const std::string prefix =
        "Cannot create file \"" + (folder / "Recipe 2024-03-05 14.07.09.txt").string() + "\". ";
    EXPECT_EQ(dialogs.shown[0].text.rfind(prefix, 0), 0u) << dialogs.shown[0].text;
    EXPECT_GT(dialogs.shown[0].text.size(), prefix.size()) << "the system's reason is missing";
}

}  // namespace
}  // namespace moirex
