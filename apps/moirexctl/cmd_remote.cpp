// moirexctl remote: a plain SECoP client for shell scripts, against the window's node or
// moirexctl serve: describe, read, watch, load, start, stop.

#include <algorithm>
#include <chrono>
#include <fstream>
#include <iostream>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "Command.h"
#include "StopSignals.h"
#include "remote/SecopClient.h"
#include "remote/SecopMessage.h"
#include "remote/SecopNode.h"
#include "support/DateTime.h"

namespace moirexctl {
namespace {

using nlohmann::json;

using Connection = moirex::secop::TClient;

constexpr double ReplySeconds = 30;

// "2026-12-10T14:02:03.120+01:00" for a data report's time stamp.
std::string Stamp(const json& report) {
    if (!report.is_array() || report.size() < 2 || !report[1].is_object() || !report[1].contains("t") ||
        !report[1]["t"].is_number())
        return "-";
    const double t = report[1]["t"].get<double>();
    const auto tp = std::chrono::system_clock::time_point(
        std::chrono::duration_cast<std::chrono::system_clock::duration>(std::chrono::duration<double>(t)));
    return moirex::Iso8601Local(tp);
}

std::string ValueText(const json& report) {
    if (!report.is_array() || report.empty()) return report.dump();
    return report[0].dump(-1, ' ', false, json::error_handler_t::replace);
}

// Sends the request and waits for its reply (updates in between are skipped). The reply's data,
// or none after printing the error reply or why there was none.
std::optional<json> Exchange(Connection& c, const std::string& request, const std::string& replyAction,
                             std::string* specifier = nullptr) {
    if (!c.Send(request)) {
        std::cerr << "moirexctl remote: the node closed the connection" << std::endl;
        return std::nullopt;
    }
    while (auto line = c.ReadLine(ReplySeconds)) {
        const moirex::secop::TParseResult r = moirex::secop::ParseMessage(*line);
        if (!r.Message) continue;
        const std::string& action = r.Message->Action;
        if (action == "update") continue;
        if (action.rfind("error_", 0) == 0) {
            const json& e = r.Message->Data ? *r.Message->Data : json();
            std::cerr << "moirexctl remote: " << (e.is_array() && !e.empty() ? e[0].get<std::string>() : "error") << ": "
                      << (e.is_array() && e.size() > 1 && e[1].is_string() ? e[1].get<std::string>() : *line) << std::endl;
            return std::nullopt;
        }
        if (action == replyAction) {
            if (specifier) *specifier = r.Message->Specifier;
            return r.Message->Data ? *r.Message->Data : json();
        }
    }
    std::cerr << "moirexctl remote: " << (c.ClosedByNode() || !c.Connected() ? c.Error() : std::string("no reply"))
              << std::endl;
    return std::nullopt;
}

int Describe(Connection& c) {
    const auto d = Exchange(c, "describe", "describing");
    if (!d) return ExitFailed;
    std::cout << d->dump(2, ' ', false, json::error_handler_t::replace) << std::endl;
    return ExitOk;
}

int Read(Connection& c, const std::string& what) {
    std::vector<std::string> names;
    if (what.find(':') != std::string::npos) {
        names.push_back(what);
    } else {
        // A module alone: each of its parameters in the node's order.
        const auto d = Exchange(c, "describe", "describing");
        if (!d) return ExitFailed;
        const json& modules = (*d)["modules"];
        if (!modules.contains(what)) {
            std::cerr << "moirexctl remote: NoSuchModule: no module " << what << std::endl;
            return ExitFailed;
        }
        const json& m = modules[what];
        std::vector<std::string> order;
        for (const auto& n : m.value("order", json::array())) order.push_back(n.get<std::string>());
        for (const auto& [name, acc] : m["accessibles"].items())
            if (std::find(order.begin(), order.end(), name) == order.end()) order.push_back(name);
        for (const std::string& name : order)
            if (m["accessibles"].contains(name) && m["accessibles"][name]["datainfo"].value("type", "") != "command")
                names.push_back(what + ":" + name);
    }
    for (const std::string& name : names) {
        const auto report = Exchange(c, "read " + name, "reply");
        if (!report) return ExitFailed;
        std::cout << name << " " << ValueText(*report) << " " << Stamp(*report) << std::endl;
    }
    return ExitOk;
}

int Watch(Connection& c) {
    if (!c.Send("activate")) return ExitFailed;
    while (auto line = c.ReadLine(-1)) {
        const moirex::secop::TParseResult r = moirex::secop::ParseMessage(*line);
        if (!r.Message) continue;
        if (r.Message->Action == "update" && r.Message->Data)
            std::cout << Stamp(*r.Message->Data) << " " << r.Message->Specifier << " " << ValueText(*r.Message->Data)
                      << std::endl;
        else if (r.Message->Action.rfind("error_", 0) == 0)
            std::cerr << *line << std::endl;
    }
    if (StopSignalCount() > 0) return ExitOk;
    std::cerr << "moirexctl remote: " << c.Error() << std::endl;
    return ExitFailed;
}

int Do(Connection& c, const std::string& command, const json* argument) {
    std::string request = "do program:" + command;
    if (argument) request += " " + argument->dump(-1, ' ', true, json::error_handler_t::replace);
    const auto report = Exchange(c, request, "done");
    if (!report) return ExitFailed;
    if (report->is_array() && !report->empty() && report->at(0).is_string() && !report->at(0).get<std::string>().empty())
        std::cout << report->at(0).get<std::string>() << std::endl;
    std::cout << "done program:" << command << " " << Stamp(*report) << std::endl;
    return ExitOk;
}

int RunRemote(const std::vector<std::string>& argv) {
    const Args args(argv, {});
    args.ExpectPositionals(2, 3);
    const auto& p = args.Positionals();
    moirex::secop::TAddress address;
    std::string error;
    if (!moirex::secop::ParseAddress(p[0], address, error)) throw UsageError(error);
    const std::string& what = p[1];
    const bool takesArgument = what == "read" || what == "load";
    if (takesArgument != (p.size() == 3))
        throw UsageError(takesArgument ? what + " needs " + (what == "read" ? "MODULE[:PARAM]" : "a program FILE")
                                       : what + " takes nothing more");
    std::string program;
    if (what == "load") {
        std::ifstream in(p[2], std::ios::binary);
        if (!in) throw UsageError("cannot read " + p[2]);
        std::ostringstream text;
        text << in.rdbuf();
        program = text.str();
    } else if (what != "describe" && what != "read" && what != "watch" && what != "start" && what != "stop") {
        throw UsageError("unknown request " + what + " (describe, read, watch, load, start, stop)");
    }
    InstallStopSignals();
    Connection c(address);
    c.Interrupted = [] { return StopSignalCount() > 0; };
    if (!c.Connected()) {
        std::cerr << "moirexctl remote: cannot connect to " << c.Error() << std::endl;
        return ExitFailed;
    }
    const auto idn = [&]() -> std::optional<std::string> {
        if (!c.Send(moirex::secop::IdentificationRequest)) return std::nullopt;
        return c.ReadLine(ReplySeconds);
    }();
    if (!idn || idn->find(",SECoP,") == std::string::npos) {
        std::cerr << "moirexctl remote: " << address.Text() << " is no SECoP node" << std::endl;
        return ExitFailed;
    }
    if (what == "describe") return Describe(c);
    if (what == "read") return Read(c, p[2]);
    if (what == "watch") return Watch(c);
    if (what == "load") {
        const json text = program;
        return Do(c, "load", &text);
    }
    return Do(c, what, nullptr);
}

const CommandRegistrar registrar({
    "remote",
    "a SECoP client: describe, read, watch, load, start or stop a mixer's node",
    "Usage: moirexctl remote ADDRESS describe\n"
    "       moirexctl remote ADDRESS read MODULE[:PARAM]\n"
    "       moirexctl remote ADDRESS watch\n"
    "       moirexctl remote ADDRESS load FILE\n"
    "       moirexctl remote ADDRESS start\n"
    "       moirexctl remote ADDRESS stop\n"
    "\n"
    "Talks SECoP 1.0 to the node of a mixer (the window with a \"SECoP address\" in its\n"
    "configuration file, or moirexctl serve). ADDRESS is HOST:PORT, or :PORT for this machine.\n"
    "\n"
    "  describe      the node's description as JSON\n"
    "  read M[:P]    one parameter, or every parameter of module M: name, value, time stamp\n"
    "  watch         every update as it comes (time stamp, name, value) until Ctrl-C\n"
    "  load FILE     sends the program file's text (read here) as \"Open program...\" opens it;\n"
    "                prints the corrections of wanted flows\n"
    "  start         \"Start with current program\"\n"
    "  stop          \"Stop\"\n"
    "\n"
    "Exit status: 0 when the node did it; 1 when it refused (the reason on standard error) or\n"
    "could not be reached; 2 on bad arguments.\n",
    RunRemote,
});

}  // namespace
}  // namespace moirexctl
