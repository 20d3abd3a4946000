#pragma once
// What each number setting of the configuration file may be, in one table that the file's load and
// the window's fields both use: a value outside its range is refused by the load (with a message
// naming the key, the value and the value used instead) and cannot be entered in its field.

#include <optional>
#include <string>
#include <vector>

namespace moirex {

class TForm1;

struct TSettingRange {
    const char* Section;
    const char* Key;
    double Min;
    double Max;
};

namespace settings {
inline constexpr TSettingRange SyringeVolume{"Syringe", "Volume MicroLiter", 0.1, 100000};
inline constexpr TSettingRange SyringeSteps{"Syringe", "Steps", 1, 1000000};
inline constexpr TSettingRange SyringeMaxSpeed{"Syringe", "MaxSpeed", 1, 100000};
inline constexpr TSettingRange GraphPoints{"Graph", "Points", 1, 10000000};
inline constexpr TSettingRange AverageSampleSize{"Graph", "Average sample size", 1, 10000000};
inline constexpr TSettingRange DynamicRangeCullA{"MFCA", "DynamicRangeCull", 0, 1000};
inline constexpr TSettingRange DynamicRangeCullB{"MFCB", "DynamicRangeCull", 0, 1000};
inline constexpr TSettingRange CustomTemperature{"Custom flow conditions", "TemperatureC", -273, 2000};
inline constexpr TSettingRange CustomPressure{"Custom flow conditions", "PressuremBar", 1, 100000};
inline constexpr TSettingRange MaxPPM{"Fluid", "Max PPM", 1, 1000000};
inline constexpr TSettingRange MixtureDensity{"Fluid", "Mixture custom density", 0.01, 30};
inline constexpr TSettingRange MixtureMolarMass{"Fluid", "Mixture molar mass", 1, 10000};
inline constexpr TSettingRange ComponentMass{"Fluid", "Mix1Mass", 0, 1e9};  // the same for Mix2..4
inline constexpr TSettingRange OutageStop{"Run", "Outage stop s", 0, 1e6};  // 0: no outage stop
// The log file's size rotation: a file's size in MB, how many rotated files are kept.
inline constexpr TSettingRange LogFileSize{"Logging", "Max file size MB", 1, 100000};
inline constexpr TSettingRange LogFilesKept{"Logging", "Files kept", 1, 1000};
// Below half a second the guardian would take a busy moment of the program for a freeze.
inline constexpr TSettingRange GuardTimeout{"Run", "Guard timeout s", 0.5, 3600};
}  // namespace settings

// True for a finite value within the range, ends included.
bool SettingInRange(const TSettingRange& range, double value);

// "[Syringe] Volume MicroLiter=-5 is refused (allowed: 1 to 100000); 12.5 is used instead"
std::string SettingRefusal(const TSettingRange& range, const std::string& key, const std::string& valueText,
                           double used);

// Gives the window's fields of these settings their ranges (syringe volume, ppm limit, outlet
// temperature and pressure, the designer's density, molar mass and component masses).
void ApplySettingLimits(TForm1& form);

}  // namespace moirex
