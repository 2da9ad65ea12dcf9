#pragma once

#include <QColor>

class QWidget;

namespace qv {

// The colour every window starts with: the desktop's own window background.
QColor SystemBackgroundColour();
// Black or white, whichever reads better on the background.
QColor ReadableTextColour(const QColor& background);

// Paints a window's background in the colour, with text that stays readable on it; the system
// colour gives the window back the desktop's palette.
void SetBackgroundColour(QWidget& window, const QColor& colour);
QColor BackgroundColour(const QWidget& window);

} // namespace qv
