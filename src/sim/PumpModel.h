#pragma once
// The emulated syringe pump: its ASCII protocol ("/1" + command + CR in, "/0" + status
// character + data + ETX CR LF out) and a timing model of the valve and plunger moves, delays
// and loops of its command strings. Time comes in as seconds on the physics clock.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace moirex::sim {

class PumpModel {
public:
    static constexpr int kStrokeSteps = 24000;
    // Timing of the mechanics, chosen so that the looping dosing commands dispense at the rates
    // that the pump speed function expects of them.
    static constexpr double kStepFactor = 1.000319;      // plunger calibration
    static constexpr double kMoveOverhead_s = 0.04338992;  // start and stop of every plunger move
    static constexpr double kValveMove_s = 0.29040058;   // one valve turn
    static constexpr double kLoopBack_s = 0.0001;        // one pass of "G"
    static constexpr double kInit_s = 2.0;               // valve and plunger homing, at least

    PumpModel(int typeAnswer, double syringeVolume_ul);

    // One received line (without its CR) at physics time `now_s`; the framed answer, or nothing
    // when the pump keeps quiet (another address, no "/", a lone CR).
    std::optional<std::string> Handle(std::string_view line, double now_s);

    void Advance(double now_s);

    // Faults.
    bool StuckBusy = false;
    void SetInjectedError(int code) { injectedError_ = code & 0x0F; }
    int InjectedError() const { return injectedError_; }

    bool Initialised() const { return initialised_; }
    bool Busy() const { return StuckBusy || running_; }
    int ErrorCode() const { return injectedError_ ? injectedError_ : error_; }
    char StatusChar() const;
    const std::string& Command() const { return command_; }
    double VolumeDispensed_ul() const;  // including a move under way
    int Position() const;  // plunger now, steps
    char Valve() const { return valve_; }
    int Speed() const { return speed_; }
    uint64_t Requests() const { return requests_; }

private:
    struct Op {
        char Letter;
        bool HasValue;
        int64_t Value;
        size_t Match = 0;  // for "g": index of its "G"; for "G": index of its "g"
    };
    struct Loop {
        size_t Start;       // index of the first op after "g"
        int64_t Remaining;  // passes still to run; -1 not yet known, -2 for ever
    };

    std::string Frame(char status, std::string_view data) const;
    // 0 when the text is a valid program, else the error code; fills `ops`.
    int Parse(std::string_view text, std::vector<Op>& ops) const;
    void Start(std::vector<Op> ops, const std::string& text, double now_s);
    void Terminate(double now_s);
    // Begins op pc_ at time_s_; false when the program ends (or fails) there.
    bool BeginOp();
    void FinishOp();
    void Fail(int code);
    std::string Query(int64_t which, bool& ok) const;

    int typeAnswer_;
    double syringe_ul_;
    bool initialised_ = false;
    int error_ = 0;
    int injectedError_ = 0;
    int speed_ = 1400;
    int position_ = 0;
    char valve_ = 'I';
    double dispensed_ul_ = 0;
    std::string command_;
    std::string stored_;     // a command received without "R", run by a later "R"
    std::string lastRun_;    // for "X"

    // The running program.
    bool running_ = false;
    std::vector<Op> ops_;
    std::vector<Loop> loops_;
    size_t pc_ = 0;
    double time_s_ = 0;     // physics time the program has been brought to
    double opStart_s_ = 0;
    double opEnd_s_ = 0;
    int moveFrom_ = 0;      // plunger move in progress
    int moveTo_ = 0;
    bool inOp_ = false;
    double lastNow_s_ = 0;  // time of the last Advance, for the plunger position mid-move
    uint64_t requests_ = 0;
};

}  // namespace moirex::sim
