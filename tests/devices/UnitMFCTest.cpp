#include "devices/UnitMFC.h"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <memory>

#include "devices/RegisterPeer.h"
#include "state/GasMixtures.h"
#include "support/Log.h"
#include "support/TextFormat.h"

namespace moirex {
namespace {

using testing::RegisterController;

struct Table {
    int number;
    std::string name, custom, unit;
    float range, density;
    uint16_t dynamic;
    std::string totalizerUnit;
    float scaling;
};

const Table kTables[] = {
    {2, "N2", "Nitrogen 50", "ln/min", 0.5f, 1.2506f, 50, "ln", 1.0f},
    {3, "O2", "Oxygen", "mln/min", 0.25f, 1.429f, 20, "mln", 2.5f},  // range equal to the cull
    {4, "SF6", "Sulphur hexafluoride", "g/min", 0.1f, 6.17f, 5, "g", 0.5f},  // range below the cull
};

class ControllerReadOut : public ::testing::Test {
protected:
    void SetUp() override {
        mfc.SetText(mfcreg::TypeText, "GSC-B4SA", 4);
        mfc.SetU16(mfcreg::Register12, 1);
        mfc.SetU32(mfcreg::SerialNumber, 123456);
        mfc.SetF32(mfcreg::SetPoint, 0.3f);
        mfc.SetU16(mfcreg::EndOfTableRead, 7);
        for (const Table& t : kTables) {
            mfc.SetText(mfcreg::NameShort, t.name, 4, t.number);
            mfc.SetText(mfcreg::NameCustom, t.custom, 25, t.number);
            mfc.SetText(mfcreg::UnitType, t.unit, 4, t.number);
            mfc.SetF32(mfcreg::RangeMax, t.range, t.number);
            mfc.SetF32(mfcreg::DensityGPL, t.density, t.number);
            mfc.SetU16(mfcreg::DynamicRange, t.dynamic, t.number);
            mfc.SetText(mfcreg::TotalizerUnit, t.totalizerUnit, 4, t.number);
            mfc.SetF32(mfcreg::TotalizerScaling, t.scaling, t.number);
        }
        details.ComPortName = mfc.Path();
        details.ModBusAddress = 1;
        details.DynamicRangeCull = 20;
        capture = std::make_shared<TLogCapture>();
        DefaultDestination().AttachCapture(capture);
    }
    void TearDown() override { DefaultDestination().AttachCapture(nullptr); }

