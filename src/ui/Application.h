#pragma once
// The desktop program's parts put together: the Form, the mixer state, the dialogs, the Qt
// hand-over, the run context, the start-up and the window. apps/moirex makes one; the window tests
// and the screenshot tool make theirs the same way, with their own dialogs and emulator ports.

#include <memory>
#include <string>

#include "core/RunController.h"
#include "form/Dialogs.h"
#include "form/Form.h"
#include "state/MixerState.h"
#include "ui/MainWindow.h"
#include "ui/QtDialogs.h"
#include "ui/QtHandOver.h"

namespace moirex::ui {

struct TAppOptions {
    // Dialogs to use instead of Qt message boxes (tests answer from a script); null: Qt boxes.
    Dialogs* ScriptedDialogs = nullptr;
    // Ports to preselect when the configuration file names none (the emulator's, with
    // --emulator): pump, MFC A, MFC B.
    std::string PumpPort, MFCAPort, MFCBPort;
};

class TMoirexApp {
public:
    // After the QApplication. Runs the start-up and shows nothing yet.
    explicit TMoirexApp(TAppOptions options = {});
    ~TMoirexApp();
    TMoirexApp(const TMoirexApp&) = delete;
    TMoirexApp& operator=(const TMoirexApp&) = delete;

    TForm1 Form;
    TMixer& Mixer() { return mixer_; }
    TRunContext& Run() { return run_; }
    TMainWindow& Window() { return *window_; }
    TQtHandOver& HandOver() { return handOver_; }

private:
    TQtDialogs qtDialogs_;
    TMixer mixer_;
    TQtHandOver handOver_;
    TRunContext run_;
    std::unique_ptr<TMainWindow> window_;
};

}  // namespace moirex::ui
