#include "HttpMessage.h"

#include <QJsonDocument>

namespace vibrelle::sim {

QByteArray HttpRequest::header(QByteArrayView lowerCaseName) const {
    for (const auto &[name, value] : headers) {
        if (name == lowerCaseName)
            return value;
    }
    return {};
}

bool HttpRequest::hasHeader(QByteArrayView lowerCaseName) const {
    for (const auto &entry : headers) {
        if (entry.first == lowerCaseName)
            return true;
    }
    return false;
}

HttpReply HttpReply::json(int status, const QJsonObject &object) {
    HttpReply reply;
    reply.status = status;
    reply.body = QJsonDocument(object).toJson(QJsonDocument::Compact);
    return reply;
}

HttpReply HttpReply::error(int status, const QString &message) {
    return json(status, QJsonObject{{QStringLiteral("ok"), false}, {QStringLiteral("error"), message}});
}

QByteArray reasonPhrase(int status) {
    switch (status) {
    case 100:
        return "Continue";
    case 200:
        return "OK";
    case 201:
        return "Created";
    case 202:
        return "Accepted";
    case 204:
        return "No Content";
    case 301:
        return "Moved Permanently";
    case 302:
        return "Found";
    case 303:
        return "See Other";
    case 307:
        return "Temporary Redirect";
    case 308:
        return "Permanent Redirect";
    case 400:
        return "Bad Request";
    case 401:
        return "Unauthorized";
    case 403:
        return "Forbidden";
    case 404:
        return "Not Found";
    case 405:
        return "Method Not Allowed";
    case 408:
        return "Request Timeout";
    case 409:
        return "Conflict";
    case 411:
        return "Length Required";
    case 413:
        return "Content Too Large";
    case 415:
        return "Unsupported Media Type";
    case 422:
        return "Unprocessable Content";
    case 429:
        return "Too Many Requests";
    case 431:
        return "Request Header Fields Too Large";
    case 500:
        return "Internal Server Error";
    case 501:
        return "Not Implemented";
    case 502:
        return "Bad Gateway";
    case 503:
        return "Service Unavailable";
    case 504:
        return "Gateway Timeout";
    case 505:
        return "HTTP Version Not Supported";
    default:
        break;
    }
    if (status >= 200 && status < 300)
        return "Success";
    if (status >= 300 && status < 400)
        return "Redirection";
    if (status >= 400 && status < 500)
        return "Client Error";
    return "Server Error";
}

QByteArray HttpReply::serialize(bool keepAlive, bool headOnly) const {
    QByteArray out;
    out.reserve(160 + body.size());
    out += "HTTP/1.1 ";
    out += QByteArray::number(status);
    out += ' ';
    out += reasonPhrase(status);
    out += "\r\nContent-Type: ";
    out += contentType;
    out += "\r\nContent-Length: ";
    out += QByteArray::number(body.size());
    out += "\r\nCache-Control: no-store\r\nConnection: ";
    out += keepAlive ? "keep-alive" : "close";
    out += "\r\n";
    for (const auto &[name, value] : extraHeaders) {
        out += name;
        out += ": ";
        out += value;
        out += "\r\n";
    }
    out += "\r\n";
    if (!headOnly)
        out += body;
    return out;
}

} // namespace vibrelle::sim
