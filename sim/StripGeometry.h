#pragma once

#include "PlayTrack.h"

#include <QList>
#include <QPointF>
#include <QSizeF>

#include <utility>

namespace vibrelle::sim {

// What the window's strip draws: the last five seconds of the simulated trackpad, now at the
// right edge, in a box of a given size (origin top-left, y downward).
struct StripGeometry {
    static constexpr double spanMs = 5000;
    static constexpr double markBand = 12; // request marks sit in a band along the top

    struct Mark {
        double x;
        bool failed; // answered with 400 or more, or not at all
    };

    double baseline = 0;
    double top = 0; // where a pulse of intensity 1 reaches
    // The resonance trace: the baseline with one bump per beat, as high as the beat's intensity,
    // with edges that steepen with its sharpness (or fineness).
    QList<QPointF> trace;
    // One outline per impulse, in its style's shape, as high as its intensity.
    QList<QList<QPointF>> impulses;
    QList<std::pair<double, double>> pauses; // x ranges where a resonance was paused
    QList<Mark> marks;

    static StripGeometry of(PlayTrack &track, double nowMs, const QSizeF &size);
    // The outline of an impulse starting at x, in pixels per millisecond.
    static QList<QPointF> impulseOutline(const Pulse &pulse, double x, double pxPerMs, double baseline,
                                         double height);
};

} // namespace vibrelle::sim
