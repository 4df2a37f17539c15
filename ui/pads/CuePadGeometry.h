#pragma once

#include <QLineF>
#include <QList>
#include <QPointF>
#include <QRectF>
#include <QString>

namespace vibrelle::ui {

// Where everything on the billiards table sits, for a pad `width` wide (its height is
// fixed) and a cue drawn back by `charge` (0 at rest, 1 fully drawn). Positions are in
// pad coordinates: origin top-left, y downward.
struct CuePadGeometry {
    static constexpr double height = 164;
    static constexpr double cornerRadius = 18;
    static constexpr double railInset = 10;
    static constexpr double railCornerRadius = 13;
    static constexpr double sightDiameter = 13;
    static constexpr double ballDiameter = 27;
    // How far the cue travels from rest to full charge.
    static constexpr double cueTravel = 90;

    QRectF bounds;
    QRectF rail;
    QList<QPointF> sights; // centres, top row first, left to right
    QLineF aimLine;
    QRectF cueShadow; // capsule
    QRectF cue;       // capsule; its right end is the tip's centre
    QRectF tip;       // capsule (a dot)
    QPointF ballCenter;
    QPointF hintCenter;
};

// Charge outside 0…1 is clamped; a non-finite charge counts as 0.
CuePadGeometry cuePadGeometry(double width, double charge);

// The line of text on the table.
QString cuePadHint(bool cueDragging, bool controlledPaused);

} // namespace vibrelle::ui
