#pragma once
// CRC-16/MODBUS of the controllers' frames: polynomial 0xA001 (reflected 0x8005), initial value
// 0xFFFF, sent low byte first. The one CRC of the system: driver and emulator both use it.

#include <cstddef>
#include <cstdint>
#include <span>

namespace moirex {

uint16_t ModbusCrc16(std::span<const uint8_t> bytes);

// Appends the CRC to a frame, low byte first.
template <class Container>
void AppendModbusCrc(Container& frame) {
    uint16_t crc = ModbusCrc16(std::span<const uint8_t>(frame.data(), frame.size()));
    frame.push_back(static_cast<uint8_t>(crc & 0xFF));
    frame.push_back(static_cast<uint8_t>(crc >> 8));
}

// True when the last two bytes are the CRC of the bytes before them.
bool ModbusCrcValid(std::span<const uint8_t> frame);

}  // namespace moirex
