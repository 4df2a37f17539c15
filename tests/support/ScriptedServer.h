#pragma once

// A small HTTP/1.1 server on 127.0.0.1 for transport tests. It records every request
// exactly as it arrived on the socket and answers each one by a script step: a fixed
// reply, silence, headers then silence, a body dripped one byte at a time, an endless
// chunked body, closing without a reply, or resetting the connection.

#include <QByteArray>
#include <QHash>
#include <QHostAddress>
#include <QList>
#include <QPair>
#include <QPointer>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

#include <sys/socket.h>

#include <deque>
#include <functional>
#include <memory>

namespace vibrelle::testing {

struct RecordedRequest {
    QByteArray raw; // request line, headers and body as received
    QByteArray method;
    QByteArray target;
    QList<QPair<QByteArray, QByteArray>> headers;
    QByteArray body;

    bool hasHeader(const QByteArray &name) const {
        for (const auto &h : headers) {
            if (h.first.compare(name, Qt::CaseInsensitive) == 0) {
                return true;
            }
        }
        return false;
    }
    QByteArray header(const QByteArray &name) const {
        for (const auto &h : headers) {
            if (h.first.compare(name, Qt::CaseInsensitive) == 0) {
                return h.second;
            }
        }
        return {};
    }
    int headerCount(const QByteArray &name) const {
        int count = 0;
        for (const auto &h : headers) {
            count += h.first.compare(name, Qt::CaseInsensitive) == 0 ? 1 : 0;
        }
        return count;
    }
};

class ScriptedServer {
public:
    enum class Behaviour {
        reply,              // write `response` and keep the connection open
        stall,              // read the request, never answer
        headersThenSilence, // status line and headers promising a body, then nothing
        drip,               // headers, then one body byte every 200 ms (at most 100 bytes)
        endlessBody,        // chunked body without end (capped at 64 MiB written)
        closeWithoutReply,  // read the request, close the connection
        reset,              // read the request, reset the connection
        custom,             // the step's own function acts on the socket
    };
    struct Step {
        Step(Behaviour b = Behaviour::reply, QByteArray r = {}, std::function<void(QTcpSocket *)> c = {})
            : behaviour(b), response(std::move(r)), custom(std::move(c)) {}
        Behaviour behaviour;
        QByteArray response;
        std::function<void(QTcpSocket *)> custom;
    };

    ScriptedServer() {
        QObject::connect(&m_server, &QTcpServer::newConnection, [this] { acceptConnections(); });
    }
    ~ScriptedServer() {
        m_server.close();
        const auto sockets = m_server.findChildren<QTcpSocket *>();
        for (QTcpSocket *socket : sockets) {
            socket->disconnect();
            socket->abort();
        }
    }
    ScriptedServer(const ScriptedServer &) = delete;
    ScriptedServer &operator=(const ScriptedServer &) = delete;

    bool listen(const QHostAddress &address = QHostAddress::LocalHost) { return m_server.listen(address, 0); }
    quint16 port() const { return m_server.serverPort(); }
    QString baseUrl() const {
        return QStringLiteral("http://%1:%2").arg(m_server.serverAddress().toString()).arg(port());
    }

    // The next request gets the oldest queued step; with none queued, the default one.
    void enqueue(Step step) { m_queue.push_back(std::move(step)); }
    void setDefault(Step step) { m_default = std::move(step); }

    const QList<RecordedRequest> &requests() const { return m_requests; }
    int connectionCount() const { return m_connections; }
    int closedCount() const { return m_closed; }
    qint64 endlessBytesWritten() const { return m_endlessWritten; }

    static QByteArray response(int status, const QByteArray &body,
                               const QList<QPair<QByteArray, QByteArray>> &extraHeaders = {}) {
        QByteArray out = "HTTP/1.1 " + QByteArray::number(status) + " Scripted\r\n";
        out += "Content-Type: application/json\r\n";
        for (const auto &h : extraHeaders) {
            out += h.first + ": " + h.second + "\r\n";
        }
        if (status != 204 && status != 304) {
            out += "Content-Length: " + QByteArray::number(body.size()) + "\r\n";
        }
        out += "\r\n";
        out += body;
        return out;
    }

private:
    void acceptConnections() {
        while (QTcpSocket *socket = m_server.nextPendingConnection()) {
            ++m_connections;
            QObject::connect(socket, &QTcpSocket::readyRead, socket, [this, socket] { readFrom(socket); });
            QObject::connect(socket, &QTcpSocket::disconnected, socket, [this, socket] {
                ++m_closed;
                socket->deleteLater();
            });
        }
    }

