#pragma once

#include <QList>
#include <QPainterPath>
#include <QPointF>
#include <QSizeF>

namespace vibrelle::ui {

// The small waveform on each impulse card: a main pulse at 43 % of the width and, for
// crisp impulses, a rebound dip at 57 %. Softness 0 is the crispest pulse, 1 the softest.
inline constexpr int impulseTracePointCount = 81;

// The 81 sample points of the trace in a box of `size` (origin top-left, y downward).
QList<QPointF> impulseTracePoints(double softness, const QSizeF &size);

// The open trace path: it starts on the baseline at (0, 0.8 h) and runs straight through
// the 81 sample points. The path lives in the box's own coordinates; translate the
// painter to place it.
QPainterPath impulseTracePath(double softness, const QSizeF &size);

} // namespace vibrelle::ui
