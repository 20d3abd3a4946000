// The emulator's request parsers: a controller's Modbus frame (length judgement and handling)
// and the pump's command line. The first byte chooses the instrument and the time step.

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

#include "devices/ModbusCrc.h"
#include "sim/MfcModel.h"
#include "sim/PumpModel.h"

using namespace moirex::sim;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    static MfcModel mfc(DefaultControllerA(), true, 1);
    static PumpModel pump(50, 12.5);
    static double now = 0;
    const uint8_t choice = data[0];
    now += (choice >> 2) * 0.37;
    std::span<const uint8_t> body(data + 1, size - 1);
    if (choice & 1) {
        // A pump line (its CR already taken off by the line reader).
        pump.Handle(std::string_view(reinterpret_cast<const char*>(body.data()), body.size()), now);
        pump.Advance(now + 0.5);
        if (pump.Position() < 0 || pump.Position() > PumpModel::kStrokeSteps) __builtin_trap();
        return 0;
    }
    MfcModel::ExpectedRequestLength(body);
    std::vector<uint8_t> frame(body.begin(), body.end());
    if (choice & 2) moirex::AppendModbusCrc(frame);  // a frame with a good CRC gets past the check
    const std::vector<uint8_t> answer = mfc.Handle(frame, now);
    if (!answer.empty() && !moirex::ModbusCrcValid(answer)) __builtin_trap();
    mfc.Advance(now + 1);
    return 0;
}
