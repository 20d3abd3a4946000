#include "core/StartUp.h"

#include "config/ConfigFile.h"
#include "config/SimulationMode.h"
#include "form/Form.h"
#include "model/FlowSetpoints.h"
#include "model/PumpSpeedFunction.h"
#include "support/DateTime.h"
#include "support/FileLocations.h"
#include "support/Log.h"

namespace moirex {

void FormCreate(TSetupContext& ctx) {
    TMixer& mixer = ctx.Mixer;
    TForm1& f = mixer.Form;

    f.SetCaption("Moirex " + std::string(ProgramVersion));
    mixer.TickReady = true;
    mixer.StepProgram.clear();
    ButtonSetupFindPortsClick(ctx);
    INILoad(mixer);
    for (int panel = 0; panel <= 3; ++panel) f.StatusBar1.SetPanel(panel, "");
    ctx.LogDestination = SetupLogDestination(mixer.LoggingType, LogFolder(), Now(), mixer.LogRotation);

    SetListBox(mixer.INIPortPump, f.ListBoxPortPump);
    SetListBox(mixer.INIPortMFCA, f.ListBoxPortMFC1);
    SetListBox(mixer.INIPortMFCB, f.ListBoxPortMFC2);

    ApplysimulationValues(mixer);
    SetFluidRange(mixer);
    FluidFlowUpdate(mixer);
    FlowUpdateY1(mixer, false);
    FlowUpdateY2(mixer, false);
    f.PageControl1.SetActivePageIndex(0);

    mixer.MFCADetails.ComPortName = "SIM";
    mixer.MFCBDetails.ComPortName = "SIM";
    mixer.PumpDetails.Port = "SIM";

    // Recipe files go to the Userdata folder of the file locations; creating it now shows a
    // folder that cannot be made at once in the log. Start creates it again when needed.
    std::string error;
    if (!EnsureFolder(UserdataFolder(), error))
        FormLogger().Send("Userdata folder " + UserdataFolder() + " cannot be created: " + error);

    f.MemoPump.SetText(PumpTableText(mixer.PumpDetails.SYRINGE_VOLUMEul, mixer.PumpDetails.Fluid.DensityFluid20C));
}

}  // namespace moirex
