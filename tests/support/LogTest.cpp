#include "support/Log.h"

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <unistd.h>

#include <atomic>
#include <csignal>
#include <functional>
#include <filesystem>
#include <fstream>
#include <cctype>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "support/DateTime.h"
#include "support/FileLocations.h"

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

// One line of the log file: time stamp with milliseconds, thread id, category, text.
struct TParsedLine {
    std::string ThreadId;
    std::string Category;
    std::string Text;
};

std::optional<TParsedLine> ParseLine(const std::string& line) {
    const std::string shape = "dddd-dd-dd dd:dd:dd.ddd [";
    if (line.size() < shape.size()) return std::nullopt;
    for (size_t i = 0; i < shape.size(); ++i) {
        const bool digit = std::isdigit(static_cast<unsigned char>(line[i])) != 0;
        if (shape[i] == 'd' ? !digit : line[i] != shape[i]) return std::nullopt;
    }
    TParsedLine parsed;
    size_t i = shape.size();
    while (i < line.size() && std::isdigit(static_cast<unsigned char>(line[i]))) parsed.ThreadId += line[i++];
    if (parsed.ThreadId.empty() || line.compare(i, 3, "] [") != 0) return std::nullopt;
    i += 3;
    const size_t close = line.find("] ", i);
    if (close == std::string::npos) return std::nullopt;
    parsed.Category = line.substr(i, close - i);
    parsed.Text = line.substr(close + 2);
    return parsed;
}

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
        DefaultDestination().Viewer.Active = false;
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
    SerialPortLogger().Send("Port /dev/ttyUSB0 busy");

    const auto lines = ReadLines(folder.Path() + "/MoirexLog 2024-03-05 14_07_09.csl");
    ASSERT_EQ(lines.size(), 3u);
    auto first = ParseLine(lines[0]);
    ASSERT_TRUE(first) << lines[0];
    EXPECT_EQ(first->Category, "Form");
    EXPECT_EQ(first->Text, "Logging system initialized");
    auto second = ParseLine(lines[1]);
    ASSERT_TRUE(second) << lines[1];
    EXPECT_EQ(second->Text, "Ports listed");
    // The serial channel's lines are in the file too, so that a run can be read afterwards.
    auto third = ParseLine(lines[2]);
    ASSERT_TRUE(third) << lines[2];
    EXPECT_EQ(third->Category, "SerialPort");
    EXPECT_EQ(third->Text, "Port /dev/ttyUSB0 busy");
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
    SerialPortLogger().Send("Port /dev/ttyUSB0 busy");
    const std::string terminal = testing::internal::GetCapturedStderr();

    ASSERT_NE(destination, nullptr);
    EXPECT_TRUE(destination->Viewer.Active);
    EXPECT_NE(terminal.find("[Form] Logging system initialized"), std::string::npos) << terminal;
    EXPECT_NE(terminal.find("[Form] Live line"), std::string::npos) << terminal;
    // The serial channel shows in the viewer, once, and is kept in the file.
    const size_t serial = terminal.find("[SerialPort] Port /dev/ttyUSB0 busy");
    EXPECT_NE(serial, std::string::npos) << terminal;
    EXPECT_EQ(terminal.find("[SerialPort] Port /dev/ttyUSB0 busy", serial + 1), std::string::npos) << terminal;
    const auto lines = ReadLines(folder.Path() + "/" + destination->LogFile.FileName);
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_NE(lines[1].find("[Form] Live line"), std::string::npos);
    EXPECT_NE(lines[2].find("[SerialPort] Port /dev/ttyUSB0 busy"), std::string::npos);
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
    const char* expected[] = {"Entering StartThread", "inside", "Leaving StartThread"};
    for (size_t i = 0; i < 3; ++i) {
        auto parsed = ParseLine(lines[i]);
        ASSERT_TRUE(parsed) << lines[i];
        EXPECT_EQ(parsed->Category, "Form");
        EXPECT_EQ(parsed->Text, expected[i]);
    }
}

