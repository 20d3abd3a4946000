#include "ui/Mirror.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QEvent>
#include <QGroupBox>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <QRegularExpression>
#include <QValidator>
#include <QScrollBar>
#include <QSlider>
#include <QTabWidget>
#include <QTreeWidget>
#include <functional>
#include <memory>

#include "form/Controls.h"
#include "support/TextFormat.h"
#include "ui/LedDisplay.h"

namespace moirex::ui {

namespace {

QString Q(const std::string& s) { return QString::fromStdString(s); }

// Focus and key release of a widget, told to its control.
class TInputFilter final : public QObject {
public:
    TInputFilter(QWidget* widget, TControl& control, std::function<void(int)> keyUp,
                 std::function<void()> focusOut, std::function<void()> keyPress = nullptr)
        : QObject(widget),
          control_(control),
          keyUp_(std::move(keyUp)),
          focusOut_(std::move(focusOut)),
          keyPress_(std::move(keyPress)) {
        widget->installEventFilter(this);
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        switch (event->type()) {
            case QEvent::FocusIn:
                control_.SetFocused(true);
                break;
            case QEvent::FocusOut:
                control_.SetFocused(false);
                if (focusOut_) focusOut_();
                break;
            case QEvent::KeyPress:
                if (keyPress_) keyPress_();
                break;
            case QEvent::KeyRelease: {
                auto* key = static_cast<QKeyEvent*>(event);
                if (keyUp_ && !key->isAutoRepeat()) keyUp_(KeyCode(key->key()));
                break;
            }
            default:
                break;
        }
        return QObject::eventFilter(watched, event);
    }

private:
    TControl& control_;
    std::function<void(int)> keyUp_;
    std::function<void()> focusOut_;
    std::function<void()> keyPress_;
};

// Set while a change that came from the widget is being given to the control, so the control's
// observer does not write it back.
struct TEchoGuard {
    bool fromWidget = false;
};

class TFromWidget {
public:
    explicit TFromWidget(TEchoGuard& guard) : guard_(guard), old_(guard.fromWidget) { guard_.fromWidget = true; }
    ~TFromWidget() { guard_.fromWidget = old_; }
    TFromWidget(const TFromWidget&) = delete;
    TFromWidget& operator=(const TFromWidget&) = delete;

private:
    TEchoGuard& guard_;
    bool old_;
};

// Subscribes `show` to the control and runs it once now; `show` runs only while the widget lives.
template <typename Widget>
void Follow(TControl& control, Widget* widget, std::function<void(Widget*)> show) {
    QPointer<Widget> alive(widget);
    auto update = [alive, show] {
        if (alive) show(alive.data());
    };
    control.Subscribe(update);
    update();
}

void ShowEnabled(const TControl& control, QWidget* widget) {
    if (widget->isEnabled() != control.Enabled()) widget->setEnabled(control.Enabled());
}

// The texts a number field lets the operator type: a number (one outside the field's limits is
// then replaced by the nearer limit), or the start of one ("", "-", ".", "1e"); nothing else, and
// no minus sign where the field holds no negative value. A refused key leaves the text and its
// selection as they were.
class TNumberValidator final : public QValidator {
public:
    TNumberValidator(QObject* parent, bool real, std::function<bool()> negativeAllowed)
        : QValidator(parent), real_(real), negativeAllowed_(std::move(negativeAllowed)) {}

