#include "FaultSet.h"

#include "BodyRules.h"

#include <QJsonObject>

namespace vibrelle::sim {

namespace {

constexpr double maxLatencyMs = 60000;

std::optional<int> wholeNumber(const QJsonObject &object, const QString &key, double min, double max,
                               const QString &prefix, QString *error) {
    const QString message = checkNumber(prefix + key, object.value(key), NumberRule{min, max, true});
    if (!message.isEmpty()) {
        *error = message;
        return std::nullopt;
    }
    return int(object.value(key).toDouble());
}

} // namespace

QString Fault::actionName() const {
    switch (action) {
    case Action::None:
        return QStringLiteral("latency");
    case Action::Status:
        return QStringLiteral("status");
    case Action::StallNever:
        return QStringLiteral("stall never");
    case Action::StallHeaders:
        return QStringLiteral("stall headers");
    case Action::Redirect:
        return QStringLiteral("redirect");
    case Action::Close:
        return QStringLiteral("close");
    }
    return {};
}

QJsonObject Fault::toJson() const {
    QJsonObject object{{QStringLiteral("path"), path}};
    if (latencyMs > 0)
        object.insert(QStringLiteral("latencyMs"), latencyMs);
    switch (action) {
    case Action::None:
        break;
    case Action::Status:
        object.insert(QStringLiteral("status"), status);
        if (rawBody)
            object.insert(QStringLiteral("body"), QString::fromUtf8(*rawBody));
        else
            object.insert(QStringLiteral("error"), error);
        break;
    case Action::StallNever:
        object.insert(QStringLiteral("stall"), QStringLiteral("never"));
        break;
    case Action::StallHeaders:
        object.insert(QStringLiteral("stall"), QStringLiteral("headers"));
        object.insert(QStringLiteral("status"), status);
        break;
    case Action::Redirect:
        object.insert(QStringLiteral("redirect"), location);
        object.insert(QStringLiteral("status"), status);
        break;
    case Action::Close:
        object.insert(QStringLiteral("close"), true);
        break;
    }
    if (remaining > 0)
        object.insert(QStringLiteral("times"), remaining);
    return object;
}

std::optional<Fault> FaultSet::parse(const QJsonValue &value, const QString &prefix, QString *error) {
    if (!value.isObject()) {
        *error = (prefix.isEmpty() ? QStringLiteral("body") : prefix.chopped(1)) +
                 QStringLiteral(": a fault must be a JSON object");
        return std::nullopt;
    }
    const QJsonObject object = value.toObject();
    *error = checkMembers(object, {},
                          {QStringLiteral("path"), QStringLiteral("latencyMs"), QStringLiteral("status"),
                           QStringLiteral("error"), QStringLiteral("body"), QStringLiteral("stall"),
                           QStringLiteral("redirect"), QStringLiteral("close"), QStringLiteral("times")},
                          prefix);
    if (!error->isEmpty())
        return std::nullopt;

    Fault fault;
    if (object.contains(QLatin1String("latencyMs"))) {
        const auto latency = wholeNumber(object, QStringLiteral("latencyMs"), 0, maxLatencyMs, prefix, error);
        if (!latency)
            return std::nullopt;
        fault.latencyMs = *latency;
    }

    if (!object.contains(QLatin1String("path"))) {
        if (object.size() != 1 || !object.contains(QLatin1String("latencyMs"))) {
            *error = prefix + QStringLiteral("path: missing (only {\"latencyMs\": N} applies to every path)");
            return std::nullopt;
        }
        return fault;
    }
    const QJsonValue path = object.value(QLatin1String("path"));
    if (!path.isString() || !path.toString().startsWith(u'/') || path.toString().startsWith(u"/_sim")) {
        *error = prefix + QStringLiteral("path: must be a request path such as \"/v1/stop\" (not /_sim/…)");
        return std::nullopt;
    }
    fault.path = path.toString();

    const bool hasRedirect = object.contains(QLatin1String("redirect"));
    const bool hasStall = object.contains(QLatin1String("stall"));
    const bool hasClose = object.contains(QLatin1String("close"));
    const bool hasStatusOnly = object.contains(QLatin1String("status")) && !hasRedirect && !hasStall;
    if (int(hasRedirect) + int(hasStall) + int(hasClose) + int(hasStatusOnly) > 1) {
        *error = prefix +
                 QStringLiteral("path: give one of \"status\", \"stall\", \"redirect\", \"close\" per fault");
        return std::nullopt;
    }
    if ((object.contains(QLatin1String("error")) || object.contains(QLatin1String("body"))) &&
        !hasStatusOnly) {
        *error = prefix + QStringLiteral("error: \"error\" and \"body\" go with \"status\" only");
        return std::nullopt;
    }

    if (hasStatusOnly) {
        const auto status = wholeNumber(object, QStringLiteral("status"), 200, 599, prefix, error);
        if (!status)
            return std::nullopt;
        fault.action = Fault::Action::Status;
        fault.status = *status;
        fault.error = QStringLiteral("injected fault: status %1").arg(*status);
        if (object.contains(QLatin1String("error"))) {
            if (!object.value(QLatin1String("error")).isString()) {
                *error = prefix + QStringLiteral("error: must be a string");
                return std::nullopt;
            }
            fault.error = object.value(QLatin1String("error")).toString();
        }
        if (object.contains(QLatin1String("body"))) {
            if (!object.value(QLatin1String("body")).isString()) {
                *error = prefix + QStringLiteral("body: must be a string (sent as it is)");
                return std::nullopt;
            }
            fault.rawBody = object.value(QLatin1String("body")).toString().toUtf8();
        }
    } else if (hasStall) {
        const QString stall = object.value(QLatin1String("stall")).toString();
        if (stall == QLatin1String("never")) {
            fault.action = Fault::Action::StallNever;
            if (object.contains(QLatin1String("status"))) {
                *error = prefix + QStringLiteral("status: a path that never answers has no status");
                return std::nullopt;
            }
        } else if (stall == QLatin1String("headers")) {
            fault.action = Fault::Action::StallHeaders;
            fault.status = 200;
            if (object.contains(QLatin1String("status"))) {
                const auto status = wholeNumber(object, QStringLiteral("status"), 200, 599, prefix, error);
                if (!status)
                    return std::nullopt;
                fault.status = *status;
            }
        } else {
            *error = prefix + QStringLiteral("stall: must be \"never\" or \"headers\"");
            return std::nullopt;
        }
    } else if (hasRedirect) {
        const QJsonValue location = object.value(QLatin1String("redirect"));
        const QString text = location.toString();
        bool printable = !text.isEmpty();
        for (QChar c : text)
            printable = printable && c.unicode() > 0x20 && c.unicode() < 0x7f;
        if (!location.isString() || !printable) {
            *error = prefix + QStringLiteral("redirect: must be a URL without spaces or control characters");
            return std::nullopt;
        }
        fault.action = Fault::Action::Redirect;
        fault.location = text;
        fault.status = 302;
        if (object.contains(QLatin1String("status"))) {
            const int status = object.value(QLatin1String("status")).toInt(-1);
            if (!object.value(QLatin1String("status")).isDouble() ||
                !QList<int>{301, 302, 303, 307, 308}.contains(status) ||
                object.value(QLatin1String("status")).toDouble() != status) {
                *error = prefix + QStringLiteral("status: a redirect takes 301, 302, 303, 307 or 308");
                return std::nullopt;
            }
            fault.status = status;
        }
    } else if (hasClose) {
        if (object.value(QLatin1String("close")) != QJsonValue(true)) {
            *error = prefix + QStringLiteral("close: must be true");
            return std::nullopt;
        }
        fault.action = Fault::Action::Close;
    } else if (!object.contains(QLatin1String("latencyMs"))) {
        *error =
            prefix + QStringLiteral("path: say what to do with it: \"latencyMs\", \"status\", \"stall\", "
                                    "\"redirect\" or \"close\"");
        return std::nullopt;
    }

    if (object.contains(QLatin1String("times"))) {
        const auto times = wholeNumber(object, QStringLiteral("times"), 1, 1000000, prefix, error);
        if (!times)
            return std::nullopt;
        fault.remaining = *times;
    }
    return fault;
}

bool FaultSet::apply(const QJsonValue &description, QString *error) {
    QList<Fault> parsed;
    if (description.isArray()) {
        const QJsonArray array = description.toArray();
        for (qsizetype i = 0; i < array.size(); ++i) {
            auto fault = parse(array.at(i), QStringLiteral("[%1].").arg(i), error);
            if (!fault)
                return false;
            parsed.append(*fault);
        }
    } else {
        auto fault = parse(description, {}, error);
        if (!fault)
            return false;
        parsed.append(*fault);
    }
    for (const Fault &fault : parsed) {
        if (fault.path.isEmpty())
            m_globalLatencyMs = fault.latencyMs;
        else
            m_byPath.insert(fault.path, fault);
    }
    return true;
}

void FaultSet::clear() {
    m_globalLatencyMs = 0;
    m_byPath.clear();
}

std::optional<Fault> FaultSet::take(const QByteArray &path) {
    auto it = m_byPath.find(QString::fromUtf8(path));
    if (it == m_byPath.end())
        return std::nullopt;
    Fault fault = *it;
    if (it->remaining > 0 && --it->remaining == 0)
        m_byPath.erase(it);
    return fault;
}

QJsonArray FaultSet::toJson() const {
    QJsonArray array;
    if (m_globalLatencyMs > 0)
        array.append(QJsonObject{{QStringLiteral("latencyMs"), m_globalLatencyMs}});
    for (const Fault &fault : m_byPath)
        array.append(fault.toJson());
    return array;
}

} // namespace vibrelle::sim
