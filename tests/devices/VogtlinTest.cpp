#include "devices/SerialPortVogtlin.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>

#include "devices/ModbusCrc.h"
#include "devices/PtyPeer.h"

namespace moirex {
namespace {

using testing::Bytes;
using testing::ScriptedPeer;

Bytes WithCrc(Bytes frame) {
    AppendModbusCrc(frame);
    return frame;
}

// The answer a controller gives to a read request: the data bytes with a correct frame around.
Bytes ReadAnswer(const Bytes& request, const Bytes& data) {
    Bytes answer = {request[0], request[1], static_cast<uint8_t>(data.size())};
    answer.insert(answer.end(), data.begin(), data.end());
    return WithCrc(answer);
}

// The confirmation of a write: the echo (function 6) or address, register and count (16).
Bytes WriteAnswer(const Bytes& request) {
    if (request[1] == 6) return request;
    return WithCrc(Bytes(request.begin(), request.begin() + 6));
}

struct ControllerPort : TVogtlinPort {
    explicit ControllerPort(const std::string& path) { UseControllerSettings(path); }
};

TEST(VogtlinFrames, ExampleFramesOfTheControllers) {
    EXPECT_EQ(TVogtlinPort::ReadRequest(1, 0, 2), (Bytes{0x01, 0x03, 0x00, 0x00, 0x00, 0x02, 0xC4, 0x0B}));
    const uint8_t one[] = {0x3F, 0x80, 0x00, 0x00};
    EXPECT_EQ(TVogtlinPort::WriteMultipleRequest(1, 6, one),
              (Bytes{0x01, 0x10, 0x00, 0x06, 0x00, 0x02, 0x04, 0x3F, 0x80, 0x00, 0x00, 0x7E, 0x79}));
    EXPECT_EQ(TVogtlinPort::WriteSingleRequest(2, 0x4139, 3), (Bytes{0x02, 0x06, 0x41, 0x39, 0x00, 0x03, 0x0D, 0xC9}));
    // Only the low 8 bits of the address and the low 16 of the register are sent.
    EXPECT_EQ(TVogtlinPort::ReadRequest(0x101, 0x10023, 4), TVogtlinPort::ReadRequest(1, 0x23, 4));
}

TEST(VogtlinFrames, WritesSendTheirFramesOnTheLine) {
    ScriptedPeer peer([](const Bytes& rq) { return WriteAnswer(rq); });
    ControllerPort port(peer.Path());
    EXPECT_EQ(port.WriteF32(1, 6, 1.0f).Status, "");
    EXPECT_EQ(port.WriteU8(2, 0x4139, 3).Status, "");
    EXPECT_EQ(port.WriteU16(1, 0x5FFF, 0x12345).Status, "");
    EXPECT_EQ(port.WriteS50(1, 0x6022, std::string(60, 'x')).Status, "");
    EXPECT_EQ(port.WriteS50(1, 0x6022, "N2").Status, "");
    auto rq = peer.Requests();
    ASSERT_EQ(rq.size(), 5u);
    EXPECT_EQ(rq[0], (Bytes{0x01, 0x10, 0x00, 0x06, 0x00, 0x02, 0x04, 0x3F, 0x80, 0x00, 0x00, 0x7E, 0x79}));
    EXPECT_EQ(rq[1], (Bytes{0x02, 0x06, 0x41, 0x39, 0x00, 0x03, 0x0D, 0xC9}));
    EXPECT_EQ(rq[2], WithCrc(Bytes{1, 0x10, 0x5F, 0xFF, 0, 1, 2, 0x23, 0x45}));
    ASSERT_EQ(rq[3].size(), 7u + 50 + 2);
    EXPECT_EQ(std::string(rq[3].begin() + 7, rq[3].begin() + 57), std::string(50, 'x'));
    EXPECT_EQ(std::string(rq[4].begin() + 7, rq[4].begin() + 57), "N2" + std::string(48, ' '));
    EXPECT_EQ(rq[4][6], 50);
}

struct DecodeCase {
    const char* what;
    int registers;  // 1 U16, 2 U32/F32, 4 S8, 25 S50
    Bytes data;
    int32_t asInteger;
    float asFloat;
    std::string asString;
};

TEST(VogtlinDecode, RegisterContents) {
    Bytes n2(8, 0);
    n2[0] = 'N';
    n2[1] = '2';
    Bytes marks = {'H', '2', '-', 'A', 'r', '.', '5', '+'};
    Bytes padded = {' ', 'O', '2', ' ', ' ', 0, 0, 0};
    Bytes custom(50, ' ');
    std::memcpy(custom.data(), "5% H2/Ar, lot_7\x01", 16);
    const DecodeCase cases[] = {
        {"u16 max", 1, {0xFF, 0xFF}, 65535, 65535.0f, ""},
        {"u32 256", 2, {0, 0, 1, 0}, 256, 256.0f, ""},
        {"u32 sign bit", 2, {0x80, 0, 0, 0}, std::numeric_limits<int32_t>::min(), 2147483648.0f, ""},
        {"f32 one", 2, {0x3F, 0x80, 0, 0}, -1, 1.0f, ""},
        {"f32 zero", 2, {0, 0, 0, 0}, -1, 0.0f, ""},
        {"f32 negative", 2, {0xC0, 0x20, 0, 0}, -1, -2.5f, ""},
        {"s8 zero padded", 4, n2, -1, -1.0f, "N2"},
        {"s8 marks dropped", 4, marks, -1, -1.0f, "H2Ar5"},
        {"s8 trimmed", 4, padded, -1, -1.0f, "O2"},
        {"s50 not trimmed", 25, custom, -1, -1.0f, "5% H2/Ar, lot_7" + std::string(34, ' ')},
    };
    for (const DecodeCase& c : cases) {
        SCOPED_TRACE(c.what);
        ScriptedPeer peer([&](const Bytes& rq) { return ReadAnswer(rq, c.data); });
        ControllerPort port(peer.Path());
        TSerialResponse r;
        switch (c.registers) {
            case 1: r = port.ReadU16(1, 12); break;
            case 2: r = std::string(c.what).rfind("u32", 0) == 0 ? port.ReadU32(1, 30) : port.ReadF32(1, 0); break;
            case 4: r = port.ReadS8(1, 35); break;
            default: r = port.ReadS50(1, 0x6022); break;
        }
        EXPECT_EQ(r.Status, "");
        EXPECT_EQ(r.AsInteger, c.asInteger);
        EXPECT_EQ(r.AsFloat, c.asFloat);
        if (c.asFloat == 0.0f) {
            EXPECT_FALSE(std::signbit(r.AsFloat));
        }
        EXPECT_EQ(r.AsString, c.asString);
        EXPECT_EQ(r.ResponseLength, 5 + 2 * c.registers);
    }
}

TEST(VogtlinDecode, DumpsOfTheAnswer) {
    ScriptedPeer peer([](const Bytes& rq) { return ReadAnswer(rq, {0x3F, 0x80, 0, 0}); });
    ControllerPort port(peer.Path());
    TSerialResponse r = port.ReadF32(1, 0);
    ASSERT_EQ(r.Status, "");
    EXPECT_EQ(r.AsHex, "01 03 04 3F 80 00 00 F7 CF ");
    EXPECT_EQ(r.AsInt, "1 3 4 63 128 0 0 247 207 ");
    EXPECT_EQ(peer.Requests().at(0), (Bytes{0x01, 0x03, 0x00, 0x00, 0x00, 0x02, 0xC4, 0x0B}));
}

// What the scripted controller spoils in its answer.
enum class Spoil { None, Crc, OtherAddress, OtherFunction, Exception, Short, Long, ByteCount, Silent, EchoValue,
                   WriteCount };

Bytes Spoiled(const Bytes& rq, Spoil spoil) {
    Bytes good = rq[1] == 3 ? ReadAnswer(rq, Bytes(2 * rq[5], 0x11)) : WriteAnswer(rq);
    switch (spoil) {
        case Spoil::None: return good;
        case Spoil::Crc: good.back() ^= 0x5A; return good;
        case Spoil::OtherAddress: good[0] ^= 0x03; good.resize(good.size() - 2); return WithCrc(good);
        case Spoil::OtherFunction: good[1] = 4; good.resize(good.size() - 2); return WithCrc(good);
        case Spoil::Exception: return WithCrc({rq[0], static_cast<uint8_t>(rq[1] | 0x80), 2});
        case Spoil::Short: good.resize(good.size() - 3); return good;
        case Spoil::Long: good.push_back(0); return good;
        case Spoil::ByteCount: good[2] += 2; good.resize(good.size() - 2); return WithCrc(good);
        case Spoil::Silent: return {};
        case Spoil::EchoValue: good[5] ^= 1; good.resize(good.size() - 2); return WithCrc(good);
        case Spoil::WriteCount: good[5] += 1; good.resize(good.size() - 2); return WithCrc(good);
    }
    return good;
}

struct CheckCase {
    const char* what;
    Spoil spoil;
    std::string status;
};

TEST(VogtlinAnswers, EveryReadAnswerIsChecked) {
    const CheckCase cases[] = {
        {"good", Spoil::None, ""},
        {"wrong crc", Spoil::Crc, kStatusCrcError},
        {"other slave", Spoil::OtherAddress, kStatusUnexpectedAnswer},
        {"other function", Spoil::OtherFunction, kStatusUnexpectedAnswer},
        {"byte count", Spoil::ByteCount, kStatusUnexpectedAnswer},
        {"exception", Spoil::Exception, "Modbus exception 2"},
        {"short", Spoil::Short, kStatusWrongAmount},
        {"silent", Spoil::Silent, kStatusNoResult},
    };
    for (const CheckCase& c : cases) {
        SCOPED_TRACE(c.what);
        ScriptedPeer peer([&](const Bytes& rq) { return Spoiled(rq, c.spoil); });
        ControllerPort port(peer.Path());
        TSerialResponse f = port.ReadF32(1, 0);
        EXPECT_EQ(f.Status, c.status);
        EXPECT_EQ(std::isnan(f.AsFloat), !c.status.empty());
        TSerialResponse u = port.ReadU16(2, 12);
        EXPECT_EQ(u.Status, c.status);
        if (!c.status.empty()) {
            EXPECT_EQ(u.AsInteger, -1);
            EXPECT_EQ(u.AsFloat, -1.0f);
        }
        TSerialResponse s = port.ReadS8(1, 35);
        EXPECT_EQ(s.Status, c.status);
        if (!c.status.empty()) {
            EXPECT_EQ(s.AsString, "");
        }
    }
}

TEST(VogtlinAnswers, ExceptionAnswerEndsWithoutTheFullWait) {
    ScriptedPeer peer([](const Bytes& rq) { return Spoiled(rq, Spoil::Exception); });
    ControllerPort port(peer.Path());
    port.SetReadoutTimeoutMS(1000);
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(port.ReadS50(1, 0x6022).Status, "Modbus exception 2");
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(300));
}

TEST(VogtlinAnswers, EveryWriteIsConfirmedByItsAnswer) {
    const CheckCase cases[] = {
        {"good", Spoil::None, ""},
        {"wrong crc", Spoil::Crc, kStatusCrcError},
        {"other slave", Spoil::OtherAddress, kStatusUnexpectedAnswer},
        {"exception", Spoil::Exception, "Modbus exception 2"},
        {"short", Spoil::Short, kStatusWrongAmount},
        {"silent", Spoil::Silent, kStatusNoResult},
        {"echo of another value", Spoil::EchoValue, kStatusUnexpectedAnswer},
        {"other register count", Spoil::WriteCount, kStatusUnexpectedAnswer},
    };
    for (const CheckCase& c : cases) {
        SCOPED_TRACE(c.what);
        ScriptedPeer peer([&](const Bytes& rq) { return Spoiled(rq, c.spoil); });
        ControllerPort port(peer.Path());
        EXPECT_EQ(port.WriteF32(1, 6, 0.0f).Status, c.status) << "WriteF32";
        EXPECT_EQ(port.WriteU8(1, 0x4139, 3).Status, c.status) << "WriteU8";
        EXPECT_EQ(port.WriteU16(1, 0x5FFF, 4).Status, c.status) << "WriteU16";
    }
}

TEST(VogtlinAnswers, PortThatCannotBeOpened) {
    ControllerPort port("/dev/moirex-no-such-port");
    TSerialResponse r = port.ReadF32(1, 0);
    EXPECT_EQ(r.Status, kStatusNoResult);
    EXPECT_TRUE(std::isnan(r.AsFloat));
    EXPECT_EQ(port.ReadU16(1, 12).AsInteger, -1);
    // A write keeps the transport's reason: the frame never left.
    EXPECT_EQ(port.WriteF32(1, 6, 0.0f).Status, kStatusPortInUse);
}

TEST(VogtlinAnswers, CheckAnswerDirectly) {
    const Bytes rq = TVogtlinPort::ReadRequest(1, 0, 2);
    EXPECT_EQ(TVogtlinPort::CheckAnswer(rq, {}), kStatusNoResult);
    EXPECT_EQ(TVogtlinPort::CheckAnswer(rq, ReadAnswer(rq, {0, 0, 0, 0})), "");
    // An exception frame with a broken CRC is a CRC error, not an exception.
    Bytes ex = WithCrc({1, 0x83, 4});
    EXPECT_EQ(TVogtlinPort::CheckAnswer(rq, ex), "Modbus exception 4");
    ex.back() ^= 1;
    EXPECT_EQ(TVogtlinPort::CheckAnswer(rq, ex), kStatusCrcError);
    EXPECT_EQ(TVogtlinPort::CheckAnswer(rq, WithCrc({2, 0x83, 4})), kStatusUnexpectedAnswer);
}

}  // namespace
}  // namespace moirex
