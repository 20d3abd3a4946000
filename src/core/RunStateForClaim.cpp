#include "core/RunStateForClaim.h"

#include "core/RunController.h"
#include "devices/PortClaim.h"
#include "form/Form.h"

namespace moirex {

std::string StatusBarText(const TMixer& mixer) {
    std::string s;
    for (int i = 0; i < TStatusBar::PanelCount; ++i) {
        if (i) s += " | ";
        s += mixer.Form.StatusBar1.Panel(i);
    }
    return s;
}

std::string RunStateText(const TMixer& mixer) {
    if (mixer.MixerState == TMixerState::msSimulation || mixer.MixerState == TMixerState::msReady) return {};
    const std::string display = mixer.Form.RzLEDDisplay1.Caption();
    const std::string status = StatusBarText(mixer);
    // A status bar of empty panels says nothing.
    return status.find_first_not_of(" |") == std::string::npos ? display : display + "; " + status;
}

void TellRunStateToClaim(TRunContext& ctx) {
    const std::string text = RunStateText(ctx.Mixer);
    if (text == ctx.ClaimRunState) return;
    const double now = ctx.Clk.MonotonicSeconds();
    const bool stateChanged = ctx.Mixer.MixerState != ctx.ClaimRunMixerState;
    if (!stateChanged && now - ctx.ClaimRunStateAt < 1.0) return;
    ctx.ClaimRunState = text;
    ctx.ClaimRunMixerState = ctx.Mixer.MixerState;
    ctx.ClaimRunStateAt = now;
    ProcessMixerClaim().SetRunState(text);
}

}  // namespace moirex
