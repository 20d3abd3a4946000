#pragma once
// The window played on the terminal, for moirexctl setup and moirexctl run: the Form with every
// handler bound through the window's one binding place, the start-up of the window (configuration
// file, logging, remembered ports), and the Setup page operated as the operator does it. Every
// line of MemoSetupFeedback and MemoLog is printed as it is added, every message box and question
// as it is shown.

#include <functional>
#include <optional>
#include <string>

#include "core/MainThreadHandOver.h"
#include "core/RunController.h"
#include "core/SetupPage.h"
#include "form/Dialogs.h"
#include "form/Form.h"
#include "state/MixerState.h"

namespace moirexctl {

class HeadlessWindow {
public:
    // answer: how the gas-line question is answered (--yes/--no); none: typed on the terminal.
    explicit HeadlessWindow(std::optional<bool> answer);
    HeadlessWindow(const HeadlessWindow&) = delete;
    HeadlessWindow& operator=(const HeadlessWindow&) = delete;

    // The window's files (its configuration file is shared with the window), the binding, and
    // the start-up of the window; then "Find ports".
    void Start();
    // Selects `port` in its list and raises the click; a port the list does not show (a
    // pseudo-terminal) is added to the three lists first, so that they stay alike.
    void SelectPort(moirex::TListBox& list, const std::string& port);
    // "Validate".
    void Validate();
    // The gas table chosen by number or name as its position in the gas list; -1 with `error`.
    int GasPosition(const moirex::TMFCDetails& details, const std::string& choice, std::string& error) const;
    // A click on the gas list at `position`.
    void PickGas(moirex::TListBox& list, int position);
    // Memo lines, message boxes and questions stop being printed as they come (a run prints its
    // run log and messages itself).
    void StopPrinting();

    // True once the set-up is complete: msReady with "Gases selected" checked.
    bool Ready() const;

    moirex::TForm1 form;
    moirex::ScriptedDialogs dialogs;
    moirex::TMixer mixer{form, dialogs};
    moirex::TQueuedHandOver handOver;
    moirex::TRunContext run{mixer, handOver};
    moirex::TSetupContext setup{run};

private:
    void FollowMemo(moirex::TMemo& memo);
    std::optional<bool> answer_;
    bool printing_ = true;
};

// The operator's typed answer on the terminal: true only for "yes" (end of input, or a signal
// while waiting, is no).
bool AskTypedYes();

// Text of a message box for the terminal: CR LF line breaks as plain line ends.
std::string TerminalText(std::string text);

}  // namespace moirexctl
