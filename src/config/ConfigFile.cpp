#include "config/ConfigFile.h"

#include <array>
#include <exception>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <optional>
#include <string>
#include <type_traits>
#include <variant>
#include <vector>

#include "config/SettingLimits.h"
#include "config/WindowBusy.h"
#include "config/WindowWork.h"
#include "devices/PSD4_Interface.h"
#include "form/Dialogs.h"
#include "form/Form.h"
#include "model/FlowSetpoints.h"
#include "model/FluidDesigner.h"
#include "support/FileLocations.h"
#include "support/IniFile.h"
#include "support/Log.h"
#include "support/ReplaceFile.h"
#include "support/TextFormat.h"

namespace moirex {

namespace {

using namespace inikeys;

// The file's full path, as the operator is told it.
std::string ConfigPath() {
    std::error_code ec;
    const std::filesystem::path p = std::filesystem::absolute(IniFilePath(), ec);
    return ec ? IniFilePath() : p.string();
}

// For a file that exists but cannot be read: a save would not replace it either.
std::string UnreadableMessage() { return "Unable to read " + ConfigPath(); }

// When the program's folder cannot be written, the settings live in the per-user folder; a file
// beside the program (set up there for this PC) is read into it the first time, so it is not
// passed over. Where the settings are saved is told once, in the run log.
void TakeOverProgramFolderFile(TMixer& mixer) {
    if (!HomeFolder().empty()) return;
    const std::string used = IniFilePath();
    const std::string beside = ProgramIniFilePath();
    std::error_code ec;
    if (used == beside || !std::filesystem::is_regular_file(beside, ec)) return;
    const bool installed = IsInstalledProgramFolder(std::filesystem::path(beside).parent_path().string());
    std::string told = "Settings are saved to " + used +
                       (installed ? " (an installed program keeps them in the user's folder)"
                                  : " (the program's folder cannot be written)");
    if (!std::filesystem::exists(used, ec)) {
        std::ifstream in(beside, std::ios::binary);
        std::ostringstream text;
        text << in.rdbuf();
        std::string error;
        if (in && ReplaceFileContents(used, text.str(), error)) {
            told += "; they were read from " + beside;
        } else {
            told += "; " + beside + " could not be read into it" + (error.empty() ? "" : ": " + error);
        }
    } else {
        told += "; " + beside + " is not used";
    }
    FormLogger().Send(told);
    LogOld(mixer.Form.MemoLog, told);
}

struct TComponentRow {
    TComboBox& Box;
    TRealEdit& Mass;
    const char* IdKey;
    const char* MassKey;
    const char* DefaultId;
    double DefaultMass;
};

std::array<TComponentRow, 4> ComponentRows(TForm1& f) {
    return {{{f.ComboBoxMix1, f.RtDoubleEdit1, "Mix1ID", "Mix1Mass", "gH2O", 1.0},
             {f.ComboBoxMix2, f.RtDoubleEdit2, "Mix2ID", "Mix2Mass", "gUndefined", 0.0},
             {f.ComboBoxMix3, f.RtDoubleEdit3, "Mix3ID", "Mix3Mass", "gUndefined", 0.0},
             {f.ComboBoxMix4, f.RtDoubleEdit4, "Mix4ID", "Mix4Mass", "gUndefined", 0.0}}};
}

// Reads the number settings of the file, refusing what their ranges do not allow: each refusal
// names the key, the value and the value used instead (the default), for one message at the end.
class TCheckedReader {
public:
    explicit TCheckedReader(const TIniFile& ini) : ini_(ini) {}

