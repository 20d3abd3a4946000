// moirexctl pump send | stop | init: the syringe pump service tools on the command line. Each
// command makes one pump driver object for its action, as the window's tools do, and prints the
// lines that the window writes for the same action (without the window's time stamps).

#include <unistd.h>

#include <iostream>
#include <string>
#include <vector>

#include "Command.h"
#include "devices/PSD4_Interface.h"

using namespace moirexctl;
using moirex::EnumPumpState;
using moirex::TPSD4;
using moirex::TSerialResponse;

namespace {

// Texts that end in the carriage return of a pump frame are printed without it.
std::string WithoutLineEnd(std::string text) {
    while (!text.empty() && (text.back() == '\r' || text.back() == '\n')) text.pop_back();
    return text;
}

// Operator messages of the driver go to standard error as they come.
void PrintMessage(const std::string& message) { std::cerr << message << std::endl; }

// States in which the pump has refused or failed what it was asked to do.
bool IsErrorState(EnumPumpState state) {
    return static_cast<int>(state) >= static_cast<int>(EnumPumpState::ps_Initialization_error__Occurs_when_a_syringe_or_valve_error_happens_during_initialization);
}

// Why the connect query failed, for standard error.
void PrintConnectFailure(const TPSD4& pump) {
    const TSerialResponse& c = pump.ConnectResponse();
    std::string why = !c.Status.empty() ? c.Status
                      : c.Response.empty() ? std::string("no answer")
                                           : "answer \"" + c.Response + "\"";
    std::cerr << "No pump answered the connect query (" << why << ")" << std::endl;
}

std::string PortArgument(const Args& args) {
    const std::string& port = args.Positionals()[0];
    if (port.empty()) throw UsageError("PORT must not be empty");
    return port;
}

int RunSend(const std::vector<std::string>& argv) {
    Args args(argv, {});
    args.ExpectPositionals(2, 2);
    const std::string port = PortArgument(args);
    const std::string command = args.Positionals()[1];
    if (command.empty()) throw UsageError("COMMAND must not be empty");
    if (command.find_first_of("\r\n") != std::string::npos)
        throw UsageError("COMMAND must be one line");

    if (!ClaimPorts({port})) return ExitFailed;
    TPSD4 pump(PrintMessage);
    const bool connected = pump.Connect(port);
    std::cout << "Send data          : " << command << "\n";
    TSerialResponse response;
    pump.SendCommand(command, response, true);
    std::cout << "Pump status        : " << pump.StatusAsString() << "\n";
    if (!response.Response.empty())
        std::cout << "Comm Response      : " << response.Response << "\n";
    else
        std::cout << "Comm Status        : " << WithoutLineEnd(response.Status) << "\n";
    std::cout.flush();

    if (!response.Status.empty()) {
        std::cerr << WithoutLineEnd(response.Status) << std::endl;
        if (!connected) PrintConnectFailure(pump);
        return ExitFailed;
    }
    if (IsErrorState(pump.State)) {
        std::cerr << pump.StatusAsString() << std::endl;
        return ExitFailed;
    }
    return ExitOk;
}

int RunStop(const std::vector<std::string>& argv) {
    Args args(argv, {});
    args.ExpectPositionals(1, 1);
    const std::string port = PortArgument(args);

    if (!ClaimPorts({port})) return ExitFailed;
    TPSD4 pump(PrintMessage);
    const bool connected = pump.Connect(port);
    const bool stopped = pump.Stop();
    std::cout << (stopped ? "Stopped" : "Stop failed") << std::endl;
    if (stopped) return ExitOk;
    if (!connected)
        PrintConnectFailure(pump);
    else
        std::cerr << "Pump status: " << pump.StatusAsString() << std::endl;
    return ExitFailed;
}

// Prints each feedback line once it is settled; on a terminal the line that is being replaced
// (the elapsed seconds of the standby wait) is shown as it changes.
class PrintedFeedback final : public moirex::TPumpFeedback {
public:
    PrintedFeedback() : live_(::isatty(STDOUT_FILENO) == 1) {}
    ~PrintedFeedback() override { Settle(); }

