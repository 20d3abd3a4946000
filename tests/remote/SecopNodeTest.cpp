// The SEC node over TCP with a small description of its own: the protocol's messages, the
// updates, and the inputs of a hostile or broken client.

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <thread>
#include <vector>

#include "ClientSupport.h"
#include "remote/SecopNode.h"

namespace moirex::secop {
namespace {

using nlohmann::json;
using testing_remote::SecopClient;
using testing_remote::StartsWith;

json TestDescription() {
    const json flow = {{"type", "double"}, {"unit", "g/min"}};
    json modules;
    modules["flow"] = {{"interface_classes", {"Readable"}},
                       {"accessibles",
                        {{"value", {{"datainfo", flow}, {"readonly", true}, {"description", "flow"}}},
                         {"limit", {{"datainfo", flow}, {"readonly", false}, {"description", "limit"}}},
                         {"reset", {{"datainfo", {{"type", "command"}}}, {"description", "reset"}}}}}};
    modules["other"] = {{"interface_classes", {"Readable"}},
                        {"accessibles", {{"value", {{"datainfo", flow}, {"readonly", true}, {"description", "x"}}}}}};
    return {{"equipment_id", "test"}, {"modules", modules}};
}

class SecopNodeTest : public ::testing::Test {
protected:
    explicit SecopNodeTest(TNodeLimits limits = {}) : node(TestDescription(), limits) {
        node.Publish("flow", "value", 1.5, 100);
        node.Publish("flow", "limit", 2.0, 100);
        node.Publish("other", "value", 7.0, 100);
        std::string error;
        TAddress address;
        address.Port = 0;
        EXPECT_TRUE(node.Start(address, error)) << error;
    }
    // The owner's side: answers every queued request with `reply` until `done` or 5 s.
    void Serve(const std::function<bool()>& done, const std::string& reply = "changed flow:limit [1,{}]\n") {
        const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        while (!done() && std::chrono::steady_clock::now() < until) {
            for (const TRequest& r : node.TakeRequests()) node.Reply(r.Client, reply);
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
    }
    TNode node;
};

TEST_F(SecopNodeTest, AnswersIdentificationDescribeReadAndPing) {
    SecopClient c(node.Port());
    ASSERT_TRUE(c.Connected());
    EXPECT_EQ(c.Ask("*IDN?"), "ISSE,SECoP,V2019-09-16,v1.0");
    const auto describing = c.Ask("describe");
    ASSERT_TRUE(describing && StartsWith(*describing, "describing . "));
    EXPECT_EQ(json::parse(describing->substr(13))["modules"]["flow"]["accessibles"]["value"]["datainfo"]["unit"], "g/min");
    EXPECT_EQ(c.Ask("read flow:value"), "reply flow:value [1.5,{\"t\":100.0}]");
    // A read without a parameter reads the value.
    EXPECT_EQ(c.Ask("read other"), "reply other:value [7.0,{\"t\":100.0}]");
    const auto pong = c.Ask("ping 17");
    ASSERT_TRUE(pong && StartsWith(*pong, "pong 17 [null,{\"t\":")) << pong.value_or("none");
    // Empty lines are no messages; CR LF line ends are taken.
    EXPECT_EQ(c.Ask("\r\n\nread flow:limit\r"), "reply flow:limit [2.0,{\"t\":100.0}]");
}

TEST_F(SecopNodeTest, ErrorRepliesCarryTheStandardsClasses) {
    SecopClient c(node.Port());
    const struct {
        const char* request;
        const char* reply;
    } cases[] = {
        {"read nomodule:value", "error_read nomodule:value [\"NoSuchModule\","},
        {"read flow:nothing", "error_read flow:nothing [\"NoSuchParameter\","},
        {"read flow:reset", "error_read flow:reset [\"NoSuchParameter\","},
        {"change flow:value 3", "error_change flow:value [\"ReadOnly\","},
        {"change flow:limit", "error_change flow:limit [\"ProtocolError\","},
        {"change flow:limit {bad", "error_change flow:limit [\"ProtocolError\","},
        {"do flow:limit", "error_do flow:limit [\"NoSuchCommand\","},
        {"do flow:nothing 1", "error_do flow:nothing [\"NoSuchCommand\","},
        {"do nomodule:reset", "error_do nomodule:reset [\"NoSuchModule\","},
        {"read", "error_read  [\"ProtocolError\","},
        {"meas:volt?", "error_meas:volt?  [\"ProtocolError\",\"unknown action\""},
        {"activate nomodule", "error_activate nomodule [\"NoSuchModule\","},
        {"read fl\x01ow:value", "error_read  [\"ProtocolError\","},
        {"{\"json\": true}", "error_{\"json\": true} [\"ProtocolError\""},
    };
    for (const auto& k : cases) {
        const auto reply = c.Ask(k.request);
        ASSERT_TRUE(reply) << k.request;
        EXPECT_TRUE(StartsWith(*reply, k.reply)) << k.request << " -> " << *reply;
        // Every error reply's data is [class, text, {}].
        const json report = json::parse(reply->substr(reply->find('[')), nullptr, false);
        ASSERT_TRUE(report.is_array() && report.size() == 3) << *reply;
        EXPECT_TRUE(report[2].is_object()) << *reply;
    }
    // The connection still serves.
    EXPECT_EQ(c.Ask("*IDN?"), "ISSE,SECoP,V2019-09-16,v1.0");
}

TEST_F(SecopNodeTest, ChangeAndDoWaitForTheOwnersReply) {
    SecopClient c(node.Port());
    ASSERT_TRUE(c.Send("change flow:limit 1"));
    std::vector<TRequest> taken;
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (taken.empty() && std::chrono::steady_clock::now() < until) {
        taken = node.TakeRequests();
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    ASSERT_EQ(taken.size(), 1u);
    EXPECT_EQ(taken[0].Message.Specifier, "flow:limit");
    EXPECT_EQ(*taken[0].Message.Data, 1);
    EXPECT_FALSE(c.ReadLine(0.1));
    node.Reply(taken[0].Client, "changed flow:limit [1,{\"t\":1.0}]\n");
    EXPECT_EQ(c.ReadLine(), "changed flow:limit [1,{\"t\":1.0}]");
}

TEST_F(SecopNodeTest, ActivateSendsEveryValueThenUpdatesAsTheyArrive) {
    SecopClient c(node.Port()), module(node.Port()), passive(node.Port());
    ASSERT_TRUE(c.Send("activate"));
    std::vector<std::string> initial;
    while (auto line = c.ReadLine()) {
        if (*line == "active") break;
        initial.push_back(*line);
    }
    // In the description's order (here none is given: by name).
    EXPECT_EQ(initial, (std::vector<std::string>{"update flow:limit [2.0,{\"t\":100.0}]",
                                                 "update flow:value [1.5,{\"t\":100.0}]",
                                                 "update other:value [7.0,{\"t\":100.0}]"}));
    ASSERT_TRUE(module.Send("activate other"));
    EXPECT_EQ(module.ReadLine(), "update other:value [7.0,{\"t\":100.0}]");
    EXPECT_EQ(module.ReadLine(), "active other");

    node.Publish("flow", "value", 1.5, 101);        // same value: no update
    node.Publish("flow", "value", 1.75, 102);       // a change
    node.Publish("flow", "value", 1.75, 103, true); // a new reading of the same value
    node.Publish("other", "value", 8.0, 104);
    EXPECT_EQ(c.ReadLine(), "update flow:value [1.75,{\"t\":102.0}]");
    EXPECT_EQ(c.ReadLine(), "update flow:value [1.75,{\"t\":103.0}]");
    EXPECT_EQ(c.ReadLine(), "update other:value [8.0,{\"t\":104.0}]");
    EXPECT_EQ(module.ReadLine(), "update other:value [8.0,{\"t\":104.0}]");
    EXPECT_FALSE(passive.ReadLine(0.1));
    EXPECT_EQ(c.Ask("read flow:value"), "reply flow:value [1.75,{\"t\":103.0}]");

    EXPECT_EQ(c.Ask("deactivate"), "inactive");
    node.Publish("flow", "value", 2.0, 105);
    EXPECT_EQ(c.Ask("*IDN?"), "ISSE,SECoP,V2019-09-16,v1.0");
}

TEST_F(SecopNodeTest, ManyClientsAtOnceEachAnsweredInOrder) {
    std::vector<std::unique_ptr<SecopClient>> clients;
    for (int i = 0; i < 12; ++i) clients.push_back(std::make_unique<SecopClient>(node.Port()));
    for (int i = 0; i < 12; ++i) ASSERT_TRUE(clients[i]->Send("ping " + std::to_string(i)));
    for (int i = 0; i < 12; ++i) {
        const auto pong = clients[i]->ReadLine();
        ASSERT_TRUE(pong) << i;
        EXPECT_TRUE(StartsWith(*pong, "pong " + std::to_string(i) + " ")) << *pong;
    }
}

TEST_F(SecopNodeTest, OverlongLineIsRefusedAndSkipped) {
    SecopClient c(node.Port());
    // 100 KiB without a line feed, then its end and a request.
    ASSERT_TRUE(c.SendRaw("read " + std::string(100 * 1024, 'x')));
    const auto refusal = c.ReadLine();
    ASSERT_TRUE(refusal);
    EXPECT_NE(refusal->find("ProtocolError"), std::string::npos) << *refusal;
    EXPECT_NE(refusal->find("65536"), std::string::npos) << *refusal;
    ASSERT_TRUE(c.SendRaw(std::string(50 * 1024, 'y') + "\n*IDN?\n"));
    EXPECT_EQ(c.ReadLine(), "ISSE,SECoP,V2019-09-16,v1.0");
    // A long line in one piece, line feed included.
    ASSERT_TRUE(c.Send("ping " + std::string(70 * 1024, 'z')));
    const auto second = c.ReadLine();
    ASSERT_TRUE(second);
    EXPECT_NE(second->find("ProtocolError"), std::string::npos);
    EXPECT_EQ(c.Ask("*IDN?"), "ISSE,SECoP,V2019-09-16,v1.0");
}

TEST_F(SecopNodeTest, ThousandsOfConnectsLeaveTheNodeServing) {
    for (int i = 0; i < 500; ++i) {
        SecopClient c(node.Port());
        ASSERT_TRUE(c.Connected()) << i;
        if (i % 2) c.Send("describe");
    }
    // The last of them may still take their places for a moment.
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (node.ClientCount() > 0 && std::chrono::steady_clock::now() < until)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_EQ(node.ClientCount(), 0u);
    SecopClient c(node.Port());
    // On a loaded machine the kernel's accept queue may have run over: its retry takes a second.
    EXPECT_EQ(c.Ask("*IDN?", 10), "ISSE,SECoP,V2019-09-16,v1.0");
}

// The owner's side never waits for a client: Publish returns at once however many updates the
// clients leave unread.
TEST_F(SecopNodeTest, ClientThatReadsNothingIsDropped) {
    SecopClient sleeper(node.Port()), reader(node.Port());
    ASSERT_TRUE(sleeper.Send("activate"));
    ASSERT_TRUE(reader.Send("activate"));
    ASSERT_TRUE(reader.ReadUntil([](const std::string& l) { return l == "active"; }));
    const std::string big(60000, 'v');
    for (int i = 0; i < 400; ++i) {
        node.Publish("other", "value", big + std::to_string(i), i);
        if (i % 20 == 0) {
            ASSERT_TRUE(reader.ReadUntil([&](const std::string& l) { return l.find(big + std::to_string(i)) != std::string::npos; }));
        }
    }
    // The sleeper's queue ran over its bound (4 MiB beyond what the kernel holds): dropped.
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (node.ClientCount() > 1 && std::chrono::steady_clock::now() < until)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_EQ(node.ClientCount(), 1u);
    EXPECT_EQ(reader.ReadUntil([](const std::string& l) { return l.find("399") != std::string::npos; }).has_value(), true);
}

class SecopNodeLimitsTest : public SecopNodeTest {
protected:
    static TNodeLimits Small() {
        TNodeLimits l;
        l.MaxClients = 8;
        return l;
    }
    SecopNodeLimitsTest() : SecopNodeTest(Small()) {}
};

TEST_F(SecopNodeLimitsTest, ClientsBeyondTheLimitAreClosedAtOnce) {
    std::vector<std::unique_ptr<SecopClient>> clients;
    for (int i = 0; i < 8; ++i) {
        clients.push_back(std::make_unique<SecopClient>(node.Port()));
        ASSERT_EQ(clients.back()->Ask("*IDN?"), "ISSE,SECoP,V2019-09-16,v1.0") << i;
    }
    SecopClient ninth(node.Port());
    ninth.Send("*IDN?");
    EXPECT_FALSE(ninth.ReadLine(2));
    EXPECT_TRUE(ninth.ClosedByNode());
    clients.pop_back();
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (node.ClientCount() > 7 && std::chrono::steady_clock::now() < until)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    SecopClient again(node.Port());
    EXPECT_EQ(again.Ask("*IDN?"), "ISSE,SECoP,V2019-09-16,v1.0");
}

TEST_F(SecopNodeLimitsTest, RequestsBeyondTheBoundWaitForTheOwner) {
    SecopClient c(node.Port());
    for (int i = 0; i < 5; ++i) ASSERT_TRUE(c.Send("change flow:limit " + std::to_string(i)));
    ASSERT_TRUE(c.Send("*IDN?"));
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    // One is queued for the owner; the rest wait, the identification behind them.
    std::vector<TRequest> first = node.TakeRequests();
    EXPECT_EQ(first.size(), 1u);
    EXPECT_FALSE(c.ReadLine(0.1));
    for (const TRequest& r : first) node.Reply(r.Client, "changed flow:limit [1,{}]\n");
    int changed = 0;
    Serve([&] {
        while (auto line = c.ReadLine(0.001)) {
            if (StartsWith(*line, "changed")) ++changed;
            if (StartsWith(*line, "ISSE")) return true;
        }
        return false;
    });
    EXPECT_EQ(changed, 5);
}

}  // namespace
}  // namespace moirex::secop
