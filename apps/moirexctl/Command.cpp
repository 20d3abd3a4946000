#include "Command.h"

#include <algorithm>
#include <iostream>

#include "devices/PortClaim.h"

#include "support/TextFormat.h"

namespace moirexctl {

Args::Args(const std::vector<std::string>& argv, const std::vector<OptionSpec>& options) {
    bool optionsEnded = false;
    for (size_t i = 0; i < argv.size(); ++i) {
        const std::string& a = argv[i];
        if (optionsEnded) {
            positionals_.push_back(a);
        } else if (a == "--") {
            // Everything after "--" is a positional, so a file named "-x.csv" or "--x" can be given.
            optionsEnded = true;
        } else if (a.size() > 2 && a.rfind("--", 0) == 0) {
            std::string name = a;
            std::optional<std::string> inlineValue;
            if (auto eq = a.find('='); eq != std::string::npos) {
                name = a.substr(0, eq);
                inlineValue = a.substr(eq + 1);
            }
            auto spec = std::find_if(options.begin(), options.end(),
                                     [&](const OptionSpec& o) { return o.name == name; });
            if (spec == options.end()) throw UsageError("unknown option " + name);
            if (spec->takesValue) {
                if (inlineValue) {
                    values_[name] = *inlineValue;
                } else {
                    if (i + 1 >= argv.size()) throw UsageError("option " + name + " needs a value");
                    values_[name] = argv[++i];
                }
            } else {
                if (inlineValue) throw UsageError("option " + name + " takes no value");
                values_[name] = "";
            }
        } else {
            positionals_.push_back(a);
        }
    }
}

std::optional<std::string> Args::Value(const std::string& name) const {
    auto it = values_.find(name);
    if (it == values_.end()) return std::nullopt;
    return it->second;
}

std::string Args::Text(const std::string& name, const std::string& fallback) const {
    return Value(name).value_or(fallback);
}

double Args::Real(const std::string& name, double fallback) const {
    auto v = Value(name);
    return v ? ToReal(name, *v) : fallback;
}

int64_t Args::Integer(const std::string& name, int64_t fallback) const {
    auto v = Value(name);
    return v ? ToInteger(name, *v) : fallback;
}

void Args::ExpectPositionals(size_t min, size_t max) const {
    if (positionals_.size() < min) throw UsageError("missing arguments (see --help)");
    if (positionals_.size() > max) throw UsageError("unexpected argument " + positionals_[max]);
}

double Args::ToReal(const std::string& what, const std::string& text) {
    double v = 0;
    if (!moirex::ParseReal(text, v)) throw UsageError(what + ": not a number: " + text);
    return v;
}

int64_t Args::ToInteger(const std::string& what, const std::string& text, bool hexAllowed) {
    int64_t v = 0;
    if (!moirex::ParseInteger(text, v, hexAllowed))
        throw UsageError(what + ": not a whole number: " + text);
    return v;
}

static std::vector<CtlCommand>& Registry() {
    static std::vector<CtlCommand> commands;
    return commands;
}

void RegisterCommand(CtlCommand command) { Registry().push_back(std::move(command)); }

const std::vector<CtlCommand>& Commands() {
    auto& c = Registry();
    std::sort(c.begin(), c.end(), [](const CtlCommand& a, const CtlCommand& b) { return a.name < b.name; });
    return c;
}

}  // namespace moirexctl

namespace moirexctl {

bool ClaimPorts(const std::vector<std::string>& ports) {
    const std::string refused = moirex::ProcessMixerClaim().Claim(ports);
    if (refused.empty()) return true;
    std::cerr << moirex::ProcessHolderName() << ": " << refused << std::endl;
    return false;
}

}  // namespace moirexctl
