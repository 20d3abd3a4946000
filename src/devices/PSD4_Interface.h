#pragma once
// Driver of the syringe pump (Hamilton PSD/4-type ASCII protocol). A command goes out as
// "/" + address character + command + CR through the text exchange; the pump answers "/0", its
// status character and any data. The status character gives the pump state (low four bits: the
// error code) and whether the pump is busy (0x40 row) or ready (0x60 row).
//
// One pump object serves one action: make it, Connect, Stop and/or SendCommand, free it. The
// driver never shows anything itself: a message for the operator goes to the message sink that
// the caller hands in (a message box in the window, the run log in the run controller, the
// terminal in moirexctl), so that no exchange can wait for a click in the middle of a tick or of
// the stop procedure.

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "devices/SerialPort.h"
#include "state/InstrumentRecords.h"
#include "support/Clock.h"

namespace moirex {

enum class EnumInterfaceType : uint8_t { it_Undefined = 0, it_ASCII = 1 };

enum class EnumPumpState : uint8_t {
    ps_Undefined = 0,
    ps_Connected = 1,
    ps_Initialized = 2,  // no operation sets it
    ps_No_error = 3,
    ps_Initialization_error__Occurs_when_a_syringe_or_valve_error_happens_during_initialization = 4,
    ps_Invalid_command__Occurs_when_an_unrecognized_command_is_used = 5,
    ps_Invalid_operand__Occurs_when_and_invalid_parameter_is_given_with_a_command = 6,
    ps_Invalid_command_sequence__Occurs_when_the_command_communication_protocol_is_incorrect = 7,
    ps_EEPROM_failure__Occurs_when_the_EEPROM_is_faulty = 8,
    ps_Syringe_not_initialized__Occurs_when_the_syringefails_to_initialize = 9,
    ps_Syringe_overload__Occurs_when_the_syringe_encounters_excessive_back_pressure = 10,
    ps_Valve_overload__Occurs_when_the_valve_drive_encounters_excessive_back_pressure = 11,
    ps_Syringe_move_not_allowed__When_the_valve_is_in_the_bypass_or_throughput_position_syringe_move_commands_are_not_allowed = 12,
    ps_Pump_is_busy__Occurs_when_the_command_buffer_is_full = 13,
};

// The member name of a pump state, such as "ps_No_error"; "" for a value outside the enumeration.
std::string_view EnumPumpStateName(EnumPumpState state);

// Where the driver hands a message meant for the operator.
using TPumpMessageSink = std::function<void(const std::string& message)>;

// Texts of the driver.
inline constexpr const char* kPumpConnectQuery = "/1?22\r";
inline constexpr const char* kPumpConnectAnswer = "/0`255";  // at rest, no error
inline constexpr const char* kPumpStateUndefined = "Pump state undefined, cannot send command: ";
inline constexpr const char* kPumpSetStatesFailed = "Set pump states failed. Used string: ";
// Status of a command whose answer carried no known status character (the answer follows, quoted).
inline constexpr const char* kPumpNoStatus = "No pump status in answer \"";

// True when an answer (trimmed, as the text exchange gives it) is "/0" followed by a status
// character of the pump's table.
bool PumpAnswerHasStatus(std::string_view response);

// Lines of the pump type check and re-initialisation (MemoSetupFeedback in the window).
class TPumpFeedback {
public:
    virtual ~TPumpFeedback() = default;
    virtual void AddLine(const std::string& line) = 0;
    virtual void ReplaceLastLine(const std::string& line) = 0;
    // Lets pending window events run; nothing to do without a window.
    virtual void ProcessPendingEvents() {}
};

// Keeps the feedback lines in memory.
class TPumpFeedbackLines : public TPumpFeedback {
public:
    void AddLine(const std::string& line) override;
    void ReplaceLastLine(const std::string& line) override;
    std::vector<std::string> Lines;
};

// Poll period and read-out time-out of the ports the driver makes. The pump is spoken to with the
// transport's defaults; only tests shorten them, to run many exchanges quickly.
struct TPumpPortTiming {
    uint32_t WindowsReadLoopTimeoutMS = 333;
    uint32_t ReadoutTimeoutMS = 1000;
};

class TPSD4 {
public:
    // sink: receives the operator messages (without one they go to the default log channel
    // only). clock: the driver's own waits and time limits.
    explicit TPSD4(TPumpMessageSink sink = {}, Clock& clock = SystemClock());
    ~TPSD4();
    TPSD4(const TPSD4&) = delete;
    TPSD4& operator=(const TPSD4&) = delete;

    char16_t pAddressASCII = u'1';
    EnumInterfaceType DataInterface = EnumInterfaceType::it_ASCII;
    EnumPumpState State = EnumPumpState::ps_Undefined;
    bool Busy = false;
    std::string LastCommand;
    TSerialPort* COM() const { return fCOM.get(); }

    TPumpPortTiming PortTiming;
    // When set and true, Stop gives up between its exchanges (false: nothing known to have
    // stopped): a stop procedure that needs the line takes over from a stop that is under way.
    const std::atomic<bool>* Abandon = nullptr;

    // Makes the port object for aCOMPort and sends the connect query "/1?22"; true and
    // ps_Connected when the pump answers "/0`255" (at rest, no error) or the same with another
    // known status character (busy with a command, or reporting an error; Busy as it says).
    // Otherwise false, State unchanged.
    bool Connect(const std::string& aCOMPort);
    // The outcome of the last connect query (why a Connect failed).
    const TSerialResponse& ConnectResponse() const { return fConnectResponse; }

    // Frames and sends aCommand. Refused (false, nothing sent) while State is ps_Undefined. With
    // aWantAnswer the answer is decoded into State and Busy; the result is true when the answer
    // carried a known status character, otherwise false with aResponse.Status saying why (the
    // transport's failure, or kPumpNoStatus and the answer). Without, the result is false.
    bool SendCommand(const std::string& aCommand, TSerialResponse& aResponse, bool aWantAnswer);

    // Decodes the status character (third character of Response) into State and Busy. An answer
    // shorter than three characters goes to the message sink; Busy and State stay as they were,
    // as they do for an answer that does not begin with "/0".
    void SetStatus(const TSerialResponse& aResponse);

    // "Ready, No error", "Busy, Syringe overload - Occurs when ...", "Ready, Undefined".
    std::string StatusAsString() const;

    // Terminate ("T", again until the pump has answered it), then status queries ("Q") every
    // 100 ms, for at most 5 s. True only on an answer that shows the pump at rest without error;
    // a pump that is not connected, falls silent or answers without a status is not stopped.
    bool Stop();

    // Pump type check and re-initialisation on Port through a port object of its own, with the
    // feedback lines of the setup page. False for a pump of the older type ("75") or no pump;
    // true once a pump of the current type ("50") was found and sent its initialisation, whether
    // or not it reported standby within 50 s (PumpOnStandby tells).
    bool PumpFindInit(const std::string& Port, TPumpFeedback& Feedback);
    bool PumpOnStandby() const { return fPumpOnStandby; }

private:
    std::unique_ptr<TSerialPort> MakePort(const std::string& port) const;

    TPumpMessageSink fSink;
    Clock& fClock;
    std::unique_ptr<TSerialPort> fCOM;
    TSerialResponse fConnectResponse;
    bool fPumpOnStandby = false;
};

}  // namespace moirex
