#pragma once

#include <QByteArray>
#include <QJsonObject>
#include <QString>
#include <QStringList>

#include <optional>

namespace vibrelle::sim {

// Range of one numeric member of a request body.
struct NumberRule {
    double min = 0;
    double max = 0;
    bool whole = false; // only whole numbers (450 and 450.0 both qualify)
};

// The limits the service applies to the numbers it is sent.
namespace limits {
inline constexpr double maxDurationMs = 60000;
inline constexpr double maxTransitionMs = 60000;
inline constexpr double maxDelayMs = 10000;
inline constexpr double minPulseRateHz = 1;
inline constexpr double maxPulseRateHz = 60;
inline constexpr int maxSequenceSteps = 16;
} // namespace limits

// The rule of a numeric parameter ("intensity", "durationMs", …), or none for unknown names.
std::optional<NumberRule> numberRule(const QString &key);

// Parses a request body that must hold one JSON object. With emptyIsObject an empty body counts
// as {}. On failure returns none and sets *error to a message that names the field.
std::optional<QJsonObject> parseObjectBody(const QByteArray &body, bool emptyIsObject, QString *error);

// Checks one number against its rule; returns an empty string when it is fine, else the error
// "<field>: …".
QString checkNumber(const QString &field, const QJsonValue &value, const NumberRule &rule);

// Checks that the object has all the required members and nothing but the required and optional
// ones. Returns an empty string when it does, else an error naming the first offending member;
// `prefix` is put before member names (e.g. "steps[1]."), `context` names what refuses an unknown
// member (e.g. "a timed resonance").
QString checkMembers(const QJsonObject &object, const QStringList &required, const QStringList &optional,
                     const QString &prefix = {}, const QString &context = {});

// Checks each member that has a numeric rule; returns the first error or an empty string.
QString checkNumbers(const QJsonObject &object, const QString &prefix = {});

QString describeRule(const NumberRule &rule);

} // namespace vibrelle::sim
