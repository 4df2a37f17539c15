#pragma once

#include <QByteArray>
#include <QElapsedTimer>
#include <QJsonObject>
#include <QString>

#include <functional>

namespace vibrelle::sim {

// The sim's event log: every request and every effect transition, one line each, stamped with
// the milliseconds elapsed on a monotonic clock since the sim started.
class Timeline {
public:
    enum class Format { Text, Json, Quiet };
    using Sink = std::function<void(const QByteArray &line)>;
    // Sees every event, printed or not, with its time stamp.
    using Observer = std::function<void(double t, const QString &event, const QJsonObject &fields)>;

    explicit Timeline(Format format, Sink sink = {});

    Format format() const { return m_format; }
    // Milliseconds since start on the monotonic clock, with sub-millisecond resolution.
    double nowMs() const;

    // Records one event. "event" names its kind; every other member describes it. The time stamp
    // "t" is added here.
    void record(const QString &event, const QJsonObject &fields);
    // An event for the observer only (what the window and the sound need beyond the printed
    // timeline); never printed.
    void note(const QString &event, const QJsonObject &fields);
    void setObserver(Observer observer) { m_observer = std::move(observer); }

    // The text form of an event, as printed without --json (without the trailing newline).
    static QByteArray textLine(double t, const QString &event, const QJsonObject &fields);
    // The JSON form: {"t":…,"event":…, then the other members in key order}.
    static QByteArray jsonLine(double t, const QString &event, const QJsonObject &fields);

private:
    Format m_format;
    Sink m_sink;
    Observer m_observer;
    QElapsedTimer m_clock;
};

// Writes a line (plus newline) to standard output and flushes it at once.
void writeStdoutLine(const QByteArray &line);

} // namespace vibrelle::sim
