#pragma once
// The desktop program's parts put together: the Form, the mixer state, the dialogs, the Qt
// hand-over, the run context, the start-up and the window. apps/moirex makes one; the window tests
// and the screenshot tool make theirs the same way, with their own dialogs and emulator ports.

#include <memory>
#include <string>

#include <functional>

#include "core/RunController.h"
#include "core/SetupPage.h"
#include "form/Dialogs.h"
#include "form/Form.h"
#include "remote/DialogCapture.h"
#include "remote/WindowNode.h"
#include "state/MixerState.h"
#include "ui/GraphExport.h"
#include "ui/MainWindow.h"
#include "ui/ProgramFileButtons.h"
#include "ui/QtDialogs.h"
#include "ui/QtHandOver.h"

namespace moirex::ui {

// Names the program for the desktop (application and desktop file name), after the QApplication.
// No display name: the desktop would append it to every window title, and the window's caption
// is the whole title.
void NameApplication();

struct TAppOptions {
    // Dialogs to use instead of Qt message boxes (tests answer from a script); null: Qt boxes.
    Dialogs* ScriptedDialogs = nullptr;
    // Ports to preselect when the configuration file names none (the emulator's, with
    // --emulator): pump, MFC A, MFC B.
    std::string PumpPort, MFCAPort, MFCBPort;
    // Adjusts the set-up before start-up (tests: the port list, the instruments' timing).
    std::function<void(TSetupContext&)> Tune;
    // A guardian (moirex-guard) for every run, stopping the flows should the program die or
    // freeze: the program sets it; tests of the window leave it off.
    bool StartGuardian = false;
    // Instead of the file dialogs of the program files and the graph's export (tests).
    TAskProgramPath AskProgramPath;
    TAskGraphPath AskGraphPath;
    // Where the SECoP node listens instead of the configuration file's "SECoP address" (tests:
    // "127.0.0.1:0", a free port); empty: the configuration file's.
    std::string SecopAddress;
};

class TMoirexApp {
public:
    // After the QApplication. Binds every handler, runs the start-up (FormCreate) and makes the
    // window; shows nothing yet.
    explicit TMoirexApp(TAppOptions options = {});
    ~TMoirexApp();
    TMoirexApp(const TMoirexApp&) = delete;
    TMoirexApp& operator=(const TMoirexApp&) = delete;

    TForm1 Form;
    TMixer& Mixer() { return mixer_; }
    TRunContext& Run() { return run_; }
    TSetupContext& Setup() { return setup_; }
    TMainWindow& Window() { return *window_; }
    TQtHandOver& HandOver() { return handOver_; }
    TWindowNode& Remote() { return *remote_; }

private:
    TQtDialogs qtDialogs_;
    // Between the mixer and the dialogs: a remote command's refusals go to its client.
    TDialogsRelay dialogs_;
    TMixer mixer_;
    TQtHandOver handOver_;
    TRunContext run_;
    TSetupContext setup_;
    // Where Validate's instrument work runs, off the main thread. Ends before the set-up context.
    TPortThreads setupWork_;
    std::unique_ptr<TWindowNode> remote_;
    std::unique_ptr<TMainWindow> window_;
};

}  // namespace moirex::ui
