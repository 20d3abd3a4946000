#pragma once
// The instruments brought up for a headless mixer (moirexctl run and moirexctl serve), as the
// window's Setup page does it: the window's start-up, the ports (options, or those the last
// validation stored), "Validate", each controller switched to its gas with the gas-line
// question, and the pump set up from the configuration file.

#include <functional>
#include <string>

#include "Command.h"
#include "HeadlessWindow.h"

namespace moirexctl {

// The options the bring-up reads; add them to a command's option list.
inline const std::vector<OptionSpec> BringUpOptions = {{"--pump"},        {"--mfc-a"},       {"--mfc-b"},
                                                       {"--gas-a"},       {"--gas-b"},       {"--yes", false},
                                                       {"--syringe-ul"}};

// The option's trimmed value; a UsageError naming `what` when it is missing or empty.
std::string RequiredOption(const Args& args, const std::string& option, const char* what);

// Checks the bring-up's own options before anything is touched (a UsageError on a bad one).
void CheckBringUpOptions(const Args& args);

// Brings the mixer of `window` up to msReady with "Gases selected" and water in the pump. 0 when
// done, with the window's printing stopped (HeadlessWindow::StopPrinting); otherwise the exit status, after printing why on standard error with `command` ("run",
// "serve") in front. `interrupted` is asked between the steps (a stop signal ends the bring-up).
int BringUpInstruments(const Args& args, HeadlessWindow& window, const std::string& command,
                       const std::function<bool()>& interrupted);

}  // namespace moirexctl
