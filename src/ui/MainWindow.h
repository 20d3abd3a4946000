#pragma once
// The main window TForm1 on Qt: the seven pages of the Form's controls in a tab widget, client
// area 1126 x 689. The window adds no logic: its own events go to the handlers it is given —
// close request, close, resize and the 50 ms Timer1 — and every control's event goes to whatever
// the Form binding put on the control.

#include <QBasicTimer>
#include <QWidget>
#include <functional>

class QTabWidget;

namespace moirex {
class TForm1;
}

namespace moirex::ui {

class TFlowGraphView;

// The window's own events and the handlers they call.
struct TWindowEvents {
    std::function<bool()> CloseQuery;  // FormCloseQuery: false keeps the window open
    std::function<void()> Close;       // FormClose
    std::function<void()> Resize;      // FormResize, after the Form has the new width
    std::function<void()> Timer1;      // Timer1Timer, every 50 ms
};

class TMainWindow final : public QWidget {
public:
    static constexpr int ClientWidth = 1126;
    static constexpr int ClientHeight = 689;
    static constexpr int Timer1IntervalMs = 50;

    TMainWindow(TForm1& form, TWindowEvents events, QWidget* parent = nullptr);
    ~TMainWindow() override;

    QTabWidget* PageControl1() const { return pages_; }
    TFlowGraphView* Flows() const { return flows_; }

protected:
    void closeEvent(QCloseEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void timerEvent(QTimerEvent* event) override;

private:
    void ShowForm();
    TForm1& form_;
    TWindowEvents events_;
    QTabWidget* pages_;
    TFlowGraphView* flows_;
    QBasicTimer timer1_;
    bool busyCursor_ = false;
};

// Lets waiting window events run (the logic asks for this while the window is disabled around
// instrument work, so the window repaints).
void ProcessPendingEvents();

}  // namespace moirex::ui
