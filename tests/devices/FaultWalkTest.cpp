// Every request of the read-out, the gas switch and the pump's connect, stop and type check is
// broken in turn on the emulator, with each kind of fault an instrument or its line can show.
// Whatever breaks, the outcome is the right result or a reported failure: never wrong data, never
// a false success. A fault-free run first counts the requests of the sequence and gives the
// right result to compare with.

#include <unistd.h>

#include <cctype>
#include <filesystem>
#include <ostream>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "devices/PSD4_Interface.h"
#include "devices/UnitMFC.h"
#include "sim/Emulator.h"
#include "support/Clock.h"

namespace moirex {
namespace {

namespace fs = std::filesystem;
using sim::Instrument;

struct FaultKind {
    const char* name;
    sim::ScheduledFault fault;
    bool modbusOnly = false;
};

void PrintTo(const FaultKind& kind, std::ostream* os) { *os << kind.name; }

sim::ScheduledFault Answer(sim::AnswerFault f, int code = 0) {
    sim::ScheduledFault s;
    s.Fault = f;
    s.Code = code;
    return s;
}

sim::ScheduledFault Silent() {
    sim::ScheduledFault s;
    s.Silent = true;
    return s;
}

sim::ScheduledFault Late(int ms) {
    sim::ScheduledFault s;
    s.DelayMs = ms;
    return s;
}

// The answer window of a controller exchange is about 65 ms, of a pump exchange in these tests
// 150 ms: the late answers come after it, while the next exchange waits for the quiet line.
const FaultKind kKinds[] = {
    {"silence", Silent()},
    {"garbled", Answer(sim::AnswerFault::Garble)},
    {"wrong CRC", Answer(sim::AnswerFault::BadCrc)},
    {"short", Answer(sim::AnswerFault::Short)},
    {"exception", Answer(sim::AnswerFault::Exception, 4), true},
    {"other address", Answer(sim::AnswerFault::WrongAddress), true},
    {"late", Late(170)},
};

std::string FolderFor(const std::string& what) {
    return (fs::path(::testing::TempDir()) / ("moirex-walk-" + std::to_string(::getpid()) + "-" + what)).string();
}

class FaultWalk : public ::testing::TestWithParam<FaultKind> {
protected:
    void StartEmulator(const std::string& what, sim::EmulatorOptions o = {}) {
        folder = FolderFor(what);
        o.RuntimeFolder = folder;
        o.Paced = false;
        o.Noise = false;
        o.PhysicsClock = &clock;  // the pump's moves and the driver's waits on one clock
        emulator = std::make_unique<sim::Emulator>(o);
    }
    void TearDown() override {
        emulator.reset();
        std::error_code ec;
        fs::remove_all(folder, ec);
    }
    // Requests the sequence makes, counted on a fault-free run.
    template <class Sequence>
    uint64_t Count(Instrument i, Sequence run) {
        const uint64_t before = emulator->RequestsSeen(i);
        run();
        return emulator->RequestsSeen(i) - before;
    }

