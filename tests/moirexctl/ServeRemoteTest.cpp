// moirexctl serve driven by moirexctl remote, both as programs, against the instrument emulator:
// what a shell script of an experiment does with one mixer.

#include <gtest/gtest.h>
#include <signal.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "MoirexctlRunFixture.h"

namespace {

using namespace moirexctl_test;

// The port number of serve's line "Serving SECoP on ADDRESS (port N)"; empty while not there.
std::string ServingPort(const std::string& text) {
    const size_t line = text.find("Serving SECoP on ");
    if (line == std::string::npos) return {};
    const std::string mark = "(port ";
    const size_t at = text.find(mark, line);
    if (at == std::string::npos) return {};
    const size_t from = at + mark.size();
    const size_t end = text.find(')', from);
    if (end == std::string::npos || end == from) return {};
    const std::string digits = text.substr(from, end - from);
    return digits.find_first_not_of("0123456789") == std::string::npos ? digits : std::string();
}

// True when `stamp` is an ISO 8601 local time with milliseconds and its UTC offset,
// e.g. "2026-12-10T14:02:11.250+01:00".
bool IsIsoStampWithOffset(const std::string& stamp) {
    const std::string shape = "dddd-dd-ddTdd:dd:dd.ddd+dd:dd";
    if (stamp.size() != shape.size()) return false;
    for (size_t i = 0; i < shape.size(); ++i) {
        const char c = stamp[i];
        const bool ok = shape[i] == 'd' ? (c >= '0' && c <= '9') : shape[i] == '+' ? (c == '+' || c == '-') : c == shape[i];
        if (!ok) return false;
    }
    return true;
}

// The time stamp in front of the first line of `text` that holds `what`.
std::string StampBefore(const std::string& text, const std::string& what) {
    const size_t at = text.find(what);
    if (at == std::string::npos) return {};
    const size_t line = text.rfind('\n', at);
    const size_t from = line == std::string::npos ? 0 : line + 1;
    return text.substr(from, at - from);
}

class ServeRemoteTest : public MoirexctlRunTest {
protected:
    ~ServeRemoteTest() override {
        for (pid_t child : {watch, serve})
            if (child > 0) ExitStatusOf(child, 0);
    }

    // moirexctl serve on a free port, remote control allowed; false when it does not serve.
    bool Serve() {
        std::vector<std::string> args = {"serve", "--secop", "127.0.0.1:0", "--allow-remote-control"};
        for (const std::string& o : InstrumentOptions()) args.push_back(o);
        serve = Spawn(args, work / "serve.txt");
        if (!Within(60, [&] {
                const std::string number = ServingPort(ReadText(work / "serve.txt"));
                if (number.empty()) return false;
                port = ":" + number;
                return true;
            }))
            return false;
        return true;
    }

    // moirexctl remote PORT args...: its exit status, its output in `output`.
    int Remote(std::vector<std::string> args, std::string& output) {
        args.insert(args.begin(), {"remote", port});
        const fs::path file = work / ("remote-" + Unique() + ".txt");
        const int status = ExitStatusOf(Spawn(args, file), 60);
        output = ReadText(file);
        return status;
    }

    pid_t serve = -1, watch = -1;
    std::string port;
};

TEST_F(ServeRemoteTest, ScriptLoadsStartsWatchesASegmentChangeAndStopsEveryFlow) {
    ASSERT_TRUE(Serve()) << ReadText(work / "serve.txt");
    const fs::path program = work / "two segments.csv";
    std::ofstream(program) << "name,hours,gas_a_ugpm,gas_b_ugpm,fluid_ugpm\n"
                              "first,0.0005,10000,20000,0\nsecond,0.05,12000,20000,0\n";
    std::string out;
    ASSERT_EQ(Remote({"load", program.string()}, out), 0) << out;
    EXPECT_NE(out.find("done program:load "), std::string::npos) << out;
    ASSERT_EQ(Remote({"read", "program:segments"}, out), 0) << out;
    EXPECT_EQ(out.rfind("program:segments 2 ", 0), 0u) << out;
    EXPECT_EQ(Remote({"read", "no_such_module"}, out), 1) << out;
    EXPECT_NE(out.find("NoSuchModule"), std::string::npos) << out;

    const fs::path watched = work / "watch.txt";
    watch = Spawn({"remote", port, "watch"}, watched);
    ASSERT_TRUE(Within(30, [&] { return ReadText(watched).find(" program:value 0") != std::string::npos; }))
        << ReadText(watched);

    ASSERT_EQ(Remote({"start"}, out), 0) << out << ReadText(work / "serve.txt");
    EXPECT_TRUE(Within(30, [&] { return GasAFlowing(); })) << ReadText(work / "serve.txt");
    // The watch sees the first segment, then the change to the second, each with its time stamp.
    EXPECT_TRUE(Within(60, [&] { return ReadText(watched).find(" program:value 2") != std::string::npos; }))
        << ReadText(watched);
    const std::string seen = ReadText(watched);
    EXPECT_LT(seen.find(" program:value 1"), seen.find(" program:value 2")) << seen;
    EXPECT_TRUE(IsIsoStampWithOffset(StampBefore(seen, " program:value 2"))) << seen;

    ASSERT_EQ(Remote({"stop"}, out), 0) << out;
    // The mixer is ready again once the stop procedure has confirmed every flow stopped.
    const size_t running = seen.find(" program:value 2");
    EXPECT_TRUE(Within(30, [&] { return ReadText(watched).find(" mixer:value 1", running) != std::string::npos; }))
        << ReadText(watched);
    EXPECT_TRUE(EveryFlowStopped());

    ::kill(watch, SIGINT);
    EXPECT_EQ(ExitStatusOf(watch), 0) << ReadText(watched);
    watch = -1;
    ::kill(serve, SIGTERM);
    EXPECT_EQ(ExitStatusOf(serve), 128 + SIGTERM) << ReadText(work / "serve.txt");
    serve = -1;
    EXPECT_NE(ReadText(work / "serve.txt").find("Node closed: every flow stopped."), std::string::npos);
    EXPECT_TRUE(EveryFlowStopped());
}

}  // namespace
