#pragma once
// The flow graph's zoom steps (RtUndoStack1): every zoom or pan pushes the view it leaves; a click
// beside the data area goes one step back, a double click resets. At most 20 steps are kept; the
// oldest goes first.

#include <cstddef>
#include <deque>

namespace moirex::ui {

// The ranges of the time axis and of the two flow axes.
struct TGraphView {
    double TimeLo = 0, TimeHi = 0;
    double ALo = 0, AHi = 0;
    double BLo = 0, BHi = 0;
    bool operator==(const TGraphView&) const = default;
};

class TZoomHistory {
public:
    static constexpr std::size_t MaxSteps = 20;

    void Push(const TGraphView& left);
    // The view to go back to; false when there is no step (the view then follows the data).
    bool Back(TGraphView& view);
    void Clear() { steps_.clear(); }
    std::size_t Count() const { return steps_.size(); }

private:
    std::deque<TGraphView> steps_;
};

}  // namespace moirex::ui
