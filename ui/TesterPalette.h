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

// Text sizes. The design gives every size in pixels at a 10 pt application font; a font is
// that size relative to QApplication::font(), so a larger desktop font enlarges every text of
// the window in proportion (and a 10 pt one leaves it as designed).
double fontScale();
// A length that grows with the text: `pixels` of the design, times fontScale().
int textLength(double pixels);
// The system UI font at the design's pixel size.
QFont designFont(double pixels, QFont::Weight weight = QFont::Normal);
// The system fixed-pitch font at the design's pixel size.
QFont designMonospaceFont(double pixels, QFont::Weight weight = QFont::Normal);
// Gives the widget the design font (letter spacing in the design's pixels too) and keeps it in
// proportion when the application font changes.
enum class Face { system, monospace };
void setDesignFont(QWidget *widget, double pixels, QFont::Weight weight = QFont::Normal,
                   Face face = Face::system, double letterSpacing = 0);

} // namespace vibrelle::ui
