#pragma once
// The commands of moirexctl. Each command lives in its own cmd_*.cpp file and registers itself
// with a static CommandRegistrar, so adding a command touches no other file.

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace moirexctl {

// Exit statuses shared by all commands.
inline constexpr int ExitOk = 0;
inline constexpr int ExitFailed = 1;  // the instrument refused or did not answer
inline constexpr int ExitUsage = 2;   // bad arguments

// A bad argument: main prints "moirexctl <command>: <message>" and exits with status 2.
struct UsageError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

struct OptionSpec {
    std::string name;  // "--rate"
    bool takesValue = true;
};

// Parsed arguments of one command: options (declared up front) and positionals in order. Every
// argument after "--" is a positional, whatever it begins with.
class Args {
public:
    Args(const std::vector<std::string>& argv, const std::vector<OptionSpec>& options);

    bool Has(const std::string& name) const { return values_.count(name) > 0; }
    bool Flag(const std::string& name) const { return Has(name); }
    std::optional<std::string> Value(const std::string& name) const;
    std::string Text(const std::string& name, const std::string& fallback) const;
    // Numbers with "." as decimal separator; a bad number is a UsageError naming the option.
    double Real(const std::string& name, double fallback) const;
    int64_t Integer(const std::string& name, int64_t fallback) const;
    const std::vector<std::string>& Positionals() const { return positionals_; }
    // Throws a UsageError unless the number of positionals lies within min..max.
    void ExpectPositionals(size_t min, size_t max) const;

    static double ToReal(const std::string& what, const std::string& text);
    static int64_t ToInteger(const std::string& what, const std::string& text, bool hexAllowed = false);

private:
    std::map<std::string, std::string> values_;
    std::vector<std::string> positionals_;
};

struct CtlCommand {
    std::string name;     // "pump-speed", or "mfc read" for a command with a sub-command
    std::string summary;  // one line for the overview
    std::string usage;    // the text of "--help"
    std::function<int(const std::vector<std::string>& argv)> run;
};

void RegisterCommand(CtlCommand command);

// The ports this command talks to, claimed for the rest of the command (one master per mixer).
// False after printing "moirexctl <command>: <who holds a port>" when another process has one.
bool ClaimPorts(const std::vector<std::string>& ports);
const std::vector<CtlCommand>& Commands();

struct CommandRegistrar {
    explicit CommandRegistrar(CtlCommand command) { RegisterCommand(std::move(command)); }
};

}  // namespace moirexctl
