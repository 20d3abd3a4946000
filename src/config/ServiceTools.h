#pragma once
// The pump tools of the "Debug && Development" page: a free-text command to the pump on any port,
// a pump stop on that port, priming (ten full strokes) and the plunger moved all the way down to
// change the syringe. Each press makes its own pump object and reports in MemoDebugCOM; pump
// messages of these presses are the operator's own and are shown as message boxes.

#include "devices/PSD4_Interface.h"
#include "state/MixerState.h"
#include "support/Clock.h"
#include "support/ExchangeExecutor.h"

#include <functional>

namespace moirex {

inline constexpr const char* PrimingCommand = "V6000gIA24000OA0G10R";
inline constexpr const char* PlungerDownCommand = "V6000A24000R";
inline constexpr const char* OnlyWhenReady = "Only possible when mixer state is Validated and Stopped";

// How the tools speak to the pump: the port timing and the clock of the driver's waits.
struct TPumpToolAccess {
    TPumpPortTiming Timing;
    Clock* Clk = nullptr;  // SystemClock when null
    // Where "Apply and save" runs its pump work off the main thread, and how that work has a
    // routine run on the main thread while it waits (the run's hand-over). Both null: the work
    // runs inside the click.
    TExchangeExecutor* Work = nullptr;
    std::function<void(std::function<void()>)> OnMainThread;
};

// "Send": the text of EditDebugCOMSend and a carriage return, to the port in EditDebugCOMPort.
void ButtonDebugCOMSendClick(TMixer& mixer, const TPumpToolAccess& access = {});
// "Button2": the pump on EditDebugCOMPort stopped; "Stopped" or "Stop failed".
void Button2Click(TMixer& mixer, const TPumpToolAccess& access = {});
// "Dispense syringe 10 times": priming, in msReady only.
void ButtonPumpFluidFastClick(TMixer& mixer, const TPumpToolAccess& access = {});
// "Extend plunger all the way down", in msReady only.
void Button1Click(TMixer& mixer, const TPumpToolAccess& access = {});

// Binds the four buttons; `access` must outlive the window. Call once per window.
void BindServiceToolHandlers(TMixer& mixer, const TPumpToolAccess& access);

}  // namespace moirex
