#include "support/IniFile.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace moirex {
namespace {

namespace fs = std::filesystem;

class IniFileTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::string templ = (fs::temp_directory_path() / "moirex-ini-XXXXXX").string();
        ASSERT_NE(::mkdtemp(templ.data()), nullptr);
        folder_ = templ;
        path_ = (folder_ / "moirex.ini").string();
    }
    void TearDown() override {
        std::error_code ec;
        fs::permissions(folder_, fs::perms::owner_all, fs::perm_options::add, ec);
        fs::remove_all(folder_, ec);
    }
    void Put(const std::string& text) {
        std::ofstream out(path_, std::ios::binary);
        out << text;
    }
    std::string Get() const {
        std::ifstream in(path_, std::ios::binary);
        std::ostringstream s;
        s << in.rdbuf();
        return s.str();
    }
    // Files in the folder other than the configuration file (left-over temporary files).
    int OtherFiles() const {
        int n = 0;
        for (const auto& e : fs::directory_iterator(folder_)) n += e.path().string() != path_;
        return n;
    }

    fs::path folder_;
    std::string path_;
};

TEST_F(IniFileTest, MissingFileGivesDefaultsAndIsNotCreated) {
    const TIniFile ini(path_);
    EXPECT_EQ(ini.ReadString("COM ports", "Pump", ""), "");
    EXPECT_EQ(ini.ReadString("History", "OldGasA", "Unknown"), "Unknown");
    EXPECT_EQ(ini.ReadInteger("Syringe", "Steps", 24000), 24000);
    EXPECT_DOUBLE_EQ(ini.ReadFloat("Syringe", "Volume MicroLiter", 12.5), 12.5);
    EXPECT_FALSE(fs::exists(path_));
}

TEST_F(IniFileTest, MatchesNamesWithoutCaseAndBlanksAndTrimsValues) {
    Put("[Syringe]\r\n"
        "  steps  =  24000  \r\n"
        "MaxSpeed=1000\r\n"
        "[ COM PORTS ]\r\n"
        "Pump= /dev/ttyUSB0 \r\n"
        "[Logging]\r\n"
        "Type[Off|File|Live]=Live\r\n");
    const TIniFile ini(path_);
    EXPECT_EQ(ini.ReadInteger("Syringe", " Steps", 0), 24000);
    EXPECT_EQ(ini.ReadInteger("SYRINGE", "maxspeed", 0), 1000);
    EXPECT_EQ(ini.ReadString("COM ports", "Pump", ""), "/dev/ttyUSB0");
    EXPECT_EQ(ini.ReadString("Logging", "Type[Off|File|Live]", "Off"), "Live");
    // A key of another section is not found.
    EXPECT_EQ(ini.ReadInteger("COM ports", "Steps", -1), -1);
}

TEST_F(IniFileTest, ReadsNumbersAndFallsBackOnTextThatIsNone) {
    Put("[N]\na=0x10\nb=0X1f\nc=0x\nd=12.5\ne=abc\nf=-7\ng=1013.25\nh=12,5\ni=\nj=2.30761E-6\n");
    const TIniFile ini(path_);
    EXPECT_EQ(ini.ReadInteger("N", "a", 0), 16);
    EXPECT_EQ(ini.ReadInteger("N", "b", 0), 31);
    EXPECT_EQ(ini.ReadInteger("N", "c", 5), 5);
    EXPECT_EQ(ini.ReadInteger("N", "d", 5), 5);
    EXPECT_EQ(ini.ReadInteger("N", "e", 5), 5);
    EXPECT_EQ(ini.ReadInteger("N", "f", 5), -7);
    EXPECT_DOUBLE_EQ(ini.ReadFloat("N", "g", 0), 1013.25);
    EXPECT_DOUBLE_EQ(ini.ReadFloat("N", "h", 1), 1);
    EXPECT_DOUBLE_EQ(ini.ReadFloat("N", "i", 18), 18);
    EXPECT_DOUBLE_EQ(ini.ReadFloat("N", "j", 0), 2.30761e-6);
    EXPECT_EQ(ini.ReadString("N", "i", "x"), "");  // an empty value is a value
}