    RegisterController mfc{1};
    TMFCDetails details;
    ManualClock clock;
    std::shared_ptr<TLogCapture> capture;
};

TEST_F(ControllerReadOut, ControllerWithThreeTables) {
    details.LUT[5].NameOwn = "kept";
    details.LUT[6].TotalizerUnit = "kept";
    ReadMFCDetails(details, clock);

    EXPECT_TRUE(details.Validated);
    EXPECT_EQ(details.Serial, 123456u);
    EXPECT_EQ(details.ActiveLUT, 2u);
    EXPECT_EQ(details.LastResponse.Status, "");
    for (const Table& t : kTables) {
        SCOPED_TRACE(t.name);
        const TLUTData& e = details.LUT[t.number];
        EXPECT_EQ(e.LUTNumber, static_cast<uint32_t>(t.number));
        EXPECT_EQ(e.NameShort, t.name);
        EXPECT_EQ(e.NameCustom, t.custom);
        EXPECT_EQ(e.UnitType, t.unit);
        EXPECT_EQ(e.RangeMax, t.range);
        EXPECT_EQ(e.DensityGPL, t.density);
        EXPECT_EQ(e.TotalizerUnit, t.totalizerUnit);
        EXPECT_EQ(e.TotalizerScaling, t.scaling);
        EXPECT_EQ(e.Totalizer1, 0.0f);
        TGasItem gas;
        MakeGasItem(GasItemsFromName(t.name), gas, 0.0f);
        EXPECT_EQ(e.NameOwn, gas.GasNameMFC);
    }
    EXPECT_EQ(details.LUT[2].RangeDynamic, 30u);
    EXPECT_EQ(details.LUT[2].RangeMin, 0.5f / 30.0f);
    // Nothing left to cull: the table is held at full scale only.
    EXPECT_EQ(details.LUT[3].RangeDynamic, 1u);
    EXPECT_EQ(details.LUT[3].RangeMin, 0.25f);
    EXPECT_EQ(details.LUT[4].RangeDynamic, 1u);
    EXPECT_EQ(details.LUT[4].RangeMin, 0.1f);
    EXPECT_TRUE(std::isfinite(details.LUT[4].RangeMin));
    for (int k = 5; k <= 11; ++k) {
        const TLUTData& e = details.LUT[k];
        EXPECT_EQ(e.LUTNumber, static_cast<uint32_t>(k));
        EXPECT_EQ(e.NameShort, "");
        EXPECT_EQ(e.RangeMax, 0.0f);
        EXPECT_EQ(e.RangeDynamic, 1u);
        EXPECT_EQ(e.RangeMin, 1.0f);
    }
    EXPECT_EQ(details.LUT[5].NameOwn, "kept");
    EXPECT_EQ(details.LUT[6].TotalizerUnit, "kept");

    // The controller is left on table 2 with set-point 0, register 52 set, 0x404F cleared.
    EXPECT_EQ(mfc.Get(RegisterController::kSelector), 2);
    EXPECT_EQ(mfc.Get(mfcreg::SetPoint), 0);
    EXPECT_EQ(mfc.Get(mfcreg::SetPoint + 1), 0);
    EXPECT_EQ(mfc.Get(mfcreg::Register52), 0xFFFF);
    EXPECT_EQ(mfc.Get(mfcreg::EndOfTableRead), 0);
    // Waits: 20 after the type, 50 after register 52, the serial and the set-point, 50 per selection.
    EXPECT_DOUBLE_EQ(clock.MonotonicSeconds(), (20 + 50 + 50 + 50 + 4 * 50) / 1000.0);

    const std::string p = mfc.Path();
    EXPECT_TRUE(capture->Contains("", p + " LUT 2 ID: N2"));
    EXPECT_TRUE(capture->Contains("", p + " LUT 2 max flow:" + FormatGeneral(0.5f)));
    EXPECT_TRUE(capture->Contains("", p + " LUT 3 Totalizer scaling:2.5"));
    EXPECT_TRUE(capture->Contains("", "MFC dynamic range culled by 20 units"));
    EXPECT_TRUE(capture->Contains("", "MFC dynamic range of 20 too small to cull by 20 units, using 1"));
    EXPECT_TRUE(capture->Contains("", "MFC dynamic range of 5 too small to cull by 20 units, using 1"));
}

TEST_F(ControllerReadOut, ReadThatKeepsFailingIsAFailureNotAValue) {
    // A register that the controller refuses every time: the read-out ends there, names the
    // step, and leaves no half-read gas table to choose from.
    struct Case {
        uint16_t reg;
        std::string step;
    };
    const Case cases[] = {
        {mfcreg::SerialNumber, "serial number read (register 30): Modbus exception 2 (3 tries)"},
        {mfcreg::RangeMax, "gas table 2 range (register 0x6020): Modbus exception 2 (3 tries)"},
        {mfcreg::TotalizerUnit, "gas table 2 totalizer unit (register 0x6386): Modbus exception 2 (3 tries)"},
        {mfcreg::DensityGPL, "gas table 2 density (register 0x604E): Modbus exception 2 (3 tries)"},
        {mfcreg::TableSelector, "gas table 2 select (register 0x5FFF): Modbus exception 2 (3 tries)"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.step);
        testing::RegisterController failing{1};
        failing.SetText(mfcreg::TypeText, "GSC", 4);
        for (const Table& t : kTables) {
            failing.SetText(mfcreg::NameShort, t.name, 4, t.number);
            failing.SetF32(mfcreg::DensityGPL, t.density, t.number);
        }
        failing.Fail(c.reg);
        TMFCDetails d = details;
        d.ComPortName = failing.Path();
        d.LUT[2].TotalizerUnit = "ln";
        EXPECT_EQ(ReadMFCDetails(d, clock), c.step);
        EXPECT_FALSE(d.Validated);
        EXPECT_EQ(d.ActiveLUT, 0u);
        for (uint32_t k = TLUT::First; k <= TLUT::Last; ++k) {
            EXPECT_EQ(d.LUT[k].NameShort, "");
            EXPECT_EQ(d.LUT[k].DensityGPL, 0.0f);
            EXPECT_EQ(d.LUT[k].RangeMax, 0.0f);
        }
        EXPECT_EQ(d.LastResponse.Status, "Modbus exception 2");
    }
}

TEST_F(ControllerReadOut, SelectedTableIsReadBackBeforeItsDataIsRead) {
    // A controller that ignores the select of table 3 and stays on 2: table 2's data must not be
    // listed again as table 3.
    mfc.OnRead([this](uint16_t reg, uint16_t stored) -> uint16_t {
        if (reg == RegisterController::kSelector && stored == 3) {
            mfc.SetU16Unlocked(RegisterController::kSelector, 2);
            return 2;
        }
        return stored;
    });
    const std::string failure = ReadMFCDetails(details, clock);
    EXPECT_EQ(failure, "gas table 3 select (register 0x5FFF): read back 2 instead of 3 (3 tries)");
    EXPECT_FALSE(details.Validated);
    EXPECT_EQ(details.LUT[2].NameShort, "");
    EXPECT_EQ(details.LUT[3].NameShort, "");
}

TEST_F(ControllerReadOut, OnlyAControllerOfTheExpectedTypeIsRead) {
    struct Case {
        std::string type;
        bool validated;
    };
    for (const Case& c : {Case{"GSC", true}, Case{"GSCxyz", true}, Case{"GS", false}, Case{"", false},
                          Case{"XGSC", false}}) {
        SCOPED_TRACE(c.type);
        mfc.SetText(mfcreg::TypeText, c.type, 4);
        TMFCDetails d = details;
        ReadMFCDetails(d, clock);
        EXPECT_EQ(d.Validated, c.validated);
        if (!c.validated) {
            EXPECT_EQ(d.LUT[2].NameShort, "");
            EXPECT_EQ(d.LastResponse.Status, "");  // the type read itself succeeded
        }
    }
}

TEST_F(ControllerReadOut, SilentControllerIsNotValidated) {
    details.ModBusAddress = 7;  // nobody answers there
    details.Serial = 99;
    details.LUT[2].NameShort = "old";
    EXPECT_EQ(ReadMFCDetails(details, clock), "type read (register 35): No result to read (3 tries)");
    EXPECT_FALSE(details.Validated);
    EXPECT_EQ(details.Serial, 0u);
    EXPECT_EQ(details.LUT[2].NameShort, "");
    EXPECT_EQ(details.LastResponse.Status, "No result to read");
    EXPECT_EQ(mfc.Requests().size(), static_cast<size_t>(kMFCStepTries));  // the type read only, tried again
}

TEST_F(ControllerReadOut, SetActiveLUTConfirmedByReadBack) {
    SetActiveLUT(details, 4, clock);
    EXPECT_TRUE(details.ActionOK);
    EXPECT_EQ(details.ActiveLUT, 4u);
    EXPECT_EQ(details.LastResponse.Status, "");
    EXPECT_EQ(details.LastResponse.AsInteger, 4);
    EXPECT_EQ(mfc.Get(mfcreg::ActiveTable), 4);
    EXPECT_EQ(mfc.Get(RegisterController::kSelector), 4);
    EXPECT_DOUBLE_EQ(clock.MonotonicSeconds(), 1.0);  // two waits of 500 ms
}

TEST_F(ControllerReadOut, SetActiveLUTWithARefusedReadBack) {
    details.ActiveLUT = 3;
    // The controller keeps its selector at 2 whatever it is told.
    mfc.OnRead([](uint16_t reg, uint16_t stored) -> uint16_t {
        return reg == RegisterController::kSelector ? 2 : stored;
    });
    EXPECT_EQ(SetActiveLUT(details, 5, clock),
              "gas table 5 select (register 0x5FFF): read back 2 instead of 5 (3 tries)");
    EXPECT_FALSE(details.ActionOK);
    EXPECT_EQ(details.ActiveLUT, 3u);
    EXPECT_EQ(details.LastResponse.AsInteger, 2);

    // A controller that does not answer the read-back at all.
    details.ModBusAddress = 9;
    SetActiveLUT(details, 5, clock);
    EXPECT_FALSE(details.ActionOK);
    EXPECT_EQ(details.ActiveLUT, 3u);
    EXPECT_EQ(details.LastResponse.Status, "No result to read");
}

TEST_F(ControllerReadOut, SetActiveLUTRefusesATableThatCannotExist) {
    for (int32_t k : {0, 1, 12, -3}) {
        SetActiveLUT(details, k, clock);
        EXPECT_FALSE(details.ActionOK);
        EXPECT_EQ(details.LastResponse.Status, kStatusNoSuchTable);
    }
    EXPECT_TRUE(mfc.Requests().empty());
}

}  // namespace
}  // namespace moirex
