#pragma once
// The window disabled, with the hour-glass cursor, for the life of one instrument action: enabled
// again however the action ends (a refusal, a failed save, an exception), so that the operator is
// never left with a window that takes no input.

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

}  // namespace moirex