    void readFrom(QTcpSocket *socket) {
        QByteArray &buffer = m_buffers[socket];
        buffer += socket->readAll();
        for (;;) {
            const qsizetype headEnd = buffer.indexOf("\r\n\r\n");
            if (headEnd < 0) {
                return;
            }
            RecordedRequest request;
            const QList<QByteArray> lines = buffer.left(headEnd).split('\n');
            const QList<QByteArray> requestLine = lines.value(0).trimmed().split(' ');
            request.method = requestLine.value(0);
            request.target = requestLine.value(1);
            qsizetype length = 0;
            for (qsizetype i = 1; i < lines.size(); ++i) {
                const QByteArray line = lines.at(i).trimmed();
                const qsizetype colon = line.indexOf(':');
                if (colon <= 0) {
                    continue;
                }
                const QByteArray name = line.left(colon).trimmed();
                const QByteArray value = line.mid(colon + 1).trimmed();
                request.headers.append({name, value});
                if (name.compare("Content-Length", Qt::CaseInsensitive) == 0) {
                    length = value.toLongLong();
                }
            }
            const qsizetype total = headEnd + 4 + length;
            if (buffer.size() < total) {
                return;
            }
            request.raw = buffer.left(total);
            request.body = buffer.mid(headEnd + 4, length);
            buffer.remove(0, total);
            m_requests.append(request);

            Step step = m_default;
            if (!m_queue.empty()) {
                step = m_queue.front();
                m_queue.pop_front();
            }
            if (!act(socket, step)) {
                return; // the socket is going away
            }
        }
    }

    // Returns false when the socket must not be read any further.
    bool act(QTcpSocket *socket, const Step &step) {
        switch (step.behaviour) {
        case Behaviour::reply:
            socket->write(step.response);
            return true;
        case Behaviour::stall:
            return true;
        case Behaviour::headersThenSilence:
            socket->write("HTTP/1.1 200 OK\r\nContent-Type: application/json\r\nContent-Length: 100\r\n\r\n");
            return true;
        case Behaviour::drip: {
            socket->write(
                "HTTP/1.1 200 OK\r\nContent-Type: application/json\r\nContent-Length: 1000\r\n\r\n");
            auto *timer = new QTimer(socket);
            auto left = std::make_shared<int>(100);
            QObject::connect(timer, &QTimer::timeout, socket, [socket, timer, left] {
                socket->write(" ");
                if (--*left == 0) {
                    timer->stop();
                }
            });
            timer->start(200);
            return true;
        }
        case Behaviour::endlessBody: {
            socket->write(
                "HTTP/1.1 200 OK\r\nContent-Type: application/json\r\nTransfer-Encoding: chunked\r\n\r\n");
            const QByteArray head = "{\"ok\":true,\"pad\":\"";
            socket->write(QByteArray::number(head.size(), 16) + "\r\n" + head + "\r\n");
            auto feed = [this, socket] {
                static const QByteArray chunk = QByteArray(64 * 1024, 'x');
                static const QByteArray framed =
                    QByteArray::number(chunk.size(), 16) + "\r\n" + chunk + "\r\n";
                while (socket->state() == QAbstractSocket::ConnectedState &&
                       socket->bytesToWrite() < 256 * 1024 && m_endlessWritten < 64LL * 1024 * 1024) {
                    socket->write(framed);
                    m_endlessWritten += chunk.size();
                }
            };
            QObject::connect(socket, &QTcpSocket::bytesWritten, socket, feed);
            feed();
            return true;
        }
        case Behaviour::custom:
            step.custom(socket);
            return socket->state() == QAbstractSocket::ConnectedState;
        case Behaviour::closeWithoutReply:
            socket->disconnectFromHost();
            return false;
        case Behaviour::reset: {
            const linger hard{1, 0};
            ::setsockopt(static_cast<int>(socket->socketDescriptor()), SOL_SOCKET, SO_LINGER, &hard,
                         sizeof hard);
            socket->abort(); // counted and deleted by the disconnected handler
            return false;
        }
        }
        return true;
    }

    QTcpServer m_server;
    QList<RecordedRequest> m_requests;
    std::deque<Step> m_queue;
    Step m_default;
    QHash<QTcpSocket *, QByteArray> m_buffers;
    int m_connections = 0;
    int m_closed = 0;
    qint64 m_endlessWritten = 0;
};

} // namespace vibrelle::testing
