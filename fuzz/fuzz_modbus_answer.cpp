// The controllers' answer check and the decoding of register contents. The first byte chooses
// the request (function, register count); the rest is the answer as it came off the line.

#include <cstddef>
#include <cstdint>
#include <cctype>
#include <cstring>
#include <span>
#include <string>
#include <vector>

#include "devices/ModbusCrc.h"
#include "devices/SerialPortVogtlin.h"

using moirex::TVogtlinPort;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    const uint8_t choice = data[0];
    std::span<const uint8_t> answer(data + 1, size - 1);

    static constexpr uint16_t kCounts[] = {1, 2, 4, 25};
    std::vector<uint8_t> request;
    switch (choice % 4) {
        case 0:
        case 1:
            request = TVogtlinPort::ReadRequest(1 + (choice >> 7), 0x6020, kCounts[(choice >> 2) % 4]);
            break;
        case 2:
            request = TVogtlinPort::WriteSingleRequest(2, 0x4139, 3);
            break;
        default: {
            const uint8_t value[] = {0x3F, 0x80, 0, 0};
            request = TVogtlinPort::WriteMultipleRequest(1, 6, value);
            break;
        }
    }
    const std::string status = TVogtlinPort::CheckAnswer(request, answer);
    if (status.empty()) {
        // An accepted answer holds exactly what the request asked for, with a good CRC.
        if (!moirex::ModbusCrcValid(answer)) __builtin_trap();
        if (request[1] == 3) {
            const size_t count = static_cast<size_t>(request[4] << 8 | request[5]);
            if (answer.size() != 5 + 2 * count || answer[2] != 2 * count) __builtin_trap();
            const std::string text = TVogtlinPort::FilterText(answer.subspan(3, 2 * count));
            for (char c : text)
                if (c != ' ' && c != '%' && c != '*' && c != ',' && c != '/' && c != '_' && !std::isalnum(static_cast<unsigned char>(c)))
                    __builtin_trap();
        }
    }
    moirex::ModbusCrc16(answer);
    return 0;
}
