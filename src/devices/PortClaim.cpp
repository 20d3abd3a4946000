#include "devices/PortClaim.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <sstream>

#include "devices/SerialLine.h"
#include "devices/SerialPort.h"
#include "support/Log.h"

namespace moirex {

namespace {

std::string FolderNow() {
    const char* configured = std::getenv("MOIREX_CLAIM_FOLDER");
    if (configured != nullptr && *configured != '\0') return configured;
    if (::access("/run/lock", W_OK) == 0) return "/run/lock/moirex";
    return "/tmp/moirex-claims";
}

// The folder, made when missing: world-writable and sticky, so that every user of the machine
// can claim a port and nobody can remove another's lock file. A link in its place is refused.
bool FolderReady(const std::string& folder, std::string& why) {
    if (::mkdir(folder.c_str(), 0777) == 0) ::chmod(folder.c_str(), 01777);
    struct stat st{};
    if (::lstat(folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
        why = "Cannot use the claim folder " + folder + ": " + (errno != 0 ? std::strerror(errno) : "not a folder");
        return false;
    }
    return true;
}

std::string LockPath(const std::string& folder, const TPortKey& key) { return folder + "/" + key.Text() + ".lock"; }

// The lock file of a device, opened for reading and writing; made readable and writable for
// everyone when this process makes it. It is opened without O_CREAT first: in a sticky folder
// the kernel may refuse O_CREAT on another user's file (fs.protected_regular).
int OpenLockFile(const std::string& path, std::string& why) {
    for (int attempt = 0; attempt < 3; ++attempt) {
        int fd = ::open(path.c_str(), O_RDWR | O_NOFOLLOW | O_CLOEXEC);
        if (fd < 0 && errno == ENOENT) {
            fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
            if (fd >= 0) ::fchmod(fd, 0666);
            else if (errno == EEXIST) continue;
        }
        if (fd < 0) {
            why = "Cannot claim through " + path + ": " + std::strerror(errno);
            return -1;
        }
        struct stat st{};
        if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
            ::close(fd);
            why = "Cannot claim through " + path + ": not a regular file";
            return -1;
        }
        return fd;
    }
    why = "Cannot claim through " + path + ": it keeps changing";
    return -1;
}

bool TryLock(int fd) {
    struct flock fl{};
    fl.l_type = F_WRLCK;
    fl.l_whence = SEEK_SET;
    return ::fcntl(fd, F_OFD_SETLK, &fl) == 0;
}

// Whether another open file description holds the lock, asked without taking it.
bool LockedByOther(int fd) {
    struct flock fl{};
    fl.l_type = F_WRLCK;
    fl.l_whence = SEEK_SET;
    if (::fcntl(fd, F_OFD_GETLK, &fl) != 0) return false;
    return fl.l_type != F_UNLCK;
}

std::string OneLine(std::string text) {
    std::replace(text.begin(), text.end(), '\n', ' ');
    std::replace(text.begin(), text.end(), '\r', ' ');
    return text;
}

std::string UserName() {
    struct passwd pw{};
    struct passwd* found = nullptr;
    char buffer[1024];
    if (::getpwuid_r(::geteuid(), &pw, buffer, sizeof buffer, &found) == 0 && found != nullptr)
        return found->pw_name;
    return "uid " + std::to_string(::geteuid());
}

std::string RecordText(const TClaimRecord& r) {
    char since[40];
    std::snprintf(since, sizeof since, "%.9f", r.Since);
    return "port=" + OneLine(r.Port) + "\nkey=" + r.Key + "\nholder=" + OneLine(r.Holder) +
           "\npid=" + std::to_string(r.Pid) + "\nuser=" + OneLine(r.User) + "\nsince=" + since +
           "\nstate=" + OneLine(r.RunState) + "\n";
}

bool ParseRecord(const std::string& text, TClaimRecord& r) {
    std::istringstream in(text);
    std::string line;
    bool any = false;
    while (std::getline(in, line)) {
        const auto eq = line.find('=');
        if (eq == std::string::npos) continue;
        const std::string name = line.substr(0, eq), value = line.substr(eq + 1);
        if (name == "port") r.Port = value;
        else if (name == "key") r.Key = value;
        else if (name == "holder") r.Holder = value;
        else if (name == "pid") r.Pid = std::strtoll(value.c_str(), nullptr, 10);
        else if (name == "user") r.User = value;
        else if (name == "since") r.Since = std::strtod(value.c_str(), nullptr);
        else if (name == "state") r.RunState = value;
        any = true;
    }
    return any && !r.Holder.empty();
}

std::string ReadAll(int fd) {
    std::string text;
    char buffer[1024];
    off_t at = 0;
    for (;;) {
        const ssize_t n = ::pread(fd, buffer, sizeof buffer, at);
        if (n <= 0 || text.size() > 16384) break;
        text.append(buffer, static_cast<size_t>(n));
        at += n;
    }
    return text;
}

// The record of a lock file and whether its lock is held by someone else.
std::optional<TClaimRecord> RecordOf(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) return std::nullopt;
    TClaimRecord r;
    const bool parsed = ParseRecord(ReadAll(fd), r);
    r.Alive = LockedByOther(fd);
    ::close(fd);
    if (!parsed && !r.Alive) return std::nullopt;
    return r;
}

std::string RefusalFor(const std::string& port, const std::string& lockPath) {
    const auto holder = RecordOf(lockPath);
    if (holder && !holder->Holder.empty()) return ClaimRefusalText(port, *holder);
    return port + " is in use by another Moirex program";
}

void SetCloseOnExec(int fd, bool on) {
    const int flags = ::fcntl(fd, F_GETFD);
    if (flags >= 0) ::fcntl(fd, F_SETFD, on ? (flags | FD_CLOEXEC) : (flags & ~FD_CLOEXEC));
}

std::string FdPath(int fd) {
    char target[4096];
    const std::string link = "/proc/self/fd/" + std::to_string(fd);
    const ssize_t n = ::readlink(link.c_str(), target, sizeof target - 1);
    if (n <= 0) return {};
    return std::string(target, static_cast<size_t>(n));
}

}  // namespace

