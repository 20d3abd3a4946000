// moirexctl: the mixer's calculations, instrument service and headless runs from the command line.

#include <cstdio>
#include <iostream>
#include <string>
#include <vector>

#include "Command.h"
#include "devices/PortClaim.h"
#include "support/Log.h"
#include "support/Version.h"

using namespace moirexctl;

namespace {

void PrintOverview(std::ostream& out) {
    out << "Usage: moirexctl COMMAND [ARGUMENTS...]\n"
           "       moirexctl COMMAND --help\n"
           "       moirexctl --version\n"
           "       moirexctl --commands   (every command and its summary, TAB between, one a line)\n"
           "A \"--\" ends the options: every argument after it is a file name or value, even one\n"
           "beginning with a dash.\n\n"
           "Commands:\n";
    for (const auto& c : Commands()) {
        std::string name = c.name;
        if (name.size() < 16) name.resize(16, ' ');
        out << "  " << name << " " << c.summary << "\n";
    }
}

// "--help" or "-h" before a "--" (after it they are file names).
bool WantsHelp(const std::vector<std::string>& args) {
    for (const auto& a : args) {
        if (a == "--") return false;
        if (a == "--help" || a == "-h") return true;
    }
    return false;
}

}  // namespace

int main(int argc, char** argv) {
    // The log channels get their categories as in the window program, so that the driver's
    // "SerialPort" lines are told apart wherever a destination is attached.
    moirex::InitLogChannels();
    std::vector<std::string> args(argv + 1, argv + argc);
    if (args.empty()) {
        PrintOverview(std::cerr);
        return ExitUsage;
    }
    if (args[0] == "--help" || args[0] == "-h" || args[0] == "help") {
        PrintOverview(std::cout);
        return ExitOk;
    }
    if (args[0] == "--commands") {
        // Every command's name and summary, TAB between them: for the manual page and shell
        // completion, which take each command's --help from there.
        for (const auto& c : Commands()) std::cout << c.name << "\t" << c.summary << "\n";
        return ExitOk;
    }
    if (args[0] == "--version") {
        std::cout << moirex::VersionLine("moirexctl") << "\n";
        return ExitOk;
    }
    // The longest registered name that the arguments begin with: "mfc read" before "mfc".
    const CtlCommand* found = nullptr;
    size_t words = 0;
    for (const auto& c : Commands()) {
        std::vector<std::string> parts;
        size_t start = 0;
        while (start <= c.name.size()) {
            size_t sp = c.name.find(' ', start);
            if (sp == std::string::npos) sp = c.name.size();
            parts.push_back(c.name.substr(start, sp - start));
            start = sp + 1;
        }
        if (parts.size() > args.size() || parts.size() <= words) continue;
        bool match = true;
        for (size_t i = 0; i < parts.size(); ++i) match = match && parts[i] == args[i];
        if (match) {
            found = &c;
            words = parts.size();
        }
    }
    if (!found) {
        std::cerr << "moirexctl: unknown command '" << args[0] << "' (see moirexctl --help)\n";
        return ExitUsage;
    }
    std::vector<std::string> rest(args.begin() + static_cast<long>(words), args.end());
    if (WantsHelp(rest)) {
        std::cout << found->usage;
        if (!found->usage.empty() && found->usage.back() != '\n') std::cout << "\n";
        return ExitOk;
    }
    // The name a second master is told when it tries this command's ports.
    moirex::SetProcessHolderName("moirexctl " + found->name);
    try {
        return found->run(rest);
    } catch (const UsageError& e) {
        std::cerr << "moirexctl " << found->name << ": " << e.what() << "\n";
        return ExitUsage;
    }
}
