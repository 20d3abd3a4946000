// The line's timing against the paced emulator, as on a real 9600 baud line: a late answer is
// never taken for the answer to the next request, and a long request gets its answer window
// from the end of its time on the wire.

#include <unistd.h>

#include <filesystem>
#include <memory>
#include <string>

#include <gtest/gtest.h>

#include "devices/SerialPortVogtlin.h"
#include "devices/UnitMFC.h"
#include "sim/Emulator.h"

namespace moirex {
namespace {

namespace fs = std::filesystem;
using sim::Instrument;

class PacedLine : public ::testing::Test {
protected:
    PacedLine() {
        options.RuntimeFolder = (fs::path(::testing::TempDir()) / ("moirex-paced-" + std::to_string(::getpid()))).string();
        options.Paced = true;
        options.Noise = false;
        emulator = std::make_unique<sim::Emulator>(options);
        port.UseControllerSettings(emulator->PortPath(Instrument::MfcA));
    }
    ~PacedLine() override {
        emulator.reset();
        std::error_code ec;
        fs::remove_all(options.RuntimeFolder, ec);
    }
    sim::EmulatorOptions options;
    std::unique_ptr<sim::Emulator> emulator;
    TVogtlinPort port;
};

TEST_F(PacedLine, AlternatingReadsUnderADelayEachGetTheirOwnValue) {
    // Range and density of the selected table: two float answers of the same shape.
    const sim::GasTable& table = options.ControllerA.Tables.front();
    ASSERT_NE(table.RangeMax, table.DensityGPL);
    int succeeded = 0;
    for (int delay : {30, 45, 55, 70, 80}) {
        SCOPED_TRACE("delay " + std::to_string(delay) + " ms");
        emulator->SetDelayMs(Instrument::MfcA, delay);
        for (int i = 0; i < 6; ++i) {
            const bool range = i % 2 == 0;
            const TSerialResponse r = port.ReadF32(1, range ? mfcreg::RangeMax : mfcreg::DensityGPL);
            if (!r.Status.empty()) continue;
            ++succeeded;
            EXPECT_EQ(r.AsFloat, range ? table.RangeMax : table.DensityGPL) << (range ? "range" : "density");
        }
    }
    EXPECT_GT(succeeded, 0);
    emulator->SetDelayMs(Instrument::MfcA, 0);
    EXPECT_EQ(port.ReadF32(1, mfcreg::DensityGPL).AsFloat, table.DensityGPL);
}

TEST_F(PacedLine, LongWriteIsConfirmedAfterItsTimeOnTheWire) {
    // 59 bytes take 67.6 ms on the wire at 9600 baud 8N2, longer than the read-out time-out.
    ASSERT_GT(port.WireTimeMs(59), 50.0);
    const TSerialResponse w = port.WriteS50(1, mfcreg::NameCustom, "Nitrogen of the lab");
    EXPECT_EQ(w.Status, "");
    const TSerialResponse r = port.ReadS50(1, mfcreg::NameCustom);
    EXPECT_EQ(r.Status, "");
    EXPECT_EQ(r.AsString.substr(0, 19), "Nitrogen of the lab");
}

TEST_F(PacedLine, ReadMFCDetailsAndSetActiveLUTOnTheRealLineTiming) {
    TMFCDetails d;
    d.ComPortName = emulator->PortPath(Instrument::MfcA);
    d.ModBusAddress = 1;
    d.DynamicRangeCull = 20;
    ManualClock clock;
    EXPECT_EQ(ReadMFCDetails(d, clock), "");
    EXPECT_TRUE(d.Validated);
    EXPECT_EQ(d.LUT[2].NameShort, options.ControllerA.Tables.front().NameShort);
    EXPECT_EQ(SetActiveLUT(d, 3, clock), "");
    EXPECT_EQ(emulator->Mfc(Instrument::MfcA).ActiveTable, 3);
    EXPECT_EQ(emulator->Mfc(Instrument::MfcA).TooEarly, 0u);  // every request after a quiet line
}

}  // namespace
}  // namespace moirex
