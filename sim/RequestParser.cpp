#include "RequestParser.h"

#include <limits>

namespace vibrelle::sim {

namespace {

bool isTokenChar(char c) {
    if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9'))
        return true;
    switch (c) {
    case '!':
    case '#':
    case '$':
    case '%':
    case '&':
    case '\'':
    case '*':
    case '+':
    case '-':
    case '.':
    case '^':
    case '_':
    case '`':
    case '|':
    case '~':
        return true;
    default:
        return false;
    }
}

bool isToken(QByteArrayView text) {
    if (text.isEmpty())
        return false;
    for (char c : text) {
        if (!isTokenChar(c))
            return false;
    }
    return true;
}

bool hasControlChars(QByteArrayView text) {
    for (char c : text) {
        const auto u = static_cast<unsigned char>(c);
        if ((u < 0x20 && c != '\t') || u == 0x7f)
            return true;
    }
    return false;
}

QList<QByteArray> commaTokens(const QByteArray &value) {
    QList<QByteArray> tokens;
    for (const QByteArray &part : value.split(',')) {
        const QByteArray token = part.trimmed().toLower();
        if (!token.isEmpty())
            tokens.append(token);
    }
    return tokens;
}

} // namespace

RequestParser::RequestParser(Limits limits)
    : m_limits(limits) {}

RequestParser::Result RequestParser::error(int status, const QString &message) {
    Result result;
    result.event = Event::Error;
    result.status = status;
    result.message = message;
    return result;
}

HttpRequest RequestParser::takeRequest() {
    HttpRequest request = std::move(m_request);
    m_request = HttpRequest{};
    m_stage = Stage::Head;
    m_scanFrom = 0;
    return request;
}

RequestParser::Result RequestParser::next(QByteArray &buffer) {
    if (m_stage == Stage::Failed)
        return error(400, QStringLiteral("request: the connection is no longer usable"));
    if (m_stage == Stage::Done)
        return {Event::Complete, 0, {}};

    if (m_stage == Stage::Head) {
        // Empty lines before a request line are tolerated (some clients send a CRLF after a body).
        while (m_scanFrom == 0 && (buffer.startsWith("\r\n") || buffer.startsWith('\n')))
            buffer.remove(0, buffer.startsWith('\n') ? 1 : 2);

        qsizetype headEnd = -1;
        qsizetype consumed = 0;
        while (true) {
            const qsizetype newline = buffer.indexOf('\n', m_scanFrom);
            if (newline < 0)
                break;
            const qsizetype lineLength = newline - m_scanFrom;
            const bool emptyLine = lineLength == 0 || (lineLength == 1 && buffer.at(m_scanFrom) == '\r');
            if (emptyLine && m_scanFrom > 0) {
                headEnd = m_scanFrom;
                consumed = newline + 1;
                break;
            }
            m_scanFrom = newline + 1;
        }
        if (headEnd < 0) {
            if (buffer.size() > m_limits.maxHeadBytes) {
                m_stage = Stage::Failed;
                return error(431,
                             QStringLiteral("request head: larger than %1 bytes").arg(m_limits.maxHeadBytes));
            }
            return {};
        }
        if (consumed > m_limits.maxHeadBytes) {
            m_stage = Stage::Failed;
            return error(431,
                         QStringLiteral("request head: larger than %1 bytes").arg(m_limits.maxHeadBytes));
        }
        const QByteArray head = buffer.left(headEnd);
        buffer.remove(0, consumed);
        m_scanFrom = 0;
        Result result = parseHead(head);
        if (result.event == Event::Error) {
            m_stage = Stage::Failed;
            return result;
        }
        m_stage = Stage::Body;
        return {Event::Head, 0, {}};
    }

    // Stage::Body
    const qint64 missing = m_request.contentLength - m_request.body.size();
    if (missing > 0) {
        const qsizetype take = static_cast<qsizetype>(qMin<qint64>(missing, buffer.size()));
        m_request.body.append(buffer.constData(), take);
        buffer.remove(0, take);
    }
    if (m_request.body.size() < m_request.contentLength)
        return {};
    m_stage = Stage::Done;
    return {Event::Complete, 0, {}};
}

RequestParser::Result RequestParser::parseHead(const QByteArray &head) {
    QList<QByteArray> lines = head.split('\n');
    if (lines.size() > 1 && lines.last().isEmpty())
        lines.removeLast(); // the head ends with the newline of its last line
    for (QByteArray &line : lines) {
        if (line.endsWith('\r'))
            line.chop(1);
    }

    const QByteArray &requestLine = lines.first();
    const QList<QByteArray> parts = requestLine.split(' ');
    if (parts.size() != 3 || hasControlChars(requestLine))
        return error(400, QStringLiteral("request line: expected \"METHOD /path HTTP/1.1\""));
    if (!isToken(parts[0]))
        return error(400, QStringLiteral("request line: invalid method"));
    const QByteArray &version = parts[2];
    if (!version.startsWith("HTTP/") || version.size() != 8 || version.at(6) != '.')
        return error(400, QStringLiteral("request line: invalid HTTP version"));
    if (version != "HTTP/1.1" && version != "HTTP/1.0")
        return error(505, QStringLiteral("request line: only HTTP/1.0 and HTTP/1.1 are supported"));

    HttpRequest &request = m_request;
    request.method = parts[0];
    request.target = parts[1];
    request.minorVersion = version.at(7) - '0';

    QByteArray path = request.target;
    if (path.startsWith("http://") || path.startsWith("HTTP://")) {
        const qsizetype slash = path.indexOf('/', 7);
        path = slash < 0 ? QByteArray("/") : path.mid(slash);
    }
    if (!path.startsWith('/'))
        return error(400, QStringLiteral("request line: the target must be an absolute path"));
    const qsizetype query = path.indexOf('?');
    if (query >= 0)
        path.truncate(query);
    const qsizetype fragment = path.indexOf('#');
    if (fragment >= 0)
        path.truncate(fragment);
    request.path = path;

    bool haveLength = false;
    for (qsizetype i = 1; i < lines.size(); ++i) {
        const QByteArray &line = lines.at(i);
        if (line.startsWith(' ') || line.startsWith('\t'))
            return error(400, QStringLiteral("headers: folded header lines are not accepted"));
        const qsizetype colon = line.indexOf(':');
        if (colon <= 0 || !isToken(QByteArrayView(line).first(colon)))
            return error(400, QStringLiteral("headers: malformed header line"));
        const QByteArray value = line.mid(colon + 1).trimmed();
        if (hasControlChars(value))
            return error(400, QStringLiteral("headers: control characters in a header value"));
        const QByteArray name = line.left(colon).toLower();

        if (name == "content-length") {
            bool ok = false;
            const qulonglong length = value.toULongLong(&ok);
            bool digitsOnly = !value.isEmpty();
            for (char c : value)
                digitsOnly = digitsOnly && c >= '0' && c <= '9';
            if (!ok || !digitsOnly || length > qulonglong(std::numeric_limits<qint64>::max()))
                return error(400, QStringLiteral("Content-Length: not a valid length"));
            if (haveLength && request.contentLength != qint64(length))
                return error(400, QStringLiteral("Content-Length: conflicting values"));
            haveLength = true;
            request.contentLength = qint64(length);
        }
        request.headers.append({name, value});
    }

    if (request.hasHeader("transfer-encoding"))
        return error(411, QStringLiteral("Transfer-Encoding: encoded (chunked) request bodies are not "
                                         "accepted; send the body with a Content-Length"));
    if (request.contentLength > m_limits.maxBodyBytes)
        return error(413, QStringLiteral("body: larger than %1 bytes").arg(m_limits.maxBodyBytes));

    const QList<QByteArray> connection = commaTokens(request.header("connection"));
    if (request.minorVersion == 0)
        request.keepAlive = connection.contains("keep-alive");
    else
        request.keepAlive = !connection.contains("close");
    request.expectContinue =
        request.minorVersion == 1 && request.header("expect").toLower() == "100-continue";
    return {Event::Head, 0, {}};
}

} // namespace vibrelle::sim
