#include "ui/Fonts.h"

#include <QStringList>

namespace moirex::ui {

namespace {
QFont Make(const QString& family, const QString& fallback, QFont::StyleHint hint) {
    QFont font(family);
    font.setPointSize(8);
    font.setStyleHint(hint);
    font.setFamilies({family, fallback});
    return font;
}
}  // namespace

QFont WindowFont() { return Make("Liberation Sans", "DejaVu Sans", QFont::SansSerif); }

QFont FixedPitchFont() { return Make("Liberation Mono", "DejaVu Sans Mono", QFont::Monospace); }

}  // namespace moirex::ui
