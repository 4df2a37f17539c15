#include "HttpConnection.h"

#include <QTcpSocket>

namespace vibrelle::sim {

HttpConnection::HttpConnection(QTcpSocket *socket, quint64 id, RequestParser::Limits limits,
                               int idleTimeoutMs, QObject *parent)
    : QObject(parent)
    , m_socket(socket)
    , m_id(id)
    , m_parser(limits) {
    m_socket->setParent(this);
    m_socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
    // Bounded read-ahead: while a request is being answered, further bytes stay in the kernel.
    m_socket->setReadBufferSize(limits.maxHeadBytes + limits.maxBodyBytes + 4096);

    m_idleTimer.setSingleShot(true);
    m_idleTimer.setInterval(idleTimeoutMs);
    connect(&m_idleTimer, &QTimer::timeout, this, [this] {
        if (m_state == State::Reading)
            closeSocket();
    });

    connect(m_socket, &QTcpSocket::readyRead, this, [this] {
        if (m_state == State::Stalled) {
            m_socket->readAll(); // discard; a stalled request is never answered
            return;
        }
        if (m_state == State::Reading)
            m_idleTimer.start();
        pump();
    });
    connect(m_socket, &QTcpSocket::disconnected, this, &HttpConnection::onDisconnected);
    m_idleTimer.start();
}

HttpConnection::~HttpConnection() = default;

void HttpConnection::pump() {
    if (m_pumping)
        return;
    m_pumping = true;
    while (m_state == State::Reading) {
        if (m_socket->bytesAvailable() > 0)
            m_buffer.append(m_socket->readAll());
        const RequestParser::Result result = m_parser.next(m_buffer);
        if (result.event == RequestParser::Event::NeedMore)
            break;
        if (result.event == RequestParser::Event::Head) {
            m_inProgress = true;
            const HttpRequest &head = m_parser.request();
            m_keepAlive = head.keepAlive;
            if (head.expectContinue && head.contentLength > 0)
                m_socket->write("HTTP/1.1 100 Continue\r\n\r\n");
            Q_EMIT headReceived(this, head);
            continue;
        }
        m_state = State::Handling;
        m_idleTimer.stop();
        if (result.event == RequestParser::Event::Error) {
            m_closeAfterReply = true;
            Q_EMIT protocolError(this, result.status, result.message, m_parser.request());
        } else {
            Q_EMIT requestReceived(this, m_parser.takeRequest());
        }
        // A synchronous reply puts the connection back into State::Reading: carry on with the
        // next pipelined request, if any.
    }
    m_pumping = false;
}

void HttpConnection::finishRequest() {
    m_inProgress = false;
}

void HttpConnection::reply(const HttpReply &reply) {
    if (m_state != State::Handling)
        return;
    const bool keepAlive = m_keepAlive && !m_closeAfterReply;
    m_socket->write(reply.serialize(keepAlive));
    m_socket->flush();
    finishRequest();
    if (!keepAlive) {
        closeSocket();
        return;
    }
    m_state = State::Reading;
    m_idleTimer.start();
    if (!m_pumping && (!m_buffer.isEmpty() || m_socket->bytesAvailable() > 0))
        pump();
}

void HttpConnection::replyHeadAndStall(const HttpReply &reply) {
    if (m_state != State::Handling)
        return;
    m_socket->write(reply.serialize(m_keepAlive, true));
    m_socket->flush();
    m_state = State::Stalled;
}

void HttpConnection::stall() {
    if (m_state == State::Handling)
        m_state = State::Stalled;
}

void HttpConnection::closeWithoutReply() {
    if (m_state == State::Closed)
        return;
    finishRequest();
    closeSocket();
}

void HttpConnection::shutdown() {
    if (m_state == State::Closed)
        return;
    m_socket->abort();
    onDisconnected();
}

void HttpConnection::closeSocket() {
    if (m_state == State::Closed)
        return;
    m_state = State::Closed;
    m_idleTimer.stop();
    m_socket->disconnectFromHost(); // sends what is still buffered, then FIN
    if (m_socket->state() == QAbstractSocket::UnconnectedState)
        onDisconnected();
}

void HttpConnection::onDisconnected() {
    if (m_inProgress) {
        m_inProgress = false;
        Q_EMIT requestAbandoned(this);
    }
    if (m_closedSignalled)
        return;
    m_closedSignalled = true;
    m_state = State::Closed;
    m_idleTimer.stop();
    Q_EMIT closed(this);
    deleteLater();
}

} // namespace vibrelle::sim