TEST_F(IniFileTest, ReplacesInPlaceAndKeepsEveryOtherLine) {
    const std::string before =
        "; lab PC 3\r\n"
        "[Syringe]\r\n"
        "Volume MicroLiter=12.5\r\n"
        "  Steps = 24000\r\n"
        "MaxSpeed=1000\r\n"
        "\r\n"
        "[Graph]\r\n"
        "Points=1000\r\n";
    Put(before);
    TIniFile ini(path_);
    ASSERT_TRUE(ini.WriteInteger("Syringe", " Steps", 48000)) << ini.LastError();
    EXPECT_EQ(Get(),
              "; lab PC 3\r\n"
              "[Syringe]\r\n"
              "Volume MicroLiter=12.5\r\n"
              "  Steps =48000\r\n"
              "MaxSpeed=1000\r\n"
              "\r\n"
              "[Graph]\r\n"
              "Points=1000\r\n");
    EXPECT_EQ(ini.ReadInteger("Syringe", "Steps", 0), 48000);
    EXPECT_TRUE(ini.LastError().empty());
    EXPECT_EQ(OtherFiles(), 0);
}

TEST_F(IniFileTest, AppendsKeysToTheirSectionAndSectionsToTheEnd) {
    Put("[Syringe]\nSteps=24000\n\n[Graph]\nPoints=1000");  // LF line ends, last line open
    TIniFile ini(path_);
    ASSERT_TRUE(ini.WriteInteger("Syringe", "MaxSpeed", 1000));
    ASSERT_TRUE(ini.WriteInteger("Graph", " Average sample size", 358));
    ASSERT_TRUE(ini.WriteString("History", "OldGasA", "N2"));
    EXPECT_EQ(Get(),
              "[Syringe]\nSteps=24000\nMaxSpeed=1000\n\n"
              "[Graph]\nPoints=1000\nAverage sample size=358\n"
              "\n[History]\nOldGasA=N2\n");
}

TEST_F(IniFileTest, CreatesTheFileOnTheFirstWrite) {
    TIniFile ini(path_);
    ASSERT_TRUE(ini.WriteFloat("Custom flow conditions", "PressuremBar", 1013.25));
    ASSERT_TRUE(ini.WriteFloat("Custom flow conditions", "TemperatureC", 21));
    ASSERT_TRUE(ini.WriteFloat("Fluid", "Mixture custom density", static_cast<double>(0.9970474f)));
    EXPECT_EQ(Get(),
              "[Custom flow conditions]\r\nPressuremBar=1013.25\r\nTemperatureC=21\r\n"
              "\r\n[Fluid]\r\nMixture custom density=0.997047424316406\r\n");
    EXPECT_DOUBLE_EQ(ini.ReadFloat("Fluid", "Mixture custom density", 0), static_cast<double>(0.9970474f));
}

TEST_F(IniFileTest, ReadsAtMost2047CharactersOfAValue) {
    TIniFile ini(path_);
    const std::string longText(3000, 'x');
    ASSERT_TRUE(ini.WriteString("Fluid", "Mixture name", longText));
    EXPECT_EQ(ini.ReadString("Fluid", "Mixture name", ""), std::string(2047, 'x'));
    // A cut never splits a character in two.
    ASSERT_TRUE(ini.WriteString("Fluid", "Mixture name", std::string(2046, 'x') + "\u00BA"));
    EXPECT_EQ(ini.ReadString("Fluid", "Mixture name", ""), std::string(2046, 'x'));
}

TEST_F(IniFileTest, ValueWithLineBreaksCannotPlantKeys) {
    TIniFile ini(path_);
    ASSERT_TRUE(ini.WriteInteger("Syringe", "Steps", 24000));
    ASSERT_TRUE(ini.WriteString("Fluid", "Mixture name", "Water\r\n[Syringe]\r\nSteps=1\nMaxSpeed=9"));
    ASSERT_TRUE(ini.WriteInteger("Fluid", "Max PPM", 4000));
    EXPECT_EQ(ini.ReadString("Fluid", "Mixture name", ""), "Water  [Syringe]  Steps=1 MaxSpeed=9");
    EXPECT_EQ(ini.ReadInteger("Syringe", "Steps", 0), 24000);
    EXPECT_EQ(ini.ReadInteger("Syringe", "MaxSpeed", 1000), 1000);
    EXPECT_EQ(ini.ReadInteger("Fluid", "Max PPM", 0), 4000);
}

