#pragma once
// The main window's controls as plain objects: what the operator sees and enters, and the
// operations of each kind. The logic reads and writes them by name; the Qt layer mirrors them.
// Every change calls the control's observers, so a widget can follow a change made by the logic.

#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace moirex {

class TControl;
using TNotifyEvent = std::function<void(TControl& sender)>;
using TKeyEvent = std::function<void(TControl& sender, int key)>;

// Key codes passed to key-release events.
namespace keys {
inline constexpr int Escape = 27;
inline constexpr int Enter = 13;
}  // namespace keys

class TControl {
public:
    explicit TControl(std::string name) : Name(std::move(name)) {}
    virtual ~TControl() = default;
    TControl(const TControl&) = delete;
    TControl& operator=(const TControl&) = delete;

    const std::string Name;

    bool Enabled() const { return enabled_; }
    void SetEnabled(bool enabled);
    bool Focused() const { return focused_; }
    void SetFocused(bool focused);

    // Observers are told after every change of what the control shows.
    void Subscribe(std::function<void()> observer) { observers_.push_back(std::move(observer)); }

    // What else must allow input for the operator to reach this control: the page it sits on
    // and the window. A disabled page can still be shown, but its controls take no input; a
    // disabled window takes none at all. Without a gate only the control's own flag counts.
    void SetInputGate(std::function<bool()> gate) { inputGate_ = std::move(gate); }
    // True when the operator can use the control: enabled, and its page and window allow it.
    bool AcceptsInput() const { return enabled_ && (!inputGate_ || inputGate_()); }

protected:
    void Changed();
    // The control has just lost the keyboard focus.
    virtual void FocusLeft() {}

private:
    bool enabled_ = true;
    bool focused_ = false;
    std::vector<std::function<void()>> observers_;
    std::function<bool()> inputGate_;
};

class TLabel : public TControl {
public:
    TLabel(std::string name, std::string caption = {});
    const std::string& Caption() const { return caption_; }
    void SetCaption(std::string caption);

private:
    std::string caption_;
};

class TGroupBox : public TLabel {
public:
    using TLabel::TLabel;
    int Width() const { return width_; }
    void SetWidth(int width);

private:
    int width_ = 0;
};

class TButton : public TLabel {
public:
    using TLabel::TLabel;
    TNotifyEvent OnClick;
    // The operator's click: nothing happens while the button does not accept input.
    void Click();
    // The program performing the click, as "Set to water" is performed by the configuration load:
    // the action runs whatever the button, its page or the window show, as a program action must
    // not be dropped silently.
    void PerformClick();
};

class TCheckBox : public TLabel {
public:
    using TLabel::TLabel;
    bool Checked() const { return checked_; }
    void SetChecked(bool checked);

private:
    bool checked_ = false;
};

class TEdit : public TControl {
public:
    TEdit(std::string name, std::string text = {});
    const std::string& Text() const { return text_; }
    void SetText(std::string text);
    TKeyEvent OnKeyUp;
    // A key released in the field; a disabled field raises nothing.
    void KeyUp(int key = 0);

private:
    std::string text_;
};

// Integer field. Limits apply only when MinValue < MaxValue (otherwise the field has none).
class TIntegerEdit : public TControl {
public:
    TIntegerEdit(std::string name, int64_t value = 0, int64_t minValue = 0, int64_t maxValue = 0);
    int64_t Value() const { return value_; }
    void SetValue(int64_t value);
    void SetLimits(int64_t minValue, int64_t maxValue);
    int64_t MinValue() const { return min_; }
    int64_t MaxValue() const { return max_; }
    TKeyEvent OnKeyUp;
    void KeyUp(int key = 0);
    // The operator has left the field (its entry is finished): raised when the field loses the
    // focus; a disabled field raises nothing.
    TNotifyEvent OnExit;
    void Exit();

protected:
    void FocusLeft() override { Exit(); }

private:
    int64_t value_;
    int64_t min_, max_;
};

