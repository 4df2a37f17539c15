#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QJsonObject>
#include <QList>
#include <QPair>
#include <QString>

namespace vibrelle::sim {

using HeaderList = QList<QPair<QByteArray, QByteArray>>;

// One parsed HTTP/1.x request. Header names are stored in lower case.
struct HttpRequest {
    QByteArray method;
    QByteArray target;
    QByteArray path;
    int minorVersion = 1;
    HeaderList headers;
    QByteArray body;
    qint64 contentLength = 0;
    bool keepAlive = true;
    bool expectContinue = false;

    // First value of the header, or an empty array when it is absent.
    QByteArray header(QByteArrayView lowerCaseName) const;
    bool hasHeader(QByteArrayView lowerCaseName) const;
};

// A reply ready to be put on the wire. Every reply of the service carries a body, normally JSON.
struct HttpReply {
    int status = 200;
    QByteArray body;
    QByteArray contentType = "application/json";
    HeaderList extraHeaders;

    static HttpReply json(int status, const QJsonObject &object);
    // {"ok": false, "error": message}
    static HttpReply error(int status, const QString &message);

    // Status line, headers and (unless headOnly) the body.
    QByteArray serialize(bool keepAlive, bool headOnly = false) const;
};

QByteArray reasonPhrase(int status);

} // namespace vibrelle::sim
