#include "ui/GraphExport.h"

#include <cmath>

#include <QApplication>
#include <QClipboard>
#include <QFileDialog>
#include <QMenu>

#include "form/Dialogs.h"
#include "state/MixerState.h"
#include "support/DateTime.h"
#include "support/FileLocations.h"
#include "support/TextFormat.h"
#include "ui/FlowGraph.h"

namespace moirex::ui {

namespace {

QString Q(const std::string& text) { return QString::fromStdString(text); }

// The time axis counts seconds of local time since 1970-01-01, as the graph puts the readings.
constexpr double UnixEpochDays = 25569.0;

QString Number(double v) { return QString::fromStdString(ShortestText(v)); }

QString AskWithDialog(QWidget* parent, const QString& format) {
    std::string error;
    const std::string folder = UserdataFolder();
    EnsureFolder(folder, error);
    const QString suffix = format.toLower();
    return QFileDialog::getSaveFileName(
        parent, "Save graph as " + format,
        Q(folder + "/Flows " + FormatDateTime("yyyy-mm-dd hh.mm.ss", Now()) + ".") + suffix,
        format + " files (*." + suffix + ")");
}

}  // namespace

QString VisibleFlowsCsv(const TFlowGraph& graph) {
    const QCPGraph* series[3] = {graph.RtLineSeriesA(), graph.RtLineSeriesAAvg(), graph.RtLineSeriesB()};
    QString text = "time";
    for (const QCPGraph* s : series) text += "," + s->name();
    text += "\r\n";
    const QCPRange visible = graph.XAxis1()->range();
    const auto& keys = *series[0]->data();
    for (int i = 0; i < keys.size(); ++i) {
        const double key = keys.at(i)->key;
        if (!visible.contains(key)) continue;
        text += Q(FormatDateTime("yyyy-mm-dd hh:nn:ss.zzz", key / 86400.0 + UnixEpochDays));
        for (const QCPGraph* s : series) {
            // The three series hold one point per reading, at the same times.
            const auto& data = *s->data();
            text += ",";
            // A missing reading (a gap in the line) is an empty field.
            if (i < data.size() && data.at(i)->key == key && !std::isnan(data.at(i)->value))
                text += Number(data.at(i)->value);
        }
        text += "\r\n";
    }
    return text;
}

void AddGraphExport(QWidget& window, TMixer& mixer, TAskGraphPath ask) {
    auto* graph = window.findChild<TFlowGraph*>();
    if (!graph) return;
    if (!ask) ask = AskWithDialog;
    graph->setContextMenuPolicy(Qt::CustomContextMenu);
    QObject::connect(graph, &QWidget::customContextMenuRequested, graph, [graph, &window, &mixer, ask](const QPoint& at) {
        QMenu menu(graph);
        auto save = [graph, &window, &mixer, ask](const QString& format) {
            const QString path = ask(&window, format);
            if (path.isEmpty()) return;
            graph->TakeData();
            const bool saved = format == "PNG" ? graph->savePng(path) : graph->savePdf(path);
            if (!saved) mixer.Dlg.ShowError("Could not write file \"" + path.toStdString() + "\".");
        };
        menu.addAction("Save graph as PNG...", graph, [save] { save("PNG"); });
        menu.addAction("Save graph as PDF...", graph, [save] { save("PDF"); });
        menu.addAction("Copy data", graph, [graph] { QApplication::clipboard()->setText(VisibleFlowsCsv(*graph)); });
        menu.exec(graph->mapToGlobal(at));
    });
}

}  // namespace moirex::ui