    State validate(QString& input, int& /*pos*/) const override {
        static const QRegularExpression integer(R"(^\s*[-+]?\d*\s*$)");
        static const QRegularExpression real(R"(^\s*[-+]?((\d+\.?\d*|\.\d+)([eE][-+]?\d*)?|\.?)\s*$)");
        if (!(real_ ? real : integer).match(input).hasMatch()) return Invalid;
        const QString t = input.trimmed();
        if (t.startsWith('-') && !negativeAllowed_()) return Invalid;
        const std::string text = t.toStdString();
        double r = 0;
        int64_t i = 0;
        if (real_ ? ParseReal(text, r) : ParseInteger(text, i)) return Acceptable;
        // Still to be completed: no digit yet, or an exponent without its digits. A number beyond
        // the range of the field's values is refused.
        const bool digit = t.contains(QRegularExpression("\\d"));
        const bool open = !t.isEmpty() && QString("eE+-").contains(t.back());
        return !digit || (real_ && open) ? Intermediate : Invalid;
    }

private:
    bool real_;
    std::function<bool()> negativeAllowed_;
};

// A number field. What the operator types becomes the control's value at once (an empty field is
// 0, the start of a number keeps the value it had); a value held at the upper limit is shown at
// once. While the operator types, a change that leaves the value as typed (a
// new limit, another control's update) does not rewrite the text, so the cursor and the selection
// stay where they are; leaving the field or Enter shows the value as the field formats it.
template <typename Edit, typename Value>
void MirrorNumber(Edit& control, QLineEdit* widget, bool real, std::function<bool(const std::string&, Value&)> parse,
                  std::function<QString()> shown) {
    struct TState {
        TEchoGuard guard;
        bool typed = false;  // the text is the operator's, and gave the value `taken`
        Value taken{};
    };
    auto state = std::make_shared<TState>();
    widget->setValidator(new TNumberValidator(widget, real, [&control] {
        return control.MinValue() < 0 || !(control.MinValue() < control.MaxValue());
    }));
    Follow<QLineEdit>(control, widget, [&control, state, shown](QLineEdit* w) {
        ShowEnabled(control, w);
        if (state->guard.fromWidget) return;
        if (w->hasFocus() && state->typed && control.Value() == state->taken) return;
        state->typed = false;
        const QString text = shown();
        if (w->text() == text) return;
        w->setText(text);
        // A long number shows its first digits, as a field the operator is not typing in should.
        if (!w->hasFocus()) w->setCursorPosition(0);
    });
    QObject::connect(widget, &QLineEdit::textEdited, widget, [&control, state, parse, shown, widget](const QString& text) {
        const std::string t = text.trimmed().toStdString();
        Value value{};
        const bool number = parse(t, value);
        {
            TFromWidget from(state->guard);
            if (number || t.empty()) control.SetValue(value);
        }
        state->typed = true;
        state->taken = control.Value();
        // Held at its upper limit: the field shows the value it holds, not the text it refused
        // (more digits only make that text larger). Below the lower limit the operator may still
        // be typing ("1" on the way to "15" in a field from 10): the text waits for the entry's end.
        if (number && control.Value() < value) {
            state->typed = false;
            widget->setText(shown());
        }
    });
    auto showValue = [widget, shown, state] {
        state->typed = false;
        const QString text = shown();
        if (widget->text() != text) widget->setText(text);
    };
    // Losing the focus raises the control's exit event (SetFocused) before the value is shown.
    new TInputFilter(widget, control, [&control](int key) { control.KeyUp(key); }, showValue);
    QObject::connect(widget, &QLineEdit::editingFinished, widget, showValue);
}

// Key release of a list, with the click that a key moving the selection raises first.
void KeyboardSelection(QWidget* widget, TListBox& control) {
    auto before = std::make_shared<int>(-1);
    new TInputFilter(
        widget, control,
        [&control, before](int key) {
            if (control.ItemIndex() != *before && control.AcceptsInput()) control.Click();
            *before = control.ItemIndex();
            control.KeyUp(key);
        },
        nullptr, [&control, before] { *before = control.ItemIndex(); });
}

}  // namespace

QString ShownCaption(const std::string& caption) {
    QString shown;
    const QString text = Q(caption);
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text[i] == '&') {
            if (i + 1 < text.size() && text[i + 1] == '&') {
                shown += '&';
                ++i;
            }
            continue;
        }
        shown += text[i];
    }
    return shown;
}

