#include "ui/Application.h"

#include "config/SimulationMode.h"
#include "core/BindDesignHandlers.h"
#include "model/FlowSetpoints.h"
#include "model/FluidDesigner.h"

namespace moirex::ui {

namespace {
// The start-up until the configuration file is read: water in a 12.5 µl syringe, the demo gases.
void StartUp(TMixer& mixer, TRunContext& run, const TAppOptions& options) {
    TPumpDetails& pump = mixer.PumpDetails;
    pump.SYRINGE_VOLUMEul = 12.5;
    pump.SYRINGE_STEPS = 24000;
    pump.SYRINGE_MAXSPEED = 1000;
    pump.FLUID_MAX_PPM = 1000000;
    mixer.INIPortPump = options.PumpPort;
    mixer.INIPortMFCA = options.MFCAPort;
    mixer.INIPortMFCB = options.MFCBPort;
    FillComponentBoxes(mixer);
    BindDesignHandlers(mixer);
    BindRunButtons(run);
    mixer.Form.ButtonRestoreWater.PerformClick();
    AssignFluidMixtureToPump(mixer);
    ApplysimulationValues(mixer);
    SetFluidRange(mixer);
    FluidFlowUpdate(mixer);
    FlowUpdateY1(mixer, false);
    FlowUpdateY2(mixer, false);
    mixer.MFCADetails.ComPortName = "SIM";
    mixer.MFCBDetails.ComPortName = "SIM";
    mixer.PumpDetails.Port = "SIM";
    mixer.Form.SetCaption("Moirex" + std::string(ProgramVersion));
    mixer.Form.PageControl1.SetActivePageIndex(0);
    mixer.TickReady = true;
}
}  // namespace

TMoirexApp::TMoirexApp(TAppOptions options)
    : mixer_(Form, options.ScriptedDialogs ? *options.ScriptedDialogs : static_cast<Dialogs&>(qtDialogs_)),
      run_(mixer_, handOver_) {
    StartUp(mixer_, run_, options);
    window_ = std::make_unique<TMainWindow>(
        Form, TWindowEvents{.CloseQuery = [this] { return FormCloseQuery(mixer_); },
                            .Close = [this] { FormClose(mixer_); },
                            .Resize = [this] { FormResize(Form); },
                            .Timer1 = [this] { Timer1Timer(run_); }});
    qtDialogs_.SetParent(window_.get());
}

TMoirexApp::~TMoirexApp() {
    // The window goes first (its observers stop), then any worker is stopped by the run context
    // while the hand-over still serves it.
    window_.reset();
}

}  // namespace moirex::ui
