#include "ui/Application.h"

#include <QApplication>

#include "core/BindWindowHandlers.h"
#include "core/StartUp.h"
#include "support/Version.h"
#include "ui/DesignByTargetDialog.h"
#include "ui/GraphExport.h"
#include "ui/ProgramFileButtons.h"

namespace moirex::ui {

void NameApplication() {
    QApplication::setApplicationName("moirex");
    QApplication::setApplicationVersion(
        QString::fromUtf8(ProjectVersion().data(), static_cast<qsizetype>(ProjectVersion().size())));
    QApplication::setDesktopFileName("io.github.moirex.Moirex");
}

TMoirexApp::TMoirexApp(TAppOptions options)
    : dialogs_(options.ScriptedDialogs ? *options.ScriptedDialogs : static_cast<Dialogs&>(qtDialogs_)),
      mixer_(Form, dialogs_),
      run_(mixer_, handOver_),
      setup_(run_) {
    setup_.ProcessPendingEvents = ProcessPendingEvents;
    setup_.Work = &setupWork_;
    setup_.Instruments.Work = &setupWork_;
    setup_.Instruments.OnMainThread = [this](std::function<void()> fn) { handOver_.invokeAndWait(std::move(fn)); };
    run_.StartGuardian = options.StartGuardian;
    run_.Holder = "Moirex window";
    if (options.Tune) options.Tune(setup_);
    BindWindowHandlers(setup_);
    FormCreate(setup_);
    // The emulator's ports, when the configuration file names none, so that a new user can
    // validate at once.
    const std::pair<const std::string*, TListBox*> preselect[] = {
        {&mixer_.INIPortPump, &Form.ListBoxPortPump},
        {&mixer_.INIPortMFCA, &Form.ListBoxPortMFC1},
        {&mixer_.INIPortMFCB, &Form.ListBoxPortMFC2}};
    const std::string* offered[] = {&options.PumpPort, &options.MFCAPort, &options.MFCBPort};
    for (int i = 0; i < 3; ++i) {
        if (preselect[i].first->empty() && !offered[i]->empty()) SetListBox(*offered[i], *preselect[i].second);
    }

    remote_ = std::make_unique<TWindowNode>(run_, dialogs_);
    remote_->Start(options.SecopAddress.empty() ? SecopAddressSetting() : options.SecopAddress);

    window_ = std::make_unique<TMainWindow>(
        Form, TWindowEvents{.CloseQuery = [this] { return FormCloseQuery(mixer_); },
                            .Close = [this] { FormClose(mixer_); },
                            .Resize = [this] { FormResize(Form); },
                            .Timer1 = [this] {
                                GuardedTimer1Timer(run_, [this](const std::string& text) { mixer_.Dlg.ShowError(text); });
                                remote_->Poll();
                            }});
    qtDialogs_.SetParent(window_.get());
    AddDesignByTargetButton(*window_, mixer_);
    AddProgramFileButtons(*window_, mixer_, options.AskProgramPath);
    AddGraphExport(*window_, mixer_, options.AskGraphPath);
}

TMoirexApp::~TMoirexApp() {
    // The window goes first (its observers stop), then any worker is stopped by the run context
    // while the hand-over still serves it.
    window_.reset();
    // Instrument work still under way reports to nobody now: its hand-overs return at once, so
    // that waiting for it cannot wait for this thread.
    handOver_.Close();
}

}  // namespace moirex::ui
