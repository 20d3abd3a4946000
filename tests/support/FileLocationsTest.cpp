#include "support/FileLocations.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>

namespace moirex {
namespace {

namespace fs = std::filesystem;

class FileLocationsTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::string templ = (fs::temp_directory_path() / "moirex-loc-XXXXXX").string();
        ASSERT_NE(::mkdtemp(templ.data()), nullptr);
        folder_ = templ;
    }
    void TearDown() override {
        SetHomeFolder("");
        std::error_code ec;
        fs::remove_all(folder_, ec);
    }
    fs::path folder_;
};

TEST_F(FileLocationsTest, ExecutableIsThisTestProgram) {
    const std::string exe = ExecutablePath();
    ASSERT_FALSE(exe.empty());
    EXPECT_EQ(fs::path(exe).filename(), "test_support");
    EXPECT_EQ(ExecutableFolder(), fs::path(exe).parent_path().string());
}

TEST_F(FileLocationsTest, HomeFolderHoldsEveryFile) {
    const std::string home = (folder_ / "a" / "b").string();  // missing parents are created
    SetHomeFolder(home);
    EXPECT_EQ(HomeFolder(), home);
    EXPECT_EQ(IniFilePath(), home + "/test_support.ini");
    EXPECT_EQ(LogFolder(), home);
    EXPECT_EQ(UserdataFolder(), home + "/Userdata");
    EXPECT_TRUE(fs::is_directory(home));
    EXPECT_FALSE(fs::exists(home + "/Userdata"));
}

TEST_F(FileLocationsTest, EnvironmentVariableSetsTheHomeFolder) {
    SetHomeFolder("");
    const char* old = std::getenv("MOIREX_HOME");
    const std::string saved = old != nullptr ? old : "";
    ::setenv("MOIREX_HOME", folder_.c_str(), 1);
    EXPECT_EQ(IniFilePath(), folder_.string() + "/test_support.ini");
    // A folder set by the program wins over the environment.
    SetHomeFolder((folder_ / "x").string());
    EXPECT_EQ(LogFolder(), (folder_ / "x").string());
    if (old != nullptr) ::setenv("MOIREX_HOME", saved.c_str(), 1);
    else ::unsetenv("MOIREX_HOME");
}

TEST_F(FileLocationsTest, EnsureFolderCreatesParentsAndReportsFailure) {
    std::string error;
    const std::string deep = (folder_ / "p" / "q" / "Userdata").string();
    EXPECT_TRUE(EnsureFolder(deep, error));
    EXPECT_TRUE(fs::is_directory(deep));
    EXPECT_TRUE(EnsureFolder(deep, error));  // already there
    const std::string file = (folder_ / "plain").string();
    { FILE* f = std::fopen(file.c_str(), "w"); ASSERT_NE(f, nullptr); std::fclose(f); }
    EXPECT_FALSE(EnsureFolder(file + "/sub", error));
    EXPECT_FALSE(error.empty());
}

// Restores an environment variable when the test ends.
class TEnvironment {
public:
    explicit TEnvironment(const char* name) : name_(name) {
        const char* v = std::getenv(name);
        had_ = v != nullptr;
        if (had_) value_ = v;
    }
    ~TEnvironment() {
        if (had_) ::setenv(name_, value_.c_str(), 1);
        else ::unsetenv(name_);
    }
    void Set(const char* v) { ::setenv(name_, v, 1); }
    void Unset() { ::unsetenv(name_); }

private:
    const char* name_;
    bool had_ = false;
    std::string value_;
};

TEST_F(FileLocationsTest, UserFoldersFollowTheXdgVariables) {
    TEnvironment config("XDG_CONFIG_HOME"), data("XDG_DATA_HOME"), home("HOME");
    home.Set("/home/lab");
    config.Set("/srv/conf");
    data.Set("/srv/data");
    EXPECT_EQ(UserConfigFolder(), "/srv/conf/moirex");
    EXPECT_EQ(UserDataFolder(), "/srv/data/moirex");
    config.Unset();
    data.Set("relative/data");  // not an absolute folder: ignored
    EXPECT_EQ(UserConfigFolder(), "/home/lab/.config/moirex");
    EXPECT_EQ(UserDataFolder(), "/home/lab/.local/share/moirex");
}

TEST_F(FileLocationsTest, AnInstalledProgramUsesTheXdgFoldersAndACopyItsOwnFolder) {
    TEnvironment config("XDG_CONFIG_HOME"), data("XDG_DATA_HOME"), moirexHome("MOIREX_HOME");
    moirexHome.Unset();
    SetHomeFolder("");
    config.Set((folder_ / "conf").c_str());
    data.Set((folder_ / "data").c_str());
    // Installed (whether or not this user may write into /usr/bin): the per-user folders.
    UseProgramFiles("/usr/bin", "moirex");
    EXPECT_EQ(IniFilePath(), (folder_ / "conf" / "moirex" / "moirex.ini").string());
    EXPECT_EQ(LogFolder(), (folder_ / "data" / "moirex").string());
    EXPECT_EQ(UserdataFolder(), (folder_ / "data" / "moirex" / "Userdata").string());
    EXPECT_EQ(ProgramIniFilePath(), "/usr/bin/moirex.ini");
    // A portable copy in a folder it can write: beside itself.
    const fs::path copy = folder_ / "portable";
    fs::create_directories(copy);
    UseProgramFiles(copy.string(), "moirex");
    EXPECT_EQ(IniFilePath(), (copy / "moirex.ini").string());
    EXPECT_EQ(LogFolder(), copy.string());
    UseProgramFiles("", "");
}

TEST(InstalledProgramFolder, SystemPrefixesAreInstalledEverythingElseIsACopy) {
    struct Case {
        const char* folder;
        bool installed;
    };
    const Case cases[] = {
        {"/usr/bin", true},          {"/usr/local/bin", true},    {"/bin", true},
        {"/sbin", true},             {"/usr/lib/moirex", true},   {"/usr/bin/", true},
        {"/usr/local/../bin", true},  // resolved by the text: /usr/bin
        {"/usr2/bin", false},        {"/binaries", false},        {"/home/lab/moirex", false},
        {"/opt/moirex", false},      {"/work/build/apps/moirex", false},
        {"/tmp/usr/bin", false},     // a scratch root holding an unpacked package
    };
    for (const Case& c : cases) EXPECT_EQ(IsInstalledProgramFolder(c.folder), c.installed) << c.folder;
}

}  // namespace
}  // namespace moirex
