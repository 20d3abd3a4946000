#include "ui/PageBuilder.h"

#include <QStyledItemDelegate>
#include <algorithm>

#include "ui/Fonts.h"
#include "ui/Mirror.h"

namespace moirex::ui::build {

namespace {
template <typename Widget, typename Control>
Widget* Make(Control& control) {
    auto* widget = new Widget;
    widget->setObjectName(QString::fromStdString(control.Name));
    Mirror(control, widget);
    return widget;
}

void SetWidth(QWidget* widget, int width) {
    if (width > 0) widget->setFixedWidth(width);
}
}  // namespace

QPushButton* Button(TButton& control) { return Make<QPushButton>(control); }

QLabel* Label(TLabel& control) { return Make<QLabel>(control); }

QLabel* Text(const QString& text) { return new QLabel(text); }

QGroupBox* Group(TGroupBox& control) { return Make<QGroupBox>(control); }

QCheckBox* Check(TCheckBox& control) { return Make<QCheckBox>(control); }

QLineEdit* Edit(TEdit& control, int width) {
    auto* w = Make<QLineEdit>(control);
    SetWidth(w, width);
    return w;
}

QLineEdit* Edit(TIntegerEdit& control, int width) {
    auto* w = Make<QLineEdit>(control);
    w->setAlignment(Qt::AlignRight);
    SetWidth(w, width);
    return w;
}

QLineEdit* Edit(TRealEdit& control, int width) {
    auto* w = Make<QLineEdit>(control);
    SetWidth(w, width);
    return w;
}

QListWidget* List(TListBox& control) { return Make<QListWidget>(control); }

namespace {
// Items as wide as the list, so that a long text is cut at its start instead of scrolled.
class TElideLeftDelegate final : public QStyledItemDelegate {
public:
    explicit TElideLeftDelegate(QListWidget* list) : QStyledItemDelegate(list), list_(list) {}
    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override {
        const QSize hint = QStyledItemDelegate::sizeHint(option, index);
        return {std::min(hint.width(), list_->viewport()->width()), hint.height()};
    }

protected:
    void initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const override {
        QStyledItemDelegate::initStyleOption(option, index);
        option->textElideMode = Qt::ElideLeft;
    }

private:
    QListWidget* list_;
};
}  // namespace

QListWidget* PortList(TListBox& control) {
    QListWidget* list = List(control);
    list->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    list->setTextElideMode(Qt::ElideLeft);
    list->setResizeMode(QListView::Adjust);
    list->setItemDelegate(new TElideLeftDelegate(list));
    return list;
}

QComboBox* Combo(TComboBox& control) {
    auto* w = Make<QComboBox>(control);
    w->setMaxVisibleItems(16);
    return w;
}

QTreeWidget* TabbedList(TTabbedListBox& control) { return Make<QTreeWidget>(control); }

QPlainTextEdit* Pane(TMemo& control, bool border) {
    auto* w = new QPlainTextEdit;
    w->setObjectName(QString::fromStdString(control.Name));
    w->setReadOnly(true);
    w->setFont(FixedPitchFont());
    w->setLineWrapMode(QPlainTextEdit::NoWrap);
    w->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    if (!border) w->setFrameShape(QFrame::NoFrame);
    Mirror(control, w);
    return w;
}

QSlider* Track(TTrackBar& control) {
    auto* w = new QSlider(Qt::Horizontal);
    w->setObjectName(QString::fromStdString(control.Name));
    Mirror(control, w);
    return w;
}

QHBoxLayout* Row(const QString& label, QWidget* field, const QString& unit, int labelWidth) {
    auto* row = new QHBoxLayout;
    if (!label.isEmpty()) {
        auto* l = new QLabel(label);
        if (labelWidth > 0) l->setFixedWidth(labelWidth);
        l->setBuddy(field);
        row->addWidget(l);
    }
    row->addWidget(field);
    if (!unit.isEmpty()) row->addWidget(new QLabel(unit));
    row->addStretch(1);
    return row;
}

QVBoxLayout* Column(QGroupBox* group) {
    auto* column = new QVBoxLayout(group);
    column->setContentsMargins(8, 6, 8, 8);
    column->setSpacing(4);
    return column;
}

}  // namespace moirex::ui::build
