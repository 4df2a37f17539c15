#pragma once

#include <QByteArray>
#include <QJsonArray>
#include <QJsonValue>
#include <QMap>
#include <QString>

#include <optional>

namespace vibrelle::sim {

// A fault injected for one path (or, with an empty path, extra latency for every API path).
struct Fault {
    enum class Action { None, Status, StallNever, StallHeaders, Redirect, Close };

    QString path;
    int latencyMs = 0;
    Action action = Action::None;
    int status = 0;
    QString error;
    std::optional<QByteArray> rawBody; // replaces the JSON error body when set
    QString location;
    int remaining = -1; // uses left; -1 until cleared

    QJsonObject toJson() const;
    QString actionName() const;
};

// The faults in force: one per path plus a global extra latency. Changed at run time through
// POST and DELETE /_sim/faults.
class FaultSet {
public:
    // Applies a fault description (one object or an array of objects, see the --help text).
    // Either everything is applied or, on error, nothing; *error then names the offending member.
    bool apply(const QJsonValue &description, QString *error);
    void clear();

    int globalLatencyMs() const { return m_globalLatencyMs; }
    // The fault for the path, if any; counts one use of it.
    std::optional<Fault> take(const QByteArray &path);
    QJsonArray toJson() const;

private:
    static std::optional<Fault> parse(const QJsonValue &value, const QString &prefix, QString *error);

    int m_globalLatencyMs = 0;
    QMap<QString, Fault> m_byPath;
};

} // namespace vibrelle::sim
