#include "core/FlowStatusTexts.h"

#include <cmath>
#include <limits>

#include "form/Form.h"

#include "support/TextFormat.h"

namespace moirex {

namespace {

bool OutsideTolerance(double ratio) { return ratio < 0.95 || ratio > 1.05; }

// Whether gas A is off its wanted flow `a` (> 0); false while that cannot be told yet.
bool GasAOffTarget(const TFlowStatus& fs, const TGasItem& A, double a, double segmentMinutes) {
    if (A.Pulsed >= 1) return !ReadingMissing(fs.MFCA) && OutsideTolerance(fs.MFCA / a);
    const double span = fs.MovingAverageMinutes;
    if (segmentMinutes >= 3 * span) return OutsideTolerance(fs.MovingAverage / a);
    if (segmentMinutes >= span) return OutsideTolerance(fs.SegmentAverage / a);
    return false;
}

}  // namespace

bool ReadingMissing(double reading) { return reading == -1; }

TFlowStatusPanels FlowStatusPanels(const TFlowStatus& fs, const TGasItem& A, const TGasItem& B,
                                   double segmentMinutes) {
    TFlowStatusPanels out;
    auto& p = out.Panels;
    const double a = A.Mass;
    const double b = B.Mass;

    const std::string minutes = FormatMask(fs.MovingAverageMinutes, "0.000");
    if (a > 0) {
        out.WarningA = GasAOffTarget(fs, A, a, segmentMinutes);
        const std::string ofWanted = " of " + FormatMask(a, "0.000 000") + " g/min";
        p[0] = "Gas A flow: " +
               (ReadingMissing(fs.MFCA) ? std::string(NoReading) : FormatMask(fs.MFCA / a * 100, "0") + " %") +
               ofWanted;
        p[1] = "Gas A " + minutes + " min" + " average: " + FormatMask(fs.MovingAverage / a * 100, "0") + " %" +
               ofWanted;
    } else {
        p[0] = "Gas A flow: ?";
        p[1] = "Gas A " + minutes + " min" + " average: ?";
    }
    p[2] = "Gas A segment average flow: " + FormatMask(fs.SegmentAverage, "0.000 000") + " g/min";

    if (ReadingMissing(fs.MFCB)) {
        p[3] = std::string("Gas B flow: ") + NoReading;
    } else if (b > 0) {
        const double ratio = fs.MFCB / b;
        out.WarningB = OutsideTolerance(ratio);
        p[3] = "Gas B flow: " + FormatMask(ratio * 100, "0.000") + " %";
    } else {
        p[3] = "Gas B flow: " + FormatMask(fs.MFCB, "0.000 000") + " g/min";
    }

    const std::string warningA = out.WarningA ? FlowAWarning : "";
    const std::string warningB = out.WarningB ? FlowBWarning : "";
    p[4] = (out.WarningA && out.WarningB) ? warningA + " - " + warningB : warningA + warningB;
    return out;
}

double GraphValue(double reading) {
    return ReadingMissing(reading) ? std::numeric_limits<double>::quiet_NaN() : reading;
}

void AddRunEnd(TForm1& form, TDateTime when) {
    const double none = std::numeric_limits<double>::quiet_NaN();
    form.RtDoubleVectorTime.Add(when);
    form.RtDoubleVector2GasAReal.Add(none);
    form.RtDoubleVectorGasBReal.Add(none);
    form.RtDoubleVectorGasAAvg.Add(none);
}

bool IsRunEnd(const TForm1& form, int index) {
    return IsRunEnd(form.RtDoubleVector2GasAReal, form.RtDoubleVectorGasBReal, form.RtDoubleVectorGasAAvg, index);
}

bool IsRunEnd(const TDoubleVector& gasA, const TDoubleVector& gasB, const TDoubleVector& average, int index) {
    if (index < 0 || index >= gasA.Count() || index >= gasB.Count() || index >= average.Count()) return false;
    return std::isnan(gasA.Value(index)) && std::isnan(gasB.Value(index)) && std::isnan(average.Value(index));
}

void ShowStatusPanels(TStatusBar& bar, const TFlowStatusPanels& panels) {
    for (int i = 0; i < TStatusBar::PanelCount; ++i) bar.SetPanel(i, panels.Panels[static_cast<size_t>(i)]);
}

}  // namespace moirex
