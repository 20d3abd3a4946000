#include "core/AddPortByName.h"

#include <filesystem>
#include <system_error>

#include "devices/SerialPort.h"
#include "form/Dialogs.h"
#include "form/Form.h"
#include "support/TextFormat.h"

namespace moirex {

namespace {

bool Holds(const TListBox& list, const std::string& text) {
    for (const TListItem& item : list.Items())
        if (item.Text == text) return true;
    return false;
}

}  // namespace

void ButtonAddPortClick(TMixer& mixer) {
    TForm1& f = mixer.Form;
    const std::string typed = Trim(f.EditAddPort.Text());
    if (typed.empty()) {
        mixer.Dlg.ShowMessage("Type the name of a port to add, such as ttyUSB0 or /dev/pts/3.");
        return;
    }
    const std::string path = TSerialPort::DevicePath(typed);
    std::error_code error;
    if (!std::filesystem::exists(path, error)) {
        mixer.Dlg.ShowMessage("Port " + path + " does not exist.");
        return;
    }
    if (Holds(f.ListBoxPortPump, path) && Holds(f.ListBoxPortMFC1, path) && Holds(f.ListBoxPortMFC2, path)) {
        f.MemoSetupFeedback.Add("Port " + path + " is already listed");
        return;
    }
    for (TListBox* list : {&f.ListBoxPortPump, &f.ListBoxPortMFC1, &f.ListBoxPortMFC2})
        if (!Holds(*list, path)) list->AddItem(path);
    f.MemoSetupFeedback.Add("Port " + path + " added to the port lists");
    f.EditAddPort.SetText("");
}

void BindAddPortHandlers(TMixer& mixer) {
    TForm1& f = mixer.Form;
    TMixer* m = &mixer;
    f.ButtonAddPort.OnClick = [m](TControl&) { ButtonAddPortClick(*m); };
    f.EditAddPort.OnKeyUp = [m](TControl&, int key) {
        if (key == keys::Enter) ButtonAddPortClick(*m);
    };
}

}  // namespace moirex
