// The emulator's ports as a client sees them: links, re-opening, unplugging, faults, pacing and
// the status file.

#include <fstream>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <thread>

#include <nlohmann/json.hpp>

#include "devices/ModbusCrc.h"
#include "sim/SimTestSupport.h"

namespace moirex::sim::testing {
namespace {

std::vector<uint8_t> ReadRequest(uint8_t slave, uint16_t address, uint16_t count) {
    std::vector<uint8_t> f{slave, 3, uint8_t(address >> 8), uint8_t(address), uint8_t(count >> 8), uint8_t(count)};
    AppendModbusCrc(f);
    return f;
}

bool Exists(const std::string& path) {
    struct stat st{};
    return ::lstat(path.c_str(), &st) == 0;
}

class PortTest : public EmulatorTest {
protected:
    std::vector<uint8_t> TypeRead() { return Exchange(Port(Instrument::MfcA), ReadRequest(1, 35, 4), 13); }
};

TEST_F(PortTest, LinksAppearAndVanishWithTheEmulator) {
    for (Instrument i : {Instrument::MfcA, Instrument::MfcB, Instrument::Pump}) {
        EXPECT_EQ(Port(i), folder + "/" + std::string(InstrumentName(i)));
        EXPECT_TRUE(Exists(Port(i)));
    }
    // One emulator a folder.
    EmulatorOptions o;
    o.RuntimeFolder = folder;
    EXPECT_THROW(Emulator second(o), std::runtime_error);
    std::string a = Port(Instrument::MfcA);
    sim->Stop();
    EXPECT_FALSE(Exists(a));
}

TEST_F(PortTest, ReopenForEveryExchangeLikeTheDrivers) {
    for (int i = 0; i < 20; ++i) ASSERT_EQ(TypeRead().size(), 13u) << "exchange " << i;

    // A client that held the port exclusively leaves it free when it closes, as a real port does.
    int fd = ::open(Port(Instrument::MfcA).c_str(), O_RDWR | O_NOCTTY);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::ioctl(fd, TIOCEXCL), 0);
    ::close(fd);
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    fd = ::open(Port(Instrument::MfcA).c_str(), O_RDWR | O_NOCTTY);
    ASSERT_GE(fd, 0);
    int exclusive = -1;
    ASSERT_EQ(::ioctl(fd, TIOCGEXCL, &exclusive), 0);
    EXPECT_EQ(exclusive, 0);
    ::close(fd);

    // An answer nobody waited for is gone: the next client does not read it.
    std::vector<uint8_t> write{1, 6, 0x41, 0x39, 0, 3};
    AppendModbusCrc(write);
    fd = ::open(Port(Instrument::MfcA).c_str(), O_RDWR | O_NOCTTY);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::write(fd, write.data(), write.size()), 8);
    ::close(fd);
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_EQ(sim->Mfc(Instrument::MfcA).ActiveTable, 3);
    EXPECT_TRUE(Exchange(Port(Instrument::MfcA), {}, 0, 100).empty());
}

TEST_F(PortTest, UnplugAndPlug) {
    int held = ::open(Port(Instrument::MfcA).c_str(), O_RDWR | O_NOCTTY);
    ASSERT_GE(held, 0);
    sim->Unplug(Instrument::MfcA);
    EXPECT_FALSE(Exists(Port(Instrument::MfcA)));
    EXPECT_FALSE(sim->Mfc(Instrument::MfcA).Plugged);
    uint8_t b;
    EXPECT_LE(::read(held, &b, 1), 0);  // the line hung up under the client
    ::close(held);
    EXPECT_TRUE(TypeRead().empty());
    EXPECT_EQ(TypeRead().size(), 0u);
    EXPECT_EQ(Exchange(Port(Instrument::MfcB), ReadRequest(2, 35, 4), 13).size(), 13u);  // the others go on

    sim->Plug(Instrument::MfcA);
    EXPECT_TRUE(Exists(Port(Instrument::MfcA)));
    EXPECT_TRUE(sim->Mfc(Instrument::MfcA).Plugged);
    EXPECT_EQ(TypeRead().size(), 13u);
    EXPECT_EQ(sim->Command("pump unplug"), "pump: unplugged\n");
    EXPECT_FALSE(Exists(Port(Instrument::Pump)));
    EXPECT_EQ(sim->Command("pump plug").rfind("pump: plugged in at /dev/pts/", 0), 0u);
    EXPECT_EQ(PumpExchange(Port(Instrument::Pump), "?22"), "/0`255\x03\r\n");
}

