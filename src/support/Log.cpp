#include "support/Log.h"

#include "support/FileLocations.h"

#include <spdlog/logger.h>
#include <spdlog/sinks/rotating_file_sink.h>
#include <spdlog/sinks/stdout_sinks.h>

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <exception>
#include <filesystem>
#include <utility>
#include <vector>

namespace moirex {

namespace {

// Time stamp with milliseconds, the writing thread's id, then the text. Local time, as the
// operator reads the clock on the wall.
constexpr const char* kLinePattern = "%Y-%m-%d %H:%M:%S.%e [%t] %v";

// A message is one line in the file: line breaks inside it (feedback texts of the instruments
// end their lines with CR LF) are written as visible escapes.
std::string OneLine(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        if (c == '\r') {
            out += "\\r";
        } else if (c == '\n') {
            out += "\\n";
        } else {
            out += c;
        }
    }
    return out;
}

std::string FormatRecord(const TLogRecord& record) {
    std::string body;
    switch (record.Kind) {
        case TLogRecord::TKind::lkMessage: body = OneLine(record.Text); break;
        case TLogRecord::TKind::lkEnterMethod: body = "Entering " + OneLine(record.Text); break;
        case TLogRecord::TKind::lkExitMethod: body = "Leaving " + OneLine(record.Text); break;
        case TLogRecord::TKind::lkClear: body = "Clear"; break;
    }
    if (record.Category.empty()) return body;
    return "[" + record.Category + "] " + body;
}

std::string JoinPath(const std::string& folder, const std::string& name) {
    if (folder.empty() || folder.back() == '/') return folder + name;
    return folder + "/" + name;
}

}  // namespace

// One spdlog logger of its own (never registered globally, so destinations cannot clash by
// name), writing through exactly one sink. The destination's mutex orders the writes; the sink's
// own mutex keeps a line whole even if spdlog is used elsewhere in the process.
class LogSink {
public:
    explicit LogSink(spdlog::sink_ptr sink) : logger_("moirex", std::move(sink)) {
        logger_.set_pattern(kLinePattern);
        logger_.set_level(spdlog::level::trace);
        // Every line reaches the disk at once: a log that stops short of a crash is no help.
        logger_.flush_on(spdlog::level::trace);
        // A line that could not be written (a full disk) is kept as the reason, for the owner to
        // tell once; spdlog would print it to standard error on every line.
        logger_.set_error_handler([this](const std::string& message) {
            if (failure_.empty()) failure_ = message.empty() ? std::string("write error") : message;
        });
    }

    // Why a write failed, empty while every line got in. Called under the owner's mutex.
    const std::string& Failure() const { return failure_; }

    void Write(std::string_view line) {
        try {
            logger_.info("{}", line);
        } catch (...) {
            // A full disk or a lost terminal must not stop the mixer.
        }
    }

    void Flush() {
        try {
            logger_.flush();
        } catch (...) {
        }
    }

private:
    spdlog::logger logger_;
    std::string failure_;
};

// ---------------------------------------------------------------------------------------------
// TLogCapture

void TLogCapture::Add(const TLogRecord& record) {
    std::lock_guard lock(mutex_);
    records_.push_back(record);
}

std::vector<TLogRecord> TLogCapture::Records() const {
    std::lock_guard lock(mutex_);
    return records_;
}

std::vector<std::string> TLogCapture::Messages(std::string_view category) const {
    std::lock_guard lock(mutex_);
    std::vector<std::string> out;
    for (const auto& r : records_) {
        if (r.Kind == TLogRecord::TKind::lkMessage && r.Category == category) out.push_back(r.Text);
    }
    return out;
}

bool TLogCapture::Contains(std::string_view category, std::string_view text) const {
    std::lock_guard lock(mutex_);
    for (const auto& r : records_) {
        if (r.Kind == TLogRecord::TKind::lkMessage && r.Category == category && r.Text == text) {
            return true;
        }
    }
    return false;
}

