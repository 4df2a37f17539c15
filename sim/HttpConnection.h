#pragma once

#include "RequestParser.h"

#include <QObject>
#include <QTimer>

class QTcpSocket;

namespace vibrelle::sim {

// One accepted TCP connection speaking HTTP/1.x. Requests are handled strictly one after the
// other: while a request is being answered, further (pipelined) bytes wait in the socket.
class HttpConnection : public QObject {
    Q_OBJECT

public:
    HttpConnection(QTcpSocket *socket, quint64 id, RequestParser::Limits limits, int idleTimeoutMs,
                   QObject *parent = nullptr);
    ~HttpConnection() override;

    quint64 id() const { return m_id; }
    bool isOpen() const { return m_state != State::Closed; }
    // True from the moment a request head has arrived until the reply has been written.
    bool requestInProgress() const { return m_inProgress; }

    // Writes the reply for the current request, then goes on with the next one (or closes the
    // connection when the request asked for it or when it could not be parsed).
    void reply(const HttpReply &reply);
    // Writes only the status line and headers of the reply, then never answers again.
    void replyHeadAndStall(const HttpReply &reply);
    // Never answers the current request; the connection stays open until the peer closes it.
    void stall();
    // Closes the connection without writing anything.
    void closeWithoutReply();
    // Closes the connection at once (used on shutdown).
    void shutdown();

Q_SIGNALS:
    void headReceived(vibrelle::sim::HttpConnection *connection, const vibrelle::sim::HttpRequest &head);
    void requestReceived(vibrelle::sim::HttpConnection *connection,
                         const vibrelle::sim::HttpRequest &request);
    // The bytes received cannot be understood as a request. The receiver must answer with reply();
    // the connection closes afterwards.
    // `partial` holds what could be read of the request line (method and path may be empty).
    void protocolError(vibrelle::sim::HttpConnection *connection, int status, const QString &message,
                       const vibrelle::sim::HttpRequest &partial);
    // The peer went away while a request was in progress.
    void requestAbandoned(vibrelle::sim::HttpConnection *connection);
    void closed(vibrelle::sim::HttpConnection *connection);

private:
    enum class State { Reading, Handling, Stalled, Closed };

    void pump();
    void finishRequest();
    void onDisconnected();
    void closeSocket();

    QTcpSocket *m_socket;
    quint64 m_id;
    RequestParser m_parser;
    QByteArray m_buffer;
    QTimer m_idleTimer;
    State m_state = State::Reading;
    bool m_inProgress = false;
    bool m_keepAlive = true;
    bool m_closeAfterReply = false;
    bool m_pumping = false;
    bool m_closedSignalled = false;
};

} // namespace vibrelle::sim
