#pragma once

// A small HTTP/1.1 server on 127.0.0.1 for transport tests. It records every request exactly
// as it arrived on the socket and answers each one with a step: a function acting on the socket.

#include <QHash>
#include <QHostAddress>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

#include <sys/socket.h>

#include <functional>
#include <memory>

namespace vibrelle::testing {

struct RecordedRequest {
    QByteArray raw; // request line, headers and body as received
    QList<QPair<QByteArray, QByteArray>> headers;
    QByteArray body;

    QByteArrayList values(const QByteArray &name) const {
        QByteArrayList found;
        for (const auto &h : headers) {
            if (h.first.compare(name, Qt::CaseInsensitive) == 0) {
                found.append(h.second);
            }
        }
        return found;
    }
    QByteArray header(const QByteArray &name) const { return values(name).value(0); }
};

class ScriptedServer {
public:
    using Step = std::function<void(QTcpSocket *)>; // an empty step stalls: it reads and never answers

    static Step reply(const QByteArray &bytes) {
        return [bytes](QTcpSocket *socket) { socket->write(bytes); };
    }
    static Step closeWithoutReply() {
        return [](QTcpSocket *socket) { socket->disconnectFromHost(); };
    }
    static Step reset() {
        return [](QTcpSocket *socket) {
            const linger hard{1, 0};
            ::setsockopt(static_cast<int>(socket->socketDescriptor()), SOL_SOCKET, SO_LINGER, &hard,
                         sizeof hard);
            socket->abort();
        };
    }
    // Writes `head`, then one more body byte every 200 ms.
    static Step drip(const QByteArray &head) {
        return [head](QTcpSocket *socket) {
            socket->write(head);
            auto *timer = new QTimer(socket);
            QObject::connect(timer, &QTimer::timeout, socket, [socket] { socket->write(" "); });
            timer->start(200);
        };
    }
    // Writes `head`, then `chunk` again and again while the peer keeps reading (at most 64 MiB).
    static Step endless(const QByteArray &head, const QByteArray &chunk) {
        return [head, chunk](QTcpSocket *socket) {
            socket->write(head);
            auto written = std::make_shared<qint64>(0);
            auto feed = [socket, chunk, written] {
                while (socket->state() == QAbstractSocket::ConnectedState &&
                       socket->bytesToWrite() < 512 * 1024 && *written < 64LL * 1024 * 1024) {
                    socket->write(chunk);
                    *written += chunk.size();
                }
            };
            QObject::connect(socket, &QTcpSocket::bytesWritten, socket, feed);
            feed();
        };
    }

    static QByteArray response(int status, const QByteArray &body,
                               const QList<QPair<QByteArray, QByteArray>> &extraHeaders = {}) {
        QByteArray out =
            "HTTP/1.1 " + QByteArray::number(status) + " Scripted\r\nContent-Type: application/json\r\n";
        for (const auto &h : extraHeaders) {
            out += h.first + ": " + h.second + "\r\n";
        }
        if (status != 204) {
            out += "Content-Length: " + QByteArray::number(body.size()) + "\r\n";
        }
        return out + "\r\n" + body;
    }

    ScriptedServer() {
        QObject::connect(&m_server, &QTcpServer::newConnection, [this] { accept(); });
    }
    ~ScriptedServer() {
        m_server.close();
        for (QTcpSocket *socket : m_server.findChildren<QTcpSocket *>()) {
            socket->disconnect();
            socket->abort();
        }
    }

    bool listen(const QHostAddress &address = QHostAddress::LocalHost) { return m_server.listen(address, 0); }
    quint16 port() const { return m_server.serverPort(); }
    QString baseUrl() const {
        return QStringLiteral("http://%1:%2").arg(m_server.serverAddress().toString()).arg(port());
    }

    // The next request gets the oldest queued step; with none queued, the default one.
    void enqueue(Step step) { m_queue.append(std::move(step)); }
    void setDefault(Step step) { m_default = std::move(step); }

    const QList<RecordedRequest> &requests() const { return m_requests; }
    int connectionCount() const { return m_connections; }
    int closedCount() const { return m_closed; }

private:
    void accept() {
        while (QTcpSocket *socket = m_server.nextPendingConnection()) {
            ++m_connections;
            QObject::connect(socket, &QTcpSocket::readyRead, socket, [this, socket] { readFrom(socket); });
            QObject::connect(socket, &QTcpSocket::disconnected, socket, [this, socket] {
                ++m_closed;
                m_buffers.remove(socket);
                socket->deleteLater();
            });
        }
    }

    void readFrom(QTcpSocket *socket) {
        QByteArray &buffer = m_buffers[socket];
        buffer += socket->readAll();
        for (qsizetype headEnd; (headEnd = buffer.indexOf("\r\n\r\n")) >= 0;) {
            RecordedRequest request;
            for (const QByteArray &line : buffer.left(headEnd).split('\n').mid(1)) {
                const qsizetype colon = line.indexOf(':');
                if (colon > 0) {
                    request.headers.append({line.left(colon).trimmed(), line.mid(colon + 1).trimmed()});
                }
            }
            const qsizetype total = headEnd + 4 + request.header("Content-Length").toLongLong();
            if (buffer.size() < total) {
                return;
            }
            request.raw = buffer.left(total);
            request.body = buffer.mid(headEnd + 4, total - headEnd - 4);
            buffer.remove(0, total);
            m_requests.append(request);
            const Step step = m_queue.isEmpty() ? m_default : m_queue.takeFirst();
            if (step) {
                step(socket);
            }
            if (socket->state() != QAbstractSocket::ConnectedState) {
                return; // the step closed or reset the connection
            }
        }
    }

    QTcpServer m_server;
    QList<RecordedRequest> m_requests;
    QList<Step> m_queue;
    Step m_default;
    QHash<QTcpSocket *, QByteArray> m_buffers;
    int m_connections = 0;
    int m_closed = 0;
};

} // namespace vibrelle::testing
