#include "remote/SecopMessage.h"

namespace moirex::secop {

namespace {

bool PrintableByte(unsigned char c) { return c >= 0x20 && c < 0x7f; }

}  // namespace

std::string TMessage::Module() const { return Specifier.substr(0, Specifier.find(':')); }

std::string TMessage::Accessible() const {
    const size_t colon = Specifier.find(':');
    return colon == std::string::npos ? std::string() : Specifier.substr(colon + 1);
}

std::string Printable(std::string_view text, size_t limit) {
    std::string out;
    for (const char c : text.substr(0, limit)) out += PrintableByte(static_cast<unsigned char>(c)) ? c : '?';
    return out;
}

TParseResult ParseMessage(std::string_view line) {
    TParseResult r;
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    const size_t firstBlank = line.find(' ');
    r.Action = Printable(line.substr(0, firstBlank), 64);
    if (r.Action.empty()) r.Action = "?";
    if (line.empty()) {
        r.Error = "empty message";
        return r;
    }
    for (const char c : line) {
        if (!PrintableByte(static_cast<unsigned char>(c))) {
            r.Error = "a message is printable ASCII text";
            return r;
        }
    }
    TMessage m;
    m.Action = std::string(line.substr(0, firstBlank));
    if (m.Action.empty()) {
        r.Error = "a message begins with its action";
        return r;
    }
    if (firstBlank != std::string_view::npos) {
        const std::string_view rest = line.substr(firstBlank + 1);
        const size_t secondBlank = rest.find(' ');
        m.Specifier = std::string(rest.substr(0, secondBlank));
        r.Specifier = Printable(m.Specifier, 128);
        if (m.Specifier.empty()) {
            r.Error = "an empty specifier between blanks";
            return r;
        }
        if (secondBlank != std::string_view::npos) {
            const std::string_view data = rest.substr(secondBlank + 1);
            nlohmann::json value = nlohmann::json::parse(data.begin(), data.end(), nullptr, false);
            if (value.is_discarded()) {
                r.Error = "the data is not a JSON value";
                return r;
            }
            m.Data = std::move(value);
        }
    }
    r.Message = std::move(m);
    return r;
}

std::string FormatMessage(std::string_view action, std::string_view specifier, const nlohmann::json* data) {
    std::string line(action);
    if (!specifier.empty() || data) {
        line += ' ';
        line += specifier;
    }
    if (data) {
        line += ' ';
        // Invalid UTF-8 in a text (an instrument's name) is replaced rather than throwing.
        line += data->dump(-1, ' ', true, nlohmann::json::error_handler_t::replace);
    }
    line += '\n';
    return line;
}

nlohmann::json DataReport(const nlohmann::json& value, double t) {
    return nlohmann::json::array({value, {{"t", t}}});
}

std::string ErrorMessage(std::string_view action, std::string_view specifier, std::string_view errorClass,
                         std::string_view text) {
    const nlohmann::json report = nlohmann::json::array({errorClass, text, nlohmann::json::object()});
    return FormatMessage("error_" + std::string(action), specifier, &report);
}

}  // namespace moirex::secop
