#pragma once
// Diagnostic log channels. A channel has a category shown with its messages, an Enabled flag and
// an optional destination; a channel without a destination sends to the default destination.
// Messages are plain texts without levels; method scopes show as entering and leaving lines.
// Send, EnterMethod and ExitMethod may be called from the main thread and the worker at once.

#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>

namespace moirex {

// Logging mode as the configuration gives it: "Off" -> 0, "Live" -> 1, anything else -> 2.
enum class TLoggingType : unsigned char { ltOff = 0, ltLive = 1, ltFile = 2 };

class LogSink;  // where a destination writes (file, terminal); defined in Log.cpp

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
    } LogFile;
    struct {
        bool Active = false;
    } Viewer;

    // Writes one formatted line to the active parts. Thread-safe.
    void Write(std::string_view line);

private:
    std::mutex mutex_;
    std::unique_ptr<LogSink> file_;
    std::string openPath_;
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
    // True when the log folder can be written.
    bool Installed() const;
    // Ends the connection to the logging tools; never fails loudly.
    void CloseDispatcher();

private:
    void Emit(std::string_view kind, std::string_view msg);
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
// time ("MoirexLog yyyy-mm-dd hh_mm_ss.csl"). Off: DefaultLogger disabled. Always ends by sending
// "Logging system initialized" on FormLogger. The returned destination is owned by the caller.
std::unique_ptr<TCodeSiteDestination> SetupLogDestination(TLoggingType type,
                                                          const std::string& folder,
                                                          double startTime);

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
