#pragma once
// One SECoP 1.0 message: a line of ASCII text, an action keyword, optionally one blank and a
// specifier without blanks, optionally one blank and a JSON value (the data) taking the rest of
// the line. The line feed that ends it is not part of it; a carriage return before it is ignored.
// The parser stands alone (no sockets, no mixer), so that it can be fuzzed and tested by itself.

#include <optional>
#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

namespace moirex::secop {

// The identification the node answers to "*IDN?".
inline constexpr const char* IdentificationRequest = "*IDN?";
inline constexpr const char* Identification = "ISSE,SECoP,V2019-09-16,v1.0";

// The error classes of SECoP 1.0 used by this node.
namespace error {
inline constexpr const char* ProtocolError = "ProtocolError";
inline constexpr const char* NoSuchModule = "NoSuchModule";
inline constexpr const char* NoSuchParameter = "NoSuchParameter";
inline constexpr const char* NoSuchCommand = "NoSuchCommand";
inline constexpr const char* ReadOnly = "ReadOnly";
inline constexpr const char* BadValue = "BadValue";
inline constexpr const char* Impossible = "Impossible";
inline constexpr const char* CommandFailed = "CommandFailed";
inline constexpr const char* IsBusy = "IsBusy";
inline constexpr const char* InternalError = "InternalError";
}  // namespace error

struct TMessage {
    std::string Action;
    std::string Specifier;
    std::optional<nlohmann::json> Data;  // none when the line has no data part

    // "module:accessible" split at the first colon; the accessible is empty without one.
    std::string Module() const;
    std::string Accessible() const;
};

struct TParseResult {
    std::optional<TMessage> Message;  // none: a ProtocolError
    std::string Error;                // why not, for the error reply
    // The action and specifier to name in the error reply (printable, never empty for an action).
    std::string Action, Specifier;
};

// Parses one line (without its line feed). Refused: an empty line, bytes outside printable ASCII,
// an empty action or specifier between blanks, data that is not one JSON value.
TParseResult ParseMessage(std::string_view line);

// "action", "action specifier" or "action specifier data", with the data as compact JSON. Ends
// in a line feed.
std::string FormatMessage(std::string_view action, std::string_view specifier = {},
                          const nlohmann::json* data = nullptr);

// The data report of a value: [value, {"t": seconds since 1970 UTC}].
nlohmann::json DataReport(const nlohmann::json& value, double t);

// "error_<action> <specifier> [class, text, {}]" with a line feed.
std::string ErrorMessage(std::string_view action, std::string_view specifier, std::string_view errorClass,
                         std::string_view text);

// A text fit to be named in a reply: printable ASCII kept, anything else as "?", at most
// `limit` characters.
std::string Printable(std::string_view text, size_t limit = 200);

}  // namespace moirex::secop
