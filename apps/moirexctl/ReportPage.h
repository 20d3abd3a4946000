#pragma once
// The design page as moirexctl report and design set it up without a window: both controllers
// validated on port "SIM" with one gas each in gas table 2, the pump holding pure water, the
// outlet conditions and the segment's name and duration. The commands then set flows on the
// page and print Memo1, the machine recipe and mixture report the page shows.

#include <cstdint>
#include <string>

#include "Command.h"
#include "form/Dialogs.h"
#include "form/Form.h"
#include "state/MixerState.h"

namespace moirexctl {

// The options shared by the commands that set up the page: --syringe-ul, --ppm-limit, --temp,
// --pressure, --comment, --hours.
struct ReportPageOptions {
    double syringe_ul = 12.5;
    int64_t ppmLimit = 1000000;
    double temperatureC = 21;
    double pressuremBar = 1013.25;
    std::string comment;
    double hours = 0.75;
};

// The option specs of ReportPageOptions, to add to a command's own.
std::vector<OptionSpec> ReportPageOptionSpecs();
// Reads and checks them; a bad value is a UsageError naming the option.
ReportPageOptions ReadReportPageOptions(const Args& args);

// A real number that must be finite; `fallback` when the option is absent.
double ReadFinite(const Args& args, const std::string& option, double fallback);
// "MIN:MAX" in g/min with 0 <= MIN <= MAX; `what` names the option in the message.
void ParseRange(const std::string& what, const std::string& text, double& rangeMin, double& rangeMax);

// A controller as validation leaves it, with `gas` (the name a controller reports) in its active
// gas table 2 and the range in g/min.
void ValidatedController(moirex::TMFCDetails& details, const std::string& gas, double rangeMin, double rangeMax);

// The window's state for one command.
struct ReportPage {
    moirex::TForm1 form;
    moirex::ScriptedDialogs dialogs;
    moirex::TMixer mixer{form, dialogs};

    // msReady, the outlet conditions, name and duration, the pump with water; false with the
    // reason when the pump's fluid could not be applied.
    bool SetUp(const ReportPageOptions& options, std::string& error);
};

}  // namespace moirexctl