int KeyCode(int qtKey) {
    if (qtKey >= Qt::Key_0 && qtKey <= Qt::Key_9) return '0' + (qtKey - Qt::Key_0);
    if (qtKey >= Qt::Key_A && qtKey <= Qt::Key_Z) return 'A' + (qtKey - Qt::Key_A);
    switch (qtKey) {
        case Qt::Key_Escape: return keys::Escape;
        case Qt::Key_Return:
        case Qt::Key_Enter: return keys::Enter;
        case Qt::Key_Backspace: return 8;
        case Qt::Key_Tab: return 9;
        case Qt::Key_Space: return 32;
        case Qt::Key_PageUp: return 33;
        case Qt::Key_PageDown: return 34;
        case Qt::Key_End: return 35;
        case Qt::Key_Home: return 36;
        case Qt::Key_Left: return 37;
        case Qt::Key_Up: return 38;
        case Qt::Key_Right: return 39;
        case Qt::Key_Down: return 40;
        case Qt::Key_Delete: return 46;
        case Qt::Key_Comma: return 188;
        case Qt::Key_Minus: return 189;
        case Qt::Key_Period: return 190;
        default: return 0;
    }
}

void Mirror(TLabel& control, QLabel* widget) {
    Follow<QLabel>(control, widget, [&control](QLabel* w) {
        const QString text = ShownCaption(control.Caption());
        if (w->text() != text) w->setText(text);
        ShowEnabled(control, w);
    });
}

void Mirror(TGroupBox& control, QGroupBox* widget) {
    // QGroupBox reads "&&" as "&" itself, as the window's captions are written.
    Follow<QGroupBox>(control, widget, [&control](QGroupBox* w) {
        const QString text = Q(control.Caption());
        if (w->title() != text) w->setTitle(text);
        if (control.Width() > 0 && w->width() != control.Width()) w->setFixedWidth(control.Width());
    });
}

void Mirror(TButton& control, QPushButton* widget) {
    Follow<QPushButton>(control, widget, [&control](QPushButton* w) {
        const QString text = Q(control.Caption());
        if (w->text() != text) w->setText(text);
        ShowEnabled(control, w);
    });
    QObject::connect(widget, &QPushButton::clicked, widget, [&control] { control.Click(); });
    new TInputFilter(widget, control, nullptr, nullptr);
}

void Mirror(TCheckBox& control, QCheckBox* widget) {
    auto guard = std::make_shared<TEchoGuard>();
    Follow<QCheckBox>(control, widget, [&control, guard](QCheckBox* w) {
        const QString text = Q(control.Caption());
        if (w->text() != text) w->setText(text);
        ShowEnabled(control, w);
        if (!guard->fromWidget && w->isChecked() != control.Checked()) {
            QSignalBlocker block(w);
            w->setChecked(control.Checked());
        }
    });
    QObject::connect(widget, &QCheckBox::toggled, widget, [&control, guard, widget](bool checked) {
        if (!control.AcceptsInput()) {
            QSignalBlocker block(widget);
            widget->setChecked(control.Checked());
            return;
        }
        TFromWidget from(*guard);
        control.SetChecked(checked);
    });
}

void Mirror(TEdit& control, QLineEdit* widget) {
    auto guard = std::make_shared<TEchoGuard>();
    Follow<QLineEdit>(control, widget, [&control, guard](QLineEdit* w) {
        ShowEnabled(control, w);
        if (guard->fromWidget) return;
        const QString text = Q(control.Text());
        if (w->text() != text) w->setText(text);
    });
    QObject::connect(widget, &QLineEdit::textEdited, widget, [&control, guard](const QString& text) {
        TFromWidget from(*guard);
        control.SetText(text.toStdString());
    });
    new TInputFilter(widget, control, [&control](int key) { control.KeyUp(key); }, nullptr);
}

void Mirror(TIntegerEdit& control, QLineEdit* widget) {
    MirrorNumber<TIntegerEdit, int64_t>(
        control, widget, false, [](const std::string& text, int64_t& value) { return ParseInteger(text, value); },
        [&control] { return QString::number(control.Value()); });
}

void Mirror(TRealEdit& control, QLineEdit* widget) {
    MirrorNumber<TRealEdit, double>(
        control, widget, true, [](const std::string& text, double& value) { return ParseReal(text, value); },
        [&control] { return Q(control.DisplayText()); });
}

namespace {
struct TListShown {
    TEchoGuard guard;
    std::vector<TListItem> items;
};

bool SameItems(const std::vector<TListItem>& a, const std::vector<TListItem>& b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (a[i].Text != b[i].Text) return false;
    return true;
}
}  // namespace

