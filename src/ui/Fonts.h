#pragma once
// The window's fonts. The window was laid out for Tahoma 8 pt with Courier New 8 pt in the text
// panes; neither ships with Debian. Liberation Mono has the metrics of Courier New, so the
// fixed-pitch panes keep their columns; Liberation Sans (the metrics of Arial) is as wide as
// Tahoma at 8 pt to within a pixel or two per word, so captions fit the same boxes. Both come
// with fonts-liberation2; DejaVu is the fallback that every Debian system has.

#include <QFont>

namespace moirex::ui {

QFont WindowFont();     // Liberation Sans 8 pt
QFont FixedPitchFont();  // Liberation Mono 8 pt

}  // namespace moirex::ui
