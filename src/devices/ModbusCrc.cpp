#include "devices/ModbusCrc.h"

#include <array>

namespace moirex {

namespace {

// CRC of each value of (CRC exclusive-or byte) low 8 bits, so that a frame costs one table
// look-up a byte instead of eight shifts.
constexpr std::array<uint16_t, 256> MakeCrcTable() {
    std::array<uint16_t, 256> table{};
    for (unsigned i = 0; i < 256; ++i) {
        uint16_t crc = static_cast<uint16_t>(i);
        for (int bit = 0; bit < 8; ++bit) crc = (crc & 1) ? static_cast<uint16_t>((crc >> 1) ^ 0xA001) : static_cast<uint16_t>(crc >> 1);
        table[i] = crc;
    }
    return table;
}

constexpr std::array<uint16_t, 256> kCrcTable = MakeCrcTable();

}  // namespace

uint16_t ModbusCrc16(std::span<const uint8_t> bytes) {
    uint16_t crc = 0xFFFF;
    for (uint8_t b : bytes) crc = static_cast<uint16_t>((crc >> 8) ^ kCrcTable[(crc ^ b) & 0xFF]);
    return crc;
}

bool ModbusCrcValid(std::span<const uint8_t> frame) {
    if (frame.size() < 3) return false;
    uint16_t crc = ModbusCrc16(frame.first(frame.size() - 2));
    return frame[frame.size() - 2] == (crc & 0xFF) && frame[frame.size() - 1] == (crc >> 8);
}

}  // namespace moirex
