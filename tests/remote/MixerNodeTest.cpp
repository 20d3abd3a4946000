// The mixer's SEC node: its modules, the remote commands through the buttons' handlers with their
// refusals, and a whole run on the emulator driven from a client.

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <set>
#include <stdexcept>
#include <thread>

#include "ClientSupport.h"
#include "core/RunControllerFixture.h"
#include "remote/MixerNode.h"

namespace moirex {
namespace {

using nlohmann::json;
using testing_remote::SecopClient;
using testing_remote::StartsWith;

// The node on a mixer of the given fixture, listening on a free loopback port; Loop plays the
// owner's main loop (hand-overs, tick, node) while the client's lines are collected.
template <class Base>
class NodeOn : public Base {
protected:
    NodeOn() : capture(this->dlg), node(this->ctx, capture) {
        secop::TAddress a;
        a.Port = 0;
        std::string error;
        EXPECT_TRUE(node.Start(a, error)) << error;
    }
    ~NodeOn() override { node.Stop(); }

    // Runs the main loop until a line read by `c` satisfies `match` (that line), or `seconds` pass.
    std::optional<std::string> Loop(SecopClient& c, const std::function<bool(const std::string&)>& match,
                                    double seconds = 10) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
        auto last = std::chrono::steady_clock::now();
        while (std::chrono::steady_clock::now() < deadline) {
            this->handOver.processPending();
            Timer1Timer(this->ctx);
            node.Poll();
            const auto now = std::chrono::steady_clock::now();
            this->clock.Advance(std::chrono::duration<double>(now - last).count());
            last = now;
            while (auto line = c.ReadLine(0.005)) {
                seen.push_back(*line);
                if (match(*line)) return line;
            }
        }
        return std::nullopt;
    }
    std::optional<std::string> Request(SecopClient& c, const std::string& line, const std::string& replyPrefix,
                                       double seconds = 10) {
        if (!c.Send(line)) return std::nullopt;
        return Loop(c, [&](const std::string& l) { return StartsWith(l, replyPrefix) || StartsWith(l, "error_"); },
                    seconds);
    }

