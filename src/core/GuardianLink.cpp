#include "core/GuardianLink.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <thread>

#include "devices/ExchangeGate.h"
#include "devices/PortClaim.h"
#include "support/FileLocations.h"
#include "support/TextFormat.h"

namespace moirex {

namespace {

namespace fs = std::filesystem;

bool Executable(const fs::path& p) {
    std::error_code ec;
    return fs::is_regular_file(p, ec) && ::access(p.c_str(), X_OK) == 0;
}

std::string Number(double v) { return ShortestText(v); }

// The descriptors that TMixerClaim::InheritText names ("lockfd:portfd:port;..."; -1: none).
std::vector<int> InheritedDescriptors(const std::string& text) {
    std::vector<int> fds;
    size_t at = 0;
    while (at < text.size()) {
        size_t end = text.find(';', at);
        if (end == std::string::npos) end = text.size();
        const std::string part = text.substr(at, end - at);
        const size_t a = part.find(':');
        const size_t b = a == std::string::npos ? a : part.find(':', a + 1);
        if (b != std::string::npos) {
            for (const std::string& number : {part.substr(0, a), part.substr(a + 1, b - a - 1)}) {
                const int fd = std::atoi(number.c_str());
                if (fd >= 0 && !number.empty()) fds.push_back(fd);
            }
        }
        at = end + 1;
    }
    return fds;
}

std::string ExitText(int status) {
    if (WIFSIGNALED(status)) return std::string("ended by signal ") + std::to_string(WTERMSIG(status));
    if (WIFEXITED(status)) return "ended with status " + std::to_string(WEXITSTATUS(status));
    return "ended";
}

}  // namespace

std::string GuardianProgramPath() {
    if (const char* env = std::getenv("MOIREX_GUARD_PROGRAM"); env && *env) return Executable(env) ? env : "";
    const fs::path here = ExecutableFolder();
    for (const fs::path& p : {here / "moirex-guard", here.parent_path() / "moirex-guard" / "moirex-guard"})
        if (Executable(p)) return p.string();
    return "";
}

std::vector<std::string> GuardianArguments(const std::string& program, const TGuardianRun& run, int socketFd) {
    std::vector<std::string> a = {program,
                                  "--socket-fd", std::to_string(socketFd),
                                  "--controller-pid", std::to_string(run.ControllerPid),
                                  "--holder", run.Holder,
                                  "--guard-s", Number(run.GuardSeconds),
                                  "--stop-retry-s", Number(run.StopRetrySeconds),
                                  "--pump", run.PumpPort,
                                  "--mfc-a", run.PortA,
                                  "--mfc-b", run.PortB,
                                  "--address-a", std::to_string(run.AddressA),
                                  "--address-b", std::to_string(run.AddressB),
                                  "--serial-a", std::to_string(run.SerialA),
                                  "--serial-b", std::to_string(run.SerialB)};
    for (const auto& [option, value] : {std::pair{"--data", &run.DataFile}, std::pair{"--recipe", &run.RecipeFile},
                                        std::pair{"--log", &run.LogFile}, std::pair{"--note", &run.NoteFile},
                                        std::pair{"--inherit", &run.Inherit}}) {
        if (value->empty()) continue;
        a.push_back(option);
        a.push_back(*value);
    }
    return a;
}

TGuardianLink::~TGuardianLink() {
    // The run ends without its stop procedure's word: the guardian acts (on purpose: this is the
    // path of an exception that ended the program).
    Close();
    if (pid_ > 0) Reap(0);
}

bool TGuardianLink::Start(const TGuardianRun& run, std::string& error) {
    if (pid_ > 0) Finish();
    run_ = run;
    restarts_ = 0;
    takingOver_ = tookOver_ = allConfirmed_ = false;
    received_.clear();
    account_.clear();
    message_.clear();
    return Launch(error);
}

bool TGuardianLink::Launch(std::string& error) {
    Close();
    const std::string program = GuardianProgramPath();
    if (program.empty()) {
        error = "moirex-guard was not found beside this program";
        return false;
    }
    int sv[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, sv) != 0) {
        error = std::string("no socket for the guardian: ") + std::strerror(errno);
        return false;
    }
    const int mine = sv[0], theirs = sv[1];
    // The run's claim goes with it (its lock and port descriptors): the guardian can then reach
    // the instruments of a frozen controller, whose ports stay open and exclusive, and no other
    // program takes them between the controller's death and the guardian's stop.
    TGuardianRun run = run_;
    run.ControllerPid = ::getpid();
    TMixerClaim& claim = ProcessMixerClaim();
    run.Inherit = claim.Ports().empty() ? std::string() : claim.InheritText();
    const std::vector<int> inherited = InheritedDescriptors(run.Inherit);
    std::vector<std::string> args = GuardianArguments(program, run, theirs);
    std::vector<char*> argv;
    for (std::string& s : args) argv.push_back(s.data());
    argv.push_back(nullptr);

