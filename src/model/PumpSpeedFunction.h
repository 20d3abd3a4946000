#pragma once
// The pump speed function: turns a wanted dispense rate of fluid C (µg/min) into one looping
// command of the syringe pump, with the modelled rate of that command and a trace of the search,
// and writes the pump table shown on the "Pump info" page.
//
// Two ways of dispensing, each with its timing model:
//  - constant velocity "gIV6000A24000OV<V>A0GR": fill, push the whole stroke at speed V (5..1000);
//  - dynamic loop "gIV6000A24000OV1000gD1M<M>G24000GR": fill, then 24000 single steps each
//    followed by a wait of M ms (5..30000).

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace moirex {

enum class TPumpSpeedInfo : uint8_t {
    psUndefined = 0,
    psCalculated = 1,
    psOverCapacity = 2,
    psUndefinedSyringe = 3,
    psFluidProblem = 4,
};

// Input and result of one calculation. A new record is all zero (numbers 0, texts empty);
// Init gives the defaults of the pump.
struct TPumpSpeedDetails {
    double SyringeVolume_ul = 0;      // µl (input)
    int32_t TotalSteps = 0;           // steps of a full stroke; carried, the models use 24000
    double FluidDensity = 0;          // g/ml at 20 °C (input)
    double DesiredDispense_ugpm = 0;  // µg/min (input)
    double AchievedDispense_ugpm = 0; // µg/min, modelled rate of Command (result)
    std::string Command;              // without address or line end (result)
    int32_t MaxSpeed = 0;             // carried
    double RetractTime_s = 0;         // carried
    TPumpSpeedInfo Info = TPumpSpeedInfo::psUndefined;
    int32_t PumpFrequency = 0;        // carried
    std::string Feedback;             // search trace, lines ending CR LF (appended to)

    // SyringeVolume_ul 12.5, TotalSteps 24000, FluidDensity 1.0, rates 0, MaxSpeed 10000,
    // RetractTime_s 5.78, Info psUndefined, PumpFrequency 0, Feedback empty; Command unchanged.
    void Init();
};

// Modelled rate in µg/min of the constant-velocity command at speed V (held within 5..1000).
// Reads only SyringeVolume_ul and FluidDensity.
double ConstantVelocityDispense(const TPumpSpeedDetails& details, int32_t V);
// Modelled rate in µg/min of the dynamic-loop command with a wait of M ms (held within 5..30000).
// Reads only SyringeVolume_ul and FluidDensity.
double DynamicLoopDispense(const TPumpSpeedDetails& details, int32_t M);

// Chooses the command whose modelled rate is nearest to DesiredDispense_ugpm: "TR" for exactly 0,
// the dynamic loop up to the slowest constant-velocity rate, constant velocity above it. Writes
// Command and AchievedDispense_ugpm, appends the constant-velocity search trace to Feedback.
// Always ends with a command; returns true.
bool CalculatePumpSpeed(TPumpSpeedDetails& details);

// The modelled rate in µg/min of a command this function chooses: "TR" (0), the constant-velocity
// command with V in 5..1000, the dynamic-loop command with M in 1..30000. False for any other text
// (the rate is then left alone), so a command read from a file is only sent when it is one of these.
// Reads only SyringeVolume_ul and FluidDensity.
bool PumpCommandDispense(const TPumpSpeedDetails& details, std::string_view command, double& rate);

// The pump table as start-up writes it to MemoPump, one element per line, without line ends:
// the models' limits for the syringe volume (µl) and fluid density (g/ml), then the search for
// 95000 µg/min with its trace.
std::vector<std::string> PumpTableLines(double syringeVolume_ul, double fluidDensity);
// The same lines joined, each ending CR LF.
std::string PumpTableText(double syringeVolume_ul, double fluidDensity);

}  // namespace moirex
