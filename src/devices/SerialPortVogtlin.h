#pragma once
// Modbus RTU driver of the Vögtlin mass flow controllers: one register read or write becomes one
// request frame, sent with the byte exchange of TSerialPort; the controller's answer is checked
// (address, function, byte count, CRC) before anything is decoded, and every write is confirmed
// by the controller's answer before it counts as done.

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "devices/SerialPort.h"

namespace moirex {

// Status texts of the driver, besides those of the transport.
inline constexpr const char* kStatusUnknownCondition = "Unknown condition";
inline constexpr const char* kStatusNoResult = "No result to read";
inline constexpr const char* kStatusWrongAmount = "Wrong amount of data waiting";
inline constexpr const char* kStatusCrcError = "CRC error in answer";
inline constexpr const char* kStatusUnexpectedAnswer = "Unexpected answer";
inline constexpr const char* kStatusModbusException = "Modbus exception ";  // + the exception code

// Function codes the controllers are spoken to with.
inline constexpr uint8_t kModbusReadHolding = 3;
inline constexpr uint8_t kModbusWriteSingle = 6;
inline constexpr uint8_t kModbusWriteMultiple = 16;

class TVogtlinPort : public TSerialPort {
public:
    using TSerialPort::TSerialPort;

    // The line and timing of the controllers: 9600 baud, two stop bits, no parity, 10 ms poll
    // period, the given read-out time-out.
    void UseControllerSettings(const std::string& port, uint32_t readoutTimeoutMS = 50);

    // Reads (function 3). DeviceAddress: low 8 bits sent; MemoryAddress: low 16 bits sent.
    TSerialResponse ReadU8(uint32_t DeviceAddress, uint32_t MemoryAddress);   // 1 register
    TSerialResponse ReadU16(uint32_t DeviceAddress, uint32_t MemoryAddress);  // 1 register
    // 2 registers, high word first: AsInteger the 32 bits as signed, AsFloat as unsigned.
    TSerialResponse ReadU32(uint32_t DeviceAddress, uint32_t MemoryAddress);
    // 2 registers, IEEE-754 single, most significant byte first; AsFloat NaN when it fails.
    TSerialResponse ReadF32(uint32_t DeviceAddress, uint32_t MemoryAddress);
    TSerialResponse ReadS8(uint32_t DeviceAddress, uint32_t MemoryAddress);   // 4 registers, trimmed
    TSerialResponse ReadS50(uint32_t DeviceAddress, uint32_t MemoryAddress);  // 25 registers, not trimmed

    // Writes. Status is empty only when the controller's answer confirms the write.
    TSerialResponse WriteU8(uint32_t DeviceAddress, uint32_t MemoryAddress, uint16_t aValue);  // function 6
    TSerialResponse WriteU16(uint32_t DeviceAddress, uint32_t MemoryAddress, uint32_t aValue);  // function 16, low 16 bits
    TSerialResponse WriteF32(uint32_t DeviceAddress, uint32_t MemoryAddress, float aValue);     // function 16, 2 registers
    // function 16, 25 registers: the text padded with blanks to 50 characters, or its first 50.
    TSerialResponse WriteS50(uint32_t DeviceAddress, uint32_t MemoryAddress, const std::string& aValue);

    // The one frame builder: address, function, register (high byte first), the body, and the
    // CRC low byte first.
    static std::vector<uint8_t> BuildFrame(uint32_t DeviceAddress, uint8_t function, uint32_t MemoryAddress,
                                           std::span<const uint8_t> body);
    static std::vector<uint8_t> ReadRequest(uint32_t DeviceAddress, uint32_t MemoryAddress, uint16_t registers);
    static std::vector<uint8_t> WriteSingleRequest(uint32_t DeviceAddress, uint32_t MemoryAddress, uint16_t value);
    static std::vector<uint8_t> WriteMultipleRequest(uint32_t DeviceAddress, uint32_t MemoryAddress,
                                                     std::span<const uint8_t> data);

    // Status of an answer to `request`, empty when it is the answer expected: a read answer of
    // 5 + 2 x registers bytes, a write answer of 8 bytes.
    static std::string CheckAnswer(std::span<const uint8_t> request, std::span<const uint8_t> answer);

    // Text of controller registers: blank, "%", "*", ",", "/", digits, letters and "_" kept,
    // every other byte dropped.
    static std::string FilterText(std::span<const uint8_t> bytes);

private:
    TSerialResponse Read(uint32_t DeviceAddress, uint32_t MemoryAddress, uint16_t registers);
    TSerialResponse Write(const std::vector<uint8_t>& request);
};

}  // namespace moirex
