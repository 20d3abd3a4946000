#include "ui/GuardedApplication.h"

#include <cstdio>
#include <exception>

namespace moirex::ui {

bool TGuardedApplication::notify(QObject* receiver, QEvent* event) {
    std::string what;
    try {
        return QApplication::notify(receiver, event);
    } catch (const std::exception& e) {
        what = e.what();
    } catch (...) {
        what = "unknown error";
    }
    std::fprintf(stderr, "moirex: an action failed: %s\n", what.c_str());
    if (OnFailure) {
        // A failure while its message is shown is not shown again on top of it.
        static bool showing = false;
        if (!showing) {
            showing = true;
            try {
                OnFailure(what);
            } catch (...) {
            }
            showing = false;
        }
    }
    return false;
}

}  // namespace moirex::ui
