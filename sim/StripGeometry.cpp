#include "StripGeometry.h"

#include <cmath>

namespace vibrelle::sim {

namespace {

constexpr int outlinePoints = 25;

// Width of an impulse's main lobe (ms of strip time) and the depth of its rebound.
struct ImpulseShape {
    double sigmaMs;
    double rebound;
};

ImpulseShape shapeOf(PulseKind kind) {
    switch (kind) {
    case PulseKind::Crisp:
        return {6, 0.35};
    case PulseKind::Natural:
        return {16, 0.0};
    case PulseKind::Soft:
    case PulseKind::Beat:
        break;
    }
    return {40, 0.0};
}

} // namespace

QList<QPointF> StripGeometry::impulseOutline(const Pulse &pulse, double x, double pxPerMs, double baseline,
                                             double height) {
    const ImpulseShape shape = shapeOf(pulse.kind);
    const double spanMs = 6 * shape.sigmaMs;
    const double h = height * qBound(0.0, pulse.intensity, 1.0);
    QList<QPointF> points{{x, baseline}};
    for (int i = 0; i < outlinePoints; ++i) {
        const double u = spanMs * i / (outlinePoints - 1) / shape.sigmaMs; // in sigmas
        const double lobe = std::exp(-std::pow(u - 2.0, 2));
        const double dip = std::exp(-std::pow((u - 3.6) / 0.6, 2));
        points.append({x + u * shape.sigmaMs * pxPerMs, baseline - h * (lobe - shape.rebound * dip)});
    }
    points.append({x + spanMs * pxPerMs, baseline});
    return points;
}

StripGeometry StripGeometry::of(PlayTrack &track, double nowMs, const QSizeF &size) {
    StripGeometry g;
    const double width = size.width();
    const double pxPerMs = width / spanMs;
    const double fromMs = nowMs - spanMs;
    const auto xAt = [&](double tMs) { return width - (nowMs - tMs) * pxPerMs; };
    g.top = markBand + 4;
    g.baseline = size.height() - 8;
    const double height = g.baseline - g.top;

    // Impulses and beats that started up to a quarter second before the left edge still show.
    g.trace.append({xAt(fromMs - 250), g.baseline});
    for (const Pulse &pulse : track.pulses(fromMs - 250, nowMs)) {
        const double x = xAt(pulse.tMs);
        if (pulse.kind != PulseKind::Beat) {
            g.impulses.append(impulseOutline(pulse, x, pxPerMs, g.baseline, height));
            continue;
        }
        const double w = 0.6 * pulse.periodMs * pxPerMs;
        const double edge = 0.5 * w * (1 - qBound(0.0, pulse.character, 1.0));
        const double y = g.baseline - height * qBound(0.0, pulse.intensity, 1.0);
        g.trace.append({{x, g.baseline}, {x + edge, y}, {x + w - edge, y}, {x + w, g.baseline}});
    }
    g.trace.append({width, g.baseline});

    for (const auto &[from, to] : track.pauses(fromMs, nowMs))
        g.pauses.append({qMax(0.0, xAt(from)), qMin(width, xAt(to))});
    for (const RequestMark &mark : track.marks(fromMs, nowMs))
        g.marks.append({xAt(mark.tMs), mark.status == 0 || mark.status >= 400});
    return g;
}

} // namespace vibrelle::sim
