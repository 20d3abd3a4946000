#pragma once
// The Setup page: "1. List ports", "2. Select ports", "3. Validate selected ports" and "4. Select
// gases". Lists the serial ports, checks that the chosen ports hold the pump and the two mass flow
// controllers, reads the controllers' gas tables into the gas lists, switches each controller to
// the gas the operator picks and asks the operator to confirm the gas lines; msReady once the
// three check boxes are checked. Every feedback line goes to MemoSetupFeedback.
//
// The window is disabled while the instruments are spoken to and enabled again on every way out:
// a refusal, a failed save or an exception. Pump messages of these presses are the operator's own
// and are shown as message boxes.
//
// Validate's instrument work runs off the main thread when the context has a work executor (the
// window): the handler returns at once with the window disabled, the feedback lines and pump
// messages reach the window through the run's hand-over as they come, and the end of the
// validation (check boxes, gas lists, the configuration saved, the window enabled) runs on the
// main thread. Without one (moirexctl, most tests) the same steps run inside the click.

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "config/ServiceTools.h"
#include "core/RunController.h"
#include "devices/PSD4_Interface.h"
#include "form/Controls.h"
#include "state/MixerState.h"
#include "support/ExchangeExecutor.h"
#include "support/Clock.h"
#include "support/Log.h"

namespace moirex {

// What the Setup page, the start-up and the service tools work with besides the mixer: the run
// context (gas A's choice stops the worker), how ports are listed, the instruments' waits, and
// what start-up leaves behind. One per window; it outlives the bindings.
struct TSetupContext {
    explicit TSetupContext(TRunContext& run) : Run(run), Mixer(run.Mixer) {}
    TSetupContext(const TSetupContext&) = delete;
    TSetupContext& operator=(const TSetupContext&) = delete;

    TRunContext& Run;
    TMixer& Mixer;
    // The port names "Find ports" lists: the system's serial ports unless a test or tool says.
    std::function<std::vector<std::string>()> ListPorts;
    // How validation, gas selection and the service tools speak to the instruments: the pump
    // objects' port timing, and the clock of the waits of the controller read-out, the gas switch
    // and the pump (SystemClock unless a test sets one).
    TPumpToolAccess Instruments;
    // Lets pending window events run (the window's event loop); nothing to do headless.
    std::function<void()> ProcessPendingEvents;
    // The log destination made by start-up, kept for the life of the window.
    std::unique_ptr<TCodeSiteDestination> LogDestination;
    // Where Validate's instrument work runs; null: inside the click.
    TExchangeExecutor* Work = nullptr;
    // True from Validate's click until its end has run on the main thread.
    bool Validating = false;

    Clock& InstrumentClk() const { return Instruments.Clk ? *Instruments.Clk : SystemClock(); }
};

// "Find ports": the three port lists refilled (no selection), the three check boxes cleared.
void ButtonSetupFindPortsClick(TSetupContext& ctx);
// Selects every item of LB whose text is Val; an absent Val leaves the selection as it was.
void SetListBox(const std::string& Val, TListBox& LB);
// A selection change in the pump's port list (click, double click, key release).
void ListBoxPortPumpClick(TMixer& mixer);
// A selection change in either controller's port list.
void ListBoxPortMFC1Click(TMixer& mixer);
// "Validate": the pump check, both controllers' read-out and gas lists, the configuration saved
// when both controllers were found.
void ButtonSetupValidateClick(TSetupContext& ctx);
// True while Validate's instrument work is under way (the window is disabled meanwhile).
bool SetupWorkRunning(const TSetupContext& ctx);
// The pump check of validation on `Port`, with the page's clock and pump timing.
bool PumpFindInitHamilton(TSetupContext& ctx, const std::string& Port);
// A gas chosen in ListBox1 (MFC A) or ListBox2 (MFC B), told apart by the sender.
void ListBox1Click(TSetupContext& ctx, const TControl& sender);

// Binds the handlers above to the Setup page's controls. Call once per window.
void BindSetupHandlers(TSetupContext& ctx);

}  // namespace moirex
