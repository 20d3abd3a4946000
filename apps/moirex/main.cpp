// moirex: the desktop program. The window of the mixer on the Form's controls, with every handler
// of the design bound to them; with --emulator, the instrument emulator runs inside the program,
// so that the three emulated instruments can be found, validated and run without hardware.

#include <QApplication>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

#include "sim/Emulator.h"
#include "state/MixerState.h"
#include "support/Log.h"
#include "ui/Application.h"
#include "ui/StopOnSignal.h"

namespace {

void Usage(FILE* to) {
    std::fputs(
        "usage: moirex [--emulator]\n"
        "  --emulator  run the instrument emulator (two mass flow controllers and the syringe\n"
        "              pump) inside the program; its ports appear in the Setup page's lists and\n"
        "              are preselected when the configuration file names no ports\n",
        to);
}

}  // namespace

int main(int argc, char** argv) {
    bool emulator = false;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--emulator") == 0) {
            emulator = true;
        } else if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
            Usage(stdout);
            return 0;
        } else if (std::strcmp(argv[i], "--version") == 0) {
            std::printf("moirex%s\n", std::string(moirex::ProgramVersion).c_str());
            return 0;
        } else {
            std::fprintf(stderr, "moirex: unknown option %s\n", argv[i]);
            Usage(stderr);
            return 2;
        }
    }

    QApplication app(argc, argv);
    QApplication::setApplicationName("moirex");
    QApplication::setApplicationDisplayName("Moirex");
    QApplication::setDesktopFileName("io.github.moirex.Moirex");

    moirex::ui::TAppOptions options;
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
        // A logout, `kill` or a closed terminal stops a run before the program ends.
        moirex::ui::TStopOnSignal stopOnSignal(moirex, {SIGTERM, SIGHUP, SIGINT});
        moirex.Window().show();
        status = QApplication::exec();
    }
    return status;
}