void Mirror(TListBox& control, QListWidget* widget) {
    auto shown = std::make_shared<TListShown>();
    Follow<QListWidget>(control, widget, [&control, shown](QListWidget* w) {
        ShowEnabled(control, w);
        QSignalBlocker block(w);
        if (!SameItems(shown->items, control.Items())) {
            shown->items = control.Items();
            w->clear();
            for (const auto& item : shown->items) {
                // Port names are often longer than the narrow lists: the whole name as a tip.
                auto* row = new QListWidgetItem(Q(item.Text), w);
                row->setToolTip(row->text());
            }
        }
        if (!shown->guard.fromWidget && w->currentRow() != control.ItemIndex()) {
            w->setCurrentRow(control.ItemIndex());
            if (control.ItemIndex() < 0) w->clearSelection();
        }
    });
    // A mouse click selects the item, then raises the click. An arrow key that moves the
    // selection raises the click too, before the key's release, as the list of the design does.
    QObject::connect(widget, &QListWidget::currentRowChanged, widget, [&control, shown](int row) {
        if (!control.AcceptsInput()) return;
        TFromWidget from(shown->guard);
        control.SetItemIndex(row);
    });
    QObject::connect(widget, &QListWidget::itemClicked, widget, [&control, widget](QListWidgetItem* item) {
        if (!control.AcceptsInput()) return;
        control.SetItemIndex(widget->row(item));
        control.Click();
    });
    QObject::connect(widget, &QListWidget::itemDoubleClicked, widget, [&control](QListWidgetItem*) {
        control.DblClick();
    });
    KeyboardSelection(widget, control);
}

void Mirror(TComboBox& control, QComboBox* widget) {
    auto shown = std::make_shared<TListShown>();
    Follow<QComboBox>(control, widget, [&control, shown](QComboBox* w) {
        ShowEnabled(control, w);
        QSignalBlocker block(w);
        if (!SameItems(shown->items, control.Items())) {
            shown->items = control.Items();
            w->clear();
            for (const auto& item : shown->items) w->addItem(Q(item.Text));
        }
        if (w->currentIndex() != control.ItemIndex()) w->setCurrentIndex(control.ItemIndex());
    });
    // Only the operator's choice raises the change event.
    QObject::connect(widget, &QComboBox::activated, widget, [&control](int index) { control.Choose(index); });
    new TInputFilter(widget, control, nullptr, nullptr);
}

void Mirror(TTabbedListBox& control, QTreeWidget* widget) {
    widget->setRootIsDecorated(false);
    widget->setHeaderHidden(true);
    widget->setUniformRowHeights(true);
    widget->setSelectionMode(QAbstractItemView::SingleSelection);
    widget->setAllColumnsShowFocus(true);
    auto shown = std::make_shared<TListShown>();
    Follow<QTreeWidget>(control, widget, [&control, shown](QTreeWidget* w) {
        ShowEnabled(control, w);
        QSignalBlocker block(w);
        if (!SameItems(shown->items, control.Items())) {
            shown->items = control.Items();
            w->clear();
            // Columns at tab stops placed from the contents: each column as wide as its widest
            // cell.
            int columns = 1;
            QList<QTreeWidgetItem*> rows;
            for (const auto& item : shown->items) {
                const QStringList cells = Q(item.Text).split('\t');
                columns = std::max(columns, static_cast<int>(cells.size()));
                rows.append(new QTreeWidgetItem(cells));
            }
            w->setColumnCount(columns);
            w->addTopLevelItems(rows);
            for (int c = 0; c < columns; ++c) w->resizeColumnToContents(c);
        }
        if (!shown->guard.fromWidget) {
            const int index = control.ItemIndex();
            QTreeWidgetItem* item = index >= 0 ? w->topLevelItem(index) : nullptr;
            if (w->currentItem() != item) w->setCurrentItem(item);
            if (!item) w->clearSelection();
        }
    });
    QObject::connect(widget, &QTreeWidget::currentItemChanged, widget,
                     [&control, shown, widget](QTreeWidgetItem* item, QTreeWidgetItem*) {
                         if (!control.AcceptsInput()) return;
                         TFromWidget from(shown->guard);
                         control.SetItemIndex(item ? widget->indexOfTopLevelItem(item) : -1);
                     });
    QObject::connect(widget, &QTreeWidget::itemClicked, widget,
                     [&control, widget](QTreeWidgetItem* item, int) {
                         if (!control.AcceptsInput()) return;
                         control.SetItemIndex(widget->indexOfTopLevelItem(item));
                         control.Click();
                     });
    KeyboardSelection(widget, control);
}

