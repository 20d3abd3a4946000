#include "ui/QtDialogs.h"

#include <QApplication>
#include <QMessageBox>

namespace moirex::ui {

namespace {
// A box shown while the window is disabled with the busy cursor (validation asks its question
// then) must still show the ordinary pointer and take the operator's answer.
class TNormalCursor {
public:
    TNormalCursor() : active_(QApplication::overrideCursor() != nullptr) {
        if (active_) QApplication::setOverrideCursor(Qt::ArrowCursor);
    }
    ~TNormalCursor() {
        if (active_) QApplication::restoreOverrideCursor();
    }
    TNormalCursor(const TNormalCursor&) = delete;
    TNormalCursor& operator=(const TNormalCursor&) = delete;

private:
    bool active_;
};

// The program's name over its message boxes.
QString Title() { return QStringLiteral("Moirex"); }
}  // namespace

void TQtDialogs::ShowMessage(const std::string& text) {
    TNormalCursor cursor;
    QMessageBox box(QMessageBox::NoIcon, Title(), QString::fromStdString(text), QMessageBox::Ok,
                    parent_);
    box.exec();
}

bool TQtDialogs::AskYesNo(const std::string& text, const std::string& caption) {
    TNormalCursor cursor;
    QMessageBox box(QMessageBox::Warning, QString::fromStdString(caption),
                    QString::fromStdString(text), QMessageBox::Yes | QMessageBox::No, parent_);
    box.setDefaultButton(QMessageBox::No);
    return box.exec() == QMessageBox::Yes;
}

void TQtDialogs::ShowError(const std::string& text) {
    TNormalCursor cursor;
    QMessageBox box(QMessageBox::Critical, Title(), QString::fromStdString(text), QMessageBox::Ok,
                    parent_);
    box.exec();
}

}  // namespace moirex::ui