    double Real(const TSettingRange& range, double defaultValue) { return Read(range, defaultValue, false); }
    int32_t Integer(const TSettingRange& range, int32_t defaultValue) {
        return static_cast<int32_t>(Read(range, defaultValue, true));
    }
    const std::vector<std::string>& Refused() const { return refused_; }

private:
    double Read(const TSettingRange& range, double defaultValue, bool integer) {
        const std::string text = ini_.ReadString(range.Section, range.Key, "");
        if (text.empty()) return defaultValue;  // absent (or empty): the default, as always
        double value = 0;
        bool parsed = false;
        if (integer) {
            int64_t i = 0;
            parsed = ParseInteger(text, i, true);
            value = static_cast<double>(i);
        } else {
            parsed = ParseReal(text, value);
        }
        if (parsed && SettingInRange(range, value)) return value;
        refused_.push_back(SettingRefusal(range, range.Key, text, defaultValue));
        return defaultValue;
    }

    const TIniFile& ini_;
    std::vector<std::string> refused_;
};

const char* LoggingTypeText(TLoggingType t) {
    switch (t) {
        case TLoggingType::ltOff: return "Off";
        case TLoggingType::ltLive: return "Live";
        case TLoggingType::ltFile: break;
    }
    return "File";
}

// Feedback lines of the pump's re-initialisation into the Setup page's memo.
class MemoFeedback final : public TPumpFeedback {
public:
    explicit MemoFeedback(TMemo& memo) : memo_(memo) {}
    void AddLine(const std::string& line) override { memo_.Add(line); }
    void ReplaceLastLine(const std::string& line) override {
        std::vector<std::string> lines = memo_.Lines();
        if (lines.empty()) {
            memo_.Add(line);
            return;
        }
        lines.back() = line;
        memo_.Clear();
        for (std::string& l : lines) memo_.Add(std::move(l));
    }

private:
    TMemo& memo_;
};

}  // namespace

std::string LoggingFolderMessage(const std::string& folder) {
    return "Logging cannot be enabled, the log folder " + folder +
           " cannot be written. Alternatively set Logging type=Off in the ini-file.";
}

void INILoad(TMixer& mixer) {
    TForm1& f = mixer.Form;
    TPumpDetails& pump = mixer.PumpDetails;

    ApplySettingLimits(f);
    FillComponentBoxes(mixer);
    TakeOverProgramFolderFile(mixer);
    const TIniFile ini(IniFilePath());
    if (std::string unreadable; !ini.Readable(unreadable)) {
        // Not to be mistaken for a missing file: the defaults are used, and nothing replaces it.
        FormLogger().Send(unreadable);
        mixer.Dlg.ShowError(UnreadableMessage());
    }
    TCheckedReader checked(ini);
    using namespace settings;

    pump.FLUID_MAX_PPM = checked.Integer(MaxPPM, 1000000);
    // Shown at once: applying the fluid below takes the limit from its field.
    f.RtIntegerEditFluidPPMLimit.SetValue(pump.FLUID_MAX_PPM);

    pump.SYRINGE_VOLUMEul = checked.Real(SyringeVolume, 12.5);
    f.RtDoubleEditSyringeVolume.SetValue(pump.SYRINGE_VOLUMEul);
    pump.SYRINGE_STEPS = checked.Integer(SyringeSteps, 24000);
    pump.SYRINGE_MAXSPEED = checked.Integer(SyringeMaxSpeed, 1000);

    mixer.INIPortPump = ini.ReadString(ComPorts, "Pump", "");
    mixer.INIPortMFCA = ini.ReadString(ComPorts, "MFCA", "");
    mixer.INIPortMFCB = ini.ReadString(ComPorts, "MFCB", "");

    const std::string logging = ini.ReadString(Logging, LoggingType, "Off");
    mixer.LoggingType = logging == "Off"    ? TLoggingType::ltOff
                        : logging == "Live" ? TLoggingType::ltLive
                                            : TLoggingType::ltFile;
    if (mixer.LoggingType != TLoggingType::ltOff && !FormLogger().Installed()) {
        mixer.Dlg.ShowMessage(LoggingFolderMessage(LogFolder()));
        mixer.LoggingType = TLoggingType::ltOff;
    }
    // The log file's size rotation, in whole MB and files.
    constexpr uint64_t MB = 1024 * 1024;
    mixer.LogRotation.MaxFileSize =
        static_cast<uint64_t>(checked.Integer(settings::LogFileSize, static_cast<int32_t>(TLogRotation::MaxFileSizeDefault / MB))) * MB;
    mixer.LogRotation.FilesKept =
        static_cast<uint32_t>(checked.Integer(settings::LogFilesKept, TLogRotation::FilesKeptDefault));

    mixer.GraphPoints = checked.Integer(settings::GraphPoints, 1000);
    mixer.AverageSampleSize = checked.Integer(settings::AverageSampleSize, 358);

    mixer.DynamicRangeCullA = checked.Integer(settings::DynamicRangeCullA, 20);
    mixer.DynamicRangeCullB = checked.Integer(settings::DynamicRangeCullB, 10);

    f.RtDoubleEditCustomTemp.SetValue(checked.Real(CustomTemperature, 21));
    f.RtDoubleEditCustomPressure.SetValue(checked.Real(CustomPressure, 1013.25));

    for (TComponentRow& row : ComponentRows(f)) {
        const std::optional<TGasItems> gas = GasItemsFromString(ini.ReadString(Fluid, row.IdKey, row.DefaultId));
        row.Box.SetItemIndex(gas ? static_cast<int>(*gas) : -1);
        row.Mass.SetValue(ini.ReadFloat(Fluid, row.MassKey, row.DefaultMass));
    }

    f.EditDesignedMixtureName.SetText(ini.ReadString(Fluid, "Mixture name", "Undefined mixture"));
    f.RtDoubleEditDesignedMixtureDensity.SetValue(checked.Real(MixtureDensity, 1));
    f.RtDoubleEditDesignMixtureMolarMass.SetValue(ini.ReadFloat(Fluid, "Mixture molar mass", 18));

    pump.Fluid.DensityFluid20C = static_cast<float>(f.RtDoubleEditDesignedMixtureDensity.Value());
    pump.Fluid.MolarMass = static_cast<float>(f.RtDoubleEditDesignMixtureMolarMass.Value());

    // The run's outage limit: not a setting of the window, read here with the others.
    mixer.OutageStop_s = checked.Real(settings::OutageStop, 60);
    // The guard time of a run's guardian, likewise.
    mixer.GuardTimeout_s = checked.Real(settings::GuardTimeout, 10);
    if (!checked.Refused().empty()) {
        std::string text = "Settings in " + ConfigPath() + " that cannot be used:";
        for (const std::string& line : checked.Refused()) {
            FormLogger().Send(line);
            text += "\r\n" + line;
        }
        mixer.Dlg.ShowMessage(text);
    }

    FluidMixtureCalculation(mixer);
    AssignFluidMixtureToPump(mixer);

    if (f.EditFluidName.Text() == "Undefined mixture") {
        ButtonRestoreWaterClick(mixer);
        ButtonApplyPumpAndFluidClick(mixer);
    }

    pump.SYRINGE_SIZEmg = pump.SYRINGE_VOLUMEul / 1000.0 * double(pump.Fluid.DensityFluid20C) * 1000.0;
    f.RtDoubleEditSyringeGramsperStroke.SetValue(pump.SYRINGE_SIZEmg);

    f.RtIntegerEditFluidPPMLimit.SetValue(pump.FLUID_MAX_PPM);
    f.RtDoubleEditFluidMolPerGram.SetValue(pump.Fluid.MolPerML);
    f.EditFluidName.SetText(pump.Fluid.GasNameLong);
    f.RtDoubleEditFluidDensity.SetValue(pump.Fluid.DensityFluid20C);
    f.RtDoubleEditFluidMolarMass.SetValue(pump.Fluid.MolarMass);
    f.GroupBoxX.SetCaption("C-component: " + pump.Fluid.GasNameLong);
    RtDoubleEditDesignedMixtureDensityKeyUp(mixer);
}

TConfigKeys BeginConfigSave(TMixer& mixer) {
    TForm1& f = mixer.Form;
    const TPumpDetails& pump = mixer.PumpDetails;
    f.GroupBoxX.SetCaption("C-component: " + pump.Fluid.GasNameLong);

    TConfigKeys keys;
    auto str = [&](const char* section, const char* key, const std::string& value) {
        keys.push_back({section, key, value});
    };
    auto num = [&](const char* section, const char* key, int64_t value) { keys.push_back({section, key, value}); };
    auto real = [&](const char* section, const char* key, double value) { keys.push_back({section, key, value}); };

    num(Syringe, " Steps", pump.SYRINGE_STEPS);
    num(Syringe, " MaxSpeed", pump.SYRINGE_MAXSPEED);
    real(Syringe, "Volume MicroLiter", pump.SYRINGE_VOLUMEul);
    // Only a selected port is written: the port remembered from an earlier validation stays.
    if (f.ListBoxPortPump.ItemIndex() >= 0) str(ComPorts, "Pump", f.ListBoxPortPump.SelectedText());
    if (f.ListBoxPortMFC1.ItemIndex() >= 0) str(ComPorts, "MFCA", f.ListBoxPortMFC1.SelectedText());
    if (f.ListBoxPortMFC2.ItemIndex() >= 0) str(ComPorts, "MFCB", f.ListBoxPortMFC2.SelectedText());
    str(Logging, LoggingType, LoggingTypeText(mixer.LoggingType));
    num(Graph, " Points", mixer.GraphPoints);
    num(Graph, " Average sample size", mixer.AverageSampleSize);
    num("MFCA", "DynamicRangeCull", mixer.DynamicRangeCullA);
    num("MFCB", "DynamicRangeCull", mixer.DynamicRangeCullB);
    real("Custom flow conditions", "TemperatureC", f.RtDoubleEditCustomTemp.Value());
    real("Custom flow conditions", "PressuremBar", f.RtDoubleEditCustomPressure.Value());
    str(Fluid, "Mixture name", pump.Fluid.GasNameLong);
    real(Fluid, "Mixture custom density", pump.Fluid.DensityFluid20C);
    real(Fluid, "Mixture molar mass", pump.Fluid.MolarMass);
    num(Fluid, "Max PPM", pump.FLUID_MAX_PPM);
    for (TComponentRow& row : ComponentRows(f)) {
        const int index = row.Box.ItemIndex();
        // A row without a selection is written empty, which loads back as no selection.
        str(Fluid, row.IdKey, index >= 0 && index < GasItemsCount ? GasItemsToString(static_cast<TGasItems>(index)) : "");
        real(Fluid, row.MassKey, row.Mass.Value());
    }
    return keys;
}

TConfigWriteOutcome WriteConfigKeys(const TConfigKeys& keys) {
    TIniFile ini(IniFilePath());
    TConfigWriteOutcome outcome;
    for (const TConfigKey& k : keys) {
        // Every write reaches the file at once; the first that fails ends the save there.
        const bool written = std::visit(
            [&](const auto& value) {
                using T = std::decay_t<decltype(value)>;
                if constexpr (std::is_same_v<T, std::string>) return ini.WriteString(k.Section, k.Key, value);
                else if constexpr (std::is_same_v<T, int64_t>) return ini.WriteInteger(k.Section, k.Key, value);
                else return ini.WriteFloat(k.Section, k.Key, value);
            },
            k.Value);
        if (!written) {
            outcome.Ok = false;
            outcome.LastError = ini.LastError();
            outcome.ReadFailed = ini.LastErrorWasRead();
            break;
        }
    }
    return outcome;
}

namespace {

// A failed write logged and shown; false then.
bool TellConfigWrite(TMixer& mixer, const TConfigWriteOutcome& outcome) {
    if (outcome.Ok) return true;
    FormLogger().Send(outcome.LastError);
    mixer.Dlg.ShowError(outcome.ReadFailed ? UnreadableMessage() : "Unable to write to " + ConfigPath());
    return false;
}

}  // namespace

bool EndConfigSave(TMixer& mixer, const TConfigWriteOutcome& outcome) {
    if (!TellConfigWrite(mixer, outcome)) return false;
    FormLogger().Send("IniFileSaved");
    return true;
}

bool INISaveAndApply(TMixer& mixer) { return EndConfigSave(mixer, WriteConfigKeys(BeginConfigSave(mixer))); }

void ButtonApplyPumpAndFluidClick(TMixer& mixer, const TPumpToolAccess& access) {
    TForm1& f = mixer.Form;
    if (!AssignFluidMixtureToPump(mixer)) return;
    // The keys are taken from the window now; their writes, and a found pump's re-initialisation,
    // are the work the window waits for.
    const TConfigKeys keys = BeginConfigSave(mixer);
    const bool pumpWork = f.CheckBoxPump.Checked() && f.ListBoxPortPump.ItemIndex() >= 0;
    const std::string port = pumpWork ? f.ListBoxPortPump.SelectedText() : std::string();
    Clock& clock = access.Clk ? *access.Clk : SystemClock();
    const TPumpPortTiming timing = access.Timing;
    auto end = [&mixer] {
        // The segments added from now on carry the pump's own range and command.
        SetFluidRange(mixer);
        FluidFlowUpdate(mixer);
    };
    if (!pumpWork && !WorkOffMainThread(access)) {
        // Only the save, inside the click (moirexctl, the first start's save): the window is not
        // disabled for it.
        EndConfigSave(mixer, WriteConfigKeys(keys));
        end();
        return;
    }
    if (pumpWork && WorkOffMainThread(access)) f.MemoSetupFeedback.Add("Applying: the pump is re-initialised...");
    RunWindowWork(
        mixer, access, "Apply and save",
        [&mixer, keys, pumpWork, port, &clock, timing](const TOnMainThread& onMain) {
            const TConfigWriteOutcome written = WriteConfigKeys(keys);
            bool saved = false;
            onMain([&] { saved = EndConfigSave(mixer, written); });
            // A failed save ends the action; the pump's syringe and fluid have changed already,
            // so the design page follows them all the same (the end below).
            if (!saved || !pumpWork) return;
            // Lines for the memo, written on the main thread.
            class TRelayedFeedback final : public TPumpFeedback {
            public:
                TRelayedFeedback(TMemo& memo, const TOnMainThread& main) : memo_(memo), main_(main) {}
                void AddLine(const std::string& line) override {
                    main_([this, line] { MemoFeedback(memo_).AddLine(line); });
                }
                void ReplaceLastLine(const std::string& line) override {
                    main_([this, line] { MemoFeedback(memo_).ReplaceLastLine(line); });
                }

            private:
                TMemo& memo_;
                const TOnMainThread& main_;
            } feedback(mixer.Form.MemoSetupFeedback, onMain);
            TPSD4 pump([&](const std::string& message) { onMain([&] { mixer.Dlg.ShowMessage(message); }); }, clock);
            pump.PortTiming = timing;
            pump.PumpFindInit(port, feedback);
        },
        end);
}

void BindConfigHandlers(TMixer& mixer, const TPumpToolAccess& access) {
    mixer.Form.ButtonApplyPumpAndFluid.OnClick = [&mixer, &access](TControl&) {
        RunGuarded(mixer.Dlg, [&] { ButtonApplyPumpAndFluidClick(mixer, access); });
    };
}

TGasHistory ReadGasHistory() {
    const TIniFile ini(IniFilePath());
    TGasHistory h;
    h.OldGasA = ini.ReadString(History, "OldGasA", "Unknown");
    h.OldGasB = ini.ReadString(History, "OldGasB", "Unknown");
    return h;
}

TConfigKeys GasHistoryKeys(const std::string& gasA, const std::string& gasB) {
    return {{History, "OldGasA", gasA}, {History, "OldGasB", gasB}};
}

bool TellGasHistoryWritten(TMixer& mixer, const TConfigWriteOutcome& outcome) { return TellConfigWrite(mixer, outcome); }

bool WriteGasHistory(TMixer& mixer, const std::string& gasA, const std::string& gasB) {
    return TellGasHistoryWritten(mixer, WriteConfigKeys(GasHistoryKeys(gasA, gasB)));
}

}  // namespace moirex