void TLogCapture::Clear() {
    std::lock_guard lock(mutex_);
    records_.clear();
}

// ---------------------------------------------------------------------------------------------
// TCodeSiteDestination

TCodeSiteDestination::TCodeSiteDestination() = default;

TCodeSiteDestination::~TCodeSiteDestination() {
    // A channel left pointing at a freed destination would write into freed memory; it falls
    // back to the default destination instead.
    for (TCodeSiteLogger* logger : {&FormLogger(), &SerialPortLogger(), &DefaultLogger()}) {
        if (logger->Destination() == this) logger->SetDestination(nullptr);
    }
    std::lock_guard lock(mutex_);
    if (file_) file_->Flush();
}

bool TCodeSiteDestination::OpenFileLocked() {
    const std::string path = JoinPath(LogFile.FilePath, LogFile.FileName);
    if (file_ && path == openPath_) return true;
    if (path == failedPath_) return false;
    file_.reset();
    openPath_.clear();
    // The folder must be there already: a mistyped folder is reported, not created.
    std::error_code ec;
    const std::filesystem::path folder = std::filesystem::path(path).parent_path();
    if (!folder.empty() && !std::filesystem::is_directory(folder, ec)) {
        failedPath_ = path;
        std::fprintf(stderr, "Moirex: cannot open the log file \"%s\": no such folder; logging to it is off\n",
                     path.c_str());
        return false;
    }
    try {
        // Appends: a second destination on the same file (or a restart within the same second)
        // keeps what is already there, and the rotation counts it.
        const TLogRotation r = LogFile.Rotation;
        file_ = std::make_unique<LogSink>(std::make_shared<spdlog::sinks::rotating_file_sink_mt>(
            path, std::max<uint64_t>(r.MaxFileSize, 1), std::max<uint32_t>(r.FilesKept, 1)));
        openPath_ = path;
        return true;
    } catch (const std::exception& e) {
        failedPath_ = path;
        std::fprintf(stderr, "Moirex: cannot open the log file \"%s\": %s; logging to it is off\n",
                     path.c_str(), e.what());
        return false;
    }
}

void TCodeSiteDestination::WriteLocked(std::string_view line) {
    if (LogFile.Active && !LogFile.FileName.empty() && OpenFileLocked()) {
        file_->Write(line);
        // A full disk, or the file deleted (lines would go into a file nobody can read): the
        // file is given up, and the loss is kept for the window's log (TakeFileFailure).
        std::error_code ec;
        std::string lost = file_->Failure();
        if (lost.empty() && !std::filesystem::exists(openPath_, ec)) lost = "the file was deleted";
        if (!lost.empty()) {
            fileFailure_ = "Log file \"" + openPath_ + "\" could not be written (" + lost + "). Logging to it is off.";
            failedPath_ = openPath_;
            file_.reset();
            openPath_.clear();
        }
    }
    if (Viewer.Active) {
        if (!viewer_) viewer_ = std::make_unique<LogSink>(std::make_shared<spdlog::sinks::stderr_sink_mt>());
        viewer_->Write(line);
    }
}

void TCodeSiteDestination::Write(std::string_view line) {
    std::lock_guard lock(mutex_);
    WriteLocked(line);
}

void TCodeSiteDestination::Write(const TLogRecord& record) {
    std::lock_guard lock(mutex_);
    if (capture_) capture_->Add(record);
    // Clearing is a request to the live viewer; the file keeps its history and the terminal
    // cannot be emptied, so it leaves no line.
    if (record.Kind == TLogRecord::TKind::lkClear) return;
    WriteLocked(FormatRecord(record));
}

std::string TCodeSiteDestination::TakeFileFailure() {
    std::lock_guard lock(mutex_);
    return std::exchange(fileFailure_, std::string());
}