TEST_F(LogTest, TheFileIsRotatedBySizeKeepingTheLatestLinesAndNoMoreFiles) {
    // A destination as the start-up makes it, with a small rotation; a line is about 60 bytes.
    TLogRotation rotation;
    rotation.MaxFileSize = 1000;
    rotation.FilesKept = 2;
    auto destination = SetupLogDestination(TLoggingType::ltFile, folder.Path(), EncodeDateTime(2024, 3, 5, 14, 7, 9),
                                           rotation);
    for (int i = 0; i < 200; ++i) FormLogger().Send("line " + std::to_string(i));
    destination.reset();

    const std::string base = folder.Path() + "/MoirexLog 2024-03-05 14_07_09";
    std::set<std::string> names;
    for (const auto& e : fs::directory_iterator(folder.Path())) names.insert(e.path().filename().string());
    EXPECT_EQ(names, (std::set<std::string>{"MoirexLog 2024-03-05 14_07_09.csl", "MoirexLog 2024-03-05 14_07_09.1.csl",
                                            "MoirexLog 2024-03-05 14_07_09.2.csl"}));
    // Oldest to newest: .2, .1, the current file; together an unbroken run of the latest lines.
    std::vector<int> numbers;
    for (const std::string& file : {base + ".2.csl", base + ".1.csl", base + ".csl"}) {
        EXPECT_LE(fs::file_size(file), 1000u) << file;
        for (const std::string& line : ReadLines(file)) {
            auto parsed = ParseLine(line);
            ASSERT_TRUE(parsed) << line;
            if (parsed->Text.rfind("line ", 0) == 0) numbers.push_back(std::stoi(parsed->Text.substr(5)));
        }
    }
    ASSERT_FALSE(numbers.empty());
    EXPECT_EQ(numbers.back(), 199);
    for (size_t i = 1; i < numbers.size(); ++i) EXPECT_EQ(numbers[i], numbers[i - 1] + 1) << "a line lost at " << i;
    EXPECT_GT(numbers.size(), 30u) << "each kept file holds lines";
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

// The log file lost in the middle of a run, by a full disk or by being deleted: told once (for the
// window's log), and not written to again.
TEST_F(LogTest, ALostLogFileIsToldOnce) {
    struct Case {
        const char* what;
        std::function<void(const std::string& path)> lose;
        const char* reason;
    };
    const Case cases[] = {
        {"deleted", [](const std::string& path) { fs::remove(path); }, "the file was deleted"},
        {"disk full", [](const std::string& path) {
             rlimit r{};
             getrlimit(RLIMIT_FSIZE, &r);
             r.rlim_cur = fs::file_size(path) + 10;  // part of the next line fits, no more
             setrlimit(RLIMIT_FSIZE, &r);
         }, "Failed"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        rlimit old{};
        getrlimit(RLIMIT_FSIZE, &old);
        const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
        TCodeSiteDestination destination;
        destination.LogFile.Active = true;
        destination.LogFile.FilePath = folder.Path();
        destination.LogFile.FileName = std::string("MoirexLog ") + c.what + ".csl";
        const std::string path = folder.Path() + "/" + destination.LogFile.FileName;
        FormLogger().SetDestination(&destination);
        FormLogger().Send("before");
        EXPECT_EQ(TakeLogFileFailure(), "");
        c.lose(path);
        FormLogger().Send("a line that does not reach the file");
        setrlimit(RLIMIT_FSIZE, &old);
        std::signal(SIGXFSZ, oldHandler);
        const std::string told = TakeLogFileFailure();
        EXPECT_EQ(told.rfind("Log file \"" + path + "\" could not be written (", 0), 0u) << told;
        EXPECT_NE(told.find(c.reason), std::string::npos) << told;
        EXPECT_NE(told.find("). Logging to it is off."), std::string::npos) << told;
        FormLogger().Send("after");
        EXPECT_EQ(TakeLogFileFailure(), "") << "told once";
        EXPECT_FALSE(fs::exists(path) && fs::file_size(path) > 0 &&
                     std::string(c.what) == "deleted") << "the deleted file is not made again";
        FormLogger().SetDestination(nullptr);
    }
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

    // Without a folder: the log folder of the file locations.
    SetHomeFolder(folder.Path());
    EXPECT_TRUE(FormLogger().Installed());
    SetHomeFolder(plain);
    EXPECT_FALSE(FormLogger().Installed());
    SetHomeFolder("");
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
    for (const auto& line : lines) {
        auto parsed = ParseLine(line);
        ASSERT_TRUE(parsed) << line;
        threadIds.insert(parsed->ThreadId);
        // "<who> <number> " and then forty times <who>, nothing else.
        const std::string& text = parsed->Text;
        const size_t blank = text.find(' ', 2);
        ASSERT_TRUE(text.size() > 2 && (text[0] == 'a' || text[0] == 'b') && text[1] == ' ' &&
                    blank != std::string::npos)
            << line;
        ASSERT_EQ(text.substr(blank + 1), std::string(40, text[0])) << line;
        seen.insert(text.substr(0, blank));
    }
    EXPECT_EQ(seen.size(), 2u * kLines);  // no line lost, none doubled
    EXPECT_EQ(threadIds.size(), 2u);
}

}  // namespace
}  // namespace moirex
