#pragma once
// Diagnostic log channels. A channel has a category shown with its messages, an Enabled flag and
// an optional destination; a channel without a destination sends to the default destination.
// Messages are plain texts without levels; method scopes show as entering and leaving lines.
// Send, EnterMethod and ExitMethod may be called from the main thread and the worker at once.

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

namespace moirex {

// Logging mode as the configuration gives it: "Off" -> 0, "Live" -> 1, anything else -> 2.
enum class TLoggingType : unsigned char { ltOff = 0, ltLive = 1, ltFile = 2 };

class LogSink;  // where a destination writes (file, terminal); defined in Log.cpp

// Size rotation of the log file, so that a long run cannot fill the disk (a run logs about
// 16 KB/s). When a line would take the file past MaxFileSize bytes, the file is renamed with ".1"
// before its extension ("MoirexLog 2024-03-05 14_07_09.1.csl"), the older ones move on to ".2",
// ".3" …, the oldest beyond FilesKept is deleted, and a new file begins. So the log of one start
// takes at most MaxFileSize × (FilesKept + 1) bytes, and always holds its latest lines.
struct TLogRotation {
    static constexpr uint64_t MaxFileSizeDefault = 50ull * 1024 * 1024;  // 50 MB
    static constexpr uint32_t FilesKeptDefault = 5;
    uint64_t MaxFileSize = MaxFileSizeDefault;  // above 0
    uint32_t FilesKept = FilesKeptDefault;      // at least 1: the history is never dropped whole
};

// One message as a channel hands it to its destination.
struct TLogRecord {
    enum class TKind : unsigned char { lkMessage, lkEnterMethod, lkExitMethod, lkClear };
    TKind Kind = TKind::lkMessage;
    std::string Category;  // empty for the default channel
    std::string Text;      // the message, or the routine's name for method scopes
};

// Keeps the records a destination receives in memory, so that a test (or a diagnostic view)
// can read what the channels sent. Thread-safe.
class TLogCapture {
public:
    void Add(const TLogRecord& record);
    std::vector<TLogRecord> Records() const;
    // The texts of the plain messages sent with the given category, in order.
    std::vector<std::string> Messages(std::string_view category) const;
    // True when a plain message with this category and exactly this text was received.
    bool Contains(std::string_view category, std::string_view text) const;
    void Clear();

private:
    mutable std::mutex mutex_;
    std::vector<TLogRecord> records_;
};

// Where a channel's messages go: the log file and, in Live mode, the terminal that started the
// program (standard error) standing in for the live viewer.
class TCodeSiteDestination {
public:
    TCodeSiteDestination();
    ~TCodeSiteDestination();
    TCodeSiteDestination(const TCodeSiteDestination&) = delete;
    TCodeSiteDestination& operator=(const TCodeSiteDestination&) = delete;

    struct {
        bool Active = false;
        std::string FilePath;  // folder, with or without a trailing "/"
        std::string FileName;
        TLogRotation Rotation;  // taken when the file is opened
    } LogFile;
    struct {
        bool Active = false;
    } Viewer;

    // Writes one formatted line to the active parts. Thread-safe.
    void Write(std::string_view line);
    // Writes one record: a line with time stamp, thread, category and text to the active parts,
    // and the record itself to an attached capture. Thread-safe.
    void Write(const TLogRecord& record);

    // Attaches an in-memory capture that receives every record from now on (nullptr detaches).
    void AttachCapture(std::shared_ptr<TLogCapture> capture);
    // Writes what is buffered to the file.
    void Flush();
    // Once, after the log file was lost (a line could not be written, or the file was deleted):
    // "Log file "<path>" could not be written (<reason>). Logging to it is off." Empty otherwise.
    std::string TakeFileFailure();

private:
    void WriteLocked(std::string_view line);
    bool OpenFileLocked();

    std::mutex mutex_;
    std::unique_ptr<LogSink> file_;
    std::unique_ptr<LogSink> viewer_;
    std::string openPath_;
    std::string failedPath_;  // a file that could not be opened; reported once, not retried
    std::string fileFailure_;  // the loss of the open file, until taken
    std::shared_ptr<TLogCapture> capture_;
};

class TCodeSiteLogger {
public:
    TCodeSiteLogger() = default;
    TCodeSiteLogger(const TCodeSiteLogger&) = delete;
    TCodeSiteLogger& operator=(const TCodeSiteLogger&) = delete;

    void SetCategory(std::string category);
    std::string Category() const;

    std::atomic<bool> Enabled{true};

    // nullptr: the default destination.
    void SetDestination(TCodeSiteDestination* destination);
    TCodeSiteDestination* Destination() const { return destination_.load(); }

    void Send(std::string_view msg);
    void EnterMethod(std::string_view name);
    void ExitMethod(std::string_view name);
    // Asks the live viewer to empty its display.
    void Clear();
    // True when the log folder (LogFolder() of FileLocations.h) can be written.
    bool Installed() const;
    // True when the given folder exists and can be written.
    bool Installed(const std::string& folder) const;
    // Ends the connection to the logging tools; never fails loudly.
    void CloseDispatcher();

private:
    void Emit(TLogRecord::TKind kind, std::string_view msg);
    mutable std::mutex categoryMutex_;
    std::string category_;
    std::atomic<TCodeSiteDestination*> destination_{nullptr};
};

// The three channels of the program.
TCodeSiteLogger& FormLogger();        // category "Form"
TCodeSiteLogger& SerialPortLogger();  // category "SerialPort"
TCodeSiteLogger& DefaultLogger();     // the global channel, no category

// The default destination. It keeps nothing unless a viewer is attached; tests attach one to
// read what was sent on channels without a destination of their own.
TCodeSiteDestination& DefaultDestination();

// Unit initialisation of the main program: FormLogger enabled, category "Form", cleared,
// "Initialization" sent; SerialPortLogger the same without the clear.
void InitLogChannels();

// Destination set-up of the start-up sequence for the given mode, the log folder and the start
// time ("MoirexLog yyyy-mm-dd hh_mm_ss.csl"), rotated by size as `rotation` says. Off:
// DefaultLogger disabled. File and Live: all
// three channels write to the file, so a run's serial lines can be read afterwards beside its
// "Thread." lines. Live: the viewer (the terminal) as well.
// Always ends by sending
// "Logging system initialized" on FormLogger. The returned destination is owned by the caller.
std::unique_ptr<TCodeSiteDestination> SetupLogDestination(TLoggingType type,
                                                          const std::string& folder,
                                                          double startTime,
                                                          const TLogRotation& rotation = {});

// The losses of the log files of the three channels' destinations, each told once (lines joined
// by CR LF); empty when none was lost since the last call. For the window's log.
std::string TakeLogFileFailure();

// RAII helper for EnterMethod/ExitMethod pairs.
class MethodScope {
public:
    MethodScope(TCodeSiteLogger& logger, std::string name) : logger_(logger), name_(std::move(name)) {
        logger_.EnterMethod(name_);
    }
    ~MethodScope() { logger_.ExitMethod(name_); }
    MethodScope(const MethodScope&) = delete;
    MethodScope& operator=(const MethodScope&) = delete;

private:
    TCodeSiteLogger& logger_;
    std::string name_;
};

}  // namespace moirex