std::string ClaimFolder() { return FolderNow(); }

namespace {
std::mutex gHolderMutex;
std::string& HolderNameSlot() {
    static std::string name;
    return name;
}
}  // namespace

void SetProcessHolderName(std::string name) {
    {
        std::lock_guard lock(gHolderMutex);
        HolderNameSlot() = name;
    }
    ProcessMixerClaim().SetHolderName(std::move(name));
}

std::string ProcessHolderName() {
    std::lock_guard lock(gHolderMutex);
    if (!HolderNameSlot().empty()) return HolderNameSlot();
    const std::string program = program_invocation_short_name;
    return program == "moirex" ? "Moirex window" : program;
}

TMixerClaim& ProcessMixerClaim() {
    // Never destroyed: its lines may still be at work while the process ends, and the kernel
    // lets go of locks and ports then anyway.
    static TMixerClaim* claim = new TMixerClaim(ProcessHolderName());
    return *claim;
}

std::string ClaimRefusalText(const std::string& port, const TClaimRecord& holder) {
    const bool today = std::floor(holder.Since) == std::floor(Now());
    const std::string since = FormatDateTime(today ? "hh:nn:ss" : "yyyy-mm-dd hh:mm:ss", holder.Since);
    return port + " is in use by " + holder.Holder + " (PID " + std::to_string(holder.Pid) + ") since " + since;
}

struct TMixerClaim::TPortClaim {
    std::string Port;
    TPortKey Key;
    int LockFd = -1;
    std::shared_ptr<TSerialLine> Line;
    std::mutex ExtraMutex;
    std::vector<int> ExtraLocks;  // devices the port came back as (a replugged adapter)
    TClaimRecord Record;

    ~TPortClaim() {
        if (Line) UnregisterLine(Line.get());
        Line.reset();  // finishes its job, closes the port
        std::lock_guard lock(ExtraMutex);
        for (int fd : ExtraLocks) ::close(fd);
        if (LockFd >= 0) ::close(LockFd);  // the lock goes with its last descriptor
    }
};

TMixerClaim::TMixerClaim(std::string holderName) : holder_(std::move(holderName)) {}

TMixerClaim::~TMixerClaim() { Release(); }

void TMixerClaim::WriteRecord(TPortClaim& c) {
    c.Record.Port = c.Port;
    c.Record.Key = c.Key.Text();
    c.Record.Holder = holder_;
    c.Record.Pid = ::getpid();
    c.Record.User = UserName();
    c.Record.Since = since_;
    c.Record.RunState = runState_;
    const std::string text = RecordText(c.Record);
    std::lock_guard lock(c.ExtraMutex);
    std::vector<int> fds = c.ExtraLocks;
    fds.push_back(c.LockFd);
    for (int fd : fds) {
        if (fd < 0) continue;
        if (::pwrite(fd, text.data(), text.size(), 0) == static_cast<ssize_t>(text.size()))
            (void)!::ftruncate(fd, static_cast<off_t>(text.size()));
    }
}

