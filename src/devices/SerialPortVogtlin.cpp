#include "devices/SerialPortVogtlin.h"

#include <algorithm>
#include <bit>
#include <cstdio>
#include <limits>

#include "devices/ModbusCrc.h"
#include "support/Log.h"
#include "support/TextFormat.h"

namespace moirex {

namespace {

constexpr size_t kExceptionAnswerLength = 5;
constexpr size_t kWriteAnswerLength = 8;
// The controllers answer within a few milliseconds of t3.5; an answer later than this is taken
// to be lost, and the line must have been silent this long before the next request.
constexpr uint32_t kControllerQuietLineMs = 250;

bool IsException(const std::string& status) { return status.rfind(kStatusModbusException, 0) == 0; }

size_t ReadAnswerLength(uint16_t registers) { return 5 + 2 * static_cast<size_t>(registers); }

// Lets the transport end its read as soon as the frame is complete: an exception answer after
// 5 bytes, any other after the length the request asks for.
TAnswerLength FrameLength(uint8_t function, size_t expected) {
    return [function, expected](std::span<const uint8_t> received) -> size_t {
        if (received.size() < 2) return 0;
        return received[1] == (function | 0x80) ? kExceptionAnswerLength : expected;
    };
}

void FillDumps(TSerialResponse& r) {
    r.AsHex.clear();
    r.AsInt.clear();
    char hex[4];
    for (size_t i = 0; i < r.ResponseLength; ++i) {
        std::snprintf(hex, sizeof hex, "%02X ", r.rArray[i]);
        r.AsHex += hex;
        r.AsInt += std::to_string(r.rArray[i]) + " ";
    }
}

uint32_t Bits32(const TSerialResponse& r) {
    return (static_cast<uint32_t>(r.rArray[3]) << 24) | (static_cast<uint32_t>(r.rArray[4]) << 16) |
           (static_cast<uint32_t>(r.rArray[5]) << 8) | static_cast<uint32_t>(r.rArray[6]);
}

std::span<const uint8_t> Answer(const TSerialResponse& r) {
    return std::span<const uint8_t>(r.rArray.data(), r.ResponseLength);
}

}  // namespace

void TVogtlinPort::UseControllerSettings(const std::string& port, uint32_t readoutTimeoutMS) {
    SetPort(port);
    SetBaudRate(9600);
    SetStopBits(2);
    SetParity(0);
    SetWindowsReadLoopTimeoutMS(10);
    SetReadoutTimeoutMS(readoutTimeoutMS);
    SetQuietLineMS(kControllerQuietLineMs);
}

std::vector<uint8_t> TVogtlinPort::BuildFrame(uint32_t DeviceAddress, uint8_t function, uint32_t MemoryAddress,
                                              std::span<const uint8_t> body) {
    std::vector<uint8_t> frame;
    frame.reserve(4 + body.size() + 2);
    frame.push_back(static_cast<uint8_t>(DeviceAddress & 0xFF));
    frame.push_back(function);
    frame.push_back(static_cast<uint8_t>((MemoryAddress >> 8) & 0xFF));
    frame.push_back(static_cast<uint8_t>(MemoryAddress & 0xFF));
    frame.insert(frame.end(), body.begin(), body.end());
    AppendModbusCrc(frame);
    return frame;
}

std::vector<uint8_t> TVogtlinPort::ReadRequest(uint32_t DeviceAddress, uint32_t MemoryAddress, uint16_t registers) {
    const uint8_t body[] = {static_cast<uint8_t>(registers >> 8), static_cast<uint8_t>(registers & 0xFF)};
    return BuildFrame(DeviceAddress, kModbusReadHolding, MemoryAddress, body);
}

std::vector<uint8_t> TVogtlinPort::WriteSingleRequest(uint32_t DeviceAddress, uint32_t MemoryAddress,
                                                      uint16_t value) {
    const uint8_t body[] = {static_cast<uint8_t>(value >> 8), static_cast<uint8_t>(value & 0xFF)};
    return BuildFrame(DeviceAddress, kModbusWriteSingle, MemoryAddress, body);
}

std::vector<uint8_t> TVogtlinPort::WriteMultipleRequest(uint32_t DeviceAddress, uint32_t MemoryAddress,
                                                        std::span<const uint8_t> data) {
    const auto registers = static_cast<uint16_t>(data.size() / 2);
    std::vector<uint8_t> body = {static_cast<uint8_t>(registers >> 8), static_cast<uint8_t>(registers & 0xFF),
                                 static_cast<uint8_t>(data.size())};
    body.insert(body.end(), data.begin(), data.end());
    return BuildFrame(DeviceAddress, kModbusWriteMultiple, MemoryAddress, body);
}

std::string TVogtlinPort::CheckAnswer(std::span<const uint8_t> request, std::span<const uint8_t> answer) {
    if (answer.empty()) return kStatusNoResult;
    if (request.size() < 6) return kStatusUnexpectedAnswer;
    const uint8_t address = request[0];
    const uint8_t function = request[1];

    // An exception answer: address, function with the high bit set, code, CRC.
    if (answer.size() == kExceptionAnswerLength && answer[1] == (function | 0x80)) {
        if (!ModbusCrcValid(answer)) return kStatusCrcError;
        if (answer[0] != address) return kStatusUnexpectedAnswer;
        return kStatusModbusException + std::to_string(answer[2]);
    }

    size_t expected = kWriteAnswerLength;
    if (function == kModbusReadHolding) expected = ReadAnswerLength(static_cast<uint16_t>(request[4] << 8 | request[5]));
    if (answer.size() != expected) return kStatusWrongAmount;
    if (!ModbusCrcValid(answer)) return kStatusCrcError;
    if (answer[0] != address || answer[1] != function) return kStatusUnexpectedAnswer;

    switch (function) {
        case kModbusReadHolding:
            if (answer[2] != expected - 5) return kStatusUnexpectedAnswer;
            break;
        case kModbusWriteSingle:
            // The controller echoes the request.
            if (!std::equal(answer.begin(), answer.end(), request.begin(), request.end()))
                return kStatusUnexpectedAnswer;
            break;
        default:
            // Address, register and register count of the request.
            if (!std::equal(answer.begin() + 2, answer.begin() + 6, request.begin() + 2))
                return kStatusUnexpectedAnswer;
            break;
    }
    return {};
}

std::string TVogtlinPort::FilterText(std::span<const uint8_t> bytes) {
    std::string text;
    for (uint8_t b : bytes) {
        const bool keep = b == ' ' || b == '%' || b == '*' || b == ',' || b == '/' || b == '_' ||
                          (b >= '0' && b <= '9') || (b >= 'A' && b <= 'Z') || (b >= 'a' && b <= 'z');
        if (keep) text.push_back(static_cast<char>(b));
    }
    return text;
}

TSerialResponse TVogtlinPort::Read(uint32_t DeviceAddress, uint32_t MemoryAddress, uint16_t registers) {
    const std::vector<uint8_t> request = ReadRequest(DeviceAddress, MemoryAddress, registers);
    TSerialResponse r =
        SendData(request.data(), static_cast<uint32_t>(request.size()), true, FrameLength(kModbusReadHolding, ReadAnswerLength(registers)));
    FillDumps(r);
    // A transport failure (port in use, write failed, nothing came) reads as no result.
    r.Status = r.ResponseLength == 0 ? std::string(kStatusNoResult) : CheckAnswer(request, Answer(r));
    // Bytes that are no answer to this request: the line may still carry the rest of them.
    if (r.ResponseLength > 0 && !r.Status.empty() && !IsException(r.Status)) LineNeedsQuiet();
    return r;
}

TSerialResponse TVogtlinPort::Write(const std::vector<uint8_t>& request) {
    TSerialResponse r =
        SendData(request.data(), static_cast<uint32_t>(request.size()), true, FrameLength(request[1], kWriteAnswerLength));
    FillDumps(r);
    if (r.ResponseLength > 0) {
        r.Status = CheckAnswer(request, Answer(r));
        if (!r.Status.empty() && !IsException(r.Status)) LineNeedsQuiet();
    } else if (r.Status.empty() || r.Status == kStatusByteTimeout) {
        r.Status = kStatusNoResult;
    }  // else: the transport's own message says why the frame never left
    // No pause after the write: the controller's answer has been read, and the line keeps t3.5
    // of silence before the next request.
    return r;
}

TSerialResponse TVogtlinPort::ReadU8(uint32_t DeviceAddress, uint32_t MemoryAddress) {
    return ReadU16(DeviceAddress, MemoryAddress);
}

TSerialResponse TVogtlinPort::ReadU16(uint32_t DeviceAddress, uint32_t MemoryAddress) {
    TSerialResponse r = Read(DeviceAddress, MemoryAddress, 1);
    if (r.Status.empty()) {
        r.AsInteger = r.rArray[3] * 256 + r.rArray[4];
        r.AsFloat = static_cast<float>(r.AsInteger);
    }
    return r;
}

TSerialResponse TVogtlinPort::ReadU32(uint32_t DeviceAddress, uint32_t MemoryAddress) {
    TSerialResponse r = Read(DeviceAddress, MemoryAddress, 2);
    if (r.Status.empty()) {
        const uint32_t bits = Bits32(r);
        r.AsInteger = std::bit_cast<int32_t>(bits);
        r.AsFloat = static_cast<float>(bits);
    }
    return r;
}

TSerialResponse TVogtlinPort::ReadF32(uint32_t DeviceAddress, uint32_t MemoryAddress) {
    SerialPortLogger().Send("ReadF32");
    TSerialResponse r = Read(DeviceAddress, MemoryAddress, 2);
    r.AsFloat = r.Status.empty() ? std::bit_cast<float>(Bits32(r)) : std::numeric_limits<float>::quiet_NaN();
    return r;
}

TSerialResponse TVogtlinPort::ReadS8(uint32_t DeviceAddress, uint32_t MemoryAddress) {
    TSerialResponse r = Read(DeviceAddress, MemoryAddress, 4);
    if (r.Status.empty()) r.AsString = Trim(FilterText(std::span<const uint8_t>(r.rArray.data() + 3, 8)));
    return r;
}

TSerialResponse TVogtlinPort::ReadS50(uint32_t DeviceAddress, uint32_t MemoryAddress) {
    TSerialResponse r = Read(DeviceAddress, MemoryAddress, 25);
    if (r.Status.empty()) r.AsString = FilterText(std::span<const uint8_t>(r.rArray.data() + 3, 50));
    return r;
}

TSerialResponse TVogtlinPort::WriteU8(uint32_t DeviceAddress, uint32_t MemoryAddress, uint16_t aValue) {
    return Write(WriteSingleRequest(DeviceAddress, MemoryAddress, aValue));
}

TSerialResponse TVogtlinPort::WriteU16(uint32_t DeviceAddress, uint32_t MemoryAddress, uint32_t aValue) {
    const uint8_t data[] = {static_cast<uint8_t>((aValue >> 8) & 0xFF), static_cast<uint8_t>(aValue & 0xFF)};
    return Write(WriteMultipleRequest(DeviceAddress, MemoryAddress, data));
}

TSerialResponse TVogtlinPort::WriteF32(uint32_t DeviceAddress, uint32_t MemoryAddress, float aValue) {
    const uint32_t bits = std::bit_cast<uint32_t>(aValue);
    const uint8_t data[] = {static_cast<uint8_t>(bits >> 24), static_cast<uint8_t>(bits >> 16),
                            static_cast<uint8_t>(bits >> 8), static_cast<uint8_t>(bits)};
    return Write(WriteMultipleRequest(DeviceAddress, MemoryAddress, data));
}

TSerialResponse TVogtlinPort::WriteS50(uint32_t DeviceAddress, uint32_t MemoryAddress, const std::string& aValue) {
    std::string text = aValue.substr(0, 50);
    text.resize(50, ' ');
    std::vector<uint8_t> data(text.begin(), text.end());
    return Write(WriteMultipleRequest(DeviceAddress, MemoryAddress, data));
}

}  // namespace moirex
