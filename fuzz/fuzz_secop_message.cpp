// The SECoP message parser: any bytes, split into lines as the node splits them. A line that
// parses is written out again from its parts and must parse back to the same parts; a refused
// line names a printable action for its error reply, and the error reply itself parses.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "remote/SecopMessage.h"

namespace {

bool Printable(std::string_view s) {
    for (const char c : s)
        if (static_cast<unsigned char>(c) < 0x20 || static_cast<unsigned char>(c) >= 0x7f) return false;
    return true;
}

void OneLine(std::string_view line) {
    using namespace moirex::secop;
    const TParseResult r = ParseMessage(line);
    if (!r.Message) {
        if (r.Error.empty() || r.Action.empty() || !Printable(r.Action) || !Printable(r.Specifier)) __builtin_trap();
        std::string reply = ErrorMessage(r.Action, r.Specifier, error::ProtocolError, r.Error);
        reply.pop_back();
        const TParseResult back = ParseMessage(reply);
        // An action with a blank cannot come from the parser; the reply's data is the report.
        if (back.Message && (!back.Message->Data || !back.Message->Data->is_array())) __builtin_trap();
        return;
    }
    const TMessage& m = *r.Message;
    if (m.Action.empty() || m.Action.find(' ') != std::string::npos || m.Specifier.find(' ') != std::string::npos)
        __builtin_trap();
    // An action alone with an empty specifier but data cannot be written back the same way.
    if (m.Specifier.empty() && m.Data) return;
    std::string again = FormatMessage(m.Action, m.Specifier, m.Data ? &*m.Data : nullptr);
    again.pop_back();
    const TParseResult back = ParseMessage(again);
    if (!back.Message || back.Message->Action != m.Action || back.Message->Specifier != m.Specifier ||
        back.Message->Data.has_value() != m.Data.has_value())
        __builtin_trap();
    if (m.Data && !(*back.Message->Data == *m.Data) && !m.Data->is_discarded()) {
        // NaN cannot be written in JSON; everything else comes back equal.
        if (m.Data->dump() == back.Message->Data->dump()) return;
        __builtin_trap();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string_view text(reinterpret_cast<const char*>(data), size);
    while (!text.empty()) {
        const size_t end = text.find('\n');
        OneLine(text.substr(0, end));
        if (end == std::string_view::npos) break;
        text.remove_prefix(end + 1);
    }
    return 0;
}
