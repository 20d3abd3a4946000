// The emulated syringe pump: its protocol on the port and its timing model.

#include <cmath>
#include <thread>

#include "sim/PumpModel.h"
#include "sim/SimTestSupport.h"

namespace moirex::sim::testing {
namespace {

std::string Answer(char status, const std::string& data = "") {
    return std::string("/0") + status + data + "\x03\r\n";
}

class PumpTest : public EmulatorTest {
protected:
    std::string Send(const std::string& command) { return PumpExchange(Port(Instrument::Pump), command); }
};

TEST_F(PumpTest, ConnectTypeInitialiseAndStatus) {
    EXPECT_EQ(Send("?22"), Answer('`', "255"));
    EXPECT_EQ(Send("?26"), Answer('`', "50"));
    // Busy while the initialisation runs, ready after it.
    EXPECT_EQ(Send("ZN2IV48000R"), Answer('`'));
    EXPECT_EQ(Send("Q"), Answer('@'));
    EXPECT_TRUE(sim->Pump().Busy);
    EXPECT_EQ(Send("A100R"), Answer('O'));  // a new command while busy is refused
    clock.Advance(3);
    EXPECT_EQ(Send("Q"), Answer('`'));
    EXPECT_TRUE(sim->Pump().Initialised);
    EXPECT_EQ(Send("?2"), Answer('`', "48000"));
    // A lone CR and other addresses get no answer.
    std::vector<uint8_t> cr{'\r'};
    EXPECT_TRUE(Exchange(Port(Instrument::Pump), cr, 0, 100).empty());
    EXPECT_EQ(Send(""), Answer('`'));  // "/1" alone: the status
    std::string other = "/2Q\r";
    EXPECT_TRUE(Exchange(Port(Instrument::Pump), std::vector<uint8_t>(other.begin(), other.end()), 0, 100).empty());
}

TEST_F(PumpTest, OlderTypeAnswers75) {
    EmulatorOptions o;
    o.PumpType = 75;
    Start(o);
    EXPECT_EQ(Send("?26"), Answer('`', "75"));
}

TEST_F(PumpTest, ErrorsAreReportedInTheStatusCharacter) {
    struct Case {
        const char* command;
        char status;
    } cases[] = {
        {"A100R", 'g'},      // plunger move before initialisation
        {"OR", 'g'},         // valve move before initialisation
        {"JR", 'b'},         // no such command
        {"ZA30000R", 'c'},   // position beyond the stroke
        {"ZV0R", 'c'},       // speed 0
        {"ZAR", 'c'},        // move without a position
        {"ZgA10R", 'd'},     // loop never closed
        {"ZG5R", 'd'},       // loop end without a beginning
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.command);
        EXPECT_EQ(Send(c.command), Answer(c.status));
        EXPECT_EQ(Send("Q"), Answer(c.status));  // the error stays until the next command
        EXPECT_FALSE(sim->Pump().Busy);
    }
    EXPECT_EQ(Send("ZR"), Answer('`'));
    clock.Advance(3);
    EXPECT_EQ(Send("Q"), Answer('`'));
    // The valve in bypass forbids plunger moves; that shows while the program runs.
    EXPECT_EQ(Send("BA100R"), Answer('`'));
    clock.Advance(1);
    EXPECT_EQ(Send("Q"), Answer('k'));
}

TEST_F(PumpTest, StuckBusyAndInjectedErrors) {
    sim->SetPumpStuckBusy(true);
    EXPECT_EQ(Send("T"), Answer('@'));
    EXPECT_EQ(Send("Q"), Answer('@'));
    EXPECT_EQ(Send("ZR"), Answer('O'));
    sim->SetPumpStuckBusy(false);
    EXPECT_EQ(Send("Q"), Answer('`'));

    EXPECT_EQ(sim->Command("pump error 9"), "pump: error 9\n");
    EXPECT_EQ(Send("Q"), Answer('i'));
    EXPECT_EQ(Send("IR"), Answer('i'));        // refused while in error
    EXPECT_EQ(Send("ZR"), Answer('`'));        // initialising clears it
    clock.Advance(3);
    EXPECT_EQ(Send("Q"), Answer('`'));
}

TEST_F(PumpTest, TerminateStopsTheDosingLoopWhereItIs) {
    EXPECT_EQ(Send("ZR"), Answer('`'));
    clock.Advance(3);
    EXPECT_EQ(Send("gIV6000A24000OV1000A0GR"), Answer('`'));
    clock.Advance(1.0 + 2 * PumpModel::kValveMove_s + 0.5);  // filled, valve out, pushing
    EXPECT_EQ(Send("Q"), Answer('@'));
    EXPECT_EQ(Send("T"), Answer('`'));
    PumpState p = sim->Pump();
    EXPECT_FALSE(p.Busy);
    EXPECT_EQ(p.Valve, 'O');
    EXPECT_GT(p.Position, 0);
    EXPECT_LT(p.Position, 24000);
    EXPECT_NEAR(p.VolumeDispensed_ul, (24000 - p.Position) * 12.5 / 24000, 1e-9);
    clock.Advance(10);
    EXPECT_EQ(sim->Pump().Position, p.Position);
}

// The looping dosing commands dispense at the rate the pump speed function models for them.
TEST(PumpModelTest, DosingLoopsDispenseAtTheModelledRate) {
    struct Case {
        std::string command;
        double stroke_s;  // period of one fill and dispense
    } cases[] = {
        {"gIV6000A24000OV5A0GR", 24000.0 / 5 / 4 * 1.000319 + 1.668},
        {"gIV6000A24000OV1000A0GR", 24000.0 / 1000 / 4 * 1.000319 + 1.668},
        {"gIV6000A24000OV1000gD1M5G24000GR", ((5 + 0.44) * 24000 + 1039200) / 1000 + 1.668},
        {"gIV6000A24000OV1000gD1M1000G24000GR", ((1000 + 0.44) * 24000 + 1039200) / 1000 + 1.668},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.command);
        PumpModel pump(50, 12.5);
        ASSERT_EQ(pump.Handle("/1ZR", 0), "/0`\x03\r\n");
        pump.Advance(10);
        ASSERT_EQ(pump.Handle("/1" + c.command, 10), "/0`\x03\r\n");
        // Whole strokes, the valve turn into the loop aside: the first stroke starts with the
        // valve already at the input.
        const int strokes = 5;
        double end = 10 + strokes * c.stroke_s - PumpModel::kValveMove_s;
        pump.Advance(end - 1e-6);
        EXPECT_NEAR(pump.VolumeDispensed_ul(), (strokes - 1) * 12.5 + 12.5 * (1 - 1e-6), 1e-3);
        pump.Advance(end + 1e-6);
        EXPECT_NEAR(pump.VolumeDispensed_ul(), strokes * 12.5, 1e-6);
        EXPECT_TRUE(pump.Busy());
    }
}

