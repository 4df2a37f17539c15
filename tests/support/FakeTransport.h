#pragma once

#include "api/HttpTransport.h"
#include "core/TimeSource.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QList>
#include <QStringList>


namespace vibrelle::testing {

// A scripted transport: records every request as the service would read it off the
// wire, and completes the oldest open exchange only when the test says so.
class FakeTransport final : public HttpTransport {
public:
    // With a clock, every request is stamped with the time at which it left.
    explicit FakeTransport(const TimeSource *clock = nullptr)
        : m_clock(clock) {}

    struct Sent {
        HttpRequest request;
        double at = 0;
        QString path() const { return request.url.path(); }
        QByteArray rawBody() const { return request.body.value_or(QByteArray()); }
        QJsonObject json() const { return QJsonDocument::fromJson(rawBody()).object(); }
        QByteArray header(const QByteArray &name) const {
            for (const auto &h : request.headers) {
                if (h.first.compare(name, Qt::CaseInsensitive) == 0) {
                    return h.second;
                }
            }
            return {};
        }
        bool hasHeader(const QByteArray &name) const { return !header(name).isNull(); }
    };

    void send(const HttpRequest &request, Completion done) override {
        m_sent.append(Sent{request, m_clock ? m_clock->now() : 0.0});
        m_open.append(std::move(done));
    }

    const QList<Sent> &sent() const { return m_sent; }
    QStringList paths() const {
        QStringList result;
        for (const auto &s : m_sent) {
            result.append(s.path());
        }
        return result;
    }
    const Sent &last() const { return m_sent.last(); }
    int openCount() const { return static_cast<int>(m_open.size()); }
    void clearSent() { m_sent.clear(); }

    // Completes the oldest open exchange with any outcome (a cut body, a missing status ...).
    void complete(const HttpOutcome &outcome) {
        if (m_open.isEmpty()) {
            qFatal("FakeTransport: no open exchange to complete");
        }
        m_open.takeFirst()(outcome);
    }
    void reply(int status, const QByteArray &body) { complete(HttpOutcome{false, {}, status, body, false}); }
    void replyJson(int status, const QJsonObject &object) {
        reply(status, QJsonDocument(object).toJson(QJsonDocument::Compact));
    }
    // Success with {"ok": true} plus any extra members.
    void replyOk(QJsonObject extra = {}) {
        extra.insert(QStringLiteral("ok"), true);
        replyJson(200, extra);
    }
    // Completes the oldest open exchange with a transport failure.
    void fail(const QString &description = QStringLiteral("Connection refused")) {
        complete(HttpOutcome{true, description, std::nullopt, {}, false});
    }

private:
    const TimeSource *m_clock;
    QList<Sent> m_sent;
    QList<Completion> m_open;
};

} // namespace vibrelle::testing
