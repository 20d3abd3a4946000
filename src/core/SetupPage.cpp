#include "core/SetupPage.h"

#include "config/ConfigFile.h"

#include <exception>
#include <functional>
#include <memory>
#include <optional>

#include "config/WindowBusy.h"
#include "config/WindowWork.h"
#include "core/RunBringUp.h"
#include "core/SegmentProgram.h"
#include "core/UnendedRun.h"
#include "devices/PortClaim.h"
#include "devices/PortKey.h"
#include "devices/PortList.h"
#include "form/Dialogs.h"
#include "form/Form.h"
#include "model/FlowSetpoints.h"
#include "support/Log.h"

namespace moirex {

namespace {

// The controller's gas tables into its gas list: NameOwn as text, the table number attached, in
// table order up to the first table without a short name. A gas the catalogue does not know has no
// NameOwn: its row shows the controller's name for it, marked, instead of nothing (choosing it
// tells why it cannot be used).
void FillGasList(const TMFCDetails& details, TListBox& list) {
    for (uint32_t k = TLUT::First; k <= TLUT::Last; ++k) {
        const TLUTData& e = details.LUT[k];
        if (e.NameShort.empty()) break;
        list.AddItem(e.NameOwn.empty() ? e.NameShort + " (not recognized)" : e.NameOwn, k);
    }
}

// The recognition message of the controller's active gas, when the catalogue does not know it.
bool GasRecognised(TSetupContext& ctx, const TMFCDetails& details, int mfcNumber) {
    // A controller without an active table has no gas to recognise; its failed switch has told why.
    if (details.ActiveLUT < TLUT::First || details.ActiveLUT > TLUT::Last) return true;
    const std::string message = UnrecognisedGasMessage(details, mfcNumber, details.ActiveLUT);
    if (message.empty()) return true;
    ctx.Mixer.Dlg.ShowMessage(message);
    return false;
}

// The marks of runs on the selected ports that did not end with their stop procedure (their
// files only: nothing is asked of an instrument here).
std::vector<TUnendedRun> UnendedRunsOnSelection(const TForm1& f) {
    std::vector<std::string> ports;
    for (const TListBox* list : {&f.ListBoxPortPump, &f.ListBoxPortMFC1, &f.ListBoxPortMFC2})
        if (list->ItemIndex() >= 0) ports.push_back(list->SelectedText());
    return UnendedRunsOn(ports);
}

// Each run is told once, before validation puts the instruments at rest: the guardian's account,
// or what the instruments were found doing when no guardian could act. Reading them is
// instrument work: in the window it runs on the validation's thread. `tell` adds one line to the
// feedback and the log.
void TellUnendedRuns(const std::vector<TUnendedRun>& runs, const std::function<void(const std::string&)>& tell) {
    for (const TUnendedRun& run : runs) {
        const TFoundInstruments found = run.Account.empty() ? LookAtInstruments(run) : TFoundInstruments{};
        for (const std::string& line : UnendedRunLines(run, found)) tell(line);
        ClearRunMark(run.Path);
    }
}

// The gas lines confirmed by the operator: the mixer is ready, and the gases now connected are the
// keys to store as the gas history (none when the operator did not confirm them).
std::optional<TConfigKeys> ConfirmGasLines(TSetupContext& ctx) {
    TMixer& mixer = ctx.Mixer;
    TForm1& f = mixer.Form;
    mixer.MixerState = TMixerState::msReady;
    f.RzLEDDisplay1.SetCaption("Stopped");
    f.MemoSetupFeedback.Add("-------------------------------");
    f.MemoSetupFeedback.Add("  Mixer is now properly set up.");

    const TGasHistory history = ReadGasHistory();
    const std::string nowA = mixer.MFCADetails.LUT[mixer.MFCADetails.ActiveLUT].NameOwn;
    const std::string nowB = mixer.MFCBDetails.LUT[mixer.MFCBDetails.ActiveLUT].NameOwn;
    if (mixer.Dlg.AskYesNo(GasConfirmationQuestion(history.OldGasA, nowA, history.OldGasB, nowB),
                           GasConfirmationCaption)) {
        LogOld(f.MemoLog, f.MemoSetupFeedback.Text());
        return GasHistoryKeys(nowA, nowB);
    }
    // Gas lines not confirmed: no run may start until the question is answered Yes.
    f.CheckBoxGas.SetChecked(false);
    mixer.MixerState = TMixerState::msSimulation;
    return std::nullopt;
}

// The gas table each controller has, as read back after its last switch, is the one its list
// has selected: a switch that failed leaves the controller's table unknown to the list.
bool GasTablesAsSelected(const TMixer& mixer) {
    const TForm1& f = mixer.Form;
    auto same = [](const TMFCDetails& d, const TListBox& list) {
        return list.ItemIndex() >= 0 && d.ActiveLUT == static_cast<uint32_t>(list.ItemIndex()) + TLUT::First;
    };
    return same(mixer.MFCADetails, f.ListBox1) && same(mixer.MFCBDetails, f.ListBox2);
}

}  // namespace

void ButtonSetupFindPortsClick(TSetupContext& ctx) {
    TForm1& f = ctx.Mixer.Form;
    std::vector<TListItem> items;
    for (std::string& name : ctx.ListPorts ? ctx.ListPorts() : GetSerialPortList()) items.push_back({std::move(name), 0});
    f.ListBoxPortPump.SetItems(items);
    f.ListBoxPortMFC1.SetItems(items);
    f.ListBoxPortMFC2.SetItems(items);
    f.CheckBoxPump.SetChecked(false);
    f.CheckBoxMFC.SetChecked(false);
    f.CheckBoxGas.SetChecked(false);
}

void SetListBox(const std::string& Val, TListBox& LB) {
    for (int i = 0; i < LB.Count(); ++i) {
        if (LB.ItemText(i) == Val) LB.SetItemIndex(i);
    }
}

void ListBoxPortPumpClick(TMixer& mixer) {
    mixer.MixerState = TMixerState::msSimulation;
    // Other ports: the ones validated are no longer this window's.
    ProcessMixerClaim().Release();
    mixer.Form.CheckBoxPump.SetChecked(false);
}

void ListBoxPortMFC1Click(TMixer& mixer) {
    mixer.MixerState = TMixerState::msSimulation;
    ProcessMixerClaim().Release();
    mixer.Form.CheckBoxMFC.SetChecked(false);
}

bool PumpFindInitHamilton(TSetupContext& ctx, const std::string& Port) {
    return PumpFindInitHamilton(
        Port, [&](const std::string& message) { ctx.Mixer.Dlg.ShowMessage(message); }, ctx.InstrumentClk(),
        ctx.Instruments.Timing);
}

namespace {

// What Validate reads from the window at the click, and what its instrument work finds.
struct TValidation {
    std::string PumpPort;  // empty: no pump port selected
    std::string PortA, PortB;
    TMFCDetails A, B;
    int32_t CullA = 0, CullB = 0;
    bool PumpFound = false;
};

// The instrument work of Validate: the pump check and both controllers' read-out. Touches no
// window state: feedback lines and pump messages go through `line` and `message`.
void ValidateInstruments(TValidation& v, Clock& clock, const TPumpPortTiming& timing,
                         const std::function<void(const std::string&)>& line,
                         const std::function<void(const std::string&)>& message) {
    v.PumpFound = !v.PumpPort.empty() && PumpFindInitHamilton(v.PumpPort, message, clock, timing);
    v.A.Validated = false;
    v.B.Validated = false;
    if (!v.PortA.empty()) ValidateController(v.A, v.PortA, 1, v.CullA, false, line, clock);
    if (!v.PortB.empty()) ValidateController(v.B, v.PortB, 2, v.CullB, true, line, clock);
}

// The end of Validate, on the main thread, up to the configuration's save: the check boxes, the
// controllers' details and gas lists. True when both controllers were validated: the
// configuration is then saved (which stores the chosen ports); otherwise the claim is released.
bool ApplyValidation(TSetupContext& ctx, const TValidation& v) {
    TMixer& mixer = ctx.Mixer;
    TForm1& f = mixer.Form;
    if (v.PumpFound) {
        f.CheckBoxPump.SetChecked(true);
        mixer.PumpDetails.Port = v.PumpPort;
        f.EditDebugCOMPort.SetText(mixer.PumpDetails.Port);
    } else {
        f.CheckBoxPump.SetChecked(false);
        mixer.PumpDetails.Port.clear();
    }
    // The controllers' details as read; a controller whose port was not selected keeps its own.
    if (!v.PortA.empty()) mixer.MFCADetails = v.A;
    else mixer.MFCADetails.Validated = false;
    if (!v.PortB.empty()) mixer.MFCBDetails = v.B;
    else mixer.MFCBDetails.Validated = false;
    if (mixer.MFCADetails.Validated) FillGasList(mixer.MFCADetails, f.ListBox1);
    if (mixer.MFCBDetails.Validated) FillGasList(mixer.MFCBDetails, f.ListBox2);

    const bool both = mixer.MFCADetails.Validated && mixer.MFCBDetails.Validated;
    f.CheckBoxMFC.SetChecked(both);
    // The feedback reaches the log even when the save below fails.
    if (FormLogger().Enabled) {
        for (const std::string& line : f.MemoSetupFeedback.Lines()) FormLogger().Send(line);
    }
    if (!both) ProcessMixerClaim().Release();  // nothing validated to be master of
    return both;
}

// Validate is over: the window takes input again.
struct TEndValidationOnExit {
    TSetupContext& ctx;
    ~TEndValidationOnExit() {
        ctx.Validating = false;
        FormDisable(ctx.Mixer.Form, false);
    }
};

// The whole end of Validate inside the click.
void FinishValidation(TSetupContext& ctx, const TValidation& v) {
    TEndValidationOnExit enable{ctx};
    if (ApplyValidation(ctx, v)) INISaveAndApply(ctx.Mixer);
}

}  // namespace

void ButtonSetupValidateClick(TSetupContext& ctx) {
    TMixer& mixer = ctx.Mixer;
    TForm1& f = mixer.Form;
    if (ctx.Validating) return;  // the window is disabled until the validation under way ends
    f.CheckBoxPump.SetChecked(false);
    f.CheckBoxMFC.SetChecked(false);
    f.CheckBoxGas.SetChecked(false);
    f.MemoSetupFeedback.Clear();
    if (ctx.ProcessPendingEvents && !ctx.Work) ctx.ProcessPendingEvents();
    ClearStepProgram(mixer);

    const int pump = f.ListBoxPortPump.ItemIndex();
    const int a = f.ListBoxPortMFC1.ItemIndex();
    const int b = f.ListBoxPortMFC2.ItemIndex();
    // Two names of one device (a /dev/serial/by-id link and its /dev/ttyUSB node) are one port.
    auto oneDevice = [](const TListBox& x, const TListBox& y) {
        return x.ItemIndex() >= 0 && y.ItemIndex() >= 0 && SamePort(x.SelectedText(), y.SelectedText());
    };
    const bool sameDevice = oneDevice(f.ListBoxPortPump, f.ListBoxPortMFC1) ||
                            oneDevice(f.ListBoxPortPump, f.ListBoxPortMFC2) ||
                            oneDevice(f.ListBoxPortMFC1, f.ListBoxPortMFC2);
    if ((a >= 0 && (pump == a || pump == b || a == b)) || sameDevice) {
        f.MemoSetupFeedback.Add("Select different COM ports for the MFCs");
        return;
    }

    // One master per mixer: from here on the ports are this process's, or, when another process
    // holds one of them, nothing is sent to any instrument.
    const std::string refused = ProcessMixerClaim().ClaimOnly(
        {pump >= 0 ? f.ListBoxPortPump.SelectedText() : std::string(), a >= 0 ? f.ListBoxPortMFC1.SelectedText() : std::string(),
         b >= 0 ? f.ListBoxPortMFC2.SelectedText() : std::string()});
    if (!refused.empty()) {
        f.MemoSetupFeedback.Add(refused);
        return;
    }

    mixer.MixerState = TMixerState::msSimulation;
    FormDisable(f, true);
    ctx.Validating = true;
    f.ListBox1.Clear();
    f.ListBox2.Clear();
    std::vector<TUnendedRun> unended = UnendedRunsOnSelection(f);

    auto v = std::make_shared<TValidation>();
    if (pump >= 0) v->PumpPort = f.ListBoxPortPump.SelectedText();
    if (a >= 0) v->PortA = f.ListBoxPortMFC1.SelectedText();
    if (b >= 0) v->PortB = f.ListBoxPortMFC2.SelectedText();
    v->A = mixer.MFCADetails;
    v->B = mixer.MFCBDetails;
    v->CullA = mixer.DynamicRangeCullA;
    v->CullB = mixer.DynamicRangeCullB;
    Clock& clock = ctx.InstrumentClk();
    const TPumpPortTiming timing = ctx.Instruments.Timing;

    if (!ctx.Work) {
        try {
            TellUnendedRuns(unended, [&f](const std::string& line) {
                f.MemoSetupFeedback.Add(line);
                LogOld(f.MemoLog, line);
            });
            ValidateInstruments(*v, clock, timing, [&](const std::string& line) { f.MemoSetupFeedback.Add(line); },
                                [&](const std::string& message) { mixer.Dlg.ShowMessage(message); });
        } catch (...) {
            ctx.Validating = false;
            FormDisable(f, false);
            throw;
        }
        FinishValidation(ctx, *v);
        return;
    }

    // Off the main thread: each line and message is handed to the main thread as it comes (the
    // job waits for it, so a message box is answered before the validation goes on), and the end
    // runs there too, but for the configuration's writes, which are the job's again. A closed
    // hand-over (the window is going) ends the job's reports.
    TMainThreadHandOver& main = ctx.Run.HandOver;
    f.MemoSetupFeedback.Add("Validating the selected ports...");
    ctx.Work->Post(
        "Setup page",
        [v, unended = std::move(unended), &clock, timing, &main, &ctx] {
            TMixer& mixer = ctx.Mixer;
            TMemo& memo = mixer.Form.MemoSetupFeedback;
            Dialogs& dlg = mixer.Dlg;
            auto showError = [&](const std::exception& e) {
                const std::string what = e.what();
                main.invokeAndWait([&dlg, what] { dlg.ShowError(what); });
            };
            try {
                TellUnendedRuns(unended, [&](const std::string& line) {
                    main.invokeAndWait([&mixer, line] {
                        mixer.Form.MemoSetupFeedback.Add(line);
                        LogOld(mixer.Form.MemoLog, line);
                    });
                });
            } catch (const std::exception& e) {
                showError(e);
            }
            try {
                ValidateInstruments(
                    *v, clock, timing,
                    [&](const std::string& line) { main.invokeAndWait([&memo, line] { memo.Add(line); }); },
                    [&](const std::string& message) { main.invokeAndWait([&dlg, message] { dlg.ShowMessage(message); }); });
            } catch (const std::exception& e) {
                showError(e);
            } catch (...) {
            }
            bool save = false;
            TConfigKeys keys;
            try {
                main.invokeAndWait([&] {
                    save = ApplyValidation(ctx, *v);
                    if (save) keys = BeginConfigSave(mixer);
                });
            } catch (const std::exception& e) {
                showError(e);
                save = false;
            }
            const TConfigWriteOutcome written = save ? WriteConfigKeys(keys) : TConfigWriteOutcome{};
            try {
                main.invokeAndWait([&] {
                    TEndValidationOnExit enable{ctx};
                    if (save) EndConfigSave(mixer, written);
                });
            } catch (const std::exception& e) {
                showError(e);
            }
        },
        [&main, &ctx, v] {
            // Never begun: nothing was found.
            v->PumpFound = false;
            v->A.Validated = false;
            v->B.Validated = false;
            try {
                main.invokeAndWait([&ctx, v] { FinishValidation(ctx, *v); });
            } catch (...) {
            }
        });
}

bool SetupWorkRunning(const TSetupContext& ctx) { return ctx.Validating; }

namespace {

// A gas chosen in one of the gas lists: the switch runs on a copy of that controller's details,
// which become the mixer's when it is over.
struct TGasSwitch {
    TMFCDetails* Target = nullptr;  // null: no switch (a list without a selection)
    TMFCDetails Details;
    uint32_t Table = 0;
    const char* Name = "";
    bool Switched = true;
};

// After the switch, on the main thread: the check of the gases, and the gas lines confirmed when
// the mixer is set up. The gas history to store when they were.
std::optional<TConfigKeys> CheckGases(TSetupContext& ctx, TGasSwitch& sw) {
    TMixer& mixer = ctx.Mixer;
    TForm1& f = mixer.Form;
    if (sw.Target) *sw.Target = sw.Details;
    if (!sw.Switched) f.CheckBoxGas.SetChecked(false);
    if (f.ListBox1.ItemIndex() >= 0 && !GasRecognised(ctx, mixer.MFCADetails, 1)) f.CheckBoxGas.SetChecked(false);
    if (f.ListBox2.ItemIndex() >= 0 && !GasRecognised(ctx, mixer.MFCBDetails, 2)) f.CheckBoxGas.SetChecked(false);

    if (!GasTablesAsSelected(mixer)) f.CheckBoxGas.SetChecked(false);
    if (f.CheckBoxPump.Checked() && f.CheckBoxMFC.Checked() && f.CheckBoxGas.Checked()) return ConfirmGasLines(ctx);
    return std::nullopt;
}

}  // namespace

void ListBox1Click(TSetupContext& ctx, const TControl& sender) {
    TMixer& mixer = ctx.Mixer;
    TForm1& f = mixer.Form;
    ClearStepProgram(mixer);
    f.CheckBoxGas.SetChecked(f.ListBox1.ItemIndex() >= 0 && f.ListBox2.ItemIndex() >= 0);

    auto sw = std::make_shared<TGasSwitch>();
    const TListBox* list = nullptr;
    if (&sender == &f.ListBox1 && f.ListBox1.ItemIndex() >= 0) {
        // Gas A's worker reads the controller whose gas changes: it is stopped first.
        StopAndKillThread(ctx.Run);
        sw->Target = &mixer.MFCADetails;
        sw->Name = "MFC A";
        list = &f.ListBox1;
    } else if (&sender == &f.ListBox2 && f.ListBox2.ItemIndex() >= 0) {
        sw->Target = &mixer.MFCBDetails;
        sw->Name = "MFC B";
        list = &f.ListBox2;
    }
    if (sw->Target) {
        sw->Details = *sw->Target;
        sw->Table = static_cast<uint32_t>(list->ItemIndex() + 2);
        if (WorkOffMainThread(ctx.Instruments))
            f.MemoSetupFeedback.Add(std::string("Selecting the gas of ") + sw->Name + "...");
    }
    Clock& clock = ctx.InstrumentClk();
    RunWindowWork(
        mixer, ctx.Instruments, "Setup page",
        [&ctx, sw, &clock](const TOnMainThread& onMain) {
            TMixer& m = ctx.Mixer;
            if (sw->Target) {
                TMemo& memo = m.Form.MemoSetupFeedback;
                sw->Switched = SelectGas(
                    sw->Details, sw->Table, sw->Name,
                    [&](const std::string& line) { onMain([&memo, line] { memo.Add(line); }); }, clock);
            }
            std::optional<TConfigKeys> history;
            onMain([&] { history = CheckGases(ctx, *sw); });
            if (!history) return;
            const TConfigWriteOutcome written = WriteConfigKeys(*history);
            onMain([&] { TellGasHistoryWritten(m, written); });
        },
        [&ctx] {
            TMixer& m = ctx.Mixer;
            TForm1& form = m.Form;
            if (form.ListBox1.ItemIndex() < 0) m.MFCADetails.ActiveLUT = 0;
            if (form.ListBox2.ItemIndex() < 0) m.MFCBDetails.ActiveLUT = 0;
            m.FlowStatus.Reset();
            FlowUpdateY1(m, true);
            FlowUpdateY2(m, true);
        });
}

void BindSetupHandlers(TSetupContext& ctx) {
    TForm1& f = ctx.Mixer.Form;
    Dialogs& dlg = ctx.Mixer.Dlg;
    TMixer& mixer = ctx.Mixer;
    f.ButtonSetupFindPorts.OnClick = [&](TControl&) { RunGuarded(dlg, [&] { ButtonSetupFindPortsClick(ctx); }); };
    f.ButtonSetupValidate.OnClick = [&](TControl&) { RunGuarded(dlg, [&] { ButtonSetupValidateClick(ctx); }); };
    f.ListBoxPortPump.OnClick = [&](TControl&) { ListBoxPortPumpClick(mixer); };
    f.ListBoxPortPump.OnDblClick = [&](TControl&) { ListBoxPortPumpClick(mixer); };
    f.ListBoxPortPump.OnKeyUp = [&](TControl&, int) { ListBoxPortPumpClick(mixer); };
    for (TListBox* list : {&f.ListBoxPortMFC1, &f.ListBoxPortMFC2}) {
        list->OnClick = [&](TControl&) { ListBoxPortMFC1Click(mixer); };
        list->OnDblClick = [&](TControl&) { ListBoxPortMFC1Click(mixer); };
        list->OnKeyUp = [&](TControl&, int) { ListBoxPortMFC1Click(mixer); };
    }
    for (TListBox* list : {&f.ListBox1, &f.ListBox2})
        list->OnClick = [&](TControl& sender) { RunGuarded(dlg, [&] { ListBox1Click(ctx, sender); }); };
}

}  // namespace moirex
