#pragma once

// Black-box helpers shared by the sim and end-to-end tests: the real vibrelle-sim on a free port
// with its JSON timeline, and raw HTTP/1.1 over one TCP connection to it.

#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTcpSocket>

#include <functional>
#include <optional>

namespace vibrelle::simtest {

using Headers = QList<QPair<QByteArray, QByteArray>>;
using Match = std::function<bool(const QJsonObject &)>;

// Runs the event loop until `done` holds or `timeoutMs` has passed; returns `done()`.
bool waitFor(const std::function<bool()> &done, int timeoutMs);
double monotonicMs(); // the clock the sim stamps its timeline with
QString builtProgram(const QString &name);
// A timeline event of this kind whose members include `fields`.
Match eventIs(const QString &kind, QJsonObject fields = {});

// vibrelle-sim --port 0 --json plus `arguments`; ended with the test, even when the test dies.
class SimProcess {
public:
    explicit SimProcess(const QStringList &arguments = {});
    ~SimProcess();
    quint16 port() const { return m_port; }
    QString address() const { return QStringLiteral("http://127.0.0.1:%1").arg(m_port); }
    QProcess &process() { return m_process; }
    const QList<QJsonObject> &events();
    QList<QJsonObject> matching(const Match &match, qsizetype from = 0);
    std::optional<QJsonObject> waitForEvent(const Match &match, qsizetype from = 0, int timeoutMs = 3000);
    // An event's time on monotonicMs()'s clock; never earlier than the real time.
    double monotonicTime(const QJsonObject &event) const;

private:
    void drain();
    QProcess m_process;
    QByteArray m_partial;
    quint16 m_port = 0;
    QList<QJsonObject> m_events;
    double m_offset = 1e300; // smallest (read time - stamp) seen
};

struct Reply {
    bool headComplete = false;
    bool complete = false;
    int status = 0;
    Headers headers; // names in lower case
    QByteArray body;
    QByteArray header(const QByteArray &name) const;
    QJsonObject json() const;
    QJsonValue operator[](const char *key) const { return json().value(QLatin1String(key)); }
};

class Client {
public:
    explicit Client(quint16 port);
    bool isConnected() const { return m_socket.state() == QAbstractSocket::ConnectedState; }
    void write(const QByteArray &bytes) { m_socket.write(bytes), m_socket.flush(); }
    // Without `headers`: the tester's headers, with Content-Type unless GET.
    Reply request(const QByteArray &method, const QByteArray &path, const QByteArray &body = {},
                  const std::optional<Headers> &headers = {}, int timeoutMs = 3000);
    Reply get(const QByteArray &path, int timeoutMs = 3000) { return request("GET", path, {}, {}, timeoutMs); }
    Reply post(const QByteArray &path, const QByteArray &body = "{}") { return request("POST", path, body); }
    Reply post(const QByteArray &path, const QJsonObject &body) { return post(path, QJsonDocument(body).toJson(QJsonDocument::Compact)); }
    Reply readReply(int timeoutMs = 3000);
    bool waitForDisconnected(int timeoutMs = 3000);
    QByteArray unread;
    void close() { m_socket.abort(); }

private:
    QTcpSocket m_socket;
};

inline QString stateOf(Client &client) { return client.get("/v1/status")["state"].toString(); }
inline QJsonObject statsOf(Client &client) { return client.request("GET", "/_sim/stats", {}, Headers{}).json(); }
inline int setFaults(Client &client, const QByteArray &json) {
    return client.request("POST", "/_sim/faults", json, Headers{{"Content-Type", "application/json"}}).status;
}
inline int clearFaults(Client &client) { return client.request("DELETE", "/_sim/faults", {}, Headers{}).status; }

inline QJsonObject controlledBody(double intensity = 0.5, double pulseRateHz = 30, double sharpness = 0.5) {
    return {{"mode", "controlled"}, {"intensity", intensity}, {"pulseRateHz", pulseRateHz},
            {"sharpness", sharpness}, {"transitionMs", 40}};
}
inline QJsonObject gestureBody() {
    return {{"mode", "gesture"}, {"fineness", 0.4}, {"intensity", 0.6}, {"reactivity", 0.8}};
}
inline QJsonObject timedBody(int durationMs) {
    return {{"mode", "timed"}, {"durationMs", durationMs}, {"fineness", 0.5}, {"intensity", 0.5}};
}

} // namespace vibrelle::simtest
