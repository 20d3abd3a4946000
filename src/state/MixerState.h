#pragma once
// The process-wide state of the mixer: the two mass flow controllers, the syringe pump and its
// fluid, the segment program, the run state and the worker's latest readings. One instance, owned
// by the main thread and handed to the routines that read and write it.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "state/GasMixtures.h"
#include "state/InstrumentRecords.h"
#include "support/DateTime.h"
#include "support/Log.h"

namespace moirex {

class TForm1;
class TMemo;
class Dialogs;

inline constexpr std::string_view ProgramVersion = " v2 2024-02-29";

// Values 4 and 5 are not used.
enum class TMixerState : uint8_t {
    msSimulation = 0,
    msReady = 1,
    msOperating = 2,
    msStopping = 3,
    msStopFailed = 6,
};

// The worker's latest readings as the tick shows them; flows in g/min, -1 when a controller did
// not answer.
struct TFlowStatus {
    double MFCA = 0;
    double SegmentAverage = 0;
    double MFCB = 0;
    double MovingAverage = 0;
    double MovingAverageMinutes = 0;

    // All fields 0, except MovingAverageMinutes 1.0.
    void Reset();
};

struct TPumpDetails {
    int32_t FLUID_MAX_PPM = 0;
    TGasItem Fluid;
    double SYRINGE_VOLUMEul = 0;
    double SYRINGE_SIZEmg = 0;
    int32_t SYRINGE_STEPS = 0;
    int32_t SYRINGE_MAXSPEED = 0;
    double SYRINGE_GramsPerStep = 0;
    double SYRINGE_MolsPerStep = 0;
    std::string Port;
    std::string Command;
    std::string Status;
};

struct TMixer {
    TMixer(TForm1& form, Dialogs& dialogs) : Form(form), Dlg(dialogs) {}
    TMixer(const TMixer&) = delete;
    TMixer& operator=(const TMixer&) = delete;

    TForm1& Form;
    Dialogs& Dlg;

    TMixerState MixerState = TMixerState::msSimulation;
    bool TickReady = false;
    int32_t CurrentStep = 0;
    TDateTime StepStartTime = 0;
    std::vector<TGasItem> StepProgram;
    std::string RunStatusText;
    TMFCDetails MFCADetails;
    TMFCDetails MFCBDetails;
    TPumpDetails PumpDetails;
    TGasItem DesignedMixture;
    int32_t GraphPoints = 1000;
    int32_t AverageSampleSize = 358;
    std::string INIPortPump, INIPortMFCA, INIPortMFCB;
    int32_t DynamicRangeCullA = 20;
    int32_t DynamicRangeCullB = 10;
    TLoggingType LoggingType = TLoggingType::ltOff;
    // Size rotation of the log file (configuration [Logging] "Max file size MB", "Files kept").
    TLogRotation LogRotation;
    TFlowStatus FlowStatus;
    // Outage limit of a run (configuration [Run] "Outage stop s"): when MFC A or MFC B has not
    // answered for longer than this many seconds, the run logs why and stops by itself, so that
    // a silent instrument cannot keep gas and fluid flowing past the program's end. 0 waits for
    // ever, as long as the operator does not press Stop.
    double OutageStop_s = 60;
    // Guard time of a run's guardian (configuration [Run] "Guard timeout s"): a controlling
    // program that gives no sign of life for longer is taken for frozen, and the guardian stops
    // the instruments.
    double GuardTimeout_s = 10;
};

// One time-stamped line ("dd-hh-mm-ss" + blank + msg) into a log pane, copied to FormLogger as
// "LogOld: " + msg. Main thread only.
void LogOld(TMemo& target, std::string_view msg);

// Whether the window may close: only in msSimulation and msReady; otherwise "Stop the mixture
// first" is shown and the window stays open.
bool FormCloseQuery(TMixer& mixer);
// Final clean-up of the window: the logging dispatcher closed, failures ignored.
void FormClose(TMixer& mixer);
// Keeps GroupBox3 at the window width minus 450, never below 300.
void FormResize(TForm1& form);
// Disables the window with the hour-glass cursor (true) or enables it again (false).
void FormDisable(TForm1& form, bool aDisable);

}  // namespace moirex
