#pragma once

// Black-box helpers shared by the sim and end-to-end tests: raw HTTP/1.1 over one TCP connection
// to the real vibrelle-sim (which the rig starts).

#include "Rig.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QTcpSocket>

#include <optional>

namespace vibrelle::simtest {

using namespace vibrelle::rig;
using Headers = QList<QPair<QByteArray, QByteArray>>;

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
