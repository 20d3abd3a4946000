// The emulated controllers seen by an independent Modbus master (libmodbus) and directly.

#include <cerrno>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <modbus/modbus.h>

#include "devices/ModbusCrc.h"
#include "sim/MfcModel.h"
#include "sim/SimTestSupport.h"

namespace moirex::sim::testing {
namespace {

class Master {
public:
    Master(const std::string& port, int slave) {
        ctx_ = modbus_new_rtu(port.c_str(), 9600, 'N', 8, 2);
        if (!ctx_) throw std::runtime_error("modbus_new_rtu failed");
        modbus_set_slave(ctx_, slave);
        modbus_set_response_timeout(ctx_, 0, 300000);
        if (modbus_connect(ctx_) != 0) throw std::runtime_error(std::string("connect: ") + modbus_strerror(errno));
    }
    ~Master() {
        modbus_close(ctx_);
        modbus_free(ctx_);
    }
    // Registers, or the errno of the failure.
    int Read(int address, int count, std::vector<uint16_t>& out) {
        out.assign(count, 0);
        return modbus_read_registers(ctx_, address, count, out.data()) == count ? 0 : errno;
    }
    float ReadFloat(int address) {
        std::vector<uint16_t> w;
        EXPECT_EQ(Read(address, 2, w), 0) << modbus_strerror(errno);
        uint32_t bits = uint32_t(w[0]) << 16 | w[1];
        float value;
        std::memcpy(&value, &bits, 4);
        return value;
    }
    std::string ReadText(int address, int count) {
        std::vector<uint16_t> w;
        EXPECT_EQ(Read(address, count, w), 0);
        std::string s;
        for (uint16_t v : w) {
            for (char c : {static_cast<char>(v >> 8), static_cast<char>(v & 0xFF)})
                if (c) s.push_back(c);
        }
        return s;
    }
    int WriteFloat(int address, float value) {
        uint32_t bits;
        std::memcpy(&bits, &value, 4);
        uint16_t w[2] = {static_cast<uint16_t>(bits >> 16), static_cast<uint16_t>(bits & 0xFFFF)};
        return modbus_write_registers(ctx_, address, 2, w) == 2 ? 0 : errno;
    }
    int Write(int address, uint16_t value) { return modbus_write_register(ctx_, address, value) == 1 ? 0 : errno; }
    modbus_t* ctx_;
};

class MfcTest : public EmulatorTest {};

TEST_F(MfcTest, AnswersTheReadOutOfBothControllers) {
    Master a(Port(Instrument::MfcA), 1);
    EXPECT_EQ(a.ReadText(35, 4), "GSC-B4SA");
    std::vector<uint16_t> w;
    ASSERT_EQ(a.Read(30, 2, w), 0);
    EXPECT_EQ(uint32_t(w[0]) << 16 | w[1], 21034711u);
    ASSERT_EQ(a.Read(12, 1, w), 0);
    EXPECT_GT(w[0], 0);
    EXPECT_EQ(a.Write(52, 0xFFFF), 0);
    EXPECT_EQ(a.Write(0x404F, 0), 0);

    // The table block follows the selector; a number without a table reads an empty name.
    const char* names[] = {"O2", "N2", "MIX_087", "SF6", ""};
    for (int k = 2; k <= 6; ++k) {
        SCOPED_TRACE(k);
        ASSERT_EQ(a.Write(0x5FFF, k), 0);
        EXPECT_EQ(a.ReadText(0x6042, 4), names[k - 2]);
    }
    ASSERT_EQ(a.Write(0x5FFF, 3), 0);
    EXPECT_FLOAT_EQ(a.ReadFloat(0x6020), 0.0313f);
    EXPECT_FLOAT_EQ(a.ReadFloat(0x604E), 1.2506f);
    EXPECT_EQ(a.ReadText(0x6022, 25), "Nitrogen");
    EXPECT_EQ(a.ReadText(0x6046, 4), "g/min");
    EXPECT_EQ(a.ReadText(0x6386, 4), "ln");
    EXPECT_FLOAT_EQ(a.ReadFloat(0x6384), 1.0f);
    ASSERT_EQ(a.Read(0x6122, 1, w), 0);
    EXPECT_EQ(w[0], 120);

    Master b(Port(Instrument::MfcB), 2);
    EXPECT_EQ(b.ReadText(35, 4), "GSC-B4SA");
    ASSERT_EQ(b.Write(0x5FFF, 2), 0);
    EXPECT_EQ(b.ReadText(0x6042, 4), "Ar");
}

TEST_F(MfcTest, SetPointIsHeldAndTheFlowFollowsWithALag) {
    Master a(Port(Instrument::MfcA), 1);
    ASSERT_EQ(a.WriteFloat(6, 0.02f), 0);
    EXPECT_FLOAT_EQ(a.ReadFloat(6), 0.02f);
    EXPECT_FLOAT_EQ(a.ReadFloat(0), 0.0f);
    clock.Advance(0.4);  // one time constant
    EXPECT_NEAR(a.ReadFloat(0), 0.02 * (1 - std::exp(-1.0)), 1e-6);
    clock.Advance(10);
    EXPECT_NEAR(a.ReadFloat(0), 0.02, 1e-6);
    EXPECT_NEAR(sim->Mfc(Instrument::MfcA).Flow, 0.02, 1e-6);
    // Above full scale the controller delivers full scale.
    ASSERT_EQ(a.WriteFloat(6, 1.0f), 0);
    clock.Advance(10);
    EXPECT_NEAR(a.ReadFloat(0), 0.0358, 1e-6);
    ASSERT_EQ(a.WriteFloat(6, 0.0f), 0);
    clock.Advance(10);
    EXPECT_EQ(a.ReadFloat(0), 0.0f);  // valve shut: exactly nothing
}

TEST_F(MfcTest, RefusalsAreModbusExceptions) {
    Master a(Port(Instrument::MfcA), 1);
    std::vector<uint16_t> w;
    EXPECT_EQ(a.Read(100, 1, w), EMBXILADD);     // no such register
    EXPECT_EQ(a.Read(0x6122, 2, w), EMBXILADD);  // runs past the dynamic range into nothing
    EXPECT_EQ(a.Write(0, 5), EMBXILADD);         // the flow is read-only
    EXPECT_EQ(a.Write(0x4139, 9), EMBXILVAL);    // no table 9 to make active
    EXPECT_EQ(a.WriteFloat(6, -1.0f), EMBXILVAL);
    EXPECT_EQ(a.WriteFloat(6, NAN), EMBXILVAL);
    uint16_t in[2];
    EXPECT_EQ(modbus_read_input_registers(a.ctx_, 0, 2, in), -1);
    EXPECT_EQ(errno, EMBXILFUN);

    sim->SetRefuseSetPoint(Instrument::MfcA, true);
    EXPECT_EQ(a.WriteFloat(6, 0.01f), EMBXSFAIL);
    EXPECT_FLOAT_EQ(sim->Mfc(Instrument::MfcA).SetPoint, 0.0f);
    sim->SetRefuseSetPoint(Instrument::MfcA, false);
    EXPECT_EQ(a.WriteFloat(6, 0.01f), 0);
}

TEST_F(MfcTest, ActiveTableSwitchesUnitAndRange) {
    Master a(Port(Instrument::MfcA), 1);
    ASSERT_EQ(a.Write(0x4139, 4), 0);
    std::vector<uint16_t> w;
    ASSERT_EQ(a.Read(0x4139, 1, w), 0);
    EXPECT_EQ(w[0], 4);
    EXPECT_EQ(sim->Mfc(Instrument::MfcA).TotalizerUnit, "g");
    EXPECT_EQ(sim->Mfc(Instrument::MfcA).Gas, "MIX_087");
}

// The totalizer integrates the true flow in the active table's unit; the mass delivered is the
// same flow in grams.
TEST_F(MfcTest, TotalizerIntegratesInEveryUnit) {
    struct Case {
        Instrument mfc;
        int table;
        const char* unit;
    } cases[] = {
        {Instrument::MfcA, 2, "mln"}, {Instrument::MfcA, 3, "ln"}, {Instrument::MfcA, 4, "g"},
        {Instrument::MfcB, 2, "ln"},  {Instrument::MfcB, 3, "mln"}, {Instrument::MfcB, 4, "g"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(InstrumentName(c.mfc)) + " table " + std::to_string(c.table));
        Start();
        Master m(Port(c.mfc), c.mfc == Instrument::MfcA ? 1 : 2);
        ASSERT_EQ(m.Write(0x4139, c.table), 0);
        ASSERT_EQ(m.Write(0x5FFF, c.table), 0);
        float range = m.ReadFloat(0x6020);
        float density = m.ReadFloat(0x604E);
        ASSERT_EQ(m.ReadText(0x6386, 4), c.unit);
        float sp = range / 2;
        ASSERT_EQ(m.WriteFloat(6, sp), 0);
        const double t = 600, tau = 0.4;
        clock.Advance(t);
        double grams = sp * (t - tau * (1 - std::exp(-t / tau))) / 60;
        double expected = std::string(c.unit) == "g" ? grams : std::string(c.unit) == "ln" ? grams / density
                                                                                           : grams / density * 1000;
        EXPECT_NEAR(m.ReadFloat(4), expected, expected * 1e-5);
        EXPECT_NEAR(sim->Mfc(c.mfc).MassDelivered_g, grams, grams * 1e-9);
        // The totalizer can be preset.
        ASSERT_EQ(m.WriteFloat(4, 0.0f), 0);
        EXPECT_NEAR(m.ReadFloat(4), 0.0, 1e-9);
    }
}

TEST(MfcModelTest, BelowTheLowestFlowControlIsPoorer) {
    // With noise, a set-point within the range is held to a fraction of a percent; one below
    // the table's lowest flow strays much further.
    auto spread = [](float setPoint) {
        MfcModel m(DefaultControllerA(), true, 11);
        std::vector<uint8_t> f{1, 0x10, 0, 6, 0, 2, 4};
        uint32_t bits;
        std::memcpy(&bits, &setPoint, 4);
        for (int s = 24; s >= 0; s -= 8) f.push_back(static_cast<uint8_t>(bits >> s));
        AppendModbusCrc(f);
        EXPECT_EQ(m.Handle(f, 0).size(), 8u);
        double worst = 0;
        for (int i = 1; i <= 200; ++i) {
            m.Advance(5.0 + i * 0.5);
            worst = std::max(worst, std::abs(double(m.Flow()) - setPoint) / setPoint);
        }
        return worst;
    };
    const float range = 0.0358f, lowest = range / 120;
    EXPECT_LT(spread(range / 2), 0.01);
    EXPECT_GT(spread(lowest / 3), 0.2);
}

TEST(MfcModelTest, FramesOfOtherSlavesOrWithBadCrcGetNoAnswer) {
    MfcModel m(DefaultControllerB(), false, 1);
    std::vector<uint8_t> read{2, 3, 0, 35, 0, 4};
    AppendModbusCrc(read);
    EXPECT_EQ(m.Handle(read, 0).size(), 13u);
    std::vector<uint8_t> other = read;
    other[0] = 1;
    other.resize(6);
    AppendModbusCrc(other);
    EXPECT_TRUE(m.Handle(other, 0).empty());
    std::vector<uint8_t> broken = read;
    broken[7] ^= 1;
    EXPECT_TRUE(m.Handle(broken, 0).empty());
    // A broadcast write is carried out without an answer.
    std::vector<uint8_t> broadcast{0, 6, 0x41, 0x39, 0, 3};
    AppendModbusCrc(broadcast);
    EXPECT_TRUE(m.Handle(broadcast, 0).empty());
    EXPECT_EQ(m.ActiveTable(), 3);
    EXPECT_EQ(MfcModel::ExpectedRequestLength(std::vector<uint8_t>{1, 16, 0, 6, 0, 2, 4}), 13);
    EXPECT_EQ(MfcModel::ExpectedRequestLength(std::vector<uint8_t>{1, 43}), -1);
}

}  // namespace
}  // namespace moirex::sim::testing