namespace {
// A memo line as the pane shows it: an entry of several lines (a worker message, each of its lines
// ended by CR LF) is shown as those lines, without an empty one after its last line end.
QString PaneLine(const std::string& line) {
    QString text = Q(line);
    text.replace("\r\n", "\n");
    text.replace('\r', '\n');
    if (text.endsWith('\n')) text.chop(1);
    return text;
}
}  // namespace

void Mirror(TMemo& control, QPlainTextEdit* widget) {
    // Log panes grow by one line at a time for hours: lines added at the end are appended, only
    // other changes rebuild the whole text.
    auto shown = std::make_shared<std::vector<std::string>>();
    Follow<QPlainTextEdit>(control, widget, [&control, shown](QPlainTextEdit* w) {
        ShowEnabled(control, w);
        const auto& lines = control.Lines();
        const size_t had = shown->size();
        if (lines.size() == had && lines == *shown) return;
        const bool appended = lines.size() > had && (had == 0 || lines[had - 1] == shown->back());
        if (appended) {
            for (size_t i = had; i < lines.size(); ++i) {
                w->appendPlainText(PaneLine(lines[i]));
                shown->push_back(lines[i]);
            }
            return;
        }
        {
            QStringList text;
            for (const auto& line : lines) text.append(PaneLine(line));
            w->setPlainText(text.join('\n'));
        }
        *shown = lines;
    });
    new TInputFilter(widget, control, nullptr, nullptr);
}

void Mirror(TTrackBar& control, QSlider* widget) {
    widget->setRange(0, control.Max());
    widget->setPageStep(1);
    widget->setTickPosition(QSlider::TicksBelow);
    widget->setTickInterval(1);
    Follow<QSlider>(control, widget, [&control](QSlider* w) {
        ShowEnabled(control, w);
        if (w->maximum() != control.Max()) w->setMaximum(control.Max());
        if (w->value() != control.Position()) {
            QSignalBlocker block(w);
            w->setValue(control.Position());
        }
    });
    // The position set by the operator raises the change event through SetPosition.
    QObject::connect(widget, &QSlider::valueChanged, widget, [&control, widget](int value) {
        if (!control.AcceptsInput()) {
            QSignalBlocker block(widget);
            widget->setValue(control.Position());
            return;
        }
        if (value != control.Position()) control.SetPosition(value);
    });
    new TInputFilter(widget, control, nullptr, nullptr);
}

void Mirror(TStatusBar& control, const std::array<QLabel*, 5>& panels) {
    for (int i = 0; i < TStatusBar::PanelCount; ++i) {
        Follow<QLabel>(control, panels[static_cast<size_t>(i)], [&control, i](QLabel* w) {
            const QString text = Q(control.Panel(i));
            if (w->text() != text) w->setText(text);
        });
    }
}

void Mirror(TLEDDisplay& control, TLedDisplayWidget* widget) {
    Follow<TLedDisplayWidget>(control, widget,
                              [&control](TLedDisplayWidget* w) { w->SetText(Q(control.Caption())); });
}

void Mirror(TPageControl& control, QTabWidget* widget) {
    auto guard = std::make_shared<TEchoGuard>();
    Follow<QTabWidget>(control, widget, [&control, guard](QTabWidget* w) {
        for (int i = 0; i < control.PageCount() && i < w->count(); ++i) {
            QWidget* page = w->widget(i);
            if (page->isEnabled() != control.PageEnabled(i)) page->setEnabled(control.PageEnabled(i));
        }
        if (!guard->fromWidget && w->currentIndex() != control.ActivePageIndex()) {
            QSignalBlocker block(w);
            w->setCurrentIndex(control.ActivePageIndex());
        }
    });
    QObject::connect(widget, &QTabWidget::currentChanged, widget, [&control, guard](int index) {
        TFromWidget from(*guard);
        control.SetActivePageIndex(index);
    });
}

}  // namespace moirex::ui
