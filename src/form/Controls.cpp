#include "form/Controls.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "support/TextFormat.h"

namespace moirex {

void TControl::SetEnabled(bool enabled) {
    enabled_ = enabled;
    Changed();
}

void TControl::SetFocused(bool focused) {
    const bool left = focused_ && !focused;
    focused_ = focused;
    Changed();
    if (left) FocusLeft();
}

void TControl::Changed() {
    for (auto& observer : observers_) observer();
}

TLabel::TLabel(std::string name, std::string caption)
    : TControl(std::move(name)), caption_(std::move(caption)) {}

void TLabel::SetCaption(std::string caption) {
    caption_ = std::move(caption);
    Changed();
}

void TGroupBox::SetWidth(int width) {
    width_ = width;
    Changed();
}

void TButton::Click() {
    if (AcceptsInput() && OnClick) OnClick(*this);
}

void TButton::PerformClick() {
    if (OnClick) OnClick(*this);
}

void TCheckBox::SetChecked(bool checked) {
    checked_ = checked;
    Changed();
}

TEdit::TEdit(std::string name, std::string text) : TControl(std::move(name)), text_(std::move(text)) {}

void TEdit::SetText(std::string text) {
    text_ = std::move(text);
    Changed();
}

void TEdit::KeyUp(int key) {
    if (AcceptsInput() && OnKeyUp) OnKeyUp(*this, key);
}

TIntegerEdit::TIntegerEdit(std::string name, int64_t value, int64_t minValue, int64_t maxValue)
    : TControl(std::move(name)), value_(value), min_(minValue), max_(maxValue) {}

void TIntegerEdit::SetValue(int64_t value) {
    if (min_ < max_) value = std::clamp(value, min_, max_);
    value_ = value;
    Changed();
}

void TIntegerEdit::SetLimits(int64_t minValue, int64_t maxValue) {
    min_ = minValue;
    max_ = maxValue;
    SetValue(value_);
}

void TIntegerEdit::KeyUp(int key) {
    if (AcceptsInput() && OnKeyUp) OnKeyUp(*this, key);
}

void TIntegerEdit::Exit() {
    if (AcceptsInput() && OnExit) OnExit(*this);
}

TRealEdit::TRealEdit(std::string name, double value, double minValue, double maxValue)
    : TControl(std::move(name)), value_(value), min_(minValue), max_(maxValue) {}

void TRealEdit::SetValue(double value) {
    // A limited field never holds a value outside its limits: not-a-number passes every
    // comparison of a clamp unchanged, so it is replaced by the lower limit.
    if (min_ < max_) value = std::isnan(value) ? min_ : std::clamp(value, min_, max_);
    value_ = value;
    Changed();
}

void TRealEdit::SetLimits(double minValue, double maxValue) {
    min_ = minValue;
    max_ = maxValue;
    SetValue(value_);
}

std::string TRealEdit::DisplayText() const {
    if (!DisplayFormat.empty()) return FormatMask(value_, DisplayFormat);
    return FormatGeneral(DisplayDigits > 0 ? RoundSignificant(value_, DisplayDigits) : value_);
}

void TRealEdit::KeyUp(int key) {
    if (AcceptsInput() && OnKeyUp) OnKeyUp(*this, key);
}

void TRealEdit::Exit() {
    if (AcceptsInput() && OnExit) OnExit(*this);
}

void TListBox::SetItems(std::vector<TListItem> items) {
    items_ = std::move(items);
    index_ = -1;
    Changed();
}

void TListBox::Clear() { SetItems({}); }

void TListBox::AddItem(std::string text, int64_t data) {
    items_.push_back({std::move(text), data});
    Changed();
}

void TListBox::SetItemIndex(int index) {
    index_ = (index >= 0 && index < Count()) ? index : -1;
    Changed();
}

std::string TListBox::SelectedText() const { return index_ >= 0 ? items_[static_cast<size_t>(index_)].Text : std::string(); }

void TListBox::Click() {
    if (AcceptsInput() && OnClick) OnClick(*this);
}

void TListBox::DblClick() {
    if (AcceptsInput() && OnDblClick) OnDblClick(*this);
}

void TListBox::KeyUp(int key) {
    if (AcceptsInput() && OnKeyUp) OnKeyUp(*this, key);
}

void TComboBox::Choose(int index) {
    if (!AcceptsInput()) return;
    SetItemIndex(index);
    if (OnChange) OnChange(*this);
}

void TMemo::Add(std::string line) {
    lines_.push_back(std::move(line));
    Changed();
}

void TMemo::Clear() {
    lines_.clear();
    Changed();
}

std::string TMemo::Text() const {
    std::string text;
    for (const auto& line : lines_) {
        text += line;
        text += CRLF;
    }
    return text;
}

void TMemo::SetText(std::string_view text) {
    lines_.clear();
    std::string line;
    for (size_t i = 0; i < text.size(); ++i) {
        char c = text[i];
        if (c == '\r' || c == '\n') {
            lines_.push_back(line);
            line.clear();
            if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
        } else {
            line += c;
        }
    }
    if (!line.empty()) lines_.push_back(line);
    Changed();
}

TTrackBar::TTrackBar(std::string name, int position, int max)
    : TControl(std::move(name)), position_(std::clamp(position, 0, max)), max_(max) {}

void TTrackBar::SetPosition(int position) {
    position_ = std::clamp(position, 0, max_);
    Changed();
    if (OnChange) OnChange(*this);
}

void TStatusBar::SetPanel(int index, std::string text) {
    panels_.at(static_cast<size_t>(index)) = std::move(text);
    Changed();
}

void TDoubleVector::Add(double value) {
    values_.push_back(value);
    Changed();
}

void TDoubleVector::Clear() {
    values_.clear();
    Changed();
}

TPageControl::TPageControl(std::string name, std::vector<std::string> captions)
    : TControl(std::move(name)), captions_(std::move(captions)), pageEnabled_(captions_.size(), true) {}

void TPageControl::SetActivePageIndex(int index) {
    if (index >= 0 && index < PageCount()) active_ = index;
    Changed();
}

void TPageControl::SetPageEnabled(int index, bool enabled) {
    pageEnabled_.at(static_cast<size_t>(index)) = enabled;
    Changed();
}

}  // namespace moirex
