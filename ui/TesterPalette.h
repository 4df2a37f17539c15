#pragma once

#include <QColor>
#include <QFont>
#include <QPalette>

class QWidget;

namespace vibrelle::ui {

// The window's colours. `violet` is the one fixed colour: the accent of every control.
// Everything else derives from the palette's roles, so a dark desktop theme stays
// readable. Pass the palette of the widget that paints (widget->palette()).
struct TesterPalette {
    // sRGB 0.45, 0.36, 0.84.
    static QColor violet();
    // The window background.
    static QColor canvas(const QPalette &palette);
    // The fill of panels: the control background at opacity 0.86.
    static QColor panel(const QPalette &palette);

    // Text colours of decreasing emphasis (primary is WindowText).
    static QColor secondary(const QPalette &palette);
    static QColor tertiary(const QPalette &palette);
    // Failure text (failed log entries, the stop button): a red that keeps its contrast
    // on light and dark backgrounds.
    static QColor failure(const QPalette &palette);
    // The "connected" dot.
    static QColor success(const QPalette &palette);

    static bool isDark(const QPalette &palette);
    static QColor withAlpha(QColor color, double alpha);
};

// The text colour a widget draws in. Widgets given a tone keep it when the desktop
// theme (the application palette) changes.
enum class Tone { primary, secondary, tertiary, accent, failure, success };
QColor toneColor(Tone tone, const QPalette &palette);
void setTone(QWidget *widget, Tone tone);

// The system UI font at a pixel size (sizes in the design are device-independent pixels).
QFont pixelFont(int pixelSize, QFont::Weight weight = QFont::Normal);
// The system fixed-pitch font at a pixel size.
QFont monospaceFont(int pixelSize, QFont::Weight weight = QFont::Normal);

} // namespace vibrelle::ui
