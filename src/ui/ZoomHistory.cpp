#include "ui/ZoomHistory.h"

namespace moirex::ui {

void TZoomHistory::Push(const TGraphView& left) {
    steps_.push_back(left);
    while (steps_.size() > MaxSteps) steps_.pop_front();
}

bool TZoomHistory::Back(TGraphView& view) {
    if (steps_.empty()) return false;
    view = steps_.back();
    steps_.pop_back();
    return true;
}

}  // namespace moirex::ui
