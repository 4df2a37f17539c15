#include "SimHarness.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QJsonDocument>
#include <QTimer>

#include <chrono>
#include <csignal>
#include <sys/prctl.h>

namespace vibrelle::simtest {

bool waitFor(const std::function<bool()> &done, int timeoutMs) {
    QDeadlineTimer deadline(timeoutMs);
    QTimer tick; // wakes the loop so that the deadline is honoured
    tick.start(2);
    for (;;) { // `done` is called once per turn: it may consume what it waits for
        if (done())
            return true;
        if (deadline.hasExpired())
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
    }
}

double monotonicMs() {
    using namespace std::chrono;
    return duration<double, std::milli>(steady_clock::now().time_since_epoch()).count();
}

QString builtProgram(const QString &name) {
    return qEnvironmentVariable("VIBRELLE_BIN_DIR", QCoreApplication::applicationDirPath()) + u'/' + name;
}

Match eventIs(const QString &kind, QJsonObject fields) {
    fields.insert(QStringLiteral("event"), kind);
    return [fields](const QJsonObject &event) {
        for (auto it = fields.begin(); it != fields.end(); ++it) {
            if (event.value(it.key()) != it.value())
                return false;
        }
        return true;
    };
}

SimProcess::SimProcess(const QStringList &arguments) {
    m_process.setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGTERM); });
    QObject::connect(&m_process, &QProcess::readyReadStandardOutput, [this] { drain(); });
    m_process.start(builtProgram(QStringLiteral("vibrelle-sim")),
                    QStringList{QStringLiteral("--port"), QStringLiteral("0"), QStringLiteral("--json")} + arguments);
    waitFor([this] { return m_port != 0 || m_process.state() == QProcess::NotRunning; }, 10000);
}

SimProcess::~SimProcess() {
    m_process.kill();
    m_process.waitForFinished();
}

void SimProcess::drain() {
    const double now = monotonicMs();
    m_partial += m_process.readAllStandardOutput();
    for (qsizetype newline; (newline = m_partial.indexOf('\n')) >= 0;) {
        const QByteArray line = m_partial.left(newline);
        m_partial.remove(0, newline + 1);
        static const QByteArray prefix = "listening on http://127.0.0.1:";
        if (m_port == 0 && line.startsWith(prefix))
            m_port = quint16(line.mid(prefix.size()).toUInt());
        else if (const QJsonDocument document = QJsonDocument::fromJson(line); document.isObject()) {
            m_events.append(document.object());
            m_offset = qMin(m_offset, now - document.object().value(QLatin1String("t")).toDouble());
        }
    }
}

const QList<QJsonObject> &SimProcess::events() {
    drain();
    return m_events;
}

QList<QJsonObject> SimProcess::matching(const Match &match, qsizetype from) {
    QList<QJsonObject> found;
    for (qsizetype i = from; i < events().size(); ++i) {
        if (match(m_events.at(i)))
            found.append(m_events.at(i));
    }
    return found;
}

std::optional<QJsonObject> SimProcess::waitForEvent(const Match &match, qsizetype from, int timeoutMs) {
    if (!waitFor([&] { return !matching(match, from).isEmpty(); }, timeoutMs))
        return std::nullopt;
    return matching(match, from).first();
}

double SimProcess::monotonicTime(const QJsonObject &event) const {
    return event.value(QLatin1String("t")).toDouble() + m_offset;
}

QByteArray Reply::header(const QByteArray &name) const {
    const auto it = std::find_if(headers.begin(), headers.end(), [&](const auto &h) { return h.first == name; });
    return it == headers.end() ? QByteArray() : it->second;
}

QJsonObject Reply::json() const {
    return QJsonDocument::fromJson(body).object();
}

Client::Client(quint16 port) {
    m_socket.connectToHost(QHostAddress::LocalHost, port);
    m_socket.waitForConnected(5000);
}

Reply Client::request(const QByteArray &method, const QByteArray &path, const QByteArray &body,
                      const std::optional<Headers> &headers, int timeoutMs) {
    QByteArray bytes = method + ' ' + path + " HTTP/1.1\r\nHost: 127.0.0.1\r\n";
    const Headers tester{{"X-VBL-Client", "6f1c2a4e-8d3b-4c5a-9e7f-0a1b2c3d4e5f"},
                         {"X-VBL-Client-Name", "API Tester"},
                         {"Accept", "application/json"}};
    for (const auto &[name, value] : headers.value_or(tester))
        bytes += name + ": " + value + "\r\n";
    if (!headers && method != "GET")
        bytes += "Content-Type: application/json\r\n";
    if (method != "GET")
        bytes += "Content-Length: " + QByteArray::number(body.size()) + "\r\n";
    write(bytes + "\r\n" + body);
    return readReply(timeoutMs);
}

Reply Client::readReply(int timeoutMs) {
    Reply reply;
    qsizetype headEnd = -1;
    const auto parse = [&] {
        unread += m_socket.readAll();
        if (headEnd < 0 && (headEnd = unread.indexOf("\r\n\r\n")) >= 0) {
            const QList<QByteArray> lines = unread.left(headEnd).split('\n');
            reply.status = lines.first().split(' ').value(1).toInt();
            for (const QByteArray &line : lines.mid(1)) {
                const qsizetype colon = line.indexOf(':');
                reply.headers.append({line.left(colon).trimmed().toLower(), line.mid(colon + 1).trimmed()});
            }
            reply.headComplete = true;
        }
        const qint64 end = headEnd + 4 + reply.header("content-length").toLongLong();
        if (headEnd < 0 || unread.size() < end)
            return false;
        reply.body = unread.mid(headEnd + 4, end - headEnd - 4);
        unread.remove(0, end);
        return reply.complete = true;
    };
    waitFor([&] { return parse() || (!isConnected() && !m_socket.bytesAvailable()); }, timeoutMs);
    return reply;
}

bool Client::waitForDisconnected(int timeoutMs) {
    return waitFor([this] { return (unread += m_socket.readAll(), m_socket.state() == QAbstractSocket::UnconnectedState); },
                   timeoutMs);
}

} // namespace vibrelle::simtest
