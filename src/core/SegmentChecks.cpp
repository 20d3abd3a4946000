#include "core/SegmentChecks.h"

#include <cmath>

#include "support/TextFormat.h"

namespace moirex {

namespace {

std::string Conditions(double temperatureC, double pressuremBar) {
    return FormatGeneral(temperatureC) + " \u00BAC and " + FormatGeneral(pressuremBar) + " mbar";
}

}  // namespace

TSegmentCheck CheckSegment(const TGasItem& segment, const TMixtureFigures& figures, double temperatureC,
                           double pressuremBar) {
    TSegmentCheck check;
    const double hours = segment.StepTime;
    if (!std::isfinite(hours) || hours < 0) {
        check.Refusal = "Cannot add segment. Its duration of " + FormatGeneral(hours) + " hours is not a time.";
        return check;
    }
    if (hours > LongestSegment_h) {
        check.Refusal = "Cannot add segment. Its duration of " + FormatGeneral(hours) +
                        " hours is longer than a year (" + FormatGeneral(LongestSegment_h) + " hours).";
        return check;
    }
    if (hours > UnusualSegment_h)
        check.Questions.push_back("The segment lasts " + FormatGeneral(hours) + " hours (" +
                                  FormatMask(hours / 24, "0.0") + " days).");
    const TMixtureFigureEntry* water = figures.Find("H2O");
    if (water && water->HasHumidity && water->Humidity > CondensingHumidity)
        check.Questions.push_back("The segment's water is " + FormatMask(water->Humidity, "0.0") +
                                  " % RH at the outlet conditions (" + Conditions(temperatureC, pressuremBar) +
                                  "): above 100 % it condenses unless the outlet is kept warmer.");
    return check;
}

}  // namespace moirex
