#include "SimHarness.h"

#include <QJsonDocument>

namespace vibrelle::simtest {

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
