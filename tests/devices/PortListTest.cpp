#include "devices/PortList.h"

#include "devices/PortAccess.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <fstream>

namespace moirex {
namespace {

namespace fs = std::filesystem;

class PortListFolders : public ::testing::Test {
protected:
    void SetUp() override {
        root = fs::temp_directory_path() / ("moirex-portlist-" + std::to_string(::getpid()));
        fs::remove_all(root);
        fs::create_directories(root / "sys");
        fs::create_directories(root / "by-id");
        fs::create_directories(root / "sim");
        sources.SysClassTty = (root / "sys").string();
        sources.DevFolder = "/dev";
        sources.ById = (root / "by-id").string();
        sources.SimFolder = (root / "sim").string();
    }
    void TearDown() override { fs::remove_all(root); }

    void Tty(const std::string& name, bool withDriver) {
        fs::create_directories(root / "sys" / name / "device");
        if (withDriver) fs::create_directories(root / "sys" / name / "device" / "driver");
    }

    fs::path root;
    TPortListSources sources;
};

TEST_F(PortListFolders, SerialDevicesByIdNamesAndEmulatorPortsSortedAsText) {
    Tty("ttyUSB2", true);
    Tty("ttyUSB10", true);
    Tty("ttyS0", true);
    Tty("tty1", false);  // a virtual console: no driver, not a serial port
    fs::create_directories(root / "sys" / "tty2");
    std::ofstream(root / "target").put('x');
    fs::create_symlink(root / "target", root / "by-id" / "usb-FTDI_FT232R-if00-port0");
    fs::create_symlink(root / "target", root / "sim" / "mfc-a");
    fs::create_symlink(root / "gone", root / "sim" / "pump");  // a link whose device has vanished
    fs::create_symlink(root / "gone", root / "by-id" / "usb-FTDI_unplugged-if00-port0");  // the same by id

    const std::vector<std::string> expected = {
        (root / "by-id" / "usb-FTDI_FT232R-if00-port0").string(),
        (root / "sim" / "mfc-a").string(),
        "/dev/ttyS0",
        "/dev/ttyUSB10",
        "/dev/ttyUSB2",
    };
    std::vector<std::string> list = GetSerialPortList(sources);
    // The temporary folder sorts before "/dev" only when it does; compare as sorted text.
    std::vector<std::string> sortedExpected = expected;
    std::sort(sortedExpected.begin(), sortedExpected.end(), [](const std::string& a, const std::string& b) {
        return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(),
                                            [](char x, char y) { return std::tolower(x) < std::tolower(y); });
    });
    EXPECT_EQ(list, sortedExpected);
}

TEST_F(PortListFolders, AnAdapterWithAStableNameIsListedOnceByThatName) {
    sources.DevFolder = (root / "dev").string();
    fs::create_directories(root / "dev");
    for (const char* name : {"ttyUSB0", "ttyUSB1", "ttyS0"}) {
        Tty(name, true);
        std::ofstream(root / "dev" / name).put('x');
    }
    fs::create_symlink("../dev/ttyUSB1", root / "by-id" / "usb-FTDI_FT232R_A1-if00-port0");
    EXPECT_EQ(GetSerialPortList(sources),
              (std::vector<std::string>{(root / "by-id" / "usb-FTDI_FT232R_A1-if00-port0").string(),
                                        (root / "dev" / "ttyS0").string(), (root / "dev" / "ttyUSB0").string()}));
}

TEST_F(PortListFolders, CaseDoesNotDecideTheOrder) {
    Tty("ttyb", true);
    Tty("ttyA", true);
    Tty("ttyC", true);
    EXPECT_EQ(GetSerialPortList(sources), (std::vector<std::string>{"/dev/ttyA", "/dev/ttyb", "/dev/ttyC"}));
}

TEST_F(PortListFolders, MissingSourcesGiveAnEmptyList) {
    sources.SysClassTty = (root / "none").string();
    sources.ById = (root / "none").string();
    sources.SimFolder = (root / "none").string();
    EXPECT_TRUE(GetSerialPortList(sources).empty());
}

TEST(PortList, EmulatorFolderFollowsTheRuntimeFolder) {
    const char* old = std::getenv("XDG_RUNTIME_DIR");
    const std::string saved = old ? old : "";
    ::setenv("XDG_RUNTIME_DIR", "/run/user/4242", 1);
    EXPECT_EQ(SimRuntimeFolder(), "/run/user/4242/moirex-sim");
    ::setenv("XDG_RUNTIME_DIR", "", 1);
    EXPECT_EQ(SimRuntimeFolder(), "/tmp/moirex-sim-" + std::to_string(::getuid()));
    ::unsetenv("XDG_RUNTIME_DIR");
    EXPECT_EQ(SimRuntimeFolder(), "/tmp/moirex-sim-" + std::to_string(::getuid()));
    if (old) ::setenv("XDG_RUNTIME_DIR", saved.c_str(), 1);
}

// The system's reason for refusing a port, instead of silence.
TEST(PortAccess, NamesAbsenceAndPermissionWithTheRemedy) {
    EXPECT_EQ(PortAccessProblem("/dev/null"), "");
    EXPECT_EQ(PortAccessProblem("/nonexistent/ttyUSB9"),
              "/nonexistent/ttyUSB9: No such file or directory: the port is not there (unplugged, or a link to a device "
              "that is gone?)");
    EXPECT_EQ(PortAccessProblem("/tmp"), "/tmp: not a serial device");
    if (::geteuid() == 0) GTEST_SKIP() << "root may open any device (scripts/test.sh runs this unprivileged)";
    // /dev/tty0 (a console, root's and tty's) stands for a port of the group dialout.
    const std::string problem = PortAccessProblem("/dev/tty0");
    if (problem.empty()) GTEST_SKIP() << "this user may open /dev/tty0";
    EXPECT_EQ(problem.rfind("/dev/tty0: Permission denied: this user may not open it. Add the user to the group ", 0), 0u)
        << problem;
    EXPECT_NE(problem.find("and log in again"), std::string::npos) << problem;
}

}  // namespace
}  // namespace moirex
