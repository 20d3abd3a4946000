// The controller read-out and the gas switch against the instrument emulator's controllers.

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>

#include "devices/SerialPortVogtlin.h"
#include "devices/UnitMFC.h"
#include "sim/Emulator.h"
#include "sim/QuickEmulator.h"
#include "support/TextFormat.h"

namespace moirex {
namespace {

namespace fs = std::filesystem;
using sim::Instrument;

class EmulatedControllers : public ::testing::Test {
protected:
    static sim::EmulatorOptions Options() {
        sim::EmulatorOptions o = testing_sim::QuickEmulator(
            (fs::temp_directory_path() / ("moirex-h3-emu-" + std::to_string(::getpid()))).string());
        o.ControllerA.Tables.resize(3);  // a controller with three gas tables
        return o;
    }
    EmulatedControllers() : options(Options()), emulator(options) {
        details.ComPortName = emulator.PortPath(Instrument::MfcA);
        details.ModBusAddress = 1;
        details.DynamicRangeCull = 20;
    }
    ~EmulatedControllers() override {
        emulator.Stop();
        fs::remove_all(options.RuntimeFolder);
    }

    sim::EmulatorOptions options;
    sim::Emulator emulator;
    TMFCDetails details;
    ManualClock clock;
};

TEST_F(EmulatedControllers, ReadMFCDetailsOfAControllerWithThreeTables) {
    {
        TVogtlinPort port;
        port.UseControllerSettings(details.ComPortName);
        ASSERT_EQ(port.WriteF32(1, mfcreg::SetPoint, 0.01f).Status, "");
        ASSERT_EQ(port.WriteU16(1, mfcreg::TableSelector, 4).Status, "");
    }
    details.LUT[5].NameShort = "stale";
    ReadMFCDetails(details, clock);

    ASSERT_TRUE(details.Validated) << details.LastResponse.Status;
    EXPECT_EQ(details.Serial, options.ControllerA.Serial);
    EXPECT_EQ(details.ActiveLUT, 2u);
    for (const sim::GasTable& t : options.ControllerA.Tables) {
        SCOPED_TRACE(t.NameShort);
        const TLUTData& e = details.LUT[t.Number];
        EXPECT_EQ(e.NameShort, t.NameShort);
        const std::span<const uint8_t> custom(reinterpret_cast<const uint8_t*>(t.NameCustom.data()), t.NameCustom.size());
        EXPECT_EQ(e.NameCustom, Trim(TVogtlinPort::FilterText(custom)));
        EXPECT_EQ(e.UnitType, TVogtlinPort::FilterText(std::span<const uint8_t>(
                                  reinterpret_cast<const uint8_t*>(t.UnitType.data()), t.UnitType.size())));
        EXPECT_EQ(e.RangeMax, t.RangeMax);
        EXPECT_EQ(e.DensityGPL, t.DensityGPL);
        const uint32_t dynamic = t.DynamicRange > 20 ? t.DynamicRange - 20u : 1u;
        EXPECT_EQ(e.RangeDynamic, dynamic);
        EXPECT_EQ(e.RangeMin, t.RangeMax / static_cast<float>(dynamic));
        EXPECT_EQ(e.TotalizerUnit, t.TotalizerUnit);
        EXPECT_EQ(e.TotalizerScaling, t.TotalizerScaling);
    }
    // The loop stopped at table 5, whose name reads empty; 5 to 11 keep their initial values.
    for (int k = 5; k <= 11; ++k) {
        EXPECT_EQ(details.LUT[k].NameShort, "");
        EXPECT_EQ(details.LUT[k].RangeDynamic, 1u);
        EXPECT_EQ(details.LUT[k].RangeMin, 1.0f);
    }
    // The controller ends on table 2 with set-point 0.
    const sim::MfcState state = emulator.Mfc(Instrument::MfcA);
    EXPECT_EQ(state.SelectedTable, 2);
    EXPECT_EQ(state.SetPoint, 0.0f);
}

TEST_F(EmulatedControllers, SetActiveLUTConfirmedOrRefused) {
    SetActiveLUT(details, 3, clock);
    EXPECT_TRUE(details.ActionOK) << details.LastResponse.Status;
    EXPECT_EQ(details.ActiveLUT, 3u);
    EXPECT_EQ(emulator.Mfc(Instrument::MfcA).ActiveTable, 3);

    // Table 9 does not exist on this controller: its read-back does not confirm the switch.
    SetActiveLUT(details, 9, clock);
    EXPECT_FALSE(details.ActionOK);
    EXPECT_EQ(details.ActiveLUT, 3u);
    EXPECT_EQ(emulator.Mfc(Instrument::MfcA).ActiveTable, 3);
}

TEST_F(EmulatedControllers, FaultsOfTheControllerReachTheCaller) {
    TVogtlinPort port;
    port.UseControllerSettings(details.ComPortName);
    emulator.InjectAnswerFault(Instrument::MfcA, sim::AnswerFault::Garble);
    EXPECT_EQ(port.ReadF32(1, mfcreg::Flow).Status, kStatusCrcError);
    emulator.SetRefuseSetPoint(Instrument::MfcA, true);
    EXPECT_EQ(port.WriteF32(1, mfcreg::SetPoint, 0.0f).Status, "Modbus exception 4");
    emulator.ClearFaults(Instrument::MfcA);
    EXPECT_EQ(port.WriteF32(1, mfcreg::SetPoint, 0.0f).Status, "");
}

}  // namespace
}  // namespace moirex
