#include "core/RunBringUp.h"

#include <algorithm>
#include <cctype>

#include "devices/InstrumentIdentity.h"
#include "devices/PSD4_Interface.h"
#include "devices/PortAccess.h"
#include "devices/SerialPortVogtlin.h"
#include "devices/UnitMFC.h"
#include "state/GasMixtures.h"
#include "support/Clock.h"
#include "support/TextFormat.h"

namespace moirex {

bool PumpFindInitHamilton(const std::string& port, const FeedbackSink& sink, Clock& clock,
                          const TPumpPortTiming& timing) {
    moirex::ForgetInstrument(port);
    moirex::TPSD4 pump([&](const std::string& message) { sink(message); }, clock);
    pump.PortTiming = timing;
    if (!pump.Connect(port)) {
        // Not silence: the system's reason, when it refused the port itself.
        if (const std::string problem = moirex::PortAccessProblem(port); !problem.empty()) sink(problem);
        return false;
    }
    // From now on the line leads to a pump of the current type, or it is not commanded.
    moirex::ExpectInstrument(port, moirex::PumpIdentity());
    // A pump that cannot be brought to rest (stuck busy) is not found: its initialisation is not
    // sent, and nothing it would be asked to dose could be trusted.
    if (!pump.Stop()) return false;
    clock.SleepMs(100);
    moirex::TSerialResponse response;
    pump.SendCommand("ZN1L20v1000c1000K88k640IOIR", response, true);
    return response.Status.empty();
}

bool ValidateController(moirex::TMFCDetails& details, const std::string& port, uint32_t address,
                        int32_t dynamicRangeCull, bool isMFCB, const FeedbackSink& sink, Clock& clock) {
    details.Validated = false;
    details.ComPortName = port;
    details.ModBusAddress = address;
    sink("");
    sink("Query port : " + port + " Addr:" + std::to_string(address));
    details.DynamicRangeCull = dynamicRangeCull;
    moirex::ForgetInstrument(port);  // whatever is there now is what is validated
    const std::string failedStep = moirex::ReadMFCDetails(details, clock);
    if (!details.Validated) {
        // A controller that answered its type but failed a later step was found, not read.
        if (failedStep.rfind("type read", 0) == 0 || failedStep.empty()) {
            sink(" -> Nothing found on this port");
            if (const std::string problem = moirex::PortAccessProblem(port); !problem.empty()) sink(" -> " + problem);
            else if (!failedStep.empty()) sink(" -> " + failedStep);
        } else {
            sink(" -> MFC found");
            sink(" -> Read-out failed: " + failedStep);
        }
        return false;
    }
    // From now on the line leads to this controller, or it is not commanded.
    moirex::ExpectInstrument(port, moirex::MFCIdentity(isMFCB ? "MFC B" : "MFC A", address, details.Serial));
    sink(" -> MFC found");
    sink(" -> Serial: " + std::to_string(details.Serial));
    sink(" -> Gases listed");
    for (uint32_t k = moirex::TLUT::First; k <= moirex::TLUT::Last; ++k) {
        const moirex::TLUTData& e = details.LUT[k];
        if (e.NameShort.empty()) break;
        sink(" -> Gas         : " + e.NameShort);
        sink(" -> Unit        : " + e.UnitType);
        sink(" -> Max         : " + moirex::FormatMask(e.RangeMax, "0.000 000"));
        sink(" -> Min         : " + moirex::FormatMask(e.RangeMin, "0.000 000"));
        if (isMFCB) sink(" -> Unit        : " + e.UnitType);
        sink(" -> Tot unit    : " + e.TotalizerUnit);
        sink("----------------------------");
    }
    return true;
}

namespace {

std::string Lower(std::string s) {
    std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return s;
}

}  // namespace

bool GasChoiceCanExist(const std::string& choice, std::string& error) {
    const std::string c = moirex::Trim(choice);
    int64_t number = 0;
    if (c.empty()) {
        error = "no gas given (a gas table number " + std::to_string(moirex::TLUT::First) + " to " +
                std::to_string(moirex::TLUT::Last) + ", or a gas name)";
        return false;
    }
    if (moirex::ParseInteger(c, number) && (number < moirex::TLUT::First || number > moirex::TLUT::Last)) {
        error = "no controller has a gas table " + c + " (gas tables are numbered " +
                std::to_string(moirex::TLUT::First) + " to " + std::to_string(moirex::TLUT::Last) + ")";
        return false;
    }
    return true;
}

int ChooseGasTable(const moirex::TMFCDetails& details, const std::string& choice, std::string& error) {
    std::vector<uint32_t> tables;
    std::string listing;
    for (uint32_t k = moirex::TLUT::First; k <= moirex::TLUT::Last; ++k) {
        if (details.LUT[k].NameShort.empty()) break;
        tables.push_back(k);
        const moirex::TLUTData& e = details.LUT[k];
        listing += (listing.empty() ? "" : ", ") + std::to_string(k) + " " + (e.NameOwn.empty() ? e.NameShort : e.NameOwn);
    }
    int64_t number = 0;
    if (moirex::ParseInteger(choice, number)) {
        for (uint32_t k : tables)
            if (k == number) return static_cast<int>(k);
        error = "the controller has no gas table " + choice + " (its tables: " + listing + ")";
        return 0;
    }
    for (bool exact : {true, false}) {
        std::vector<uint32_t> found;
        for (uint32_t k : tables) {
            const moirex::TLUTData& e = details.LUT[k];
            for (const std::string* name : {&e.NameOwn, &e.NameShort, &e.NameCustom}) {
                const bool same = exact ? *name == choice : Lower(moirex::Trim(*name)) == Lower(moirex::Trim(choice));
                if (same && !name->empty()) {
                    found.push_back(k);
                    break;
                }
            }
        }
        if (found.size() == 1) return static_cast<int>(found[0]);
        if (found.size() > 1) {
            error = "the gas \"" + choice + "\" names more than one gas table; choose one by its number (" + listing + ")";
            return 0;
        }
    }
    error = "the controller has no gas table named \"" + choice + "\" (its tables: " + listing + ")";
    return 0;
}

std::string UnrecognisedGasMessage(const moirex::TMFCDetails& details, int mfcNumber, uint32_t table) {
    const moirex::TLUTData& e = details.LUT[table];
    if (moirex::GasItemsFromName(e.NameShort) != moirex::TGasItems::gUndefined) return {};
    const std::string n(moirex::CRLF);
    return "MFC" + std::to_string(mfcNumber) + " LUT:" + std::to_string(table) + n + "Gas type: " +
           e.NameShort + n + "is not recognized by the software" + n +
           "Contact Tarvel with this message, or select another gas type";
}

bool SelectGas(moirex::TMFCDetails& details, uint32_t table, const std::string& mfcName, const FeedbackSink& sink,
               Clock& clock) {
    const std::string failedStep = moirex::SetActiveLUT(details, static_cast<int32_t>(table), clock);
    if (!details.ActionOK) {
        sink(" ** Failed to set active gas for " + mfcName + ", (index:" + std::to_string(table) + ") plese try again ** ");
        sink("   " + failedStep);
        return false;
    }
    moirex::TLUTData& e = details.LUT[details.ActiveLUT];
    {
        moirex::TVogtlinPort port;
        port.UseControllerSettings(details.ComPortName);
        const moirex::TSerialResponse r = port.ReadF32(details.ModBusAddress, moirex::mfcreg::TotalizerScaling);
        if (r.Status.empty() && r.AsFloat > 0) e.TotalizerScaling = r.AsFloat;
    }
    sink("------------------------------");
    sink(mfcName + " gas set to  : " + e.NameOwn);
    sink("  -> Density g/ln : " + moirex::FormatGeneral(e.DensityGPL));
    sink("  -> Tot unit     : " + e.TotalizerUnit);
    sink("  -> Tot scaling  : " + moirex::FormatGeneral(e.TotalizerScaling));
    if (mfcName == "MFC B") {
        sink("  -> Max flow     : " + moirex::FormatGeneral(e.RangeMax));
        sink("  -> Min flow     : " +
             (e.RangeDynamic > 0 ? moirex::FormatGeneral(e.RangeMax / static_cast<double>(e.RangeDynamic)) : std::string("?")));
    }
    details.MFCName = mfcName;
    return true;
}

std::string GasConfirmationQuestion(const std::string& oldGasA, const std::string& newGasA,
                                    const std::string& oldGasB, const std::string& newGasB) {
    const std::string n(moirex::CRLF);
    return "Read this and confirm that the gas lines connected to the mixer are as follows:" + n + n +
           "A: Previous gas: " + oldGasA + " - - - Now connected gas : " + newGasA + n + "B: Previous gas: " + oldGasB +
           " - - - Now connected gas : " + newGasB + n + n +
           "Consider carefully what gases have been used previously, do not -for example- use O2 right after using "
           "H2 or CH4" +
           n + n + "Refer to manual for instuctions about flushing the mixer." + n + n + n +
           "Are you sure the selected gases, connected gas lines, and the mixer usage history forms a safe situation "
           "for the user?" +
           n + n + "Otherwise proceed to flush the mixer.";
}

}  // namespace moirex
