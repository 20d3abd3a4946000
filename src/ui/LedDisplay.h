#pragma once
// The scrolling display RzLEDDisplay1: the mixer's status as LED dots that scroll from right to
// left, one dot column every 50 ms. The text is rendered to dots once per change; each step only
// blits the prepared strip, and the timer runs only while the display is visible, so a hidden
// display costs nothing.

#include <QBasicTimer>
#include <QPixmap>
#include <QString>
#include <QWidget>

namespace moirex::ui {

class TLedDisplayWidget final : public QWidget {
public:
    static constexpr int StepMs = 50;
    static constexpr int Rows = 11;   // dot rows of the text
    static constexpr int Pitch = 4;   // pixels from dot to dot

    explicit TLedDisplayWidget(QWidget* parent = nullptr);

    void SetText(const QString& text);
    const QString& Text() const { return text_; }
    // Dot columns scrolled so far (for tests and the benchmark).
    int Offset() const { return offset_; }
    bool Scrolling() const { return timer_.isActive(); }

    QSize sizeHint() const override { return {1126, 59}; }

protected:
    void paintEvent(QPaintEvent* event) override;
    void timerEvent(QTimerEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void RenderStrip();
    void RenderBackground();
    int Columns() const { return width() / Pitch; }

    QString text_;
    QPixmap strip_;       // the lit dots of the whole text, Pitch pixels per column
    QPixmap background_;  // the unlit dots of the whole display
    int textColumns_ = 0;
    int offset_ = 0;
    QBasicTimer timer_;
};

}  // namespace moirex::ui
