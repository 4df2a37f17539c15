#pragma once

#include "HttpMessage.h"

#include <QString>

namespace vibrelle::sim {

// Incremental parser for HTTP/1.0 and HTTP/1.1 requests with Content-Length bodies.
// Bytes are consumed from the front of the caller's buffer as they are used, so that pipelined
// requests stay in the buffer for the next round.
class RequestParser {
public:
    struct Limits {
        qsizetype maxHeadBytes = 16 * 1024;
        qint64 maxBodyBytes = 64 * 1024;
    };

    enum class Event {
        NeedMore, // nothing complete yet
        Head,     // the request head is complete; the body (if any) follows
        Complete, // head and body are complete; take the request with takeRequest()
        Error     // the request cannot be parsed; the connection must be closed after replying
    };

    struct Result {
        Event event = Event::NeedMore;
        int status = 0; // for Error: the HTTP status to answer with
        QString message;
    };

    explicit RequestParser(Limits limits);
    RequestParser()
        : RequestParser(Limits{}) {}

    Result next(QByteArray &buffer);

    // The head parsed so far: valid after Event::Head.
    const HttpRequest &request() const { return m_request; }
    // The complete request: valid after Event::Complete; the parser then waits for the next head.
    HttpRequest takeRequest();

    const Limits &limits() const { return m_limits; }

private:
    Result parseHead(const QByteArray &head);
    static Result error(int status, const QString &message);

    enum class Stage { Head, Body, Done, Failed };
    Limits m_limits;
    Stage m_stage = Stage::Head;
    qsizetype m_scanFrom = 0;
    HttpRequest m_request;
};

} // namespace vibrelle::sim
