// moirexctl program check / program save: a segment program file opened as the window's "Open
// program..." opens it (each segment built against the controllers' ranges and the pump, every
// correction told), then checked as "Check program" checks it, or saved as "Save program..." saves
// it. Neither talks to an instrument.

#include <cmath>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "Command.h"
#include "ReportPage.h"
#include "core/ProgramCheck.h"
#include "core/ProgramFile.h"
#include "core/ProgramOpenSave.h"
#include "model/FlowSetpoints.h"
#include "state/GasMixtures.h"
#include "support/DateTime.h"
#include "support/ReplaceFile.h"

namespace moirexctl {
namespace {

// No range given: every flow as written, gas A never pulsed.
constexpr double kNoLimit_gpm = 1e6;

std::vector<OptionSpec> ProgramOptionSpecs() {
    return {{"--syringe-ul"}, {"--density"}, {"--ppm-limit"}, {"--temp"}, {"--pressure"},
            {"--gas-a"},      {"--a-range"}, {"--gas-b"},     {"--b-range"}};
}

const char* const kProgramOptionsHelp =
    "  --syringe-ul UL     the pump's syringe volume in µl (default 12.5)\n"
    "  --density G_ML      density of the fluid in the syringe at 20 °C in g/ml (default: water,\n"
    "                      0.997735)\n"
    "  --gas-a GAS         MFC A's gas as the controller names it (N2, O2, Ar, CO2, Air, MIX_087 ...);\n"
    "                      needed when the program doses gas A\n"
    "  --a-range MIN:MAX   MFC A's range in g/min: above MAX a flow is held at MAX, below MIN gas A\n"
    "                      is pulsed (default: flows as written, never pulsed)\n"
    "  --gas-b GAS         MFC B's gas; needed when the program doses gas B\n"
    "  --b-range MIN:MAX   MFC B's range in g/min: above MAX held at MAX, at or below MIN set to 0\n"
    "  --ppm-limit PPM     upper limit of the fluid in the mixture (default 1000000)\n"
    "  --temp C, --pressure MBAR   outlet conditions of the fluid limit (default 21, 1013.25)\n";

struct OpenedProgram {
    ReportPage page;
    moirex::TProgramOpenOutcome outcome;
};

// The program file opened onto a design page set up from the options. A file or options that
// cannot be used is a UsageError; a program refused by its lines is printed and opened is false.
bool OpenProgram(const Args& args, const std::string& path, OpenedProgram& out, std::ostream& told) {
    const ReportPageOptions options = ReadReportPageOptions(args);
    double density = 0;
    if (args.Value("--density")) {
        density = ReadFinite(args, "--density", 0);
        if (!(density > 0) || density > 30)
            throw UsageError("--density: a fluid density lies above 0 and up to 30 g/ml: " + *args.Value("--density"));
    }
    double minA = 0, maxA = kNoLimit_gpm, minB = 0, maxB = kNoLimit_gpm;
    if (const auto r = args.Value("--a-range")) ParseRange("--a-range", *r, minA, maxA);
    if (const auto r = args.Value("--b-range")) ParseRange("--b-range", *r, minB, maxB);

    // Which gases the program doses decides which gas options are needed.
    const moirex::TProgramFileResult file = moirex::ReadProgramFile(path);
    bool dosesA = false, dosesB = false;
    for (const moirex::TProgramSegment& s : file.Segments) {
        dosesA = dosesA || s.GasA_ugpm > 0;
        dosesB = dosesB || s.GasB_ugpm > 0;
    }
    const std::string gasA = args.Text("--gas-a", "");
    const std::string gasB = args.Text("--gas-b", "");
    for (const auto& [option, gas, doses] : {std::tuple{"--gas-a", gasA, dosesA}, std::tuple{"--gas-b", gasB, dosesB}}) {
        if (doses && gas.empty())
            throw UsageError(std::string(option) + " is missing: the program doses " +
                             (std::string(option) == "--gas-a" ? "gas A" : "gas B") + " (N2, O2, Ar, CO2, Air, MIX_087 ...)");
        if (!gas.empty() && moirex::GasItemsFromName(gas) == moirex::TGasItems::gUndefined)
            throw UsageError(std::string(option) + ": \"" + gas +
                             "\" is not a gas name the program knows (case-sensitive: Air, N2, O2, Ar, CO2, H2, MIX_087 ...)");
    }

    std::string error;
    if (!out.page.SetUp(options, error)) throw UsageError(error);
    moirex::TMixer& mixer = out.page.mixer;
    if (density > 0) {
        mixer.PumpDetails.Fluid.DensityFluid20C = static_cast<float>(density);
        moirex::SetFluidRange(mixer);
    }
    ValidatedController(mixer.MFCADetails, gasA, minA, maxA);
    ValidatedController(mixer.MFCBDetails, gasB, minB, maxB);
    moirex::FlowUpdateY1(mixer, false);
    moirex::FlowUpdateY2(mixer, false);

    out.outcome = moirex::OpenProgramFile(mixer, path);
    for (const std::string& line : out.outcome.Lines) told << line << "\n";
    told << std::flush;
    return out.outcome.Opened;
}

int RunCheck(const std::vector<std::string>& argv) {
    const Args args(argv, ProgramOptionSpecs());
    args.ExpectPositionals(1, 1);
    OpenedProgram opened;
    if (!OpenProgram(args, args.Positionals()[0], opened, std::cerr)) return ExitUsage;
    const moirex::TMixer& mixer = opened.page.mixer;
    const moirex::TProgramCheck check =
        moirex::CheckProgram(mixer.StepProgram, mixer.PumpDetails, moirex::Now(), &opened.outcome.Corrections);
    for (const std::string& line : moirex::ProgramCheckLines(check)) std::cout << line << "\n";
    std::cout << std::flush;
    return ExitOk;
}

int RunSave(const std::vector<std::string>& argv) {
    const Args args(argv, ProgramOptionSpecs());
    args.ExpectPositionals(2, 2);
    const std::string target = args.Positionals()[1];
    OpenedProgram opened;
    if (!OpenProgram(args, args.Positionals()[0], opened, std::cerr)) return ExitUsage;
    const std::string text = moirex::ProgramFileText(opened.page.mixer, moirex::Now());
    if (target == "-") {
        std::cout << text << std::flush;
        return ExitOk;
    }
    std::string error;
    if (!moirex::ReplaceFileContents(target, text, error)) {
        std::cerr << "moirexctl program save: cannot write " << target << ": " << error << std::endl;
        return ExitFailed;
    }
    std::cerr << "Saved to " << target << std::endl;
    return ExitOk;
}

const CommandRegistrar checkRegistrar({
    "program check",
    "what a segment program file will dose: per segment and in all, and when it ends",
    std::string("Usage: moirexctl program check FILE [--syringe-ul 12.5] [--density G_ML]\n"
                "                     [--gas-a GAS] [--a-range MIN:MAX] [--gas-b GAS] [--b-range MIN:MAX]\n"
                "\n"
                "Opens the segment program FILE as the window's \"Open program...\" does (each segment built\n"
                "against the controllers' ranges and the pump's syringe; corrections and refusals on standard\n"
                "error), then prints what \"Check program\" shows: for each segment and for the whole program\n"
                "the duration, mass and normal volume (0 °C, 1013.25 mbar) of gas A and gas B, mass and volume\n"
                "of fluid C, the syringe strokes, the segments where gas A is pulsed or a flow was corrected,\n"
                "and when each segment ends if the program were started now. Talks to no instrument.\n"
                "\n") +
        kProgramOptionsHelp +
        "\n"
        "Exit status: 0; 2 on bad arguments or a program that is refused (every bad line is listed).\n",
    RunCheck,
});

const CommandRegistrar saveRegistrar({
    "program save",
    "a segment program file written as the window saves it (pump commands chosen)",
    std::string("Usage: moirexctl program save FILE OUT [options of program check]\n"
                "\n"
                "Opens FILE as \"program check\" does and writes the segment program to OUT (\"-\": standard\n"
                "output) as the window's \"Save program...\" writes it: comment lines naming the components and\n"
                "the syringe, then each segment with its flows as dosed (after the corrections) and the pump\n"
                "command chosen for its fluid. An old OUT is replaced only by a whole new file.\n"
                "\n") +
        kProgramOptionsHelp +
        "\n"
        "Exit status: 0; 1 when OUT cannot be written; 2 on bad arguments or a refused program.\n",
    RunSave,
});

}  // namespace
}  // namespace moirexctl
