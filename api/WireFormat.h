#pragma once

#include <QByteArray>
#include <QJsonObject>
#include <QMap>
#include <QString>

#include <optional>

namespace vibrelle {

// Request bodies, one builder per body. Values go on the wire unchanged, except
// where a whole number of milliseconds is asked for (rounded halves away from zero).
QJsonObject impulseBody(const QString &style, double intensity);
// "durationMs" is a JSON integer. A duration that rounds to no whole number JSON carries exactly
// (not finite, or 2^53 or more away from zero) stays a number the encoder refuses.
QJsonObject timedBody(double durationMilliseconds, double fineness, double intensity);
QJsonObject gestureBody(double fineness, double intensity, double reactivity);
QJsonObject controlledBody(double intensity, double pulseRateHz, double sharpness, double transitionMilliseconds);
QJsonObject sequenceBody(double intensity);
QJsonObject updateBody(const QMap<QString, double> &changes);
QJsonObject emptyBody();

// Compact UTF-8 JSON, keys ascending at every depth, integers as integers.
// None when a value cannot be represented in JSON (NaN or an infinity).
std::optional<QByteArray> encodeBody(const QJsonObject &body);

} // namespace vibrelle
