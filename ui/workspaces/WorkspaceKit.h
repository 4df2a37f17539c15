#pragma once

#include "ui/TesterPalette.h"

#include <QFont>
#include <QLabel>
#include <QPushButton>
#include <QString>
#include <QWidget>

namespace vibrelle::ui {

// Small pieces shared by the section workspaces.

// A plain-text label in the system font at the design's `pixelSize` (see designFont), drawn in `tone`.
QLabel *textLabel(const QString &text, double pixelSize, QFont::Weight weight = QFont::Normal,
                  Tone tone = Tone::primary, QWidget *parent = nullptr);

// A small-caps style heading ("CARICA", "INIZIO"): 9 px semibold, letter spacing 1, secondary.
QLabel *smallHeading(const QString &text, QWidget *parent = nullptr);

// The prominent button: filled with the accent, white label and glyph.
QPushButton *prominentButton(const QString &text, const QString &symbolName, QWidget *parent = nullptr);

// A thin separating line, horizontal or vertical, in a faint shade of the text colour.
QWidget *hairline(Qt::Orientation orientation, QWidget *parent = nullptr);

// A widget built after the window (a workspace or page made when first shown) comes last in the
// Tab order; this puts its stops where it is read: after those of the rest of `region`, an ancestor.
void joinTabOrder(QWidget *built, QWidget *region);

// A standard push button.
QPushButton *standardButton(const QString &text, QWidget *parent = nullptr);

// The window's accent as the highlight of a standard control (slider groove, progress bar,
// checkbox), so it follows the accent whatever the desktop theme.
void useAccentHighlight(QWidget *widget);

} // namespace vibrelle::ui
