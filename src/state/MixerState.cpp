#include "state/MixerState.h"

#include <algorithm>
#include <string>

#include "form/Dialogs.h"
#include "form/Form.h"

namespace moirex {

namespace {
// GroupBox3 ("Feedback") fills the Setup page to the right of the port and gas lists.
constexpr int kFeedbackMargin = 450;
constexpr int kFeedbackMinWidth = 300;
}  // namespace

void TFlowStatus::Reset() {
    MFCA = 0;
    SegmentAverage = 0;
    MFCB = 0;
    MovingAverage = 0;
    // One minute, so that an average over the span never divides by zero before the worker
    // reports its first span.
    MovingAverageMinutes = 1.0;
}

void LogOld(TMemo& target, std::string_view msg) {
    std::string line = FormatDateTime("dd-hh-mm-ss", Now());
    line += ' ';
    line += msg;
    target.Add(std::move(line));
    std::string copy = "LogOld: ";
    copy += msg;
    FormLogger().Send(copy);
}

bool FormCloseQuery(TMixer& mixer) {
    switch (mixer.MixerState) {
        case TMixerState::msSimulation:
        case TMixerState::msReady:
            return true;
        case TMixerState::msOperating:
        case TMixerState::msStopping:
        case TMixerState::msStopFailed:
            break;
    }
    // Gas may still be flowing: a closed window would leave it flowing with nobody to stop it.
    // Any state outside the known ones is treated the same way.
    mixer.Dlg.ShowMessage("Stop the mixture first");
    return false;
}

void FormClose(TMixer& /*mixer*/) {
    // Closing never talks to the instruments; a logging failure must not keep the window open.
    try {
        FormLogger().CloseDispatcher();
    } catch (...) {
    }
}

void FormResize(TForm1& form) {
    form.GroupBox3.SetWidth(std::max(form.Width() - kFeedbackMargin, kFeedbackMinWidth));
}

void FormDisable(TForm1& form, bool aDisable) {
    form.SetEnabled(!aDisable, aDisable);
}

}  // namespace moirex