    void AddLine(const std::string& line) override {
        Settle();
        last_ = line;
        pending_ = true;
        if (live_) {
            std::cout << WithoutLineEnd(line) << std::flush;
            shown_ = true;
        }
    }
    void ReplaceLastLine(const std::string& line) override {
        if (!pending_) return AddLine(line);
        last_ = line;
        if (live_) std::cout << "\r" << WithoutLineEnd(line) << "\x1b[K" << std::flush;
    }
    void ProcessPendingEvents() override { std::cout.flush(); }

    void Settle() {
        if (!pending_) return;
        if (shown_)
            std::cout << "\n";
        else
            std::cout << WithoutLineEnd(last_) << "\n";
        std::cout.flush();
        pending_ = false;
        shown_ = false;
    }
private:
    bool live_;
    bool shown_ = false;
    // The line not yet settled (pending_). A plain string: GCC 12 warns of an uninitialised
    // optional string here at -O2 where there is none.
    bool pending_ = false;
    std::string last_;
};

// Keeps the lines for the exit status as well as printing them.
class RecordingFeedback final : public moirex::TPumpFeedback {
public:
    void AddLine(const std::string& line) override {
        printed.AddLine(line);
        lines.push_back(line);
    }
    void ReplaceLastLine(const std::string& line) override {
        printed.ReplaceLastLine(line);
        if (lines.empty())
            lines.push_back(line);
        else
            lines.back() = line;
    }
    void ProcessPendingEvents() override { printed.ProcessPendingEvents(); }

    PrintedFeedback printed;
    std::vector<std::string> lines;
};

int RunInit(const std::vector<std::string>& argv) {
    Args args(argv, {});
    args.ExpectPositionals(1, 1);
    const std::string port = PortArgument(args);

    if (!ClaimPorts({port})) return ExitFailed;
    TPSD4 pump(PrintMessage);
    RecordingFeedback feedback;
    const bool found = pump.PumpFindInit(port, feedback);
    feedback.printed.Settle();
    if (found && pump.PumpOnStandby()) return ExitOk;
    // The last line says what went wrong: older type, no pump, or no standby in time.
    std::string reason = feedback.lines.empty() ? std::string("No pump found") : feedback.lines.back();
    if (reason.rfind(" -> ", 0) == 0) reason.erase(0, 4);
    std::cerr << reason << std::endl;
    return ExitFailed;
}

const CommandRegistrar sendCommand({
    "pump send",
    "send one command to the syringe pump and show its answer",
    "Usage: moirexctl pump send PORT COMMAND\n"
    "\n"
    "Connects to the syringe pump on PORT (a device path such as /dev/ttyUSB0, or a bare name\n"
    "meaning /dev/NAME), sends COMMAND framed as \"/1\" COMMAND CR and waits for the answer.\n"
    "Prints the lines of the pump tool: what was sent, the pump status and the answer (or the\n"
    "exchange's status when nothing came back). COMMAND is given without \"/1\", for example\n"
    "\"Q\" (status query) or \"ZR\" (initialise and execute).\n"
    "\n"
    "Exit status: 0 when the pump answered without an error state, 1 when it refused or did\n"
    "not answer (the reason on standard error), 2 for bad arguments.\n",
    RunSend,
});

const CommandRegistrar stopCommand({
    "pump stop",
    "stop the syringe pump and wait until it is at rest",
    "Usage: moirexctl pump stop PORT\n"
    "\n"
    "Connects to the syringe pump on PORT, sends the terminate command and queries the pump\n"
    "while it reports busy, for at most 5 s. Prints \"Stopped\" or \"Stop failed\".\n"
    "\n"
    "Exit status: 0 when the pump came to rest without error, 1 otherwise (the pump's status\n"
    "on standard error), 2 for bad arguments.\n",
    RunStop,
});

const CommandRegistrar initCommand({
    "pump init",
    "check the syringe pump type and re-initialise it",
    "Usage: moirexctl pump init PORT\n"
    "\n"
    "Checks that PORT holds a syringe pump of the current type, sends it its initialisation\n"
    "settings and waits up to 50 s for it to report standby without error. Prints the feedback\n"
    "lines of the setup page.\n"
    "\n"
    "Exit status: 0 when the pump is on standby, 1 for a pump of the older type, no pump, or no\n"
    "standby within 50 s (the reason on standard error), 2 for bad arguments.\n",
    RunInit,
});

}  // namespace
