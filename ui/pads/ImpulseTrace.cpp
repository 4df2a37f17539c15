#include "ui/pads/ImpulseTrace.h"

#include <cmath>

namespace vibrelle::ui {
namespace {

double baseline(const QSizeF &size) {
    return 0.8 * size.height();
}

} // namespace

QList<QPointF> impulseTracePoints(double softness, const QSizeF &size) {
    const double width = size.width();
    const double height = size.height();
    const double b = baseline(size);
    const double sigma = 0.045 + 0.14 * softness;
    const double rebound = (1.0 - softness) * 0.2;

    QList<QPointF> points;
    points.reserve(impulseTracePointCount);
    for (int i = 0; i < impulseTracePointCount; ++i) {
        const double t = double(i) / (impulseTracePointCount - 1);
        const double pulse = std::exp(-std::pow((t - 0.43) / sigma, 2));
        const double dip = std::exp(-std::pow((t - 0.57) / 0.055, 2));
        points.append(QPointF(width * t, b - 0.7 * height * (pulse - rebound * dip)));
    }
    return points;
}

QPainterPath impulseTracePath(double softness, const QSizeF &size) {
    QPainterPath path(QPointF(0, baseline(size)));
    for (const QPointF &point : impulseTracePoints(softness, size)) {
        path.lineTo(point);
    }
    return path;
}

} // namespace vibrelle::ui
