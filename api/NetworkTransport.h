#pragma once

#include "api/HttpTransport.h"

#include <QObject>

class QNetworkAccessManager;
class QNetworkReply;

namespace vibrelle {

// HTTP over QNetworkAccessManager, configured for a local service: no proxy, no
// cookies, no cache, redirects not followed, short time-outs and a bounded body.
class NetworkTransport final : public QObject, public HttpTransport {
    Q_OBJECT
public:
    struct Limits {
        int inactivityTimeoutMs = 1500;
        int totalTimeoutMs = 2000;
        qint64 maxBodyBytes = 1024 * 1024;
    };

    explicit NetworkTransport(QObject *parent = nullptr);
    NetworkTransport(Limits limits, QObject *parent);
    ~NetworkTransport() override;

    void send(const HttpRequest &request, Completion done) override;

private:
    Limits m_limits;
    QNetworkAccessManager *m_manager;
};

} // namespace vibrelle
