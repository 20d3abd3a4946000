#pragma once
// The flow graph's context menu: "Save graph as PNG...", "Save graph as PDF..." (QCustomPlot draws
// either file) and "Copy data" (the points of the visible time span as CSV text on the clipboard).

#include <QString>
#include <functional>

class QWidget;

namespace moirex {
struct TMixer;
}

namespace moirex::ui {

class TFlowGraph;

// The points of the graph's visible time span, one row per reading: the header
// "time,Gas A actual flow,Gas A average flow,Gas B actual flow" (the series' names), then the time
// stamp (local, "yyyy-mm-dd hh:mm:ss.zzz") and the three flows in g/min with "." as decimal
// separator; lines end CR LF.
QString VisibleFlowsCsv(const TFlowGraph& graph);

// Asks where to save the graph: `format` "PNG" or "PDF". An empty result: cancelled. The default
// shows the desktop's file dialog, starting in the Userdata folder.
using TAskGraphPath = std::function<QString(QWidget* parent, const QString& format)>;

// Gives the flow graph of `window` its context menu. A file that cannot be written is shown with
// the mixer's dialogs. `ask` replaces the file dialog (tests).
void AddGraphExport(QWidget& window, TMixer& mixer, TAskGraphPath ask = {});

}  // namespace moirex::ui