TEST(PumpModelTest, CommandsWithoutRWaitForR) {
    PumpModel pump(50, 12.5);
    pump.Handle("/1ZR", 0);
    pump.Advance(5);
    EXPECT_EQ(pump.Handle("/1A1200", 5), "/0`\x03\r\n");
    EXPECT_EQ(pump.Handle("/1?10", 5), "/0`1\x03\r\n");
    EXPECT_FALSE(pump.Busy());
    EXPECT_EQ(pump.Handle("/1R", 5), "/0`\x03\r\n");
    EXPECT_TRUE(pump.Busy());
    pump.Advance(7);
    EXPECT_EQ(pump.Position(), 1200);
    EXPECT_EQ(pump.VolumeDispensed_ul(), 0);  // filling is no dispensing
}

}  // namespace
}  // namespace moirex::sim::testing

namespace moirex::sim::testing {
namespace {

TEST(PumpTimeScaleTest, TimeScaleRunsThePumpFaster) {
    std::string folder = MakeTempFolder();
    {
        EmulatorOptions o;
        o.RuntimeFolder = folder;
        o.Paced = false;
        o.TimeScale = 200;  // the 2 s initialisation in 10 ms
        Emulator sim(o);
        std::string port = sim.PortPath(Instrument::Pump);
        EXPECT_EQ(PumpExchange(port, "ZR"), "/0`\x03\r\n");
        std::this_thread::sleep_for(std::chrono::milliseconds(60));
        EXPECT_EQ(PumpExchange(port, "Q"), "/0`\x03\r\n");
        EXPECT_TRUE(sim.Pump().Initialised);
    }
    std::filesystem::remove_all(std::filesystem::path(folder).parent_path());
}

}  // namespace
}  // namespace moirex::sim::testing