std::string TMixerClaim::ClaimDevice(const std::string& port, const TPortKey& key, TPortClaim& out) {
    std::string why;
    const std::string folder = ClaimFolder();
    if (!FolderReady(folder, why)) return why;
    const std::string path = LockPath(folder, key);
    const int fd = OpenLockFile(path, why);
    if (fd < 0) return why;
    if (!TryLock(fd)) {
        ::close(fd);
        return RefusalFor(port, path);
    }
    out.Port = port;
    out.Key = key;
    out.LockFd = fd;
    return {};
}

std::string TMixerClaim::Claim(const std::vector<std::string>& ports) {
    if (since_ == 0 || claims_.empty()) since_ = Now();
    std::vector<std::unique_ptr<TPortClaim>> fresh;
    auto taken = [&](const TPortKey& key) {
        for (const auto& c : claims_)
            if (c->Key == key) return true;
        for (const auto& c : fresh)
            if (c->Key == key) return true;
        return false;
    };
    // Every lock first: a refusal leaves every instrument untouched.
    for (const std::string& port : ports) {
        if (port.empty()) continue;
        const auto key = PortDeviceKey(port);
        if (!key) continue;
        // A device held under another name, or whose line was lost (a restarted emulator's new
        // pseudo-terminal with the old number), is claimed afresh under the name asked for.
        claims_.erase(std::remove_if(claims_.begin(), claims_.end(),
                                     [&](const std::unique_ptr<TPortClaim>& c) {
                                         if (c->Key == *key) return c->Port != port || !c->Line->IsOpen();
                                         // The name leads to another device now: the old one is
                                         // no longer this port.
                                         return c->Port == port;
                                     }),
                      claims_.end());
        if (taken(*key)) continue;
        auto c = std::make_unique<TPortClaim>();
        const std::string refusal = ClaimDevice(port, *key, *c);
        if (!refusal.empty()) {
            DefaultLogger().Send(refusal);
            return refusal;  // `fresh` goes, and its locks with it
        }
        WriteRecord(*c);
        fresh.push_back(std::move(c));
    }
    // Then the ports, held open by their owners.
    for (auto& c : fresh) {
        c->Line = std::make_shared<TSerialLine>(c->Port, c->Key);
        if (!c->Line->IsOpen() && c->Line->OpenRefusedBusy()) {
            std::string refusal = c->Line->OpenFailure();
            if (refusal.find(" is in use by ") == std::string::npos)
                refusal = c->Port + " is in use by another program (" + refusal + ")";
            DefaultLogger().Send(refusal);
            return refusal;
        }
        // Any other failure to open (permissions, a device that went away) keeps the claim: the
        // exchanges fail as on a port that cannot be opened, and the owner tries again each time.
    }
    for (auto& c : fresh) {
        TPortClaim* raw = c.get();
        c->Line->OnNewDevice = [raw](const TPortKey& device) -> std::string {
            std::string why;
            const std::string folder = ClaimFolder();
            if (!FolderReady(folder, why)) return why;
            const std::string path = LockPath(folder, device);
            const int fd = OpenLockFile(path, why);
            if (fd < 0) return why;
            if (!TryLock(fd)) {
                ::close(fd);
                return RefusalFor(raw->Port, path);
            }
            {
                std::lock_guard lock(raw->ExtraMutex);
                raw->ExtraLocks.push_back(fd);
            }
            const std::string text = RecordText(raw->Record);
            if (::pwrite(fd, text.data(), text.size(), 0) == static_cast<ssize_t>(text.size()))
                (void)!::ftruncate(fd, static_cast<off_t>(text.size()));
            return {};
        };
        RegisterLine(c->Line);
        claims_.push_back(std::move(c));
    }
    return {};
}

std::string TMixerClaim::ClaimOnly(const std::vector<std::string>& ports) {
    const std::string refusal = Claim(ports);
    if (!refusal.empty()) return refusal;
    claims_.erase(std::remove_if(claims_.begin(), claims_.end(),
                                 [&](const std::unique_ptr<TPortClaim>& c) {
                                     for (const std::string& port : ports) {
                                         const auto key = PortDeviceKey(port);
                                         if (key ? *key == c->Key : port == c->Port) return false;
                                     }
                                     return true;
                                 }),
                  claims_.end());
    return {};
}