// Real field (double precision). Limits apply only when MinValue < MaxValue; a value outside
// them is replaced by the nearer limit. A field with only a lower limit sets MaxValue to +inf.
class TRealEdit : public TControl {
public:
    TRealEdit(std::string name, double value = 0, double minValue = 0, double maxValue = 0);
    double Value() const { return value_; }
    void SetValue(double value);
    void SetLimits(double minValue, double maxValue);
    double MinValue() const { return min_; }
    double MaxValue() const { return max_; }
    // Display format: a quoted mask such as "0.00", empty for the general format.
    std::string DisplayFormat;
    // Without a mask: the general format of the value rounded to this many significant digits
    // (0: all of them).
    int DisplayDigits = 0;
    // The value as the field shows it.
    std::string DisplayText() const;
    TKeyEvent OnKeyUp;
    void KeyUp(int key = 0);
    TNotifyEvent OnExit;
    void Exit();

protected:
    void FocusLeft() override { Exit(); }

private:
    double value_;
    double min_, max_;
};

struct TListItem {
    std::string Text;
    int64_t Data = 0;
};

class TListBox : public TControl {
public:
    using TControl::TControl;
    const std::vector<TListItem>& Items() const { return items_; }
    void SetItems(std::vector<TListItem> items);
    void Clear();
    void AddItem(std::string text, int64_t data = 0);
    int Count() const { return static_cast<int>(items_.size()); }
    const std::string& ItemText(int index) const { return items_.at(static_cast<size_t>(index)).Text; }
    // -1: no selection. An index outside the items selects nothing.
    int ItemIndex() const { return index_; }
    void SetItemIndex(int index);
    // The selected item's text, empty when none.
    std::string SelectedText() const;
    TNotifyEvent OnClick;
    TNotifyEvent OnDblClick;
    TKeyEvent OnKeyUp;
    void Click();
    void DblClick();
    void KeyUp(int key = 0);

private:
    std::vector<TListItem> items_;
    int index_ = -1;
};

// Drop-down list. Its change event is raised by the operator's choice only (Choose), not by
// SetItemIndex.
class TComboBox : public TListBox {
public:
    using TListBox::TListBox;
    TNotifyEvent OnChange;
    void Choose(int index);
};

// Tabbed list of the segment program: rows with tab-separated columns.
class TTabbedListBox : public TListBox {
public:
    using TListBox::TListBox;
};

class TMemo : public TControl {
public:
    using TControl::TControl;
    void Add(std::string line);
    void Clear();
    int Count() const { return static_cast<int>(lines_.size()); }
    const std::string& Line(int index) const { return lines_.at(static_cast<size_t>(index)); }
    const std::vector<std::string>& Lines() const { return lines_; }
    // The whole text, lines joined by CR LF; setting splits at CR LF, LF or CR.
    std::string Text() const;
    void SetText(std::string_view text);

private:
    std::vector<std::string> lines_;
};

// Track bar: position held within 0 .. Max. The change event is raised also when the program
// sets the position, as the real widget does.
class TTrackBar : public TControl {
public:
    TTrackBar(std::string name, int position = 0, int max = 10);
    int Position() const { return position_; }
    void SetPosition(int position);
    int Max() const { return max_; }
    TNotifyEvent OnChange;

private:
    int position_;
    int max_;
};

// Scrolling LED-style display: a caption that scrolls across.
class TLEDDisplay : public TLabel {
public:
    using TLabel::TLabel;
};

class TStatusBar : public TControl {
public:
    static constexpr int PanelCount = 5;
    using TControl::TControl;
    const std::string& Panel(int index) const { return panels_.at(static_cast<size_t>(index)); }
    void SetPanel(int index, std::string text);

private:
    std::array<std::string, PanelCount> panels_{};
};

// Graph data vector.
class TDoubleVector : public TControl {
public:
    using TControl::TControl;
    void Add(double value);
    int Count() const { return static_cast<int>(values_.size()); }
    double Value(int index) const { return values_.at(static_cast<size_t>(index)); }
    const std::vector<double>& Values() const { return values_; }
    void Clear();

private:
    std::vector<double> values_;
};

class TPageControl : public TControl {
public:
    TPageControl(std::string name, std::vector<std::string> captions);
    int PageCount() const { return static_cast<int>(captions_.size()); }
    const std::string& PageCaption(int index) const { return captions_.at(static_cast<size_t>(index)); }
    int ActivePageIndex() const { return active_; }
    void SetActivePageIndex(int index);
    bool PageEnabled(int index) const { return pageEnabled_.at(static_cast<size_t>(index)); }
    void SetPageEnabled(int index, bool enabled);

private:
    std::vector<std::string> captions_;
    std::vector<bool> pageEnabled_;
    int active_ = 0;
};

}  // namespace moirex
