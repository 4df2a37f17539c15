#include "SimHarness.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QJsonDocument>
#include <QTimer>

namespace vibrelle::simtest {

bool waitFor(const std::function<bool()> &done, int timeoutMs) {
    QElapsedTimer elapsed;
    elapsed.start();
    QTimer tick; // wakes the loop regularly so that the deadline is honoured
    tick.start(5);
    while (!done()) {
        if (elapsed.elapsed() >= timeoutMs)
            return done();
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
    }
    return true;
}

QString simBinary() {
    QString dir = qEnvironmentVariable("VIBRELLE_BIN_DIR");
    if (dir.isEmpty())
        dir = QCoreApplication::applicationDirPath() + QStringLiteral("/../bin");
    return dir + QStringLiteral("/vibrelle-sim");
}

SimProcess::SimProcess(const QStringList &arguments) {
    m_process.setProcessChannelMode(QProcess::SeparateChannels);
    QObject::connect(&m_process, &QProcess::readyReadStandardOutput, [this] { drain(); });
    m_process.start(simBinary(),
                    QStringList{QStringLiteral("--port"), QStringLiteral("0"), QStringLiteral("--json")} +
                        arguments);
    waitFor([this] { return m_port != 0 || m_process.state() == QProcess::NotRunning; }, 10000);
}

SimProcess::~SimProcess() {
    if (m_process.state() != QProcess::NotRunning) {
        m_process.kill();
        m_process.waitForFinished(3000);
    }
}

void SimProcess::drain() {
    m_partial += m_process.readAllStandardOutput();
    qsizetype newline;
    while ((newline = m_partial.indexOf('\n')) >= 0) {
        const QByteArray line = m_partial.left(newline);
        m_partial.remove(0, newline + 1);
        static const QByteArray prefix = "listening on http://127.0.0.1:";
        if (m_port == 0 && line.startsWith(prefix)) {
            m_port = quint16(line.mid(prefix.size()).toUInt());
            continue;
        }
        const QJsonDocument document = QJsonDocument::fromJson(line);
        if (document.isObject())
            m_events.append(document.object());
        else
            m_otherLines.append(line);
    }
}

const QList<QJsonObject> &SimProcess::events() {
    drain();
    return m_events;
}

std::optional<QJsonObject> SimProcess::waitForEvent(const std::function<bool(const QJsonObject &)> &match,
                                                    int timeoutMs, qsizetype from) {
    std::optional<QJsonObject> found;
    waitFor(
        [&] {
            drain();
            for (qsizetype i = from; i < m_events.size(); ++i) {
                if (match(m_events.at(i))) {
                    found = m_events.at(i);
                    return true;
                }
            }
            return false;
        },
        timeoutMs);
    return found;
}

QByteArray Reply::header(const QByteArray &lowerCaseName) const {
    for (const auto &[name, value] : headers) {
        if (name == lowerCaseName)
            return value;
    }
    return {};
}

QJsonObject Reply::json() const {
    return QJsonDocument::fromJson(body).object();
}

bool Reply::isJsonObject() const {
    return QJsonDocument::fromJson(body).isObject();
}

Client::Client(quint16 port)
    : m_socket(std::make_unique<QTcpSocket>()) {
    m_socket->connectToHost(QHostAddress::LocalHost, port);
    waitFor(
        [this] {
            return m_socket->state() == QAbstractSocket::ConnectedState ||
                   m_socket->state() == QAbstractSocket::UnconnectedState;
        },
        5000);
}

bool Client::isConnected() const {
    return m_socket->state() == QAbstractSocket::ConnectedState;
}

Headers Client::testerHeaders(bool withBody) {
    Headers headers{{"X-VBL-Client", "6f1c2a4e-8d3b-4c5a-9e7f-0a1b2c3d4e5f"},
                    {"X-VBL-Client-Name", "API Tester"},
                    {"Accept", "application/json"}};
    if (withBody)
        headers.append(qMakePair(QByteArray("Content-Type"), QByteArray("application/json")));
    return headers;
}

void Client::write(const QByteArray &bytes) {
    m_socket->write(bytes);
    m_socket->flush();
}

Reply Client::request(const QByteArray &method, const QByteArray &path, const QByteArray &body,
                      const Headers &headers, int timeoutMs) {
    QByteArray bytes = method + ' ' + path + " HTTP/1.1\r\nHost: 127.0.0.1\r\n";
    for (const auto &[name, value] : headers)
        bytes += name + ": " + value + "\r\n";
    if (method != "GET")
        bytes += "Content-Length: " + QByteArray::number(body.size()) + "\r\n";
    bytes += "\r\n" + body;
    write(bytes);
    return readReply(timeoutMs);
}

Reply Client::get(const QByteArray &path, int timeoutMs) {
    return request("GET", path, {}, testerHeaders(false), timeoutMs);
}

Reply Client::post(const QByteArray &path, const QByteArray &body, int timeoutMs) {
    return request("POST", path, body, testerHeaders(true), timeoutMs);
}

Reply Client::post(const QByteArray &path, const QJsonObject &body, int timeoutMs) {
    return post(path, QJsonDocument(body).toJson(QJsonDocument::Compact), timeoutMs);
}

Reply Client::readReply(int timeoutMs) {
    Reply reply;
    qsizetype headEnd = -1;
    qint64 length = 0;
    const auto parse = [&] {
        m_buffer += m_socket->readAll();
        if (headEnd < 0) {
            headEnd = m_buffer.indexOf("\r\n\r\n");
            if (headEnd < 0)
                return false;
            const QList<QByteArray> lines = m_buffer.left(headEnd).split('\n');
            reply.status = lines.first().split(' ').value(1).toInt();
            for (qsizetype i = 1; i < lines.size(); ++i) {
                const QByteArray line = lines.at(i).trimmed();
                const qsizetype colon = line.indexOf(':');
                reply.headers.append({line.left(colon).trimmed().toLower(), line.mid(colon + 1).trimmed()});
            }
            reply.headComplete = true;
            length = reply.header("content-length").toLongLong();
        }
        if (m_buffer.size() < headEnd + 4 + length)
            return false;
        reply.body = m_buffer.mid(headEnd + 4, length);
        m_buffer.remove(0, headEnd + 4 + length);
        reply.complete = true;
        return true;
    };
    waitFor(
        [&] {
            return parse() ||
                   (m_socket->state() != QAbstractSocket::ConnectedState && !m_socket->bytesAvailable());
        },
        timeoutMs);
    return reply;
}

bool Client::waitForDisconnected(int timeoutMs) {
    return waitFor(
        [this] {
            m_buffer += m_socket->readAll();
            return m_socket->state() == QAbstractSocket::UnconnectedState;
        },
        timeoutMs);
}

void Client::close() {
    m_socket->abort();
}

QString stateOf(Client &client) {
    return client.get("/v1/status").json().value(QLatin1String("state")).toString();
}

QJsonObject statsOf(Client &client) {
    return client.request("GET", "/_sim/stats", {}, {}).json();
}

int setFaults(Client &client, const QByteArray &json) {
    return client.request("POST", "/_sim/faults", json, {{"Content-Type", "application/json"}}).status;
}

QJsonObject controlledBody(double intensity, double pulseRateHz, double sharpness, double transitionMs) {
    return {{QStringLiteral("mode"), QStringLiteral("controlled")},
            {QStringLiteral("intensity"), intensity},
            {QStringLiteral("pulseRateHz"), pulseRateHz},
            {QStringLiteral("sharpness"), sharpness},
            {QStringLiteral("transitionMs"), transitionMs}};
}

QJsonObject gestureBody() {
    return {{QStringLiteral("mode"), QStringLiteral("gesture")},
            {QStringLiteral("fineness"), 0.4},
            {QStringLiteral("intensity"), 0.6},
            {QStringLiteral("reactivity"), 0.8}};
}

QJsonObject timedBody(int durationMs) {
    return {{QStringLiteral("mode"), QStringLiteral("timed")},
            {QStringLiteral("durationMs"), durationMs},
            {QStringLiteral("fineness"), 0.5},
            {QStringLiteral("intensity"), 0.5}};
}

} // namespace vibrelle::simtest
