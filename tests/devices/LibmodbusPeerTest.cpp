// The driver against an independent Modbus RTU slave: libmodbus on the other end of a joined
// pair of pseudo-terminals.

#include <gtest/gtest.h>
#include <modbus/modbus.h>

#include <atomic>
#include <bit>
#include <cerrno>
#include <cmath>
#include <thread>

#include "devices/PtyPeer.h"
#include "devices/SerialPortVogtlin.h"

namespace moirex {
namespace {

class LibmodbusSlave {
public:
    explicit LibmodbusSlave(const std::string& path, int address) {
        ctx_ = modbus_new_rtu(path.c_str(), 9600, 'N', 8, 2);
        if (ctx_ == nullptr) throw std::runtime_error("modbus_new_rtu failed");
        modbus_set_slave(ctx_, address);
        if (modbus_connect(ctx_) != 0) throw std::runtime_error(std::string("modbus_connect: ") + modbus_strerror(errno));
        modbus_set_indication_timeout(ctx_, 0, 100000);
        map_ = modbus_mapping_new_start_address(0, 0, 0, 0, 0, 0x100, 0, 0);
        thread_ = std::thread([this] { Run(); });
    }
    ~LibmodbusSlave() {
        stop_ = true;
        thread_.join();
        modbus_mapping_free(map_);
        modbus_close(ctx_);
        modbus_free(ctx_);
    }
    uint16_t* Registers() { return map_->tab_registers; }

private:
    void Run() {
        uint8_t query[MODBUS_RTU_MAX_ADU_LENGTH];
        while (!stop_) {
            int rc = modbus_receive(ctx_, query);
            if (rc > 0) modbus_reply(ctx_, query, rc, map_);
        }
    }
    modbus_t* ctx_ = nullptr;
    modbus_mapping_t* map_ = nullptr;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

class AgainstLibmodbus : public ::testing::Test {
protected:
    AgainstLibmodbus() : slave(bridge.PathA(), 1) { port.UseControllerSettings(bridge.PathB(), 200); }
    testing::PtyBridge bridge;
    LibmodbusSlave slave;
    TVogtlinPort port;
};

TEST_F(AgainstLibmodbus, WritesAreConfirmedAndLandInTheRegisters) {
    EXPECT_EQ(port.WriteF32(1, 6, 1.0f).Status, "");
    EXPECT_EQ(slave.Registers()[6], 0x3F80);
    EXPECT_EQ(slave.Registers()[7], 0x0000);
    EXPECT_EQ(port.WriteU8(1, 0x39, 7).Status, "");
    EXPECT_EQ(slave.Registers()[0x39], 7);
    EXPECT_EQ(port.WriteU16(1, 0x34, 65535).Status, "");
    EXPECT_EQ(slave.Registers()[0x34], 0xFFFF);
    EXPECT_EQ(port.WriteS50(1, 0x40, "Nitrogen").Status, "");
    EXPECT_EQ(slave.Registers()[0x40], ('N' << 8) | 'i');
    EXPECT_EQ(slave.Registers()[0x40 + 24], 0x2020);
}

TEST_F(AgainstLibmodbus, ReadsDecodeTheRegisters) {
    uint16_t* r = slave.Registers();
    const auto bits = std::bit_cast<uint32_t>(-12.75f);  // big-endian, high word first
    r[0] = static_cast<uint16_t>(bits >> 16);
    r[1] = static_cast<uint16_t>(bits);
    r[30] = 0x8000;
    r[31] = 0x0001;
    const char type[8] = {'G', 'S', 'C', '-', 'B', '4', 0, 0};
    for (int i = 0; i < 4; ++i) r[35 + i] = static_cast<uint16_t>(type[2 * i] << 8 | type[2 * i + 1]);
    r[12] = 513;

    TSerialResponse f = port.ReadF32(1, 0);
    EXPECT_EQ(f.Status, "");
    EXPECT_EQ(f.AsFloat, -12.75f);
    TSerialResponse u = port.ReadU32(1, 30);
    EXPECT_EQ(u.AsInteger, static_cast<int32_t>(0x80000001u));
    EXPECT_EQ(u.AsFloat, static_cast<float>(0x80000001u));
    EXPECT_EQ(port.ReadS8(1, 35).AsString, "GSCB4");
    EXPECT_EQ(port.ReadU16(1, 12).AsInteger, 513);
}

TEST_F(AgainstLibmodbus, RefusalsAndSilence) {
    // A register the slave does not have: libmodbus answers illegal data address.
    TSerialResponse r = port.ReadF32(1, 0x200);
    EXPECT_EQ(r.Status, "Modbus exception 2");
    EXPECT_TRUE(std::isnan(r.AsFloat));
    EXPECT_EQ(port.WriteF32(1, 0x200, 1.0f).Status, "Modbus exception 2");
    // Another slave address: nobody answers.
    EXPECT_EQ(port.ReadU16(2, 12).Status, kStatusNoResult);
    EXPECT_EQ(port.WriteU8(2, 12, 1).Status, kStatusNoResult);
}

}  // namespace
}  // namespace moirex