    TScriptedCapture capture;
    TMixerNode node;
    std::vector<std::string> seen;
};

using MixerNodeTest = NodeOn<testing_run::RunControllerBase>;
using MixerNodeRunTest = NodeOn<testing_run::RunOnEmulator>;

TEST_F(MixerNodeTest, DescribesTheSixModulesWithUnits) {
    SecopClient c(node.Port());
    const auto describing = c.Ask("describe");
    ASSERT_TRUE(describing && StartsWith(*describing, "describing . "));
    const json d = json::parse(describing->substr(13));
    const json& m = d["modules"];
    for (const auto& [name, cls] : std::vector<std::pair<std::string, std::string>>{
             {"mixer", "Readable"}, {"gas_a", "Readable"}, {"gas_b", "Readable"},
             {"fluid", "Readable"}, {"program", "Drivable"}, {"outlet", "Readable"}}) {
        ASSERT_TRUE(m.contains(name)) << name;
        EXPECT_EQ(m[name]["interface_classes"][0], cls) << name;
        EXPECT_TRUE(m[name]["accessibles"].contains("status")) << name;
    }
    EXPECT_EQ(m["gas_a"]["accessibles"]["value"]["datainfo"]["unit"], "g/min");
    EXPECT_EQ(m["outlet"]["accessibles"]["value"]["datainfo"]["unit"], "%");
    EXPECT_EQ(m["program"]["accessibles"]["load"]["datainfo"]["type"], "command");
    EXPECT_EQ(m["mixer"]["accessibles"]["value"]["datainfo"]["members"]["stop_failed"], 6);
    // Every parameter can be read at once, each with its time stamp.
    for (const auto& [module, body] : m.items())
        for (const auto& [name, acc] : body["accessibles"].items()) {
            if (acc["datainfo"]["type"] == "command") continue;
            const auto reply = c.Ask("read " + module + ":" + name);
            ASSERT_TRUE(reply && StartsWith(*reply, "reply " + module + ":" + name + " [")) << module << ":" << name;
            const json report = json::parse(reply->substr(reply->find('[')));
            EXPECT_TRUE(report[1]["t"].is_number()) << *reply;
        }
    // A flow that was never read is no −1, and says so.
    const std::string flow = c.Ask("read gas_a:value").value_or("");
    EXPECT_EQ(json::parse(flow.substr(flow.find('['))).at(0), 0.0) << flow;
    EXPECT_NE(c.Ask("read gas_a:status")->find("no reading yet"), std::string::npos);
}

TEST_F(MixerNodeTest, CommandsGoThroughTheButtonsHandlersWithTheirRefusals) {
    SecopClient c(node.Port());
    const std::string off = json(RemoteControlOff).dump();
    // Remote control off: load and start refused, stop allowed (here refused by its handler in
    // simulation, as the Stop button is).
    const struct {
        bool allowed;
        TMixerState state;
        const char* request;
        std::string reply;
    } cases[] = {
        {false, TMixerState::msReady, "do program:start", "error_do program:start [\"Impossible\"," + off},
        {false, TMixerState::msReady, "change program:target 1", "error_change program:target [\"Impossible\"," + off},
        {false, TMixerState::msReady, "do program:load \"x\"", "error_do program:load [\"Impossible\"," + off},
        {false, TMixerState::msSimulation, "do program:stop",
         "error_do program:stop [\"Impossible\",\"Instruments not initialized. Cannot proceed.\""},
        {true, TMixerState::msSimulation, "do program:start",
         "error_do program:start [\"Impossible\",\"Instruments not initialized. Cannot proceed.\""},
        {true, TMixerState::msReady, "do program:start",
         "error_do program:start [\"Impossible\",\"No segment program to execute.\""},
        {true, TMixerState::msReady, "change program:target 2", "error_change program:target [\"BadValue\","},
        {true, TMixerState::msReady, "do program:load 17", "error_do program:load [\"BadValue\","},
        {true, TMixerState::msReady, "do program:load \"name,hours\\nbad\"", "error_do program:load [\"BadValue\",\"Program from the remote client not opened:"},
        {true, TMixerState::msReady, "change mixer:value 1", "error_change mixer:value [\"ReadOnly\","},
        {true, TMixerState::msReady, "do program:nothing", "error_do program:nothing [\"NoSuchCommand\","},
    };
    for (const auto& k : cases) {
        node.AllowRemoteControl = k.allowed;
        mixer.MixerState = k.state;
        const auto reply = Request(c, k.request, "x");
        ASSERT_TRUE(reply) << k.request;
        EXPECT_TRUE(StartsWith(*reply, k.reply)) << k.request << "\n -> " << *reply;
        EXPECT_EQ(mixer.MixerState, k.state) << k.request;
    }
    // A refused start still leaves its recipe file, as the button's does.
    EXPECT_GE(testing_run::CountFiles(userdata), 1);
    // Stop in msReady is always allowed: the stop procedure runs again.
    node.AllowRemoteControl = false;
    mixer.MixerState = TMixerState::msReady;
    const auto reply = Request(c, "do program:stop", "done program:stop");
    ASSERT_TRUE(reply);
    EXPECT_TRUE(StartsWith(*reply, "done program:stop [null,{\"t\":")) << *reply;
    EXPECT_EQ(mixer.MixerState, TMixerState::msStopping);
}

// A handler that fails ends its command only: its client is told with an InternalError reply
// carrying the failure, and the next command is served as before.
TEST_F(MixerNodeTest, AHandlerThatFailsIsAnInternalErrorAndTheNodeGoesOn) {
    SecopClient c(node.Port());
    node.AllowRemoteControl = true;
    mixer.MixerState = TMixerState::msSimulation;
    // The Start handler's refusal is shown in a dialog: the dialog fails.
    dlg.onShown = [](const ScriptedDialogs::Entry&) { throw std::runtime_error("the dialog broke"); };
    auto reply = Request(c, "do program:start", "done program:start");
    ASSERT_TRUE(reply);
    EXPECT_TRUE(StartsWith(*reply, "error_do program:start [\"InternalError\",\"the command failed: the dialog broke\""))
        << *reply;
    dlg.onShown = nullptr;
    reply = Request(c, "do program:start", "done program:start");
    ASSERT_TRUE(reply);
    EXPECT_TRUE(StartsWith(*reply, "error_do program:start [\"Impossible\",\"Instruments not initialized. Cannot proceed.\""))
        << *reply;
    EXPECT_EQ(c.Ask("*IDN?"), "ISSE,SECoP,V2019-09-16,v1.0");
}

bool EveryFlowStopped(const sim::Emulator& emulator) {
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (std::chrono::steady_clock::now() < until) {
        const auto a = emulator.Mfc(sim::Instrument::MfcA);
        const auto b = emulator.Mfc(sim::Instrument::MfcB);
        if (a.SetPoint == 0 && b.SetPoint == 0 && a.Flow == 0 && b.Flow == 0 && !emulator.Pump().Busy) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return false;
}

TEST_F(MixerNodeRunTest, LoadStartUpdatesAndStopEndWithEveryFlowAtZero) {
    followRealTime = true;
    node.AllowRemoteControl = true;
    SecopClient c(node.Port()), watcher(node.Port());
    ASSERT_TRUE(watcher.Send("activate"));
    ASSERT_TRUE(Loop(watcher, [](const std::string& l) { return l == "active"; }));

    const std::string program =
        "name,hours,gas_a_ugpm,gas_b_ugpm,fluid_ugpm\n"
        "One,0.0003,10000,20000,0\n"
        "Two,1,10000,30000,0\n";
    const auto loaded = Request(c, "do program:load " + json(program).dump(), "done program:load");
    ASSERT_TRUE(loaded && StartsWith(*loaded, "done program:load [")) << loaded.value_or("none");
    EXPECT_EQ(mixer.StepProgram.size(), 2u);
    EXPECT_EQ(Request(c, "read program:segments", "reply")->substr(0, 27), "reply program:segments [2,{");

    const auto started = Request(c, "do program:start", "done program:start");
    ASSERT_TRUE(started && StartsWith(*started, "done program:start")) << *started;
    EXPECT_EQ(mixer.MixerState, TMixerState::msOperating);

    // The watcher hears the state change, the readings as they come and the segment change.
    std::set<std::string> heard;
    std::vector<double> stampsOfA;
    const auto second = Loop(watcher, [&](const std::string& l) {
        heard.insert(l.substr(0, l.find(" [")));
        if (StartsWith(l, "update gas_a:value")) stampsOfA.push_back(json::parse(l.substr(19))[1]["t"]);
        if (StartsWith(l, "update mixer:value")) {
            EXPECT_NE(l.find("[2,"), std::string::npos) << l;
        }
        return StartsWith(l, "update program:value [2,");
    }, 20);
    ASSERT_TRUE(second) << ::testing::PrintToString(heard);
    for (const char* p : {"update mixer:value", "update mixer:status", "update program:value", "update program:status",
                          "update gas_a:value", "update gas_b:value", "update gas_a:setpoint", "update fluid:command"})
        EXPECT_TRUE(heard.count(p)) << p << " in " << ::testing::PrintToString(heard);
    ASSERT_GE(stampsOfA.size(), 2u);
    EXPECT_TRUE(std::is_sorted(stampsOfA.begin(), stampsOfA.end()));
    const auto left = Request(c, "read program:program_time_left", "reply");
    ASSERT_TRUE(left);
    EXPECT_GT(json::parse(left->substr(left->find('[')))[0].get<double>(), 3000.0) << *left;

    // Load is refused while the program runs; stop is allowed even with remote control off.
    const auto refused = Request(c, "do program:load " + json(program).dump(), "done");
    EXPECT_TRUE(StartsWith(*refused, "error_do program:load [\"Impossible\"")) << *refused;
    node.AllowRemoteControl = false;
    const auto stopped = Request(c, "do program:stop", "done program:stop");
    ASSERT_TRUE(stopped && StartsWith(*stopped, "done program:stop")) << *stopped;
    ASSERT_TRUE(Loop(watcher, [](const std::string& l) { return StartsWith(l, "update mixer:value [1,"); }, 20));
    EXPECT_EQ(mixer.MixerState, TMixerState::msReady);
    EXPECT_TRUE(EveryFlowStopped(emulator)) << emulator.StatusJson();
    const auto stoppedValue = Request(c, "read program:value", "reply");
    EXPECT_TRUE(StartsWith(*stoppedValue, "reply program:value [0,")) << *stoppedValue;
}

}  // namespace
}  // namespace moirex
