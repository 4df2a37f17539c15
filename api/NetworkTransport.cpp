#include "api/NetworkTransport.h"

#include <QNetworkAccessManager>
#include <QNetworkCookie>
#include <QNetworkCookieJar>
#include <QNetworkProxy>
#include <QNetworkReply>
#include <QLocale>
#include <QNetworkRequest>
#include <QPointer>
#include <QTimer>

#include <algorithm>
#include <cstring>
#include <memory>

namespace vibrelle {

namespace {

// Stores nothing and offers nothing: cookies never travel to the service.
class NoCookieJar final : public QNetworkCookieJar {
public:
    using QNetworkCookieJar::QNetworkCookieJar;
    QList<QNetworkCookie> cookiesForUrl(const QUrl &) const override { return {}; }
    bool setCookiesFromUrl(const QList<QNetworkCookie> &, const QUrl &) override { return false; }
    bool insertCookie(const QNetworkCookie &) override { return false; }
};

// A request body that can be read once. The network stack sends a request again, unasked, when its
// connection closes before any reply; a command must never reach the service twice, so the rewind
// that a second sending needs fails, and the exchange ends as a failure instead.
class OneShotBody final : public QIODevice {
public:
    explicit OneShotBody(const QByteArray &bytes)
        : m_bytes(bytes)
    {
        open(QIODevice::ReadOnly | QIODevice::Unbuffered);
    }
    bool isSequential() const override { return true; }
    bool reset() override { return false; }
    qint64 size() const override { return m_bytes.size(); }
    qint64 bytesAvailable() const override { return m_bytes.size() - m_read; }

protected:
    qint64 readData(char *data, qint64 maxSize) override
    {
        const qint64 count = std::min(maxSize, m_bytes.size() - m_read);
        std::memcpy(data, m_bytes.constData() + m_read, size_t(count));
        m_read += count;
        return count;
    }
    qint64 writeData(const char *, qint64) override { return -1; }

private:
    QByteArray m_bytes;
    qint64 m_read = 0;
};

struct ExchangeState {
    HttpTransport::Completion done;
    QByteArray body;
    bool truncated = false;
    bool finished = false;
    enum class Abort { none, deadline, oversize } abort = Abort::none;
};

} // namespace

NetworkTransport::NetworkTransport(QObject *parent)
    : NetworkTransport(Limits{}, parent)
{
}

NetworkTransport::NetworkTransport(Limits limits, QObject *parent)
    : QObject(parent)
    , m_limits(limits)
    , m_manager(new QNetworkAccessManager(this))
{
    m_manager->setProxy(QNetworkProxy::NoProxy);
    m_manager->setCookieJar(new NoCookieJar(m_manager));
    m_manager->setCache(nullptr);
    m_manager->setRedirectPolicy(QNetworkRequest::ManualRedirectPolicy);
    m_manager->setStrictTransportSecurityEnabled(false);
    m_manager->setAutoDeleteReplies(false);
}

NetworkTransport::~NetworkTransport()
{
    // Outstanding exchanges end without calling back: their owner is going away.
    const auto replies = m_manager->findChildren<QNetworkReply *>();
    for (QNetworkReply *reply : replies) {
        reply->disconnect(this);
        reply->abort();
    }
}

void NetworkTransport::send(const HttpRequest &request, Completion done)
{
    QNetworkRequest networkRequest(request.url);
    networkRequest.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::ManualRedirectPolicy);
    networkRequest.setAttribute(QNetworkRequest::CacheLoadControlAttribute, QNetworkRequest::AlwaysNetwork);
    networkRequest.setAttribute(QNetworkRequest::CacheSaveControlAttribute, false);
    networkRequest.setAttribute(QNetworkRequest::CookieLoadControlAttribute, QNetworkRequest::Manual);
    networkRequest.setAttribute(QNetworkRequest::CookieSaveControlAttribute, QNetworkRequest::Manual);
    networkRequest.setAttribute(QNetworkRequest::Http2AllowedAttribute, false);
    networkRequest.setTransferTimeout(m_limits.inactivityTimeoutMs);
    for (const auto &header : request.headers) {
        networkRequest.setRawHeader(header.first, header.second);
    }

