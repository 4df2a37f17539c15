#include "HapticEngine.h"

#include "BodyRules.h"
#include "Timeline.h"

#include <QJsonArray>

#include <cmath>

namespace vibrelle::sim {

namespace {

const QStringList styles = {QStringLiteral("crisp"), QStringLiteral("natural"), QStringLiteral("soft")};

QString checkStyle(const QString &field, const QJsonValue &value) {
    if (value.isString() && styles.contains(value.toString()))
        return {};
    return field + QStringLiteral(": must be one of \"crisp\", \"natural\", \"soft\"");
}

QString checkEmpty(const QJsonObject &body) {
    return checkMembers(body, {}, {});
}

} // namespace

ApiResult ApiResult::ok(QJsonObject body) {
    body.insert(QStringLiteral("ok"), true);
    return {200, body};
}

ApiResult ApiResult::failure(int status, const QString &message) {
    return {status, QJsonObject{{QStringLiteral("ok"), false}, {QStringLiteral("error"), message}}};
}

HapticEngine::HapticEngine(Timeline *timeline, int leaseMs, QObject *parent)
    : QObject(parent)
    , m_timeline(timeline)
    , m_leaseMs(leaseMs) {
    for (QTimer *timer : {&m_deadlineTimer, &m_leaseTimer, &m_transientTimer}) {
        timer->setSingleShot(true);
        timer->setTimerType(Qt::PreciseTimer);
    }
    connect(&m_deadlineTimer, &QTimer::timeout, this, [this] {
        settle();
        armResonanceTimers();
    });
    connect(&m_leaseTimer, &QTimer::timeout, this, [this] {
        settle();
        armResonanceTimers();
    });
    connect(&m_transientTimer, &QTimer::timeout, this, [this] {
        settle();
        if (m_transient)
            m_transientTimer.start(int(std::ceil(qMax(0.0, m_transient->untilMs - m_timeline->nowMs()))));
    });
}

QString HapticEngine::modeName(Mode mode) {
    switch (mode) {
    case Mode::Timed:
        return QStringLiteral("timed");
    case Mode::Gesture:
        return QStringLiteral("gesture");
    case Mode::Controlled:
        return QStringLiteral("controlled");
    }
    return {};
}

std::optional<HapticEngine::Mode> HapticEngine::modeFromName(const QString &name) {
    for (Mode mode : {Mode::Timed, Mode::Gesture, Mode::Controlled}) {
        if (modeName(mode) == name)
            return mode;
    }
    return std::nullopt;
}

QStringList HapticEngine::updateKeys(Mode mode) {
    switch (mode) {
    case Mode::Timed:
        return {QStringLiteral("intensity"), QStringLiteral("fineness"), QStringLiteral("durationMs")};
    case Mode::Gesture:
        return {QStringLiteral("intensity"), QStringLiteral("fineness"), QStringLiteral("reactivity")};
    case Mode::Controlled:
        return {QStringLiteral("intensity"), QStringLiteral("pulseRateHz"), QStringLiteral("sharpness"),
                QStringLiteral("transitionMs")};
    }
    return {};
}

void HapticEngine::record(const QString &event, QJsonObject fields, const Client &client) {
    fields.insert(QStringLiteral("client"), client.name);
    fields.insert(QStringLiteral("clientId"), client.id);
    m_timeline->record(event, fields);
}

void HapticEngine::settle() {
    const double now = m_timeline->nowMs();
    if (m_resonance) {
        if (m_resonance->mode == Mode::Timed) {
            if (now >= m_resonance->startedMs + m_resonance->durationMs)
                endResonance(QStringLiteral("duration elapsed"), m_resonance->owner, true);
        } else if (now - m_resonance->renewedMs >= m_leaseMs) {
            endResonance(QStringLiteral("lease expired"), m_resonance->owner, true);
        }
    }
    if (m_transient && now >= m_transient->untilMs)
        endTransient(QStringLiteral("finished"), m_transient->owner);
}

void HapticEngine::armResonanceTimers() {
    m_deadlineTimer.stop();
    m_leaseTimer.stop();
    if (!m_resonance)
        return;
    const double now = m_timeline->nowMs();
    if (m_resonance->mode == Mode::Timed) {
        m_deadlineTimer.start(
            int(std::ceil(qMax(0.0, m_resonance->startedMs + m_resonance->durationMs - now))));
    } else {
        m_leaseTimer.start(int(std::ceil(qMax(0.0, m_resonance->renewedMs + m_leaseMs - now))));
    }
}

void HapticEngine::renewLease() {
    if (!m_resonance || m_resonance->mode == Mode::Timed)
        return;
    m_resonance->renewedMs = m_timeline->nowMs();
    armResonanceTimers();
    m_timeline->note(QStringLiteral("lease"), {{QStringLiteral("effect"), modeName(m_resonance->mode)}});
}

double HapticEngine::remainingMs() const {
    if (!m_resonance || m_resonance->mode != Mode::Timed)
        return 0;
    return qMax(0.0, m_resonance->startedMs + m_resonance->durationMs - m_timeline->nowMs());
}

void HapticEngine::endResonance(const QString &reason, const Client &by, bool endedOnItsOwn) {
    if (!m_resonance)
        return;
    const Resonance ended = *m_resonance;
    m_resonance.reset();
    m_deadlineTimer.stop();
    m_leaseTimer.stop();
    if (endedOnItsOwn) {
        m_endedOnItsOwn = ended.mode;
        m_lastEnd = QStringLiteral("the %1 resonance ended (%2)").arg(modeName(ended.mode), reason);
    } else {
        m_endedOnItsOwn.reset();
        m_lastEnd.clear();
    }
    const double ranMs = m_timeline->nowMs() - ended.startedMs;
    record(QStringLiteral("end"),
           {{QStringLiteral("effect"), modeName(ended.mode)},
            {QStringLiteral("reason"), reason},
            {QStringLiteral("ranMs"), std::round(ranMs * 1000) / 1000}},
           by);
}

void HapticEngine::endTransient(const QString &reason, const Client &by) {
    if (!m_transient)
        return;
    const Transient ended = *m_transient;
    m_transient.reset();
    m_transientTimer.stop();
    record(QStringLiteral("end"),
           {{QStringLiteral("effect"), ended.kind}, {QStringLiteral("reason"), reason}}, by);
}

void HapticEngine::startTransient(const QString &kind, double playMs, const QJsonObject &params,
                                  const Client &client) {
    settle();
    endTransient(QStringLiteral("replaced"), client);
    m_transient = Transient{kind, m_timeline->nowMs() + playMs, client};
    m_transientTimer.start(int(std::ceil(playMs)));
    record(QStringLiteral("start"), {{QStringLiteral("effect"), kind}, {QStringLiteral("params"), params}},
           client);
}

QJsonObject HapticEngine::effectReply() const {
    QJsonObject reply;
    if (!m_resonance) {
        reply.insert(QStringLiteral("activeEffect"), QStringLiteral("none"));
        return reply;
    }
    reply.insert(QStringLiteral("activeEffect"), modeName(m_resonance->mode));
    switch (m_resonance->mode) {
    case Mode::Timed:
        reply.insert(QStringLiteral("remainingDurationMs"), qint64(std::llround(remainingMs())));
        break;
    case Mode::Controlled:
        reply.insert(QStringLiteral("paused"), m_resonance->paused);
        reply.insert(QStringLiteral("leaseMs"), m_leaseMs);
        break;
    case Mode::Gesture:
        reply.insert(QStringLiteral("leaseMs"), m_leaseMs);
        break;
    }
    return reply;
}

QString HapticEngine::nothingRunningMessage() const {
    if (!m_lastEnd.isEmpty())
        return QStringLiteral("no effect is running: ") + m_lastEnd;
    return QStringLiteral("no effect is running");
}

QString HapticEngine::state() {
    settle();
    if (m_resonance)
        return m_resonance->paused ? QStringLiteral("paused") : modeName(m_resonance->mode);
    if (m_transient)
        return m_transient->kind;
    return QStringLiteral("idle");
}

QJsonObject HapticEngine::playing() {
    settle();
    QJsonArray effects;
    QJsonObject lease{{QStringLiteral("alive"), false}, {QStringLiteral("msLeft"), 0}};
    if (m_resonance) {
        effects.append(QJsonObject{
            {QStringLiteral("effect"), modeName(m_resonance->mode)},
            {QStringLiteral("state"), m_resonance->paused ? QStringLiteral("paused") : QStringLiteral("running")}});
        if (m_resonance->mode != Mode::Timed) {
            // settle() has ended an expired lease, so a live one has at least 1 ms left.
            const double left = m_resonance->renewedMs + m_leaseMs - m_timeline->nowMs();
            lease = {{QStringLiteral("alive"), true}, {QStringLiteral("msLeft"), qint64(std::ceil(left))}};
        }
    }
    if (m_transient)
        effects.append(QJsonObject{{QStringLiteral("effect"), m_transient->kind},
                                   {QStringLiteral("state"), QStringLiteral("running")}});
    return {{QStringLiteral("playing"), effects}, {QStringLiteral("lease"), lease}};
}

ApiResult HapticEngine::status() {
    QJsonObject body{
        {QStringLiteral("mode"), QStringLiteral("simulated")},
        {QStringLiteral("authentication"), QStringLiteral("none")},
        {QStringLiteral("state"), state()},
        {QStringLiteral("available"), true},
        {QStringLiteral("outputAvailable"), true},
        {QStringLiteral("gestureAvailable"), true},
        {QStringLiteral("hapticEnabled"), true},
        {QStringLiteral("hapticAvailable"), true},
        {QStringLiteral("materialAudioEnabled"), false},
    };
    body.insert(QStringLiteral("activeEffect"),
                m_resonance ? modeName(m_resonance->mode) : QStringLiteral("none"));
    if (m_resonance)
        body.insert(QStringLiteral("parameters"), m_resonance->params);
    return ApiResult::ok(body);
}

ApiResult HapticEngine::impulse(const QJsonObject &body, const Client &client) {
    QString error = checkMembers(body, {QStringLiteral("intensity"), QStringLiteral("style")}, {});
    if (error.isEmpty())
        error = checkNumbers(body);
    if (error.isEmpty())
        error = checkStyle(QStringLiteral("style"), body.value(QLatin1String("style")));
    if (!error.isEmpty())
        return ApiResult::failure(400, error);

    startTransient(QStringLiteral("impulse"), impulsePlayMs, body, client);
    return ApiResult::ok({{QStringLiteral("emitted"), true}});
}

ApiResult HapticEngine::sequence(const QJsonObject &body, const Client &client) {
    QString error = checkMembers(body, {QStringLiteral("steps")}, {});
    if (!error.isEmpty())
        return ApiResult::failure(400, error);
    const QJsonValue stepsValue = body.value(QLatin1String("steps"));
    const QJsonArray steps = stepsValue.toArray();
    if (!stepsValue.isArray() || steps.isEmpty() || steps.size() > limits::maxSequenceSteps)
        return ApiResult::failure(
            400, QStringLiteral("steps: must be an array of 1 to %1 steps").arg(limits::maxSequenceSteps));

    double totalDelayMs = 0;
    for (qsizetype i = 0; i < steps.size(); ++i) {
        const QString prefix = QStringLiteral("steps[%1]").arg(i);
        if (!steps.at(i).isObject())
            return ApiResult::failure(400, prefix + QStringLiteral(": must be an object"));
        const QJsonObject step = steps.at(i).toObject();
        error = checkMembers(
            step, {QStringLiteral("delayMs"), QStringLiteral("intensity"), QStringLiteral("style")}, {},
            prefix + u'.');
        if (error.isEmpty())
            error = checkNumbers(step, prefix + u'.');
        if (error.isEmpty())
            error = checkStyle(prefix + QStringLiteral(".style"), step.value(QLatin1String("style")));
        if (!error.isEmpty())
            return ApiResult::failure(400, error);
        totalDelayMs += step.value(QLatin1String("delayMs")).toDouble();
    }

    startTransient(QStringLiteral("sequence"), totalDelayMs + impulsePlayMs,
                   {{QStringLiteral("steps"), steps.size()}, {QStringLiteral("durationMs"), totalDelayMs}},
                   client);
    m_timeline->note(QStringLiteral("sequence"), {{QStringLiteral("steps"), steps}});
    return ApiResult::ok({{QStringLiteral("emitted"), true}});
}

ApiResult HapticEngine::resonance(const QJsonObject &body, const Client &client) {
    const QJsonValue modeValue = body.value(QLatin1String("mode"));
    if (modeValue.isUndefined())
        return ApiResult::failure(400, QStringLiteral("mode: missing"));
    const std::optional<Mode> mode = modeFromName(modeValue.toString());
    if (!modeValue.isString() || !mode)
        return ApiResult::failure(
            400, QStringLiteral("mode: must be one of \"timed\", \"gesture\", \"controlled\""));

    QStringList required;
    switch (*mode) {
    case Mode::Timed:
        required = {QStringLiteral("durationMs"), QStringLiteral("fineness"), QStringLiteral("intensity")};
        break;
    case Mode::Gesture:
        required = {QStringLiteral("fineness"), QStringLiteral("intensity"), QStringLiteral("reactivity")};
        break;
    case Mode::Controlled:
        required = {QStringLiteral("intensity"), QStringLiteral("pulseRateHz"), QStringLiteral("sharpness"),
                    QStringLiteral("transitionMs")};
        break;
    }
    QString error = checkMembers(body, required + QStringList{QStringLiteral("mode")}, {}, {},
                                 QStringLiteral("a %1 resonance").arg(modeName(*mode)));
    if (error.isEmpty())
        error = checkNumbers(body);
    if (!error.isEmpty())
        return ApiResult::failure(400, error);

    settle();
    QJsonObject fields{{QStringLiteral("effect"), modeName(*mode)}};
    if (m_resonance) {
        fields.insert(QStringLiteral("replaced"), modeName(m_resonance->mode));
        endResonance(QStringLiteral("replaced"), client, false);
    }
    m_endedOnItsOwn.reset();
    m_lastEnd.clear();

    Resonance started;
    started.mode = *mode;
    started.params = body;
    started.params.remove(QStringLiteral("mode"));
    started.startedMs = m_timeline->nowMs();
    started.renewedMs = started.startedMs;
    started.owner = client;
    if (*mode == Mode::Timed)
        started.durationMs = body.value(QLatin1String("durationMs")).toDouble();
    m_resonance = started;
    armResonanceTimers();

    fields.insert(QStringLiteral("params"), started.params);
    record(QStringLiteral("start"), fields, client);
    return ApiResult::ok(effectReply());
}

ApiResult HapticEngine::update(const QJsonObject &body, const Client &client) {
    settle();
    std::optional<Mode> mode;
    if (m_resonance)
        mode = m_resonance->mode;
    else if (m_endedOnItsOwn)
        mode = m_endedOnItsOwn;
    else
        return ApiResult::failure(409, nothingRunningMessage());

    const QStringList keys = updateKeys(*mode);
    if (body.isEmpty())
        return ApiResult::failure(400,
                                  QStringLiteral("body: no parameter to update (a %1 resonance accepts: %2)")
                                      .arg(modeName(*mode), keys.join(u", ")));
    QString error = checkMembers(body, {}, keys, {}, QStringLiteral("a %1 resonance").arg(modeName(*mode)));
    if (error.isEmpty())
        error = checkNumbers(body);
    if (!error.isEmpty())
        return ApiResult::failure(400, error);

    if (!m_resonance) {
        // The effect ended by itself (deadline or lease) before this update arrived: say so.
        QJsonObject reply{{QStringLiteral("activeEffect"), QStringLiteral("none")}};
        if (*mode == Mode::Timed)
            reply.insert(QStringLiteral("remainingDurationMs"), 0);
        return ApiResult::ok(reply);
    }

    for (auto it = body.begin(); it != body.end(); ++it)
        m_resonance->params.insert(it.key(), it.value());
    record(QStringLiteral("update"),
           {{QStringLiteral("effect"), modeName(*mode)}, {QStringLiteral("changed"), body}}, client);

    if (*mode == Mode::Timed) {
        if (body.contains(QLatin1String("durationMs"))) {
            // The new duration counts from the start of the effect.
            m_resonance->durationMs = body.value(QLatin1String("durationMs")).toDouble();
            if (m_timeline->nowMs() >= m_resonance->startedMs + m_resonance->durationMs) {
                endResonance(QStringLiteral("duration elapsed"), client, true);
                return ApiResult::ok({{QStringLiteral("activeEffect"), QStringLiteral("none")},
                                      {QStringLiteral("remainingDurationMs"), 0}});
            }
            armResonanceTimers();
        }
    } else {
        renewLease();
    }
    return ApiResult::ok(effectReply());
}

ApiResult HapticEngine::pause(const QJsonObject &body, const Client &client) {
    return setPaused(true, body, client);
}

ApiResult HapticEngine::resume(const QJsonObject &body, const Client &client) {
    return setPaused(false, body, client);
}

ApiResult HapticEngine::setPaused(bool paused, const QJsonObject &body, const Client &client) {
    if (const QString error = checkEmpty(body); !error.isEmpty())
        return ApiResult::failure(400, error);
    settle();
    if (!m_resonance)
        return ApiResult::failure(409, nothingRunningMessage());
    const QString verb = paused ? QStringLiteral("paused") : QStringLiteral("resumed");
    if (m_resonance->mode != Mode::Controlled)
        return ApiResult::failure(409, QStringLiteral("only a controlled resonance can be %1; a %2 resonance "
                                                      "is running")
                                           .arg(verb, modeName(m_resonance->mode)));
    renewLease();
    if (m_resonance->paused != paused) {
        m_resonance->paused = paused;
        record(paused ? QStringLiteral("pause") : QStringLiteral("resume"),
               {{QStringLiteral("effect"), QStringLiteral("controlled")}}, client);
    }
    return ApiResult::ok(effectReply());
}

ApiResult HapticEngine::heartbeat(const QJsonObject &body, const Client &) {
    if (const QString error = checkEmpty(body); !error.isEmpty())
        return ApiResult::failure(400, error);
    settle();
    if (!m_resonance)
        return ApiResult::failure(409, nothingRunningMessage());
    renewLease(); // a timed resonance has no lease; its deadline stays
    return ApiResult::ok(effectReply());
}

ApiResult HapticEngine::stop(const QJsonObject &body, const Client &client) {
    if (const QString error = checkEmpty(body); !error.isEmpty())
        return ApiResult::failure(400, error);
    settle();
    QJsonArray stopped;
    if (m_resonance) {
        stopped.append(modeName(m_resonance->mode));
        endResonance(QStringLiteral("stop"), client, false);
    }
    if (m_transient) {
        stopped.append(m_transient->kind);
        endTransient(QStringLiteral("stop"), client);
    }
    m_endedOnItsOwn.reset();
    m_lastEnd.clear();
    return ApiResult::ok(
        {{QStringLiteral("activeEffect"), QStringLiteral("none")}, {QStringLiteral("stopped"), stopped}});
}

void HapticEngine::endAll(const QString &reason) {
    settle();
    if (m_resonance)
        endResonance(reason, m_resonance->owner, false);
    if (m_transient)
        endTransient(reason, m_transient->owner);
}

} // namespace vibrelle::sim