void TMixerClaim::Release() {
    claims_.clear();
    since_ = 0;
}

bool TMixerClaim::Holds(const std::string& port) const { return Line(port) != nullptr; }

std::vector<std::string> TMixerClaim::Ports() const {
    std::vector<std::string> ports;
    for (const auto& c : claims_) ports.push_back(c->Port);
    return ports;
}

std::shared_ptr<TSerialLine> TMixerClaim::Line(const std::string& port) const {
    const auto key = PortDeviceKey(port);
    for (const auto& c : claims_)
        if (key ? (*key == c->Key || *key == c->Line->Key()) : port == c->Port) return c->Line;
    return nullptr;
}

void TMixerClaim::SetRunState(const std::string& state) {
    if (state == runState_) return;
    runState_ = state;
    for (auto& c : claims_) WriteRecord(*c);
}

std::string TMixerClaim::InheritText() {
    std::string text;
    for (auto& c : claims_) {
        const int portFd = c->Line ? c->Line->FdForInheritance() : -1;
        SetCloseOnExec(c->LockFd, false);
        if (portFd >= 0) SetCloseOnExec(portFd, false);
        if (!text.empty()) text += ";";
        text += std::to_string(c->LockFd) + ":" + std::to_string(portFd) + ":" + c->Port;
    }
    return text;
}

std::unique_ptr<TMixerClaim> TMixerClaim::Adopt(const std::string& inheritText, std::string holderName,
                                                std::string& error) {
    auto claim = std::make_unique<TMixerClaim>(std::move(holderName));
    claim->since_ = Now();
    std::stringstream parts(inheritText);
    std::string part;
    while (std::getline(parts, part, ';')) {
        const auto a = part.find(':');
        const auto b = a == std::string::npos ? a : part.find(':', a + 1);
        if (b == std::string::npos) {
            error = "Not a claim to take over: " + part;
            return nullptr;
        }
        const int lockFd = std::atoi(part.substr(0, a).c_str());
        const int portFd = std::atoi(part.substr(a + 1, b - a - 1).c_str());
        const std::string port = part.substr(b + 1);
        const auto key = PortDeviceKey(port);
        if (!key) {
            error = "Not a claim to take over: " + port + " leads to no device";
            return nullptr;
        }
        // The lock descriptor must be this device's lock file, and its lock ours (taking it
        // again on our own open file description succeeds; on another's it fails).
        if (FdPath(lockFd) != LockPath(ClaimFolder(), *key) || !TryLock(lockFd)) {
            error = "Not a claim to take over: descriptor " + std::to_string(lockFd) + " is not the lock of " + port;
            return nullptr;
        }
        struct stat st{};
        if (portFd >= 0 && (::fstat(portFd, &st) != 0 || !S_ISCHR(st.st_mode) ||
                            static_cast<uint64_t>(st.st_rdev) != key->Rdev)) {
            error = "Not a claim to take over: descriptor " + std::to_string(portFd) + " is not " + port;
            return nullptr;
        }
        SetCloseOnExec(lockFd, true);
        if (portFd >= 0) SetCloseOnExec(portFd, true);
        auto c = std::make_unique<TPortClaim>();
        c->Port = port;
        c->Key = *key;
        c->LockFd = lockFd;
        c->Line = std::make_shared<TSerialLine>(port, *key, portFd);
        RegisterLine(c->Line);
        claim->claims_.push_back(std::move(c));
    }
    return claim;
}

void TMixerClaim::TakeOver() {
    since_ = Now();
    for (auto& c : claims_) WriteRecord(*c);
}

std::optional<TClaimRecord> ClaimOf(const std::string& port) {
    const auto key = PortDeviceKey(port);
    if (!key) return std::nullopt;
    return RecordOf(LockPath(ClaimFolder(), *key));
}

std::vector<TClaimRecord> CurrentClaims() {
    std::vector<TClaimRecord> out;
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator(ClaimFolder(), ec)) {
        if (entry.path().extension() != ".lock") continue;
        const auto record = RecordOf(entry.path().string());
        if (record && record->Alive) out.push_back(*record);
    }
    std::sort(out.begin(), out.end(), [](const TClaimRecord& a, const TClaimRecord& b) { return a.Port < b.Port; });
    return out;
}

}  // namespace moirex