std::string TakeLogFileFailure() {
    std::string told;
    std::vector<TCodeSiteDestination*> seen;
    for (TCodeSiteLogger* logger : {&FormLogger(), &SerialPortLogger(), &DefaultLogger()}) {
        TCodeSiteDestination* d = logger->Destination();
        if (d == nullptr) d = &DefaultDestination();
        if (std::find(seen.begin(), seen.end(), d) != seen.end()) continue;
        seen.push_back(d);
        const std::string lost = d->TakeFileFailure();
        if (!lost.empty()) told += (told.empty() ? "" : "\r\n") + lost;
    }
    return told;
}

void TCodeSiteDestination::AttachCapture(std::shared_ptr<TLogCapture> capture) {
    std::lock_guard lock(mutex_);
    capture_ = std::move(capture);
}

void TCodeSiteDestination::Flush() {
    std::lock_guard lock(mutex_);
    if (file_) file_->Flush();
    if (viewer_) viewer_->Flush();
}

TCodeSiteDestination& DefaultDestination() {
    // Both parts inactive: without an attached capture or an activated part, what is sent to a
    // channel without a destination of its own goes nowhere.
    static TCodeSiteDestination destination;
    return destination;
}

// ---------------------------------------------------------------------------------------------
// TCodeSiteLogger

void TCodeSiteLogger::SetCategory(std::string category) {
    std::lock_guard lock(categoryMutex_);
    category_ = std::move(category);
}

std::string TCodeSiteLogger::Category() const {
    std::lock_guard lock(categoryMutex_);
    return category_;
}

void TCodeSiteLogger::SetDestination(TCodeSiteDestination* destination) {
    destination_.store(destination);
}

void TCodeSiteLogger::Emit(TLogRecord::TKind kind, std::string_view msg) {
    if (!Enabled.load()) return;
    TLogRecord record;
    record.Kind = kind;
    record.Category = Category();
    record.Text = std::string(msg);
    TCodeSiteDestination* destination = destination_.load();
    (destination ? *destination : DefaultDestination()).Write(record);
}

void TCodeSiteLogger::Send(std::string_view msg) { Emit(TLogRecord::TKind::lkMessage, msg); }
void TCodeSiteLogger::EnterMethod(std::string_view name) { Emit(TLogRecord::TKind::lkEnterMethod, name); }
void TCodeSiteLogger::ExitMethod(std::string_view name) { Emit(TLogRecord::TKind::lkExitMethod, name); }
void TCodeSiteLogger::Clear() { Emit(TLogRecord::TKind::lkClear, {}); }

bool TCodeSiteLogger::Installed(const std::string& folder) const {
    if (folder.empty()) return false;
    std::error_code ec;
    if (!std::filesystem::is_directory(folder, ec)) return false;
    return ::access(folder.c_str(), W_OK | X_OK) == 0;
}

bool TCodeSiteLogger::Installed() const { return Installed(LogFolder()); }

void TCodeSiteLogger::CloseDispatcher() {
    // Nothing stays connected between messages; closing writes out what is buffered.
    TCodeSiteDestination* destination = destination_.load();
    (destination ? *destination : DefaultDestination()).Flush();
}

TCodeSiteLogger& FormLogger() {
    static TCodeSiteLogger logger;
    return logger;
}

TCodeSiteLogger& SerialPortLogger() {
    static TCodeSiteLogger logger;
    return logger;
}

TCodeSiteLogger& DefaultLogger() {
    static TCodeSiteLogger logger;
    return logger;
}

void InitLogChannels() {
    TCodeSiteLogger& form = FormLogger();
    form.Enabled = true;
    form.SetCategory("Form");
    if (form.Enabled) form.Clear();
    form.Send("Initialization");

    TCodeSiteLogger& serial = SerialPortLogger();
    serial.Enabled = true;
    serial.SetCategory("SerialPort");
    serial.Send("Initialization");
}

}  // namespace moirex