TEST_F(PortTest, AnswerFaults) {
    std::vector<uint8_t> good = TypeRead();
    ASSERT_EQ(good.size(), 13u);

    sim->Command("mfc-a crc");
    std::vector<uint8_t> a = TypeRead();
    ASSERT_EQ(a.size(), 13u);
    EXPECT_FALSE(ModbusCrcValid(a));
    EXPECT_TRUE(std::equal(good.begin(), good.end() - 2, a.begin()));
    EXPECT_EQ(TypeRead(), good);  // one answer only

    sim->Command("mfc-a exception 4");
    std::vector<uint8_t> exception{1, 0x83, 4};
    AppendModbusCrc(exception);
    EXPECT_EQ(TypeRead(), exception);
    sim->Command("mfc-a short on");
    EXPECT_EQ(TypeRead().size(), 6u);
    EXPECT_EQ(TypeRead().size(), 6u);
    sim->Command("mfc-a short off");
    sim->Command("mfc-a address");
    a = TypeRead();
    EXPECT_EQ(a[0], 2);
    EXPECT_TRUE(ModbusCrcValid(a));
    sim->Command("mfc-a garble");
    a = TypeRead();
    EXPECT_EQ(a.size(), 13u);
    EXPECT_FALSE(ModbusCrcValid(a));
    sim->Command("mfc-a silent on");
    EXPECT_TRUE(TypeRead().empty());
    sim->Command("mfc-a silent off");

    sim->Command("mfc-a delay 300");
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(Exchange(Port(Instrument::MfcA), ReadRequest(1, 35, 4), 13, 600).size(), 13u);
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(300));
    sim->ClearFaults(Instrument::MfcA);
    EXPECT_EQ(TypeRead(), good);

    sim->Command("pump short");
    EXPECT_EQ(PumpExchange(Port(Instrument::Pump), "Q"), "/0\x03\r\n");
}

TEST_F(PortTest, CommandLineRefusesWhatItDoesNotKnow) {
    for (const char* line : {"mfc-c silent on", "mfc-a", "mfc-a silent maybe", "mfc-a delay -5", "mfc-a delay x",
                             "pump exception 4", "pump refuse-setpoint on", "mfc-a busy on", "pump error 16",
                             "mfc-a exception 0", "frobnicate", "mfc-a at 0 silent", "mfc-a at 2",
                             "mfc-a at 2 loud", "pump at 1 exception 3", "mfc-a at 1 delay", "mfc-a at 1 crc on"}) {
        SCOPED_TRACE(line);
        EXPECT_THROW(sim->Command(line), std::invalid_argument);
    }
    EXPECT_EQ(sim->Command(""), "");
    EXPECT_NE(sim->Command("help").find("refuse-setpoint"), std::string::npos);
    EXPECT_NE(sim->Command("status").find("pump: /dev/pts/"), std::string::npos);
}

TEST_F(PortTest, FramesInPiecesAndGarbageBetween) {
    // A frame that arrives in two parts within the character gap is one frame; a torn frame is
    // dropped when the line goes quiet, and the next one is answered.
    int fd = ::open(Port(Instrument::MfcA).c_str(), O_RDWR | O_NOCTTY);
    ASSERT_GE(fd, 0);
    termios t{};
    ::tcgetattr(fd, &t);
    ::cfmakeraw(&t);
    ::tcsetattr(fd, TCSANOW, &t);
    auto readAll = [&](size_t want) {
        std::vector<uint8_t> got;
        while (got.size() < want) {
            pollfd p{fd, POLLIN, 0};
            if (::poll(&p, 1, 200) <= 0) break;
            uint8_t b[64];
            ssize_t n = ::read(fd, b, sizeof b);
            if (n <= 0) break;
            got.insert(got.end(), b, b + n);
        }
        return got;
    };
    std::vector<uint8_t> f = ReadRequest(1, 0, 2);
    ASSERT_EQ(::write(fd, f.data(), 3), 3);
    std::this_thread::sleep_for(std::chrono::microseconds(500));
    ASSERT_EQ(::write(fd, f.data() + 3, 5), 5);
    EXPECT_EQ(readAll(9).size(), 9u);
    ASSERT_EQ(::write(fd, f.data(), 5), 5);  // torn off
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    ASSERT_EQ(::write(fd, f.data(), f.size()), 8);
    std::vector<uint8_t> a = readAll(9);
    EXPECT_EQ(a.size(), 9u);
    EXPECT_TRUE(ModbusCrcValid(a));
    ::close(fd);
}

TEST_F(PortTest, StatusFileFollowsTheTrueState) {
    std::string status = folder + "/../status.json";
    EmulatorOptions o;
    o.StatusFile = status;
    Start(o);
    std::vector<uint8_t> sp{1, 0x10, 0, 6, 0, 2, 4, 0x3C, 0x23, 0xD7, 0x0A};  // 0.01 g/min
    AppendModbusCrc(sp);
    ASSERT_EQ(Exchange(Port(Instrument::MfcA), sp, 8).size(), 8u);
    clock.Advance(60);
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    std::ifstream in(status);
    ASSERT_TRUE(in);
    nlohmann::json j = nlohmann::json::parse(in);
    EXPECT_FLOAT_EQ(j["mfc-a"]["setpoint_gpm"].get<float>(), 0.01f);
    EXPECT_NEAR(j["mfc-a"]["mass_delivered_g"].get<double>(), 0.01 * (60 - 0.4) / 60, 1e-6);
    EXPECT_EQ(j["mfc-a"]["totalizer_unit"], "mln");
    EXPECT_EQ(j["mfc-a"]["active_table"], 2);
    EXPECT_EQ(j["mfc-b"]["setpoint_gpm"].get<float>(), 0.0f);
    EXPECT_EQ(j["pump"]["state"], "not initialised");
    EXPECT_EQ(j["pump"]["volume_dispensed_ul"].get<double>(), 0.0);
    EXPECT_EQ(j["pump"]["command"], "");
}

