#pragma once
// The window disabled, with the hour-glass cursor, for the life of one instrument action: enabled
// again however the action ends (a refusal, a failed save, an exception), so that the operator is
// never left with a window that takes no input. And the operator's actions run guarded: a failure
// that escapes one is shown as the error that ended it, and the program goes on.

#include <exception>
#include <utility>

#include "form/Dialogs.h"
#include "form/Form.h"
#include "state/MixerState.h"

namespace moirex {

class TWindowBusy {
public:
    explicit TWindowBusy(TForm1& form) : form_(form) { FormDisable(form_, true); }
    ~TWindowBusy() { FormDisable(form_, false); }
    TWindowBusy(const TWindowBusy&) = delete;
    TWindowBusy& operator=(const TWindowBusy&) = delete;

private:
    TForm1& form_;
};

// Runs one operator action; an exception that escapes it ends only that action, shown with its text.
template <class Action>
void RunGuarded(Dialogs& dialogs, Action&& action) {
    try {
        std::forward<Action>(action)();
    } catch (const std::exception& e) {
        dialogs.ShowError(e.what());
    }
}

}  // namespace moirex
