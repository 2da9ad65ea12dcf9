#include "prefs/background_colour.h"

#include <QApplication>
#include <QMenuBar>
#include <QPalette>
#include <QTabBar>
#include <QWidget>
#include <cmath>

namespace qv {

namespace {
// Relative luminance of an sRGB colour, 0 for black to 1 for white.
double Luminance(const QColor& colour) {
    const auto linear = [](double channel) {
        return channel <= 0.03928 ? channel / 12.92 : std::pow((channel + 0.055) / 1.055, 2.4);
    };
    return 0.2126 * linear(colour.redF()) + 0.7152 * linear(colour.greenF()) +
           0.0722 * linear(colour.blueF());
}
} // namespace

QColor SystemBackgroundColour() {
    return QApplication::palette().color(QPalette::Window);
}

QColor ReadableTextColour(const QColor& background) {
    // Contrast ratios against black and white; the larger one wins.
    const double luminance = Luminance(background);
    const double onBlack = (luminance + 0.05) / 0.05;
    const double onWhite = 1.05 / (luminance + 0.05);
    return onBlack >= onWhite ? QColor(Qt::black) : QColor(Qt::white);
}

void SetBackgroundColour(QWidget& window, const QColor& colour) {
    const bool system = colour == SystemBackgroundColour();
    // Menu bars and tab bars draw their captions on surfaces of their own: they keep the
    // desktop's palette, or their text would sit on a colour it was not chosen for.
    QPalette desktop = QApplication::palette();
    desktop.setResolveMask(~QPalette::ResolveMask(0)); // every role set, so nothing is inherited
    for (QWidget* child : window.findChildren<QWidget*>())
        if (qobject_cast<QMenuBar*>(child) || qobject_cast<QTabBar*>(child))
            child->setPalette(system ? QPalette() : desktop);
    if (system) {
        window.setPalette(QPalette());
        return;
    }
    QPalette palette = window.palette();
    const QColor text = ReadableTextColour(colour);
    palette.setColor(QPalette::Window, colour);
    palette.setColor(QPalette::WindowText, text);
    // Disabled text halfway between the text and the background.
    palette.setColor(QPalette::Disabled, QPalette::WindowText,
                     QColor::fromRgbF((text.redF() + colour.redF()) / 2,
                                      (text.greenF() + colour.greenF()) / 2,
                                      (text.blueF() + colour.blueF()) / 2));
    window.setPalette(palette);
}

QColor BackgroundColour(const QWidget& window) {
    return window.palette().color(QPalette::Window);
}

} // namespace qv
