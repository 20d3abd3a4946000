#include "support/Log.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <regex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "support/DateTime.h"

namespace moirex {
namespace {

namespace fs = std::filesystem;

// A fresh folder per test, removed afterwards.
class TempFolder {
public:
    TempFolder() {
        static std::atomic<int> counter{0};
        path_ = fs::temp_directory_path() /
                ("moirex-logtest-" + std::to_string(::getpid()) + "-" + std::to_string(counter++));
        fs::create_directories(path_);
    }
    ~TempFolder() {
        std::error_code ec;
        fs::remove_all(path_, ec);
    }
    std::string Path() const { return path_.string(); }

private:
    fs::path path_;
};

std::vector<std::string> ReadLines(const std::string& path) {
    std::ifstream in(path);
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

// Time stamp with milliseconds, thread id, category, text.
const std::regex kLine(R"(^\d{4}-\d{2}-\d{2} \d{2}:\d{2}:\d{2}\.\d{3} \[(\d+)\] \[([A-Za-z]+)\] (.*)$)");

// The channels are process-wide: every test starts from the state of program start and leaves
// them that way, with a capture on the default destination.
class LogTest : public ::testing::Test {
protected:
    void SetUp() override {
        Restore();
        DefaultDestination().AttachCapture(capture);
    }
    void TearDown() override {
        DefaultDestination().AttachCapture(nullptr);
        Restore();
    }
    static void Restore() {
        for (TCodeSiteLogger* l : {&FormLogger(), &SerialPortLogger(), &DefaultLogger()}) {
            l->SetDestination(nullptr);
            l->Enabled = true;
        }
        FormLogger().SetCategory("Form");
        SerialPortLogger().SetCategory("SerialPort");
        DefaultLogger().SetCategory("");
    }

    std::shared_ptr<TLogCapture> capture = std::make_shared<TLogCapture>();
    TempFolder folder;
};

TEST_F(LogTest, ProgramStartClearsTheFormChannelAndAnnouncesBothChannels) {
    FormLogger().SetCategory("");
    SerialPortLogger().SetCategory("");
    InitLogChannels();

    EXPECT_EQ(FormLogger().Category(), "Form");
    EXPECT_EQ(SerialPortLogger().Category(), "SerialPort");
    const auto records = capture->Records();
    ASSERT_EQ(records.size(), 3u);
    EXPECT_EQ(records[0].Kind, TLogRecord::TKind::lkClear);
    EXPECT_EQ(records[0].Category, "Form");
    EXPECT_EQ(records[1].Category, "Form");
    EXPECT_EQ(records[1].Text, "Initialization");
    // The serial channel is announced without clearing the viewer.
    EXPECT_EQ(records[2].Kind, TLogRecord::TKind::lkMessage);
    EXPECT_EQ(records[2].Category, "SerialPort");
    EXPECT_EQ(records[2].Text, "Initialization");
}

TEST_F(LogTest, FileModeWritesFormMessagesToTheNamedFileOnly) {
    auto destination = SetupLogDestination(TLoggingType::ltFile, folder.Path(),
                                           EncodeDateTime(2024, 3, 5, 14, 7, 9));
    ASSERT_NE(destination, nullptr);
    EXPECT_EQ(destination->LogFile.FileName, "MoirexLog 2024-03-05 14_07_09.csl");
    EXPECT_TRUE(destination->LogFile.Active);
    EXPECT_FALSE(destination->Viewer.Active);
    EXPECT_EQ(FormLogger().Destination(), destination.get());
    EXPECT_TRUE(FormLogger().Enabled);
    EXPECT_TRUE(DefaultLogger().Enabled);

    FormLogger().Send("Ports listed");
    SerialPortLogger().Send("not for the file");

    const auto lines = ReadLines(folder.Path() + "/MoirexLog 2024-03-05 14_07_09.csl");
    ASSERT_EQ(lines.size(), 2u);
    std::smatch m;
    ASSERT_TRUE(std::regex_match(lines[0], m, kLine)) << lines[0];
    EXPECT_EQ(m[2], "Form");
    EXPECT_EQ(m[3], "Logging system initialized");
    ASSERT_TRUE(std::regex_match(lines[1], m, kLine)) << lines[1];
    EXPECT_EQ(m[3], "Ports listed");
    // The serial channel keeps the default destination.
    EXPECT_TRUE(capture->Contains("SerialPort", "not for the file"));
    EXPECT_FALSE(capture->Contains("Form", "Ports listed"));
}

TEST_F(LogTest, OffModeDisablesOnlyTheDefaultChannelAndStillAnnounces) {
    auto destination = SetupLogDestination(TLoggingType::ltOff, folder.Path(), Now());
    EXPECT_EQ(destination, nullptr);
    EXPECT_FALSE(DefaultLogger().Enabled);
    EXPECT_TRUE(FormLogger().Enabled);
    EXPECT_EQ(FormLogger().Destination(), nullptr);
    EXPECT_TRUE(capture->Contains("Form", "Logging system initialized"));

    DefaultLogger().Send("MFC read-out");
    EXPECT_FALSE(capture->Contains("", "MFC read-out"));
    EXPECT_TRUE(fs::is_empty(folder.Path()));
}

TEST_F(LogTest, LiveModeWritesTheFileAndTheTerminal) {
    testing::internal::CaptureStderr();
    auto destination = SetupLogDestination(TLoggingType::ltLive, folder.Path(),
                                           EncodeDateTime(2024, 3, 5, 14, 7, 9));
    FormLogger().Send("Live line");
    const std::string terminal = testing::internal::GetCapturedStderr();

    ASSERT_NE(destination, nullptr);
    EXPECT_TRUE(destination->Viewer.Active);
    EXPECT_NE(terminal.find("[Form] Logging system initialized"), std::string::npos) << terminal;
    EXPECT_NE(terminal.find("[Form] Live line"), std::string::npos) << terminal;
    const auto lines = ReadLines(folder.Path() + "/" + destination->LogFile.FileName);
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_NE(lines[1].find("[Form] Live line"), std::string::npos);
    // The live viewer was emptied through the default channel first.
    const auto records = capture->Records();
    ASSERT_FALSE(records.empty());
    EXPECT_EQ(records[0].Kind, TLogRecord::TKind::lkClear);
    EXPECT_EQ(records[0].Category, "");
}

TEST_F(LogTest, MethodScopesShowAsEnteringAndLeavingLines) {
    TCodeSiteDestination destination;
    destination.LogFile.Active = true;
    destination.LogFile.FilePath = folder.Path();
    destination.LogFile.FileName = "scopes.csl";
    FormLogger().SetDestination(&destination);
    {
        MethodScope scope(FormLogger(), "StartThread");
        FormLogger().Send("inside");
    }
    FormLogger().SetDestination(nullptr);

    const auto lines = ReadLines(folder.Path() + "/scopes.csl");
    ASSERT_EQ(lines.size(), 3u);
    std::smatch m;
    const char* expected[] = {"Entering StartThread", "inside", "Leaving StartThread"};
    for (size_t i = 0; i < 3; ++i) {
        ASSERT_TRUE(std::regex_match(lines[i], m, kLine)) << lines[i];
        EXPECT_EQ(m[3], expected[i]);
    }
}

TEST_F(LogTest, DisabledChannelDropsEverything) {
    TCodeSiteDestination destination;
    destination.LogFile.Active = true;
    destination.LogFile.FilePath = folder.Path();
    destination.LogFile.FileName = "off.csl";
    auto fileCapture = std::make_shared<TLogCapture>();
    destination.AttachCapture(fileCapture);
    FormLogger().SetDestination(&destination);
    FormLogger().Enabled = false;

    FormLogger().Send("dropped");
    FormLogger().EnterMethod("ReadTotalizer");
    FormLogger().ExitMethod("ReadTotalizer");
    FormLogger().Clear();

    EXPECT_TRUE(fileCapture->Records().empty());
    EXPECT_FALSE(fs::exists(folder.Path() + "/off.csl"));
    FormLogger().Enabled = true;
    FormLogger().Send("kept");
    EXPECT_EQ(fileCapture->Messages("Form"), std::vector<std::string>{"kept"});
}

TEST_F(LogTest, MessageWithLineBreaksStaysOneLine) {
    TCodeSiteDestination destination;
    destination.LogFile.Active = true;
    destination.LogFile.FilePath = folder.Path() + "/";  // trailing slash accepted
    destination.LogFile.FileName = "breaks.csl";
    FormLogger().SetDestination(&destination);
    FormLogger().Send("Pump found\r\nMFC A found\r\n");

    const auto lines = ReadLines(folder.Path() + "/breaks.csl");
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_NE(lines[0].find("Pump found\\r\\nMFC A found\\r\\n"), std::string::npos) << lines[0];
}

TEST_F(LogTest, UnopenableFileIsReportedOnceAndLoggingGoesOn) {
    // A plain file where the folder should be: no one, not even root, can create a file in it.
    const std::string notAFolder = folder.Path() + "/plain";
    std::ofstream(notAFolder) << "x";
    TCodeSiteDestination destination;
    destination.LogFile.Active = true;
    destination.LogFile.FilePath = notAFolder;
    destination.LogFile.FileName = "MoirexLog.csl";
    auto fileCapture = std::make_shared<TLogCapture>();
    destination.AttachCapture(fileCapture);
    FormLogger().SetDestination(&destination);

    testing::internal::CaptureStderr();
    FormLogger().Send("first");
    FormLogger().Send("second");
    const std::string terminal = testing::internal::GetCapturedStderr();

    EXPECT_EQ(fileCapture->Messages("Form"), (std::vector<std::string>{"first", "second"}));
    const auto at = terminal.find("cannot open the log file");
    ASSERT_NE(at, std::string::npos) << terminal;
    EXPECT_EQ(terminal.find("cannot open the log file", at + 1), std::string::npos) << terminal;
}

TEST_F(LogTest, FreedDestinationFallsBackToTheDefault) {
    {
        auto destination = SetupLogDestination(TLoggingType::ltFile, folder.Path(), Now());
        ASSERT_EQ(FormLogger().Destination(), destination.get());
    }
    EXPECT_EQ(FormLogger().Destination(), nullptr);
    FormLogger().Send("after the window");
    EXPECT_TRUE(capture->Contains("Form", "after the window"));
}

TEST_F(LogTest, InstalledWhenTheFolderCanBeWritten) {
    const std::string plain = folder.Path() + "/plain";
    std::ofstream(plain) << "x";
    EXPECT_TRUE(FormLogger().Installed(folder.Path()));
    EXPECT_FALSE(FormLogger().Installed(folder.Path() + "/missing"));
    EXPECT_FALSE(FormLogger().Installed(plain));
    EXPECT_FALSE(FormLogger().Installed(""));
}

// The main thread and the worker send at once: every line must arrive whole, exactly once.
TEST_F(LogTest, TwoThreadsSendingAtOnceNeverInterleave) {
    constexpr int kLines = 10000;
    TCodeSiteDestination destination;
    destination.LogFile.Active = true;
    destination.LogFile.FilePath = folder.Path();
    destination.LogFile.FileName = "threads.csl";
    FormLogger().SetDestination(&destination);

    auto sender = [](char who) {
        for (int i = 0; i < kLines; ++i) {
            FormLogger().Send(std::string(1, who) + " " + std::to_string(i) + " " +
                              std::string(40, who));
        }
    };
    std::thread a(sender, 'a');
    std::thread b(sender, 'b');
    a.join();
    b.join();
    FormLogger().SetDestination(nullptr);

    const auto lines = ReadLines(folder.Path() + "/threads.csl");
    ASSERT_EQ(lines.size(), 2u * kLines);
    std::set<std::string> seen;
    std::set<std::string> threadIds;
    const std::regex body(R"(^([ab]) (\d+) ([ab]{40})$)");
    for (const auto& line : lines) {
        std::smatch m;
        ASSERT_TRUE(std::regex_match(line, m, kLine)) << line;
        threadIds.insert(m[1]);
        const std::string text = m[3];
        std::smatch t;
        ASSERT_TRUE(std::regex_match(text, t, body)) << line;
        ASSERT_EQ(t[3].str(), std::string(40, t[1].str()[0])) << line;
        seen.insert(text.substr(0, text.find(' ', 2)));
    }
    EXPECT_EQ(seen.size(), 2u * kLines);  // no line lost, none doubled
    EXPECT_EQ(threadIds.size(), 2u);
}

}  // namespace
}  // namespace moirex
