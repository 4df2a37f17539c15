#pragma once

#include <QColor>
#include <QIcon>
#include <QRectF>
#include <QString>
#include <QStringList>

class QPainter;

namespace vibrelle::ui {

// The tester's own symbol glyphs, drawn with QPainter so they scale to any size and
// device pixel ratio and take any colour. One table (Glyphs.cpp) maps each symbol
// name to its drawing; an unknown name draws nothing.
//
// Names: "waveform", "waveform.path", "waveform.path.ecg", "circle.circle",
// "arrow.up.right.square", "pause.fill", "play.fill", "stop.fill", "chevron.up",
// "chevron.down", "speaker.slash", "hand.tap", "hand.draw".

// An icon that draws the glyph in `color` at whatever size it is asked for. In the
// disabled mode it draws the colour at reduced opacity.
QIcon glyph(const QString &symbolName, const QColor &color);

// Draws the glyph into `rect` (a square works best) with the given colour.
void paintGlyph(QPainter &painter, const QRectF &rect, const QString &symbolName, const QColor &color);

// The application's icon: the waveform on a violet rounded tile, as in the sidebar.
QIcon applicationIcon();

bool hasGlyph(const QString &symbolName);
QStringList glyphNames();

} // namespace vibrelle::ui