    const pid_t pid = ::fork();
    if (pid < 0) {
        error = std::string("the guardian could not be started: ") + std::strerror(errno);
        ::close(mine);
        ::close(theirs);
        for (const int fd : inherited) ::fcntl(fd, F_SETFD, FD_CLOEXEC);
        return false;
    }
    if (pid == 0) {
        // Only async-signal-safe calls here: the parent may have other threads.
        // Its own session: a Ctrl-C or a closed terminal of the controller does not reach it.
        ::setsid();
        // Nothing of the controller's (ports, files, the window's sockets) goes with it but its socket.
        ::syscall(SYS_close_range, 3U, ~0U, 4U /* CLOSE_RANGE_CLOEXEC */);
        ::fcntl(theirs, F_SETFD, 0);
        for (const int fd : inherited) ::fcntl(fd, F_SETFD, 0);
        struct sigaction dfl {};
        dfl.sa_handler = SIG_DFL;
        for (int s : {SIGINT, SIGTERM, SIGHUP, SIGPIPE}) ::sigaction(s, &dfl, nullptr);
        sigset_t none;
        sigemptyset(&none);
        ::sigprocmask(SIG_SETMASK, &none, nullptr);
        ::execv(argv[0], argv.data());
        ::_exit(127);
    }
    ::close(theirs);
    // No other child of this process gets the claim.
    for (const int fd : inherited) ::fcntl(fd, F_SETFD, FD_CLOEXEC);
    fd_ = mine;
    pid_ = pid;
    SetExchangeGateSocket(fd_);
    return true;
}

void TGuardianLink::Beat() {
    if (fd_ < 0) return;
    // Called from every loop of the main thread; one beat per tick's time is plenty.
    const double now = std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
    if (now - lastBeat_ < 0.05) return;
    lastBeat_ = now;
    (void)::send(fd_, ".", 1, MSG_DONTWAIT | MSG_NOSIGNAL);
}

void TGuardianLink::Finish() {
    if (fd_ >= 0) (void)::send(fd_, "E", 1, MSG_DONTWAIT | MSG_NOSIGNAL);
    Close();
    if (pid_ > 0) Reap(2.0);
}

void TGuardianLink::Close() {
    if (fd_ < 0) return;
    SetExchangeGateSocket(-1);
    ::close(fd_);
    fd_ = -1;
}

void TGuardianLink::Reap(double waitSeconds) {
    const auto until = std::chrono::steady_clock::now() + std::chrono::duration<double>(waitSeconds);
    while (true) {
        int status = 0;
        const pid_t r = ::waitpid(pid_, &status, WNOHANG);
        if (r == pid_ || (r < 0 && errno == ECHILD)) break;
        if (std::chrono::steady_clock::now() >= until) return;  // reaped by a later look
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    pid_ = -1;
}

TGuardianLink::TNews TGuardianLink::Poll() {
    if (pid_ <= 0) return TNews::gnNone;
    // Its words first: a guardian that has taken over may have ended already.
    if (fd_ >= 0) {
        char buf[512];
        while (true) {
            const ssize_t n = ::recv(fd_, buf, sizeof buf, MSG_DONTWAIT);
            if (n <= 0) break;
            received_.append(buf, static_cast<size_t>(n));
        }
    }
    if (!takingOver_ && !received_.empty() && received_[0] == 'T') {
        // Read here, the "T" is no longer on the socket for the exchanges to see.
        BarExchanges();
        takingOver_ = true;
        return TNews::gnTakingOver;
    }
    if (takingOver_ && !tookOver_) {
        const size_t end = received_.find('\n');
        if (end != std::string::npos && end >= 2) {
            tookOver_ = true;
            allConfirmed_ = received_[1] == 'C';
            account_ = received_.substr(2, end - 2);
            return TNews::gnTookOver;
        }
    }
    int status = 0;
    if (::waitpid(pid_, &status, WNOHANG) != pid_) return TNews::gnNone;
    pid_ = -1;
    if (takingOver_) {
        Close();
        if (!tookOver_) {
            // It ended in the middle of its stop: what it did is not known.
            tookOver_ = true;
            allConfirmed_ = false;
            account_ = "the guardian " + ExitText(status) + " before it had confirmed its stop";
            return TNews::gnTookOver;
        }
        return TNews::gnNone;
    }
    const std::string why = "The guardian (moirex-guard) " + ExitText(status);
    if (restarts_ == 0) {
        ++restarts_;
        std::string error;
        if (Launch(error)) {
            message_ = why + ": started again";
            return TNews::gnRestarted;
        }
        message_ = why + " and could not be started again (" + error + "): the run goes on unguarded";
    } else {
        message_ = why + " again: the run goes on unguarded";
    }
    Close();
    return TNews::gnUnguarded;
}

}  // namespace moirex