TEST_F(IniFileTest, RefusesNamesThatWouldBreakTheFile) {
    TIniFile ini(path_);
    EXPECT_FALSE(ini.WriteString("Fluid", "a=b", "1"));
    EXPECT_FALSE(ini.WriteString("Fl]uid", "a", "1"));
    EXPECT_FALSE(ini.WriteString("Fluid", "", "1"));
    EXPECT_FALSE(ini.WriteString("Fluid", "a\nb", "1"));
    EXPECT_NE(ini.LastError().find(path_), std::string::npos);
    EXPECT_FALSE(fs::exists(path_));
}

TEST_F(IniFileTest, WriteIntoAMissingFolderFailsWithThePath) {
    const std::string path = (folder_ / "missing" / "moirex.ini").string();
    TIniFile ini(path);
    EXPECT_FALSE(ini.WriteString("COM ports", "Pump", "/dev/ttyUSB0"));
    EXPECT_EQ(ini.LastError().rfind("Unable to write to " + path + ": ", 0), 0u) << ini.LastError();
    EXPECT_FALSE(fs::exists(folder_ / "missing"));
    // Once the folder is there the write goes through and the reason is cleared.
    fs::create_directory(folder_ / "missing");
    EXPECT_TRUE(ini.WriteString("COM ports", "Pump", "/dev/ttyUSB0"));
    EXPECT_TRUE(ini.LastError().empty());
    EXPECT_EQ(ini.ReadString("COM ports", "Pump", ""), "/dev/ttyUSB0");
}

TEST_F(IniFileTest, FailedWriteIsReportedWithThePathAndLeavesTheFile) {
    if (::geteuid() == 0) GTEST_SKIP() << "root writes into read-only folders";
    Put("[Syringe]\nSteps=24000\n");
    fs::permissions(folder_, fs::perms::owner_read | fs::perms::owner_exec);
    TIniFile ini(path_);
    EXPECT_FALSE(ini.WriteInteger("Syringe", "Steps", 1));
    EXPECT_EQ(ini.LastError().rfind("Unable to write to " + path_, 0), 0u) << ini.LastError();
    EXPECT_EQ(ini.ReadInteger("Syringe", "Steps", 0), 24000);
    fs::permissions(folder_, fs::perms::owner_all);
    EXPECT_EQ(OtherFiles(), 0);
}

