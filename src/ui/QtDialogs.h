#pragma once
// The window's modal dialogs as Qt message boxes: information with OK, the Yes/No question with a
// warning icon and its caption, and the failure that ends an event handler.

#include <QPointer>
#include <QWidget>

#include "form/Dialogs.h"

namespace moirex::ui {

class TQtDialogs final : public Dialogs {
public:
    // parent: the window the boxes are modal to (may be null before the window exists).
    explicit TQtDialogs(QWidget* parent = nullptr) : parent_(parent) {}
    void SetParent(QWidget* parent) { parent_ = parent; }

    void ShowMessage(const std::string& text) override;
    bool AskYesNo(const std::string& text, const std::string& caption) override;
    void ShowError(const std::string& text) override;

private:
    QPointer<QWidget> parent_;
};

}  // namespace moirex::ui
