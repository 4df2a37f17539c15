#include "PlayTrack.h"

#include <QJsonArray>

#include <algorithm>

namespace vibrelle::sim {

namespace {

constexpr double epsilonMs = 1e-6;

const QString timed = QStringLiteral("timed");
const QString gesture = QStringLiteral("gesture");
const QString controlled = QStringLiteral("controlled");

bool isResonance(const QString &effect) {
    return effect == timed || effect == gesture || effect == controlled;
}

PulseKind styleKind(const QString &style) {
    if (style == QLatin1String("crisp"))
        return PulseKind::Crisp;
    if (style == QLatin1String("soft"))
        return PulseKind::Soft;
    return PulseKind::Natural;
}

} // namespace

ResonanceParams ResonanceParams::with(const QJsonObject &values) const {
    ResonanceParams p = *this;
    const auto take = [&values](const char *key, double &field) {
        const QJsonValue value = values.value(QLatin1String(key));
        if (value.isDouble())
            field = value.toDouble();
    };
    take("intensity", p.intensity);
    take("pulseRateHz", p.pulseRateHz);
    take("sharpness", p.sharpness);
    take("transitionMs", p.transitionMs);
    take("fineness", p.fineness);
    take("reactivity", p.reactivity);
    take("durationMs", p.durationMs);
    return p;
}

ResonanceParams ResonanceParams::mix(const ResonanceParams &a, const ResonanceParams &b, double f) {
    const auto lerp = [f](double x, double y) { return x + (y - x) * f; };
    return {lerp(a.intensity, b.intensity),
            lerp(a.pulseRateHz, b.pulseRateHz),
            lerp(a.sharpness, b.sharpness),
            lerp(a.transitionMs, b.transitionMs),
            lerp(a.fineness, b.fineness),
            lerp(a.reactivity, b.reactivity),
            b.durationMs};
}

ResonanceParams PlayTrack::Resonance::paramsAt(double tMs) const {
    auto it = std::find_if(changes.rbegin(), changes.rend(),
                           [tMs](const Change &c) { return c.tMs <= tMs + epsilonMs; });
    const Change &c = it == changes.rend() ? changes.first() : *it;
    if (c.rampMs <= 0 || tMs >= c.tMs + c.rampMs)
        return c.to;
    return ResonanceParams::mix(c.from, c.to, qMax(0.0, tMs - c.tMs) / c.rampMs);
}

PlayTrack::PlayTrack(int leaseMs)
    : m_leaseMs(leaseMs) {}

PlayTrack::Resonance *PlayTrack::current() {
    if (m_runs.empty() || m_runs.back().endMs != inf)
        return nullptr;
    return &m_runs.back();
}

const PlayTrack::Resonance *PlayTrack::resonance() const {
    return const_cast<PlayTrack *>(this)->current();
}

void PlayTrack::apply(double tMs, const QString &event, const QJsonObject &fields) {
    const QString effect = fields.value(QLatin1String("effect")).toString();
    const QString client = fields.value(QLatin1String("client")).toString();
    Resonance *run = current();
    if (event != QLatin1String("lease") && event != QLatin1String("faults"))
        m_lastActivityMs = tMs;

    if (event == QLatin1String("start") && isResonance(effect)) {
        if (run)
            run->endMs = tMs;
        Resonance started;
        started.mode = effect;
        started.client = client;
        started.startMs = tMs;
        const ResonanceParams params =
            ResonanceParams().with(fields.value(QLatin1String("params")).toObject());
        started.changes.append({tMs, params, params, 0});
        started.nextMs = started.anchorMs = tMs;
        m_runs.push_back(started);
        m_renewedMs = tMs;
        m_leaseExpired = false;
    } else if (event == QLatin1String("start")) {
        m_leaseExpired = false;
        const QJsonObject params = fields.value(QLatin1String("params")).toObject();
        m_transient = Transient{effect, client, params};
        if (effect == QLatin1String("impulse")) {
            m_impulses.push_back({tMs, styleKind(params.value(QLatin1String("style")).toString()),
                                  params.value(QLatin1String("intensity")).toDouble(), 0, 0});
        }
    } else if (event == QLatin1String("sequence")) {
        double atMs = tMs;
        for (const QJsonValue &value : fields.value(QLatin1String("steps")).toArray()) {
            const QJsonObject step = value.toObject();
            atMs += step.value(QLatin1String("delayMs")).toDouble();
            const Pulse pulse{atMs, styleKind(step.value(QLatin1String("style")).toString()),
                              step.value(QLatin1String("intensity")).toDouble(), 0, 0};
            m_impulses.insert(std::upper_bound(m_impulses.begin(), m_impulses.end(), pulse,
                                               [](const Pulse &a, const Pulse &b) { return a.tMs < b.tMs; }),
                              pulse);
        }
    } else if (event == QLatin1String("update") && run) {
        const ResonanceParams to = run->target().with(fields.value(QLatin1String("changed")).toObject());
        run->changes.append({tMs, run->paramsAt(tMs), to, run->mode == controlled ? to.transitionMs : 0});
    } else if (event == QLatin1String("pause") && run && !run->paused()) {
        run->pauses.append({tMs, inf});
    } else if (event == QLatin1String("resume") && run && run->paused()) {
        run->pauses.last().second = tMs;
    } else if (event == QLatin1String("lease")) {
        m_renewedMs = tMs;
    } else if (event == QLatin1String("end") && isResonance(effect) && run) {
        run->endMs = tMs;
        run->endReason = fields.value(QLatin1String("reason")).toString();
        if (run->paused())
            run->pauses.last().second = tMs;
        m_leaseExpired = run->endReason == QLatin1String("lease expired");
    } else if (event == QLatin1String("end")) {
        m_transient.reset();
        // Steps of a sequence that was stopped or replaced never play.
        while (!m_impulses.empty() && m_impulses.back().tMs > tMs)
            m_impulses.pop_back();
    } else if (event == QLatin1String("request")) {
        m_marks.push_back({tMs, fields.value(QLatin1String("path")).toString(),
                           fields.value(QLatin1String("status")).toInt()});
        forgetBefore(tMs - keptMs);
    }
}

void PlayTrack::layOut(Resonance &run, double toMs) {
    while (run.nextMs < toMs) {
        if (run.nextMs >= run.endMs - epsilonMs)
            return;
        bool moved = false;
        for (const auto &[from, to] : std::as_const(run.pauses)) {
            if (run.nextMs >= from - epsilonMs && run.nextMs < to) {
                if (to == inf)
                    return; // paused: the beats go on at the resume
                run.nextMs = run.anchorMs = to;
                run.sinceAnchor = 0;
                moved = true;
            }
        }
        if (moved)
            continue;
        const ResonanceParams p = run.paramsAt(run.nextMs);
        const bool isControlled = run.mode == controlled;
        const double periodMs = 1000.0 / (isControlled ? qMax(1.0, p.pulseRateHz) : steadyCadenceHz);
        run.beats.append(
            {run.nextMs, PulseKind::Beat, p.intensity, isControlled ? p.sharpness : p.fineness, periodMs});
        if (periodMs != run.anchorPeriodMs) {
            run.anchorMs = run.nextMs;
            run.anchorPeriodMs = periodMs;
            run.sinceAnchor = 0;
        }
        // Counted from the anchor, so that a steady cadence does not drift by rounding.
        run.nextMs = run.anchorMs + double(++run.sinceAnchor) * periodMs;
    }
}

QList<Pulse> PlayTrack::pulses(double fromMs, double toMs) {
    QList<Pulse> result;
    for (Resonance &run : m_runs) {
        layOut(run, toMs);
        for (const Pulse &beat : std::as_const(run.beats)) {
            if (beat.tMs >= fromMs && beat.tMs < toMs)
                result.append(beat);
        }
    }
    for (const Pulse &impulse : m_impulses) {
        if (impulse.tMs >= fromMs && impulse.tMs < toMs)
            result.append(impulse);
    }
    std::stable_sort(result.begin(), result.end(),
                     [](const Pulse &a, const Pulse &b) { return a.tMs < b.tMs; });
    forgetBefore(toMs - keptMs);
    return result;
}

QList<std::pair<double, double>> PlayTrack::pauses(double fromMs, double toMs) const {
    QList<std::pair<double, double>> result;
    for (const Resonance &run : m_runs) {
        for (const auto &[from, to] : run.pauses) {
            if (from < toMs && to > fromMs)
                result.append({from, to});
        }
    }
    return result;
}

QList<RequestMark> PlayTrack::marks(double fromMs, double toMs) const {
    QList<RequestMark> result;
    for (const RequestMark &mark : m_marks) {
        if (mark.tMs >= fromMs && mark.tMs < toMs)
            result.append(mark);
    }
    return result;
}

void PlayTrack::forgetBefore(double tMs) {
    while (!m_runs.empty() && m_runs.front().endMs < tMs)
        m_runs.pop_front();
    for (Resonance &run : m_runs) {
        const auto firstKept = std::find_if(run.beats.begin(), run.beats.end(),
                                            [tMs](const Pulse &beat) { return beat.tMs >= tMs; });
        run.beats.erase(run.beats.begin(), firstKept);
        // Keep the last change before the cut: it holds the values from there on.
        while (run.changes.size() > 1 && run.changes.at(1).tMs + run.changes.at(1).rampMs < tMs)
            run.changes.removeFirst();
        while (!run.pauses.isEmpty() && run.pauses.first().second < tMs)
            run.pauses.removeFirst();
    }
    while (!m_impulses.empty() && m_impulses.front().tMs < tMs)
        m_impulses.pop_front();
    while (!m_marks.empty() && m_marks.front().tMs < tMs)
        m_marks.pop_front();
}

std::optional<double> PlayTrack::leaseLeft(double nowMs) const {
    const Resonance *run = resonance();
    if (!run || run->mode == timed)
        return std::nullopt;
    return qBound(0.0, 1.0 - (nowMs - m_renewedMs) / m_leaseMs, 1.0);
}

bool PlayTrack::beating(double nowMs) const {
    const Resonance *run = resonance();
    return (run && !run->paused()) || (!m_impulses.empty() && m_impulses.back().tMs >= nowMs);
}

double PlayTrack::lastActivityMs() const {
    if (resonance())
        return inf;
    double last = m_lastActivityMs;
    if (!m_impulses.empty())
        last = qMax(last, m_impulses.back().tMs);
    return last;
}

} // namespace vibrelle::sim
