#include "devices/SerialPort.h"

#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/wait.h>

#include <chrono>
#include <future>
#include <memory>

#include "devices/PtyPeer.h"
#include "support/Log.h"

namespace moirex {
namespace {

using testing::Bytes;
using testing::ScriptedPeer;
using testing::ToBytes;
using Ms = std::chrono::milliseconds;

double ElapsedMs(std::chrono::steady_clock::time_point since) {
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - since).count();
}

void ControllerSettings(TSerialPort& port, const std::string& path) {
    port.SetPort(path);
    port.SetBaudRate(9600);
    port.SetStopBits(2);
    port.SetParity(0);
    port.SetWindowsReadLoopTimeoutMS(10);
    port.SetReadoutTimeoutMS(50);
}

TEST(SerialPort, DefaultsAreThePumpSettings) {
    TSerialPort port;
    EXPECT_FALSE(port.Debug());
    EXPECT_EQ(port.DebugMSG(), "");
    EXPECT_EQ(port.Port(), "");
    EXPECT_EQ(port.WindowsReadLoopTimeoutMS(), 333u);
    EXPECT_EQ(port.ReadoutTimeoutMS(), 1000u);
    EXPECT_EQ(port.BaudRate(), 9600);
    EXPECT_EQ(port.StopBits(), 0);
    EXPECT_EQ(port.Parity(), 0);
}

TEST(SerialPort, BareNameMeansDevFolder) {
    EXPECT_EQ(TSerialPort::DevicePath("ttyUSB0"), "/dev/ttyUSB0");
    EXPECT_EQ(TSerialPort::DevicePath("/dev/serial/by-id/usb-x"), "/dev/serial/by-id/usb-x");
}

TEST(SerialPort, PortThatCannotBeUsedIsReportedInUse) {
    // A missing device, a file that is no serial device, and a line rate the port refuses.
    for (const std::string path : {"/dev/moirex-no-such-port", "ttyMoirexMissing", "/dev/null"}) {
        TSerialPort port;
        port.SetPort(path);
        EXPECT_EQ(port.Send2("ZQ\r", true).Status, kStatusPortInUse) << path;
        const uint8_t frame[] = {1, 3, 0, 0, 0, 2};
        TSerialResponse r = port.SendData(frame, sizeof frame, true);
        EXPECT_EQ(r.Status, kStatusPortInUse) << path;
        EXPECT_EQ(r.ResponseLength, 0);
    }
    ScriptedPeer peer([](const Bytes&) { return ToBytes("x"); });
    TSerialPort port;
    port.SetPort(peer.Path());
    port.SetBaudRate(12345);
    EXPECT_EQ(port.Send2("ZQ\r", true).Status, kStatusPortInUse);
    EXPECT_TRUE(peer.Requests().empty());
}

TEST(SerialPort, InvalidHandleIsRefusedBySetupCalls) {
    TSerialPort port;
    EXPECT_FALSE(port.SetDCBState(-1));
    EXPECT_FALSE(port.SetTimeOuts(-1));
    EXPECT_FALSE(port.SetBuffers(-1));
}

// A driver that refuses one of the set-up steps.
class RefusingPort : public TSerialPort {
public:
    bool refuseTimeouts = false;
    bool refuseBuffers = false;
    bool SetTimeOuts(int fd) override { return !refuseTimeouts && TSerialPort::SetTimeOuts(fd); }
    bool SetBuffers(int fd) override { return !refuseBuffers && TSerialPort::SetBuffers(fd); }
};

TEST(SerialPort, RefusedSetupStepsNameTheStep) {
    ScriptedPeer peer;
    for (int step = 0; step < 2; ++step) {
        RefusingPort port;
        port.SetPort(peer.Path());
        port.refuseTimeouts = step == 0;
        port.refuseBuffers = step == 1;
        const char* expected = step == 0 ? kStatusTimeoutsRefused : kStatusBuffersRefused;
        EXPECT_EQ(port.Send2("ZQ\r", true).Status, expected);
        const uint8_t frame[] = {1};
        EXPECT_EQ(port.SendData(frame, 1, true).Status, expected);
        // The port was closed on that path: a normal exchange gets it.
        TSerialPort plain;
        plain.SetPort(peer.Path());
        EXPECT_EQ(plain.SendData(frame, 1, false).Status, "");
    }
}

TEST(SerialPort, SecondOpenerInThisProcessIsRefused) {
    ScriptedPeer peer;  // silent: the first exchange holds the port until its deadline
    TSerialPort holder;
    holder.SetPort(peer.Path());
    holder.SetWindowsReadLoopTimeoutMS(20);
    holder.SetReadoutTimeoutMS(400);
    auto first = std::async(std::launch::async, [&] { return holder.Send2("ZQ\r", true); });
    std::this_thread::sleep_for(Ms(150));

    TSerialPort second;
    ControllerSettings(second, peer.Path());
    const uint8_t frame[] = {1, 3, 0, 0, 0, 2};
    EXPECT_EQ(second.SendData(frame, sizeof frame, true).Status, kStatusPortInUse);
    EXPECT_EQ(second.Send2("ZQ\r", false).Status, kStatusPortInUse);

    EXPECT_EQ(first.get().Status, kStatusTextTimeout);
    // Closed again: the next exchange gets the port.
    EXPECT_EQ(second.SendData(frame, sizeof frame, false).Status, "");
}

TEST(SerialPort, SecondOpenerInAnotherProcessIsRefused) {
    ScriptedPeer peer;
    // Another process holds the port the way this program does...
    int toParent[2];
    ASSERT_EQ(::pipe(toParent), 0);
    int toChild[2];
    ASSERT_EQ(::pipe(toChild), 0);
    pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        int fd = ::open(peer.Path().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        char ok = (fd >= 0 && ::flock(fd, LOCK_EX | LOCK_NB) == 0) ? '1' : '0';
        (void)!::write(toParent[1], &ok, 1);
        char go;
        (void)!::read(toChild[0], &go, 1);
        ::_exit(0);
    }
    char ok = 0;
    ASSERT_EQ(::read(toParent[0], &ok, 1), 1);
    ASSERT_EQ(ok, '1');
    TSerialPort port;
    port.SetPort(peer.Path());
    EXPECT_EQ(port.Send2("ZQ\r", false).Status, kStatusPortInUse);
    (void)!::write(toChild[1], "g", 1);
    int status = 0;
    ::waitpid(child, &status, 0);
    EXPECT_EQ(port.Send2("ZQ\r", false).Status, kStatusNoReplyWanted);

    // ...and, the other way round, a process that tries while this one holds the port fails.
    TSerialPort holder;
    holder.SetPort(peer.Path());
    holder.SetWindowsReadLoopTimeoutMS(20);
    holder.SetReadoutTimeoutMS(400);
    auto first = std::async(std::launch::async, [&] { return holder.Send2("ZQ\r", true); });
    std::this_thread::sleep_for(Ms(150));
    child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        int fd = ::open(peer.Path().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        ::_exit(fd >= 0 && ::flock(fd, LOCK_EX | LOCK_NB) != 0 ? 0 : 1);
    }
    ::waitpid(child, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "the other process got the port";
    first.get();
    for (int fd : {toParent[0], toParent[1], toChild[0], toChild[1]}) ::close(fd);
}

TEST(SerialPort, SilentDeviceEndsAfterTheDeadline) {
    ScriptedPeer peer;
    {
        // The pump's settings: the read-out time-out plus at most one poll period. (A line of
        // an earlier test may have had this name and been left unsettled; no quiet wait here.)
        TSerialPort port;
        port.SetPort(peer.Path());
        port.SetQuietLineMS(0);
        auto start = std::chrono::steady_clock::now();
        TSerialResponse r = port.Send2("ZQ\r", true);
        double ms = ElapsedMs(start);
        EXPECT_EQ(r.Status, kStatusTextTimeout);
        EXPECT_EQ(r.Response, "");
        EXPECT_GE(ms, 1000);
        EXPECT_LE(ms, 1333 + 150);
    }
    {
        // The controllers' settings: the first poll period, the request's time on the wire and
        // t3.5, then the read-out time-out.
        TSerialPort port;
        ControllerSettings(port, peer.Path());
        port.SetQuietLineMS(0);
        const uint8_t frame[] = {1, 3, 0, 0, 0, 2, 0xC4, 0x0B};
        auto start = std::chrono::steady_clock::now();
        TSerialResponse r = port.SendData(frame, sizeof frame, true);
        double ms = ElapsedMs(start);
        EXPECT_EQ(r.Status, kStatusByteTimeout);
        EXPECT_EQ(r.ResponseLength, 0);
        EXPECT_GE(ms, 9.2 + 4 + 50);
        EXPECT_LE(ms, 9.2 + 4 + 60 + 10 + 100);
    }
}

TEST(SerialPort, WithoutWaitingTheMessageLeavesAsItIs) {
    ScriptedPeer peer([](const Bytes&) { return ToBytes("/0`\x03\r\n"); });
    TSerialPort port;
    port.SetPort(peer.Path());
    TSerialResponse r = port.Send2("/1ZR\r", false);
    EXPECT_EQ(r.Status, kStatusNoReplyWanted);
    EXPECT_EQ(r.Response, "");
    EXPECT_EQ(r.SentMessage, "/1ZR\r");
    std::this_thread::sleep_for(Ms(30));

    ControllerSettings(port, peer.Path());
    const uint8_t frame[] = {2, 6, 0x41, 0x39, 0, 3, 0x0D, 0xC9};
    r = port.SendData(frame, sizeof frame, false);
    EXPECT_EQ(r.Status, "");
    EXPECT_EQ(r.ResponseLength, 0);

    std::this_thread::sleep_for(Ms(50));
    auto requests = peer.Requests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[0], ToBytes("/1ZR\r"));  // no terminator added
    EXPECT_EQ(requests[1], Bytes(frame, frame + sizeof frame));
}

TEST(SerialPort, TextAnswerIsTrimmedAndCutAt80Bytes) {
    struct Case {
        std::string answer;
        std::string expected;
    };
    const std::string long100(100, 'A');
    const Case cases[] = {
        {"/0`50\x03\r\n", "/0`50"},
        {"\r\n\x01 /0@ \x03\r\n", "/0@"},
        {long100, std::string(80, 'A')},
        {"\xB5l", "\xC2\xB5l"},  // an 8-bit character arrives as text
    };
    for (const Case& c : cases) {
        ScriptedPeer peer([&](const Bytes&) { return ToBytes(c.answer); });
        TSerialPort port;
        port.SetPort(peer.Path());
        port.SetWindowsReadLoopTimeoutMS(20);
        port.SetReadoutTimeoutMS(300);
        TSerialResponse r = port.Send2("/1?\r", true);
        EXPECT_EQ(r.Status, "");
        EXPECT_EQ(r.Response, c.expected);
        if (c.answer.size() > 80) {
            // The rest is gone with the close; the next exchange does not see it.
            peer.SetReply([](const Bytes&) { return ToBytes("next\r"); });
            EXPECT_EQ(port.Send2("/1?\r", true).Response, "next");
        }
    }
}

TEST(SerialPort, ByteAnswerIsKeptWholeAndCutAt256Bytes) {
    Bytes answer = {1, 3, 4, 0x3F, 0x80, 0x12, 0x34, 0xAA, 0x00};
    // The peer's thread may still be answering when the test's locals go: the answers are copies.
    ScriptedPeer peer([answer](const Bytes&) { return answer; });
    TSerialPort port;
    ControllerSettings(port, peer.Path());
    const uint8_t frame[] = {1, 3, 0, 0, 0, 2, 0xC4, 0x0B};
    TSerialResponse r = port.SendData(frame, sizeof frame, true);
    EXPECT_EQ(r.Status, "");
    ASSERT_EQ(r.ResponseLength, 9);
    EXPECT_EQ(r.Response, std::string(answer.begin(), answer.end()));  // untrimmed, zero byte kept
    EXPECT_TRUE(std::equal(answer.begin(), answer.end(), r.rArray.begin()));
    EXPECT_EQ(r.ValueOfFirstWord, 0x3F80);
    EXPECT_EQ(r.ValueOfSecondWord, 0x1234);

    Bytes longAnswer(300);
    for (size_t i = 0; i < longAnswer.size(); ++i) longAnswer[i] = static_cast<uint8_t>(i);
    peer.SetReply([longAnswer](const Bytes&) { return longAnswer; });
    r = port.SendData(frame, sizeof frame, true);
    EXPECT_EQ(r.Status, "");
    EXPECT_EQ(r.Response.size(), 256u);
    EXPECT_EQ(r.rArray[255], 255);
    EXPECT_EQ(r.ResponseLength, 255);  // the 8-bit count cannot hold 256; it must not read as 0

    // A short answer: the words it does not hold are 0.
    peer.SetReply([](const Bytes&) { return Bytes{1, 0x83, 2}; });
    r = port.SendData(frame, sizeof frame, true);
    EXPECT_EQ(r.ResponseLength, 3);
    EXPECT_EQ(r.ValueOfFirstWord, 0);
    EXPECT_EQ(r.ValueOfSecondWord, 0);
}

TEST(SerialPort, BytesAfterACompleteAnswerWithinTheFrameAreKept) {
    // The device keeps sending after the frame it announced: the bytes belong to the same frame,
    // so the caller sees an over-long answer instead of a good one with extras left on the line.
    ScriptedPeer peer([](const Bytes&) { return Bytes{1, 3, 2, 0, 7, 0xF9, 0x86, 0xEE, 0xEE, 0xEE}; });
    TSerialPort port;
    ControllerSettings(port, peer.Path());
    const uint8_t frame[] = {1, 3, 0, 0x0C, 0, 1, 0x44, 0x09};
    const auto seven = [](std::span<const uint8_t>) -> size_t { return 7; };
    TSerialResponse r = port.SendData(frame, sizeof frame, true, seven);
    EXPECT_EQ(r.Status, "");
    EXPECT_EQ(r.ResponseLength, 10);

    // A frame of the announced length ends t3.5 after its last byte, not after the 20 ms gap.
    peer.SetReply([](const Bytes&) { return Bytes{1, 3, 2, 0, 7, 0xF9, 0x86}; });
    const auto start = std::chrono::steady_clock::now();
    r = port.SendData(frame, sizeof frame, true, seven);
    EXPECT_EQ(r.ResponseLength, 7);
    EXPECT_LT(ElapsedMs(start), 10 + 9.2 + 4 + 40);
}

TEST(SerialPort, LateAnswerIsThrownAwayBeforeTheNextRequest) {
    // Two requests of the same shape: only timing tells their answers apart. The first answer
    // comes after its exchange has given up; the second exchange must not take it for its own.
    ScriptedPeer peer([](const Bytes& request) { return Bytes{request[3], request[3], request[3]}; });
    TSerialPort port;
    ControllerSettings(port, peer.Path());
    port.SetQuietLineMS(150);
    const auto length = [](std::span<const uint8_t>) -> size_t { return 3; };
    const uint8_t first[] = {1, 3, 0, 0xA1, 0, 2, 0, 0};
    const uint8_t second[] = {1, 3, 0, 0xB2, 0, 2, 0, 0};
    peer.DelayMs = 100;
    TSerialResponse r = port.SendData(first, sizeof first, true, length);
    EXPECT_EQ(r.Status, kStatusByteTimeout);
    peer.DelayMs = 0;
    const auto start = std::chrono::steady_clock::now();
    r = port.SendData(second, sizeof second, true, length);
    EXPECT_EQ(r.Status, "");
    ASSERT_EQ(r.ResponseLength, 3);
    EXPECT_EQ(r.rArray[0], 0xB2);
    // The request waited for the late answer and then for the quiet line.
    EXPECT_GE(ElapsedMs(start), 150);

    // A good exchange leaves the line settled: the next request goes out at once.
    const auto again = std::chrono::steady_clock::now();
    r = port.SendData(first, sizeof first, true, length);
    EXPECT_EQ(r.rArray[0], 0xA1);
    EXPECT_LT(ElapsedMs(again), 100);
}

TEST(SerialPort, LateAnswerIsThrownAwayByTheNextProcessToo) {
    // moirexctl is one process a command: the process that lost the answer has ended before it
    // comes, and the next one must wait for it all the same.
    ScriptedPeer peer([](const Bytes& request) { return Bytes{request[3], request[3], request[3]}; });
    const auto length = [](std::span<const uint8_t>) -> size_t { return 3; };
    const uint8_t first[] = {1, 3, 0, 0xA1, 0, 2, 0, 0};
    const uint8_t second[] = {1, 3, 0, 0xB2, 0, 2, 0, 0};
    peer.DelayMs = 150;
    const pid_t child = ::fork();
    if (child == 0) {
        TSerialPort port;
        ControllerSettings(port, peer.Path());
        port.SetQuietLineMS(300);
        const TSerialResponse r = port.SendData(first, sizeof first, true, length);
        ::_exit(r.Status == kStatusByteTimeout ? 0 : 1);
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    peer.DelayMs = 0;
    TSerialPort port;
    ControllerSettings(port, peer.Path());
    port.SetQuietLineMS(300);
    const TSerialResponse r = port.SendData(second, sizeof second, true, length);
    EXPECT_EQ(r.Status, "");
    ASSERT_EQ(r.ResponseLength, 3);
    EXPECT_EQ(r.rArray[0], 0xB2);
}

TEST(SerialPort, CharacterAndFrameTimesFollowTheLineSettings) {
    TSerialPort port;
    EXPECT_NEAR(port.CharacterTimeMs(), 10 / 9.6, 1e-9);  // 8N1
    port.SetStopBits(2);
    EXPECT_NEAR(port.CharacterTimeMs(), 11 / 9.6, 1e-9);  // 8N2, the controllers
    EXPECT_NEAR(port.FrameGapMs(), 3.5 * 11 / 9.6, 1e-9);
    EXPECT_NEAR(port.WireTimeMs(59), 67.6, 0.05);
    port.SetParity(2);
    port.SetBaudRate(19200);
    EXPECT_NEAR(port.CharacterTimeMs(), 12 / 19.2, 1e-9);
}

TEST(SerialPort, TextExchangeWritesItsLogLines) {
    InitLogChannels();
    auto capture = std::make_shared<TLogCapture>();
    DefaultDestination().AttachCapture(capture);
    ScriptedPeer peer([](const Bytes&) { return ToBytes("/0`\x03\r\n"); });
    TSerialPort port;
    port.SetPort(peer.Path());
    port.SetWindowsReadLoopTimeoutMS(20);
    TSerialResponse r = port.Send2("ZQ\r", true);
    DefaultDestination().AttachCapture(nullptr);
    ASSERT_EQ(r.Status, "");

    std::vector<std::string> lines = capture->Messages("SerialPort");
    ASSERT_GE(lines.size(), 7u);
    EXPECT_EQ(lines[0], "PortName: " + peer.Path());
    EXPECT_EQ(lines[1], "Bytes written: 3");
    EXPECT_EQ(lines[2], "As string: ZQ");
    EXPECT_EQ(lines[3], "As ordinals: 90 81 13 ");
    EXPECT_EQ(lines[4], "Waiting for data or timeout");
    EXPECT_EQ(lines[lines.size() - 2], "Data read: /0`");
    EXPECT_EQ(lines.back().rfind("Duration:", 0), 0u) << lines.back();
    EXPECT_EQ(lines.back().size(), std::string("Duration:ss:zzz").size());
}

TEST(SerialPort, TextTimeoutAndNoReplyAreLogged) {
    InitLogChannels();
    auto capture = std::make_shared<TLogCapture>();
    DefaultDestination().AttachCapture(capture);
    ScriptedPeer peer;
    TSerialPort port;
    port.SetPort(peer.Path());
    port.SetWindowsReadLoopTimeoutMS(10);
    port.SetReadoutTimeoutMS(40);
    port.Send2("ZQ\r", true);
    port.Send2("ZQ\r", false);
    DefaultDestination().AttachCapture(nullptr);
    EXPECT_TRUE(capture->Contains("SerialPort", "Timeout"));
    EXPECT_TRUE(capture->Contains("SerialPort", kStatusTextTimeout));
    EXPECT_TRUE(capture->Contains("SerialPort", kStatusNoReplyWanted));
}

TEST(SerialPort, DebugTraceHasItsNinePoints) {
    ScriptedPeer peer([](const Bytes&) { return Bytes{1, 2, 3}; });
    TSerialPort port;
    ControllerSettings(port, peer.Path());
    const uint8_t frame[] = {1};
    port.SendData(frame, 1, true);
    EXPECT_EQ(port.DebugMSG(), "");  // off unless asked for
    port.SetDebug(true);
    port.SendData(frame, 1, true);
    const std::string trace = port.DebugMSG();
    for (int point = 1; point <= 9; ++point)
        EXPECT_NE(trace.find("Time  " + std::to_string(point) + ": "), std::string::npos) << point;
    EXPECT_EQ(trace.substr(trace.size() - 2), "\r\n");
    EXPECT_EQ(trace.find("Time  1: ") , 0u);
    EXPECT_EQ(trace.size(), 9 * std::string("Time  1: hh:nn:ss.zzz\r\n").size());
}

}  // namespace
}  // namespace moirex
