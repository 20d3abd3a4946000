#pragma once
// The desktop program's QApplication, with every event handler guarded: an exception that
// escapes a handler (a button's, a list's, a menu's, a timer's) is caught where Qt delivers the
// event, shown through OnFailure, and the program goes on. (The run's tick has its own guard,
// which also starts the stop procedure: core/RunController.h, GuardedTimer1Timer.)

#include <QApplication>
#include <functional>
#include <string>

namespace moirex::ui {

class TGuardedApplication : public QApplication {
public:
    TGuardedApplication(int& argc, char** argv) : QApplication(argc, argv) {}

    // Told the text of each failure (the window sets a message box of its Dialogs).
    std::function<void(const std::string&)> OnFailure;

    bool notify(QObject* receiver, QEvent* event) override;
};

}  // namespace moirex::ui