namespace moirex::sim::testing {
namespace {

TEST(GasTableFileTest, LoadsTablesAndRefusesNonsense) {
    std::string dir = MakeTempFolder();
    std::filesystem::create_directories(dir);
    auto load = [&](const std::string& text, ControllerConfig& a, ControllerConfig& b) {
        std::string path = dir + "/tables.json";
        std::ofstream(path) << text;
        LoadControllers(path, a, b);
    };
    ControllerConfig a = DefaultControllerA(), b = DefaultControllerB();
    load(R"({"mfc-b": {"serial": 77, "tables": [{"number": 3, "name": "He", "range": 0.01, "density": 0.1786,
             "dynamicRange": 100, "totalizerUnit": "mln"}]}})", a, b);
    EXPECT_EQ(a.Tables.size(), 4u);  // untouched
    ASSERT_EQ(b.Tables.size(), 1u);
    EXPECT_EQ(b.Serial, 77u);
    EXPECT_EQ(b.ActiveTable, 3);
    EXPECT_EQ(b.Tables[0].NameShort, "He");
    EXPECT_EQ(b.Tables[0].UnitType, "g/min");

    for (const char* bad : {"{", R"({"mfc-a": {"tables": [{"number": 12, "name": "X", "range": 1, "density": 1}]}})",
                            R"({"mfc-a": {"tables": [{"number": 2, "name": "X", "range": 0, "density": 1}]}})",
                            R"({"mfc-a": {"tables": [{"number": 2, "name": "TOOLONGNAME", "range": 1, "density": 1}]}})",
                            R"({"mfc-a": {"address": "one"}})"}) {
        SCOPED_TRACE(bad);
        ControllerConfig x = DefaultControllerA(), y = DefaultControllerB();
        EXPECT_THROW(load(bad, x, y), std::runtime_error);
        EXPECT_EQ(x.Tables.size(), 4u);  // nothing half-loaded
    }
    ControllerConfig x, y;
    EXPECT_THROW(LoadControllers(dir + "/missing.json", x, y), std::runtime_error);
    auto source = std::filesystem::path(__FILE__).parent_path().parent_path().parent_path();
    LoadControllers((source / "apps/moirex-sim/tables-example.json").string(), x, y);
    EXPECT_EQ(x.Tables.size(), 3u);
    std::filesystem::remove_all(std::filesystem::path(dir).parent_path());
}

}  // namespace
}  // namespace moirex::sim::testing