TEST_F(IniFileTest, WriteKeepsThePermissionsOfTheFile) {
    Put("[a]\nb=1\n");
    fs::permissions(path_, fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
    TIniFile ini(path_);
    ASSERT_TRUE(ini.WriteInteger("a", "b", 2));
    EXPECT_EQ(fs::status(path_).permissions() & fs::perms::all,
              fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
}

TEST_F(IniFileTest, SymbolicLinkStaysALink) {
    fs::create_directory(folder_ / "real");
    const std::string link = (folder_ / "link.ini").string();
    fs::create_symlink("real/moirex.ini", link);  // relative and not yet there
    TIniFile ini(link);
    ASSERT_TRUE(ini.WriteInteger("Graph", "Points", 1000)) << ini.LastError();
    ASSERT_TRUE(ini.WriteInteger("Graph", "Points", 2000)) << ini.LastError();
    EXPECT_TRUE(fs::is_symlink(link));
    EXPECT_EQ(TIniFile((folder_ / "real" / "moirex.ini").string()).ReadInteger("Graph", "Points", 0), 2000);
}

TEST_F(IniFileTest, FirstOfDuplicateKeysIsReadAndReplaced) {
    Put("[a]\nk=1\nk=2\n[b]\nk=3\n[A]\nk=4\nm=5\n");
    TIniFile ini(path_);
    EXPECT_EQ(ini.ReadInteger("a", "k", 0), 1);
    EXPECT_EQ(ini.ReadInteger("a", "m", 0), 5);  // a repeated section is searched too
    ASSERT_TRUE(ini.WriteInteger("a", "k", 9));
    ASSERT_TRUE(ini.WriteInteger("a", "n", 7));
    EXPECT_EQ(Get(), "[a]\nk=9\nk=2\nn=7\n[b]\nk=3\n[A]\nk=4\nm=5\n");
}

// Files from other editors: a UTF-8 byte-order mark before the first section, CR-only line ends.
TEST_F(IniFileTest, ReadsAFileWithAByteOrderMarkOrCarriageReturnLineEnds) {
    struct Case {
        const char* name;
        std::string text;
        std::string afterWrite;
    };
    const std::vector<Case> cases = {
        {"byte-order mark", "\xEF\xBB\xBF[Syringe]\r\nVolume MicroLiter=25\r\n[Graph]\r\nPoints=7\r\n",
         "\xEF\xBB\xBF[Syringe]\r\nVolume MicroLiter=25\r\nSteps=48000\r\n[Graph]\r\nPoints=7\r\n"},
        {"CR only", "[Syringe]\rVolume MicroLiter=25\r[Graph]\rPoints=7\r",
         "[Syringe]\rVolume MicroLiter=25\rSteps=48000\r[Graph]\rPoints=7\r"},
        {"mark and CR only", "\xEF\xBB\xBF[Syringe]\rVolume MicroLiter=25\r[Graph]\rPoints=7",
         "\xEF\xBB\xBF[Syringe]\rVolume MicroLiter=25\rSteps=48000\r[Graph]\rPoints=7"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Put(c.text);
        TIniFile ini(path_);
        EXPECT_DOUBLE_EQ(ini.ReadFloat("Syringe", "Volume MicroLiter", 12.5), 25);
        EXPECT_EQ(ini.ReadInteger("Graph", "Points", 1000), 7);
        ASSERT_TRUE(ini.WriteInteger("Syringe", "Steps", 48000)) << ini.LastError();
        EXPECT_EQ(Get(), c.afterWrite);
    }
}

// A file made read-only is honoured though its folder would let the rename replace it; this holds
// for root too.
TEST_F(IniFileTest, ReadOnlyFileIsNotReplaced) {
    Put("[Syringe]\nSteps=24000\n");
    fs::permissions(path_, fs::perms::owner_read | fs::perms::group_read);
    TIniFile ini(path_);
    EXPECT_FALSE(ini.WriteInteger("Syringe", "Steps", 1));
    EXPECT_EQ(ini.LastError(), "Unable to write to " + path_ + ": the file is read-only");
    EXPECT_FALSE(ini.LastErrorWasRead());
    EXPECT_EQ(Get(), "[Syringe]\nSteps=24000\n");
    EXPECT_EQ(OtherFiles(), 0);
}

// An unreadable file is reported as unreadable, by a read check and by a write.
TEST_F(IniFileTest, UnreadableFileIsReportedAsUnreadable) {
    if (::geteuid() == 0) GTEST_SKIP() << "root reads any file (scripts/test.sh runs this unprivileged)";
    Put("[Syringe]\nSteps=48000\n");
    fs::permissions(path_, fs::perms::owner_write);
    TIniFile ini(path_);
    std::string error;
    EXPECT_FALSE(ini.Readable(error));
    EXPECT_EQ(error, "Unable to read " + path_ + ": Permission denied");
    EXPECT_EQ(ini.ReadInteger("Syringe", "Steps", 24000), 24000);
    EXPECT_FALSE(ini.WriteInteger("Syringe", "Steps", 1));
    EXPECT_TRUE(ini.LastErrorWasRead());
    EXPECT_EQ(ini.LastError(), "Unable to read " + path_ + ": Permission denied");
    fs::permissions(path_, fs::perms::owner_all);
    EXPECT_EQ(Get(), "[Syringe]\nSteps=48000\n");
    // A missing file is readable: it holds no keys.
    EXPECT_TRUE(TIniFile(path_ + ".absent").Readable(error));
}

}  // namespace
}  // namespace moirex
