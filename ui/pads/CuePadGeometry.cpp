#include "ui/pads/CuePadGeometry.h"

#include <algorithm>
#include <cmath>

namespace vibrelle::ui {
namespace {

constexpr double tableLine = 76; // y of the ball, the cue and the aim line
constexpr double shadowLine = 80;
constexpr double hintLine = 125;
constexpr double cueLength = 156;
constexpr double cueThickness = 5;
constexpr double cueShadowThickness = 7;
constexpr double tipSize = 5;
// At rest the cue's centre sits 99 left of the ball, which puts its tip 21 left of the
// ball's centre: just clear of the ball's left edge.
constexpr double cueRestOffset = 99;
constexpr double tipRestOffset = 21;
constexpr double aimStartOffset = 23;
constexpr double aimEndInset = 32;

QRectF centred(QPointF centre, double width, double height) {
    return QRectF(centre.x() - width / 2, centre.y() - height / 2, width, height);
}

} // namespace

CuePadGeometry cuePadGeometry(double width, double charge) {
    const double c = std::isfinite(charge) ? std::clamp(charge, 0.0, 1.0) : 0.0;
    const double h = CuePadGeometry::height;
    const double bx = 0.69 * width;
    const double pull = CuePadGeometry::cueTravel * c;

    CuePadGeometry g;
    g.bounds = QRectF(0, 0, width, h);
    g.rail = g.bounds.adjusted(CuePadGeometry::railInset, CuePadGeometry::railInset,
                               -CuePadGeometry::railInset, -CuePadGeometry::railInset);
    const double edge = CuePadGeometry::sightDiameter;
    for (const double y : {edge, h - edge}) {
        for (const double v : {0.0, 0.5, 1.0}) {
            g.sights.append(QPointF(edge + v * (width - 2 * edge), y));
        }
    }
    g.aimLine = QLineF(bx + aimStartOffset, tableLine, width - aimEndInset, tableLine);
    const double cueX = bx - cueRestOffset - pull;
    g.cueShadow = centred(QPointF(cueX, shadowLine), cueLength, cueShadowThickness);
    g.cue = centred(QPointF(cueX, tableLine), cueLength, cueThickness);
    g.tip = centred(QPointF(bx - tipRestOffset - pull, tableLine), tipSize, tipSize);
    g.ballCenter = QPointF(bx, tableLine);
    g.hintCenter = QPointF(width / 2, hintLine);
    return g;
}

QString cuePadHint(bool cueDragging, bool controlledPaused) {
    if (!cueDragging) {
        return QStringLiteral("\u2190  Premi e tira la stecca a sinistra");
    }
    return controlledPaused ? QStringLiteral("Tensione in pausa \u00b7 muovi per riprendere")
                            : QStringLiteral("Tira a sinistra \u00b7 rilascia per tirare");
}

} // namespace vibrelle::ui
