#include "api/WireFormat.h"

#include "api/Rounding.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonValue>

#include <algorithm>
#include <cmath>
#include <limits>

namespace vibrelle {

QJsonObject impulseBody(const QString &style, double intensity)
{
    return QJsonObject{{QStringLiteral("intensity"), intensity}, {QStringLiteral("style"), style}};
}

QJsonObject timedBody(double durationMilliseconds, double fineness, double intensity)
{
    constexpr double exactIntegers = 9007199254740992.0; // 2^53
    const double whole = roundHalfAwayFromZero(durationMilliseconds);
    const QJsonValue durationMs = std::fabs(whole) < exactIntegers ? QJsonValue(static_cast<qint64>(whole))
                                                                   : QJsonValue(std::numeric_limits<double>::quiet_NaN());
    return QJsonObject{{QStringLiteral("durationMs"), durationMs},
                       {QStringLiteral("fineness"), fineness},
                       {QStringLiteral("intensity"), intensity},
                       {QStringLiteral("mode"), QStringLiteral("timed")}};
}

QJsonObject gestureBody(double fineness, double intensity, double reactivity)
{
    return QJsonObject{{QStringLiteral("fineness"), fineness},
                       {QStringLiteral("intensity"), intensity},
                       {QStringLiteral("mode"), QStringLiteral("gesture")},
                       {QStringLiteral("reactivity"), reactivity}};
}

QJsonObject controlledBody(double intensity, double pulseRateHz, double sharpness, double transitionMilliseconds)
{
    return QJsonObject{{QStringLiteral("intensity"), intensity},
                       {QStringLiteral("mode"), QStringLiteral("controlled")},
                       {QStringLiteral("pulseRateHz"), pulseRateHz},
                       {QStringLiteral("sharpness"), sharpness},
                       {QStringLiteral("transitionMs"), roundHalfAwayFromZero(transitionMilliseconds)}};
}

QJsonObject sequenceBody(double intensity)
{
    const QJsonObject first{{QStringLiteral("delayMs"), 0},
                            {QStringLiteral("intensity"), intensity},
                            {QStringLiteral("style"), QStringLiteral("crisp")}};
    const QJsonObject second{{QStringLiteral("delayMs"), 180},
                             {QStringLiteral("intensity"), intensity},
                             {QStringLiteral("style"), QStringLiteral("soft")}};
    return QJsonObject{{QStringLiteral("steps"), QJsonArray{first, second}}};
}

QJsonObject updateBody(const QMap<QString, double> &changes)
{
    QJsonObject body;
    for (auto it = changes.cbegin(); it != changes.cend(); ++it) {
        body.insert(it.key(), it.value());
    }
    return body;
}

QJsonObject emptyBody()
{
    return QJsonObject{};
}

namespace {

bool representable(const QJsonValue &value)
{
    if (value.isDouble()) {
        return std::isfinite(value.toDouble());
    }
    if (value.isArray()) {
        const QJsonArray array = value.toArray();
        return std::all_of(array.begin(), array.end(), [](const QJsonValue &v) { return representable(v); });
    }
    if (value.isObject()) {
        const QJsonObject object = value.toObject();
        return std::all_of(object.begin(), object.end(), [](const QJsonValue &v) { return representable(v); });
    }
    return true;
}

} // namespace

std::optional<QByteArray> encodeBody(const QJsonObject &body)
{
    if (!representable(body)) {
        return std::nullopt;
    }
    // QJsonObject keeps its keys sorted, and the compact writer keeps integers integral.
    return QJsonDocument(body).toJson(QJsonDocument::Compact);
}

} // namespace vibrelle
