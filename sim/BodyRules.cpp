#include "BodyRules.h"

#include <QJsonDocument>
#include <QJsonParseError>

#include <cmath>

namespace vibrelle::sim {

std::optional<NumberRule> numberRule(const QString &key) {
    if (key == QLatin1String("intensity") || key == QLatin1String("fineness") ||
        key == QLatin1String("reactivity") || key == QLatin1String("sharpness"))
        return NumberRule{0, 1, false};
    if (key == QLatin1String("pulseRateHz"))
        return NumberRule{limits::minPulseRateHz, limits::maxPulseRateHz, false};
    if (key == QLatin1String("durationMs"))
        return NumberRule{1, limits::maxDurationMs, true};
    if (key == QLatin1String("transitionMs"))
        return NumberRule{0, limits::maxTransitionMs, false};
    if (key == QLatin1String("delayMs"))
        return NumberRule{0, limits::maxDelayMs, true};
    return std::nullopt;
}

std::optional<QJsonObject> parseObjectBody(const QByteArray &body, bool emptyIsObject, QString *error) {
    if (body.trimmed().isEmpty()) {
        if (emptyIsObject)
            return QJsonObject{};
        *error = QStringLiteral("body: a JSON object is required");
        return std::nullopt;
    }
    QJsonParseError parseError{};
    const QJsonDocument document = QJsonDocument::fromJson(body, &parseError);
    if (parseError.error != QJsonParseError::NoError) {
        *error = QStringLiteral("body: not valid JSON (%1 at offset %2)")
                     .arg(parseError.errorString())
                     .arg(parseError.offset);
        return std::nullopt;
    }
    if (!document.isObject()) {
        *error = QStringLiteral("body: must be a JSON object");
        return std::nullopt;
    }
    return document.object();
}

QString describeRule(const NumberRule &rule) {
    return QStringLiteral("must be a %1 from %2 to %3")
        .arg(rule.whole ? QStringLiteral("whole number") : QStringLiteral("number"),
             QString::number(rule.min), QString::number(rule.max));
}

QString checkNumber(const QString &field, const QJsonValue &value, const NumberRule &rule) {
    if (!value.isDouble())
        return field + QStringLiteral(": ") + describeRule(rule);
    const double number = value.toDouble();
    const bool inRange = std::isfinite(number) && number >= rule.min && number <= rule.max;
    const bool wholeEnough = !rule.whole || std::floor(number) == number;
    if (!inRange || !wholeEnough)
        return field + QStringLiteral(": ") + describeRule(rule) + QStringLiteral(", got ") +
               QString::number(number);
    return {};
}

QString checkMembers(const QJsonObject &object, const QStringList &required, const QStringList &optional,
                     const QString &prefix, const QString &context) {
    for (auto it = object.begin(); it != object.end(); ++it) {
        if (!required.contains(it.key()) && !optional.contains(it.key())) {
            const QStringList accepted = required + optional;
            QString message = prefix + it.key();
            message += context.isEmpty() ? QStringLiteral(": unknown member")
                                         : QStringLiteral(": not accepted by ") + context;
            message += accepted.isEmpty() ? QStringLiteral(" (this command takes an empty object)")
                                          : QStringLiteral(" (accepted: %1)").arg(accepted.join(u", "));
            return message;
        }
    }
    for (const QString &key : required) {
        if (!object.contains(key))
            return prefix + key + QStringLiteral(": missing");
    }
    return {};
}

QString checkNumbers(const QJsonObject &object, const QString &prefix) {
    for (auto it = object.begin(); it != object.end(); ++it) {
        if (const auto rule = numberRule(it.key())) {
            QString error = checkNumber(prefix + it.key(), it.value(), *rule);
            if (!error.isEmpty())
                return error;
        }
    }
    return {};
}

} // namespace vibrelle::sim
