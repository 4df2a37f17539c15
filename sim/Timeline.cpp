#include "Timeline.h"

#include <QJsonArray>
#include <QJsonDocument>

#include <cstdio>

namespace vibrelle::sim {

namespace {

QByteArray jsonValue(const QJsonValue &value) {
    QByteArray text = QJsonDocument(QJsonArray{value}).toJson(QJsonDocument::Compact);
    return text.mid(1, text.size() - 2);
}

QByteArray plainValue(const QJsonValue &value) {
    if (value.isString())
        return value.toString().toUtf8();
    return jsonValue(value);
}

QByteArray parameterList(const QJsonObject &object) {
    QByteArray out;
    for (auto it = object.begin(); it != object.end(); ++it) {
        if (!out.isEmpty())
            out += ' ';
        out += it.key().toUtf8() + '=' + plainValue(it.value());
    }
    return out;
}

} // namespace

void writeStdoutLine(const QByteArray &line) {
    std::fwrite(line.constData(), 1, size_t(line.size()), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

Timeline::Timeline(Format format, Sink sink)
    : m_format(format)
    , m_sink(sink ? std::move(sink) : Sink(writeStdoutLine)) {
    m_clock.start();
}

double Timeline::nowMs() const {
    return double(m_clock.nsecsElapsed()) / 1e6;
}

void Timeline::record(const QString &event, const QJsonObject &fields) {
    if (m_format == Format::Quiet && !m_observer)
        return;
    const double t = nowMs();
    if (m_format != Format::Quiet)
        m_sink(m_format == Format::Json ? jsonLine(t, event, fields) : textLine(t, event, fields));
    if (m_observer)
        m_observer(t, event, fields);
}

void Timeline::note(const QString &event, const QJsonObject &fields) {
    if (m_observer)
        m_observer(nowMs(), event, fields);
}

QByteArray Timeline::jsonLine(double t, const QString &event, const QJsonObject &fields) {
    QByteArray line = "{\"t\":" + QByteArray::number(t, 'f', 3) + ",\"event\":" + jsonValue(event);
    for (auto it = fields.begin(); it != fields.end(); ++it) {
        if (it.key() == QLatin1String("t") || it.key() == QLatin1String("event"))
            continue;
        line += ',' + jsonValue(it.key()) + ':' + jsonValue(it.value());
    }
    line += '}';
    return line;
}

QByteArray Timeline::textLine(double t, const QString &event, const QJsonObject &fields) {
    QByteArray client = fields.value(QLatin1String("client")).toString().toUtf8();
    if (client.isEmpty())
        client = "-";
    const QString effect = fields.value(QLatin1String("effect")).toString();

    QByteArray what;
    if (event == QLatin1String("request")) {
        what = fields.value(QLatin1String("method")).toString().toUtf8() + ' ' +
               fields.value(QLatin1String("path")).toString().toUtf8();
        const int status = fields.value(QLatin1String("status")).toInt();
        what += status > 0 ? " -> " + QByteArray::number(status) : QByteArray(" -> no reply");
        what +=
            " (" + QByteArray::number(fields.value(QLatin1String("handlingMs")).toDouble(), 'f', 3) + " ms";
        const double delay = fields.value(QLatin1String("delayMs")).toDouble();
        if (delay > 0)
            what += ", +" + QByteArray::number(delay, 'f', 0) + " ms injected";
        what += ')';
        if (fields.contains(QLatin1String("fault")))
            what += " [fault: " + fields.value(QLatin1String("fault")).toString().toUtf8() + ']';
        if (fields.contains(QLatin1String("error")))
            what += " error: " + fields.value(QLatin1String("error")).toString().toUtf8();
    } else if (event == QLatin1String("start")) {
        what = "start " + effect.toUtf8();
        const QByteArray params = parameterList(fields.value(QLatin1String("params")).toObject());
        if (!params.isEmpty())
            what += ' ' + params;
    } else if (event == QLatin1String("update")) {
        what = "update " + effect.toUtf8() + ' ' +
               parameterList(fields.value(QLatin1String("changed")).toObject());
    } else if (event == QLatin1String("end")) {
        what =
            "end " + effect.toUtf8() + " (" + fields.value(QLatin1String("reason")).toString().toUtf8() + ')';
    } else if (event == QLatin1String("pause") || event == QLatin1String("resume")) {
        what = event.toUtf8() + ' ' + effect.toUtf8();
    } else {
        QJsonObject rest = fields;
        rest.remove(QLatin1String("client"));
        what = event.toUtf8();
        const QByteArray params = parameterList(rest);
        if (!params.isEmpty())
            what += ' ' + params;
    }

    QByteArray line = QByteArray::number(t, 'f', 3).rightJustified(11) + " ms  ";
    line += client.leftJustified(16) + ' ' + what;
    return line;
}

} // namespace vibrelle::sim
