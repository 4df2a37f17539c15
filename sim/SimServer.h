#pragma once

#include "FaultSet.h"
#include "HapticEngine.h"
#include "HttpConnection.h"
#include "Timeline.h"

#include <QHash>
#include <QMap>
#include <QObject>
#include <QSet>
#include <QTcpServer>

namespace vibrelle::sim {

struct SimConfig {
    quint16 port = 59723;
    int leaseMs = 2000;
    int latencyMs = 0;
    int idleTimeoutMs = 30000;
    int maxConnections = 256;
    RequestParser::Limits limits;
};

// The simulated service: accepts connections on 127.0.0.1, answers the /v1 API through the
// HapticEngine, applies injected faults and latency, keeps request statistics and serves the
// /_sim control endpoints.
class SimServer : public QObject {
    Q_OBJECT

public:
    SimServer(const SimConfig &config, Timeline *timeline, QObject *parent = nullptr);
    ~SimServer() override;

    bool listen(QString *error);
    quint16 port() const { return m_server.serverPort(); }

    // Ends whatever plays, closes every connection and stops listening.
    void shutdown(const QString &reason);

    QJsonObject stats();
    QJsonArray faults() const { return m_faults.toJson(); }
    HapticEngine &engine() { return m_engine; }

private:
    struct Pending {
        bool counted = false; // an API request (not /_sim), counted in the statistics
        bool logged = false;
        QByteArray method;
        QByteArray path;
        Client client;
        double delayMs = 0;
    };

    void onNewConnection();
    void onHead(HttpConnection *connection, const HttpRequest &head);
    void onRequest(HttpConnection *connection, const HttpRequest &request);
    void onProtocolError(HttpConnection *connection, int status, const QString &message,
                         const HttpRequest &partial);
    void onAbandoned(HttpConnection *connection);

    void answerApi(HttpConnection *connection, const HttpRequest &request, const std::optional<Fault> &fault);
    HttpReply route(const HttpRequest &request, const Client &client);
    HttpReply control(const HttpRequest &request);
    // Writes the reply and closes the request's books.
    void send(HttpConnection *connection, const HttpReply &reply, double handlingMs,
              const QString &faultName = {});
    void logRequest(const Pending &pending, int status, double handlingMs, const QString &faultName,
                    const QString &error);
    void resetStats();

    static Client clientOf(const HttpRequest &request);

    SimConfig m_config;
    Timeline *m_timeline;
    HapticEngine m_engine;
    FaultSet m_faults;
    QTcpServer m_server;
    QSet<HttpConnection *> m_connections;
    QHash<HttpConnection *, Pending> m_pending;
    quint64 m_nextConnectionId = 1;

    // statistics of API requests
    qint64 m_total = 0;
    int m_inFlight = 0;
    int m_maxInFlight = 0;
    qint64 m_rejected = 0;
    qint64 m_connectionsTotal = 0;
    QMap<QString, qint64> m_pathCounts;
    QMap<int, qint64> m_statusCounts;
    QSet<QString> m_clientIds;
};

} // namespace vibrelle::sim
