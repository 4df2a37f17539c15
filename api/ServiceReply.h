#pragma once

#include <QByteArray>
#include <QJsonObject>
#include <QString>

#include <optional>

namespace vibrelle {

// A decoded reply of the local service, whatever its status code.
struct ServiceReply {
    int statusCode = 0; // 0 when the reply carries none
    std::optional<QJsonObject> object;
    bool ok = false;
    QString message;
    std::optional<bool> emitted;
    std::optional<bool> paused;
    std::optional<QString> activeEffect;
    std::optional<double> remainingDurationMs;
};

// Pure: the same status code and bytes always give the same reply.
ServiceReply decodeReply(std::optional<int> statusCode, const QByteArray &body);

// The descriptive members of a status reply, in their fixed order, joined with " · ";
// none when no member is present.
std::optional<QString> statusSummary(const QJsonObject &object);

} // namespace vibrelle
