#pragma once

#include <QByteArray>
#include <QList>
#include <QPair>
#include <QString>
#include <QUrl>

#include <functional>
#include <optional>

namespace vibrelle {

struct HttpRequest {
    QByteArray method; // "GET" or "POST"
    QUrl url;
    QList<QPair<QByteArray, QByteArray>> headers;
    std::optional<QByteArray> body; // none: no body on the wire

    friend bool operator==(const HttpRequest &, const HttpRequest &) = default;
};

// The one outcome of an exchange: a reply (status code and body) or a failure.
struct HttpOutcome {
    bool failed = false;
    QString errorDescription; // readable, set when failed
    std::optional<int> statusCode;
    QByteArray body;
    bool bodyTruncated = false; // the peer sent more than the transport keeps
};

// The controller's only road to the network.
class HttpTransport {
public:
    using Completion = std::function<void(const HttpOutcome &)>;
    virtual ~HttpTransport() = default;
    // Starts one exchange. `done` runs exactly once, on the calling thread, never
    // before send() has returned; it is not called if the transport is destroyed first.
    virtual void send(const HttpRequest &request, Completion done) = 0;
};

} // namespace vibrelle
