#include "ui/LedDisplay.h"

#include <QFont>
#include <QImage>
#include <QPainter>
#include <QTimerEvent>

namespace moirex::ui {

namespace {
const QColor Lit(80, 255, 110);
const QColor Unlit(20, 52, 28);
const QColor Board(6, 14, 8);

void Dot(QPainter& p, int column, int row, int top, const QColor& colour) {
    p.fillRect(column * TLedDisplayWidget::Pitch, top + row * TLedDisplayWidget::Pitch,
               TLedDisplayWidget::Pitch - 1, TLedDisplayWidget::Pitch - 1, colour);
}
}  // namespace

TLedDisplayWidget::TLedDisplayWidget(QWidget* parent) : QWidget(parent) {
    setAttribute(Qt::WA_OpaquePaintEvent);
    setFixedHeight(59);
    setMinimumWidth(100);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
}

void TLedDisplayWidget::SetText(const QString& text) {
    if (text == text_) return;
    text_ = text;
    RenderStrip();
    update();
}

void TLedDisplayWidget::RenderStrip() {
    // The text drawn without smoothing at the height of the dot rows; each set pixel is one dot.
    QFont font("DejaVu Sans");
    font.setPixelSize(Rows);
    font.setStyleStrategy(QFont::NoAntialias);
    font.setBold(true);
    const QFontMetrics metrics(font);
    textColumns_ = text_.isEmpty() ? 0 : metrics.horizontalAdvance(text_) + 1;
    if (textColumns_ == 0) {
        strip_ = QPixmap();
        return;
    }
    QImage mask(textColumns_, Rows, QImage::Format_RGB32);
    mask.fill(Qt::black);
    {
        QPainter p(&mask);
        p.setFont(font);
        p.setPen(Qt::white);
        p.drawText(QRect(0, 0, textColumns_, Rows), Qt::AlignLeft | Qt::AlignVCenter, text_);
    }
    strip_ = QPixmap(textColumns_ * Pitch, Rows * Pitch);
    strip_.fill(Qt::transparent);
    QPainter p(&strip_);
    for (int y = 0; y < Rows; ++y)
        for (int x = 0; x < textColumns_; ++x)
            if (qGray(mask.pixel(x, y)) > 127) Dot(p, x, y, 0, Lit);
}

void TLedDisplayWidget::RenderBackground() {
    background_ = QPixmap(size());
    background_.fill(Board);
    QPainter p(&background_);
    const int top = (height() - Rows * Pitch) / 2;
    for (int y = 0; y < Rows; ++y)
        for (int x = 0; x < Columns(); ++x) Dot(p, x, y, top, Unlit);
}

void TLedDisplayWidget::paintEvent(QPaintEvent*) {
    QPainter p(this);
    if (background_.size() != size()) RenderBackground();
    p.drawPixmap(0, 0, background_);
    if (strip_.isNull()) return;
    // The text enters at the right edge and leaves at the left; one cycle is the display's width
    // plus the text's.
    const int top = (height() - Rows * Pitch) / 2;
    const int cycle = Columns() + textColumns_;
    const int x = (Columns() - offset_ % cycle) * Pitch;
    p.drawPixmap(x, top, strip_);
}

void TLedDisplayWidget::timerEvent(QTimerEvent* event) {
    if (event->timerId() != timer_.timerId()) return QWidget::timerEvent(event);
    if (strip_.isNull()) return;
    ++offset_;
    if (offset_ >= (Columns() + textColumns_) * 1000) offset_ = offset_ % (Columns() + textColumns_);
    update();
}

void TLedDisplayWidget::showEvent(QShowEvent*) { timer_.start(StepMs, Qt::PreciseTimer, this); }

void TLedDisplayWidget::hideEvent(QHideEvent*) { timer_.stop(); }

void TLedDisplayWidget::resizeEvent(QResizeEvent*) { RenderBackground(); }

}  // namespace moirex::ui