    QNetworkReply *reply = nullptr;
    if (request.body) {
        auto *body = new OneShotBody(*request.body);
        networkRequest.setHeader(QNetworkRequest::ContentLengthHeader, request.body->size());
        networkRequest.setAttribute(QNetworkRequest::DoNotBufferUploadDataAttribute, true);
        reply = m_manager->sendCustomRequest(networkRequest, request.method, body);
        body->setParent(reply);
    } else {
        reply = m_manager->sendCustomRequest(networkRequest, request.method);
    }
    reply->setReadBufferSize(64 * 1024);

    auto state = std::make_shared<ExchangeState>();
    state->done = std::move(done);

    auto *deadline = new QTimer(reply);
    deadline->setSingleShot(true);
    deadline->setTimerType(Qt::PreciseTimer);
    connect(deadline, &QTimer::timeout, reply, [reply, state] {
        if (!state->finished) {
            state->abort = ExchangeState::Abort::deadline;
            reply->abort();
        }
    });
    deadline->start(m_limits.totalTimeoutMs);

    const qint64 maxBody = m_limits.maxBodyBytes;
    connect(reply, &QNetworkReply::readyRead, this, [reply, state, maxBody] {
        if (state->finished || state->abort != ExchangeState::Abort::none) {
            return;
        }
        const QByteArray chunk = reply->read(maxBody + 1 - state->body.size());
        state->body.append(chunk);
        if (state->body.size() > maxBody) {
            // An endless or oversized body: stop reading and fail the decoding.
            state->truncated = true;
            state->abort = ExchangeState::Abort::oversize;
            reply->abort();
        }
    });

    connect(reply, &QNetworkReply::finished, this, [this, reply, state] {
        if (state->finished) {
            return;
        }
        state->finished = true;
        HttpOutcome outcome;
        const QVariant status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
        if (state->abort == ExchangeState::Abort::oversize) {
            outcome.statusCode = status.isValid() ? std::optional<int>(status.toInt()) : std::nullopt;
            outcome.bodyTruncated = true;
        } else if (state->abort == ExchangeState::Abort::deadline) {
            outcome.failed = true;
            outcome.errorDescription =
                QStringLiteral("la richiesta ha superato il tempo massimo di %1 s")
                    .arg(QLocale(QLocale::Italian).toString(m_limits.totalTimeoutMs / 1000.0, 'g', 3));
        } else if (reply->error() == QNetworkReply::OperationCanceledError ||
                   reply->error() == QNetworkReply::TimeoutError) {
            // Only the transfer time-out cancels a reply on its own.
            outcome.failed = true;
            outcome.errorDescription =
                QStringLiteral("nessun dato dal servizio per %1 s")
                    .arg(QLocale(QLocale::Italian).toString(m_limits.inactivityTimeoutMs / 1000.0, 'g', 3));
        } else if (reply->error() == QNetworkReply::ContentReSendError) {
            // The connection closed before any reply, and the request is not sent a second time.
            outcome.failed = true;
            outcome.errorDescription = QStringLiteral("il servizio ha chiuso la connessione senza rispondere");
        } else if (reply->error() != QNetworkReply::NoError && reply->error() < QNetworkReply::ContentAccessDenied &&
                   !(reply->error() == QNetworkReply::ProxyAuthenticationRequiredError && status.isValid())) {
            // Connection and proxy errors (reset, refused, closed mid-reply): no usable reply. No proxy is
            // ever used, so a 407 can only be the service's own answer, and is a reply like any other.
            outcome.failed = true;
            outcome.errorDescription = reply->errorString();
        } else if (status.isValid()) {
            // An HTTP reply, even an error status, is a reply: the service's own words count.
            outcome.statusCode = status.toInt();
            if (!state->truncated) {
                state->body.append(reply->read(m_limits.maxBodyBytes + 1 - state->body.size()));
            }
            if (state->body.size() > m_limits.maxBodyBytes) {
                outcome.bodyTruncated = true;
            } else {
                outcome.body = state->body;
            }
        } else {
            outcome.failed = true;
            outcome.errorDescription = reply->errorString();
        }
        reply->disconnect(this);
        reply->deleteLater();
        if (state->done) {
            auto done = std::move(state->done);
            done(outcome);
        }
    });
}

} // namespace vibrelle
