// moirex: the desktop program. The window of the mixer on the Form's controls, with every handler
// of the mixer bound to them; with --emulator, the instrument emulator runs inside the program,
// so that the three emulated instruments can be found, validated and run without hardware.

#include <QApplication>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

#include "sim/Emulator.h"
#include "support/Log.h"
#include "support/Version.h"
#include "ui/Application.h"
#include "ui/GuardedApplication.h"
#include "ui/StopOnSignal.h"

namespace {

void Usage(FILE* to) {
    std::fputs(
        "usage: moirex [--emulator] [Qt options]\n"
        "  --emulator  run the instrument emulator (two mass flow controllers and the syringe\n"
        "              pump) inside the program; its ports appear in the Setup page's lists and\n"
        "              are preselected when the configuration file names no ports\n"
        "  --version   the program's version\n"
        "Qt's own options are taken as well, such as -platform offscreen, -display :1 or -reverse.\n",
        to);
}

bool Is(const char* arg, const char* option) { return std::strcmp(arg, option) == 0; }

}  // namespace

int main(int argc, char** argv) {
    // --help and --version answer without a display, so they are looked at before Qt starts.
    for (int i = 1; i < argc; ++i) {
        if (Is(argv[i], "--help") || Is(argv[i], "-h")) {
            Usage(stdout);
            return 0;
        }
        if (Is(argv[i], "--version")) {
            std::printf("%s\n", moirex::VersionLine("moirex").c_str());
            return 0;
        }
    }

    // Qt takes its own options (-platform, -display, -style …) out of argv; what is left is ours.
    // Its event handlers are guarded: a failure that escapes one is shown, the program goes on.
    moirex::ui::TGuardedApplication app(argc, argv);
    moirex::ui::NameApplication();

    bool emulator = false;
    for (int i = 1; i < argc; ++i) {
        if (Is(argv[i], "--emulator")) {
            emulator = true;
        } else {
            std::fprintf(stderr, "moirex: unknown option %s\n", argv[i]);
            Usage(stderr);
            return 2;
        }
    }

    moirex::ui::TAppOptions options;
    // Every run has its guardian: should this program die or freeze, it stops the flows.
    options.StartGuardian = true;
    std::unique_ptr<moirex::sim::Emulator> sim;
    if (emulator) {
        try {
            sim = std::make_unique<moirex::sim::Emulator>();
        } catch (const std::exception& e) {
            std::fprintf(stderr, "moirex: the emulator could not start: %s\n", e.what());
            return 1;
        }
        using moirex::sim::Instrument;
        options.PumpPort = sim->PortPath(Instrument::Pump);
        options.MFCAPort = sim->PortPath(Instrument::MfcA);
        options.MFCBPort = sim->PortPath(Instrument::MfcB);
    }

    moirex::InitLogChannels();
    int status = 0;
    {
        moirex::ui::TMoirexApp moirex(options);
        app.OnFailure = [&moirex](const std::string& what) { moirex.Mixer().Dlg.ShowError(what); };
        // A logout, `kill` or a closed terminal stops a run before the program ends.
        moirex::ui::TStopOnSignal stopOnSignal(moirex, {SIGTERM, SIGHUP, SIGINT});
        moirex.Window().show();
        status = QApplication::exec();
        app.OnFailure = nullptr;
    }
    return status;
}
