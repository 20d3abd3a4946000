#include "remote/MixerNode.h"

#include <unistd.h>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <exception>
#include <filesystem>

#include "core/ProgramFile.h"
#include "core/ProgramOpenSave.h"
#include "form/Form.h"
#include "model/MixtureReport.h"
#include "state/MixerState.h"
#include "support/TextFormat.h"
#include "support/Version.h"

namespace moirex {

namespace {

using nlohmann::json;
namespace error = secop::error;

enum TStatusCode { scIdle = 100, scWarn = 200, scBusy = 300, scError = 400 };

json Status(int code, const std::string& text) { return json::array({code, text}); }

json Double(const char* unit = nullptr) {
    json d = {{"type", "double"}};
    if (unit) d["unit"] = unit;
    return d;
}
json String(int maxchars = 0) {
    json d = {{"type", "string"}};
    if (maxchars > 0) d["maxchars"] = maxchars;
    return d;
}
json Parameter(const std::string& description, json datainfo, bool readonly = true) {
    return {{"description", description}, {"datainfo", std::move(datainfo)}, {"readonly", readonly}};
}
json StatusParameter() {
    const json codes = {{"type", "enum"}, {"members", {{"IDLE", scIdle}, {"WARN", scWarn}, {"BUSY", scBusy}, {"ERROR", scError}}}};
    return Parameter("status code and the text the window shows", {{"type", "tuple"}, {"members", json::array({codes, String()})}});
}
json Command(const std::string& description, json argument = nullptr, json result = nullptr) {
    json d = {{"type", "command"}};
    if (!argument.is_null()) d["argument"] = std::move(argument);
    if (!result.is_null()) d["result"] = std::move(result);
    return {{"description", description}, {"datainfo", std::move(d)}};
}
json Module(const std::string& description, const char* interfaceClass, json accessibles, json order) {
    return {{"description", description},
            {"interface_classes", json::array({interfaceClass})},
            {"features", json::array()},
            {"accessibles", std::move(accessibles)},
            {"order", std::move(order)}};
}

std::string HostName() {
    char name[256] = {};
    if (gethostname(name, sizeof name - 1) != 0 || !name[0]) return "localhost";
    return name;
}

// A single-precision flow of a segment record as the double its shortest text reads as: 0.01,
// not 0.009999999776482582.
double Single(float value) {
    const std::string text = ShortestText(value);
    double d = 0;
    std::from_chars(text.data(), text.data() + text.size(), d);
    return d;
}

int MixerStateValue(TMixerState s) { return static_cast<int>(s); }

bool RunUnderWay(const TMixer& m) {
    return m.MixerState == TMixerState::msOperating || m.MixerState == TMixerState::msStopping;
}

// The running segment's components A, B, C (records reset by Init where the segment lacks one).
struct TSegmentParts {
    TGasItem A, B, C;
    bool Running = false;
};

TSegmentParts SegmentParts(const TRunContext& run) {
    TSegmentParts p;
    p.A.Init();
    p.B.Init();
    p.C.Init();
    const TMixer& m = run.Mixer;
    if (m.MixerState != TMixerState::msOperating || m.CurrentStep < 0 ||
        static_cast<size_t>(m.CurrentStep) >= m.StepProgram.size())
        return p;
    p.Running = true;
    TComponentDictionary d;
    ComponentsByInstrument(m.StepProgram[static_cast<size_t>(m.CurrentStep)], d);
    if (const TGasItem* a = d.Find("0")) p.A = *a;
    if (const TGasItem* b = d.Find("1")) p.B = *b;
    if (const TGasItem* c = d.Find("2")) p.C = *c;
    return p;
}

std::string GasName(const TMFCDetails& d) {
    if (!TLUT::InRange(d.ActiveLUT)) return {};
    const TLUTData& t = d.LUT[d.ActiveLUT];
    return !t.NameShort.empty() ? t.NameShort : t.NameOwn;
}

std::string JoinLines(const std::vector<std::string>& texts) {
    std::string s;
    for (const std::string& t : texts) {
        if (!s.empty()) s += "\n";
        std::string line = t;
        for (size_t p; (p = line.find("\r\n")) != std::string::npos;) line.replace(p, 2, "\n");
        s += line;
    }
    return s;
}

}  // namespace

json TMixerNode::Description() {
    const json flow = Double("g/min");
    json modules;
    modules["mixer"] = Module(
        "the mixer's run state", "Readable",
        {{"value", Parameter("run state", {{"type", "enum"},
                                            {"members", {{"simulation", 0}, {"ready", 1}, {"operating", 2},
                                                         {"stopping", 3}, {"stop_failed", 6}}}})},
         {"status", StatusParameter()},
         {"remote_control", Parameter("whether the operator allows remote load and start", {{"type", "bool"}})},
         {"warnings", Parameter("the flow warnings of the status bar", String())}},
        {"value", "status", "remote_control", "warnings"});
    modules["gas_a"] = Module(
        "gas A, dosed by mass flow controller A", "Readable",
        {{"value", Parameter("measured flow in g/min; a missing reading is an ERROR status", flow)},
         {"status", StatusParameter()},
         {"setpoint", Parameter("wanted flow of the running segment in g/min", flow)},
         {"segment_average", Parameter("average flow of gas A over the segment in g/min", flow)},
         {"moving_average", Parameter("moving average flow of gas A in g/min", flow)},
         {"moving_average_minutes", Parameter("span of the moving average in min", Double("min"))},
         {"gas", Parameter("the controller's active gas", String())}},
        {"value", "status", "setpoint", "segment_average", "moving_average", "moving_average_minutes", "gas"});
    modules["gas_b"] = Module(
        "gas B, dosed by mass flow controller B", "Readable",
        {{"value", Parameter("measured flow in g/min; a missing reading is an ERROR status", flow)},
         {"status", StatusParameter()},
         {"setpoint", Parameter("wanted flow of the running segment in g/min", flow)},
         {"gas", Parameter("the controller's active gas", String())}},
        {"value", "status", "setpoint", "gas"});
    modules["fluid"] = Module(
        "fluid C, dosed by the syringe pump", "Readable",
        {{"value", Parameter("wanted fluid flow of the running segment in g/min", flow)},
         {"status", StatusParameter()},
         {"command", Parameter("the pump command of the running segment", String())},
         {"pump_status", Parameter("the pump's last status", String())},
         {"name", Parameter("the fluid in the syringe", String())}},
        {"value", "status", "command", "pump_status", "name"});
    modules["program"] = Module(
        "the segment program", "Drivable",
        {{"value", Parameter("the running segment, 1-based; 0: none", {{"type", "int"}, {"min", 0}, {"max", 1000000}})},
         {"status", StatusParameter()},
         {"target", Parameter("1: start the program from its first segment (as start); 0: stop (as stop)",
                              {{"type", "int"}, {"min", 0}, {"max", 1}}, false)},
         {"segments", Parameter("number of segments", {{"type", "int"}, {"min", 0}, {"max", 1000000}})},
         {"segment_time_left", Parameter("time left in the running segment in s", Double("s"))},
         {"program_time_left", Parameter("time left in the program in s", Double("s"))},
         {"program_text", Parameter("the segment program in the program file format", String())},
         {"recipe_file", Parameter("name of the recipe file of the last start", String())},
         {"data_file", Parameter("name of the run data file of the last start", String())},
         {"load", Command("opens a segment program given as text in the program file format, as \"Open "
                          "program...\" does; the result tells every correction of a wanted flow",
                          String(65000), String())},
         {"start", Command("starts the segment program, as \"Start with current program\"")},
         {"stop", Command("stops every flow, as \"Stop\"")}},
        {"value", "status", "target", "segments", "segment_time_left", "program_time_left", "program_text",
         "recipe_file", "data_file", "load", "start", "stop"});
    modules["outlet"] = Module(
        "the outlet gas as the mixture report gives it (running segment, or the designed mixture)", "Readable",
        {{"value", Parameter("relative humidity of water at the outlet conditions in %", Double("%"))},
         {"status", StatusParameter()},
         {"components",
          Parameter("concentration of each component in ppm",
                    {{"type", "array"},
                     {"minlen", 0},
                     {"maxlen", 64},
                     {"members", {{"type", "tuple"}, {"members", json::array({String(), Double("ppm")})}}}})},
         {"fluid_ppm", Parameter("concentration of the pump's fluid as a whole in ppm", Double("ppm"))}},
        {"value", "status", "components", "fluid_ppm"});
    return {{"equipment_id", "moirex." + HostName()},
            {"description", "Moirex gas and vapour mixer: two mass flow controllers and a syringe pump"},
            {"firmware", VersionLine("Moirex")},
            {"order", {"mixer", "gas_a", "gas_b", "fluid", "program", "outlet"}},
            {"modules", std::move(modules)}};
}

TMixerNode::TMixerNode(TRunContext& run, TDialogCapture& capture, secop::TNodeLimits limits)
    : run_(run), capture_(capture), node_(Description(), limits) {
    previousHandOver_ = run_.OnHandOver;
    run_.OnHandOver = [this](const THandOverReadings& r) {
        if (previousHandOver_) previousHandOver_(r);
        // A hand-over that repeats a missing reading brings nothing new: no new time stamp.
        PublishState(r.NewReading);
    };
}

TMixerNode::~TMixerNode() {
    Stop();
    run_.OnHandOver = previousHandOver_;
}

bool TMixerNode::Start(const secop::TAddress& address, std::string& error) {
    pollsSinceSlow_ = 1000;
    PublishState(false);
    return node_.Start(address, error);
}

void TMixerNode::Stop() { node_.Stop(); }

void TMixerNode::Poll() {
    if (!node_.Running()) return;
    // While the window is disabled around instrument work (validation, a gas switch) the
    // requests wait: no command runs nested inside another handler.
    if (!run_.Mixer.Form.Enabled()) {
        PublishState(false);
        return;
    }
    const std::vector<secop::TRequest> requests = node_.TakeRequests();
    for (const secop::TRequest& r : requests) {
        // A handler that fails ends this command only: its client is told, the others are
        // served, and the window's event loop never sees the failure.
        std::string what;
        try {
            Execute(r);
            continue;
        } catch (const std::exception& e) {
            what = e.what();
        } catch (...) {
            what = "unknown error";
        }
        capture_.End();
        node_.Reply(r.Client, secop::ErrorMessage(r.Message.Action, r.Message.Specifier, secop::error::InternalError,
                                                  "the command failed: " + what));
    }
    if (!requests.empty()) pollsSinceSlow_ = 1000;
    PublishState(false);
}

void TMixerNode::PublishState(bool readings) {
    const TMixer& m = run_.Mixer;
    const TForm1& f = m.Form;
    const double t = secop::UnixTimeNow();
    const TSegmentParts parts = SegmentParts(run_);
    auto publish = [&](const char* module, const char* parameter, const json& value, bool always = false) {
        node_.Publish(module, parameter, value, t, always);
    };

    // mixer
    const std::string display = f.RzLEDDisplay1.Caption();
    publish("mixer", "value", MixerStateValue(m.MixerState));
    switch (m.MixerState) {
        case TMixerState::msOperating:
        case TMixerState::msStopping: publish("mixer", "status", Status(scBusy, display)); break;
        case TMixerState::msStopFailed: publish("mixer", "status", Status(scError, display)); break;
        default: publish("mixer", "status", Status(scIdle, display)); break;
    }
    publish("mixer", "remote_control", AllowRemoteControl);
    const std::string warnings = f.StatusBar1.Panel(4);
    publish("mixer", "warnings", warnings);

    // gas_a, gas_b: a reading is published as it arrives (even when it repeats the last value);
    // -1, no reading, is never a value but an ERROR status.
    const TFlowStatus& fs = m.FlowStatus;
    const bool running = RunUnderWay(m);
    auto gasStatus = [&](const char* module, double reading, bool seen, const char* name, const std::string& shown,
                         bool warned) {
        if (reading < 0) publish(module, "status", Status(scError, std::string("no reading from ") + name));
        else if (!seen) publish(module, "status", Status(scIdle, "no reading yet"));
        else if (warned) publish(module, "status", Status(scWarn, shown));
        else publish(module, "status", Status(scIdle, shown));
    };
    if (readings && running) {
        if (fs.MFCA >= 0) {
            readingSeenA_ = true;
            publish("gas_a", "value", fs.MFCA, true);
            publish("gas_a", "segment_average", fs.SegmentAverage, true);
            publish("gas_a", "moving_average", fs.MovingAverage, true);
            publish("gas_a", "moving_average_minutes", fs.MovingAverageMinutes);
        }
        if (fs.MFCB >= 0) {
            readingSeenB_ = true;
            publish("gas_b", "value", fs.MFCB, true);
        }
    } else if (!readingSeenA_ || !readingSeenB_) {
        // Before the first reading: zero flows at the node's start, told as "no reading yet".
        if (!readingSeenA_) {
            publish("gas_a", "value", 0.0);
            publish("gas_a", "segment_average", 0.0);
            publish("gas_a", "moving_average", 0.0);
            publish("gas_a", "moving_average_minutes", fs.MovingAverageMinutes);
        }
        if (!readingSeenB_) publish("gas_b", "value", 0.0);
    }
    gasStatus("gas_a", fs.MFCA, readingSeenA_, "MFC A", f.StatusBar1.Panel(0),
              warnings.find("Flow A Warning") != std::string::npos);
    gasStatus("gas_b", fs.MFCB, readingSeenB_, "MFC B", f.StatusBar1.Panel(3),
              warnings.find("Flow B Warning") != std::string::npos);
    publish("gas_a", "setpoint", Single(parts.A.Mass));
    publish("gas_b", "setpoint", Single(parts.B.Mass));

    // fluid
    const std::string command =
        parts.Running ? (parts.C.PumpCommand.empty() ? std::string(NoFluidPumpCommand) : parts.C.PumpCommand) : "";
    publish("fluid", "value", Single(parts.C.Mass));
    publish("fluid", "command", command);
    publish("fluid", "pump_status", m.PumpDetails.Status);
    if (!parts.Running) publish("fluid", "status", Status(scIdle, "pump stopped outside a run"));
    else if (run_.ThreadData.StepPumpSet) publish("fluid", "status", Status(scBusy, "pump command accepted"));
    else publish("fluid", "status", Status(scWarn, "pump command not yet accepted"));

    // program
    const int32_t segment = RunningSegment(run_);
    publish("program", "value", segment);
    publish("program", "target", running ? 1 : 0);
    publish("program", "segments", static_cast<int64_t>(m.StepProgram.size()));
    double segmentLeft = 0, programLeft = 0;
    if (parts.Running) {
        const size_t s = static_cast<size_t>(m.CurrentStep);
        segmentLeft = std::max(0.0, m.StepProgram[s].StepTime * 3600.0 - (run_.Clk.MonotonicSeconds() - run_.StepStartSeconds));
        programLeft = segmentLeft;
        for (size_t i = s + 1; i < m.StepProgram.size(); ++i) programLeft += m.StepProgram[i].StepTime * 3600.0;
    }
    // Whole seconds, so that a client hears of them once a second rather than on every tick.
    publish("program", "segment_time_left", std::round(segmentLeft));
    publish("program", "program_time_left", std::round(programLeft));
    switch (m.MixerState) {
        case TMixerState::msOperating:
            publish("program", "status", Status(scBusy, m.RunStatusText.empty() ? display : m.RunStatusText));
            break;
        case TMixerState::msStopping: publish("program", "status", Status(scBusy, display)); break;
        case TMixerState::msStopFailed: publish("program", "status", Status(scError, CouldNotStopFlow)); break;
        case TMixerState::msReady:
            publish("program", "status", Status(scIdle, m.StepProgram.empty() ? NoSegmentProgram : "ready to start"));
            break;
        case TMixerState::msSimulation: publish("program", "status", Status(scIdle, InstrumentsNotInitialized)); break;
    }

    // The parts that cost more are published every tenth call, and after every command.
    if (++pollsSinceSlow_ >= 10) {
        pollsSinceSlow_ = 0;
        PublishSlow(t);
    }
}

void TMixerNode::PublishSlow(double t) {
    const TMixer& m = run_.Mixer;
    const TForm1& f = m.Form;
    auto publish = [&](const char* module, const char* parameter, const json& value) {
        node_.Publish(module, parameter, value, t);
    };
    publish("gas_a", "gas", GasName(m.MFCADetails));
    publish("gas_b", "gas", GasName(m.MFCBDetails));
    const TGasItem& fluid = m.PumpDetails.Fluid;
    publish("fluid", "name", !fluid.GasNameLong.empty() ? fluid.GasNameLong : fluid.GasNameMFC);

    std::vector<TProgramSegment> segments;
    for (const TGasItem& s : m.StepProgram) segments.push_back(ProgramFileSegment(s));
    publish("program", "program_text", FormatProgramFile(segments));
    publish("program", "recipe_file", std::filesystem::path(run_.RecipePath).filename().string());
    publish("program", "data_file", std::filesystem::path(run_.DataFile.Path()).filename().string());

    // The outlet: the running segment, or else the mixture on the design page.
    const TSegmentParts parts = SegmentParts(run_);
    const TGasItem& mixture = parts.Running ? m.StepProgram[static_cast<size_t>(m.CurrentStep)] : m.DesignedMixture;
    TComponentDictionary dictionary;
    CollectComponents(mixture, dictionary);
    const TMixtureFigures figures =
        MixtureFigures(dictionary, f.RtDoubleEditCustomTemp.Value(), f.RtDoubleEditCustomPressure.Value());
    json components = json::array();
    double humidity = 0;
    for (const TMixtureFigureEntry& e : figures.Entries) {
        if (e.HasFraction && components.size() < 64) components.push_back(json::array({e.Key, e.Ppm}));
        if (e.HasHumidity) humidity = e.Humidity;
    }
    publish("outlet", "value", humidity);
    publish("outlet", "components", components);
    publish("outlet", "fluid_ppm", figures.HasFluidPpm ? figures.FluidPpm : 0.0);
    publish("outlet", "status", figures.ExceedsFluidLimit ? Status(scWarn, "the fluid lies above its ppm limit")
                                : components.empty()      ? Status(scIdle, "no mixture")
                                                          : Status(scIdle, parts.Running ? "running segment" : "designed mixture"));
}

std::string TMixerNode::Start(std::string& failureClass) {
    TMixer& m = run_.Mixer;
    if (!AllowRemoteControl) {
        failureClass = error::Impossible;
        return RemoteControlRefusal;
    }
    capture_.Begin();
    ButtonApplyClick(run_);
    const std::vector<std::string> shown = capture_.End();
    if (m.MixerState == TMixerState::msOperating && WorkerRunning(run_)) return {};
    failureClass = error::Impossible;
    return shown.empty() ? std::string("the program did not start") : JoinLines(shown);
}

std::string TMixerNode::StopProgram(std::string& failureClass) {
    capture_.Begin();
    ButtonStopClick(run_);
    const std::vector<std::string> shown = capture_.End();
    if (run_.Mixer.MixerState == TMixerState::msSimulation) {
        failureClass = error::Impossible;
        return shown.empty() ? std::string(InstrumentsNotInitialized) : JoinLines(shown);
    }
    return {};
}

void TMixerNode::Execute(const secop::TRequest& r) {
    const secop::TMessage& msg = r.Message;
    const std::string spec = msg.Specifier;
    auto fail = [&](const std::string& errorClass, const std::string& text) {
        node_.Reply(r.Client, secop::ErrorMessage(msg.Action, spec, errorClass, text));
    };
    auto done = [&](const char* reply, const json& value) {
        const json report = secop::DataReport(value, secop::UnixTimeNow());
        node_.Reply(r.Client, secop::FormatMessage(reply, spec, &report));
    };
    std::string failureClass;
    if (msg.Action == "change" && spec == "program:target") {
        const json& v = *msg.Data;
        if (!v.is_number_integer() || (v.get<int64_t>() != 0 && v.get<int64_t>() != 1))
            return fail(error::BadValue, "program:target takes 1 (start) or 0 (stop)");
        const std::string refusal = v.get<int64_t>() == 1 ? Start(failureClass) : StopProgram(failureClass);
        if (!refusal.empty()) return fail(failureClass, refusal);
        return done("changed", v);
    }
    if (msg.Action == "do" && spec == "program:start") {
        const std::string refusal = Start(failureClass);
        if (!refusal.empty()) return fail(failureClass, refusal);
        return done("done", nullptr);
    }
    if (msg.Action == "do" && spec == "program:stop") {
        const std::string refusal = StopProgram(failureClass);
        if (!refusal.empty()) return fail(failureClass, refusal);
        return done("done", nullptr);
    }
    if (msg.Action == "do" && spec == "program:load") {
        if (!AllowRemoteControl) return fail(error::Impossible, RemoteControlRefusal);
        if (!msg.Data || !msg.Data->is_string())
            return fail(error::BadValue, "program:load takes the program as text in the program file format");
        const bool underWay = RunUnderWay(run_.Mixer);
        capture_.Begin();
        const TProgramOpenOutcome outcome = OpenProgramText(run_.Mixer, msg.Data->get<std::string>(), "from the remote client");
        const std::vector<std::string> shown = capture_.End();
        if (!outcome.Opened)
            return fail(underWay ? error::Impossible : error::BadValue,
                        JoinLines(outcome.Lines.empty() ? shown : outcome.Lines));
        return done("done", JoinLines(outcome.Lines));
    }
    fail(error::InternalError, "not handled");
}

}  // namespace moirex
