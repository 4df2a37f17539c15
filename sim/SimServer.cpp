#include "SimServer.h"

#include "BodyRules.h"

#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QTcpSocket>

#include <cmath>

namespace vibrelle::sim {

namespace {

struct Route {
    const char *path;
    const char *method;
    bool emptyBodyIsObject; // commands whose body is an empty object also accept no body at all
    ApiResult (HapticEngine::*handler)(const QJsonObject &, const Client &);
};

const Route routes[] = {
    {"/v1/status", "GET", true, nullptr},
    {"/v1/impulses", "POST", false, &HapticEngine::impulse},
    {"/v1/sequences", "POST", false, &HapticEngine::sequence},
    {"/v1/resonance", "POST", false, &HapticEngine::resonance},
    {"/v1/resonance/update", "POST", false, &HapticEngine::update},
    {"/v1/resonance/pause", "POST", true, &HapticEngine::pause},
    {"/v1/resonance/resume", "POST", true, &HapticEngine::resume},
    {"/v1/heartbeat", "POST", true, &HapticEngine::heartbeat},
    {"/v1/stop", "POST", true, &HapticEngine::stop},
};

const Route *findRoute(const QByteArray &path) {
    for (const Route &route : routes) {
        if (path == route.path)
            return &route;
    }
    return nullptr;
}

double roundedMs(double ms) {
    return std::round(ms * 1000) / 1000;
}

HttpReply methodNotAllowed(const QByteArray &path, const QByteArray &allowed) {
    HttpReply reply = HttpReply::error(405, QStringLiteral("method: %1 accepts %2 only")
                                                .arg(QString::fromUtf8(path), QString::fromUtf8(allowed)));
    reply.extraHeaders.append({"Allow", allowed});
    return reply;
}

bool isJsonContentType(const QByteArray &value) {
    const QByteArray mediaType = value.split(';').first().trimmed().toLower();
    return mediaType == "application/json";
}

} // namespace

SimServer::SimServer(const SimConfig &config, Timeline *timeline, QObject *parent)
    : QObject(parent)
    , m_config(config)
    , m_timeline(timeline)
    , m_engine(timeline, config.leaseMs) {
    for (const Route &route : routes)
        m_pathCounts.insert(QString::fromLatin1(route.path), 0);
    m_pathCounts.insert(QStringLiteral("other"), 0);
    connect(&m_server, &QTcpServer::newConnection, this, &SimServer::onNewConnection);
}

SimServer::~SimServer() {
    // Connections are children of this object; disconnect them first so that their teardown does
    // not call back into a half-destroyed server.
    for (HttpConnection *connection : std::as_const(m_connections))
        connection->disconnect(this);
}

bool SimServer::listen(QString *error) {
    if (m_server.listen(QHostAddress::LocalHost, m_config.port))
        return true;
    *error =
        QStringLiteral("cannot listen on 127.0.0.1:%1: %2").arg(m_config.port).arg(m_server.errorString());
    return false;
}

void SimServer::shutdown(const QString &reason) {
    m_server.close();
    m_engine.endAll(QStringLiteral("shutdown"));
    const QList<HttpConnection *> connections = m_connections.values();
    for (HttpConnection *connection : connections)
        connection->shutdown();
    m_timeline->record(QStringLiteral("shutdown"), {{QStringLiteral("reason"), reason},
                                                    {QStringLiteral("requests"), m_total},
                                                    {QStringLiteral("maxInFlight"), m_maxInFlight}});
}

void SimServer::onNewConnection() {
    while (QTcpSocket *socket = m_server.nextPendingConnection()) {
        if (m_connections.size() >= m_config.maxConnections) {
            socket->write(
                HttpReply::error(503, QStringLiteral("too many open connections")).serialize(false));
            connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
            socket->disconnectFromHost();
            continue;
        }
        auto *connection =
            new HttpConnection(socket, m_nextConnectionId++, m_config.limits, m_config.idleTimeoutMs, this);
        m_connections.insert(connection);
        ++m_connectionsTotal;
        connect(connection, &HttpConnection::headReceived, this, &SimServer::onHead);
        connect(connection, &HttpConnection::requestReceived, this, &SimServer::onRequest);
        connect(connection, &HttpConnection::protocolError, this, &SimServer::onProtocolError);
        connect(connection, &HttpConnection::requestAbandoned, this, &SimServer::onAbandoned);
        connect(connection, &HttpConnection::closed, this, [this](HttpConnection *closed) {
            m_pending.remove(closed);
            m_connections.remove(closed);
        });
    }
}

Client SimServer::clientOf(const HttpRequest &request) {
    Client client;
    client.id = QString::fromUtf8(request.header("x-vbl-client"));
    client.name = QString::fromUtf8(request.header("x-vbl-client-name"));
    if (client.name.isEmpty())
        client.name = client.id.isEmpty() ? QStringLiteral("-") : QStringLiteral("unnamed client");
    return client;
}

void SimServer::onHead(HttpConnection *connection, const HttpRequest &head) {
    Pending pending;
    pending.method = head.method;
    pending.path = head.path;
    pending.client = clientOf(head);
    pending.counted = !(head.path == "/_sim" || head.path.startsWith("/_sim/"));
    if (pending.counted) {
        ++m_total;
        ++m_inFlight;
        m_maxInFlight = qMax(m_maxInFlight, m_inFlight);
        const QString path = QString::fromUtf8(head.path);
        ++m_pathCounts[m_pathCounts.contains(path) ? path : QStringLiteral("other")];
        if (!pending.client.id.isEmpty() && m_clientIds.size() < 10000)
            m_clientIds.insert(pending.client.id);
    }
    m_pending.insert(connection, pending);
}

void SimServer::onRequest(HttpConnection *connection, const HttpRequest &request) {
    if (!m_pending.value(connection).counted) {
        QElapsedTimer handling;
        handling.start();
        const HttpReply reply = control(request);
        send(connection, reply, double(handling.nsecsElapsed()) / 1e6);
        return;
    }

    const std::optional<Fault> fault = m_faults.take(request.path);
    if (fault && fault->action == Fault::Action::StallNever) {
        connection->stall();
        Pending &pending = m_pending[connection];
        pending.logged = true;
        logRequest(pending, 0, 0, fault->actionName(), {});
        return;
    }

    const int delayMs = m_config.latencyMs + m_faults.globalLatencyMs() + (fault ? fault->latencyMs : 0);
    m_pending[connection].delayMs = delayMs;
    if (delayMs <= 0) {
        answerApi(connection, request, fault);
        return;
    }
    // The connection is the timer's context: if it goes away meanwhile, nothing is answered.
    QTimer::singleShot(delayMs, Qt::PreciseTimer, connection, [this, connection, request, fault] {
        if (connection->isOpen() && m_pending.contains(connection))
            answerApi(connection, request, fault);
    });
}

void SimServer::answerApi(HttpConnection *connection, const HttpRequest &request,
                          const std::optional<Fault> &fault) {
    QElapsedTimer handling;
    handling.start();
    if (!fault || fault->action == Fault::Action::None) {
        const HttpReply reply = route(request, m_pending.value(connection).client);
        send(connection, reply, double(handling.nsecsElapsed()) / 1e6);
        return;
    }

    HttpReply reply;
    switch (fault->action) {
    case Fault::Action::Close: {
        Pending pending = m_pending.take(connection);
        connection->closeWithoutReply();
        --m_inFlight;
        logRequest(pending, 0, double(handling.nsecsElapsed()) / 1e6, fault->actionName(), {});
        return;
    }
    case Fault::Action::StallHeaders: {
        reply = HttpReply::json(fault->status, QJsonObject{{QStringLiteral("ok"), fault->status < 300}});
        connection->replyHeadAndStall(reply);
        Pending &pending = m_pending[connection];
        pending.logged = true;
        logRequest(pending, fault->status, double(handling.nsecsElapsed()) / 1e6, fault->actionName(), {});
        return; // the request stays in progress until the peer gives up
    }
    case Fault::Action::Status:
        if (fault->rawBody) {
            reply.status = fault->status;
            reply.body = *fault->rawBody;
        } else {
            reply = HttpReply::error(fault->status, fault->error);
        }
        break;
    case Fault::Action::Redirect:
        reply = HttpReply::error(fault->status, QStringLiteral("moved to %1").arg(fault->location));
        reply.extraHeaders.append({"Location", fault->location.toUtf8()});
        break;
    case Fault::Action::None:
    case Fault::Action::StallNever:
        break;
    }
    send(connection, reply, double(handling.nsecsElapsed()) / 1e6, fault->actionName());
}

HttpReply SimServer::route(const HttpRequest &request, const Client &client) {
    const Route *found = findRoute(request.path);
    if (!found)
        return HttpReply::error(
            404, QStringLiteral("path: no such endpoint: %1").arg(QString::fromUtf8(request.path)));
    if (request.method != found->method)
        return methodNotAllowed(request.path, found->method);
    if (client.id.trimmed().isEmpty())
        return HttpReply::error(400,
                                QStringLiteral("X-VBL-Client: header missing; every request must carry the "
                                               "client's identifier"));
    if (!found->handler)
        return HttpReply::json(200, m_engine.status().body);

    const QByteArray contentType = request.header("content-type");
    if (!contentType.isEmpty() && !isJsonContentType(contentType))
        return HttpReply::error(415, QStringLiteral("Content-Type: must be application/json, got %1")
                                         .arg(QString::fromUtf8(contentType)));
    QString error;
    const std::optional<QJsonObject> body = parseObjectBody(request.body, found->emptyBodyIsObject, &error);
    if (!body)
        return HttpReply::error(400, error);
    const ApiResult result = (m_engine.*(found->handler))(*body, client);
    return HttpReply::json(result.status, result.body);
}

HttpReply SimServer::control(const HttpRequest &request) {
    const bool stats = request.path == "/_sim/stats";
    const bool faults = request.path == "/_sim/faults";
    if (request.path == "/_sim/state") {
        if (request.method != "GET")
            return methodNotAllowed(request.path, "GET");
        QJsonObject state = m_engine.playing();
        state.insert(QStringLiteral("ok"), true);
        return HttpReply::json(200, state);
    }
    if (!stats && !faults)
        return HttpReply::error(
            404, QStringLiteral("path: no such endpoint: %1").arg(QString::fromUtf8(request.path)));

    if (stats) {
        if (request.method == "DELETE")
            resetStats();
        else if (request.method != "GET")
            return methodNotAllowed(request.path, "GET, DELETE");
        return HttpReply::json(200, this->stats());
    }

    if (request.method == "POST") {
        QString error;
        QJsonParseError parseError{};
        const QJsonDocument document = QJsonDocument::fromJson(request.body, &parseError);
        if (parseError.error != QJsonParseError::NoError || document.isNull())
            return HttpReply::error(
                400, QStringLiteral("body: not valid JSON (%1)").arg(parseError.errorString()));
        const QJsonValue description =
            document.isArray() ? QJsonValue(document.array()) : QJsonValue(document.object());
        if (!m_faults.apply(description, &error))
            return HttpReply::error(400, error);
    } else if (request.method == "DELETE") {
        m_faults.clear();
    } else if (request.method != "GET") {
        return methodNotAllowed(request.path, "GET, POST, DELETE");
    }
    if (request.method != "GET")
        m_timeline->record(QStringLiteral("faults"), {{QStringLiteral("faults"), m_faults.toJson()}});
    return HttpReply::json(200,
                           {{QStringLiteral("ok"), true}, {QStringLiteral("faults"), m_faults.toJson()}});
}

void SimServer::send(HttpConnection *connection, const HttpReply &reply, double handlingMs,
                     const QString &faultName) {
    const Pending pending = m_pending.take(connection);
    connection->reply(reply);
    QString error;
    if (reply.status >= 300) {
        const QJsonObject object = QJsonDocument::fromJson(reply.body).object();
        error = object.value(QLatin1String("error")).toString();
    }
    if (pending.counted) {
        --m_inFlight;
        ++m_statusCounts[reply.status];
    }
    logRequest(pending, reply.status, handlingMs, faultName, error);
}

void SimServer::onProtocolError(HttpConnection *connection, int status, const QString &message,
                                const HttpRequest &partial) {
    ++m_rejected;
    ++m_statusCounts[status];
    m_pending.remove(connection);
    connection->reply(HttpReply::error(status, message));
    Pending pending;
    pending.method = partial.method;
    pending.path = partial.path;
    pending.client = clientOf(partial);
    logRequest(pending, status, 0, {}, message);
}

void SimServer::onAbandoned(HttpConnection *connection) {
    if (!m_pending.contains(connection))
        return;
    const Pending pending = m_pending.take(connection);
    if (pending.counted)
        --m_inFlight;
    if (!pending.logged)
        logRequest(pending, 0, 0, {}, QStringLiteral("the client closed the connection before the reply"));
}

void SimServer::logRequest(const Pending &pending, int status, double handlingMs, const QString &faultName,
                           const QString &error) {
    QJsonObject fields{
        {QStringLiteral("method"), QString::fromUtf8(pending.method)},
        {QStringLiteral("path"), QString::fromUtf8(pending.path)},
        {QStringLiteral("client"), pending.client.name},
        {QStringLiteral("clientId"), pending.client.id},
        {QStringLiteral("status"), status},
        {QStringLiteral("handlingMs"), roundedMs(handlingMs)},
    };
    if (pending.delayMs > 0)
        fields.insert(QStringLiteral("delayMs"), pending.delayMs);
    if (!faultName.isEmpty())
        fields.insert(QStringLiteral("fault"), faultName);
    if (!error.isEmpty())
        fields.insert(QStringLiteral("error"), error);
    m_timeline->record(QStringLiteral("request"), fields);
}

QJsonObject SimServer::stats() {
    QJsonObject paths;
    for (auto it = m_pathCounts.begin(); it != m_pathCounts.end(); ++it)
        paths.insert(it.key(), it.value());
    QJsonObject statuses;
    for (auto it = m_statusCounts.begin(); it != m_statusCounts.end(); ++it)
        statuses.insert(QString::number(it.key()), it.value());
    return {
        {QStringLiteral("ok"), true},
        {QStringLiteral("total"), m_total},
        {QStringLiteral("inFlight"), m_inFlight},
        {QStringLiteral("maxInFlight"), m_maxInFlight},
        {QStringLiteral("paths"), paths},
        {QStringLiteral("statuses"), statuses},
        {QStringLiteral("rejected"), m_rejected},
        {QStringLiteral("clients"), qint64(m_clientIds.size())},
        {QStringLiteral("connections"), QJsonObject{{QStringLiteral("open"), qint64(m_connections.size())},
                                                    {QStringLiteral("total"), m_connectionsTotal}}},
        {QStringLiteral("state"), m_engine.state()},
    };
}

void SimServer::resetStats() {
    m_total = 0;
    m_maxInFlight = m_inFlight;
    m_rejected = 0;
    m_connectionsTotal = m_connections.size();
    for (auto it = m_pathCounts.begin(); it != m_pathCounts.end(); ++it)
        it.value() = 0;
    m_statusCounts.clear();
    m_clientIds.clear();
}

} // namespace vibrelle::sim
