#include "ui/MainWindow.h"

#include <QApplication>
#include <QCloseEvent>
#include <QLabel>
#include <QPointer>
#include <QScrollArea>
#include <QTabWidget>
#include <QTimerEvent>
#include <QVBoxLayout>

#include "form/Form.h"
#include "ui/FlowGraph.h"
#include "ui/Fonts.h"
#include "ui/Mirror.h"
#include "ui/PageBuilder.h"
#include "ui/Pages.h"

namespace moirex::ui {

TMainWindow::TMainWindow(TForm1& form, TWindowEvents events, QWidget* parent)
    : QWidget(parent), form_(form), events_(std::move(events)) {
    setObjectName("Form1");
    setFont(WindowFont());
    resize(ClientWidth, ClientHeight);

    pages_ = new QTabWidget(this);
    pages_->setObjectName(QString::fromStdString(form.PageControl1.Name));
    flows_ = FlowsPage(form);
    QWidget* pages[] = {SetupPage(form), PumpAndFluidPage(form), DebugPage(form), DesignPage(form),
                        flows_,          LogPage(form),          PumpInfoPage(form)};
    const char* names[] = {"TabSheetSetup", "TabSheetPumpAndFluid", "TabSheetDebug",
                           "TabSheetDesign", "TabSheet5", "TabSheet6", "TabSheet7"};
    for (int i = 0; i < 7; ++i) {
        QWidget* page = pages[i];
        if (i < 4) {
            // A window made smaller than a page's groups scrolls the page instead of refusing to
            // shrink, so the resize rule of the Setup page can be followed to its 300 px floor.
            auto* scroll = new QScrollArea;
            scroll->setFrameShape(QFrame::NoFrame);
            scroll->setWidgetResizable(true);
            scroll->setWidget(page);
            page = scroll;
        }
        page->setObjectName(names[i]);
        // The tab bar reads "&&" as "&", as the captions are written.
        pages_->addTab(page, QString::fromStdString(form.PageControl1.PageCaption(i)));
    }
    Mirror(form.PageControl1, pages_);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(pages_);
    // The status line: shown only while it has something to say (remote control allowed).
    QLabel* statusLine = build::Label(form.LabelRemoteControl);
    statusLine->setContentsMargins(6, 2, 6, 2);
    statusLine->setVisible(!form.LabelRemoteControl.Caption().empty());
    layout->addWidget(statusLine);
    QPointer<QLabel> line(statusLine);
    form.LabelRemoteControl.Subscribe([line, &form] {
        if (line) line->setVisible(!form.LabelRemoteControl.Caption().empty());
    });

    QPointer<TMainWindow> alive(this);
    form.Subscribe([alive] {
        if (alive) alive->ShowForm();
    });
    ShowForm();
    timer1_.start(Timer1IntervalMs, this);
}

TMainWindow::~TMainWindow() {
    if (busyCursor_) QApplication::restoreOverrideCursor();
}

void TMainWindow::ShowForm() {
    const QString caption = QString::fromStdString(form_.Caption());
    if (windowTitle() != caption) setWindowTitle(caption);
    // Disabled around instrument work: no input anywhere, and the busy cursor.
    pages_->setEnabled(form_.Enabled());
    const bool busy = !form_.Enabled() && form_.BusyCursor();
    if (busy != busyCursor_) {
        busyCursor_ = busy;
        if (busy)
            QApplication::setOverrideCursor(Qt::WaitCursor);
        else
            QApplication::restoreOverrideCursor();
    }
}

void TMainWindow::closeEvent(QCloseEvent* event) {
    if (events_.CloseQuery && !events_.CloseQuery()) {
        event->ignore();
        return;
    }
    timer1_.stop();
    if (events_.Close) events_.Close();
    event->accept();
}

void TMainWindow::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    if (form_.Width() != width()) form_.SetWidth(width());
    if (events_.Resize) events_.Resize();
}

void TMainWindow::timerEvent(QTimerEvent* event) {
    if (event->timerId() != timer1_.timerId()) return QWidget::timerEvent(event);
    if (events_.Timer1) events_.Timer1();
}

void ProcessPendingEvents() { QCoreApplication::processEvents(); }

}  // namespace moirex::ui
