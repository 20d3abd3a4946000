#include "devices/PSD4_Interface.h"

#include <array>
#include <utility>

#include "support/Log.h"
#include "support/TextFormat.h"

namespace moirex {

namespace {

constexpr char kGraveAccent = '\x60';  // status character of a pump at rest without error

// The status characters that the pump's answers carry: the busy row (0x40 + error code), the
// ready row (0x60 + error code) and the state they stand for. Codes 5, 7, 8, 12, 13 and 14 are
// not listed: such a character leaves the state as it was.
struct TStatusRow {
    char busy;
    char ready;
    EnumPumpState state;
};

constexpr std::array<TStatusRow, 11> kStatusRows{{
    {'@', '`', EnumPumpState::ps_No_error},
    {'A', 'a', EnumPumpState::ps_Initialization_error__Occurs_when_a_syringe_or_valve_error_happens_during_initialization},
    {'B', 'b', EnumPumpState::ps_Invalid_command__Occurs_when_an_unrecognized_command_is_used},
    {'C', 'c', EnumPumpState::ps_Invalid_operand__Occurs_when_and_invalid_parameter_is_given_with_a_command},
    {'D', 'd', EnumPumpState::ps_Invalid_command_sequence__Occurs_when_the_command_communication_protocol_is_incorrect},
    {'F', 'f', EnumPumpState::ps_EEPROM_failure__Occurs_when_the_EEPROM_is_faulty},
    {'G', 'g', EnumPumpState::ps_Syringe_not_initialized__Occurs_when_the_syringefails_to_initialize},
    {'I', 'i', EnumPumpState::ps_Syringe_overload__Occurs_when_the_syringe_encounters_excessive_back_pressure},
    {'J', 'j', EnumPumpState::ps_Valve_overload__Occurs_when_the_valve_drive_encounters_excessive_back_pressure},
    {'K', 'k', EnumPumpState::ps_Syringe_move_not_allowed__When_the_valve_is_in_the_bypass_or_throughput_position_syringe_move_commands_are_not_allowed},
    {'O', 'o', EnumPumpState::ps_Pump_is_busy__Occurs_when_the_command_buffer_is_full},
}};

constexpr std::array<std::string_view, 14> kStateNames{{
    "ps_Undefined",
    "ps_Connected",
    "ps_Initialized",
    "ps_No_error",
    "ps_Initialization_error__Occurs_when_a_syringe_or_valve_error_happens_during_initialization",
    "ps_Invalid_command__Occurs_when_an_unrecognized_command_is_used",
    "ps_Invalid_operand__Occurs_when_and_invalid_parameter_is_given_with_a_command",
    "ps_Invalid_command_sequence__Occurs_when_the_command_communication_protocol_is_incorrect",
    "ps_EEPROM_failure__Occurs_when_the_EEPROM_is_faulty",
    "ps_Syringe_not_initialized__Occurs_when_the_syringefails_to_initialize",
    "ps_Syringe_overload__Occurs_when_the_syringe_encounters_excessive_back_pressure",
    "ps_Valve_overload__Occurs_when_the_valve_drive_encounters_excessive_back_pressure",
    "ps_Syringe_move_not_allowed__When_the_valve_is_in_the_bypass_or_throughput_position_syringe_move_commands_are_not_allowed",
    "ps_Pump_is_busy__Occurs_when_the_command_buffer_is_full",
}};

// Every occurrence of `from` in `text` replaced by `to`, left to right.
std::string ReplaceAll(std::string text, std::string_view from, std::string_view to) {
    size_t pos = 0;
    while ((pos = text.find(from, pos)) != std::string::npos) {
        text.replace(pos, from.size(), to);
        pos += to.size();
    }
    return text;
}

// The pump's commands and queries of the type check, each ended by a carriage return.
constexpr const char* kFindWake = "\r";
constexpr const char* kFindTerminate = "/1TIR\r";
constexpr const char* kFindTypeQuery = "/1?26\r";
constexpr const char* kFindInitCommand = "/1TZN2IV48000R";
constexpr const char* kFindStatusQuery = "/1Q\r";
constexpr double kStandbyTimeoutS = 50.0;

const TStatusRow* FindStatusRow(char c) {
    for (const auto& row : kStatusRows)
        if (c == row.busy || c == row.ready) return &row;
    return nullptr;
}

}  // namespace

bool PumpAnswerHasStatus(std::string_view response) {
    return response.size() >= 3 && response.substr(0, 2) == "/0" && FindStatusRow(response[2]) != nullptr;
}

std::string_view EnumPumpStateName(EnumPumpState state) {
    auto index = static_cast<size_t>(state);
    return index < kStateNames.size() ? kStateNames[index] : std::string_view{};
}

void TPumpFeedbackLines::AddLine(const std::string& line) { Lines.push_back(line); }

void TPumpFeedbackLines::ReplaceLastLine(const std::string& line) {
    if (Lines.empty())
        Lines.push_back(line);
    else
        Lines.back() = line;
}

TPSD4::TPSD4(TPumpMessageSink sink, Clock& clock) : fSink(std::move(sink)), fClock(clock) {
    fConnectResponse.Init();
}

TPSD4::~TPSD4() = default;

std::unique_ptr<TSerialPort> TPSD4::MakePort(const std::string& port) const {
    auto com = std::make_unique<TSerialPort>(nullptr);
    com->SetPort(port);
    com->SetBaudRate(9600);
    com->SetWindowsReadLoopTimeoutMS(PortTiming.WindowsReadLoopTimeoutMS);
    com->SetReadoutTimeoutMS(PortTiming.ReadoutTimeoutMS);
    // The pump answers well within its read-out window; an answer later than that counts as
    // lost, and the line must have been silent half as long again before the next command.
    com->SetQuietLineMS(PortTiming.ReadoutTimeoutMS + PortTiming.ReadoutTimeoutMS / 2);
    return com;
}

bool TPSD4::Connect(const std::string& aCOMPort) {
    fCOM = MakePort(aCOMPort);
    fConnectResponse.Init();
    fConnectResponse = fCOM->Send2(kPumpConnectQuery, true);
    const std::string& r = fConnectResponse.Response;
    if (r == kPumpConnectAnswer) {
        State = EnumPumpState::ps_Connected;
        Busy = false;
        return true;
    }
    // The pump is there as well when it answers with another status character: busy running a
    // command (a dosing loop runs until it is stopped), or still reporting the error of an
    // earlier command. Refusing it would leave every tool, the stop included, locked out of a
    // pump that may be moving; what the pump does next shows in the answers to the commands.
    if (r.size() == 6 && PumpAnswerHasStatus(r) && r.compare(3, 3, "255") == 0) {
        State = EnumPumpState::ps_Connected;
        Busy = r[2] == FindStatusRow(r[2])->busy;
        return true;
    }
    return false;
}

bool TPSD4::SendCommand(const std::string& aCommand, TSerialResponse& aResponse, bool aWantAnswer) {
    // The address is an ASCII character; anything wider would not be a valid pump address.
    const char address = pAddressASCII < 0x80 ? static_cast<char>(pAddressASCII) : '?';
    const std::string frame = std::string("/") + address + aCommand + "\r";
    aResponse.Init();
    if (State == EnumPumpState::ps_Undefined || !fCOM) {
        aResponse.Status = kPumpStateUndefined + frame;
        return false;
    }
    aResponse = fCOM->Send2(frame, aWantAnswer);
    if (!aWantAnswer) return false;
    SetStatus(aResponse);
    LastCommand = aCommand;
    // Only a status character says what the pump did with the command: an answer without one
    // ("/0" alone, garbled bytes) is a failed exchange, not an accepted command.
    if (!PumpAnswerHasStatus(aResponse.Response)) {
        if (aResponse.Status.empty()) aResponse.Status = kPumpNoStatus + aResponse.Response + "\"";
        return false;
    }
    return true;
}

void TPSD4::SetStatus(const TSerialResponse& aResponse) {
    const std::string& r = aResponse.Response;
    if (r.size() < 3) {
        // No status character to go by: nothing new is known of the pump, so busy and state stay
        // as last reported (a pump last seen busy may still be moving).
        const std::string message = kPumpSetStatesFailed + r;
        if (fSink)
            fSink(message);
        else
            DefaultLogger().Send(message);
        return;
    }
    // Bytes that do not begin as a pump answer begins ("/0") are no status of the pump, whatever
    // their third character happens to be.
    if (r.compare(0, 2, "/0") != 0) return;
    const TStatusRow* row = FindStatusRow(r[2]);
    if (row) State = row->state;
    Busy = row && r[2] == row->busy;
}

std::string TPSD4::StatusAsString() const {
    std::string name(EnumPumpStateName(State));
    std::string text = name.size() > 3 ? name.substr(3) : std::string{};
    text = ReplaceAll(std::move(text), "__", " - ");
    text = ReplaceAll(std::move(text), "_", " ");
    return (Busy ? "Busy, " : "Ready, ") + text;
}

bool TPSD4::Stop() {
    // Without a connected pump nothing can be sent, and nothing is known to have stopped.
    if (State == EnumPumpState::ps_Undefined || !fCOM) return false;
    const double start = fClock.MonotonicSeconds();
    TSerialResponse response;
    // The terminate command is sent again until the pump has answered it; then status queries.
    bool answered = SendCommand("T", response, true);
    bool terminated = answered;
    for (;;) {
        // Only an answer that shows the pump at rest ends the wait: a pump that fell silent, or
        // answered without a status, may still be moving.
        if (answered && !Busy) return State == EnumPumpState::ps_No_error;
        if (fClock.MonotonicSeconds() - start > 5.0) return false;
        for (int slept = 0; slept < 100; slept += 10) {
            if (Abandon && Abandon->load()) return false;
            fClock.SleepMs(10);
        }
        answered = SendCommand(terminated ? "Q" : "T", response, true);
        terminated = terminated || answered;
    }
}

bool TPSD4::PumpFindInit(const std::string& Port, TPumpFeedback& Feedback) {
    fPumpOnStandby = false;
    auto com = MakePort(Port);

    Feedback.AddLine("");
    Feedback.AddLine("Query port         :" + Port);

    com->Send2(kFindWake, true);
    fClock.SleepMs(100);
    com->Send2(kFindTerminate, false);
    fClock.SleepMs(100);
    const TSerialResponse typeAnswer = com->Send2(kFindTypeQuery, true);

    // The type is in the data after the status character; an answer without a status is no
    // pump's answer, whatever digits it happens to hold.
    const std::string typeData =
        PumpAnswerHasStatus(typeAnswer.Response) ? typeAnswer.Response.substr(3) : std::string();
    if (typeData.find("75") != std::string::npos) {
        Feedback.AddLine("Found pump on port :" + Port);
        Feedback.AddLine("However, this is old type pump using in few prototypes.");
        Feedback.AddLine("Use older version of the software or have your Moirex upgraded.");
        return false;
    }
    if (typeData.find("50") == std::string::npos) {
        Feedback.AddLine("Send data          :" + typeAnswer.SentMessage);
        Feedback.AddLine("Comm Status        :" + typeAnswer.Status);
        Feedback.AddLine("Comm Response      :\"" + typeAnswer.Response +
                         "\" -> No pump found on this port, or a problem with the port. Read manual "
                         "about drivers. Turn the Moirex off and few seconds later on, and try again.");
        return false;
    }

    Feedback.AddLine("Found pump on port :" + Port);
    Feedback.AddLine("Initializing correct settings...");
    const double start = fClock.MonotonicSeconds();
    com->Send2(std::string(kFindInitCommand) + "\r", true);
    Feedback.AddLine(std::string(" -> ") + kFindInitCommand);
    Feedback.AddLine(" -> Wait until pump is silent. Timeout in 50 seconds");
    Feedback.AddLine(" -> Elapsed: 0 s");
    Feedback.ProcessPendingEvents();

    // The answer to the initialisation itself does not count: only a status query after it
    // tells that the pump has finished moving.
    bool ready = false;
    while (!ready && fClock.MonotonicSeconds() - start < kStandbyTimeoutS) {
        const TSerialResponse answer = com->Send2(kFindStatusQuery, true);
        ready = PumpAnswerHasStatus(answer.Response) && answer.Response[2] == kGraveAccent;
        fClock.SleepMs(500);
        Feedback.ReplaceLastLine(" -> Elapsed: " +
                                 FormatMask(fClock.MonotonicSeconds() - start, "##") + " s");
    }

    fPumpOnStandby = ready;
    Feedback.AddLine(ready ? " -> Pump is OK and on standby."
                           : " -> Pump failed to report standby and error free within timeout period.");
    return true;
}

}  // namespace moirex
