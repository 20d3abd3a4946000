#include "config/ServiceTools.h"

#include <memory>
#include <string>

#include "config/WindowBusy.h"
#include "config/WindowWork.h"
#include "form/Dialogs.h"
#include "form/Form.h"

namespace moirex {

namespace {

// The pump object of one press; its messages are shown on the main thread.
std::unique_ptr<TPSD4> MakePump(TMixer& mixer, const TPumpToolAccess& access, const TOnMainThread& onMain) {
    auto pump = std::make_unique<TPSD4>(
        [&mixer, &onMain](const std::string& message) { onMain([&] { mixer.Dlg.ShowMessage(message); }); },
        access.Clk ? *access.Clk : SystemClock());
    pump->PortTiming = access.Timing;
    return pump;
}

// Shown while a press waits for the pump, when the window goes on serving meanwhile.
void TellWaitingForPump(TMixer& mixer, const TPumpToolAccess& access, const std::string& port) {
    if (WorkOffMainThread(access)) mixer.Form.MemoDebugCOM.Add("Waiting for the pump on " + port + "...");
}

// Priming and plunger down: a validated pump that is not running a program.
void SendToMixerPump(TMixer& mixer, const TPumpToolAccess& access, const char* command) {
    if (mixer.MixerState != TMixerState::msReady) {
        LogOld(mixer.Form.MemoDebugCOM, OnlyWhenReady);
        return;
    }
    const std::string port = mixer.PumpDetails.Port;
    const std::string what = command;
    TellWaitingForPump(mixer, access, port);
    RunWindowWork(
        mixer, access, "Pump tools",
        [&mixer, &access, port, what](const TOnMainThread& onMain) {
            auto pump = MakePump(mixer, access, onMain);
            pump->Connect(port);
            TSerialResponse response;
            pump->SendCommand(what, response, true);
        },
        [] {});
}

}  // namespace

void ButtonDebugCOMSendClick(TMixer& mixer, const TPumpToolAccess& access) {
    TForm1& f = mixer.Form;
    const std::string port = f.EditDebugCOMPort.Text();
    const std::string command = f.EditDebugCOMSend.Text() + "\r";
    TellWaitingForPump(mixer, access, port);
    struct TOutcome {
        std::string Status;
        TSerialResponse Response;
    };
    auto outcome = std::make_shared<TOutcome>();
    RunWindowWork(
        mixer, access, "Pump tools",
        [&mixer, &access, port, command, outcome](const TOnMainThread& onMain) {
            auto pump = MakePump(mixer, access, onMain);
            // A failed connect is not told here: the send below is then refused, and says so.
            pump->Connect(port);
            onMain([&mixer, &command] {
                LogOld(mixer.Form.MemoDebugCOM, "");
                LogOld(mixer.Form.MemoDebugCOM, "Send data          : " + command);
            });
            pump->SendCommand(command, outcome->Response, true);
            outcome->Status = pump->StatusAsString();
            onMain([&mixer, outcome] {
                TForm1& form = mixer.Form;
                LogOld(form.MemoDebugCOM, "Pump status        : " + outcome->Status);
                if (!outcome->Response.Response.empty())
                    LogOld(form.MemoDebugCOM, "Comm Response      : " + outcome->Response.Response);
                else
                    LogOld(form.MemoDebugCOM, "Comm Status        : " + outcome->Response.Status);
            });
        },
        [&f] { f.RzLEDDisplay1.SetCaption("Stopped"); });
}

void Button2Click(TMixer& mixer, const TPumpToolAccess& access) {
    TForm1& f = mixer.Form;
    const std::string port = f.EditDebugCOMPort.Text();
    TellWaitingForPump(mixer, access, port);
    RunWindowWork(
        mixer, access, "Pump tools",
        [&mixer, &access, port](const TOnMainThread& onMain) {
            auto pump = MakePump(mixer, access, onMain);
            pump->Connect(port);
            const bool stopped = pump->Stop();
            onMain([&mixer, stopped] { mixer.Form.MemoDebugCOM.Add(stopped ? "Stopped" : "Stop failed"); });
        },
        [] {});
}

void ButtonPumpFluidFastClick(TMixer& mixer, const TPumpToolAccess& access) {
    SendToMixerPump(mixer, access, PrimingCommand);
}

void Button1Click(TMixer& mixer, const TPumpToolAccess& access) { SendToMixerPump(mixer, access, PlungerDownCommand); }

void BindServiceToolHandlers(TMixer& mixer, const TPumpToolAccess& access) {
    TForm1& f = mixer.Form;
    const std::pair<TButton*, void (*)(TMixer&, const TPumpToolAccess&)> buttons[] = {
        {&f.ButtonDebugCOMSend, ButtonDebugCOMSendClick},
        {&f.Button2, Button2Click},
        {&f.ButtonPumpFluidFast, ButtonPumpFluidFastClick},
        {&f.Button1, Button1Click},
    };
    for (const auto& [button, handler] : buttons) {
        button->OnClick = [&mixer, &access, handler = handler](TControl&) {
            RunGuarded(mixer.Dlg, [&] { handler(mixer, access); });
        };
    }
}

}  // namespace moirex
