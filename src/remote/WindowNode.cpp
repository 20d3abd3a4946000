#include "remote/WindowNode.h"

#include "form/Form.h"
#include "state/MixerState.h"
#include "support/FileLocations.h"
#include "support/IniFile.h"
#include "support/Log.h"
#include "support/TextFormat.h"

namespace moirex {

namespace {

bool MeansNoNode(const std::string& text) {
    if (text.empty()) return true;
    std::string lower = text;
    for (char& c : lower)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return lower == "none" || lower == "off";
}

}  // namespace

std::string SecopAddressSetting() {
    return Trim(TIniFile(IniFilePath()).ReadString(RemoteSection, SecopAddressKey, ""));
}

std::string SecopAddressRefusal(const std::string& value, const std::string& reason) {
    return "[" + std::string(RemoteSection) + "] " + SecopAddressKey + "=" + value +
           " is refused (allowed: none, or ADDRESS:PORT such as 127.0.0.1:10767; " + reason +
           "); no SECoP node is started";
}

TWindowNode::TWindowNode(TRunContext& run, TDialogCapture& capture) : run_(run), node_(run, capture) {
    TCheckBox& box = run_.Mixer.Form.CheckBoxAllowRemoteControl;
    box.Subscribe([this] {
        if (node_.AllowRemoteControl != run_.Mixer.Form.CheckBoxAllowRemoteControl.Checked()) ShowRemoteControl();
    });
    ShowRemoteControl();
}

void TWindowNode::ShowRemoteControl() {
    TForm1& f = run_.Mixer.Form;
    node_.AllowRemoteControl = f.CheckBoxAllowRemoteControl.Checked();
    std::string line;
    if (node_.AllowRemoteControl) {
        line = listening_.empty()
                   ? "Remote control allowed, but no SECoP node listens (set \"" + std::string(SecopAddressKey) +
                         "\" in section \"" + RemoteSection + "\" of the configuration file)"
                   : "Remote control allowed: SECoP clients on " + listening_ + " may load and start programs";
    }
    if (f.LabelRemoteControl.Caption() != line) f.LabelRemoteControl.SetCaption(line);
}

bool TWindowNode::Start(const std::string& addressText) {
    if (MeansNoNode(addressText)) return true;
    TMemo& feedback = run_.Mixer.Form.MemoSetupFeedback;
    secop::TAddress address;
    std::string error;
    if (!secop::ParseAddress(addressText, address, error)) {
        const std::string refusal = SecopAddressRefusal(addressText, error);
        FormLogger().Send(refusal);
        LogOld(feedback, refusal);
        run_.Mixer.Dlg.ShowMessage(refusal);
        return false;
    }
    if (!node_.Start(address, error)) {
        const std::string failure = "SECoP node not started on " + address.Text() + ": " + error;
        FormLogger().Send(failure);
        LogOld(feedback, failure);
        run_.Mixer.Dlg.ShowMessage(failure);
        return false;
    }
    secop::TAddress bound = address;
    bound.Port = node_.Port();
    listening_ = bound.Text();
    LogOld(feedback, "SECoP node listening on " + listening_);
    ShowRemoteControl();
    return true;
}

}  // namespace moirex