TEST_F(PortTest, PacedAnswersTakeTheirWireTime) {
    paced = true;
    Start();
    // The request of 8 bytes crosses the line, t3.5 of silence, then the answer of 13, 11 bits a
    // byte at 9600 baud.
    auto start = std::chrono::steady_clock::now();
    ASSERT_EQ(TypeRead().size(), 13u);
    auto took = std::chrono::steady_clock::now() - start;
    EXPECT_GE(took, std::chrono::microseconds(static_cast<int64_t>((8 + 3.5 + 13) * 11 * 1000000 / 9600)));
    EXPECT_LT(took, std::chrono::milliseconds(100));
}

TEST_F(PortTest, PacedControllerHearsNoRequestWhileTheLineIsBusy) {
    paced = true;
    Start();
    int fd = ::open(Port(Instrument::MfcA).c_str(), O_RDWR | O_NOCTTY);
    ASSERT_GE(fd, 0);
    termios t{};
    ::tcgetattr(fd, &t);
    ::cfmakeraw(&t);
    ::tcsetattr(fd, TCSANOW, &t);
    auto collect = [&](int quietMs) {
        std::vector<uint8_t> got;
        for (;;) {
            pollfd p{fd, POLLIN, 0};
            if (::poll(&p, 1, quietMs) <= 0) break;
            uint8_t b[128];
            ssize_t n = ::read(fd, b, sizeof b);
            if (n <= 0) break;
            got.insert(got.end(), b, b + n);
        }
        return got;
    };
    // A name read of 25 registers: 55 bytes, 63 ms on the wire. A second request sent while the
    // answer is under way collides with it: the controller does not take it for a request.
    const std::vector<uint8_t> name = ReadRequest(1, 0x6022, 25);
    const std::vector<uint8_t> type = ReadRequest(1, 35, 4);
    ASSERT_EQ(::write(fd, name.data(), name.size()), 8);
    std::this_thread::sleep_for(std::chrono::milliseconds(40));
    ASSERT_EQ(::write(fd, type.data(), type.size()), 8);
    EXPECT_EQ(collect(100).size(), 55u);
    EXPECT_EQ(sim->Mfc(Instrument::MfcA).TooEarly, 1u);
    // After the line has been quiet, the same request is answered.
    ASSERT_EQ(::write(fd, type.data(), type.size()), 8);
    EXPECT_EQ(collect(100).size(), 13u);
    ::close(fd);
}

TEST_F(PortTest, CommandsNeverWaitForADelayedAnswer) {
    paced = true;
    Start();
    sim->Command("mfc-a delay 3000");
    std::thread client([&] { Exchange(Port(Instrument::MfcA), ReadRequest(1, 35, 4), 13, 4000); });
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(Exchange(Port(Instrument::MfcB), ReadRequest(2, 35, 4), 13).size(), 13u);
    EXPECT_NE(sim->Command("status").find("mfc-a"), std::string::npos);
    EXPECT_EQ(sim->Command("mfc-a unplug"), "mfc-a: unplugged\n");
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(500));
    client.join();
    sim->Command("mfc-a plug");
}

TEST_F(PortTest, FaultAimedAtTheNthRequest) {
    std::vector<uint8_t> good = TypeRead();
    ASSERT_EQ(good.size(), 13u);
    EXPECT_EQ(sim->Command("mfc-a at 2 silent"), "mfc-a: silent on request 2 from now\n");
    sim->Command("mfc-a at 3 exception 3");
    EXPECT_EQ(TypeRead(), good);
    EXPECT_TRUE(TypeRead().empty());
    std::vector<uint8_t> exception{1, 0x83, 3};
    AppendModbusCrc(exception);
    EXPECT_EQ(TypeRead(), exception);
    EXPECT_EQ(TypeRead(), good);
    EXPECT_EQ(sim->RequestsSeen(Instrument::MfcA), 5u);

    // A delay on one answer only; a schedule that is cleared does nothing.
    sim->Command("mfc-a at 1 delay 200");
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(Exchange(Port(Instrument::MfcA), ReadRequest(1, 35, 4), 13, 400), good);
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(200));
    sim->Command("mfc-a at 1 silent");
    sim->Command("mfc-a clear");
    EXPECT_EQ(TypeRead(), good);

    sim->Command("pump at 2 short");
    EXPECT_EQ(PumpExchange(Port(Instrument::Pump), "Q"), "/0`\x03\r\n");
    EXPECT_EQ(PumpExchange(Port(Instrument::Pump), "Q"), "/0\x03\r\n");
    EXPECT_EQ(PumpExchange(Port(Instrument::Pump), "Q"), "/0`\x03\r\n");
}

}  // namespace
}  // namespace moirex::sim::testing
