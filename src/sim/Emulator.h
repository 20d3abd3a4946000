#pragma once
// The instrument emulator: mass flow controllers A and B (Modbus RTU slaves at addresses 1 and 2)
// and the syringe pump (ASCII protocol), each behind its own pseudo-terminal, published as symbolic
// links "mfc-a", "mfc-b" and "pump" in a runtime folder. Used by the moirex-sim program and by the
// tests, which start one with their own runtime folder, unpaced and time-scaled.
//
// Every member function is thread-safe. The constructor starts the instruments; the destructor
// (or Stop) ends them and removes the links.

#include <cstdint>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "sim/GasTables.h"

namespace moirex {
class Clock;
}

namespace moirex::sim {

enum class Instrument { MfcA, MfcB, Pump };

// "mfc-a", "mfc-b", "pump": the link names, also the names of the fault commands.
std::string_view InstrumentName(Instrument instrument);
std::optional<Instrument> InstrumentFromName(std::string_view name);

struct EmulatorOptions {
    // Folder for the links; empty: the system's emulator folder (SimRuntimeFolder()). Created when
    // missing. Tests give a folder of their own so that they never collide.
    std::string RuntimeFolder;
    // Answers leave at the line rate (MFC 9600 baud 8N2 = 11 bits a byte, pump 9600 8N1 = 10 bits).
    // Paced, a controller also keeps the line's Modbus timing: it answers no earlier than t3.5
    // after the end of the request on the wire (plus ProcessingMs), and a request that begins
    // less than t3.5 after the last byte on the line is no frame of its own: it is not answered.
    bool Paced = true;
    // A controller's time to work out its answer, after t3.5 (paced only).
    int ProcessingMs = 0;
    // Flow physics and pump timing run this many times faster than real time (> 0).
    double TimeScale = 1.0;
    // Drives the flow physics and pump timing instead of real time × TimeScale when set; it must
    // outlive the emulator. Pacing, frame gaps and delays always use real time.
    moirex::Clock* PhysicsClock = nullptr;
    // Random noise on the flows; off gives exact first-order curves.
    bool Noise = true;
    uint32_t Seed = 20240611;
    // Answer to the pump type query: 50 (current pumps) or 75 (the older type).
    int PumpType = 50;
    double SyringeVolume_ul = 12.5;
    // The controllers; DefaultControllerA()/B() unless replaced (LoadControllers reads a file).
    ControllerConfig ControllerA = DefaultControllerA();
    ControllerConfig ControllerB = DefaultControllerB();
    // When not empty, a JSON file with every instrument's true state, rewritten at least every
    // 200 ms (temporary file + rename).
    std::string StatusFile;
};

// What an answer is spoiled with. One-shot faults spoil the next answer only; sticky ones every
// answer until cleared.
enum class AnswerFault {
    None,
    BadCrc,        // correct data, wrong CRC (controllers; the pump answers garbled instead)
    Garble,        // bytes of the right length but scrambled (wrong CRC)
    Short,         // the answer cut to its first half (pump: "/0" only)
    Exception,     // Modbus exception answer with the given code (controllers only)
    WrongAddress,  // a well-formed answer from another slave address (controllers only)
    Split,         // the answer's first half on time, its tail Code milliseconds later
};

// A fault for one request a test or operator aims at: the N-th request from now.
struct ScheduledFault {
    bool Silent = false;                    // the request is lost: no answer, nothing done
    AnswerFault Fault = AnswerFault::None;  // the answer spoiled this way
    int Code = 0;  // exception code of AnswerFault::Exception; the tail's lateness (ms) of AnswerFault::Split
    int DelayMs = 0;                        // the answer this much later
};

struct MfcState {
    bool Plugged = true;
    std::string Device;  // the pseudo-terminal behind the link, "/dev/pts/N"; empty when unplugged
    float SetPoint = 0;          // g/min
    float Flow = 0;              // g/min, the true flow now
    double MassDelivered_g = 0;  // true mass since the emulator started
    float Totalizer = 0;         // register 4, in TotalizerUnit
    std::string TotalizerUnit;
    int ActiveTable = 2;
    int SelectedTable = 2;
    std::string Gas;  // NameShort of the active table
    uint64_t Requests = 0;  // frames addressed to this controller (CRC valid)
    uint64_t TooEarly = 0;  // requests that began before the line had been quiet for t3.5
};

struct PumpState {
    bool Plugged = true;
    std::string Device;
    bool Initialised = false;
    bool Busy = false;
    int ErrorCode = 0;      // low four bits of the status character
    char StatusChar = '`';  // what a status query answers now
    std::string Command;    // the command being (or last) executed, without framing
    double VolumeDispensed_ul = 0;  // pushed out through the output valve since start
    int Position = 0;               // plunger, 0 (empty) to 24000 (full)
    char Valve = 'I';               // 'I', 'O' or 'B'
    uint64_t Requests = 0;
};

class Emulator {
public:
    // Starts the instruments; throws std::runtime_error with a readable message when the folder,
    // a pseudo-terminal or a link cannot be made, or when another emulator uses the folder.
    explicit Emulator(EmulatorOptions options = {});
    ~Emulator();
    Emulator(const Emulator&) = delete;
    Emulator& operator=(const Emulator&) = delete;

    // Ends the instruments and removes the links; idempotent.
    void Stop();

    std::string RuntimeFolder() const;
    // The link path ("<folder>/mfc-a"), what a client opens.
    std::string PortPath(Instrument instrument) const;

    // Faults.
    void SetSilent(Instrument instrument, bool on);
    void InjectAnswerFault(Instrument instrument, AnswerFault fault, int code = 0, bool sticky = false);
    void SetDelayMs(Instrument instrument, int ms);
    void ClearFaults(Instrument instrument);  // silence, answer faults, delay, refusals, pump faults
    void Unplug(Instrument instrument);  // link removed and pty closed when this returns
    void Plug(Instrument instrument);    // a new pty behind the same link name
    void SetRefuseSetPoint(Instrument instrument, bool on);  // set-point writes get exception 04
    void SetPumpStuckBusy(bool on);
    void SetPumpError(int code);  // 0 clears; otherwise reported until cleared or re-initialised
    // A fault for the nth request (1: the next one) that reaches the instrument from now on,
    // whatever it is; requests are counted per instrument, answered or not. Cleared by
    // ClearFaults.
    void ScheduleFault(Instrument instrument, uint64_t nth, ScheduledFault fault);
    // Requests that have reached the instrument's line since the emulator started.
    uint64_t RequestsSeen(Instrument instrument) const;

    // One line of the command language of moirex-sim's standard input ("mfc-a silent on",
    // "pump error 9", "status", "help"). Returns the reply text (lines ending "\n"); throws
    // std::invalid_argument with a readable message for a line it does not understand.
    std::string Command(std::string_view line);
    static std::string CommandHelp();

    // True state.
    MfcState Mfc(Instrument instrument) const;
    PumpState Pump() const;
    std::string StatusJson() const;

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace moirex::sim
