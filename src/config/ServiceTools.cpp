#include "config/ServiceTools.h"

#include <memory>

#include "config/WindowBusy.h"
#include "form/Dialogs.h"
#include "form/Form.h"

namespace moirex {

namespace {

std::unique_ptr<TPSD4> MakePump(TMixer& mixer, const TPumpToolAccess& access) {
    auto pump = std::make_unique<TPSD4>([&mixer](const std::string& message) { mixer.Dlg.ShowMessage(message); },
                                        access.Clk ? *access.Clk : SystemClock());
    pump->PortTiming = access.Timing;
    return pump;
}

// Priming and plunger down: a validated pump that is not running a program.
void SendToMixerPump(TMixer& mixer, const TPumpToolAccess& access, const char* command) {
    if (mixer.MixerState != TMixerState::msReady) {
        LogOld(mixer.Form.MemoDebugCOM, OnlyWhenReady);
        return;
    }
    TWindowBusy busy(mixer.Form);
    auto pump = MakePump(mixer, access);
    pump->Connect(mixer.PumpDetails.Port);
    TSerialResponse response;
    pump->SendCommand(command, response, true);
}

}  // namespace

void ButtonDebugCOMSendClick(TMixer& mixer, const TPumpToolAccess& access) {
    TForm1& f = mixer.Form;
    TWindowBusy busy(f);
    auto pump = MakePump(mixer, access);
    // A failed connect is not told here: the send below is then refused, and says so.
    pump->Connect(f.EditDebugCOMPort.Text());
    const std::string command = f.EditDebugCOMSend.Text() + "\r";
    LogOld(f.MemoDebugCOM, "");
    LogOld(f.MemoDebugCOM, "Send data          : " + command);
    TSerialResponse response;
    pump->SendCommand(command, response, true);
    LogOld(f.MemoDebugCOM, "Pump status        : " + pump->StatusAsString());
    if (!response.Response.empty()) LogOld(f.MemoDebugCOM, "Comm Response      : " + response.Response);
    else LogOld(f.MemoDebugCOM, "Comm Status        : " + response.Status);
    f.RzLEDDisplay1.SetCaption("Stopped");
}

void Button2Click(TMixer& mixer, const TPumpToolAccess& access) {
    TForm1& f = mixer.Form;
    TWindowBusy busy(f);
    auto pump = MakePump(mixer, access);
    pump->Connect(f.EditDebugCOMPort.Text());
    f.MemoDebugCOM.Add(pump->Stop() ? "Stopped" : "Stop failed");
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