    std::string folder;
    std::unique_ptr<sim::Emulator> emulator;
    ManualClock clock;
};

void ExpectSameTables(const TMFCDetails& got, const TMFCDetails& want) {
    EXPECT_EQ(got.Serial, want.Serial);
    EXPECT_EQ(got.ActiveLUT, want.ActiveLUT);
    for (uint32_t k = TLUT::First; k <= TLUT::Last; ++k) {
        SCOPED_TRACE("table " + std::to_string(k));
        const TLUTData& a = got.LUT[k];
        const TLUTData& b = want.LUT[k];
        EXPECT_EQ(a.NameShort, b.NameShort);
        EXPECT_EQ(a.NameCustom, b.NameCustom);
        EXPECT_EQ(a.NameOwn, b.NameOwn);
        EXPECT_EQ(a.UnitType, b.UnitType);
        EXPECT_EQ(a.RangeMax, b.RangeMax);
        EXPECT_EQ(a.RangeDynamic, b.RangeDynamic);
        EXPECT_EQ(a.RangeMin, b.RangeMin);
        EXPECT_EQ(a.DensityGPL, b.DensityGPL);
        EXPECT_EQ(a.TotalizerUnit, b.TotalizerUnit);
        EXPECT_EQ(a.TotalizerScaling, b.TotalizerScaling);
    }
}

TEST_P(FaultWalk, ReadMFCDetails) {
    sim::EmulatorOptions o;
    o.ControllerA.Tables.resize(1);  // one table and the empty second: every kind of step
    StartEmulator(std::string("read-") + GetParam().name, o);
    TMFCDetails fresh;
    fresh.ComPortName = emulator->PortPath(Instrument::MfcA);
    fresh.ModBusAddress = 1;
    fresh.DynamicRangeCull = 20;

    TMFCDetails right = fresh;
    const uint64_t requests = Count(Instrument::MfcA, [&] { ASSERT_EQ(ReadMFCDetails(right, clock), ""); });
    ASSERT_TRUE(right.Validated);
    ASSERT_EQ(right.LUT[2].NameShort, o.ControllerA.Tables[0].NameShort);

    for (uint64_t n = 1; n <= requests; ++n) {
        SCOPED_TRACE("fault on request " + std::to_string(n) + " of " + std::to_string(requests));
        emulator->ScheduleFault(Instrument::MfcA, n, GetParam().fault);
        TMFCDetails d = fresh;
        const std::string failure = ReadMFCDetails(d, clock);
        if (d.Validated) {
            EXPECT_EQ(failure, "");
            ExpectSameTables(d, right);
            EXPECT_EQ(emulator->Mfc(Instrument::MfcA).SelectedTable, 2);
        } else {
            EXPECT_NE(failure, "");
            EXPECT_EQ(d.LUT[2].NameShort, "");
            EXPECT_EQ(d.ActiveLUT, 0u);
        }
        emulator->ClearFaults(Instrument::MfcA);
    }
}

TEST_P(FaultWalk, SetActiveLUT) {
    StartEmulator(std::string("lut-") + GetParam().name);
    TMFCDetails d;
    d.ComPortName = emulator->PortPath(Instrument::MfcA);
    d.ModBusAddress = 1;
    const uint64_t requests = Count(Instrument::MfcA, [&] { ASSERT_EQ(SetActiveLUT(d, 3, clock), ""); });

    for (uint64_t n = 1; n <= requests; ++n) {
        SCOPED_TRACE("fault on request " + std::to_string(n) + " of " + std::to_string(requests));
        for (int32_t table : {4, 2}) {
            emulator->ScheduleFault(Instrument::MfcA, n, GetParam().fault);
            const uint32_t before = d.ActiveLUT;
            const std::string failure = SetActiveLUT(d, table, clock);
            const sim::MfcState state = emulator->Mfc(Instrument::MfcA);
            if (d.ActionOK) {
                EXPECT_EQ(failure, "");
                EXPECT_EQ(d.ActiveLUT, static_cast<uint32_t>(table));
                EXPECT_EQ(state.ActiveTable, table);
                EXPECT_EQ(state.SelectedTable, table);
            } else {
                EXPECT_NE(failure, "");
                EXPECT_EQ(d.ActiveLUT, before);
            }
            emulator->ClearFaults(Instrument::MfcA);
            ASSERT_EQ(SetActiveLUT(d, 3, clock), "");  // back to the start for the next walk
        }
    }
}

class PumpFaultWalk : public FaultWalk {
protected:
    void SetUp() override {
        if (GetParam().modbusOnly) GTEST_SKIP() << "no such answer from the pump";
    }
    std::unique_ptr<TPSD4> MakePump() {
        auto pump = std::make_unique<TPSD4>([this](const std::string& m) { messages.push_back(m); }, clock);
        pump->PortTiming = TPumpPortTiming{5, 150};
        return pump;
    }
    std::string Port() const { return emulator->PortPath(Instrument::Pump); }
    std::vector<std::string> messages;
};

TEST_P(PumpFaultWalk, ConnectAndStop) {
    StartEmulator(std::string("stop-") + GetParam().name);
    // The pump in the middle of a long move: the stop has to terminate it.
    auto startMove = [&] {
        auto pump = MakePump();
        ASSERT_TRUE(pump->Connect(Port()));
        TSerialResponse r;
        ASSERT_TRUE(pump->SendCommand("ZR", r, true));
        clock.Advance(30);
        ASSERT_TRUE(pump->SendCommand("V50A24000R", r, true)) << r.Status;
    };
    startMove();
    const uint64_t requests = Count(Instrument::Pump, [&] {
        auto pump = MakePump();
        ASSERT_TRUE(pump->Connect(Port()));
        ASSERT_TRUE(pump->Stop());
    });

    for (uint64_t n = 1; n <= requests + 1; ++n) {
        SCOPED_TRACE("fault on request " + std::to_string(n) + " of " + std::to_string(requests));
        startMove();
        emulator->ScheduleFault(Instrument::Pump, n, GetParam().fault);
        auto pump = MakePump();
        const bool connected = pump->Connect(Port());
        const bool stopped = pump->Stop();
        const sim::PumpState state = emulator->Pump();
        if (stopped) {
            EXPECT_TRUE(connected);
            EXPECT_FALSE(state.Busy) << "a pump reported stopped is still moving";
            EXPECT_EQ(state.ErrorCode, 0);
        }
        emulator->ClearFaults(Instrument::Pump);
        // Whatever happened, a stop without faults ends the move.
        auto again = MakePump();
        ASSERT_TRUE(again->Connect(Port()));
        ASSERT_TRUE(again->Stop());
    }
}

TEST_P(PumpFaultWalk, PumpFindInit) {
    StartEmulator(std::string("find-") + GetParam().name);
    TPumpFeedbackLines right;
    const uint64_t requests = Count(Instrument::Pump, [&] {
        auto pump = MakePump();
        ASSERT_TRUE(pump->PumpFindInit(Port(), right));
        ASSERT_TRUE(pump->PumpOnStandby());
    });

    for (uint64_t n = 1; n <= requests; ++n) {
        SCOPED_TRACE("fault on request " + std::to_string(n) + " of " + std::to_string(requests));
        emulator->ScheduleFault(Instrument::Pump, n, GetParam().fault);
        auto pump = MakePump();
        TPumpFeedbackLines lines;
        const bool found = pump->PumpFindInit(Port(), lines);
        ASSERT_FALSE(lines.Lines.empty());
        if (!found) {
            EXPECT_NE(lines.Lines.back().find("No pump found"), std::string::npos) << lines.Lines.back();
        } else if (pump->PumpOnStandby()) {
            const sim::PumpState state = emulator->Pump();
            EXPECT_TRUE(state.Initialised);
            EXPECT_FALSE(state.Busy);
            EXPECT_EQ(state.ErrorCode, 0);
            EXPECT_EQ(lines.Lines.back(), " -> Pump is OK and on standby.");
        } else {
            EXPECT_EQ(lines.Lines.back(), " -> Pump failed to report standby and error free within timeout period.");
        }
        emulator->ClearFaults(Instrument::Pump);
    }
}

std::string KindName(const ::testing::TestParamInfo<FaultKind>& info) {
    std::string name;
    for (const char* c = info.param.name; *c; ++c) name += std::isalnum(static_cast<unsigned char>(*c)) ? *c : '_';
    return name;
}

INSTANTIATE_TEST_SUITE_P(EveryKind, FaultWalk, ::testing::ValuesIn(kKinds), KindName);
INSTANTIATE_TEST_SUITE_P(EveryKind, PumpFaultWalk, ::testing::ValuesIn(kKinds), KindName);

}  // namespace
}  // namespace moirex
