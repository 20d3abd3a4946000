#pragma once
// The segment program's file buttons on the design page: "Open program..." and "Save program..."
// in the group of the segment list, with the desktop's file dialogs starting in the Userdata
// folder, and "Check program" beside Start. Each only asks for the path and calls the segment
// program's own routines; what they did is told in Memo1 and by message boxes.

#include <QString>
#include <functional>

class QWidget;

namespace moirex {
struct TMixer;
}

namespace moirex::ui {

// Asks for a program file's path: `save` true for "Save program...". An empty result: cancelled.
// The default shows the desktop's file dialog over `parent`.
using TAskProgramPath = std::function<QString(QWidget* parent, bool save)>;

// Adds the three buttons to the design page of `window` over `mixer`. `ask` replaces the file
// dialogs (tests).
void AddProgramFileButtons(QWidget& window, TMixer& mixer, TAskProgramPath ask = {});

}  // namespace moirex::ui
