#include "api/ServiceReply.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QLocale>
#include <QJsonParseError>
#include <QJsonValue>
#include <QStringList>

#include <cmath>

namespace vibrelle {

ServiceReply decodeReply(std::optional<int> statusCode, const QByteArray &body)
{
    ServiceReply reply;
    reply.statusCode = statusCode.value_or(0);

    if (!body.isEmpty()) {
        QJsonParseError error{};
        const QJsonDocument document = QJsonDocument::fromJson(body, &error);
        if (error.error == QJsonParseError::NoError && document.isObject()) {
            reply.object = document.object();
        }
    }

    const bool success = reply.statusCode >= 200 && reply.statusCode <= 299;
    if (reply.object) {
        const QJsonObject &object = *reply.object;
        const QJsonValue okValue = object.value(QStringLiteral("ok"));
        reply.ok = success && okValue.isBool() && okValue.toBool();

        const QJsonValue message = object.value(QStringLiteral("message"));
        const QJsonValue error = object.value(QStringLiteral("error"));
        if (message.isString()) {
            reply.message = message.toString();
        } else if (error.isString()) {
            reply.message = error.toString();
        }

        const QJsonValue emitted = object.value(QStringLiteral("emitted"));
        if (emitted.isBool()) {
            reply.emitted = emitted.toBool();
        }
        const QJsonValue paused = object.value(QStringLiteral("paused"));
        if (paused.isBool()) {
            reply.paused = paused.toBool();
        }
        const QJsonValue activeEffect = object.value(QStringLiteral("activeEffect"));
        if (activeEffect.isString()) {
            reply.activeEffect = activeEffect.toString();
        }
        const QJsonValue remaining = object.value(QStringLiteral("remainingDurationMs"));
        if (remaining.isDouble() && std::isfinite(remaining.toDouble())) {
            reply.remainingDurationMs = remaining.toDouble();
        }
    }
    if (reply.message.isNull()) {
        reply.message = reply.ok ? QStringLiteral("OK") : QStringLiteral("Risposta non valida");
    }
    return reply;
}

namespace {

QString plainText(const QJsonValue &value)
{
    switch (value.type()) {
    case QJsonValue::Bool:
        return value.toBool() ? QStringLiteral("true") : QStringLiteral("false");
    case QJsonValue::String:
        return value.toString();
    case QJsonValue::Double: {
        const double number = value.toDouble();
        if (std::isfinite(number) && std::floor(number) == number && std::fabs(number) < 9.0e15) {
            return QString::number(static_cast<qint64>(number));
        }
        return QString::number(number, 'g', QLocale::FloatingPointShortest);
    }
    case QJsonValue::Null:
        return QStringLiteral("null");
    case QJsonValue::Array:
        return QString::fromUtf8(QJsonDocument(value.toArray()).toJson(QJsonDocument::Compact));
    case QJsonValue::Object:
        return QString::fromUtf8(QJsonDocument(value.toObject()).toJson(QJsonDocument::Compact));
    case QJsonValue::Undefined:
        break;
    }
    return {};
}

} // namespace

std::optional<QString> statusSummary(const QJsonObject &object)
{
    static const char *const keys[] = {"mode",           "authentication",   "state",
                                       "available",      "outputAvailable",  "gestureAvailable",
                                       "hapticEnabled",  "hapticAvailable",  "materialAudioEnabled"};
    QStringList pieces;
    for (const char *key : keys) {
        const QString name = QString::fromLatin1(key);
        const auto it = object.constFind(name);
        if (it == object.constEnd()) {
            continue;
        }
        pieces.append(name + QStringLiteral(": ") + plainText(it.value()));
    }
    if (pieces.isEmpty()) {
        return std::nullopt;
    }
    return pieces.join(QStringLiteral(" \u00B7 "));
}

} // namespace vibrelle
